#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace adb {

// What one adb run gave: the exit status (-1 when adb could not be started) and
// everything it printed on stdout and stderr, in the order printed.
struct CommandResult
{
    qint32 status = 0;
    QString output;
};

// The carried adb inside a resource directory.
[[nodiscard]] QString adbPath(const QString &resourceDir);

// Starts the carried adb with exactly `arguments` (no shell in between), waits for it to
// end and returns its status and whole output. The output is decoded once, after the
// child has ended; bytes that are not valid UTF-8 as a whole give the empty text. Blocks
// the calling thread for the child's whole life, so call it off the GUI thread. Safe to
// call from several threads at once: every call makes its own process.
[[nodiscard]] CommandResult run(const QString &resourceDir, const QStringList &arguments);

// Runs `words` on the device `serial` through "adb -s SERIAL shell WORDS..." and returns
// the printed text trimmed at both ends. The status is dropped: errors come back as text.
[[nodiscard]] QString shell(const QString &resourceDir, const QString &serial,
                            const QStringList &words);

// Strict UTF-8 decoding: no value for malformed or truncated input.
[[nodiscard]] std::optional<QString> decodeUtf8Strict(const QByteArray &bytes);

} // namespace adb
