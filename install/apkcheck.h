#pragma once

#include <QString>

#include <optional>

namespace install {

// The carried APK inside a resource directory.
[[nodiscard]] QString apkPath(const QString &resourceDir);

// The SHA-256 of the whole file as 64 lowercase hex digits, or no value when the file
// can't be read to its end.
[[nodiscard]] std::optional<QString> fileSha256(const QString &path);

// The check passes only for a digest that equals the expected one exactly, letter case
// included. No digest (an unreadable APK) fails.
[[nodiscard]] bool digestMatches(const std::optional<QString> &digest, const QString &expected);

} // namespace install
