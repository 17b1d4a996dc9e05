#pragma once

#include <chrono>

namespace adb {

// Every time limit and interval of the installer's work with adb, in one place. The shipped
// program keeps these values; tests shorten them, so that minutes of a unit's life run in
// seconds. No adb command runs without a limit but "install", which a big APK over a slow
// link may need minutes for: the lost-unit rule covers a unit that goes away meanwhile.
struct Timing
{
    // Each command of a scan: start-server, devices, every probe; also the connector's
    // devices and disconnect, and "adb version".
    int scanCommandMs = 10000;
    // "adb connect" the person asked for, and the quiet try of the remembered address at launch.
    int connectMs = 15000;
    int quietConnectMs = 5000;
    // "adb pair", the code typed on its standard input.
    int pairMs = 20000;
    // The permission and the launch after an install.
    int appopsMs = 30000;
    int monkeyMs = 30000;

    // How long the unit being installed may be unlisted before its install is given up, and
    // how long a failed install waits for the next listing before it is told.
    int lostUnitMs = 15000;
    int failureDecisionMs = 2000;
    // How long an install runs before the log points at the car's screen.
    std::chrono::milliseconds longInstallHint{30000};

    // The watcher: "adb devices" compared every fastPollMs while something is in motion,
    // every slowPollMs while a state other than "device" is older than transitionalMs, each
    // comparison ended after pollLimitMs; the stream restarted after restartFirstMs,
    // doubling up to restartMaxMs.
    int pollFastMs = 1000;
    int pollSlowMs = 5000;
    int transitionalMs = 60000;
    int pollLimitMs = 5000;
    int restartFirstMs = 1000;
    int restartMaxMs = 30000;
};

} // namespace adb
