// Hundreds of scans in a row through the real AppDelegate. Every scan starts a thread and a
// handful of adb processes, each with its own pipe; a leak of any of them shows up here
// long before a user who leaves the installer open all day would notice it.

#include "installerdriver.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

namespace {

struct Usage
{
    qsizetype fds = 0;
    qsizetype threads = 0;
    qint64 rssKiB = 0;
};

qsizetype entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
}

Usage sampleUsage()
{
    // "size resident shared text lib data dt", in pages
    QFile statm(QStringLiteral("/proc/self/statm"));
    const qint64 pages = statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ').value(1).toLongLong() : -1;
    return {entries(QStringLiteral("/proc/self/fd")), entries(QStringLiteral("/proc/self/task")),
            pages * sysconf(_SC_PAGESIZE) / 1024};
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void manyScansLeakNothing();
};

void TestSoak::manyScansLeakNothing()
{
    // A scan of one unit runs ten adb processes: a fifth of the thousand (test.sh asks for
    // fewer under sanitizers) still runs two thousand.
    const int fromEnvironment = qEnvironmentVariableIntValue("ZORVIK_SOAK_SCANS");
    const int scans = std::max(10, (fromEnvironment > 0 ? fromEnvironment : 1000) / 5);
    const int warmUp = std::min(50, scans / 10);
    InstallerDriver driver;
    // One case statement and no rule files: the run measures the installer, not the fake.
    driver.adb.setFallbackScript(QStringLiteral("case \"$*\" in\n"
                                                "  devices) printf 'List of devices attached\\nHU1\\tdevice\\n' ;;\n"
                                                "  *getprop\\ ro.product.model) echo HU_L9 ;;\n"
                                                "  *wm\\ size) echo 'Physical size: 1920x720' ;;\n"
                                                "esac"));
    driver.launch();

    QSignalSpy done(driver.app.get(), &AppDelegate::refreshCompleted);
    Usage afterWarmUp;
    for (int i = 0; i < scans; ++i) {
        if (i == warmUp) {
            // The fake's own log of calls grows with every run; start it afresh.
            driver.adb.clearCalls();
            // The last warm-up thread may still be on its way out.
            QTest::qWait(100);
            afterWarmUp = sampleUsage();
        }
        driver.refreshButton()->click();
        if (!done.wait(20000))
            QFAIL(qPrintable(QStringLiteral("scan %1 did not come back").arg(i)));
    }
    // Each scan's thread deletes itself once its completion has been queued.
    QTRY_VERIFY2(sampleUsage().threads <= afterWarmUp.threads + 1, "threads outlive their scans");
    const Usage atEnd = sampleUsage();
    qInfo("%d scans: fds %lld -> %lld, VmRSS %lld -> %lld KiB", scans, static_cast<long long>(afterWarmUp.fds),
          static_cast<long long>(atEnd.fds), afterWarmUp.rssKiB, atEnd.rssKiB);

    // Every scan ran to its end: start-server, devices and the unit's eight probes.
    QCOMPARE(driver.adb.calls().size(), (scans - warmUp) * 10);
    QCOMPARE(driver.app->readyDevices().first().model, QStringLiteral("HU_L9"));
    QVERIFY2(atEnd.fds <= afterWarmUp.fds + 2, "file descriptors grow with every scan");
#if !defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer's quarantine keeps freed blocks, so resident memory grows without a
    // leak there; LeakSanitizer checks for real leaks at exit instead.
    QVERIFY2(atEnd.rssKiB - afterWarmUp.rssKiB <= 20 * 1024, "resident memory grows by more than 20 MiB");
#endif
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
