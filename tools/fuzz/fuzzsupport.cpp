#include "fuzzsupport.h"

#include <QTextBoundaryFinder>

#include <cstdio>
#include <cstdlib>

namespace fuzz {

void fail(const char *what, const QString &input, const QString &detail)
{
    // Escaped, so that control characters and odd code points are visible in the report.
    const auto escaped = [](const QString &text) {
        QString out;
        for (const QChar c : text) {
            if (c.unicode() >= 0x20 && c.unicode() < 0x7f)
                out += c;
            else
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        }
        return out.toStdString();
    };
    std::fprintf(stderr, "invariant broken: %s\n  input: \"%s\"\n  detail: \"%s\"\n", what,
                 escaped(input).c_str(), escaped(detail).c_str());
    std::abort();
}

QString textFromBytes(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}

QStringList characters(const QString &text)
{
    QStringList result;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = finder.toNextBoundary();
        if (end <= start)
            end = text.size();
        result << text.mid(start, end - start);
        start = end;
    }
    return result;
}

bool isTrimmable(char32_t c)
{
    if ((c >= 0x09 && c <= 0x0D) || c == 0x85)
        return true;
    const QChar::Category category = QChar::category(c);
    return category == QChar::Separator_Space || category == QChar::Separator_Line
        || category == QChar::Separator_Paragraph;
}

bool hasTrimmedEnds(const QString &text)
{
    return text.isEmpty() || (!isTrimmable(text.front().unicode()) && !isTrimmable(text.back().unicode()));
}

bool isLineBreak(char32_t c)
{
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

} // namespace fuzz
