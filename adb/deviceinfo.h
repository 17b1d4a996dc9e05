#pragma once

#include <QList>
#include <QString>

// The program-wide mark for a value we have not got (U+2014 EM DASH).
inline const QString kNoValue = QStringLiteral("\u2014");

// What we know about one device that adb lists. The serial and the connection state
// come from the "devices" listing and never change; the diagnostics are filled in by
// the scan for ready devices only, and `installed` flips after a successful install.
class DeviceInfo
{
public:
    DeviceInfo(QString serial, QString state)
        : m_serial(std::move(serial)), m_state(std::move(state)) {}

    [[nodiscard]] const QString &serial() const { return m_serial; }
    [[nodiscard]] const QString &state() const { return m_state; }

    QString manufacturer = kNoValue;
    QString model = kNoValue;
    QString android = kNoValue;
    QString sdk = kNoValue;
    QString build = kNoValue;
    QString size = kNoValue;
    QString density = kNoValue;
    bool installed = false;

private:
    QString m_serial;
    QString m_state;
};

using DeviceList = QList<DeviceInfo>;
