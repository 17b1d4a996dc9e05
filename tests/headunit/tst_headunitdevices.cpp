// headunit-sim as adb sees it: listing, authorization, several units and hosts,
// robustness against bad peers, and that nothing is left running.

#include "simharness.h"

#include <QDir>
#include <QFileInfo>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>
#include <csignal>

namespace {

QByteArray packet(const char command[4], quint32 arg0, quint32 arg1, const QByteArray &payload)
{
    QByteArray out;
    const auto u32 = [&out](quint32 v) {
        for (int i = 0; i < 4; ++i)
            out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    quint32 word = 0;
    for (int i = 0; i < 4; ++i)
        word |= quint32(quint8(command[i])) << (8 * i);
    u32(word);
    u32(arg0);
    u32(arg1);
    u32(static_cast<quint32>(payload.size()));
    u32(0);
    u32(word ^ 0xFFFFFFFFu);
    return out + payload;
}

// An OPEN payload: the service string and its NUL.
QByteArray service(const char *text)
{
    return QByteArray(text) + '\0';
}

QByteArray hostConnect()
{
    return packet("CNXN", 0x01000001, 1048576, "host::features=cmd,shell_v2");
}

// Reads until the peer closes or timeoutMs passes; true when it closed.
bool waitForPeerClose(QTcpSocket &socket, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(50);
        socket.readAll();
    }
    return socket.state() != QAbstractSocket::ConnectedState;
}

bool hasEntry(const SimulatedUnit &unit, const QString &command, const QString &outcome)
{
    const QList<QJsonObject> entries = unit.logEntries();
    return std::any_of(entries.cbegin(), entries.cend(), [&](const QJsonObject &entry) {
        return entry.value("command").toString() == command
               && entry.value("outcome").toString() == outcome;
    });
}

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
    void badMagicDropsOnlyThatConnection();
    void hostDisconnectMidInstall();
    void unknownServiceRefused();
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

void TestHeadunitDevices::badMagicDropsOnlyThatConnection()
{
    AdbServerSandbox adb;
    SimulatedUnit unit;
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    QVERIFY(adb.connect(unit.port()));

    QTcpSocket garbage;
    garbage.connectToHost(QHostAddress::LocalHost, unit.port());
    QVERIFY(garbage.waitForConnected(5000));
    garbage.write(QByteArray(64, '\xA5'));
    QVERIFY(garbage.waitForBytesWritten(5000));
    QVERIFY2(waitForPeerClose(garbage, 5000), "a peer with a bad magic must be dropped");

    // A header announcing more than adb's largest payload is dropped as well.
    QTcpSocket huge;
    huge.connectToHost(QHostAddress::LocalHost, unit.port());
    QVERIFY(huge.waitForConnected(5000));
    QByteArray header = packet("WRTE", 1, 1, {});
    header[14] = 0x40;
    huge.write(header);
    QVERIFY(waitForPeerClose(huge, 5000));

    // The adb connection made before still works.
    const AdbResult answer = adb.runAdb({"-s", unit.serial(), "shell", "getprop", "ro.product.manufacturer"});
    QCOMPARE(answer.exitCode, 0);
    QCOMPARE(answer.output, QStringLiteral("LI_AUTO\n"));
}

void TestHeadunitDevices::hostDisconnectMidInstall()
{
    SimulatedUnit unit;
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));

    {
        QTcpSocket host;
        host.connectToHost(QHostAddress::LocalHost, unit.port());
        QVERIFY(host.waitForConnected(5000));
        host.write(hostConnect());
        host.write(packet("OPEN", 7, 0, service("exec:cmd package 'install' '-r' -S 1000")));
        host.write(packet("OPEN", 10, 0, service("shell,v2,raw:getprop")));
        QVERIFY(host.waitForBytesWritten(5000));
        // CNXN + OKAY for each OPEN; the WRTE of the first stream follows later.
        QByteArray received;
        QDeadlineTimer deadline(5000);
        while (received.count("OKAY") < 2 && !deadline.hasExpired()) {
            host.waitForReadyRead(50);
            received += host.readAll();
        }
        QVERIFY(received.startsWith("CNXN"));
        QCOMPARE(received.count("OKAY"), 2);
        host.abort();
    }

    AdbServerSandbox adb;
    QVERIFY(adb.connect(unit.port()));
    QCOMPARE(adb.runAdb({"-s", unit.serial(), "shell", "wm", "density"}).output,
             QStringLiteral("Physical density: 160\n"));
    QTRY_VERIFY(hasEntry(unit, "cmd package install -r -S 1000", "closed by host"));
}

void TestHeadunitDevices::unknownServiceRefused()
{
    SimulatedUnit unit;
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));

    QTcpSocket host;
    host.connectToHost(QHostAddress::LocalHost, unit.port());
    QVERIFY(host.waitForConnected(5000));
    host.write(hostConnect());
    host.write(packet("OPEN", 7, 0, service("framebuffer:")));
    QByteArray received;
    const QByteArray refusal = packet("CLSE", 0, 7, {});
    QDeadlineTimer deadline(5000);
    while (!received.contains(refusal.left(12)) && !deadline.hasExpired()) {
        host.waitForReadyRead(50);
        received += host.readAll();
    }
    QVERIFY2(received.contains(refusal.left(12)), "CLSE(0, 7) expected");
    QTRY_COMPARE(unit.logEntries().size(), 1);
    QCOMPARE(unit.logEntries().at(0).value("outcome").toString(), QStringLiteral("refused"));
    QCOMPARE(unit.logEntries().at(0).value("service").toString(), QStringLiteral("framebuffer:"));
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
