#pragma once

#include "deviceinfo.h"
#include "networkunit.h"
#include "pairing.h"
#include "timing.h"
#include "wifidialog.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

// The one thing the installer keeps between runs: the last network address that reached a
// ready unit. It must still pass the address rule: the file is the person's to edit.
[[nodiscard]] std::optional<QString> rememberedAddress();
void rememberAddress(const QString &address);
void forgetAddress();

// Reaches head units over Wi-Fi, one attempt at a time: the attempt the person asks for, and
// the quiet try of the remembered address at launch, which the person's attempt waits for.
// Knows which addresses are being connected, and which to show and remember once a scan
// finds them ready.
class NetworkConnector : public QObject
{
    Q_OBJECT

public:
    NetworkConnector(QString resourceDir, const adb::Timing &timing, QObject *parent);

    // The person's attempt, with its pairing first if asked; it starts once the quiet try,
    // if one runs, has ended.
    void connectAsked(const WifiRequest &request);
    // The launch's try of the remembered address: shorter, and silent when it fails.
    void tryQuietly(const QString &address);

    // From the person's request until their attempt has ended.
    [[nodiscard]] bool personConnecting() const { return m_asked.has_value(); }
    // The addresses whose attempt runs: their listing tells nothing yet.
    [[nodiscard]] QStringList addressesInFlight() const;
    // With every scan's ready units: remembers an address that waited for "Allow" once it is
    // ready, and names the unit just reached, to be put on show, once.
    [[nodiscard]] std::optional<QString> unitReady(const DeviceList &ready);
    // The person chose a unit in the popup: a unit just reached no longer takes its place.
    void forgetUnitToShow() { m_unitToShow.clear(); }

    // Whether the carried adb can pair by code, once learnt; learnPairingSupport asks adb
    // once per run, off the GUI thread, and tells pairingSupportKnown.
    [[nodiscard]] PairingSupport pairingSupport() const { return m_pairingSupport; }
    void learnPairingSupport();

signals:
    void pairingSupportKnown(PairingSupport support);
    // The person's pairing runs now, and how it ended unless it paired.
    void pairingStarted(const QString &pairAddress);
    void pairingFailed(const QString &pairAddress, const adb::PairAttempt &attempt);
    // The person's attempt runs now (it may have waited for the quiet try, or a pairing).
    void attemptStarted(const QString &address);
    void attemptEnded(const QString &address, bool quietly, const adb::ConnectAttempt &attempt);

private:
    void runAsked();
    void paired(const adb::PairAttempt &attempt);
    void run(const QString &address, bool quietly);
    void ended(const QString &address, bool quietly, const adb::ConnectAttempt &attempt);

    const QString m_resourceDir;
    const adb::Timing m_timing;
    std::optional<WifiRequest> m_asked;     // from the request to the attempt's end
    bool m_askedRunning = false;            // its pairing or its connect runs
    QString m_quiet;            // the quiet try's address while it runs
    QString m_unitToShow;
    QString m_awaitingAllow;    // reached, waiting for "Allow"; remembered once ready
    PairingSupport m_pairingSupport = PairingSupport::Unknown;
    bool m_learningPairing = false;
};
