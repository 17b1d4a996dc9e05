#pragma once

#include "deviceinfo.h"
#include "installjob.h"
#include "timing.h"

#include <QObject>
#include <QTimer>

#include <optional>

// Whether results that just arrived are told at once, or wait for the next listing: a
// failure while the unit still looks ready may be a cable pulled a moment ago, which adb's
// USB scan takes up to a second to notice. Only a watcher brings that next listing.
[[nodiscard]] bool resultsWaitForListing(const install::InstallResults &results,
                                         const install::ConnectionFacts &facts, bool watching);

// What the window tells once the install is over: a lost connection or adb's outcome.
[[nodiscard]] install::InstallOutcome sessionOutcome(const install::InstallResults &results,
                                                     const install::ConnectionFacts &facts,
                                                     const QString &sdk);

// One install, from the confirmation to its outcome: the unit it changes, the flag that ends
// its adb, what the listings said of the unit meanwhile, and the clocks over it. It is made
// for one install and goes away after it, and its timers with it.
class InstallSession : public QObject
{
    Q_OBJECT

public:
    // `listing` is adb's latest listing; `watching` whether a watcher brings more of them.
    InstallSession(DeviceInfo device, DeviceList listing, const adb::Timing &timing, bool watching,
                   QObject *parent);

    void start(const QString &resourceDir);
    // A listing from the watcher or a scan. A comparison that failed never arrives here.
    void listingSeen(const DeviceList &listing);

    [[nodiscard]] const DeviceInfo &device() const { return m_device; }

signals:
    // The install runs long while the unit is listed as ready: it may wait for a prompt on
    // its own screen ("verify apps", "install via USB").
    void runsLong();
    void finished(const install::InstallOutcome &outcome, const DeviceInfo &device);

private:
    void resultsArrived(const install::InstallResults &results);
    void tell();
    [[nodiscard]] bool unitListed() const;
    [[nodiscard]] install::ConnectionFacts facts() const;

    const DeviceInfo m_device;
    const adb::Timing m_timing;
    const bool m_watching;
    const adb::StopFlag m_stop = adb::makeStopFlag();
    DeviceList m_listing;
    bool m_wasMissing = false;
    bool m_cutOff = false;
    std::optional<install::InstallResults> m_results;
    bool m_told = false;
    QTimer m_lostUnit;
    QTimer m_failureDecision;
    QTimer m_longInstall;
};
