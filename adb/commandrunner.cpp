#include "commandrunner.h"

#include "textrules.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QStringDecoder>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>
#endif

namespace adb {

QString adbPath(const QString &resourceDir)
{
#ifdef Q_OS_WIN
    return QDir(resourceDir).filePath(QStringLiteral("adb.exe"));
#else
    return QDir(resourceDir).filePath(QStringLiteral("adb"));
#endif
}

std::optional<QString> decodeUtf8Strict(const QByteArray &bytes)
{
    // Stateless decoding, so that a sequence cut off at the end counts as an error too; a
    // leading byte-order mark is text like any other, not something to drop silently.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

void bindChildToParent(QProcess &process)
{
#ifdef Q_OS_LINUX
    // The installer ends with _Exit and waits for no worker, so nothing else would end a
    // child that still runs: the kernel does it for us when the starting thread goes.
    const pid_t parent = getpid();
    process.setChildProcessModifier([parent] {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)   // the parent went before the request took hold
            _exit(127);
    });
#else
    (void)process;
#endif
}

namespace {

// Waits for the child in slices, so that a stop flag or a time limit is seen in time.
// Returns whether the child ended by itself.
bool waitWithin(QProcess &process, const RunLimits &limits)
{
    QDeadlineTimer deadline(limits.timeLimitMs ? *limits.timeLimitMs : -1);
    while (!process.waitForFinished(25)) {
        if (process.state() == QProcess::NotRunning)
            return true;
        if (deadline.hasExpired() || (limits.stop && limits.stop->load())) {
            process.terminate();
            if (!process.waitForFinished(500)) {
                process.kill();
                process.waitForFinished(-1);
            }
            return false;
        }
    }
    return true;
}

} // namespace

CommandResult run(const QString &resourceDir, const QStringList &arguments, const RunLimits &limits)
{
    QProcess process;
    process.setProgram(adbPath(resourceDir));
    process.setArguments(arguments);
    // Both streams share one channel so that the text keeps the order in which adb wrote it.
    process.setProcessChannelMode(QProcess::MergedChannels);
    // Giving adb /dev/null rather than our own stdin keeps "adb shell" from reading
    // keystrokes when the installer was started from a terminal.
    if (!limits.standardInput)
        process.setStandardInputFile(QProcess::nullDevice());
    bindChildToParent(process);
    process.start(limits.standardInput ? QIODevice::ReadWrite : QIODevice::ReadOnly);
    if (!process.waitForStarted(-1))
        return {-1, process.errorString()};
    if (limits.standardInput) {
        // Only buffered here: the waiting below feeds the pipe as the child reads it, and
        // the end of file follows the last byte, so that a read of the whole input ends.
        process.write(*limits.standardInput);
        process.closeWriteChannel();
    }

    // Waiting keeps draining the pipe, so a child that prints far more than a pipe holds
    // still runs to its end.
    bool ended = true;
    if (limits.timeLimitMs || limits.stop)
        ended = waitWithin(process, limits);
    else
        process.waitForFinished(-1);
    const QByteArray bytes = process.readAll();
    // A child killed by a signal has no exit code of its own; report it as a failure.
    const qint32 status = ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return {status, decodeUtf8Strict(bytes).value_or(QString()), !ended};
}

QString shell(const QString &resourceDir, const QString &serial, const QStringList &words)
{
    QStringList arguments{QStringLiteral("-s"), serial, QStringLiteral("shell")};
    arguments += words;
    return trimmed(run(resourceDir, arguments).output);
}

} // namespace adb
