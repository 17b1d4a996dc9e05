#pragma once

#include "commandrunner.h"
#include "deviceinfo.h"
#include "timing.h"

#include <QObject>
#include <QString>

#include <functional>

namespace adb {

// The package whose presence the scan reports.
inline const QString kPackageId = QStringLiteral("ru.zorvik.store");

// What one scan hands over: every usable row of the listing, whatever its state, the
// probed devices among them that are ready ("device"), and how "start-server" ended, so
// that an adb which cannot run is told apart from an empty listing.
struct ScanResult
{
    DeviceList ready;
    DeviceList listed;
    CommandResult startServer;
    // Units listed as "device" whose probing was ended by the time limit, in listing order.
    // They are not among `ready`: what they would have answered is unknown.
    QStringList unanswered;
    // "start-server" or "devices" was ended by the time limit: the adb server on this
    // computer hangs (another program holds it), which a fresh installer would not cure.
    // `listed` is then empty.
    bool serverWedged = false;
};

// Parses the output of "adb devices":
//   List of devices attached
//   0123456789ABCDEF<TAB>device
//   emulator-5556<TAB>unauthorized
// The first line is adb's header and is skipped whatever it says; lines are split at LF
// only, fields at TAB, and a line with fewer than two fields is skipped. Records keep the
// serial and the state exactly as printed, with every diagnostic at its default.
[[nodiscard]] DeviceList parseDeviceListing(const QString &output);

// Whether what "adb shell pm path PACKAGE" printed names the package: some line, trimmed,
// reads "package:/data/app/.../base.apk". Anything else is not a yes, above all the errors
// that come back as text with a unit that went away or is still booting:
//     error: device 'SERIAL' not found
//     Error: Could not access the Package Manager.  Is the system running?
[[nodiscard]] bool listsPackage(const QString &pmPathOutput);

// Fills the eight read-only diagnostics of a ready device, one adb command after another,
// each within `timeLimitMs`. Returns false when one of them was ended by that limit: the
// unit (or adbd on it) hangs, the probes after it are not run, and the fields keep what
// the probes before it gave.
[[nodiscard]] bool probeDevice(const QString &resourceDir, DeviceInfo &device, int timeLimitMs);

// The whole scan, on the calling thread: "start-server", "devices", then the probes of
// every ready device in listing order, each command within `timing.scanCommandMs`. A
// "start-server" that hits the limit ends the scan (a "devices" would hang on the same
// server). Never changes anything on a device. `serverStarted`, if given, is called as
// soon as "start-server" has returned.
[[nodiscard]] ScanResult scanDevices(const QString &resourceDir, const Timing &timing,
                                     const std::function<void()> &serverStarted = {});

// Runs scanDevices on a background thread and queues `completion` onto the thread of
// `context` with the whole result in one call; `serverStarted`, if given, is queued there
// too, as soon as adb's server runs.
void startScan(QObject *context, const QString &resourceDir, const Timing &timing,
               std::function<void(const ScanResult &)> completion,
               std::function<void()> serverStarted = {});

} // namespace adb
