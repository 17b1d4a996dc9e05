// headunit-sim as adb sees it: listing, authorization, several units and hosts, and
// that nothing is left running.

#include "simharness.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

#include <QFile>

namespace {

bool processExists(qint64 pid)
{
    return QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid));
}

} // namespace

class TestHeadunitDevices : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void listedAsDevice();
    void unauthorizedUnitListedUnauthorized();
    void twoUnitsListedInSerialOrder();
    void twoHostsShareOneUnit();
    void nothingLeftRunning();
};

// A unit that crashes or reports a sanitizer error fails the test that ran it.
void TestHeadunitDevices::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^headunit-sim .*did not end cleanly")));
}

void TestHeadunitDevices::listedAsDevice()
{
    AdbServerSandbox adb;
    SimulatedUnit unit;
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    QVERIFY(adb.connect(unit.port()));

    const AdbResult devices = adb.runAdb({"devices"});
    QCOMPARE(devices.exitCode, 0);
    QCOMPARE(devices.output,
             QStringLiteral("List of devices attached\n%1\tdevice\n\n").arg(unit.serial()));

    // The banner's fields; adb turns the blanks of the model into '_'.
    const AdbResult listing = adb.runAdb({"devices", "-l"});
    const QRegularExpression line(QRegularExpression::escape(unit.serial())
                                  + R"( +device product:lixiang_hu model:Li_Auto_HU_8155 )"
                                    R"(device:hu8155 transport_id:\d+\n)");
    QVERIFY2(line.match(listing.output).hasMatch(), qPrintable(listing.output));
}

void TestHeadunitDevices::unauthorizedUnitListedUnauthorized()
{
    AdbServerSandbox adb;
    SimulatedUnit unit({{"unauthorized", true}});
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));

    const AdbResult connect = adb.runAdb({"connect", unit.serial()});
    QVERIFY2(connect.output.contains("failed to authenticate"), qPrintable(connect.output));
    QVERIFY(adb.waitForState(unit.serial(), "unauthorized"));

    const AdbResult shell = adb.runAdb({"-s", unit.serial(), "shell", "getprop"});
    QCOMPARE(shell.exitCode, 1);
    QVERIFY2(shell.output.contains("device unauthorized"), qPrintable(shell.output));
    QVERIFY(unit.logEntries().isEmpty());
}

void TestHeadunitDevices::twoUnitsListedInSerialOrder()
{
    AdbServerSandbox adb;
    SimulatedUnit first;
    SimulatedUnit second({{"model", "Second Unit"}});
    QVERIFY2(first.isRunning(), qPrintable(first.errorString()));
    QVERIFY2(second.isRunning(), qPrintable(second.errorString()));

    // Connect the larger serial first: adb 29 lists by serial, not by connection order.
    QStringList serials{first.serial(), second.serial()};
    std::sort(serials.begin(), serials.end());
    QVERIFY(adb.connect(serials.at(1).section(':', 1).toUShort()));
    QVERIFY(adb.connect(serials.at(0).section(':', 1).toUShort()));

    const AdbResult devices = adb.runAdb({"devices"});
    QCOMPARE(devices.output, QStringLiteral("List of devices attached\n%1\tdevice\n%2\tdevice\n\n")
                                 .arg(serials.at(0), serials.at(1)));

    // Each answers for itself.
    QCOMPARE(adb.runAdb({"-s", second.serial(), "shell", "getprop", "ro.product.model"}).output,
             QStringLiteral("Second Unit\n"));
    QCOMPARE(adb.runAdb({"-s", first.serial(), "shell", "getprop", "ro.product.model"}).output,
             QStringLiteral("Li Auto HU 8155\n"));
}

void TestHeadunitDevices::twoHostsShareOneUnit()
{
    AdbServerSandbox firstHost;
    AdbServerSandbox secondHost;
    QVERIFY(firstHost.serverPort() != secondHost.serverPort());
    SimulatedUnit unit;
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    QVERIFY(firstHost.connect(unit.port()));
    QVERIFY(secondHost.connect(unit.port()));

    QTemporaryDir dir;
    const QString apk = dir.filePath("app.apk");
    QFile file(apk);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(100000, 'z'));
    file.close();

    const QStringList pmPath{"-s", unit.serial(), "shell", "pm", "path", "ru.zorvik.store"};
    QCOMPARE(secondHost.runAdb(pmPath).exitCode, 1);
    QCOMPARE(firstHost.runAdb({"-s", unit.serial(), "install", "-r", apk}).exitCode, 0);
    // The install made through one host shows on the other.
    const AdbResult path = secondHost.runAdb(pmPath);
    QCOMPARE(path.exitCode, 0);
    QCOMPARE(path.output, QStringLiteral("package:/data/app/ru.zorvik.store-1/base.apk\n"));
}

void TestHeadunitDevices::nothingLeftRunning()
{
    quint16 serverPort = 0;
    qint64 simPid = 0;
    {
        AdbServerSandbox adb;
        serverPort = adb.serverPort();
        QVERIFY(serverPort != 5037 && (serverPort < 5555 || serverPort > 5585));
        QCOMPARE(qgetenv("ANDROID_ADB_SERVER_PORT"), QByteArray::number(serverPort));

        SimulatedUnit unit;
        QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
        simPid = unit.processId();
        QVERIFY(adb.connect(unit.port()));
        QCOMPARE(adb.runAdb({"-s", unit.serial(), "shell", "getprop", "ro.build.version.sdk"}).output,
                 QStringLiteral("30\n"));
        QVERIFY(adb.serverListening());
#ifdef Q_OS_LINUX
        QCOMPARE(AdbServerSandbox::adbProcesses(serverPort).size(), 1);
#endif
        // A clean shutdown on SIGTERM, with the adb server still connected to it.
        QVERIFY(unit.stop());
    }
    QVERIFY(!qEnvironmentVariableIsSet("ANDROID_ADB_SERVER_PORT"));
#ifdef Q_OS_LINUX
    QVERIFY(AdbServerSandbox::adbProcesses(serverPort).isEmpty());
    QVERIFY(!processExists(simPid));
#endif
    QVERIFY(!QFileInfo::exists(QDir::homePath() + QStringLiteral("/.android/adb.%1").arg(serverPort)));
}

QTEST_GUILESS_MAIN(TestHeadunitDevices)
#include "tst_headunitdevices.moc"
