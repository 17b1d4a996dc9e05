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

[[nodiscard]] ScanView scanView(const adb::ScanResult &scan);

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

// What to do when this computer may not open the unit's USB device (Linux, no udev rule).
[[nodiscard]] QString noUsbPermissionText();

// The info label keys, top row first.
[[nodiscard]] const QStringList &infoKeys();
