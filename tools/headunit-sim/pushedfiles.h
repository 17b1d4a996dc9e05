#pragma once

// The commands of an older unit that work on what adb pushed over sync:
// (an Android 6 unit, whose banner lists no features). adb 29 installs on such a unit with
//   shell:pm 'install' '-r' '/data/local/tmp/f.apk'
//   shell:rm '/data/local/tmp/f.apk' </dev/null
// pm answers "Success" (then the app is installed) or "Failure [<installFailure>]"; a path
// that was never pushed fails the way pm fails on a missing file.

#include "devicecommands.h"
#include "devicecontext.h"

#include <optional>

// The answer for `pm install [options] PATH` or `rm PATH`, which change `state`;
// nullopt for every other command.
[[nodiscard]] std::optional<CommandResult> runPushedFileCommand(const QStringList &argv,
                                                                const Profile &profile,
                                                                DeviceState &state);
