// Reducing "wm size" / "wm density" output ("Physical size: 1920x720", then maybe
// "Override size: 1280x720") to the value in effect. Input: what wm printed, trimmed
// first, as the shell runner hands it over.

#include "fuzzsupport.h"
#include "textrules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = adb::trimmed(fuzz::textFromBytes(data, size));
    const QString value = adb::lastValue(text);

    FUZZ_CHECK(fuzz::hasTrimmedEnds(value), text, value);
    FUZZ_CHECK(text.contains(value), text, value);
    for (const QChar c : value)
        FUZZ_CHECK(!fuzz::isLineBreak(c.unicode()), text, value);

    // An override line added at the end is the one that counts, whatever came before it.
    const QString override = QStringLiteral("%1x%2").arg(size).arg(size ? data[0] : 0);
    const QString withOverride = text + QStringLiteral("\nOverride size:  ") + override + QStringLiteral(" ");
    const QString inEffect = adb::lastValue(withOverride);
    FUZZ_CHECK(inEffect == override, withOverride, inEffect);
    return 0;
}
