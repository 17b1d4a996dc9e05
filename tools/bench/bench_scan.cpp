// Scan overhead: one scan through the program (AppDelegate::refreshDevices until
// refreshCompleted) against the same 2 + 8N adb commands run back to back by a plain loop,
// with the same fake adb, for N ready devices. Prints medians and their ratios.
//
//   bench_scan [repetitions]        (default 15; runs offscreen)

#include "appdelegate.h"
#include "benchsupport.h"
#include "commandrunner.h"

#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdio>

namespace {

double programScanMs(AppDelegate &app)
{
    QEventLoop loop;
    QObject::connect(&app, &AppDelegate::refreshCompleted, &loop, &QEventLoop::quit);
    const std::int64_t start = bench::monotonicNs();
    app.refreshDevices();
    loop.exec();
    return double(bench::monotonicNs() - start) / 1e6;
}

// The floor: nothing but starting each command and collecting its output.
double qprocessLoopMs(const QString &adb, const QList<QStringList> &commands)
{
    const std::int64_t start = bench::monotonicNs();
    for (const QStringList &arguments : commands) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(adb, arguments);
        process.waitForFinished(-1);
        (void)process.readAll();
    }
    return double(bench::monotonicNs() - start) / 1e6;
}

double runnerLoopMs(const QString &dir, const QList<QStringList> &commands)
{
    const std::int64_t start = bench::monotonicNs();
    for (const QStringList &arguments : commands)
        (void)adb::run(dir, arguments);
    return double(bench::monotonicNs() - start) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int repetitions = argc > 1 ? std::max(3, atoi(argv[1])) : 15;

    std::printf("scan overhead, %d repetitions, medians (ms)\n", repetitions);
    // "hidden" is the same scan with the window hidden: the gap to "program" is what
    // painting the window (the running busy bar) costs while adb works.
    std::printf("%3s %9s %9s %10s %10s %14s %14s\n", "N", "program", "hidden", "QProcess", "adb::run",
                "prog/QProcess", "prog/adb::run");
    for (const int devices : {1, 2, 4}) {
        QTemporaryDir dir;
        QStringList serials;
        for (int i = 0; i < devices; ++i)
            serials << QStringLiteral("LIHU8155A000%1").arg(i + 1);
        if (!dir.isValid() || !bench::writeFakeAdb(dir.path(), serials)) {
            std::fprintf(stderr, "cannot write the fake adb\n");
            return 1;
        }
        const QList<QStringList> commands = bench::scanCommands(serials);
        const QString adb = adb::adbPath(dir.path());

        AppDelegate app(AppDelegate::TestSetup{dir.path(), std::nullopt, false, {}});
        {
            // The first scan also builds the window; it is not part of what is measured.
            QEventLoop loop;
            QObject::connect(&app, &AppDelegate::refreshCompleted, &loop, &QEventLoop::quit);
            app.applicationDidFinishLaunching();
            loop.exec();
        }
        if (app.readyDevices().size() != devices) {
            std::fprintf(stderr, "the program found %lld devices, not %d\n",
                         static_cast<long long>(app.readyDevices().size()), devices);
            return 1;
        }

        QList<double> program, hidden, plain, runner;
        for (int i = 0; i < repetitions; ++i) {
            // Interleaved, so that a burst of load from elsewhere hits all alike.
            program << programScanMs(app);
            plain << qprocessLoopMs(adb, commands);
            runner << runnerLoopMs(dir.path(), commands);
            app.mainWindow()->hide();
            hidden << programScanMs(app);
            app.mainWindow()->show();
        }
        const double p = bench::median(program), h = bench::median(hidden), q = bench::median(plain),
                     r = bench::median(runner);
        std::printf("%3d %9.1f %9.1f %10.1f %10.1f %14.3f %14.3f\n", devices, p, h, q, r, p / q, p / r);
    }
    return 0;
}
