// Following the cable: the time from a unit's handshake to the filled panel, with no click,
// against the same scan commands run back to back from a shell. Through the real adb, on a
// private adb server, and a simulated unit (tools/headunit-sim).
//
// A repetition connects the unit; a thread of its own runs "adb connect" and
// "adb wait-for-device", which returns once adb lists the unit as "device", and stamps that
// moment. The program's watcher notices the change by itself, and the moment its scan
// completes with the unit shown ends the figure. The shell then runs "adb start-server",
// "adb devices" and the eight probes in one "sh -c", the same ten go once more through
// adb::run in a loop, and the unit is disconnected again. The stream reports a new unit as
// "offline" before its handshake, so the program's scan may start before the handshake.
//
// Then the launch: from starting the installer's process until its panel shows the unit,
// against a bare 980x650 window plus the same scan commands from a shell; the fastest of
// nine runs of each. The installer runs as bench_launchchild, which builds the AppDelegate as
// main() does, with the watcher on, and links no more than the installer does.
//
//   bench_follow [repetitions]        (default 15; runs offscreen)

#include "appdelegate.h"
#include "benchsupport.h"
#include "commandrunner.h"
#include "simharness.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

namespace {

// Runs the event loop until `done` holds or `ms` have passed; returns whether it held.
template <typename Condition>
bool spinUntil(Condition done, int ms)
{
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    tick.start(1);
    loop.exec();
    return done();
}

bool shows(const AppDelegate &app, const QString &serial)
{
    const DeviceList &ready = app.readyDevices();
    return std::any_of(ready.cbegin(), ready.cend(), [&](const DeviceInfo &d) { return d.serial() == serial; });
}

QString shellLine(const QList<QStringList> &commands)
{
    QStringList lines;
    for (const QStringList &arguments : commands)
        lines << QStringLiteral("'%1' %2 >/dev/null 2>&1").arg(QStringLiteral(ZORVIK_REAL_ADB), arguments.join(u' '));
    return lines.join(QStringLiteral("; "));
}

const char *const kLaunchChild = "ZORVIK_BENCH_LAUNCH";

// Starts `program` with `arguments` and returns the ms until the CLOCK_MONOTONIC stamp it
// prints, or, without one, until it ends; -1 when it fails.
double timedRun(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                bool stamped)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    const std::int64_t start = bench::monotonicNs();
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return -1;
    const std::int64_t end = stamped ? process.readAllStandardOutput().trimmed().toLongLong() : bench::monotonicNs();
    return end > start ? double(end - start) / 1e6 : -1;
}

// The launch figure; the unit is attached and shown.
int measureLaunch(const QString &resourceDir, const QString &serial, const QString &shellScan)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcessEnvironment child = environment;
    child.insert(QString::fromLatin1(kLaunchChild), resourceDir + u'\n' + serial);
    double program = 1e9, bare = 1e9, shell = 1e9;
    for (int i = 0; i < 9; ++i) {
        const double p = timedRun(QStringLiteral(LAUNCH_CHILD_PATH), {}, child, true);
        const double b = timedRun(QStringLiteral(BARE_WINDOW_PATH), {}, environment, true);
        const double s = timedRun(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), shellScan + QStringLiteral("; true")}, environment, false);
        if (p < 0 || b < 0 || s < 0) {
            std::fprintf(stderr, "launch run %d failed (%.1f, %.1f, %.1f)\n", i + 1, p, b, s);
            return 1;
        }
        program = std::min(program, p);
        bare = std::min(bare, b);
        shell = std::min(shell, s);
    }
    std::printf("launch to filled panel, fastest of 9 (ms): program %.1f, bare window %.1f + shell %.1f = %.1f\n",
                program, bare, shell, bare + shell);
    std::printf("launch / (bare window + shell) %.3f (aim <= 1.15)\n", program / (bare + shell));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int repetitions = argc > 1 ? std::max(3, atoi(argv[1])) : 15;

    AdbServerSandbox sandbox;
    SimulatedUnit unit;
    const QString serial = unit.serial();
    QTemporaryDir dir;
    if (!dir.isValid() || !QFile::link(QStringLiteral(ZORVIK_REAL_ADB), dir.filePath(QStringLiteral("adb")))
        || !QFile::link(QStringLiteral(ZORVIK_SAMPLE_APK), dir.filePath(QStringLiteral("ZorvikStore.apk")))) {
        std::fprintf(stderr, "cannot lay out the resource directory\n");
        return 1;
    }

    AppDelegate app(AppDelegate::TestSetup{dir.path(), std::nullopt, /*watchDevices*/ true, {}});
    std::int64_t filledAt = 0;
    QObject::connect(&app, &AppDelegate::refreshCompleted, [&] {
        if (filledAt == 0 && shows(app, serial))
            filledAt = bench::monotonicNs();
    });
    int completions = 0;
    QObject::connect(&app, &AppDelegate::refreshCompleted, [&] { ++completions; });
    app.applicationDidFinishLaunching();
    if (!spinUntil([&] { return completions > 0; }, 30000)) {
        std::fprintf(stderr, "the launch scan did not come back\n");
        return 1;
    }
    const QString shellScan = shellLine(bench::scanCommands({serial}));

    std::printf("handshake to filled panel vs the same scan from a shell, %d repetitions (ms)\n", repetitions);
    // "program": handshake to filled panel; "connect": the same from the start of "adb connect";
    // "completions": scans completed between the start of "adb connect" and the filled panel.
    std::printf("%4s %10s %10s %10s %10s %8s %12s\n", "rep", "program", "connect", "shell", "adb::run", "ratio", "completions");
    QList<double> program, fromConnect, shell, runLoop;
    for (int i = 0; i < repetitions; ++i) {
        // Quiet first: the unit gone from the panel and no scan for a while.
        spinUntil([] { return false; }, 1500);
        filledAt = 0;
        completions = 0;
        std::atomic<std::int64_t> handshakeAt = 0;
        const std::int64_t connectAt = bench::monotonicNs();
        std::thread connector([&] {
            if (sandbox.attach(unit))
                handshakeAt = bench::monotonicNs();
            else
                handshakeAt = -1;
        });
        const bool filled = spinUntil([&] { return filledAt != 0 && handshakeAt != 0; }, 30000);
        connector.join();
        if (!filled || handshakeAt < 0) {
            std::fprintf(stderr, "repetition %d: the unit was not %s\n", i + 1, handshakeAt < 0 ? "connected" : "shown");
            return 1;
        }
        const int seen = completions;
        QProcess sh;
        // As the program's adb children do: adb shell would otherwise forward an open stdin.
        sh.setStandardInputFile(QProcess::nullDevice());
        const std::int64_t start = bench::monotonicNs();
        sh.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), shellScan});
        sh.waitForFinished(-1);
        shell << double(bench::monotonicNs() - start) / 1e6;
        const std::int64_t loopStart = bench::monotonicNs();
        for (const QStringList &arguments : bench::scanCommands({serial}))
            (void)adb::run(dir.path(), arguments);
        runLoop << double(bench::monotonicNs() - loopStart) / 1e6;
        program << double(filledAt - handshakeAt) / 1e6;
        fromConnect << double(filledAt - connectAt) / 1e6;
        std::printf("%4d %10.1f %10.1f %10.1f %10.1f %8.3f %12d\n", i + 1, program.last(), fromConnect.last(), shell.last(),
                    runLoop.last(), program.last() / shell.last(), seen);

        (void)sandbox.runAdb({QStringLiteral("disconnect"), serial});
        if (!spinUntil([&] { return !shows(app, serial); }, 30000)) {
            std::fprintf(stderr, "repetition %d: the unit stayed shown after adb disconnect\n", i + 1);
            return 1;
        }
    }
    const double p = bench::median(program), c = bench::median(fromConnect), s = bench::median(shell),
                 r = bench::median(runLoop);
    std::printf("median %8.1f %10.1f %10.1f %10.1f %8.3f\n", p, c, s, r, p / s);
    std::printf("program / shell %.3f (aim <= 1.3), program / adb::run %.3f, connect / shell %.3f\n", p / s, p / r, c / s);

    // The launch, with the unit there from the start.
    if (!sandbox.attach(unit) || !spinUntil([&] { return shows(app, serial); }, 30000)) {
        std::fprintf(stderr, "the unit was not shown for the launch runs\n");
        return 1;
    }
    // The attach may have set off one more scan in this process; let it end before the
    // launches, which it would otherwise share the cores with.
    spinUntil([] { return false; }, 1500);
    return measureLaunch(dir.path(), serial, shellScan);
}
