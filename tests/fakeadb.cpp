#include "fakeadb.h"

#include <QFile>
#include <QSaveFile>
#include <QTest>

namespace {

const QChar kUnitSeparator(0x1f);

// Replaced whole in one rename, so that an adb started meanwhile reads the old or the new file.
void writeFile(const QString &path, const QString &contents)
{
    QSaveFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(contents.toUtf8());
    QVERIFY2(file.commit(), qPrintable(path));
}

QString shellQuoted(QString text)
{
    return u'\'' + text.replace(u'\'', QLatin1String("'\\''")) + u'\'';
}

} // namespace

FakeAdb::FakeAdb()
{
    // The argv is logged as one line, every argument ended by US (0x1f), with a single
    // append so that concurrent runs don't interleave; the same text picks the rule.
    const QString adb = m_dir.filePath(QStringLiteral("adb"));
    writeFile(adb, QStringLiteral(R"(#!/bin/sh
R=$(dirname "$0")
US=$(printf '\037')
key=""
for a in "$@"; do key="$key$a$US"; done
printf '>%s\n' "$key" >> "$R/calls.log"
. "$R/rules.sh"
)"));
    QFile::setPermissions(adb, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    writeFile(m_dir.filePath(QStringLiteral("track.stream")), QString());
    // exec, so that ending "adb" ends the reader itself.
    replyWithScript({QStringLiteral("track-devices")}, QStringLiteral("exec tail -c +1 -f \"$R/track.stream\""));
}

void FakeAdb::track(const QString &rows)
{
    trackBytes(QByteArray::number(rows.toUtf8().size(), 16).rightJustified(4, '0') + rows.toUtf8());
}

void FakeAdb::trackBytes(const QByteArray &bytes)
{
    QFile stream(m_dir.filePath(QStringLiteral("track.stream")));
    QVERIFY(stream.open(QIODevice::Append) && stream.write(bytes) == bytes.size());
}

void FakeAdb::reply(const QStringList &arguments, const QString &output, int status)
{
    replyWithScript(arguments, QStringLiteral("printf '%s' %1\nexit %2").arg(shellQuoted(output), QString::number(status)));
}

void FakeAdb::replyWithScript(const QStringList &arguments, const QString &shellCode)
{
    // Every argument ended by the separator, as the script builds its key.
    const QString key = (arguments + QStringList{QString()}).join(kUnitSeparator);
    m_rules.prepend(shellQuoted(key) + QStringLiteral(")\n") + shellCode + QStringLiteral("\nexit 0;;\n"));
    writeRules();
}

void FakeAdb::replyReadingInput(const QStringList &arguments, const QString &shellCode)
{
    replyWithScript(arguments, QStringLiteral("cat > \"$R/input\"\ncat \"$R/input\" >> \"$R/input.log\"\n") + shellCode);
}

QByteArray FakeAdb::receivedInput() const
{
    QFile log(m_dir.filePath(QStringLiteral("input.log")));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

void FakeAdb::hang(const QStringList &arguments)
{
    replyWithScript(arguments, hangingScript());
}

QString FakeAdb::hangingScript()
{
    // exec, so that the process noted is the one that sleeps: ending it leaves nothing behind.
    return QStringLiteral("echo $$ >> \"$R/hung.pids\"\nexec sleep 300");
}

QList<qint64> FakeAdb::hungProcesses() const
{
    QFile file(m_dir.filePath(QStringLiteral("hung.pids")));
    QList<qint64> pids;
    if (!file.open(QIODevice::ReadOnly))
        return pids;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            pids << line.toLongLong();
    }
    return pids;
}

void FakeAdb::setFallbackScript(const QString &shellCode)
{
    m_fallback = shellCode;
    writeRules();
}

void FakeAdb::writeRules() const
{
    writeFile(m_dir.filePath(QStringLiteral("rules.sh")),
              QStringLiteral("case \"$key\" in\n") + m_rules.join(QString()) + QStringLiteral("*)\n") + m_fallback
                  + QStringLiteral("\nesac\nexit 0\n"));
}

void FakeAdb::addDevice(const Device &device)
{
    const QStringList answers{device.manufacturer, device.model, "11", "30", "LI_OS_5.2.1",
                              "Physical size: 1920x720", "Physical density: 160", device.pmPath};
    const QList<QStringList> probes = probeCalls(device.serial);
    for (qsizetype i = 0; i < probes.size(); ++i)
        reply(probes.at(i), answers.at(i) + u'\n', i == 7 && device.pmPath.isEmpty() ? 1 : 0);
}

QList<QStringList> FakeAdb::calls() const
{
    QFile log(m_dir.filePath(QStringLiteral("calls.log")));
    QList<QStringList> calls;
    if (!log.open(QIODevice::ReadOnly))
        return calls;
    // Each line is ">" and the key, so that a call without arguments is no empty line.
    for (const QString &line : QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts))
        calls << line.mid(1).split(kUnitSeparator).mid(0, line.count(kUnitSeparator));
    return calls;
}

void FakeAdb::clearCalls()
{
    QFile::remove(m_dir.filePath(QStringLiteral("calls.log")));
}

QList<QStringList> probeCalls(const QString &serial)
{
    QList<QStringList> calls;
    for (const char *words : {"getprop ro.product.manufacturer", "getprop ro.product.model", "getprop ro.build.version.release",
                              "getprop ro.build.version.sdk", "getprop ro.build.display.id", "wm size", "wm density",
                              "pm path ru.zorvik.store"})
        calls << QStringList{QStringLiteral("-s"), serial, QStringLiteral("shell")} + QString::fromLatin1(words).split(u' ');
    return calls;
}
