#pragma once

// One TCP connection from an adb server: the CNXN/AUTH handshake and the streams
// multiplexed over it (OPEN, OKAY, WRTE, CLSE).

#include "adbpacket.h"
#include "devicecontext.h"

#include <QObject>

#include <map>

class QTcpSocket;
class ServiceStream;

class HostConnection : public QObject
{
    Q_OBJECT

public:
    // Takes ownership of the socket; deletes itself when the host goes away.
    HostConnection(QTcpSocket *socket, DeviceContext &context, QObject *parent);

    // The person allowed debugging: a host that offered its public key is answered now.
    void allowDebugging();

private:
    void readPackets();
    void handlePacket(const adbwire::Packet &packet);
    void handleConnect(const adbwire::Packet &packet);
    void handleAuth(const adbwire::Packet &packet);
    void handleOpen(const adbwire::Packet &packet);
    void handleWrite(const adbwire::Packet &packet);
    void handleOkay(const adbwire::Packet &packet);
    void handleClose(const adbwire::Packet &packet);
    // The stream a host packet is for, or nullptr for unknown or closed ids (then the
    // packet is ignored and not answered).
    [[nodiscard]] ServiceStream *streamFor(const adbwire::Packet &packet) const;
    void forgetStream(quint32 localId);
    void closeAllStreams();
    void sendAuthToken();
    [[nodiscard]] bool signedByPairedHost(const QByteArray &signature) const;
    void goOnline();
    void send(const adbwire::Packet &packet);
    void drop();

    QTcpSocket *m_socket;
    DeviceContext &m_context;
    adbwire::PacketReader m_reader;
    bool m_online = false;
    bool m_keyOffered = false; // the host sent its public key and waits for "Allow"
    bool m_dropped = false;
    QByteArray m_token; // the last AUTH token sent, which the host's next signature answers
    quint32 m_peerMaxPayload = 4096;
    quint32 m_nextLocalId = 1;
    std::map<quint32, ServiceStream *> m_streams;
};
