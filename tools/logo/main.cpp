// Draws the installer's logo: an accent-blue rounded square with a white Z,
// then the word "Zorvik" in white, on a transparent 420x140 canvas.
//
// The window shows it at 210x70 on the navy side panel, so it is drawn at
// twice that size: the half-size scale keeps every edge crisp on ordinary
// screens and the full size serves HiDPI ones.
//
// Usage: zorvik-logo OUTPUT.png [PREVIEW.png]
//   PREVIEW.png, if given, gets a sheet with the logo over the navy panel
//   colour at full size and at 210x70, to judge it the way the window shows it.

#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QStringList>
#include <QTextStream>

namespace {

constexpr QSize canvasSize{420, 140};
constexpr QSize panelSize{210, 70};

QColor accentBlue() { return QColor::fromRgbF(0.04f, 0.43f, 1.0f); }
QColor panelNavy() { return QColor::fromRgbF(0.02f, 0.10f, 0.27f); }

// Inter Display is Inter's cut for large sizes: tighter spacing, which the
// word needs at logo size. Plain Inter is the fallback; both come from
// Debian's fonts-inter.
QString loadWordFontFamily()
{
    const QStringList candidates{
        QStringLiteral("/usr/share/fonts/opentype/inter/InterDisplay-SemiBold.otf"),
        QStringLiteral("/usr/share/fonts/opentype/inter/Inter-SemiBold.otf"),
    };
    for (const QString &path : candidates) {
        const int id = QFontDatabase::addApplicationFont(path);
        if (id >= 0) {
            const QStringList families = QFontDatabase::applicationFontFamilies(id);
            if (!families.isEmpty())
                return families.first();
        }
    }
    return {};
}

// The mark, in the 48-unit grid of the Android launcher icon
// (tools/sample-apk/res/drawable/ic_launcher.xml), so both read as one brand.
QPainterPath markSquare()
{
    QPainterPath path;
    path.addRoundedRect(QRectF(2, 2, 44, 44), 10, 10);
    return path;
}

QPainterPath markZ()
{
    QPainterPath path;
    path.moveTo(14, 13);
    path.lineTo(34, 13);
    path.lineTo(34, 18);
    path.lineTo(21, 30);
    path.lineTo(34, 30);
    path.lineTo(34, 35);
    path.lineTo(14, 35);
    path.lineTo(14, 30);
    path.lineTo(27, 18);
    path.lineTo(14, 18);
    path.closeSubpath();
    return path;
}

QImage drawLogo(const QString &family)
{
    QImage image(canvasSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    // Mark: 112 px square, vertically centred. Whole-pixel placement keeps
    // its straight edges sharp after the 2:1 reduction.
    const qreal markSide = 112;
    const qreal markScale = markSide / 44.0;
    const QPointF markOrigin(4, (canvasSize.height() - markSide) / 2);

    // Word: the cap height matches the Z's height inside the mark, so the
    // two letters line up.
    QFont font(family);
    font.setPixelSize(100);
    font.setWeight(QFont::DemiBold);
    font.setHintingPreference(QFont::PreferNoHinting);
    QPainterPath word;
    word.addText(0, 0, font, QStringLiteral("Zorvik"));
    const QRectF capBox = [&] {
        QPainterPath z;
        z.addText(0, 0, font, QStringLiteral("Z"));
        return z.boundingRect();
    }();
    const qreal zHeightInMark = 22 * markScale;
    const qreal wordScale = zHeightInMark / capBox.height();

    const QRectF wordBox = word.boundingRect();
    const qreal gap = 24;
    const qreal wordLeft = markOrigin.x() + markSide + gap;
    const qreal markZTop = markOrigin.y() + (13 - 2) * markScale;

    painter.save();
    painter.translate(markOrigin);
    painter.scale(markScale, markScale);
    painter.translate(-2, -2);
    painter.setBrush(accentBlue());
    painter.drawPath(markSquare());
    painter.setBrush(Qt::white);
    painter.drawPath(markZ());
    painter.restore();

    painter.save();
    painter.translate(wordLeft - wordBox.left() * wordScale, markZTop - capBox.top() * wordScale);
    painter.scale(wordScale, wordScale);
    painter.setBrush(Qt::white);
    painter.drawPath(word);
    painter.restore();

    painter.end();

    const qreal right = wordLeft + wordBox.width() * wordScale;
    if (right > canvasSize.width()) {
        QTextStream(stderr) << "zorvik-logo: the word runs " << right - canvasSize.width()
                            << " px past the canvas\n";
        return {};
    }
    return image;
}

// A sheet for judging the logo where it will live: the full image on the
// navy panel colour, the 210x70 reduction the window shows, and that
// reduction blown up 2x pixel for pixel to check its edges.
QImage drawPanelPreview(const QImage &logo)
{
    const QImage reduced = logo.scaled(panelSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const QImage magnified = reduced.scaled(reduced.size() * 2, Qt::IgnoreAspectRatio,
                                            Qt::FastTransformation);

    const int gap = 12;
    QImage sheet(canvasSize.width(),
                 canvasSize.height() + gap + panelSize.height() + gap + magnified.height(),
                 QImage::Format_ARGB32_Premultiplied);
    sheet.fill(panelNavy());
    QPainter painter(&sheet);
    int y = 0;
    painter.drawImage(0, y, logo);
    y += canvasSize.height() + gap;
    painter.drawImage(0, y, reduced);
    y += panelSize.height() + gap;
    painter.drawImage(0, y, magnified);
    return sheet;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);

    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.size() > 2) {
        err << "usage: zorvik-logo OUTPUT.png [PREVIEW.png]\n";
        return 2;
    }

    const QString family = loadWordFontFamily();
    if (family.isEmpty()) {
        err << "zorvik-logo: Inter SemiBold not found; install the Debian package fonts-inter\n";
        return 1;
    }

    const QImage logo = drawLogo(family);
    if (logo.isNull())
        return 1;
    // Straight (non-premultiplied) alpha is what PNG stores.
    if (!logo.convertToFormat(QImage::Format_ARGB32).save(args.at(0), "PNG")) {
        err << "zorvik-logo: cannot write " << args.at(0) << '\n';
        return 1;
    }
    if (args.size() == 2 && !drawPanelPreview(logo).save(args.at(1), "PNG")) {
        err << "zorvik-logo: cannot write " << args.at(1) << '\n';
        return 1;
    }
    return 0;
}
