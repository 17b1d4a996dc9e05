#pragma once

// The "pair device with pairing code" screen of Android 11+ wireless debugging: a second
// listener on 127.0.0.1 that speaks adb's pairing protocol, so that `adb pair` (adb 30 and
// newer) succeeds with the code and fails with any other.
//
// Built on BoringSSL, whose symbols clash with OpenSSL's: only the headunit-sim executable
// links this, and nothing here exposes a BoringSSL type.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class PairingServer
{
public:
    // Called on the pairing thread with the public key the host sent, as adb writes it in
    // adbkey.pub ("BASE64 user@host"), once a host proved it knew the code.
    using PairedHandler = std::function<void(const QByteArray &hostPublicKey)>;

    // guid: what the unit names itself to the host on success ("adb-SERIAL-…"); adb shows it.
    PairingServer(QByteArray code, QByteArray guid, PairedHandler onPaired);
    ~PairingServer();
    PairingServer(const PairingServer &) = delete;
    PairingServer &operator=(const PairingServer &) = delete;

    // Whether signature is the host's signature of token with the key of hostPublicKey (its
    // "BASE64" part), as adb answers the unit's AUTH token. Any thread.
    [[nodiscard]] static bool signedBy(const QByteArray &hostPublicKey, const QByteArray &token,
                                       const QByteArray &signature);

    // Listens on 127.0.0.1 on a kernel-chosen port and serves hosts one at a time until
    // destroyed. A host that fails, with a wrong code or by going away, leaves the
    // listener open for the next try, as the unit's pairing screen stays open.
    bool listen(QString *error);
    [[nodiscard]] quint16 port() const { return m_port; }

private:
    struct Tls;
    void serve();
    void pairOne(int fd);

    QByteArray m_code;
    QByteArray m_guid;
    PairedHandler m_onPaired;
    std::unique_ptr<Tls> m_tls;
    int m_listenFd = -1;
    int m_wakeFds[2] = {-1, -1};
    std::atomic<int> m_hostFd{-1}; // the host being served, shut down to stop at once
    quint16 m_port = 0;
    std::thread m_thread;
};
