#pragma once

// The listening side of the simulated unit: every adb server that runs
// `adb connect 127.0.0.1:PORT` gets its own HostConnection; all share one DeviceContext,
// so an install seen by one connection shows in `pm path` on another.

#include "devicecontext.h"

#include <QObject>
#include <QTcpServer>

class DeviceServer : public QObject
{
    Q_OBJECT

public:
    DeviceServer(const Profile &profile, ServiceLog *log, QObject *parent = nullptr);

    // Listens on 127.0.0.1; port 0 lets the kernel choose.
    bool listen(quint16 port, QString *error);
    [[nodiscard]] quint16 port() const { return m_server.serverPort(); }

    // The person taps "Allow" on the unit's screen: every host waiting is let in.
    void allowDebugging();

    // How a paired host's signature is checked; without it no host gets in by pairing.
    void setSignatureCheck(std::function<bool(const QByteArray &, const QByteArray &, const QByteArray &)> signedBy)
    {
        m_context.signedBy = std::move(signedBy);
    }

    // A host paired by code: from now on its key is let in without "Allow". Takes the public
    // key as adb writes it, in adbkey.pub or in its AUTH packet.
    void pairHost(const QByteArray &publicKey);

signals:
    void debuggingAllowed();

private:
    void acceptConnections();

    QTcpServer m_server;
    DeviceContext m_context;
};
