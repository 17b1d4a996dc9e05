#pragma once

#include "commandrunner.h"
#include "deviceinfo.h"
#include "timing.h"

#include <QObject>
#include <QString>

#include <functional>

namespace install {

// What the install job brings back. The grant result stays (0, "") when the permission
// command was not run because the install failed.
struct InstallResults
{
    adb::CommandResult install;
    adb::CommandResult grant;
};

// Whether adb's answer to "install -r APK" means the package is on the unit. The status
// alone can't tell: a unit without shell_v2 (Android 6 and older) gets the APK pushed and
// "pm install" run over the old shell service, which carries no exit status, so adb exits
// 0 after printing
//     Performing Push Install
//     /path/ZorvikStore.apk: 1 file pushed, 0 skipped. 16.3 MB/s (12761 bytes in 0.001s)
//     Failure [INSTALL_FAILED_INSUFFICIENT_STORAGE]
// and, when the cable is pulled mid-install, with no verdict at all. So it takes status 0,
// a line that reads "Success" and no line that begins with "Failure".
[[nodiscard]] bool installSucceeded(const adb::CommandResult &result);

// Whether "appops set ... allow" gave the permission: status 0 and no output. appops prints
// nothing when it works; over the old shell service its refusals ("Error: Unknown operation
// string: REQUEST_INSTALL_PACKAGES", a SecurityException) come with status 0 too.
[[nodiscard]] bool grantSucceeded(const adb::CommandResult &result);

// The three commands that change the head unit, one after another: install (or update)
// the APK; only when that succeeded, allow the app to install packages and start it. The
// launch's result is dropped: a unit without a launcher activity is still a success.
// Raising `stop` ends the command that runs and skips those still to come. The permission
// and the launch end after `timing.appopsMs` and `timing.monkeyMs`; the install has no
// limit of its own, as a big APK over a slow link may need minutes.
[[nodiscard]] InstallResults runInstallJob(const QString &resourceDir, const QString &serial,
                                           const QString &apkFile, const adb::StopFlag &stop = {},
                                           const adb::Timing &timing = {});

// Runs the job on a background thread and queues `completion` onto the GUI thread.
void startInstall(QObject *context, const QString &resourceDir, const DeviceInfo &device,
                  std::function<void(const InstallResults &, const DeviceInfo &)> completion,
                  const adb::StopFlag &stop = {}, const adb::Timing &timing = {});

// What the window shows once the job is done, decided by installSucceeded and
// grantSucceeded; the texts of a successful install are never shown. A permission command
// ended by its limit is a permission not given, told by the limit in place of adb's words. A failure that car
// owners meet often (a newer app on the car, a full unit, another signature, ...) gets a
// plain explanation under the header, then a blank line, then adb's words unchanged so
// that they can still be copied. `sdk` is the unit's ro.build.version.sdk as probed.
struct InstallOutcome
{
    bool installed = false;   // the package is on the unit (the permission may still be missing)
    QString logText;
    QString badge;            // the badge right after the job, before the success badge
};

[[nodiscard]] InstallOutcome installOutcome(const InstallResults &results, const QString &sdk);

// What the window knows of the unit's connection while its install ran.
struct ConnectionFacts
{
    bool cutOff = false;          // the job was ended after the unit was gone too long
    bool wasMissing = false;      // at some moment the unit was not listed as "device"
    bool listedNow = true;        // it is listed as "device" now
};

// Whether the install is to be told as a lost connection. Never when adb printed the
// unit's "Success". Otherwise when the job was cut off; or the
// install failed while the unit was not listed as "device" (a streamed install whose
// cable was pulled prints only "adb: failed to install …: "); or the unit went away at
// some moment and adb's words hold no verdict, as when an older unit came back and adb
// only removed the pushed file. This wins over every other reading of the failure.
[[nodiscard]] bool connectionLost(const InstallResults &results, const ConnectionFacts &facts);
[[nodiscard]] InstallOutcome lostConnectionOutcome();

// The texts of the alerts around an install.
struct AlertText
{
    QString message;
    QString informative;
};

[[nodiscard]] AlertText verificationFailedAlert();
[[nodiscard]] AlertText confirmationAlert(bool installed);
// Asked when the window is closed while the install job runs.
[[nodiscard]] AlertText closeDuringInstallAlert();

} // namespace install
