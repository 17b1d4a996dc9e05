#include "discovery.h"

#include "backgroundwork.h"
#include "commandrunner.h"
#include "textrules.h"

#include <algorithm>

namespace adb {

DeviceList parseDeviceListing(const QString &output)
{
    const QStringList lines = splitPieces(output, [](QStringView c) { return c == u"\n"; });
    DeviceList rows;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList fields = splitPieces(lines.at(i), [](QStringView c) { return c == u"\t"; });
        if (fields.size() < 2)
            continue;
        rows.append(DeviceInfo(fields.at(0), fields.at(1)));
    }
    return rows;
}

bool listsPackage(const QString &pmPathOutput)
{
    const QStringList lines = splitPieces(pmPathOutput, isNewlineCharacter);
    return std::any_of(lines.cbegin(), lines.cend(), [](const QString &line) {
        return trimmed(line).startsWith(QLatin1String("package:"));
    });
}

QString property(const QString &resourceDir, const QString &serial, const QString &name)
{
    return propertyFromOutput(shell(resourceDir, serial, {QStringLiteral("getprop"), name}), name);
}

void probeDevice(const QString &resourceDir, DeviceInfo &device)
{
    const QString &serial = device.serial();
    device.manufacturer = property(resourceDir, serial, QStringLiteral("ro.product.manufacturer"));
    device.model = property(resourceDir, serial, QStringLiteral("ro.product.model"));
    device.android = property(resourceDir, serial, QStringLiteral("ro.build.version.release"));
    device.sdk = property(resourceDir, serial, QStringLiteral("ro.build.version.sdk"));
    device.build = property(resourceDir, serial, QStringLiteral("ro.build.display.id"));
    device.size = lastValue(shell(resourceDir, serial, {QStringLiteral("wm"), QStringLiteral("size")}));
    device.density = lastValue(shell(resourceDir, serial, {QStringLiteral("wm"), QStringLiteral("density")}));
    device.installed = listsPackage(shell(resourceDir, serial, {QStringLiteral("pm"), QStringLiteral("path"), kPackageId}));
}

ScanResult scanDevices(const QString &resourceDir, const std::function<void()> &serverStarted)
{
    ScanResult result;
    result.startServer = run(resourceDir, {QStringLiteral("start-server")});
    if (serverStarted)
        serverStarted();
    result.listed = parseDeviceListing(run(resourceDir, {QStringLiteral("devices")}).output);
    for (const DeviceInfo &row : std::as_const(result.listed)) {
        if (row.state() != QLatin1String("device"))
            continue;
        DeviceInfo device = row;
        probeDevice(resourceDir, device);
        result.ready.append(device);
    }
    return result;
}

void startScan(QObject *context, const QString &resourceDir,
               std::function<void(const ScanResult &)> completion,
               std::function<void()> serverStarted)
{
    auto announce = [guard = QPointer<QObject>(context), serverStarted = std::move(serverStarted)] {
        if (!serverStarted)
            return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [guard, serverStarted] {
                if (guard)
                    serverStarted();
            },
            Qt::QueuedConnection);
    };
    runInBackground(context, [resourceDir, announce] { return scanDevices(resourceDir, announce); },
                    std::move(completion));
}

} // namespace adb
