#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>

class QProcess;

namespace adb {

// What one adb run gave: the exit status (-1 when adb could not be started) and
// everything it printed on stdout and stderr, in the order printed.
struct CommandResult
{
    qint32 status = 0;
    QString output;
    // True when the run was ended by its time limit or its stop flag rather than by adb.
    bool stopped = false;
};

// A flag that another thread raises to end a running command; the command's own thread
// sees it within a few tens of milliseconds and ends the child it owns. Only the owning
// thread ever touches the process, so stopping races with nothing.
using StopFlag = std::shared_ptr<std::atomic_bool>;
[[nodiscard]] inline StopFlag makeStopFlag() { return std::make_shared<std::atomic_bool>(false); }

// What may end a command before adb does (scans and installs run without either), and
// the one command that is given text: "adb pair" reads its code from stdin, so that the
// code never shows in the process list as an argument would.
struct RunLimits
{
    std::optional<int> timeLimitMs;
    StopFlag stop;
    // Written to the child's stdin, which is then closed; without it stdin is /dev/null.
    std::optional<QByteArray> standardInput = std::nullopt;
};

// The carried adb inside a resource directory.
[[nodiscard]] QString adbPath(const QString &resourceDir);

// Starts the carried adb with exactly `arguments` (no shell in between), waits for it to
// end and returns its status and whole output. The output is decoded once, after the
// child has ended; bytes that are not valid UTF-8 as a whole give the empty text. Blocks
// the calling thread for the child's whole life, so call it off the GUI thread. Safe to
// call from several threads at once: every call makes its own process.
//
// With `limits`, a child that outlives its time limit or whose stop flag is raised gets
// SIGTERM, then SIGKILL if it has not gone half a second later; the result then has
// `stopped` set, status -1 and whatever was printed until then. Text for stdin is handed
// over while the runner waits, never in one blocking write, so a child that does not read
// it is still ended by these limits.
//
// On Linux every child is bound to the thread that started it: when the installer's process
// ends, the kernel ends its adb children too, so closing the window leaves none behind.
[[nodiscard]] CommandResult run(const QString &resourceDir, const QStringList &arguments,
                                const RunLimits &limits = {});

// Sets up `process`, not yet started, so that it ends with the installer (Linux only; see run).
void bindChildToParent(QProcess &process);

// Runs `words` on the device `serial` through "adb -s SERIAL shell WORDS..." and returns
// the printed text trimmed at both ends. The status is dropped: errors come back as text.
[[nodiscard]] QString shell(const QString &resourceDir, const QString &serial,
                            const QStringList &words);

// Strict UTF-8 decoding: no value for malformed or truncated input.
[[nodiscard]] std::optional<QString> decodeUtf8Strict(const QByteArray &bytes);

} // namespace adb
