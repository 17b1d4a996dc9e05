#pragma once

#include "commandrunner.h"
#include "timing.h"

#include <QString>

namespace adb {

// Whether this adb has "pair", from what "adb version" printed: adb 29 says
//     Android Debug Bridge version 1.0.41
//     Version 29.0.6-debian
// and adb 34 "Version 34.0.5-debian". Both keep server protocol 1.0.41, so only the second
// line tells; "pair" came with 30.
[[nodiscard]] bool canPair(const CommandResult &version);

// Runs "adb version" within the scan limit and applies canPair. Blocks the calling thread,
// so call it off the GUI thread.
[[nodiscard]] bool adbCanPair(const QString &resourceDir, const Timing &timing);

// How "adb pair HOST:PORT" ended. adb 34 exits 0 with "Failed: ..." as much as with
// "Successfully paired to ...", so only its words tell.
enum class PairVerdict {
    Paired,          // "Successfully paired to HOST:PORT [guid=adb-...]"
    WrongCode,       // "Failed: Wrong password or connection was dropped."
    NotStarted,      // "error: protocol fault (couldn't read status message): Success": nothing
                     // that pairs listens there
    Unsupported,     // adb 29: "adb: unknown command pair"
    TimedOut,        // our own limit ended adb
    Failed,          // anything else
};

// adb's words without the prompt that adb 34 prints, with no line end, before it reads the
// code: "Enter pairing code: Successfully paired to ...".
[[nodiscard]] QString withoutPairingPrompt(const QString &output);

// The verdict on a finished "adb pair", prompt or not.
[[nodiscard]] PairVerdict pairVerdict(const CommandResult &result);

// What one attempt came to: the verdict and adb's words, the prompt stripped.
struct PairAttempt
{
    PairVerdict verdict = PairVerdict::Failed;
    QString output;
};

// Runs "adb pair ADDRESS" within the pairing limit and types `code` and a line end on its
// stdin. The code goes nowhere else: not into the arguments, which any user of the computer
// can read in the process list, and not into the attempt, where adb's words are kept with
// every occurrence of it masked. On the calling thread; `pairAddress` must come from
// normalisedAddress.
[[nodiscard]] PairAttempt pairNetworkUnit(const QString &resourceDir, const QString &pairAddress,
                                          const QString &code, const Timing &timing);

// Why the code way can't be taken with this adb, and what to do about it; two lines.
[[nodiscard]] QString pairingUnavailableText();

// What the log says after an attempt; empty when it paired.
[[nodiscard]] QString pairLogText(const PairAttempt &attempt, const QString &pairAddress);

} // namespace adb
