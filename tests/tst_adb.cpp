#include "commandrunner.h"
#include "discovery.h"
#include "fakeadb.h"

#include <QTest>
#include <QThread>

#include <thread>
#include <vector>

namespace {
const QString kHeader = QStringLiteral("List of devices attached\n");

// Each device as "serial|state", and with `probed` its diagnostics after that.
QStringList described(const DeviceList &devices, bool probed = false)
{
    QStringList rows;
    for (const DeviceInfo &d : devices) {
        const QStringList diagnostics{d.manufacturer, d.model, d.android, d.sdk, d.build, d.size, d.density, d.installed ? "installed" : "-"};
        rows << d.serial() + u'|' + d.state() + (probed ? u'|' + diagnostics.join(u'|') : QString());
    }
    return rows;
}
} // namespace

class TestAdb : public QObject
{
    Q_OBJECT

private slots:
    void run_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("shellText");
        QTest::newRow("both streams in the order written") << "echo out1; echo err1 >&2; echo out2; echo err2 >&2; exit 3"
                                                           << 3 << "out1\nerr1\nout2\nerr2\n" << "out1\nerr1\nout2\nerr2";
        QTest::newRow("killed by a signal") << "echo partial; kill -9 $$" << -1 << "partial\n" << "partial";
        QTest::newRow("byte-order mark kept") << "printf '\\357\\273\\277x '" << 0 << QStringLiteral("\uFEFFx ") << QStringLiteral("\uFEFFx");
        QTest::newRow("invalid UTF-8") << "printf 'ok\\377ok'; exit 7" << 7 << "" << "";
        QTest::newRow("sequence cut off at the end") << "printf 'ab\\342\\200'" << 0 << "" << "";
        QTest::newRow("more than a pipe holds") << "head -c 1048576 /dev/zero | tr '\\000' y; echo" << 0
                                                << QString(1 << 20, u'y') + u'\n' << QString(1 << 20, u'y');
    }
    void run()
    {
        QFETCH(QString, script);
        FakeAdb adb;
        adb.setFallbackScript(script);
        const QStringList arguments{"a b", "'q' \"d\"", "$(id); `id` |&", QString(), "Привет"};
        const adb::CommandResult result = adb::run(adb.resourceDir(), arguments);
        QTEST(result.status, "status");
        QTEST(result.output, "output");
        QTEST(adb::shell(adb.resourceDir(), "serial; 'x'", {"getprop", "a b"}), "shellText");
        QCOMPARE(adb.calls(), (QList<QStringList>{arguments, {"-s", "serial; 'x'", "shell", "getprop", "a b"}}));
    }

    void missingAdb()
    {
        QTemporaryDir empty;
        const adb::CommandResult result = adb::run(empty.path(), {"devices"});
        QCOMPARE(result.status, -1);
        QVERIFY2(!result.output.isEmpty(), "the system's reason, for the log");
    }

    void concurrentCalls()
    {
        FakeAdb adb;
        adb.setFallbackScript(QStringLiteral("printf '%s' \"$1\"; exit $2"));
        std::vector<int> mismatches(8, 0);
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 5; ++i) {
                    const QString tag = QStringLiteral("thread%1-call%2").arg(t).arg(i);
                    const adb::CommandResult result = adb::run(adb.resourceDir(), {tag, QString::number(t)});
                    mismatches[t] += result.output != tag || result.status != t;
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        QCOMPARE(mismatches, std::vector<int>(8, 0));
        QCOMPARE(adb.calls().size(), 40);
    }

    // Ready devices are those listed exactly as "device"; their probes answer with the
    // fake's defaults, or every command but "devices" runs `probes`.
    void scan_data()
    {
        QTest::addColumn<QString>("devices");   // what "adb devices" prints
        QTest::addColumn<QString>("probes");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QStringList>("ready");
        const QString fine = QStringLiteral("|device|LI_AUTO|HU_L9|11|30|LI_OS_5.2.1|1920x720|160|-");
        QTest::newRow("in listing order, empty and extra fields")
            << kHeader + "S\tdevice\nU\tunauthorized\nA\t\tdevice\tproduct:x\n\tB\toffline\n" << ""
            << QStringList{"S|device", "U|unauthorized", "A|device", "B|offline"} << QStringList{"S" + fine, "A" + fine};
        QTest::newRow("almost device") << kHeader + "A\tdevice \nB\tDevice\n" << "" << QStringList{"A|device ", "B|Device"} << QStringList{};
        // The first line is skipped whatever it says.
        QTest::newRow("garbage, blanks for a tab") << "A\tdevice\n\u0007\u00ff \n\u0001\tx\u2603\nB    device\n%s%n\tz" << ""
                                                   << QStringList{"\u0001|x\u2603", "%s%n|z"} << QStringList{};
        QTest::newRow("unit gone mid-probe")
            << kHeader + "X\tdevice\n" << "echo error: gone; exit 1" << QStringList{"X|device"}
            << QStringList{"X|device" + QString("|error: gone").repeated(5) + "|gone|gone|-"};
    }
    void scan()
    {
        QFETCH(QString, devices);
        QFETCH(QString, probes);
        QFETCH(QStringList, ready);
        FakeAdb adb;
        adb.reply({"devices"}, devices);
        adb.setFallbackScript(probes);
        QList<QStringList> calls{{"start-server"}, {"devices"}};
        for (const QString &device : ready) {
            if (probes.isEmpty())
                adb.addDevice({device.section(u'|', 0, 0)});
            calls += probeCalls(device.section(u'|', 0, 0));
        }
        QObject context;
        QList<DeviceList> lists;    // ready and listed, as the completion got them on this thread
        adb::startScan(&context, adb.resourceDir(), [&](const adb::ScanResult &scan) {
            if (QThread::currentThread() == context.thread())
                lists = {scan.ready, scan.listed};
        });
        QVERIFY2(lists.isEmpty(), "queued, never run inside startScan");
        QTRY_COMPARE_WITH_TIMEOUT(lists.size(), 2, 10000);
        QCOMPARE(adb.calls(), calls);
        QTEST(described(lists[1]), "listed");
        QCOMPARE(described(lists[0], true), ready);
    }
};

QTEST_GUILESS_MAIN(TestAdb)
#include "tst_adb.moc"
