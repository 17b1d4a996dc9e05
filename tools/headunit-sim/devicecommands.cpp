#include "devicecommands.h"

namespace {

QByteArray line(const QString &text)
{
    return text.toUtf8() + '\n';
}

CommandResult notFound(const QString &program)
{
    CommandResult result;
    result.err = line(QStringLiteral("/system/bin/sh: %1: inaccessible or not found").arg(program));
    result.exitCode = 127;
    return result;
}

// "getprop" -> "[name]: [value]" lines sorted by name; "getprop NAME [DEFAULT]" -> value.
CommandResult getprop(const QStringList &argv, const Profile &profile)
{
    const QMap<QString, QString> props = profile.properties();
    CommandResult result;
    if (argv.size() == 1) {
        for (auto it = props.cbegin(); it != props.cend(); ++it)
            result.out += line(QStringLiteral("[%1]: [%2]").arg(it.key(), it.value()));
        return result;
    }
    if (argv.size() > 3)
        return notFound(argv.first());
    result.out = line(props.value(argv.at(1), argv.value(2)));
    return result;
}

// "wm size" -> "Physical size: 1920x720" [+ "Override size: WxH"], same for density.
CommandResult wm(const QStringList &argv, const Profile &profile)
{
    CommandResult result;
    if (argv == QStringList{QStringLiteral("wm"), QStringLiteral("size")}) {
        result.out = line(QStringLiteral("Physical size: ") + profile.size);
        if (!profile.sizeOverride.isEmpty())
            result.out += line(QStringLiteral("Override size: ") + profile.sizeOverride);
        return result;
    }
    if (argv == QStringList{QStringLiteral("wm"), QStringLiteral("density")}) {
        result.out = line(QStringLiteral("Physical density: %1").arg(profile.density));
        if (profile.densityOverride > 0)
            result.out += line(QStringLiteral("Override density: %1").arg(profile.densityOverride));
        return result;
    }
    return notFound(argv.first());
}

// "pm path P" / "cmd package path P": the APK path, or nothing and status 1 (Android 11).
CommandResult pmPath(const QString &package, const Profile &profile, bool appInstalled)
{
    CommandResult result;
    if (appInstalled && package == profile.packageName)
        result.out = line(QStringLiteral("package:") + installedApkPath(package));
    else
        result.exitCode = 1;
    return result;
}

// "appops set P OP MODE": silent success, or the error a locked-down unit gives. Android 6
// does not know REQUEST_INSTALL_PACKAGES at all; newer units refuse the shell user.
CommandResult appopsSet(const QStringList &argv, const Profile &profile)
{
    CommandResult result;
    if (profile.appopsFailure) {
        result.err = profile.legacy
                         ? line(QStringLiteral("Error: Unknown operation string: ") + argv.at(3))
                         : line(QStringLiteral("Error: java.lang.SecurityException: uid 2000 does not "
                                               "have android.permission.MANAGE_APP_OPS_MODES."));
        result.exitCode = 255;
    }
    return result;
}

// "monkey -p P -c android.intent.category.LAUNCHER 1": monkey echoes its arguments, then
// reports the injected event. A package without a launcher activity aborts with 251.
CommandResult monkey(const QStringList &argv, const Profile &profile, bool appInstalled)
{
    const qsizetype packageAt = argv.indexOf(QStringLiteral("-p"));
    if (packageAt < 0 || packageAt + 1 >= argv.size())
        return notFound(argv.first());
    const QString package = argv.at(packageAt + 1);
    const QStringList args = argv.mid(1);

    CommandResult result;
    for (const QString &arg : args)
        result.out += line(QStringLiteral("  bash arg: ") + arg);
    if (package != profile.packageName || !appInstalled) {
        result.err = line(QStringLiteral("** No activities found to run, monkey aborted."));
        result.exitCode = 251;
        return result;
    }
    result.out += line(QStringLiteral("args: [%1]").arg(args.join(QStringLiteral(", "))));
    result.out += line(QStringLiteral("Events injected: 1"));
    result.out += line(QStringLiteral("## Network stats: elapsed time=12ms (0ms mobile, 0ms wifi, "
                                      "12ms not connected)"));
    result.launchedPackage = package;
    return result;
}

} // namespace

QString installedApkPath(const QString &packageName)
{
    return QStringLiteral("/data/app/%1-1/base.apk").arg(packageName);
}

CommandResult shellSyntaxError()
{
    CommandResult result;
    result.err = line(QStringLiteral("/system/bin/sh: syntax error: unterminated quoted string"));
    result.exitCode = 1;
    return result;
}

CommandResult runDeviceCommand(const QStringList &argv, const Profile &profile, bool appInstalled)
{
    if (argv.isEmpty())
        return {};
    const QString &program = argv.first();

    if (program == u"getprop")
        return getprop(argv, profile);
    if (program == u"wm")
        return wm(argv, profile);
    if (argv.size() == 3 && program == u"pm" && argv.at(1) == u"path")
        return pmPath(argv.at(2), profile, appInstalled);
    if (argv.size() == 4 && program == u"cmd" && argv.at(1) == u"package" && argv.at(2) == u"path")
        return pmPath(argv.at(3), profile, appInstalled);
    if (argv.size() == 5 && program == u"appops" && argv.at(1) == u"set")
        return appopsSet(argv, profile);
    if (program == u"monkey")
        return monkey(argv, profile, appInstalled);
    return notFound(program);
}
