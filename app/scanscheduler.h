#pragma once

#include "deviceinfo.h"
#include "discovery.h"
#include "timing.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace adb {
class DeviceWatcher;
}

// Who a scan is for: the person («Обновить», the launch) or the watcher, which noticed a
// change in adb's listing.
enum class ScanKind { Asked, Automatic };

// Runs the scans, one at a time. A scan the person asks for while another runs joins that
// one; changes the watcher reports while a scan runs are joined into one scan after it. Owns
// the watcher, feeds it every completed scan's listing, and keeps adb's latest listing.
class ScanScheduler : public QObject
{
    Q_OBJECT

public:
    ScanScheduler(QString resourceDir, const adb::Timing &timing, bool watchDevices, QObject *parent);

    // The launch scan: the watcher, and `serverStarted`, follow once its "start-server" has
    // returned, so that two adb clients never race to start the server.
    void launch(std::function<void()> serverStarted = {});
    // A scan the person asked for: started, or joined to the one that runs.
    void scanAsked();
    // One automatic scan, as for a change the watcher saw: after the one that runs, if any.
    void scanWanted();
    // «Обновить» also wakes a watcher that waits out its back-off.
    void restartWatcher();
    void setInstalling(bool installing);

    [[nodiscard]] bool running() const { return m_running; }
    [[nodiscard]] bool askedRunning() const { return m_running && m_runningKind == ScanKind::Asked; }
    // adb's latest listing, from the watcher or from the last scan.
    [[nodiscard]] const DeviceList &latestListing() const { return m_latest; }

signals:
    // The window now runs a scan the person asked for: one has started, or a click turned the
    // running automatic scan into one. A click joined to a scan already asked for sends nothing.
    void askedScanStarted();
    // A scan has come back; `kind` is Asked if the person asked for it at any point, but not
    // while an install ran: such a scan may come back after the install's outcome, which the
    // person has yet to read, and counts as one nobody asked for.
    void scanFinished(ScanKind kind, const adb::ScanResult &scan);
    // Every listing the watcher sees or a scan brings.
    void listingSeen(const DeviceList &listing);

private:
    void start(ScanKind kind, std::function<void()> serverStarted);
    void finished(const adb::ScanResult &scan);
    void watcherSaw(const DeviceList &listing, bool changed);
    void startWatcher();
    void startWanted();

    const QString m_resourceDir;
    const adb::Timing m_timing;
    const bool m_watchDevices;
    QPointer<adb::DeviceWatcher> m_watcher;
    bool m_running = false;
    ScanKind m_runningKind = ScanKind::Automatic;
    bool m_askedWhileInstalling = false;
    bool m_automaticWanted = false;
    bool m_installing = false;
    DeviceList m_latest;
};
