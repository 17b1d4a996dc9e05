#include "discovery.h"

#include "backgroundwork.h"
#include "commandrunner.h"
#include "textrules.h"

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
    // Any text at all counts, an error message included: pm prints nothing for a missing package.
    device.installed = !shell(resourceDir, serial, {QStringLiteral("pm"), QStringLiteral("path"), kPackageId}).isEmpty();
}

ScanResult scanDevices(const QString &resourceDir, const std::function<void()> &serverStarted)
{
    (void)run(resourceDir, {QStringLiteral("start-server")});
    if (serverStarted)
        serverStarted();
    ScanResult result;
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
               std::function<void(const DeviceList &, const DeviceList &)> completion,
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
                    [completion = std::move(completion)](const ScanResult &result) {
                        completion(result.ready, result.listed);
                    });
}

} // namespace adb
