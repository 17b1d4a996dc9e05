#include "installsession.h"

#include "trackdevices.h"

bool resultsWaitForListing(const install::InstallResults &results, const install::ConnectionFacts &facts,
                           bool watching)
{
    return watching && !facts.cutOff && facts.listedNow && !install::installSucceeded(results.install);
}

install::InstallOutcome sessionOutcome(const install::InstallResults &results, const install::ConnectionFacts &facts,
                                       const QString &sdk)
{
    return install::connectionLost(results, facts) ? install::lostConnectionOutcome()
                                                   : install::installOutcome(results, sdk);
}

InstallSession::InstallSession(DeviceInfo device, DeviceList listing, const adb::Timing &timing, bool watching,
                               QObject *parent)
    : QObject(parent), m_device(std::move(device)), m_timing(timing), m_watching(watching),
      m_listing(std::move(listing))
{
    for (QTimer *timer : {&m_lostUnit, &m_failureDecision, &m_longInstall})
        timer->setSingleShot(true);
    connect(&m_lostUnit, &QTimer::timeout, this, [this] {
        // Gone too long: end the job's adb; the results then tell the lost connection.
        m_cutOff = true;
        m_stop->store(true);
    });
    connect(&m_failureDecision, &QTimer::timeout, this, &InstallSession::tell);
    connect(&m_longInstall, &QTimer::timeout, this, [this] {
        if (unitListed())
            emit runsLong();
    });
}

void InstallSession::start(const QString &resourceDir)
{
    m_longInstall.start(m_timing.longInstallHint);
    install::startInstall(
        this, resourceDir, m_device,
        [this](const install::InstallResults &results, const DeviceInfo &) { resultsArrived(results); }, m_stop,
        m_timing);
}

void InstallSession::listingSeen(const DeviceList &listing)
{
    m_listing = listing;
    if (m_told)
        return;
    if (m_results) {
        // The listing a failure waited for.
        tell();
        return;
    }
    // The unit must be back as "device" within the limit, or the install is given up.
    if (unitListed()) {
        m_lostUnit.stop();
    } else {
        m_wasMissing = true;
        if (!m_lostUnit.isActive() && !m_cutOff)
            m_lostUnit.start(m_timing.lostUnitMs);
    }
}

void InstallSession::resultsArrived(const install::InstallResults &results)
{
    m_lostUnit.stop();
    m_longInstall.stop();
    m_results = results;
    if (resultsWaitForListing(results, facts(), m_watching)) {
        m_failureDecision.start(m_timing.failureDecisionMs);
        return;
    }
    tell();
}

void InstallSession::tell()
{
    if (m_told || !m_results)
        return;
    m_told = true;
    m_failureDecision.stop();
    emit finished(sessionOutcome(*m_results, facts(), m_device.sdk), m_device);
}

bool InstallSession::unitListed() const
{
    return adb::listedAsDevice(m_listing, m_device.serial());
}

install::ConnectionFacts InstallSession::facts() const
{
    return {m_cutOff, m_wasMissing, unitListed()};
}
