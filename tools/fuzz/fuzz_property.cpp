// Reducing "getprop NAME" output to a value. Input: the property name, a NUL byte, then
// what getprop printed (trimmed first, as the shell runner hands it over). Without a NUL
// byte the whole input is the output and the name is ro.build.version.sdk.

#include "deviceinfo.h"
#include "fuzzsupport.h"
#include "textrules.h"

#include <algorithm>
#include <cstring>

namespace {

bool isPlainAscii(const QString &text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto *nul = static_cast<const uint8_t *>(std::memchr(data, 0, size));
    const QString name = nul ? fuzz::textFromBytes(data, static_cast<size_t>(nul - data))
                             : QStringLiteral("ro.build.version.sdk");
    const uint8_t *rest = nul ? nul + 1 : data;
    const size_t restSize = nul ? size - static_cast<size_t>(nul - data) - 1 : size;
    const QString output = adb::trimmed(fuzz::textFromBytes(rest, restSize));

    const QString value = adb::propertyFromOutput(output, name);
    if (output.isEmpty())
        FUZZ_CHECK(value == kNoValue, output, value);
    FUZZ_CHECK(value == kNoValue || output.contains(value), output, value);
    if (value != output && value != kNoValue) {
        // Taken from a listing line: one line's value, trimmed.
        FUZZ_CHECK(fuzz::hasTrimmedEnds(value), output, value);
        for (const QChar c : value)
            FUZZ_CHECK(!fuzz::isLineBreak(c.unicode()), output, value);
    }

    // A listing whose first line is the property's own gives that line's value, whatever
    // follows it.
    if (isPlainAscii(name)) {
        // Printable ASCII only, picked by hand: a regular expression refuses to run on text
        // that left() may have cut in the middle of a surrogate pair.
        QString planted;
        for (const QChar c : output.left(24)) {
            if (c.unicode() >= 0x20 && c.unicode() < 0x7f)
                planted += c;
        }
        const QString listing = QLatin1Char('[') + name + QStringLiteral("]: [") + planted
            + QStringLiteral("]\n") + output;
        const QString found = adb::propertyFromOutput(listing, name);
        FUZZ_CHECK(found == planted.trimmed(), listing, found);
    }
    return 0;
}
