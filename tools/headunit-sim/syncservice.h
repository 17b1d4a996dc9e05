#pragma once

// The file sync service (`sync:`) as adb 29 uses it to push an APK to a unit without
// `cmd` (an Android 6 unit). Every request is id[4] + u32 LE + data:
//   STAT / STA2 / LST2 <path>              -> mode, size and mtime, or "absent"
//   SEND <path>,<mode> DATA <n> ... DONE <mtime> -> OKAY once DONE arrived; the file is kept
//   QUIT                                   -> the session is over, no answer
// Anything else gets FAIL and ends the session, as adbd does.

#include "devicecontext.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

struct SyncAnswer {
    QByteArray reply;    // the bytes for the host
    QStringList request; // for the log, e.g. {"STA2", "/data/local/tmp/a.apk"}
    QString outcome;     // "absent", "present", "pushed" or "failed: <message>"
    qint64 size = -1;    // pushed: bytes kept
    QByteArray sha256;   // pushed: their digest, lower-case hex
};

class SyncSession
{
public:
    // Pushed files land in `files`, which must outlive the session.
    explicit SyncSession(QMap<QString, PushedFile> &files);

    // Host bytes, cut anywhere; returns the answers to the requests they complete.
    [[nodiscard]] QList<SyncAnswer> feed(const QByteArray &bytes);
    // After QUIT or a FAIL nothing more is read: the stream should close.
    [[nodiscard]] bool isOver() const { return m_over; }
    // No request half read and no SEND waiting for its DONE.
    [[nodiscard]] bool isIdle() const { return m_buffer.isEmpty() && !m_sending; }

private:
    struct Sending {
        QString request; // "<path>,<mode>" as sent
        QString path;
        quint32 mode = 0;
        QByteArray bytes;
    };

    // The next request's answer; nullopt when more bytes are needed or nothing is
    // answered (DATA, QUIT).
    std::optional<SyncAnswer> takeRequest(bool *needMore);
    SyncAnswer stat(const QByteArray &id, const QString &path) const;
    SyncAnswer done(quint32 mtime);
    SyncAnswer fail(const QStringList &request, const QString &message);

    QMap<QString, PushedFile> &m_files;
    QByteArray m_buffer;
    std::optional<Sending> m_sending;
    bool m_over = false;
};
