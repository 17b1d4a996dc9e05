#include "discovery.h"

#include "backgroundwork.h"
#include "commandrunner.h"
#include "textrules.h"

#include <algorithm>
#include <optional>

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

namespace {

// "adb -s SERIAL shell WORDS..." within the limit, its text trimmed as shell() does; no
// value when the limit ended it.
std::optional<QString> probe(const QString &resourceDir, const QString &serial, const QStringList &words,
                             const RunLimits &limits)
{
    const CommandResult result = run(resourceDir, QStringList{QStringLiteral("-s"), serial, QStringLiteral("shell")} + words,
                                     limits);
    if (result.stopped)
        return std::nullopt;
    return trimmed(result.output);
}

} // namespace

bool probeDevice(const QString &resourceDir, DeviceInfo &device, int timeLimitMs)
{
    const RunLimits limits{timeLimitMs, {}};
    const QString &serial = device.serial();
    // Each probe fills its field only when it answered; the first silence ends the unit's probing.
    const auto answer = [&](const QStringList &words, const std::function<void(const QString &)> &fill) {
        const std::optional<QString> text = probe(resourceDir, serial, words, limits);
        if (text)
            fill(*text);
        return text.has_value();
    };
    const auto property = [&](const QString &name, QString &field) {
        return answer({QStringLiteral("getprop"), name},
                      [&](const QString &text) { field = propertyFromOutput(text, name); });
    };
    const auto setting = [&](const QString &what, QString &field) {
        return answer({QStringLiteral("wm"), what}, [&](const QString &text) { field = lastValue(text); });
    };
    return property(QStringLiteral("ro.product.manufacturer"), device.manufacturer)
           && property(QStringLiteral("ro.product.model"), device.model)
           && property(QStringLiteral("ro.build.version.release"), device.android)
           && property(QStringLiteral("ro.build.version.sdk"), device.sdk)
           && property(QStringLiteral("ro.build.display.id"), device.build)
           && setting(QStringLiteral("size"), device.size)
           && setting(QStringLiteral("density"), device.density)
           && answer({QStringLiteral("pm"), QStringLiteral("path"), kPackageId},
                     [&](const QString &text) { device.installed = listsPackage(text); });
}

ScanResult scanDevices(const QString &resourceDir, const Timing &timing, const std::function<void()> &serverStarted)
{
    const RunLimits limits{timing.scanCommandMs, {}};
    ScanResult result;
    result.startServer = run(resourceDir, {QStringLiteral("start-server")}, limits);
    if (serverStarted)
        serverStarted();
    if (result.startServer.stopped) {
        result.serverWedged = true;
        return result;
    }
    const CommandResult devices = run(resourceDir, {QStringLiteral("devices")}, limits);
    if (devices.stopped) {
        // Whatever it printed before it hung is no listing to go by.
        result.serverWedged = true;
        return result;
    }
    result.listed = parseDeviceListing(devices.output);
    for (const DeviceInfo &row : std::as_const(result.listed)) {
        if (row.state() != QLatin1String("device"))
            continue;
        DeviceInfo device = row;
        if (probeDevice(resourceDir, device, timing.scanCommandMs))
            result.ready.append(device);
        else
            result.unanswered.append(row.serial());
    }
    return result;
}

void startScan(QObject *context, const QString &resourceDir, const Timing &timing,
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
    runInBackground(context, [resourceDir, timing, announce] { return scanDevices(resourceDir, timing, announce); },
                    std::move(completion));
}

} // namespace adb
