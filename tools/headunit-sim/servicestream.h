#pragma once

// One open stream on the device side: it runs the requested service and sends the
// answer with adb 29's stop-and-wait flow control (one unacknowledged WRTE at a time,
// each no larger than the host's stated maximum payload), then closes.

#include "adbpacket.h"
#include "devicecontext.h"
#include "servicerequest.h"
#include "syncservice.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QJsonObject>
#include <QObject>

#include <functional>
#include <optional>

struct CommandResult;

class ServiceStream : public QObject
{
    Q_OBJECT

public:
    using PacketSender = std::function<void(const adbwire::Packet &)>;

    ServiceStream(quint32 localId, quint32 remoteId, ServiceRequest request,
                  DeviceContext &context, quint32 maxPayload, PacketSender send,
                  QObject *parent);

    [[nodiscard]] quint32 localId() const { return m_localId; }
    [[nodiscard]] quint32 remoteId() const { return m_remoteId; }

    // Called once the OPEN was accepted with OKAY.
    void start();
    // Payload of a host WRTE, already acknowledged by the connection.
    void receive(const QByteArray &data);
    // The host's OKAY for our last WRTE.
    void acknowledged();
    // The host closed the stream; nothing more is sent.
    void hostClosed();

signals:
    // The stream is over (closed by either side); the connection forgets it.
    void finished(quint32 localId);

private:
    void scheduleAnswer(void (ServiceStream::*answer)());
    void answerCommand();
    [[nodiscard]] CommandResult runCommand();
    void answerInstall();
    void answerSync(const QByteArray &data);
    void sendAndClose(const QByteArray &bytes);
    void flush();
    void finish();
    [[nodiscard]] QJsonObject logEntry(const QString &outcome) const;
    [[nodiscard]] QJsonObject logEntry(const QStringList &argv, const QString &outcome) const;

    const quint32 m_localId;
    const quint32 m_remoteId;
    const ServiceRequest m_request;
    DeviceContext &m_context;
    const quint32 m_maxPayload;
    const PacketSender m_send;

    QByteArray m_outbox;
    bool m_awaitingOkay = false;
    bool m_closeWhenSent = false;
    bool m_answerScheduled = false;
    bool m_answered = false;
    bool m_finished = false;

    std::optional<SyncSession> m_sync;

    qint64 m_received = 0;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
};
