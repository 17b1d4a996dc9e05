#pragma once

// The text rules that turn adb's free-form answers into display values. All of them
// work on user-perceived characters (extended grapheme clusters): a CR LF pair is one
// character, and a separator is only found where a whole character equals it.

#include <QString>
#include <QStringList>

#include <functional>

namespace adb {

// Decides whether one character (a whole grapheme cluster) separates pieces.
using SeparatorTest = std::function<bool(QStringView character)>;

// Any character whose first code point is LF, VT, FF, CR, NEL, LS or PS, CR LF included.
[[nodiscard]] bool isNewlineCharacter(QStringView character);

// Splits `text` at separator characters, dropping empty pieces. After `maxSplits`
// non-empty pieces (0 = no limit) the walk stops and the rest, separators and all, is
// the last piece. "a::b" split at ':' gives "a", "b"; with maxSplits 1, "key::value"
// gives "key", ":value".
[[nodiscard]] QStringList splitPieces(const QString &text, const SeparatorTest &isSeparator,
                                      int maxSplits = 0);

// Trims the whitespace-and-newline set at both ends: Unicode category Z, U+0009..U+000D
// and U+0085. Inner characters stay, so multi-line text stays multi-line.
[[nodiscard]] QString trimmed(const QString &text);

// Trims only Unicode space separators (Zs) and TAB at both ends; line breaks stay.
[[nodiscard]] QString trimmedBlanks(const QString &text);

// Reduces what "getprop NAME" printed (already trimmed) to the property's value. Takes
// the bare value ("12") or a listing ("[ro.build.version.sdk]: [12]"); a listing without
// the name, or no output at all, gives the no-value mark. Any other text, such as an
// error message, comes back whole.
[[nodiscard]] QString propertyFromOutput(const QString &output, const QString &name);

// Reduces "key: value" lines to the value on the last line. "Physical size: 1920x720"
// then "Override size: 1280x720" gives "1280x720"; a last line without a colon comes
// back as it is.
[[nodiscard]] QString lastValue(const QString &text);

} // namespace adb
