// Memory: the peak resident set (VmHWM) of the installer's AppDelegate and window, idle
// after the launch scan, and after the APK check has read a 256 MiB carried APK.
// In process, offscreen, one fake ready unit. Also prints how long the launch callback
// (window built and shown, scan queued) takes in process.
//
//   bench_memory

#include "appdelegate.h"
#include "benchsupport.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

void printFigures(const char *moment)
{
    std::printf("%-34s VmHWM %7lld KiB  VmRSS %7lld KiB  (RssAnon %7lld, RssFile %7lld)\n", moment,
                bench::statusKiB(QStringLiteral("VmHWM")), bench::statusKiB(QStringLiteral("VmRSS")),
                bench::statusKiB(QStringLiteral("RssAnon")), bench::statusKiB(QStringLiteral("RssFile")));
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir dir;
    const QString apk = dir.filePath(QStringLiteral("ZorvikStore.apk"));
    if (!dir.isValid() || !bench::writeFakeAdb(dir.path(), {QStringLiteral("LIHU8155A0001")})
        || !bench::writeRandomFile(apk, qint64(256) << 20)) {
        std::fprintf(stderr, "cannot prepare %s\n", qPrintable(dir.path()));
        return 1;
    }
    bench::warmPageCache(apk);

    AppDelegate app(AppDelegate::TestSetup{dir.path(), std::nullopt, false, {}});
    QEventLoop loop;
    QObject::connect(&app, &AppDelegate::refreshCompleted, &loop, &QEventLoop::quit);
    // Also timed: building and showing the window and queueing the scan, the part of
    // start-up that a bare window does not have.
    const std::int64_t start = bench::monotonicNs();
    app.applicationDidFinishLaunching();
    std::printf("applicationDidFinishLaunching took %.1f ms\n", double(bench::monotonicNs() - start) / 1e6);
    loop.exec();
    QTimer::singleShot(500, &loop, &QEventLoop::quit);
    loop.exec();
    printFigures("idle after launch");

    // The random APK fails the digest check, so the check ends in the "not passed" alert,
    // which is closed as soon as it shows; nothing is installed.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            box->buttons().constFirst()->click();
    });
    closer.start(20);
    app.mainWindow()->findChild<QPushButton *>(QStringLiteral("installButton"))->click();
    closer.stop();
    printFigures("after checking a 256 MiB APK");
    return 0;
}
