#include "benchsupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <ctime>

namespace bench {

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle) : (values.at(middle - 1) + values.at(middle)) / 2;
}

qint64 statusKiB(const QString &field, qint64 pid)
{
    QFile status(pid == 0 ? QStringLiteral("/proc/self/status") : QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    // "VmHWM:	  123456 kB"
    const QByteArray wanted = field.toLatin1() + ':';
    // /proc files report size 0, so atEnd() can't be trusted; read until EOF instead.
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(wanted))
            return line.mid(wanted.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

QList<QStringList> scanCommands(const QStringList &serials)
{
    QList<QStringList> commands{{QStringLiteral("start-server")}, {QStringLiteral("devices")}};
    for (const QString &serial : serials) {
        const QStringList shell{QStringLiteral("-s"), serial, QStringLiteral("shell")};
        for (const char *name : {"ro.product.manufacturer", "ro.product.model", "ro.build.version.release",
                                 "ro.build.version.sdk", "ro.build.display.id"})
            commands << shell + QStringList{QStringLiteral("getprop"), QLatin1String(name)};
        commands << shell + QStringList{QStringLiteral("wm"), QStringLiteral("size")};
        commands << shell + QStringList{QStringLiteral("wm"), QStringLiteral("density")};
        commands << shell + QStringList{QStringLiteral("pm"), QStringLiteral("path"), QStringLiteral("ru.zorvik.store")};
    }
    return commands;
}

bool writeFakeAdb(const QString &dir, const QStringList &serials)
{
    QByteArray listing = "List of devices attached\\n";
    for (const QString &serial : serials)
        listing += serial.toLatin1() + "\\tdevice\\n";
    const QByteArray script = "#!/bin/sh\n"
                              "case \"$1\" in\n"
                              "devices) printf '" + listing + "\\n' ;;\n"
                              "-s) case \"$4 $5\" in\n"
                              "    'getprop ro.product.manufacturer') echo LI_AUTO ;;\n"
                              "    'getprop ro.product.model') echo 'Li Auto HU 8155' ;;\n"
                              "    'getprop ro.build.version.release') echo 11 ;;\n"
                              "    'getprop ro.build.version.sdk') echo 30 ;;\n"
                              "    'getprop ro.build.display.id') echo LI_HU_V5.2.1_20240315_user ;;\n"
                              "    'wm size') echo 'Physical size: 1920x720' ;;\n"
                              "    'wm density') echo 'Physical density: 160' ;;\n"
                              "    'pm path') exit 1 ;;\n"
                              "    esac ;;\n"
                              "esac\n"
                              "exit 0\n";
    QFile file(QDir(dir).filePath(QStringLiteral("adb")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(script) != script.size())
        return false;
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool writeRandomFile(const QString &path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QRandomGenerator generator(0x2b0);
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (qint64 written = 0; written < bytes; written += chunk.size()) {
        generator.fillRange(reinterpret_cast<quint32 *>(chunk.data()), chunk.size() / 4);
        const qint64 length = std::min<qint64>(chunk.size(), bytes - written);
        if (file.write(chunk.constData(), length) != length)
            return false;
    }
    return true;
}

void warmPageCache(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    while (!file.atEnd())
        (void)file.read(1 << 20);
}

} // namespace bench
