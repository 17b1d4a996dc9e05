#pragma once

#include "commandrunner.h"
#include "deviceinfo.h"

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

// The three commands that change the head unit, one after another: install (or update)
// the APK; only when that exited 0, allow the app to install packages and start it. The
// launch's result is dropped: a unit without a launcher activity is still a success.
[[nodiscard]] InstallResults runInstallJob(const QString &resourceDir, const QString &serial,
                                           const QString &apkFile);

// Runs the job on a background thread and queues `completion` onto the GUI thread.
void startInstall(QObject *context, const QString &resourceDir, const DeviceInfo &device,
                  std::function<void(const InstallResults &, const DeviceInfo &)> completion);

// What the window shows once the job is done. Only exit statuses decide; the texts of a
// successful install are never shown.
struct InstallOutcome
{
    bool installed = false;   // the package is on the unit (the permission may still be missing)
    QString logText;
    QString badge;            // the badge right after the job, before the success badge
};

[[nodiscard]] InstallOutcome installOutcome(const InstallResults &results);

// The texts of the two alerts around an install.
struct AlertText
{
    QString message;
    QString informative;
};

[[nodiscard]] AlertText verificationFailedAlert();
[[nodiscard]] AlertText confirmationAlert(bool installed);

} // namespace install
