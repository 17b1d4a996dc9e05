#pragma once

#include "commandrunner.h"

#include <QString>

#include <optional>

namespace adb {

// The port adbd listens on when none is given.
inline constexpr int kDefaultAdbPort = 5555;

// What the person typed as a unit's network address, as the one HOST:PORT text handed to
// adb, or nothing when it is not an address. After trimming it is an IPv4 address (four
// numbers 0-255 without leading zeros: the resolver reads "050" as octal), a host name
// (letters, digits and '-', no label starting or ending with '-', at most 253 characters,
// the last label neither all digits nor "0x..." , which the resolver would take for a
// number) or an IPv6 address in brackets, optionally followed by ":PORT" (1-65535, no
// leading zero). Anything else never reaches adb: blanks, quotes, ';', '/', a scheme.
[[nodiscard]] std::optional<QString> normalisedAddress(const QString &text);

// How "adb connect HOST:PORT" ended. adb exits 0 whether or not it connected, so only its
// words tell; on a cold server they begin with "* daemon ..." lines, so every line counts.
enum class ConnectVerdict {
    Connected,            // "connected to HOST:PORT"
    AlreadyConnected,     // "already connected to HOST:PORT": connected only if listed as device
    NeedsAuthorization,   // "failed to authenticate to HOST:PORT": the car shows its question
    Failed,               // anything else
    TimedOut,             // our own limit ended adb
};
[[nodiscard]] ConnectVerdict connectVerdict(const CommandResult &result);

// What one attempt came to: the verdict (AlreadyConnected resolved either way) and adb's words.
struct ConnectAttempt
{
    ConnectVerdict verdict = ConnectVerdict::Failed;
    QString output;
};

// Runs "adb connect ADDRESS" within `timeLimitMs`, checks an "already connected" against
// "adb devices", and after any ending but a connection or an authorization question runs
// "adb disconnect ADDRESS", which only drops the entry from this computer's list (a failed
// handshake would leave it "offline", and the next try would print "already connected").
// On the calling thread; `address` must come from normalisedAddress.
[[nodiscard]] ConnectAttempt connectNetworkUnit(const QString &resourceDir, const QString &address,
                                                int timeLimitMs);

// How long an attempt may take before adb is ended: a host that never answers TCP would
// keep adb waiting for the system's connect timeout, about two minutes.
inline constexpr int kConnectLimitMs = 15000;

// What to do when a unit reached over Wi-Fi waits for the person's "Allow": there is no
// cable to plug in, and the unit shows its question on its own screen.
[[nodiscard]] QString networkAuthorizationText();

// What the log says after an attempt; empty when it connected.
[[nodiscard]] QString connectLogText(const ConnectAttempt &attempt, const QString &address);

} // namespace adb
