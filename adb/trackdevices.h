#pragma once

#include "deviceinfo.h"

#include <QByteArrayView>

namespace adb {

// The longest message "adb track-devices" can send: four hex digits and their payload.
inline constexpr qsizetype kMaxTrackedMessage = 4 + 0xFFFF;

// One step over the bytes "adb track-devices" wrote. It writes one message per change of
// the listing, with nothing between them: four hex digits giving the payload's length
// (lower case from adb, either case accepted), then the payload, one
// "SERIAL<TAB>STATE<LF>" per unit; "0000" when nothing is listed:
//     0018127.0.0.1:42841\toffline\n0000
struct TrackedStep
{
    enum class Kind {
        Incomplete,   // no whole message yet: read more
        Message,      // `listing` holds it; drop `consumed` bytes
        Malformed,    // not adb's stream: drop it all and start again
    };
    Kind kind = Kind::Incomplete;
    qsizetype consumed = 0;
    DeviceList listing;
};

// Takes the first message off the front of `bytes`. A length that is not four hex digits
// or a payload that is not UTF-8 makes the stream Malformed; a line without a TAB is
// skipped, as in "adb devices".
[[nodiscard]] TrackedStep takeTrackedMessage(QByteArrayView bytes);

// Whether two listings hold the same serials in the same states, in any order.
[[nodiscard]] bool sameListing(const DeviceList &a, const DeviceList &b);

// Whether the unit `serial` is listed, and as "device".
[[nodiscard]] bool listedAsDevice(const DeviceList &listing, const QString &serial);

// A unit reached over the network: adb names it HOST:PORT ("192.168.1.50:5555",
// "[fe80::1]:5555"). USB serials hold no colon.
[[nodiscard]] bool isNetworkSerial(const QString &serial);

} // namespace adb
