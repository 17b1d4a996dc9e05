#pragma once

// Shell protocol v2 framing inside a stream: [id:u8][len:u32 LE][len bytes].
// Only the device's side is built here; what the host sends (stdin, close-stdin,
// window size) is acknowledged and dropped because no simulated command reads stdin.

#include <QByteArray>
#include <QtGlobal>

namespace shellv2 {

enum PacketId : quint8 {
    Stdin = 0,
    Stdout = 1,
    Stderr = 2,
    Exit = 3,
    CloseStdin = 4,
    WindowSizeChange = 5,
};

[[nodiscard]] QByteArray encode(PacketId id, const QByteArray &data);

// What adbd sends for a finished command: stdout, stderr (each only when non-empty),
// then the exit packet whose one byte becomes adb's own exit status.
[[nodiscard]] QByteArray encodeCommandReply(const QByteArray &out, const QByteArray &err,
                                            int exitCode);

} // namespace shellv2
