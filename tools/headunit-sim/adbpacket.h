#pragma once

// adb transport framing: a 24-byte header of six little-endian u32
// (command, arg0, arg1, data_length, data_check, magic) followed by the payload.

#include <QByteArray>
#include <QtGlobal>

#include <optional>

namespace adbwire {

enum Command : quint32 {
    Cnxn = 0x4E584E43,
    Auth = 0x48545541,
    Open = 0x4E45504F,
    Okay = 0x59414B4F,
    Wrte = 0x45545257,
    Clse = 0x45534C43,
};

enum AuthType : quint32 {
    AuthToken = 1,
    AuthSignature = 2,
    AuthRsaPublicKey = 3,
};

inline constexpr quint32 kVersion = 0x01000001;
inline constexpr quint32 kDeviceMaxPayload = 262144;
inline constexpr qsizetype kHeaderSize = 24;
// adb's own MAX_PAYLOAD; anything larger is not adb talking, so the connection is dropped.
inline constexpr quint32 kLargestAcceptedPayload = 1024 * 1024;

struct Packet {
    quint32 command = 0;
    quint32 arg0 = 0;
    quint32 arg1 = 0;
    QByteArray payload;
};

// Header + payload, with data_check set to the byte sum (harmless, the host ignores it).
[[nodiscard]] QByteArray encodePacket(const Packet &packet);

// Cuts a byte stream into packets. Only the magic field is checked: data_check is
// 0 from the host after the handshake, so it is ignored.
class PacketReader
{
public:
    void feed(const QByteArray &bytes);
    // The next complete packet; nullopt when more bytes are needed or the stream is corrupt.
    [[nodiscard]] std::optional<Packet> next();
    // Bad magic or an impossible length: the peer is not adb and the connection should go.
    [[nodiscard]] bool isCorrupt() const { return m_corrupt; }

private:
    QByteArray m_buffer;
    qsizetype m_offset = 0;
    bool m_corrupt = false;
};

} // namespace adbwire
