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

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void manyScansLeakNothing_data();
    void manyScansLeakNothing();
};

void TestSoak::manyScansLeakNothing_data()
{
    QTest::addColumn<bool>("watching");
    QTest::newRow("asked scans") << false;
    // The fake's track-devices blocks as adb's does: one child for the whole run.
    QTest::newRow("watcher on") << true;
}

void TestSoak::manyScansLeakNothing()
{
    QFETCH(bool, watching);
    const auto entries = [](const char *folder) {
        return QDir(QLatin1String(folder)).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
    };
    const auto residentKiB = [] {
        // "size resident shared text lib data dt", in pages
        QFile statm(QStringLiteral("/proc/self/statm"));
        return statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE) / 1024 : -1;
    };
    const auto children = [] {
        qsizetype count = 0;
        for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            // "PID (NAME) STATE PPID ...", where NAME may hold blanks and parentheses
            const QByteArray text = pid.toInt() > 0 && stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
            count += !text.isEmpty() && text.mid(text.lastIndexOf(')') + 2).split(' ').value(1).toInt() == getpid();
        }
        return count;
    };
    // A scan of one unit runs ten adb processes, so two hundred scans run two thousand;
    // test.sh asks for fewer under sanitizers.
    const int scans = std::max(20, qEnvironmentVariableIsSet("ZORVIK_SOAK_SCANS")
                                       ? qEnvironmentVariableIntValue("ZORVIK_SOAK_SCANS") : 200);
    const int warmUp = std::min(50, scans / 10);
    InstallerDriver driver(true, std::nullopt, {QString(), std::nullopt, watching, {}});
    driver.launchWithOneUnit();

    QSignalSpy done(driver.app.get(), &AppDelegate::refreshCompleted);
    const auto scan = [&](int count) {
        for (int i = 0; i < count; ++i) {
            driver.refreshButton()->click();
            if (!done.wait(20000))
                return false;
        }
        return true;
    };
    QVERIFY(scan(warmUp));
    // The fake's own log of calls grows with every run; start it afresh. The last warm-up
    // thread may still be on its way out.
    driver.adb.clearCalls();
    QTest::qWait(100);
    const qsizetype fds = entries("/proc/self/fd");
    const qsizetype threads = entries("/proc/self/task");
    QCOMPARE(children(), watching ? 1 : 0);
    [[maybe_unused]] const qint64 kiB = residentKiB();   // unread under AddressSanitizer
    QVERIFY2(scan(scans - warmUp), "a scan did not come back");
    // Every scan ran to its end: start-server, devices and the unit's eight probes.
    QCOMPARE(driver.adb.calls().size(), (scans - warmUp) * 10);
    // Each scan's thread deletes itself once its completion has been queued.
    QTRY_VERIFY(entries("/proc/self/task") <= threads + 1);
    QCOMPARE_LE(entries("/proc/self/fd"), fds + 2);
    QCOMPARE(children(), watching ? 1 : 0);
#if !defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer's quarantine keeps freed blocks, so resident memory grows without a
    // leak there; LeakSanitizer checks for real leaks at exit instead.
    QCOMPARE_LE(residentKiB() - kiB, 20 * 1024);
#endif
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
