#pragma once

#include "deviceinfo.h"
#include "timing.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QProcess>
#include <QTimer>

#include <optional>

namespace adb {

// How often "adb devices" must be compared besides the stream, or nothing. adb 29's
// track-devices keeps a unit waiting for "Allow" as "offline" and says nothing when a
// network unit's link drops, so: every pollFastMs while an install runs, while a network
// unit is ready, or while a unit is in another state than "device"; every pollSlowMs once
// the newest such state is older than transitionalMs. `youngestOtherStateMs` is the age of
// the newest state other than "device", if any is listed.
[[nodiscard]] std::optional<int> pollIntervalMs(const DeviceList &listing, bool installing,
                                                std::optional<qint64> youngestOtherStateMs,
                                                const Timing &timing = {});

// The wait before the stream's next start after it ended: restartFirstMs, doubled for
// every further end in a row, at most restartMaxMs.
[[nodiscard]] int restartDelayMs(int endsInARow, const Timing &timing = {});

// Follows adb's listing with one long-lived "adb track-devices", and with "adb devices"
// where that stream is blind (see pollIntervalMs). Lives on the GUI thread; with only USB
// units, all ready, or none, it starts no process and just waits on its pipe.
class DeviceWatcher : public QObject
{
    Q_OBJECT

public:
    DeviceWatcher(QString resourceDir, QObject *parent, const Timing &timing = {});
    ~DeviceWatcher() override;

    // Starts the stream; call once adb's server runs, so that two clients never race to start it.
    void start();
    // Starts the stream at once if it is waiting out its back-off.
    void restartNow();
    // The listing a scan has just seen. Until the first one, the stream's first message
    // waits, so that the launch scan is not followed by a second one for the same units.
    void noteListing(const DeviceList &listing);
    void setInstalling(bool installing);

    [[nodiscard]] const DeviceList &listing() const { return m_current; }
    [[nodiscard]] bool isStreaming() const { return m_stream.state() != QProcess::NotRunning; }

signals:
    // Every listing seen on the stream or in a comparison; `changed` when it differs from
    // the last one seen or noted. A comparison that failed is not seen at all.
    void listingSeen(const DeviceList &listing, bool changed);

private:
    void startStream();
    void readStream();
    void streamEnded();
    void observe(const DeviceList &listing);
    void schedulePoll();
    void poll();

    const QString m_resourceDir;
    const Timing m_timing;
    QProcess m_stream;
    QByteArray m_buffer;            // what has come of the next message
    bool m_dropping = false;        // the stream was malformed and is being ended
    QTimer m_restartTimer;
    int m_endsInARow = 0;
    bool m_started = false;

    DeviceList m_current;
    bool m_haveBaseline = false;
    std::optional<DeviceList> m_firstBeforeBaseline;
    QHash<QString, qint64> m_otherStateSince;   // "serial\tstate" -> clock ms
    QElapsedTimer m_clock;
    bool m_installing = false;
    QTimer m_pollTimer;
    bool m_pollRunning = false;
};

} // namespace adb
