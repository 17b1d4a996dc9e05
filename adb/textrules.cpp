#include "textrules.h"

#include "deviceinfo.h"

#include <QTextBoundaryFinder>

namespace adb {

namespace {

bool isTrimmedCodePoint(char32_t c)
{
    if ((c >= 0x09 && c <= 0x0D) || c == 0x85)
        return true;
    switch (QChar::category(c)) {
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

bool isBlankCodePoint(char32_t c)
{
    return c == 0x09 || QChar::category(c) == QChar::Separator_Space;
}

// Every character of the set is in the BMP, so trimming can look at single UTF-16 units.
QString trimmedBy(const QString &text, bool (*inSet)(char32_t))
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && inSet(text.at(begin).unicode()))
        ++begin;
    while (end > begin && inSet(text.at(end - 1).unicode()))
        --end;
    return text.mid(begin, end - begin);
}

bool isGraphemeBoundary(const QString &text, qsizetype position)
{
    if (position <= 0 || position >= text.size())
        return true;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.setPosition(position);
    return finder.isAtBoundary();
}

} // namespace

bool isNewlineCharacter(QStringView character)
{
    if (character.isEmpty())
        return false;
    switch (character.front().unicode()) {
    case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x85: case 0x2028: case 0x2029:
        return true;
    default:
        return false;
    }
}

QStringList splitPieces(const QString &text, const SeparatorTest &isSeparator, int maxSplits)
{
    QStringList pieces;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype pieceStart = 0;
    qsizetype charStart = 0;
    while (charStart < text.size()) {
        if (maxSplits > 0 && pieces.size() >= maxSplits)
            break;
        qsizetype charEnd = finder.toNextBoundary();
        if (charEnd < 0)
            charEnd = text.size();
        if (isSeparator(QStringView(text).sliced(charStart, charEnd - charStart))) {
            if (charStart > pieceStart)
                pieces << text.mid(pieceStart, charStart - pieceStart);
            pieceStart = charEnd;
        }
        charStart = charEnd;
    }
    if (pieceStart < text.size())
        pieces << text.mid(pieceStart);
    return pieces;
}

QString trimmed(const QString &text)
{
    return trimmedBy(text, isTrimmedCodePoint);
}

QString trimmedBlanks(const QString &text)
{
    return trimmedBy(text, isBlankCodePoint);
}

QString propertyFromOutput(const QString &output, const QString &name)
{
    static const QString listingMark = QStringLiteral("]: [");
    const QString prefix = QLatin1Char('[') + name + listingMark;

    const QStringList lines = splitPieces(output, isNewlineCharacter);
    for (const QString &line : lines) {
        // The prefix must end on a character boundary, or we would cut a character in two.
        if (!line.startsWith(prefix) || !isGraphemeBoundary(line, prefix.size()))
            continue;
        QString value = line.mid(prefix.size());
        // Drop the closing bracket, or whatever single character stands in its place.
        if (!value.isEmpty()) {
            QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, value);
            finder.toEnd();
            value.truncate(finder.toPreviousBoundary());
        }
        return trimmed(value);
    }
    if (output.startsWith(QLatin1Char('[')) && output.contains(listingMark))
        return kNoValue;
    return output.isEmpty() ? kNoValue : output;
}

QString lastValue(const QString &text)
{
    const QStringList lines = splitPieces(text, isNewlineCharacter);
    const QString taken = lines.isEmpty() ? text : lines.last();
    const QStringList parts = splitPieces(
        taken, [](QStringView c) { return c == u":"; }, 1);
    if (parts.isEmpty())
        return taken;
    return trimmed(parts.last());
}

} // namespace adb
