#include "commandrunner.h"
#include "discovery.h"
#include "fakeadb.h"

#include <QTest>
#include <QThread>

#include <thread>
#include <vector>

using adb::CommandResult;
using adb::ScanResult;

namespace {
const QString kHeader = QStringLiteral("List of devices attached\n");

// Shell code that prints `text` as it is (it must hold no single quote).
QString printing(const QString &text)
{
    return QStringLiteral("printf '%s' '") + text + u'\'';
}

// Each device as "serial|state", and with `probed` its diagnostics after that.
QStringList described(const DeviceList &devices, bool probed = false)
{
    QStringList rows;
    for (const DeviceInfo &d : devices) {
        QStringList fields{d.serial(), d.state()};
        if (probed)
            fields << d.manufacturer << d.model << d.android << d.sdk << d.build << d.size << d.density
                   << (d.installed ? "installed" : "-");
        rows << fields.join(u'|');
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
        QTest::newRow("Cyrillic") << "printf '\\320\\224\\320\\260 \\n'" << 0 << "Да \n" << "Да";
        QTest::newRow("byte-order mark kept") << "printf '\\357\\273\\277x'" << 0 << QStringLiteral("\uFEFFx") << QStringLiteral("\uFEFFx");
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
        const CommandResult result = adb::run(adb.resourceDir(), arguments);
        QTEST(result.status, "status");
        QTEST(result.output, "output");
        QTEST(adb::shell(adb.resourceDir(), "serial; 'x'", {"getprop", "a b"}), "shellText");
        QCOMPARE(adb.calls(), (QList<QStringList>{arguments, {"-s", "serial; 'x'", "shell", "getprop", "a b"}}));
    }

    void missingAdb()
    {
        QTemporaryDir empty;
        const CommandResult result = adb::run(empty.path(), {"devices"});
        QCOMPARE(result.status, -1);
        QVERIFY2(!result.output.isEmpty(), "the system's reason, for the log");
        QVERIFY(adb::scanDevices(empty.path()).listed.isEmpty());
    }

    void concurrentCalls()
    {
        FakeAdb adb;
        adb.setFallbackScript(QStringLiteral("printf '%s' \"$1\"; exit $2"));
        constexpr int kThreads = 8;
        std::vector<int> mismatches(kThreads, 0);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 5; ++i) {
                    const QString tag = QStringLiteral("thread%1-call%2").arg(t).arg(i);
                    const CommandResult result = adb::run(adb.resourceDir(), {tag, QString::number(t)});
                    mismatches[t] += result.output != tag || result.status != t;
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        QCOMPARE(mismatches, std::vector<int>(kThreads, 0));
        QCOMPARE(adb.calls().size(), kThreads * 5);
    }

    // Ready devices are those listed exactly as "device"; each is probed with the fake's defaults.
    void scan_data()
    {
        QTest::addColumn<QString>("devices");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QStringList>("ready");
        QTest::newRow("nothing") << printing("") << QStringList{} << QStringList{};
        QTest::newRow("only the header") << printing(kHeader) << QStringList{} << QStringList{};
        QTest::newRow("in listing order") << printing(kHeader + "SER1\tdevice\nSER2\tunauthorized\nSER3\tdevice\n")
                                          << QStringList{"SER1|device", "SER2|unauthorized", "SER3|device"}
                                          << QStringList{"SER1", "SER3"};
        QTest::newRow("no final line feed") << printing(kHeader + "A\tdevice") << QStringList{"A|device"} << QStringList{"A"};
        QTest::newRow("blanks instead of a tab") << printing(kHeader + "A    device\n") << QStringList{} << QStringList{};
        QTest::newRow("empty and extra fields") << printing(kHeader + "A\t\tdevice\tproduct:x\n\tB\toffline\n")
                                                << QStringList{"A|device", "B|offline"} << QStringList{"A"};
        QTest::newRow("almost device") << printing(kHeader + "A\tdevice \nB\tDevice\n")
                                       << QStringList{"A|device ", "B|Device"} << QStringList{};
        QTest::newRow("daemon start lines first")
            << printing("* daemon not running; starting now at tcp:5037\n* daemon started successfully\n" + kHeader + "A\tdevice\n")
            << QStringList{"A|device"} << QStringList{"A"};
        QTest::newRow("first line skipped whatever it says") << printing("A\tdevice\nB\tdevice\n") << QStringList{"B|device"}
                                                             << QStringList{"B"};
        QTest::newRow("CR LF is no line break here") << printing("List of devices attached\r\nA\tdevice\r\n")
                                                     << QStringList{} << QStringList{};
        QTest::newRow("garbage") << printing("\u0007\u00ff garbage\n\u0001\tx\u2603\n%s%n\tz") << QStringList{"\u0001|x\u2603", "%s%n|z"}
                                 << QStringList{};
        QTest::newRow("invalid UTF-8") << "printf 'List of devices attached\\nA\\tdevice\\n\\377'" << QStringList{} << QStringList{};
        QTest::newRow("killed mid-row") << "printf 'List of devices attached\\nA\\tdev'; kill -9 $$" << QStringList{"A|dev"}
                                        << QStringList{};
    }
    void scan()
    {
        QFETCH(QString, devices);
        QFETCH(QStringList, ready);
        FakeAdb adb;
        adb.replyWithScript({"devices"}, devices);
        QList<QStringList> calls{{"start-server"}, {"devices"}};
        QStringList probed;
        for (const QString &serial : ready) {
            adb.addDevice({serial});
            calls += probeCalls(serial);
            probed << serial + "|device|LI_AUTO|HU_L9|11|30|LI_OS_5.2.1|1920x720|160|-";
        }
        const ScanResult result = adb::scanDevices(adb.resourceDir());
        QCOMPARE(adb.calls(), calls);
        QTEST(described(result.listed), "listed");
        QCOMPARE(described(result.ready, true), probed);
    }

    // What every probe of the one ready device X prints.
    void probe_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("property");
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QString>("installed");
        QTest::newRow("nothing") << "true" << "—" << "" << "-";
        QTest::newRow("device gone") << "echo \"error: device 'X' not found\"; exit 1" << "error: device 'X' not found"
                                     << "device 'X' not found" << "installed";
        QTest::newRow("garbage") << "printf '\\033[0m\\001 zz'" << "\u001b[0m\u0001 zz" << "\u001b[0m\u0001 zz" << "installed";
        QTest::newRow("invalid UTF-8") << "printf 'HU_L9\\377'" << "—" << "" << "-";
        QTest::newRow("killed by a signal") << "echo HU_L9; kill -9 $$" << "HU_L9" << "HU_L9" << "installed";
    }
    void probe()
    {
        QFETCH(QString, answer);
        QFETCH(QString, property);
        QFETCH(QString, screen);
        QFETCH(QString, installed);
        FakeAdb adb;
        adb.setListing(kHeader + "X\tdevice\n");
        for (const QStringList &call : probeCalls("X"))
            adb.replyWithScript(call, answer);
        const QStringList expected{"X", "device", property, property, property, property, property, screen, screen, installed};
        QCOMPARE(described(adb::scanDevices(adb.resourceDir()).ready, true), QStringList{expected.join(u'|')});
    }

    void completionOnTheGuiThread()
    {
        FakeAdb adb;
        adb.setListing(kHeader + "A\tdevice\nB\toffline\n");
        QObject context;
        QThread *thread = nullptr;
        QStringList ready, listed;
        adb::startScan(&context, adb.resourceDir(), [&](const DeviceList &r, const DeviceList &l) {
            thread = QThread::currentThread();
            ready = described(r);
            listed = described(l);
        });
        QVERIFY2(!thread, "queued, never run inside startScan");
        QTRY_VERIFY_WITH_TIMEOUT(thread, 10000);
        QCOMPARE(thread, QThread::currentThread());
        QCOMPARE(ready, QStringList{"A|device"});
        QCOMPARE(listed, (QStringList{"A|device", "B|offline"}));
    }
};

QTEST_GUILESS_MAIN(TestAdb)
#include "tst_adb.moc"
