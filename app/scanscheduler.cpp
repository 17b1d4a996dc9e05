#include "scanscheduler.h"

#include "devicewatcher.h"

#include <utility>

ScanScheduler::ScanScheduler(QString resourceDir, const adb::Timing &timing, bool watchDevices, QObject *parent)
    : QObject(parent), m_resourceDir(std::move(resourceDir)), m_timing(timing), m_watchDevices(watchDevices)
{
}

void ScanScheduler::launch(std::function<void()> serverStarted)
{
    start(ScanKind::Asked, [this, serverStarted = std::move(serverStarted)] {
        startWatcher();
        if (serverStarted)
            serverStarted();
    });
}

void ScanScheduler::scanAsked()
{
    if (m_running) {
        // The scan that runs answers the click: a second one would only queue behind a unit
        // that does not answer, and show the same listing a moment later.
        if (m_runningKind != ScanKind::Asked) {
            m_runningKind = ScanKind::Asked;
            m_askedWhileInstalling = m_installing;
            emit askedScanStarted();
        }
        return;
    }
    start(ScanKind::Asked, {});
}

void ScanScheduler::scanWanted()
{
    m_automaticWanted = true;
    startWanted();
}

void ScanScheduler::restartWatcher()
{
    if (m_watcher)
        m_watcher->restartNow();
}

void ScanScheduler::setInstalling(bool installing)
{
    m_installing = installing;
    if (m_watcher)
        m_watcher->setInstalling(installing);
}

void ScanScheduler::start(ScanKind kind, std::function<void()> serverStarted)
{
    m_running = true;
    m_runningKind = kind;
    m_askedWhileInstalling = kind == ScanKind::Asked && m_installing;
    if (kind == ScanKind::Automatic)
        m_automaticWanted = false;
    else
        emit askedScanStarted();
    adb::startScan(
        this, m_resourceDir, m_timing, [this](const adb::ScanResult &scan) { finished(scan); },
        std::move(serverStarted));
}

void ScanScheduler::finished(const adb::ScanResult &scan)
{
    m_running = false;
    m_latest = scan.listed;
    emit scanFinished(std::exchange(m_askedWhileInstalling, false) ? ScanKind::Automatic : m_runningKind, scan);
    // The watcher compares what it sees next with what the window now shows, and hands the
    // listing on; a difference it found meanwhile wants one more scan.
    if (m_watcher)
        m_watcher->noteListing(scan.listed);
    else
        emit listingSeen(m_latest);
    startWanted();
}

void ScanScheduler::watcherSaw(const DeviceList &listing, bool changed)
{
    m_latest = listing;
    emit listingSeen(listing);
    if (changed) {
        m_automaticWanted = true;
        startWanted();
    }
}

void ScanScheduler::startWatcher()
{
    if (!m_watchDevices || m_watcher)
        return;
    m_watcher = new adb::DeviceWatcher(m_resourceDir, this, m_timing);
    m_watcher->setInstalling(m_installing);
    connect(m_watcher, &adb::DeviceWatcher::listingSeen, this, &ScanScheduler::watcherSaw);
    m_watcher->start();
}

void ScanScheduler::startWanted()
{
    if (m_automaticWanted && !m_running)
        start(ScanKind::Automatic, {});
}
