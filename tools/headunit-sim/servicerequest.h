#pragma once

// What the host asked for in an OPEN, decoded from the service string.
// Examples, as adb 29 sends them:
//   "shell,v2,TERM=xterm,raw:getprop ro.product.model"   -> ShellV2
//   "shell:getprop"                                       -> RawShell
//   "exec:cmd package 'install' '-r' -S 3145728"          -> Install
//   "abb_exec:package\0install\0-r\0-S\0<size>\0"         -> Install
//   "sync:"                                               -> Sync

#include <QByteArray>
#include <QString>
#include <QStringList>

struct ServiceRequest {
    enum class Kind {
        ShellV2,     // shell-v2 framed stdout/stderr/exit
        RawShell,    // plain byte stream, stdout and stderr merged, no exit status
        Install,     // streamed install: exactly installSize bytes follow
        Sync,        // file sync: STAT, SEND, QUIT ... requests follow
        Unsupported, // refused with CLSE(0, host id)
    };

    Kind kind = Kind::Unsupported;
    QString service;     // the raw service string, NUL terminator removed
    QStringList options; // shell options, e.g. {"v2", "TERM=xterm", "raw"}
    bool pty = false;    // "pty" option: \n becomes \r\n and stderr joins stdout
    QString command;     // the command text (install: its argv joined by blanks)
    QStringList argv;    // the command split like sh does
    bool argvOk = true;  // false on unbalanced quoting
    qint64 installSize = -1; // the -S value, -1 when missing or malformed
};

[[nodiscard]] ServiceRequest parseServiceRequest(const QByteArray &openPayload);

// True for `cmd package install ...` and `pm install ...`.
[[nodiscard]] bool isInstallCommand(const QStringList &argv);
