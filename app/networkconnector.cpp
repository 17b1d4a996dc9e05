#include "networkconnector.h"

#include "backgroundwork.h"
#include "trackdevices.h"

#include <QSettings>

namespace {

const QString kLastAddressKey = QStringLiteral("wifi/lastAddress");

QSettings settings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("zorvik"),
                     QStringLiteral("zorvik-installer"));
}

} // namespace

std::optional<QString> rememberedAddress()
{
    return adb::normalisedAddress(settings().value(kLastAddressKey).toString());
}

void rememberAddress(const QString &address)
{
    settings().setValue(kLastAddressKey, address);
}

void forgetAddress()
{
    settings().remove(kLastAddressKey);
}

NetworkConnector::NetworkConnector(QString resourceDir, const adb::Timing &timing, QObject *parent)
    : QObject(parent), m_resourceDir(std::move(resourceDir)), m_timing(timing)
{
}

void NetworkConnector::connectAsked(const WifiRequest &request)
{
    if (personConnecting())
        return;
    m_asked = request;
    // Told at once, so that the person sees their request taken while it waits.
    if (request.pairs())
        emit pairingStarted(request.pairingAddress);
    else
        emit attemptStarted(request.address);
    // Two "adb connect" at once would race over the same entry in adb's list.
    if (m_quiet.isEmpty())
        runAsked();
}

void NetworkConnector::runAsked()
{
    if (!m_asked->pairs()) {
        run(m_asked->address, false);
        return;
    }
    m_askedRunning = true;
    runInBackground(
        this,
        [dir = m_resourceDir, address = m_asked->pairingAddress, code = m_asked->pairingCode, timing = m_timing] {
            return adb::pairNetworkUnit(dir, address, code, timing);
        },
        [this](const adb::PairAttempt &attempt) { paired(attempt); });
}

void NetworkConnector::paired(const adb::PairAttempt &attempt)
{
    if (attempt.verdict == adb::PairVerdict::Paired) {
        emit attemptStarted(m_asked->address);
        run(m_asked->address, false);
        return;
    }
    const QString pairAddress = m_asked->pairingAddress;
    m_asked.reset();
    m_askedRunning = false;
    emit pairingFailed(pairAddress, attempt);
}

void NetworkConnector::learnPairingSupport()
{
    if (m_pairingSupport != PairingSupport::Unknown || m_learningPairing)
        return;
    m_learningPairing = true;
    runInBackground(
        this, [dir = m_resourceDir, timing = m_timing] { return adb::adbCanPair(dir, timing); },
        [this](bool can) {
            m_learningPairing = false;
            m_pairingSupport = can ? PairingSupport::Available : PairingSupport::Unavailable;
            emit pairingSupportKnown(m_pairingSupport);
        });
}

void NetworkConnector::tryQuietly(const QString &address)
{
    if (!m_quiet.isEmpty() || m_askedRunning)
        return;
    run(address, true);
}

QStringList NetworkConnector::addressesInFlight() const
{
    QStringList addresses;
    if (m_askedRunning)
        addresses << m_asked->address;
    if (!m_quiet.isEmpty())
        addresses << m_quiet;
    return addresses;
}

std::optional<QString> NetworkConnector::unitReady(const DeviceList &ready)
{
    if (!m_awaitingAllow.isEmpty() && adb::listedAsDevice(ready, m_awaitingAllow)) {
        rememberAddress(m_awaitingAllow);
        m_unitToShow = std::exchange(m_awaitingAllow, QString());
    }
    if (!m_unitToShow.isEmpty() && adb::listedAsDevice(ready, m_unitToShow))
        return std::exchange(m_unitToShow, QString());
    return std::nullopt;
}

void NetworkConnector::run(const QString &address, bool quietly)
{
    if (quietly) {
        m_quiet = address;
    } else {
        m_askedRunning = true;
    }
    const int limit = quietly ? m_timing.quietConnectMs : m_timing.connectMs;
    runInBackground(
        this,
        [dir = m_resourceDir, address, timing = m_timing, limit] {
            return adb::connectNetworkUnit(dir, address, timing, limit);
        },
        [this, address, quietly](const adb::ConnectAttempt &attempt) { ended(address, quietly, attempt); });
}

void NetworkConnector::ended(const QString &address, bool quietly, const adb::ConnectAttempt &attempt)
{
    if (quietly) {
        m_quiet.clear();
    } else {
        m_asked.reset();
        m_askedRunning = false;
    }
    if (attempt.verdict == adb::ConnectVerdict::Connected) {
        rememberAddress(address);
        m_unitToShow = address;
        m_awaitingAllow.clear();
    } else if (attempt.verdict == adb::ConnectVerdict::NeedsAuthorization) {
        m_awaitingAllow = address;
    }
    emit attemptEnded(address, quietly, attempt);
    // The person's attempt waited for this one.
    if (quietly && m_asked)
        runAsked();
}
