#include "pushedfiles.h"

#include <QCryptographicHash>

namespace {

CommandResult pmInstall(const QString &path, const Profile &profile, DeviceState &state)
{
    CommandResult result;
    result.installOutcome = QStringLiteral("install failure");
    const auto file = state.files.constFind(path);
    if (file == state.files.cend()) {
        // What pm before Android 7 says when it cannot open the file it was given.
        result.err = "Failure [INSTALL_FAILED_INVALID_URI]\n";
        result.exitCode = 1;
        return result;
    }
    result.installSize = file->bytes.size();
    result.installSha256 = QCryptographicHash::hash(file->bytes, QCryptographicHash::Sha256).toHex();
    if (!profile.installFailure.isEmpty()) {
        result.err = "Failure [" + profile.installFailure.toUtf8() + "]\n";
        result.exitCode = 1;
        return result;
    }
    state.appInstalled = true;
    result.installOutcome = QStringLiteral("install success");
    result.out = "Success\n";
    return result;
}

CommandResult rm(const QStringList &paths, DeviceState &state)
{
    CommandResult result;
    for (const QString &path : paths) {
        if (state.files.remove(path) == 0) {
            result.err += "rm: " + path.toUtf8() + ": No such file or directory\n";
            result.exitCode = 1;
        }
    }
    return result;
}

} // namespace

std::optional<CommandResult> runPushedFileCommand(const QStringList &argv, const Profile &profile,
                                                  DeviceState &state)
{
    if (argv.size() >= 3 && argv.at(0) == u"pm" && argv.at(1) == u"install"
        && !argv.last().startsWith(u'-'))
        return pmInstall(argv.last(), profile, state);
    if (argv.size() >= 2 && argv.at(0) == u"rm") {
        // The word splitter knows no redirection: adb's "</dev/null" arrives as a word.
        QStringList paths;
        for (const QString &word : argv.mid(1)) {
            if (!word.startsWith(u'<') && !word.startsWith(u'-'))
                paths << word;
        }
        return rm(paths, state);
    }
    return std::nullopt;
}
