#include "devicewatcher.h"

#include "backgroundwork.h"
#include "commandrunner.h"
#include "discovery.h"
#include "trackdevices.h"

#include <algorithm>
#include <limits>

namespace adb {

namespace {

// Whether an "adb devices" run told the listing. It did not when adb failed, when its limit
// ended it, or when it printed no header: a server that is restarting or busy says so on
// the same output, and its silence is no news of the units.
//     List of devices attached
//     S1<TAB>device
bool toldListing(const CommandResult &result)
{
    if (result.status != 0 || result.stopped)
        return false;
    const QStringList lines = result.output.split(u'\n');
    return std::any_of(lines.cbegin(), lines.cend(), [](const QString &line) {
        return line.trimmed() == QLatin1String("List of devices attached");
    });
}

} // namespace

std::optional<int> pollIntervalMs(const DeviceList &listing, bool installing,
                                  std::optional<qint64> youngestOtherStateMs, const Timing &timing)
{
    const bool networkUnitReady = std::any_of(listing.cbegin(), listing.cend(), [](const DeviceInfo &row) {
        return isNetworkSerial(row.serial()) && row.state() == QLatin1String("device");
    });
    if (installing || networkUnitReady || (youngestOtherStateMs && *youngestOtherStateMs <= timing.transitionalMs))
        return timing.pollFastMs;
    if (youngestOtherStateMs)
        return timing.pollSlowMs;
    return std::nullopt;
}

int restartDelayMs(int endsInARow, const Timing &timing)
{
    qint64 delay = timing.restartFirstMs;
    for (int end = 1; end < endsInARow && delay < timing.restartMaxMs; ++end)
        delay *= 2;
    return int(std::min<qint64>(delay, timing.restartMaxMs));
}

DeviceWatcher::DeviceWatcher(QString resourceDir, QObject *parent, const Timing &timing)
    : QObject(parent), m_resourceDir(std::move(resourceDir)), m_timing(timing)
{
    m_clock.start();
    // Only adb's standard output carries the stream; a cold start writes "* daemon not
    // running; starting now at tcp:5037" on standard error, which must not reach the parser.
    m_stream.setProcessChannelMode(QProcess::SeparateChannels);
    m_stream.setStandardErrorFile(QProcess::nullDevice());
    m_stream.setStandardInputFile(QProcess::nullDevice());
    bindChildToParent(m_stream);
    connect(&m_stream, &QProcess::readyReadStandardOutput, this, &DeviceWatcher::readStream);
    connect(&m_stream, &QProcess::finished, this, &DeviceWatcher::streamEnded);
    connect(&m_stream, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            streamEnded();
    });
    m_restartTimer.setSingleShot(true);
    connect(&m_restartTimer, &QTimer::timeout, this, &DeviceWatcher::startStream);
    m_pollTimer.setSingleShot(true);
    connect(&m_pollTimer, &QTimer::timeout, this, &DeviceWatcher::poll);
}

DeviceWatcher::~DeviceWatcher()
{
    // Nobody waits for the stream: it never ends by itself.
    m_stream.disconnect(this);
    m_stream.kill();
    m_stream.waitForFinished(1000);
}

void DeviceWatcher::start()
{
    if (m_started)
        return;
    m_started = true;
    startStream();
}

void DeviceWatcher::restartNow()
{
    if (m_started && m_stream.state() == QProcess::NotRunning) {
        m_restartTimer.stop();
        startStream();
    }
}

void DeviceWatcher::startStream()
{
    m_buffer.clear();
    m_dropping = false;
    m_stream.start(adbPath(m_resourceDir), {QStringLiteral("track-devices")}, QIODevice::ReadOnly);
}

void DeviceWatcher::streamEnded()
{
    m_buffer.clear();
    ++m_endsInARow;
    m_restartTimer.start(restartDelayMs(m_endsInARow, m_timing));
}

void DeviceWatcher::readStream()
{
    // Whatever a dropped stream still delivers before it ends is not to be trusted.
    if (m_dropping) {
        (void)m_stream.readAll();
        return;
    }
    // The parser alone reads the length: it says when a message is whole.
    m_buffer += m_stream.readAll();
    for (;;) {
        const TrackedStep step = takeTrackedMessage(m_buffer);
        switch (step.kind) {
        case TrackedStep::Kind::Incomplete:
            return;
        case TrackedStep::Kind::Malformed:
            // Not adb's stream: drop it; streamEnded starts another after the back-off.
            m_buffer.clear();
            m_dropping = true;
            m_stream.kill();
            return;
        case TrackedStep::Kind::Message:
            // Taken off before anyone hears of it, so that a listener's nested event loop
            // reading the stream again finds only what follows.
            m_buffer.remove(0, step.consumed);
            m_endsInARow = 0;
            if (!m_haveBaseline) {
                m_firstBeforeBaseline = step.listing;
                continue;
            }
            observe(step.listing);
            continue;
        }
    }
}

void DeviceWatcher::noteListing(const DeviceList &listing)
{
    m_current = listing;
    m_haveBaseline = true;
    if (m_firstBeforeBaseline) {
        const DeviceList first = *std::exchange(m_firstBeforeBaseline, std::nullopt);
        observe(first);
        return;
    }
    observe(listing);
}

void DeviceWatcher::setInstalling(bool installing)
{
    m_installing = installing;
    schedulePoll();
}

void DeviceWatcher::observe(const DeviceList &listing)
{
    const bool changed = !sameListing(listing, m_current);
    m_current = listing;

    QHash<QString, qint64> since;
    for (const DeviceInfo &row : listing) {
        if (row.state() == QLatin1String("device"))
            continue;
        const QString key = row.serial() + u'\t' + row.state();
        since.insert(key, m_otherStateSince.value(key, m_clock.elapsed()));
    }
    m_otherStateSince = since;
    schedulePoll();
    emit listingSeen(listing, changed);
}

void DeviceWatcher::schedulePoll()
{
    std::optional<qint64> youngest;
    for (const qint64 since : std::as_const(m_otherStateSince))
        youngest = std::min(youngest.value_or(std::numeric_limits<qint64>::max()), m_clock.elapsed() - since);
    const std::optional<int> interval = pollIntervalMs(m_current, m_installing, youngest, m_timing);
    if (!interval) {
        m_pollTimer.stop();
        return;
    }
    if (!m_pollRunning && (!m_pollTimer.isActive() || m_pollTimer.remainingTime() > *interval))
        m_pollTimer.start(*interval);
}

void DeviceWatcher::poll()
{
    m_pollRunning = true;
    runInBackground(
        // A wedged server must not stop every later comparison.
        this, [dir = m_resourceDir, limitMs = m_timing.pollLimitMs] {
            return run(dir, {QStringLiteral("devices")}, {limitMs, {}});
        },
        [this](const CommandResult &result) {
            m_pollRunning = false;
            // A failed comparison is no news: read as an empty listing it would tell every
            // unit as gone, an install's unit among them, while they are all still there.
            if (m_haveBaseline && toldListing(result))
                observe(parseDeviceListing(result.output));
            else
                schedulePoll();
        });
}

} // namespace adb
