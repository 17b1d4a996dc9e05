// The installer for bench_follow's launch figure: main() as the shipped program has it, with
// the resource directory and the unit to wait for given in ZORVIK_BENCH_LAUNCH
// ("DIR\nSERIAL"). Prints the moment (CLOCK_MONOTONIC, ns) the panel shows that unit, and ends.
// It links what the installer links, its icon included, and nothing more, so that loading it
// costs the same.

#include "appdelegate.h"
#include "benchsupport.h"
#include "runinstaller.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    identifyApplication();
    const QStringList given = qEnvironmentVariable("ZORVIK_BENCH_LAUNCH").split(u'\n');
    AppDelegate app(AppDelegate::TestSetup{given.value(0), std::nullopt, /*watchDevices*/ true, {}});
    QObject::connect(&app, &AppDelegate::refreshCompleted, [&] {
        const DeviceList &ready = app.readyDevices();
        if (std::any_of(ready.cbegin(), ready.cend(), [&](const DeviceInfo &d) { return d.serial() == given.value(1); })) {
            std::printf("%lld\n", static_cast<long long>(bench::monotonicNs()));
            std::fflush(stdout);
            std::_Exit(0);
        }
    });
    QTimer::singleShot(0, &app, &AppDelegate::applicationDidFinishLaunching);
    QTimer::singleShot(30000, [] { std::_Exit(1); });
    return QApplication::exec();
}
