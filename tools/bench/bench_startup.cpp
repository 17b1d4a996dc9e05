// Start-up: from process start until the installer's window is shown and its first scan
// has reached adb, against a bare Qt window of 980x650 from start until shown. Offscreen,
// many runs, medians. Also the installer's peak resident set at idle after launch.
//
// The shipped executable is copied into a scratch directory with its resources, and its
// "adb" is bench_stampadb, which stamps the moment of its first call; nothing in the
// installer knows it is being measured.
//
//   bench_startup [runs]        (default 21)

#include "benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {

QProcessEnvironment offscreen()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

bool copyExecutable(const QString &from, const QString &to)
{
    return QFile::copy(from, to) && QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

struct InstallerRun
{
    double startupMs = -1;
    qint64 idleHwmKiB = -1;
};

InstallerRun runInstaller(const QString &program, const QString &stampFile)
{
    QFile::remove(stampFile);
    QProcess installer;
    installer.setProcessEnvironment(offscreen());
    installer.setStandardOutputFile(QProcess::nullDevice());
    installer.setStandardErrorFile(QProcess::nullDevice());
    const std::int64_t start = bench::monotonicNs();
    installer.start(program, {});
    InstallerRun run;
    const std::int64_t deadline = start + 30'000'000'000LL;
    while (!QFile::exists(stampFile) && bench::monotonicNs() < deadline
           && installer.state() != QProcess::NotRunning)
        QThread::msleep(2);
    QThread::msleep(5); // the stamp is written right after the file is made
    QFile stamp(stampFile);
    if (stamp.open(QIODevice::ReadOnly))
        run.startupMs = double(stamp.readAll().trimmed().toLongLong() - start) / 1e6;
    // The scan finds no device at once; what the process holds then is its idle state.
    QThread::msleep(300);
    run.idleHwmKiB = bench::statusKiB(QStringLiteral("VmHWM"), installer.processId());
    installer.kill();
    installer.waitForFinished(-1);
    return run;
}

double runBareWindow(const QString &program)
{
    QProcess bare;
    bare.setProcessEnvironment(offscreen());
    const std::int64_t start = bench::monotonicNs();
    bare.start(program, {});
    bare.waitForFinished(-1);
    const qint64 shown = bare.readAllStandardOutput().trimmed().toLongLong();
    return shown > 0 ? double(shown - start) / 1e6 : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 21;

    QTemporaryDir scratch;
    const QDir root(scratch.path());
    const QString installer = root.filePath(QStringLiteral("zorvik-installer"));
    const QString resources = root.filePath(QStringLiteral("resources"));
    const QString built = QStringLiteral(ZORVIK_RESOURCE_DIR);
    if (!scratch.isValid() || !root.mkdir(QStringLiteral("resources"))
        || !copyExecutable(QStringLiteral(ZORVIK_INSTALLER_PATH), installer)
        || !copyExecutable(QStringLiteral(STAMP_ADB_PATH), resources + QStringLiteral("/adb"))
        || !QFile::copy(built + QStringLiteral("/ZorvikStore.apk"), resources + QStringLiteral("/ZorvikStore.apk"))) {
        std::fprintf(stderr, "cannot prepare %s\n", qPrintable(scratch.path()));
        return 1;
    }
    QFile::copy(built + QStringLiteral("/logo.png"), resources + QStringLiteral("/logo.png"));
    const QString stampFile = resources + QStringLiteral("/first-call");

    // One unmeasured run of each brings the libraries into the page cache.
    (void)runInstaller(installer, stampFile);
    (void)runBareWindow(QStringLiteral(BARE_WINDOW_PATH));

    QList<double> ours, bare, hwm;
    for (int i = 0; i < runs; ++i) {
        const InstallerRun run = runInstaller(installer, stampFile);
        const double yardstick = runBareWindow(QStringLiteral(BARE_WINDOW_PATH));
        if (run.startupMs < 0 || yardstick < 0) {
            std::fprintf(stderr, "run %d gave no time\n", i + 1);
            return 1;
        }
        ours << run.startupMs;
        bare << yardstick;
        hwm << double(run.idleHwmKiB);
    }
    const double a = bench::median(ours), b = bench::median(bare);
    std::printf("start-up, offscreen, %d runs, medians\n", runs);
    std::printf("installer (shown, scan at adb) %8.1f ms\nbare 980x650 window (shown)   %8.1f ms\n"
                "ratio                          %8.3f\n", a, b, a / b);
    std::printf("installer idle after launch: VmHWM %.0f KiB (median)\n", bench::median(hwm));
    return 0;
}
