#pragma once

#include "deviceinfo.h"

#include <QObject>
#include <QString>

#include <functional>

namespace adb {

// The package whose presence the scan reports.
inline const QString kPackageId = QStringLiteral("ru.zorvik.store");

// What one scan hands over: every usable row of the listing, whatever its state, and the
// probed devices among them that are ready ("device").
struct ScanResult
{
    DeviceList ready;
    DeviceList listed;
};

// Parses the output of "adb devices":
//   List of devices attached
//   0123456789ABCDEF<TAB>device
//   emulator-5556<TAB>unauthorized
// The first line is adb's header and is skipped whatever it says; lines are split at LF
// only, fields at TAB, and a line with fewer than two fields is skipped. Records keep the
// serial and the state exactly as printed, with every diagnostic at its default.
[[nodiscard]] DeviceList parseDeviceListing(const QString &output);

// Reads one system property of a device ("adb -s S shell getprop NAME").
[[nodiscard]] QString property(const QString &resourceDir, const QString &serial,
                               const QString &name);

// Fills the eight read-only diagnostics of a ready device, one adb command after another.
void probeDevice(const QString &resourceDir, DeviceInfo &device);

// The whole scan, on the calling thread: "start-server", "devices", then the probes of
// every ready device in listing order. Never changes anything on a device. `serverStarted`,
// if given, is called as soon as "start-server" has returned.
[[nodiscard]] ScanResult scanDevices(const QString &resourceDir,
                                     const std::function<void()> &serverStarted = {});

// Runs scanDevices on a background thread and queues `completion` onto the thread of
// `context` with both lists in one call; `serverStarted`, if given, is queued there too,
// as soon as adb's server runs.
void startScan(QObject *context, const QString &resourceDir,
               std::function<void(const DeviceList &ready, const DeviceList &listed)> completion,
               std::function<void()> serverStarted = {});

} // namespace adb
