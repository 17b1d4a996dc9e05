#include "installerwindow.h"

#include "versionline.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QWidget>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

// The window is laid out in points with a fixed content area; frames below are written with
// the origin at the parent's bottom-left corner, as the design gives them, and flipped here.
constexpr int windowWidth = 980;
constexpr int windowHeight = 650;
constexpr int cardHeight = 175;
constexpr int cardRadius = 16;

// Where the face colour of a flat button is kept, so that it can be read back.
constexpr const char *buttonFaceProperty = "zorvikButtonFace";

// A frame given as (x, y, w, h) with y counted upward from the bottom of a parent that is
// `parentHeight` tall, converted to Qt's top-left origin.
QRect bottomUp(int parentHeight, int x, int y, int w, int h)
{
    return QRect(x, parentHeight - y - h, w, h);
}

QColor white(double level)
{
    return QColor::fromRgbF(float(level), float(level), float(level));
}

QColor rgb(double r, double g, double b)
{
    return QColor::fromRgbF(float(r), float(g), float(b));
}

// Secondary text: macOS draws it as black at about half opacity; on our light grounds
// (white card, 0.96 window) that comes out close to a mid grey, and an opaque colour keeps
// the text the same on any ground.
QColor secondaryTextColour()
{
    return QColor(0x80, 0x80, 0x80);
}

// Inter is the face the design was drawn with and Debian ships it; elsewhere the platform's
// own UI font stands in. Sizes are pixel sizes so a label keeps its size whatever DPI the
// platform reports, as points on macOS do.
QFont uiFont(int pixelSize, QFont::Weight weight = QFont::Normal)
{
    static const bool haveInter = QFontDatabase::families().contains(QStringLiteral("Inter"));
    QFont font = haveInter ? QFont(QStringLiteral("Inter")) : QApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

// The log lines up adb's columns, so its face must be monospaced. DejaVu Sans Mono (Debian's
// fonts-dejavu-core) is named first because the system's fixed font is not always one Qt
// treats as such: Noto Sans Mono is monospaced yet not reported as fixed pitch.
QFont monospaceFont(int pixelSize)
{
    static const bool haveDejaVu = QFontDatabase::families().contains(QStringLiteral("DejaVu Sans Mono"));
    QFont font = haveDejaVu ? QFont(QStringLiteral("DejaVu Sans Mono"))
                            : QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Normal);
    return font;
}

// A read-only text label: wraps, no frame, no background of its own, text from the top left.
QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, const QRect &frame,
                  const QFont &font, const QColor &colour)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFrameShape(QFrame::NoFrame);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setAutoFillBackground(false);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Desktop text fields keep their text a couple of pixels off the left edge; without that
    // the captions and values would sit visibly closer to the card's edge than designed.
    label->setContentsMargins(2, 0, 2, 0);
    label->setFont(font);
    label->setGeometry(frame);
    setTextColour(label, colour);
    return label;
}

// A plain white panel with rounded corners; the labels on it draw their own text.
class RoundedPanel : public QWidget
{
public:
    RoundedPanel(QWidget *parent, const QColor &fill, qreal radius)
        : QWidget(parent), m_fill(fill), m_radius(radius)
    {
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_fill);
        painter.drawRoundedRect(QRectF(rect()), m_radius, m_radius);
    }

private:
    QColor m_fill;
    qreal m_radius;
};

// The log pane: a plain text view on a rounded grey ground. The viewport and the scroll bar
// are transparent, so the ground is painted once, on the pane itself, and its rounded
// corners reach under the scroll bar as they do when a layer clips the whole pane.
class RoundedLogView : public QPlainTextEdit
{
public:
    RoundedLogView(QWidget *parent, const QColor &fill, qreal radius)
        : QPlainTextEdit(parent), m_fill(fill), m_radius(radius)
    {
        viewport()->setAutoFillBackground(false);
        // With the document's own 4 px, the text sits about 12 px in from the pane's edge,
        // as the panel's values sit in from theirs.
        setViewportMargins(8, 4, 0, 4);
        QPalette palette = viewport()->palette();
        palette.setColor(QPalette::Base, Qt::transparent);
        viewport()->setPalette(palette);
        // A slim scroller without arrows or track, in the spirit of the desktop it came from.
        // Its knob shows only when there is something to scroll; a knob filling the whole
        // bar would look like a control that does something.
        styleScroller(0, 0);
        connect(verticalScrollBar(), &QScrollBar::rangeChanged, this,
                [this](int minimum, int maximum) { styleScroller(minimum, maximum); });
    }

private:
    void styleScroller(int minimum, int maximum)
    {
        const bool scrollable = maximum > minimum;
        if (scrollable == m_scrollable && !verticalScrollBar()->styleSheet().isEmpty())
            return;
        m_scrollable = scrollable;
        verticalScrollBar()->setStyleSheet(
            QStringLiteral(
                "QScrollBar:vertical { background: transparent; width: 11px; margin: 6px 3px 6px 0; }"
                "QScrollBar::handle:vertical { background: %1; border-radius: 4px; min-height: 18px; }"
                "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
                .arg(scrollable ? QStringLiteral("rgba(0, 0, 0, 70)") : QStringLiteral("transparent")));
    }

protected:
    // QAbstractScrollArea sends its viewport's paint events to paintEvent(); the pane's own
    // surface is painted from event(), so that is where the ground goes.
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(m_fill);
            painter.drawRoundedRect(QRectF(rect()), m_radius, m_radius);
        }
        return QPlainTextEdit::event(event);
    }

private:
    QColor m_fill;
    qreal m_radius;
    bool m_scrollable = false;
};

// Scales the logo down to fit its slot, never up, and renders it at the screen's pixel
// density so it stays sharp on HiDPI displays.
QPixmap logoPixmap(const QImage &image, const QSize &slot, qreal devicePixelRatio)
{
    QSizeF logical = QSizeF(image.size());
    if (logical.width() > slot.width() || logical.height() > slot.height())
        logical = logical.scaled(QSizeF(slot), Qt::KeepAspectRatio);
    const QSize pixels = (logical * devicePixelRatio).toSize().expandedTo(QSize(1, 1));
    QImage scaled = pixels == image.size()
                        ? image
                        : image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(devicePixelRatio);
    return QPixmap::fromImage(scaled);
}

// The card's soft shadow: black at 6 % opacity, 3 px down, blurred with a Gaussian of
// sigma 9, which matches the look of Core Animation's radius 18. The blurred corner is
// computed once, at the first paint, and drawn as nine pieces: far cheaper than blurring the
// whole card with a graphics effect each time the window is painted.
class CardShadow : public QWidget
{
public:
    static constexpr int sigma = 9;
    static constexpr int reach = 3 * sigma;
    static constexpr int offsetDown = 3;

    CardShadow(QWidget *parent, const QRect &card, int radius)
        : QWidget(parent), m_radius(radius)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setGeometry(card.translated(0, offsetDown).adjusted(-reach, -reach, reach, reach));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (m_patch.isNull())
            m_patch = blurredRoundedRect(m_radius);
        // Corners as they are, edges and the middle stretched from the patch's middle row
        // and column, where the blur no longer depends on the distance along the edge.
        QPainter painter(this);
        const int c = m_patch.width() / 2;   // the patch is its corner twice, plus the middle pixel
        const int w = width(), h = height();
        const int xs[] = {0, c, w - c, w};
        const int ys[] = {0, c, h - c, h};
        const int from[] = {0, c, c + 1, m_patch.width()};
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 3; ++col) {
                const QRect target(xs[col], ys[row], xs[col + 1] - xs[col], ys[row + 1] - ys[row]);
                const QRect source(from[col], from[row], from[col + 1] - from[col], from[row + 1] - from[row]);
                if (!target.isEmpty())
                    painter.drawImage(target, m_patch, source);
            }
        }
    }

private:
    // A rounded rectangle just long enough that its middle row and column see a straight
    // edge across the whole blur, blurred and tinted; 2 * corner + 1 pixels square. Being
    // symmetric, only its top-left quarter and middle are blurred, then mirrored.
    static QImage blurredRoundedRect(int radius)
    {
        const int corner = 2 * reach + radius;
        const int size = 2 * corner + 1;
        QImage mask(size, size, QImage::Format_Alpha8);
        mask.fill(Qt::transparent);
        {
            QPainter painter(&mask);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(Qt::black);
            painter.drawRoundedRect(QRectF(reach, reach, size - 2 * reach, size - 2 * reach), radius, radius);
        }

        std::array<float, 2 * reach + 1> kernel{};
        float sum = 0;
        for (int i = -reach; i <= reach; ++i)
            sum += kernel[std::size_t(i + reach)] = std::exp(-float(i * i) / (2.0f * sigma * sigma));
        for (float &k : kernel)
            k /= sum;

        // The quarter and middle are columns and rows 0..corner; the vertical pass reads rows
        // up to corner + reach. Reads left of the image (x < 0) see the zeros of `padded`.
        const int half = corner + 1, rows = corner + reach + 1, stride = reach + size;
        std::vector<float> padded(std::size_t(rows) * stride, 0.0f);
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < size; ++x)
                padded[std::size_t(y * stride + reach + x)] = mask.constScanLine(y)[x] / 255.0f;
        std::vector<float> across(std::size_t(reach + rows) * half, 0.0f);   // `reach` zero rows on top
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < half; ++x) {
                const float *in = &padded[std::size_t(y * stride + x)];
                float v = 0;
                for (int i = 0; i <= 2 * reach; ++i)
                    v += kernel[std::size_t(i)] * in[i];
                across[std::size_t((reach + y) * half + x)] = v;
            }
        }

        QImage patch(size, size, QImage::Format_ARGB32_Premultiplied);
        const float opacity = 0.06f * 255.0f;
        for (int y = 0; y < half; ++y) {
            auto *top = reinterpret_cast<QRgb *>(patch.scanLine(y));
            auto *bottom = reinterpret_cast<QRgb *>(patch.scanLine(size - 1 - y));
            for (int x = 0; x < half; ++x) {
                float v = 0;
                for (int i = 0; i <= 2 * reach; ++i)
                    v += kernel[std::size_t(i)] * across[std::size_t((y + i) * half + x)];
                const QRgb pixel = qRgba(0, 0, 0, qRound(opacity * v));
                top[x] = top[size - 1 - x] = bottom[x] = bottom[size - 1 - x] = pixel;
            }
        }
        return patch;
    }

    QImage m_patch;
    int m_radius;
};

struct InfoRow
{
    const char *caption;
    const char *key;
};

constexpr std::array<InfoRow, 5> infoRows{{
    {"Модель", "model"},
    {"Android / API", "android"},
    {"Сборка", "build"},
    {"Экран", "screen"},
    {"Zorvik App", "installed"},
}};

void buildSidePanel(QWidget *root, const QString &resourceDir, const QStringList &stepTitles,
                    const WindowColours &colours, InstallerWidgets &widgets)
{
    auto *panel = new QWidget(root);
    panel->setObjectName(QStringLiteral("sidePanel"));
    panel->setGeometry(bottomUp(windowHeight, 0, 0, 330, 650));
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, colours.navy);
    panel->setPalette(palette);
    const int h = panel->height();

    // A missing resource directory is treated like a missing logo: an empty path would
    // otherwise make QDir read logo.png from whatever the working directory happens to be.
    if (!resourceDir.isEmpty()) {
        const QImage image = readPng(QDir(resourceDir).filePath(QStringLiteral("logo.png")));
        if (!image.isNull()) {
            const QRect frame = bottomUp(h, 42, 548, 210, 70);
            auto *logo = new QLabel(panel);
            logo->setObjectName(QStringLiteral("logo"));
            logo->setAlignment(Qt::AlignCenter);
            logo->setAttribute(Qt::WA_TranslucentBackground);
            logo->setGeometry(frame);
            const QScreen *screen = QGuiApplication::primaryScreen();
            const qreal dpr = screen ? screen->devicePixelRatio() : qApp->devicePixelRatio();
            logo->setPixmap(logoPixmap(image, frame.size(), dpr));
        }
    }

    makeLabel(panel, "headline", QStringLiteral("Установка в автомобиль"),
              bottomUp(h, 42, 458, 245, 64), uiFont(26, QFont::DemiBold), Qt::white);
    // Only a Mac is called a Mac.
#ifdef Q_OS_MACOS
    const QString instruction = QStringLiteral("Подключите Mac к мультимедийной системе кабелем USB и подтвердите "
                                               "отладку на экране автомобиля.");
#else
    const QString instruction = QStringLiteral("Подключите компьютер к мультимедийной системе кабелем USB и "
                                               "подтвердите отладку на экране автомобиля.");
#endif
    makeLabel(panel, "instruction", instruction,
              bottomUp(h, 42, 355, 245, 90), uiFont(13), rgb(0.68, 0.77, 0.91));

    for (qsizetype i = 0; i < stepTitles.size(); ++i) {
        const QString text = QString::number(i + 1) + QStringLiteral("   ") + stepTitles.at(i);
        const QByteArray name = "step" + QByteArray::number(i + 1);
        widgets.stepLabels.append(makeLabel(panel, name.constData(), text,
                                            bottomUp(h, 42, 285 - 46 * int(i), 245, 28),
                                            uiFont(13, QFont::DemiBold),
                                            i == 0 ? QColor(Qt::white) : white(0.62)));
    }

    // A link rather than a button: most cars come by cable, and this is the way for those
    // that can't.
    auto *wifi = new QPushButton(QStringLiteral("Подключить по Wi-Fi…"), panel);
    wifi->setObjectName(QStringLiteral("wifiButton"));
    wifi->setAccessibleName(wifi->text());
    wifi->setFont(uiFont(13));
    wifi->setFlat(true);
    wifi->setAutoDefault(false);
    wifi->setCursor(Qt::PointingHandCursor);
    wifi->setStyleSheet(QStringLiteral(
        "QPushButton { color: rgb(173, 196, 232); text-align: left; border: none; background: transparent;"
        " padding: 0; }"
        "QPushButton:hover, QPushButton:focus { text-decoration: underline; }"
        "QPushButton:disabled { color: rgba(173, 196, 232, 110); }"));
    wifi->setGeometry(bottomUp(h, 42, 150, 245, 22));
    widgets.wifiButton = wifi;

    makeLabel(panel, "scopeNote", QStringLiteral("Только Android-мультимедиа\nБез ECU · CAN · ADAS"),
              bottomUp(h, 42, 42, 245, 48), uiFont(11, QFont::DemiBold), rgb(0.37, 0.72, 1.0));
    // From UTF-8, so that the line stays readable in the binary, where the package test finds it.
    makeLabel(panel, "versionLine", QString::fromUtf8(ZORVIK_VERSION_LINE),
              bottomUp(h, 42, 18, 220, 16), uiFont(9), white(0.55));
}

void buildDeviceControls(QWidget *root, const WindowColours &colours, InstallerWidgets &widgets)
{
    QLabel *heading = makeLabel(root, "heading", QStringLiteral("Подключённое устройство"),
                                bottomUp(windowHeight, 374, 575, 420, 36), uiFont(25, QFont::DemiBold),
                                white(0.1));
    makeLabel(root, "subheading", QStringLiteral("Read-only диагностика перед установкой"),
              bottomUp(windowHeight, 374, 548, 360, 22), uiFont(12), secondaryTextColour());

    auto *popup = new QComboBox(root);
    popup->setObjectName(QStringLiteral("devicePopup"));
    popup->setAccessibleName(QStringLiteral("Устройство"));
    popup->setEditable(false);
    popup->setFont(uiFont(13));
    popup->setGeometry(bottomUp(windowHeight, 374, 490, 390, 38));
    // Linux screen readers name a combo box by its current item and take what it is from
    // the label that labels it; the heading above is that label.
    heading->setBuddy(popup);
    widgets.devicePopup = popup;

    auto *refresh = new QPushButton(QStringLiteral("Обновить"), root);
    refresh->setObjectName(QStringLiteral("refreshButton"));
    refresh->setAccessibleName(refresh->text());
    refresh->setFont(uiFont(13));
    refresh->setAutoDefault(false);
    refresh->setGeometry(bottomUp(windowHeight, 778, 490, 130, 38));
    widgets.refreshButton = refresh;

    widgets.statusBadge = makeLabel(root, "statusBadge", QStringLiteral("ПОИСК…"),
                                    bottomUp(windowHeight, 374, 448, 520, 24),
                                    uiFont(11, QFont::DemiBold), colours.blue);
}

void buildInfoCard(QWidget *root, InstallerWidgets &widgets)
{
    auto *card = new RoundedPanel(root, Qt::white, cardRadius);
    card->setObjectName(QStringLiteral("infoCard"));
    card->setGeometry(bottomUp(windowHeight, 374, 260, 534, cardHeight));

    // A faint shadow a few pixels below the card lifts it off the grey window.
    auto *shadow = new CardShadow(root, card->geometry(), cardRadius);
    shadow->stackUnder(card);

    for (int i = 0; i < int(infoRows.size()); ++i) {
        const InfoRow &row = infoRows[std::size_t(i)];
        const int y = 139 - 31 * i;
        const QByteArray key(row.key);
        makeLabel(card, ("caption_" + key).constData(), QString::fromUtf8(row.caption),
                  bottomUp(cardHeight, 22, y, 130, 22), uiFont(11), secondaryTextColour());
        QLabel *value = makeLabel(card, ("value_" + key).constData(), QStringLiteral("—"),
                                  bottomUp(cardHeight, 165, y, 345, 22), uiFont(12, QFont::DemiBold),
                                  white(0.13));
        // A screen reader reads the value (the label's own text) and, as its description,
        // the caption that a sighted user sees beside it.
        value->setAccessibleDescription(QString::fromUtf8(row.caption));
        widgets.infoLabels.insert(QString::fromLatin1(key), value);
    }
}

void buildInstallArea(QWidget *root, const WindowColours &colours, InstallerWidgets &widgets)
{
    auto *install = new QPushButton(QStringLiteral("Установить Zorvik App"), root);
    // No fixed accessible name: a button is announced by its title, and this one's title
    // changes ("Обновить Zorvik App", "Готово — закрыть установщик").
    install->setObjectName(QStringLiteral("installButton"));
    install->setFont(uiFont(13));
    install->setAutoDefault(false);
    install->setGeometry(bottomUp(windowHeight, 374, 188, 534, 50));
    setButtonFace(install, colours.blue);
    install->setEnabled(false);
    widgets.installButton = install;

    auto *progress = new QProgressBar(root);
    progress->setObjectName(QStringLiteral("progress"));
    progress->setRange(0, 0); // indeterminate
    progress->setTextVisible(false);
    // A thin flat track with an accent-coloured runner, like a native bar of this height;
    // the platform style draws a bevelled bar that is too heavy for six pixels.
    progress->setStyleSheet(QStringLiteral("QProgressBar { border: none; border-radius: 3px;"
                                           " background-color: rgba(0, 0, 0, 20); }"
                                           "QProgressBar::chunk { border-radius: 3px; background-color: %1; }")
                                .arg(colours.blue.name()));
    progress->setGeometry(bottomUp(windowHeight, 374, 163, 534, 6));
    setProgressRunning(progress, false);
    widgets.progress = progress;

    auto *log = new RoundedLogView(root, white(0.91), 10);
    log->setObjectName(QStringLiteral("logView"));
    log->setAccessibleName(QStringLiteral("Журнал"));
    log->setReadOnly(true);
    log->setFrameShape(QFrame::NoFrame);
    log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Lines wrap at the pane's width, long words anywhere, so nothing ever needs scrolling
    // sideways; left to itself, the view would show a horizontal bar in the window's first
    // frame, measured against its size before the layout.
    log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    log->setFont(monospaceFont(10));
    QPalette palette = log->palette();
    palette.setColor(QPalette::Text, white(0.32));
    palette.setColor(QPalette::Base, white(0.91));
    log->setPalette(palette);
    log->setGeometry(bottomUp(windowHeight, 374, 42, 534, 102));
    log->setPlainText(QStringLiteral("Ожидание подключения…"));
    widgets.logView = log;
}

} // namespace

InstallerWidgets buildInstallerWindow(const QString &resourceDir, const QStringList &stepTitles,
                                      const WindowColours &colours)
{
    InstallerWidgets widgets;
    // Alerts and dialogs take the application's font: the same face and size as the window.
    QApplication::setFont(uiFont(13));

    auto *window = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                                            | Qt::WindowCloseButtonHint
                                            | Qt::WindowMinimizeButtonHint);
    window->setObjectName(QStringLiteral("installerWindow"));
    window->setWindowTitle(QStringLiteral("Zorvik App Installer"));
    window->setFixedSize(windowWidth, windowHeight);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, white(0.96));
    window->setPalette(palette);
    widgets.window = window;

    // Children are created in drawing order: later siblings lie above earlier ones.
    buildSidePanel(window, resourceDir, stepTitles, colours, widgets);
    buildDeviceControls(window, colours, widgets);
    buildInfoCard(window, widgets);
    buildInstallArea(window, colours, widgets);

    QWidget::setTabOrder(widgets.devicePopup, widgets.refreshButton);
    QWidget::setTabOrder(widgets.refreshButton, widgets.wifiButton);
    QWidget::setTabOrder(widgets.wifiButton, widgets.installButton);
    QWidget::setTabOrder(widgets.installButton, widgets.logView);

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        window->move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window->size(),
                                         screen->availableGeometry())
                         .topLeft());
    }
    return widgets;
}

QImage readPng(const QString &path)
{
    // A reader given a missing file warns on stderr; a missing logo or icon is no fault.
    if (!QFileInfo::exists(path))
        return {};
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

void setTextColour(QLabel *label, const QColor &colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

QColor textColour(const QLabel *label)
{
    return label->palette().color(QPalette::WindowText);
}

void setButtonFace(QPushButton *button, const QColor &colour)
{
    button->setProperty(buttonFaceProperty, colour);
    // A flat face in the given colour with a white title. A disabled button keeps its hue but
    // fades, so it still says what it would do without looking pressable.
    const QString face = colour.name(QColor::HexRgb);
    const QString pressed = colour.darker(115).name(QColor::HexRgb);
    const QString faded = QStringLiteral("rgba(%1, %2, %3, 110)").arg(colour.red()).arg(colour.green()).arg(colour.blue());
    button->setStyleSheet(
        QStringLiteral("QPushButton { background-color: %1; color: white; border: none;"
                       " border-radius: 11px; }"
                       "QPushButton:pressed { background-color: %2; }"
                       "QPushButton:disabled { background-color: %3; color: rgba(255, 255, 255, 200); }")
            .arg(face, pressed, faded));
}

QColor buttonFace(const QPushButton *button)
{
    return button->property(buttonFaceProperty).value<QColor>();
}

void setProgressRunning(QProgressBar *progress, bool running)
{
    // An indeterminate QProgressBar animates whenever it is shown, so running is visibility.
    progress->setVisible(running);
}

bool isProgressRunning(const QProgressBar *progress)
{
    // isHidden, not isVisible: the answer must not depend on whether the window is on screen.
    return !progress->isHidden();
}

void replaceLogText(QPlainTextEdit *logView, const QString &text, bool followEnd)
{
    logView->setPlainText(text);
    logView->moveCursor(followEnd ? QTextCursor::End : QTextCursor::Start);
    logView->ensureCursorVisible();
    if (QScrollBar *bar = logView->verticalScrollBar())
        bar->setValue(followEnd ? bar->maximum() : bar->minimum());
}
