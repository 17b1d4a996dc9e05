#include "adbpacket.h"

#include <QtEndian>

namespace adbwire {

namespace {

void appendU32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

quint32 readU32(const char *at)
{
    return qFromLittleEndian<quint32>(at);
}

} // namespace

QByteArray encodePacket(const Packet &packet)
{
    quint32 sum = 0;
    for (const char byte : packet.payload)
        sum += static_cast<quint8>(byte);

    QByteArray out;
    out.reserve(kHeaderSize + packet.payload.size());
    appendU32(out, packet.command);
    appendU32(out, packet.arg0);
    appendU32(out, packet.arg1);
    appendU32(out, static_cast<quint32>(packet.payload.size()));
    appendU32(out, sum);
    appendU32(out, packet.command ^ 0xFFFFFFFFu);
    out.append(packet.payload);
    return out;
}

void PacketReader::feed(const QByteArray &bytes)
{
    if (m_offset > 0) {
        m_buffer.remove(0, m_offset);
        m_offset = 0;
    }
    m_buffer.append(bytes);
}

std::optional<Packet> PacketReader::next()
{
    if (m_corrupt || m_buffer.size() - m_offset < kHeaderSize)
        return std::nullopt;

    const char *header = m_buffer.constData() + m_offset;
    const quint32 command = readU32(header);
    const quint32 length = readU32(header + 12);
    const quint32 magic = readU32(header + 20);
    if (magic != (command ^ 0xFFFFFFFFu) || length > kLargestAcceptedPayload) {
        m_corrupt = true;
        return std::nullopt;
    }
    if (m_buffer.size() - m_offset < kHeaderSize + qsizetype(length))
        return std::nullopt;

    Packet packet;
    packet.command = command;
    packet.arg0 = readU32(header + 4);
    packet.arg1 = readU32(header + 8);
    packet.payload = m_buffer.mid(m_offset + kHeaderSize, length);
    m_offset += kHeaderSize + length;
    return packet;
}

} // namespace adbwire
