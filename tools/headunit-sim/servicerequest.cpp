#include "servicerequest.h"

#include "shellwords.h"

namespace {

qint64 sizeOption(const QStringList &argv)
{
    const qsizetype at = argv.indexOf(QStringLiteral("-S"));
    if (at < 0 || at + 1 >= argv.size())
        return -1;
    bool ok = false;
    const qint64 size = argv.at(at + 1).toLongLong(&ok);
    return ok && size >= 0 ? size : -1;
}

void setCommandLine(ServiceRequest &request, const QString &command)
{
    request.command = command;
    const ShellWords words = splitShellWords(command);
    request.argv = words.words;
    request.argvOk = words.ok;
}

void classifyExec(ServiceRequest &request)
{
    if (request.argvOk && isInstallCommand(request.argv)) {
        request.kind = ServiceRequest::Kind::Install;
        request.installSize = sizeOption(request.argv);
        request.command = request.argv.join(u' ');
    } else {
        // exec: runs without shell protocol, stdout and stderr end up in one stream.
        request.kind = ServiceRequest::Kind::RawShell;
    }
}

} // namespace

bool isInstallCommand(const QStringList &argv)
{
    if (argv.size() >= 3 && argv.at(0) == u"cmd" && argv.at(1) == u"package"
        && argv.at(2) == u"install")
        return true;
    return argv.size() >= 2 && argv.at(0) == u"pm" && argv.at(1) == u"install";
}

ServiceRequest parseServiceRequest(const QByteArray &openPayload)
{
    QByteArray payload = openPayload;
    if (payload.endsWith('\0'))
        payload.chop(1);

    ServiceRequest request;
    request.service = QString::fromUtf8(payload);
    // For the log: abb_exec separates its argv by NULs, which JSON would show as \u0000.
    request.service.replace(QChar(u'\0'), QChar(u' '));

    if (payload.startsWith("shell:") || payload.startsWith("shell,")) {
        const qsizetype colon = payload.indexOf(':');
        if (colon < 0)
            return request;
        const QString head = QString::fromUtf8(payload.left(colon));
        request.options = head.split(u',').mid(1);
        request.pty = request.options.contains(u"pty");
        request.kind = request.options.contains(u"v2") ? ServiceRequest::Kind::ShellV2
                                                       : ServiceRequest::Kind::RawShell;
        setCommandLine(request, QString::fromUtf8(payload.mid(colon + 1)));
        return request;
    }

    if (payload == "sync:") {
        request.kind = ServiceRequest::Kind::Sync;
        return request;
    }

    if (payload.startsWith("exec:")) {
        setCommandLine(request, QString::fromUtf8(payload.mid(5)));
        classifyExec(request);
        return request;
    }

    if (payload.startsWith("abb_exec:")) {
        // abb_exec:package\0install\0-r\0-S\0<size>\0 equals `cmd package install ...`.
        QByteArray rest = payload.mid(9);
        if (rest.endsWith('\0'))
            rest.chop(1);
        request.argv << QStringLiteral("cmd");
        for (const QByteArray &part : rest.split('\0'))
            request.argv << QString::fromUtf8(part);
        request.command = request.argv.join(u' ');
        classifyExec(request);
        return request;
    }

    return request;
}
