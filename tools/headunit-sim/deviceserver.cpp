#include "deviceserver.h"

#include "hostconnection.h"

#include <QTcpSocket>

DeviceServer::DeviceServer(const Profile &profile, ServiceLog *log, QObject *parent)
    : QObject(parent)
{
    m_context.profile = profile;
    m_context.state.appInstalled = profile.installed;
    m_context.log = log;
    connect(&m_server, &QTcpServer::newConnection, this, &DeviceServer::acceptConnections);
}

bool DeviceServer::listen(quint16 port, QString *error)
{
    if (m_server.listen(QHostAddress::LocalHost, port))
        return true;
    *error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(port).arg(m_server.errorString());
    return false;
}

void DeviceServer::allowDebugging()
{
    m_context.state.debuggingAllowed = true;
    emit debuggingAllowed();
}

void DeviceServer::pairHost(const QByteArray &publicKey)
{
    const QByteArray key = hostKeyPart(publicKey);
    if (!key.isEmpty())
        m_context.state.pairedHostKeys.insert(key);
}

void DeviceServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        auto *connection = new HostConnection(socket, m_context, this);
        connect(this, &DeviceServer::debuggingAllowed, connection, &HostConnection::allowDebugging);
    }
}
