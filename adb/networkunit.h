#pragma once

#include "commandrunner.h"
#include "deviceinfo.h"
#include "timing.h"

#include <QString>

#include <optional>

namespace adb {

// The port adbd listens on when none is given.
inline constexpr int kDefaultAdbPort = 5555;

// Whether an address may leave out its port. Android 11's wireless debugging listens on a
// random port for pairing and another for connecting, never on 5555, so there it must be typed.
enum class PortRule { DefaultsTo5555, Required };

// What the person typed as a unit's network address, as the one HOST:PORT text handed to
// adb, or nothing when it is not an address. After trimming it is an IPv4 address (four
// numbers 0-255 without leading zeros: the resolver reads "050" as octal), a host name
// (letters, digits and '-', no label starting or ending with '-', at most 253 characters,
// the last label neither all digits nor "0x..." , which the resolver would take for a
// number) or an IPv6 address in brackets, optionally followed by ":PORT" (1-65535, no
// leading zero). Anything else never reaches adb: blanks, quotes, ';', '/', a scheme.
[[nodiscard]] std::optional<QString> normalisedAddress(const QString &text,
                                                       PortRule port = PortRule::DefaultsTo5555);

// Why the address field's text is refused, for the line under the field; empty while the
// text passes or is blank. A Russian keyboard's numeric pad types "192,168,1,50", so commas
// get their own answer, with the text mended when dots alone would make it pass.
[[nodiscard]] QString addressRefusal(const QString &text, PortRule port = PortRule::DefaultsTo5555);

// The pairing code a unit shows for wireless debugging: exactly six digits.
[[nodiscard]] bool isPairingCode(const QString &text);

// How "adb connect HOST:PORT" ended. adb exits 0 whether or not it connected, so only its
// words tell; on a cold server they begin with "* daemon ..." lines, so every line counts.
enum class ConnectVerdict {
    Connected,            // "connected to HOST:PORT"
    AlreadyConnected,     // "already connected to HOST:PORT": see listedConnection
    NeedsAuthorization,   // "failed to authenticate to HOST:PORT": the car shows its question
    Failed,               // anything else
    TimedOut,             // our own limit ended adb
};
[[nodiscard]] ConnectVerdict connectVerdict(const CommandResult &result);

// What an "already connected to HOST:PORT" means, by the state "adb devices" lists for that
// address. adb says it for any entry it still holds, whatever the entry's state:
//     127.0.0.1:34137	unauthorized     a unit that still waits for the person's "Allow"
//     127.0.0.1:34137	offline          the leftover of a link that dropped
enum class ListedConnection {
    Ready,              // "device"
    WaitingForAllow,    // "unauthorized", or adb 34's "authorizing"
    Stale,              // "offline": drop the entry and connect afresh
    Unusable,           // not listed, or any other state
};
[[nodiscard]] ListedConnection listedConnection(const DeviceList &listing, const QString &address);

// What one attempt came to and adb's words. The verdict is never AlreadyConnected: that is
// resolved by the listing into one of the others.
struct ConnectAttempt
{
    ConnectVerdict verdict = ConnectVerdict::Failed;
    QString output;
};

// Runs "adb connect ADDRESS" within `connectLimitMs` and judges an "already connected" by
// listedConnection. A stale entry is disconnected and connected once more, the whole within
// the same limit. After any ending but a connection or a unit waiting for "Allow" it runs
// "adb disconnect ADDRESS", which only drops the entry from this computer's list (a failed
// handshake would leave it "offline", and the next try would print "already connected").
// "devices" and "disconnect" run within `timing.scanCommandMs`. On the calling thread;
// `address` must come from normalisedAddress.
[[nodiscard]] ConnectAttempt connectNetworkUnit(const QString &resourceDir, const QString &address,
                                                const Timing &timing, int connectLimitMs);



// What to do when a unit reached over Wi-Fi waits for the person's "Allow": there is no
// cable to plug in, and the unit shows its question on its own screen.
[[nodiscard]] QString networkAuthorizationText();

// What a failed connect's adb words mean for the person, matched anywhere in them, as both
// adb 29 and 34 put the address before the reason:
//     failed to connect to '192.168.1.50:5555': Connection refused
[[nodiscard]] QString connectFailureExplanation(const QString &output);

// What the log says after an attempt; empty when it connected.
[[nodiscard]] QString connectLogText(const ConnectAttempt &attempt, const QString &address);

// The progress line once a unit is connected, until the scan shows it.
[[nodiscard]] QString connectedText(const QString &address);

} // namespace adb
