#pragma once

// What the fuzz targets share: turning the fuzzer's bytes into text, and the checks.
// The checks abort with a message, so libFuzzer keeps the input as a crash.

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace fuzz {

[[noreturn]] void fail(const char *what, const QString &input, const QString &detail = QString());

#define FUZZ_CHECK(condition, input, detail)                                  \
    do {                                                                      \
        if (!(condition))                                                     \
            ::fuzz::fail(#condition, (input), (detail));                      \
    } while (false)

// The bytes as text, malformed sequences replaced, the way a caller would see any text.
[[nodiscard]] QString textFromBytes(const uint8_t *data, size_t size);

// The characters (extended grapheme clusters) of `text`, in order.
[[nodiscard]] QStringList characters(const QString &text);

// The set the program trims at both ends: Unicode category Z, U+0009..U+000D and U+0085.
// Written out here from that definition rather than shared with the code under test.
[[nodiscard]] bool isTrimmable(char32_t c);

// No trimmable code unit at either end.
[[nodiscard]] bool hasTrimmedEnds(const QString &text);

// LF, VT, FF, CR, NEL, LS, PS: the code points that start a line-break character.
[[nodiscard]] bool isLineBreak(char32_t c);

} // namespace fuzz
