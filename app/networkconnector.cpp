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

void NetworkConnector::connectAsked(const QString &address)
{
    if (personConnecting())
        return;
    m_asked = address;
    // Two "adb connect" at once would race over the same entry in adb's list.
    if (m_quiet.isEmpty())
        run(address, false);
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
        addresses << m_asked;
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
        emit attemptStarted(address);
    }
    const int limit = quietly ? m_timing.quietConnectMs : m_timing.connectMs;
    runInBackground(
        this, [dir = m_resourceDir, address, limit] { return adb::connectNetworkUnit(dir, address, limit); },
        [this, address, quietly](const adb::ConnectAttempt &attempt) { ended(address, quietly, attempt); });
}

void NetworkConnector::ended(const QString &address, bool quietly, const adb::ConnectAttempt &attempt)
{
    if (quietly) {
        m_quiet.clear();
    } else {
        m_asked.clear();
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
    if (quietly && !m_asked.isEmpty())
        run(m_asked, false);
}
