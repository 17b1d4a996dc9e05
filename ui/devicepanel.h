#pragma once

#include "deviceinfo.h"
#include "discovery.h"

#include <QMap>
#include <QString>
#include <QStringList>

// What the device panel shows after a scan, as a plain function of what the scan found.
struct ScanView
{
    QStringList popupItems;     // one per ready device, or one placeholder
    QString badge;              // before a ready device is shown
    QString logText;
    bool anyReady = false;
};

// `udevRuleInstalled`: the package that put the program in place also put in the udev
// rule (see runsFromPackage), so a unit without permission needs only a replug.
// `connecting`: the network addresses an "adb connect" is under way for. Until it ends their
// rows say nothing about the car (a handshake shows "offline" or "authorizing" for a while),
// so the badge, the placeholder and the log pass them over as if they were not listed.
//
// With no unit ready, the first of these that the listing shows is told:
//   1. a unit this computer may not open ("no permissions");
//   2. a unit waiting for the person's "Allow" ("unauthorized", "authorizing");
//   3. a unit that did not answer its probes in time;
//   4. a network unit listed "offline": its link dropped;
//   5. any other state;
//   6. nothing at all (or adb that does not run, or a server that hangs).
[[nodiscard]] ScanView scanView(const adb::ScanResult &scan, bool udevRuleInstalled = false,
                                const QStringList &connecting = {});

// What the panel shows for one ready device.
struct DeviceView
{
    QMap<QString, QString> infoTexts;   // by info label key
    QString badge;
    QString installTitle;
};

[[nodiscard]] DeviceView deviceView(const DeviceInfo &device);

// The pop-up item of a ready device: "MANUFACTURER MODEL  ·  SERIAL".
[[nodiscard]] QString popupTitle(const DeviceInfo &device);

// A Li Auto head unit (or one of its "HU_" boards), told by manufacturer or model in any case.
[[nodiscard]] bool isHeadUnit(const DeviceInfo &device);

// What to do when this computer may not open the unit's USB device (Linux): write the udev
// rule by hand, or, where the package installed it, replug the cable.
[[nodiscard]] QString noUsbPermissionText(bool udevRuleInstalled);

// Whether the program in `programDir` is the one the Debian package installs, which brings
// the udev rule with it.
[[nodiscard]] bool runsFromPackage(const QString &programDir);

// The info label keys, top row first.
[[nodiscard]] const QStringList &infoKeys();
