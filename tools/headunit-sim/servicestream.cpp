#include "servicestream.h"

#include "devicecommands.h"
#include "pushedfiles.h"
#include "shellv2.h"

#include <QJsonArray>
#include <QTimer>

#include <algorithm>

ServiceStream::ServiceStream(quint32 localId, quint32 remoteId, ServiceRequest request,
                             DeviceContext &context, quint32 maxPayload, PacketSender send,
                             QObject *parent)
    : QObject(parent)
    , m_localId(localId)
    , m_remoteId(remoteId)
    , m_request(std::move(request))
    , m_context(context)
    , m_maxPayload(maxPayload)
    , m_send(std::move(send))
{
}

namespace {

// What an install or a push received, as the log records it.
void addReceivedBytes(QJsonObject &entry, qint64 size, const QByteArray &sha256)
{
    entry.insert(QStringLiteral("size"), size);
    entry.insert(QStringLiteral("sha256"), QString::fromLatin1(sha256));
}

} // namespace

void ServiceStream::start()
{
    switch (m_request.kind) {
    case ServiceRequest::Kind::ShellV2:
    case ServiceRequest::Kind::RawShell:
        scheduleAnswer(&ServiceStream::answerCommand);
        break;
    case ServiceRequest::Kind::Install:
        // Nothing to wait for when there is no size or nothing to read.
        if (m_request.installSize <= 0)
            scheduleAnswer(&ServiceStream::answerInstall);
        break;
    case ServiceRequest::Kind::Sync:
        m_sync.emplace(m_context.state.files);
        m_answered = true; // nothing asked yet
        break;
    case ServiceRequest::Kind::Unsupported:
        break;
    }
}

void ServiceStream::receive(const QByteArray &data)
{
    if (m_sync) {
        answerSync(data);
        return;
    }
    // Shell streams: stdin and close-stdin packets are dropped, no command reads stdin.
    if (m_request.kind != ServiceRequest::Kind::Install || m_answerScheduled)
        return;
    // The host never half-closes after the APK bytes: count exactly -S bytes.
    const qint64 wanted = m_request.installSize - m_received;
    const qint64 taken = std::min<qint64>(wanted, data.size());
    m_hash.addData(QByteArrayView(data.constData(), taken));
    m_received += taken;
    if (m_received == m_request.installSize)
        scheduleAnswer(&ServiceStream::answerInstall);
}

void ServiceStream::acknowledged()
{
    m_awaitingOkay = false;
    flush();
}

void ServiceStream::hostClosed()
{
    if (m_finished)
        return;
    if (!m_answered)
        m_context.log->write(logEntry(QStringLiteral("closed by host")));
    m_answered = true;
    finish();
}

void ServiceStream::scheduleAnswer(void (ServiceStream::*answer)())
{
    m_answerScheduled = true;
    // A long install lets a test do something else (a scan, say) while one runs.
    const bool install = m_request.kind == ServiceRequest::Kind::Install
                         || (m_request.argvOk && isInstallCommand(m_request.argv));
    const int delay = m_context.profile.delayMs + (install ? m_context.profile.installDelayMs : 0);
    // `this` as context: the timer dies with the stream if the host goes away first.
    QTimer::singleShot(delay, this, answer);
}

void ServiceStream::answerCommand()
{
    if (m_finished)
        return;
    const CommandResult result = runCommand();

    QJsonObject entry = logEntry(result.installOutcome.isEmpty()
                                     ? QStringLiteral("exit %1").arg(result.exitCode)
                                     : result.installOutcome);
    if (!result.launchedPackage.isEmpty())
        entry.insert(QStringLiteral("launched"), result.launchedPackage);
    if (result.installSize >= 0)
        addReceivedBytes(entry, result.installSize, result.installSha256);
    m_context.log->write(entry);
    m_answered = true;

    // A terminal merges stderr into stdout and turns \n into \r\n. An older unit runs the
    // old shell service on one.
    const bool terminal =
        m_request.pty || (m_context.profile.legacy && m_request.service.startsWith(u"shell:"));
    QByteArray out = result.out;
    QByteArray err = result.err;
    if (terminal || m_request.kind == ServiceRequest::Kind::RawShell) {
        out += err;
        err.clear();
    }
    if (terminal)
        out.replace("\n", "\r\n");
    if (m_request.kind == ServiceRequest::Kind::RawShell)
        sendAndClose(out); // no exit status: the stream just ends
    else
        sendAndClose(shellv2::encodeCommandReply(out, err, result.exitCode));
}

CommandResult ServiceStream::runCommand()
{
    if (!m_request.argvOk)
        return shellSyntaxError();
    if (m_context.profile.legacy) {
        if (std::optional<CommandResult> result =
                runPushedFileCommand(m_request.argv, m_context.profile, m_context.state))
            return *result;
    }
    return runDeviceCommand(m_request.argv, m_context.profile, m_context.state.appInstalled);
}

void ServiceStream::answerInstall()
{
    if (m_finished)
        return;
    const Profile &profile = m_context.profile;
    QByteArray reply;
    QString outcome;
    if (m_request.installSize < 0) {
        reply = "Failure [INSTALL_FAILED_INVALID_APK: the simulator needs -S <size>]\n";
        outcome = QStringLiteral("install failure");
    } else if (!profile.installFailure.isEmpty()) {
        reply = "Failure [" + profile.installFailure.toUtf8() + "]\n";
        outcome = QStringLiteral("install failure");
    } else {
        m_context.state.appInstalled = true;
        reply = "Success\n";
        outcome = QStringLiteral("install success");
    }

    QJsonObject entry = logEntry(outcome);
    addReceivedBytes(entry, m_received, m_hash.result().toHex());
    m_context.log->write(entry);
    m_answered = true;
    sendAndClose(reply);
}

void ServiceStream::answerSync(const QByteArray &data)
{
    if (m_finished || m_closeWhenSent)
        return;
    const QList<SyncAnswer> answers = m_sync->feed(data);
    for (const SyncAnswer &answer : answers) {
        QJsonObject entry = logEntry(answer.request, answer.outcome);
        if (answer.size >= 0)
            addReceivedBytes(entry, answer.size, answer.sha256);
        m_context.log->write(entry);
        m_outbox += answer.reply;
    }
    // A host that goes away in the middle of a push is logged as "closed by host".
    m_answered = m_sync->isIdle();
    m_closeWhenSent = m_sync->isOver();
    flush();
}

void ServiceStream::sendAndClose(const QByteArray &bytes)
{
    m_outbox = bytes;
    m_closeWhenSent = true;
    flush();
}

void ServiceStream::flush()
{
    if (m_finished || m_awaitingOkay)
        return;
    if (!m_outbox.isEmpty()) {
        const qsizetype chunk = std::min<qsizetype>(m_outbox.size(), m_maxPayload);
        m_send({adbwire::Wrte, m_localId, m_remoteId, m_outbox.left(chunk)});
        m_outbox.remove(0, chunk);
        m_awaitingOkay = true;
        return;
    }
    if (m_closeWhenSent) {
        // Like adbd, close only once the last WRTE was acknowledged.
        m_send({adbwire::Clse, m_localId, m_remoteId, {}});
        finish();
    }
}

void ServiceStream::finish()
{
    m_finished = true;
    emit finished(m_localId);
}

QJsonObject ServiceStream::logEntry(const QString &outcome) const
{
    QJsonObject entry = logEntry(m_request.argv, outcome);
    entry.insert(QStringLiteral("command"), m_request.command);
    return entry;
}

QJsonObject ServiceStream::logEntry(const QStringList &argv, const QString &outcome) const
{
    return {
        {QStringLiteral("service"), m_request.service},
        {QStringLiteral("command"), argv.join(u' ')},
        {QStringLiteral("argv"), QJsonArray::fromStringList(argv)},
        {QStringLiteral("outcome"), outcome},
    };
}
