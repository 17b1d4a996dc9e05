#pragma once

// The answers of the head unit's shell commands that the installer runs:
// getprop, wm size/density, pm path, appops set, monkey.
// Pure: the caller passes the profile and whether the app is installed, and records
// the launch itself.

#include "profile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

struct CommandResult {
    QByteArray out;
    QByteArray err;
    int exitCode = 0;
    QString launchedPackage; // set when monkey started an app
    // pm install of a pushed file: "install success" or "install failure" for the log,
    // with the size and SHA-256 (lower-case hex) of the file it was given, when there was one.
    QString installOutcome;
    qint64 installSize = -1;
    QByteArray installSha256;
};

// argv is the command line after sh word splitting; an empty argv is an empty command.
// Anything not simulated, unsupported sub-commands of the known tools included,
// answers like a missing binary: "/system/bin/sh: X: inaccessible or not found", 127.
[[nodiscard]] CommandResult runDeviceCommand(const QStringList &argv, const Profile &profile,
                                             bool appInstalled);

// mksh's answer to unbalanced quotes.
[[nodiscard]] CommandResult shellSyntaxError();

// The path `pm path` prints for an installed package, "/data/app/<package>-1/base.apk".
[[nodiscard]] QString installedApkPath(const QString &packageName);
