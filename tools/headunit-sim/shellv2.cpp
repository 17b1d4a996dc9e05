#include "shellv2.h"

#include <QtEndian>

namespace shellv2 {

QByteArray encode(PacketId id, const QByteArray &data)
{
    QByteArray out;
    out.reserve(5 + data.size());
    out.append(static_cast<char>(id));
    char length[4];
    qToLittleEndian(static_cast<quint32>(data.size()), length);
    out.append(length, 4);
    out.append(data);
    return out;
}

QByteArray encodeCommandReply(const QByteArray &out, const QByteArray &err, int exitCode)
{
    QByteArray reply;
    if (!out.isEmpty())
        reply += encode(Stdout, out);
    if (!err.isEmpty())
        reply += encode(Stderr, err);
    reply += encode(Exit, QByteArray(1, static_cast<char>(exitCode & 0xFF)));
    return reply;
}

} // namespace shellv2
