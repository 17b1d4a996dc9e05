#include "hostconnection.h"

#include "servicerequest.h"
#include "servicestream.h"

#include <QJsonObject>
#include <QRandomGenerator>
#include <QTcpSocket>

#include <algorithm>

namespace {

// A unit without shell_v2 refuses the new shell service as an old adbd does. Only such a
// unit is offered sync:, so the newer one keeps answering as it always has.
bool unitServes(const ServiceRequest &request, const Profile &profile)
{
    switch (request.kind) {
    case ServiceRequest::Kind::Unsupported:
        return false;
    case ServiceRequest::Kind::Sync:
        return profile.legacy;
    case ServiceRequest::Kind::ShellV2:
        return !profile.legacy;
    case ServiceRequest::Kind::RawShell:
    case ServiceRequest::Kind::Install:
        break;
    }
    return true;
}

} // namespace

HostConnection::HostConnection(QTcpSocket *socket, DeviceContext &context, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_context(context)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &HostConnection::readPackets);
    connect(m_socket, &QTcpSocket::disconnected, this, &HostConnection::drop);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &HostConnection::drop);
}

void HostConnection::readPackets()
{
    m_reader.feed(m_socket->readAll());
    while (!m_dropped) {
        const std::optional<adbwire::Packet> packet = m_reader.next();
        if (!packet)
            break;
        handlePacket(*packet);
    }
    if (m_reader.isCorrupt())
        drop();
}

void HostConnection::handlePacket(const adbwire::Packet &packet)
{
    switch (packet.command) {
    case adbwire::Cnxn:
        handleConnect(packet);
        break;
    case adbwire::Auth:
        handleAuth(packet);
        break;
    case adbwire::Open:
        handleOpen(packet);
        break;
    case adbwire::Wrte:
        handleWrite(packet);
        break;
    case adbwire::Okay:
        handleOkay(packet);
        break;
    case adbwire::Clse:
        handleClose(packet);
        break;
    default:
        break; // SYNC, STLS and anything else: not for this device
    }
}

void HostConnection::handleConnect(const adbwire::Packet &packet)
{
    // A repeated CNXN means the host starts over: forget its old streams.
    closeAllStreams();
    m_online = false;
    m_keyOffered = false;
    m_peerMaxPayload = std::clamp<quint32>(packet.arg1, 4096, adbwire::kLargestAcceptedPayload);
    if (m_context.profile.unauthorized)
        sendAuthToken();
    else
        goOnline(); // no AUTH: the host takes this for an unsecured adbd, "device" at once
}

// Before "Allow" every signature is refused with a fresh token. When the host runs out of
// keys it sends its public key, shows the unit as "unauthorized" and waits for the person.
// Signatures are not checked: after "Allow" any is taken, as "always allow" lets a known
// key in. The unit may be allowed before the key arrives; then the key is let in at once.
// A host that paired by code is let in at its signature, checked against the keys paired;
// on its own key it is asked to "Allow" as any other, as adbd does.
void HostConnection::handleAuth(const adbwire::Packet &packet)
{
    if (!m_context.profile.unauthorized || m_online)
        return;
    if (packet.arg0 != adbwire::AuthSignature && packet.arg0 != adbwire::AuthRsaPublicKey)
        return; // a token: nothing for this unit to sign
    if (m_context.state.debuggingAllowed)
        goOnline();
    else if (packet.arg0 == adbwire::AuthSignature && signedByPairedHost(packet.payload))
        goOnline();
    else if (packet.arg0 == adbwire::AuthSignature)
        sendAuthToken();
    else
        m_keyOffered = true;
}

bool HostConnection::signedByPairedHost(const QByteArray &signature) const
{
    if (!m_context.signedBy)
        return false;
    return std::any_of(m_context.state.pairedHostKeys.cbegin(), m_context.state.pairedHostKeys.cend(),
                       [&](const QByteArray &key) { return m_context.signedBy(key, m_token, signature); });
}

void HostConnection::allowDebugging()
{
    if (m_keyOffered && !m_online)
        goOnline();
}

void HostConnection::goOnline()
{
    m_keyOffered = false;
    send({adbwire::Cnxn, adbwire::kVersion, adbwire::kDeviceMaxPayload, m_context.profile.banner()});
    m_online = true;
}

void HostConnection::handleOpen(const adbwire::Packet &packet)
{
    const quint32 remoteId = packet.arg0;
    if (!m_online || remoteId == 0)
        return;

    ServiceRequest request = parseServiceRequest(packet.payload);
    if (!unitServes(request, m_context.profile)) {
        m_context.log->write({{QStringLiteral("service"), request.service},
                              {QStringLiteral("outcome"), QStringLiteral("refused")}});
        send({adbwire::Clse, 0, remoteId, {}});
        return;
    }

    const quint32 localId = m_nextLocalId++;
    if (m_nextLocalId == 0)
        m_nextLocalId = 1;
    auto *stream = new ServiceStream(
        localId, remoteId, std::move(request), m_context,
        std::min(m_peerMaxPayload, adbwire::kDeviceMaxPayload),
        [this](const adbwire::Packet &p) { send(p); }, this);
    connect(stream, &ServiceStream::finished, this, &HostConnection::forgetStream);
    m_streams[localId] = stream;
    send({adbwire::Okay, localId, remoteId, {}});
    stream->start();
}

void HostConnection::handleWrite(const adbwire::Packet &packet)
{
    ServiceStream *stream = streamFor(packet);
    if (!stream)
        return;
    send({adbwire::Okay, stream->localId(), stream->remoteId(), {}});
    stream->receive(packet.payload);
}

void HostConnection::handleOkay(const adbwire::Packet &packet)
{
    if (ServiceStream *stream = streamFor(packet))
        stream->acknowledged();
}

void HostConnection::handleClose(const adbwire::Packet &packet)
{
    if (ServiceStream *stream = streamFor(packet))
        stream->hostClosed();
}

ServiceStream *HostConnection::streamFor(const adbwire::Packet &packet) const
{
    if (!m_online)
        return nullptr;
    const auto it = m_streams.find(packet.arg1);
    if (it == m_streams.end() || it->second->remoteId() != packet.arg0)
        return nullptr;
    return it->second;
}

void HostConnection::forgetStream(quint32 localId)
{
    const auto it = m_streams.find(localId);
    if (it == m_streams.end())
        return;
    it->second->deleteLater();
    m_streams.erase(it);
}

void HostConnection::closeAllStreams()
{
    for (auto &[id, stream] : m_streams) {
        stream->disconnect(this);
        stream->hostClosed();
        stream->deleteLater();
    }
    m_streams.clear();
}

void HostConnection::sendAuthToken()
{
    m_token = QByteArray(20, Qt::Uninitialized);
    for (char &byte : m_token)
        byte = static_cast<char>(QRandomGenerator::global()->bounded(256));
    send({adbwire::Auth, adbwire::AuthToken, 0, m_token});
}

void HostConnection::send(const adbwire::Packet &packet)
{
    if (!m_dropped)
        m_socket->write(adbwire::encodePacket(packet));
}

void HostConnection::drop()
{
    if (m_dropped)
        return;
    m_dropped = true;
    closeAllStreams();
    m_socket->abort();
    deleteLater();
}
