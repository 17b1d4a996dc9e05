// Makes the application icon from the logo: the logo starts with its mark (a square
// emblem) followed by the word, so the icon is the first shape from the left, centred on a
// transparent square with a small margin and scaled to the requested size.
//
// Usage: zorvik-makeicon LOGO.png ICON.png SIZE

#include <QImage>
#include <QRect>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace {

bool columnHasInk(const QImage &image, int x)
{
    for (int y = 0; y < image.height(); ++y) {
        if (qAlpha(image.pixel(x, y)) > 0)
            return true;
    }
    return false;
}

// The bounding box of the first run of inked columns: the mark, not the word after it.
QRect firstShape(const QImage &image)
{
    int left = 0;
    while (left < image.width() && !columnHasInk(image, left))
        ++left;
    int right = left;
    while (right < image.width() && columnHasInk(image, right))
        ++right;
    if (left == image.width())
        return image.rect();
    int top = image.height();
    int bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = left; x < right; ++x) {
            if (qAlpha(image.pixel(x, y)) > 0) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return QRect(QPoint(left, top), QPoint(right - 1, bottom));
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s LOGO.png ICON.png SIZE\n", argv[0]);
        return 2;
    }
    const QImage logo = QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_ARGB32);
    const int size = std::atoi(argv[3]);
    if (logo.isNull() || size <= 0) {
        std::fprintf(stderr, "cannot read %s or bad size %s\n", argv[1], argv[3]);
        return 1;
    }

    const QRect mark = firstShape(logo);
    // A launcher draws icons edge to edge; a margin of 1/16 keeps the mark from touching.
    const int side = std::max(mark.width(), mark.height()) * 17 / 16;
    QImage square(side, side, QImage::Format_ARGB32);
    square.fill(Qt::transparent);
    const QPoint offset((side - mark.width()) / 2, (side - mark.height()) / 2);
    for (int y = 0; y < mark.height(); ++y) {
        for (int x = 0; x < mark.width(); ++x)
            square.setPixel(offset.x() + x, offset.y() + y, logo.pixel(mark.x() + x, mark.y() + y));
    }
    const QImage icon = square.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (!icon.save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
