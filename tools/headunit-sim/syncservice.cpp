#include "syncservice.h"

#include <QCryptographicHash>
#include <QtEndian>

namespace {

// adbd's limits: a path longer than this, or a DATA piece larger than 64 KiB, is refused.
constexpr quint32 kMaxPathLength = 1024;
constexpr quint32 kMaxDataLength = 64 * 1024;

constexpr quint32 kRegularFile = 0100000;
constexpr quint32 kDirectory = 0040000;

// What a fresh unit has, so that `adb push f /data/local/tmp/` finds its directory.
bool isDirectory(const QString &path)
{
    static const QStringList directories{"/", "/data", "/data/local", "/data/local/tmp", "/sdcard"};
    return directories.contains(path);
}

void appendU32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

void appendU64(QByteArray &out, quint64 value)
{
    char bytes[8];
    qToLittleEndian(value, bytes);
    out.append(bytes, 8);
}

quint32 readU32(const QByteArray &bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

} // namespace

SyncSession::SyncSession(QMap<QString, PushedFile> &files)
    : m_files(files)
{
}

QList<SyncAnswer> SyncSession::feed(const QByteArray &bytes)
{
    QList<SyncAnswer> answers;
    if (m_over)
        return answers;
    m_buffer += bytes;
    bool needMore = false;
    while (!m_over && !needMore) {
        if (std::optional<SyncAnswer> answer = takeRequest(&needMore))
            answers << *answer;
    }
    return answers;
}

std::optional<SyncAnswer> SyncSession::takeRequest(bool *needMore)
{
    if (m_buffer.size() < 8) {
        *needMore = true;
        return std::nullopt;
    }
    const QByteArray id = m_buffer.left(4);
    const quint32 length = readU32(m_buffer, 4);

    if (m_sending) {
        if (id == "DONE") {
            // DONE carries the file's mtime where other requests carry a length.
            m_buffer.remove(0, 8);
            return done(length);
        }
        if (id != "DATA")
            return fail({QString::fromLatin1(id)}, QStringLiteral("invalid data message"));
        if (length > kMaxDataLength)
            return fail({QStringLiteral("DATA")}, QStringLiteral("oversize data message"));
        if (m_buffer.size() < 8 + qsizetype(length)) {
            *needMore = true;
            return std::nullopt;
        }
        m_sending->bytes += m_buffer.mid(8, length);
        m_buffer.remove(0, 8 + length);
        return std::nullopt;
    }

    const QString name = QString::fromLatin1(id);
    if (length > kMaxPathLength)
        return fail({name}, QStringLiteral("path too long"));
    if (m_buffer.size() < 8 + qsizetype(length)) {
        *needMore = true;
        return std::nullopt;
    }
    const QString path = QString::fromUtf8(m_buffer.mid(8, length));
    m_buffer.remove(0, 8 + length);

    if (id == "STAT" || id == "STA2" || id == "LST2")
        return stat(id, path);
    if (id == "SEND") {
        // "<path>,<mode>": the path itself may hold commas, the mode follows the last one.
        const qsizetype comma = path.lastIndexOf(u',');
        Sending sending;
        sending.request = path;
        sending.path = comma < 0 ? path : path.left(comma);
        sending.mode = comma < 0 ? 0644 : path.mid(comma + 1).toUInt() & 07777;
        m_sending = sending;
        return std::nullopt;
    }
    if (id == "QUIT") {
        m_over = true;
        return std::nullopt;
    }
    return fail({name, path}, QStringLiteral("unsupported sync request"));
}

SyncAnswer SyncSession::stat(const QByteArray &id, const QString &requested) const
{
    QString path = requested;
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    quint32 mode = 0;
    quint64 size = 0;
    quint32 mtime = 0;
    if (const auto file = m_files.constFind(path); file != m_files.cend()) {
        mode = kRegularFile | file->mode;
        size = quint64(file->bytes.size());
        mtime = file->mtime;
    } else if (isDirectory(path)) {
        mode = kDirectory | 0771;
    }

    SyncAnswer answer;
    answer.request = QStringList{QString::fromLatin1(id), requested};
    answer.outcome = mode == 0 ? QStringLiteral("absent") : QStringLiteral("present");
    answer.reply = id;
    if (id == "STAT") {
        // v1: mode, size, mtime; all zero means "no such file".
        appendU32(answer.reply, mode);
        appendU32(answer.reply, quint32(size));
        appendU32(answer.reply, mtime);
        return answer;
    }
    // v2: error, dev, ino, mode, nlink, uid, gid, size, atime, mtime, ctime.
    constexpr quint32 kNoSuchFile = 2;
    appendU32(answer.reply, mode == 0 ? kNoSuchFile : 0);
    appendU64(answer.reply, mode == 0 ? 0 : 0xfd00);
    appendU64(answer.reply, mode == 0 ? 0 : 4242);
    appendU32(answer.reply, mode);
    appendU32(answer.reply, mode == 0 ? 0 : 1);
    // shell (2000) owns what it pushed.
    appendU32(answer.reply, mode == 0 ? 0 : 2000);
    appendU32(answer.reply, mode == 0 ? 0 : 2000);
    appendU64(answer.reply, size);
    for (int time = 0; time < 3; ++time)
        appendU64(answer.reply, mtime);
    return answer;
}

SyncAnswer SyncSession::done(quint32 mtime)
{
    Sending sending = std::move(*m_sending);
    m_sending.reset();

    SyncAnswer answer;
    answer.request = QStringList{QStringLiteral("SEND"), sending.request};
    answer.outcome = QStringLiteral("pushed");
    answer.size = sending.bytes.size();
    answer.sha256 = QCryptographicHash::hash(sending.bytes, QCryptographicHash::Sha256).toHex();
    m_files.insert(sending.path, {std::move(sending.bytes), sending.mode, mtime});
    answer.reply = "OKAY";
    appendU32(answer.reply, 0);
    return answer;
}

SyncAnswer SyncSession::fail(const QStringList &request, const QString &message)
{
    m_over = true;
    m_sending.reset();
    m_buffer.clear();
    SyncAnswer answer;
    answer.request = request;
    answer.outcome = QStringLiteral("failed: ") + message;
    const QByteArray text = message.toUtf8();
    answer.reply = "FAIL";
    appendU32(answer.reply, quint32(text.size()));
    answer.reply += text;
    return answer;
}
