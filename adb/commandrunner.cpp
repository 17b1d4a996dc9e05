#include "commandrunner.h"

#include "textrules.h"

#include <QDir>
#include <QProcess>
#include <QStringDecoder>

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

CommandResult run(const QString &resourceDir, const QStringList &arguments)
{
    QProcess process;
    process.setProgram(adbPath(resourceDir));
    process.setArguments(arguments);
    // Both streams share one channel so that the text keeps the order in which adb wrote it.
    process.setProcessChannelMode(QProcess::MergedChannels);
    // Nothing is ever written to adb's stdin. Giving it /dev/null rather than our own stdin
    // keeps "adb shell" from reading keystrokes when the installer was started from a terminal.
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(-1))
        return {-1, process.errorString()};

    // waitForFinished keeps draining the pipe while it waits, so a child that prints far
    // more than a pipe holds still runs to its end.
    process.waitForFinished(-1);
    const QByteArray bytes = process.readAll();
    // A child killed by a signal has no exit code of its own; report it as a failure.
    const qint32 status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return {status, decodeUtf8Strict(bytes).value_or(QString())};
}

QString shell(const QString &resourceDir, const QString &serial, const QStringList &words)
{
    QStringList arguments{QStringLiteral("-s"), serial, QStringLiteral("shell")};
    arguments += words;
    return trimmed(run(resourceDir, arguments).output);
}

} // namespace adb
