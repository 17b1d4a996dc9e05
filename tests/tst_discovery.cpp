#include "discovery.h"
#include "fakeadb.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

using adb::ScanResult;

namespace {
// A row as (serial, state), enough to compare listings.
QStringList rowsOf(const DeviceList &devices)
{
    QStringList rows;
    for (const DeviceInfo &device : devices)
        rows << device.serial() + QLatin1Char('|') + device.state();
    return rows;
}
const QString kHeader = QStringLiteral("List of devices attached\n");
} // namespace

class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void parseListing_data();
    void parseListing();
    void scanRunsExactlyTheProbesInOrder();
    void scanFillsReadyDevices();
    void probeEdgeCases_data();
    void probeEdgeCases();
    void missingAdbGivesEmptyLists();
    void completionArrivesOnTheGuiThread();
};

void TestDiscovery::parseListing_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("empty") << QString() << QStringList{};
    QTest::newRow("only the header") << kHeader << QStringList{};
    QTest::newRow("one device") << kHeader + QStringLiteral("R58M\tdevice\n") << QStringList{"R58M|device"};
    QTest::newRow("without a final line feed") << kHeader + QStringLiteral("R58M\tdevice") << QStringList{"R58M|device"};
    QTest::newRow("unauthorized") << kHeader + QStringLiteral("R58M\tunauthorized\n") << QStringList{"R58M|unauthorized"};
    QTest::newRow("blanks instead of a tab") << kHeader + QStringLiteral("R58M    device\n") << QStringList{};
    QTest::newRow("two tabs, and a tab first") << kHeader + QStringLiteral("A\t\tdevice\n\tB\toffline\n")
                                               << QStringList{"A|device", "B|offline"};
    QTest::newRow("extra fields ignored") << kHeader + QStringLiteral("A\tdevice\tproduct:x\n") << QStringList{"A|device"};
    QTest::newRow("state kept as printed") << kHeader + QStringLiteral("A\tdevice \nB\tDevice\n")
                                           << QStringList{"A|device ", "B|Device"};
    QTest::newRow("daemon start lines before the header")
        << QStringLiteral("* daemon not running; starting now at tcp:5037\n* daemon started successfully\n") + kHeader
               + QStringLiteral("A\tdevice\n")
        << QStringList{"A|device"};
    QTest::newRow("first line skipped whatever it says") << QStringLiteral("A\tdevice\nB\tdevice\n") << QStringList{"B|device"};
    QTest::newRow("blank lines dropped") << kHeader + QStringLiteral("\n\nA\tdevice\n\n") << QStringList{"A|device"};
    // adb on Linux ends lines with LF alone; a CR LF listing is one line, and so lists nothing.
    QTest::newRow("CR LF is not a line break here") << QStringLiteral("List of devices attached\r\nA\tdevice\r\n")
                                                    << QStringList{};
}

void TestDiscovery::parseListing()
{
    QFETCH(QString, output);
    QFETCH(QStringList, rows);
    const DeviceList listed = adb::parseDeviceListing(output);
    QCOMPARE(rowsOf(listed), rows);
    for (const DeviceInfo &row : listed) {
        QCOMPARE(row.model, kNoValue);
        QVERIFY(!row.installed);
    }
}

void TestDiscovery::scanRunsExactlyTheProbesInOrder()
{
    FakeAdb adb;
    adb.setListing(kHeader + QStringLiteral("SER1\tdevice\nSER2\tunauthorized\nSER3\tdevice\n"));
    adb.addDevice({QStringLiteral("SER1")});
    adb.addDevice({QStringLiteral("SER3")});

    const ScanResult result = adb::scanDevices(adb.resourceDir());

    QList<QStringList> expected{{QStringLiteral("start-server")}, {QStringLiteral("devices")}};
    expected += probeCalls(QStringLiteral("SER1"));
    expected += probeCalls(QStringLiteral("SER3"));
    QCOMPARE(adb.calls(), expected);
    QCOMPARE(rowsOf(result.listed), (QStringList{"SER1|device", "SER2|unauthorized", "SER3|device"}));
    QCOMPARE(rowsOf(result.ready), (QStringList{"SER1|device", "SER3|device"}));
    QCOMPARE(result.listed.at(1).manufacturer, kNoValue);
}

void TestDiscovery::scanFillsReadyDevices()
{
    FakeAdb adb;
    adb.setListing(kHeader + QStringLiteral("HU1\tdevice\n"));
    FakeAdb::Device unit{QStringLiteral("HU1")};
    unit.wmSize = QStringLiteral("Physical size: 1920x720\nOverride size: 1280x480");
    unit.pmPath = QStringLiteral("package:/data/app/ru.zorvik.store-1/base.apk");
    adb.addDevice(unit);

    const ScanResult result = adb::scanDevices(adb.resourceDir());
    QCOMPARE(result.ready.size(), 1);
    const DeviceInfo &device = result.ready.first();
    QCOMPARE(device.manufacturer, QStringLiteral("LI_AUTO"));
    QCOMPARE(device.model, QStringLiteral("HU_L9"));
    QCOMPARE(device.android, QStringLiteral("11"));
    QCOMPARE(device.sdk, QStringLiteral("30"));
    QCOMPARE(device.build, QStringLiteral("LI_OS_5.2.1"));
    QCOMPARE(device.size, QStringLiteral("1280x480"));
    QCOMPARE(device.density, QStringLiteral("160"));
    QVERIFY(device.installed);
}

void TestDiscovery::probeEdgeCases_data()
{
    QTest::addColumn<QString>("answer");       // what every probe prints
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QString>("screen");
    QTest::addColumn<bool>("installed");
    QTest::newRow("nothing printed") << QString() << 0 << kNoValue << QString() << false;
    QTest::newRow("device gone mid-probe") << QStringLiteral("error: device 'X' not found\n") << 1
                                           << QStringLiteral("error: device 'X' not found")
                                           << QStringLiteral("device 'X' not found") << true;
    QTest::newRow("sh error") << QStringLiteral("/system/bin/sh: getprop: inaccessible or not found\n") << 127
                              << QStringLiteral("/system/bin/sh: getprop: inaccessible or not found")
                              << QStringLiteral("getprop: inaccessible or not found") << true;
}

void TestDiscovery::probeEdgeCases()
{
    QFETCH(QString, answer);
    QFETCH(int, status);
    QFETCH(QString, property);
    QFETCH(QString, screen);
    QFETCH(bool, installed);
    FakeAdb adb;
    adb.setListing(kHeader + QStringLiteral("X\tdevice\n"));
    for (const QStringList &probe : probeCalls(QStringLiteral("X")))
        adb.reply(probe, answer, status);
    const ScanResult result = adb::scanDevices(adb.resourceDir());
    QCOMPARE(result.ready.size(), 1);
    const DeviceInfo &device = result.ready.first();
    QCOMPARE(device.model, property);
    QCOMPARE(device.size, screen);
    QCOMPARE(device.density, screen);
    QCOMPARE(device.installed, installed);
}

void TestDiscovery::missingAdbGivesEmptyLists()
{
    QTemporaryDir empty;
    const ScanResult result = adb::scanDevices(empty.path());
    QVERIFY(result.ready.isEmpty());
    QVERIFY(result.listed.isEmpty());
}

void TestDiscovery::completionArrivesOnTheGuiThread()
{
    FakeAdb adb;
    adb.setListing(kHeader + QStringLiteral("A\tdevice\nB\toffline\n"));
    adb.addDevice({QStringLiteral("A")});
    QObject context;
    int calls = 0;
    QThread *completionThread = nullptr;
    DeviceList ready, listed;
    adb::startScan(&context, adb.resourceDir(), [&](const DeviceList &r, const DeviceList &l) {
        ++calls;
        completionThread = QThread::currentThread();
        ready = r;
        listed = l;
    });
    QCOMPARE(calls, 0);     // queued, never run inside startScan
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 10000);
    QCOMPARE(completionThread, QThread::currentThread());
    QCOMPARE(rowsOf(ready), QStringList{"A|device"});
    QCOMPARE(rowsOf(listed), (QStringList{"A|device", "B|offline"}));
}

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
