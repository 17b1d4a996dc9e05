#include "fakeadb.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

const QChar kUnitSeparator(0x1f);

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    file.write(contents);
}

QByteArray shellQuoted(const QString &text)
{
    QByteArray quoted = text.toUtf8();
    quoted.replace('\'', "'\\''");
    return '\'' + quoted + '\'';
}

} // namespace

FakeAdb::FakeAdb()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("rules"));
    // The argv is recorded as one line, arguments ended by US (0x1f), written with a single
    // append so that concurrent runs don't interleave.
    const QByteArray script = R"(#!/bin/sh
R=$(dirname "$0")
US=$(printf '\037')
key=""
for a in "$@"; do key="$key$a$US"; done
printf '>%s\n' "$key" >> "$R/calls.log"
for f in "$R"/rules/*.key; do
    [ -e "$f" ] || continue
    IFS= read -r k < "$f"
    if [ "$k" = "$key" ]; then
        . "${f%.key}.sh"
        exit 0
    fi
done
if [ -e "$R/fallback.sh" ]; then . "$R/fallback.sh"; fi
exit 0
)";
    writeFile(scriptPath(), script);
    QFile::setPermissions(scriptPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString FakeAdb::scriptPath() const
{
    return QDir(m_dir.path()).filePath(QStringLiteral("adb"));
}

QString FakeAdb::addRule(const QStringList &arguments)
{
    // Newer rules sort first, so a later reply for the same argv replaces an earlier one.
    const QString base = QDir(m_dir.path()).filePath(QStringLiteral("rules/%1").arg(9999 - ++m_rules, 4, 10, QLatin1Char('0')));
    QString key;
    for (const QString &argument : arguments)
        key += argument + kUnitSeparator;
    writeFile(base + QStringLiteral(".key"), key.toUtf8() + '\n');
    return base;
}

void FakeAdb::reply(const QStringList &arguments, const QString &output, int status)
{
    const QString base = addRule(arguments);
    writeFile(base + QStringLiteral(".out"), output.toUtf8());
    writeFile(base + QStringLiteral(".sh"),
              "cat " + shellQuoted(base + QStringLiteral(".out")) + "\nexit " + QByteArray::number(status) + '\n');
}

void FakeAdb::replyWithScript(const QStringList &arguments, const QString &shellCode)
{
    const QString base = addRule(arguments);
    writeFile(base + QStringLiteral(".sh"), shellCode.toUtf8() + '\n');
}

void FakeAdb::setFallbackScript(const QString &shellCode)
{
    writeFile(QDir(m_dir.path()).filePath(QStringLiteral("fallback.sh")), shellCode.toUtf8() + '\n');
}

void FakeAdb::setListing(const QString &output)
{
    reply({QStringLiteral("devices")}, output);
}

void FakeAdb::addDevice(const Device &device)
{
    const QList<QStringList> probes = probeCalls(device.serial);
    const QStringList answers{device.manufacturer + '\n', device.model + '\n', device.release + '\n',
                              device.sdk + '\n', device.build + '\n', device.wmSize + '\n',
                              device.wmDensity + '\n', device.pmPath.isEmpty() ? QString() : device.pmPath + '\n'};
    for (qsizetype i = 0; i < probes.size(); ++i)
        reply(probes.at(i), answers.at(i), i == 7 && device.pmPath.isEmpty() ? 1 : 0);
}

QList<QStringList> FakeAdb::calls() const
{
    QFile log(QDir(m_dir.path()).filePath(QStringLiteral("calls.log")));
    QList<QStringList> calls;
    if (!log.open(QIODevice::ReadOnly))
        return calls;
    const QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        QStringList arguments = line.mid(1).split(kUnitSeparator);
        arguments.removeLast();     // every argument is ended by the separator
        calls << arguments;
    }
    return calls;
}

void FakeAdb::clearCalls()
{
    QFile::remove(QDir(m_dir.path()).filePath(QStringLiteral("calls.log")));
}

QList<QStringList> probeCalls(const QString &serial)
{
    const QStringList prefix{QStringLiteral("-s"), serial, QStringLiteral("shell")};
    const auto getprop = [&](const char *name) {
        return prefix + QStringList{QStringLiteral("getprop"), QLatin1String(name)};
    };
    return {getprop("ro.product.manufacturer"), getprop("ro.product.model"),
            getprop("ro.build.version.release"), getprop("ro.build.version.sdk"),
            getprop("ro.build.display.id"),
            prefix + QStringList{QStringLiteral("wm"), QStringLiteral("size")},
            prefix + QStringList{QStringLiteral("wm"), QStringLiteral("density")},
            prefix + QStringList{QStringLiteral("pm"), QStringLiteral("path"), QStringLiteral("ru.zorvik.store")}};
}
