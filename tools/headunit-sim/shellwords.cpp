#include "shellwords.h"

ShellWords splitShellWords(const QString &line)
{
    ShellWords result;
    QString word;
    bool inWord = false;
    enum class Quote { None, Single, Double } quote = Quote::None;

    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        switch (quote) {
        case Quote::Single:
            if (c == u'\'')
                quote = Quote::None;
            else
                word += c;
            break;
        case Quote::Double:
            if (c == u'"') {
                quote = Quote::None;
            } else if (c == u'\\' && i + 1 < line.size()
                       && QStringView(u"\"\\$`").contains(line.at(i + 1))) {
                word += line.at(++i);
            } else {
                word += c;
            }
            break;
        case Quote::None:
            if (c == u' ' || c == u'\t' || c == u'\n') {
                if (inWord)
                    result.words << word;
                word.clear();
                inWord = false;
            } else if (c == u'\'') {
                quote = Quote::Single;
                inWord = true;
            } else if (c == u'"') {
                quote = Quote::Double;
                inWord = true;
            } else if (c == u'\\') {
                if (i + 1 >= line.size()) {
                    result.ok = false;
                    return result;
                }
                word += line.at(++i);
                inWord = true;
            } else {
                word += c;
                inWord = true;
            }
            break;
        }
    }
    if (quote != Quote::None) {
        result.ok = false;
        return result;
    }
    if (inWord)
        result.words << word;
    return result;
}
