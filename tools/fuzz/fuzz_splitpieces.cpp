// The splitting rule under every separator the program uses: LF (device listing), TAB
// (listing fields), ':' (key: value lines) and the line-break class (getprop and wm).
// First input byte: bits 0-1 the limit (0 = none), bits 2-3 the separator, bit 4 also
// checks trimming; the rest is the text.

#include "fuzzsupport.h"
#include "textrules.h"

namespace {

QString withoutSeparators(const QString &text, const adb::SeparatorTest &isSeparator)
{
    QString kept;
    for (const QString &character : fuzz::characters(text)) {
        if (!isSeparator(character))
            kept += character;
    }
    return kept;
}

void checkSplit(const QString &text, const adb::SeparatorTest &isSeparator, int maxSplits)
{
    const QStringList all = adb::splitPieces(text, isSeparator);
    for (const QString &piece : all) {
        FUZZ_CHECK(!piece.isEmpty(), text, QString());
        for (const QString &character : fuzz::characters(piece))
            FUZZ_CHECK(!isSeparator(character), text, piece);
    }
    // Splitting only drops separators: nothing else is lost, added or moved.
    FUZZ_CHECK(all.join(QString()) == withoutSeparators(text, isSeparator), text, all.join(u'|'));

    if (maxSplits == 0)
        return;
    const QStringList limited = adb::splitPieces(text, isSeparator, maxSplits);
    FUZZ_CHECK(limited.size() <= maxSplits + 1, text, limited.join(u'|'));
    for (qsizetype i = 0; i < limited.size(); ++i)
        FUZZ_CHECK(!limited.at(i).isEmpty(), text, limited.join(u'|'));
    if (limited.size() <= maxSplits) {
        FUZZ_CHECK(limited == all, text, limited.join(u'|'));
        return;
    }
    // The walk stopped: the first pieces are those of the full split, and the rest holds
    // the remaining pieces with their separators still in it.
    FUZZ_CHECK(limited.mid(0, maxSplits) == all.mid(0, maxSplits), text, limited.join(u'|'));
    FUZZ_CHECK(withoutSeparators(limited.last(), isSeparator) == all.mid(maxSplits).join(QString()), text,
               limited.last());
}

void checkTrimming(const QString &text)
{
    const QString trimmed = adb::trimmed(text);
    FUZZ_CHECK(fuzz::hasTrimmedEnds(trimmed), text, trimmed);
    FUZZ_CHECK(adb::trimmed(trimmed) == trimmed, text, trimmed);
    // Only trimmable units went, and only from the ends.
    qsizetype begin = 0;
    while (begin < text.size() && fuzz::isTrimmable(text.at(begin).unicode()))
        ++begin;
    FUZZ_CHECK(text.mid(begin, trimmed.size()) == trimmed, text, trimmed);
    for (qsizetype i = begin + trimmed.size(); i < text.size(); ++i)
        FUZZ_CHECK(fuzz::isTrimmable(text.at(i).unicode()), text, trimmed);

    // Blank trimming keeps line breaks and drops only TAB and space separators.
    const QString blanks = adb::trimmedBlanks(text);
    FUZZ_CHECK(text.contains(blanks), text, blanks);
    if (!blanks.isEmpty()) {
        for (const QChar end : {blanks.front(), blanks.back()})
            FUZZ_CHECK(end != u'\t' && end.category() != QChar::Separator_Space, text, blanks);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int maxSplits = data[0] & 0x3;
    const QString text = fuzz::textFromBytes(data + 1, size - 1);
    switch ((data[0] >> 2) & 0x3) {
    case 0: checkSplit(text, [](QStringView c) { return c == u"\n"; }, maxSplits); break;
    case 1: checkSplit(text, [](QStringView c) { return c == u"\t"; }, maxSplits); break;
    case 2: checkSplit(text, [](QStringView c) { return c == u":"; }, maxSplits); break;
    default: checkSplit(text, adb::isNewlineCharacter, maxSplits); break;
    }
    if (data[0] & 0x10)
        checkTrimming(text);
    return 0;
}
