// headunit-sim at the packet level, as a hand-driven host: handshake and AUTH,
// stop-and-wait flow control within the host's maximum payload, the raw shell form,
// counting exactly -S install bytes, and surviving bad or vanishing peers.
// Packets are built with the sim's own codec, whose bytes tst_headunitcore checks.

#include "adbpacket.h"
#include "shellv2.h"
#include "simharness.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <optional>

using adbwire::Packet;

namespace {

QByteArray service(const char *text)
{
    return QByteArray(text) + '\0';
}

// One TCP connection to the unit, speaking adb packets by hand.
class RawHost
{
public:
    explicit RawHost(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        m_socket.waitForConnected(5000);
    }

    [[nodiscard]] bool isConnected() const
    {
        return m_socket.state() == QAbstractSocket::ConnectedState;
    }

    void send(quint32 command, quint32 arg0, quint32 arg1, const QByteArray &payload = {})
    {
        sendBytes(adbwire::encodePacket({command, arg0, arg1, payload}));
    }

    void sendBytes(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.waitForBytesWritten(5000);
    }

    // The next packet from the unit, or nullopt after timeoutMs.
    std::optional<Packet> receive(int timeoutMs = 5000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (true) {
            if (std::optional<Packet> packet = m_reader.next())
                return packet;
            if (deadline.hasExpired() || !isConnected())
                return std::nullopt;
            m_socket.waitForReadyRead(20);
            m_reader.feed(m_socket.readAll());
        }
    }

    // CNXN as adb 29 sends it; returns the unit's answer.
    std::optional<Packet> handshake(quint32 maxPayload = 1048576)
    {
        send(adbwire::Cnxn, adbwire::kVersion, maxPayload,
             "host::features=remount_shell,abb_exec,abb,apex,fixed_push_mkdir,ls_v2,stat_v2,"
             "fixed_push_symlink_timestamp,cmd,shell_v2");
        return receive();
    }

    // True when the unit closes the connection within timeoutMs.
    bool closedByPeer(int timeoutMs = 5000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (isConnected() && !deadline.hasExpired()) {
            m_socket.waitForReadyRead(20);
            m_socket.readAll();
        }
        return !isConnected();
    }

    void abort() { m_socket.abort(); }

private:
    QTcpSocket m_socket;
    adbwire::PacketReader m_reader;
};

bool isPacket(const std::optional<Packet> &packet, quint32 command, quint32 arg1)
{
    return packet && packet->command == command && packet->arg1 == arg1;
}

bool hasEntry(const SimulatedUnit &unit, const QString &command, const QString &outcome)
{
    const QList<QJsonObject> entries = unit.logEntries();
    return std::any_of(entries.cbegin(), entries.cend(), [&](const QJsonObject &entry) {
        return entry.value("command").toString() == command
               && entry.value("outcome").toString() == outcome;
    });
}

} // namespace

class TestHeadunitWire : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void handshakeAnswersWithBanner();
    void unauthorizedKeepsAskingForAuth();
    void rawShellForm();
    void stopAndWaitWithinMaxPayload();
    void installCountsExactlySizeBytes();
    void packetsForUnknownIdsIgnored();
    void unknownServiceRefused();
    void badMagicDropsOnlyThatConnection();
    void hostDisconnectMidInstall();
    void sigintEndsCleanly();
};

void TestHeadunitWire::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^headunit-sim .*did not end cleanly")));
}

void TestHeadunitWire::handshakeAnswersWithBanner()
{
    SimulatedUnit unit;
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    RawHost host(unit.port());

    const std::optional<Packet> answer = host.handshake();
    QVERIFY(answer);
    QCOMPARE(answer->command, quint32(adbwire::Cnxn));
    QCOMPARE(answer->arg0, quint32(0x01000001));
    QCOMPARE(answer->arg1, quint32(262144));
    QCOMPARE(answer->payload,
             QByteArray("device::ro.product.name=lixiang_hu;ro.product.model=Li Auto HU 8155;"
                        "ro.product.device=hu8155;features=cmd,shell_v2"));
}

void TestHeadunitWire::unauthorizedKeepsAskingForAuth()
{
    SimulatedUnit unit({{"unauthorized", true}});
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    RawHost host(unit.port());

    const std::optional<Packet> token = host.handshake();
    QVERIFY(token);
    QCOMPARE(token->command, quint32(adbwire::Auth));
    QCOMPARE(token->arg0, quint32(adbwire::AuthToken));
    QCOMPARE(token->payload.size(), 20);

    // A signature is never good enough: a fresh token comes back.
    host.send(adbwire::Auth, adbwire::AuthSignature, 0, QByteArray(256, 's'));
    const std::optional<Packet> again = host.receive();
    QVERIFY(again);
    QCOMPARE(again->command, quint32(adbwire::Auth));
    QCOMPARE(again->arg0, quint32(adbwire::AuthToken));
    QVERIFY(again->payload != token->payload);

    // The public key waits for a user who never answers; streams are not served.
    host.send(adbwire::Auth, adbwire::AuthRsaPublicKey, 0, "QAAAA... user@host\0");
    host.send(adbwire::Open, 7, 0, service("shell,v2,raw:getprop"));
    QVERIFY(!host.receive(300));
    QVERIFY(host.isConnected());
}

void TestHeadunitWire::rawShellForm()
{
    SimulatedUnit unit;
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    RawHost host(unit.port());
    QVERIFY(host.handshake());

    host.send(adbwire::Open, 5, 0, service("shell:getprop ro.product.model"));
    const std::optional<Packet> okay = host.receive();
    QVERIFY(isPacket(okay, adbwire::Okay, 5));
    const quint32 local = okay->arg0;
    QVERIFY(local != 0);

    // No shell-v2 framing: the bare text, then CLSE once the WRTE is acknowledged.
    const std::optional<Packet> data = host.receive();
    QVERIFY(isPacket(data, adbwire::Wrte, 5));
    QCOMPARE(data->arg0, local);
    QCOMPARE(data->payload, QByteArray("Li Auto HU 8155\n"));
    QVERIFY(!host.receive(200));
    host.send(adbwire::Okay, 5, local);
    const std::optional<Packet> close = host.receive();
    QVERIFY(isPacket(close, adbwire::Clse, 5));
    QCOMPARE(close->arg0, local);
}

void TestHeadunitWire::stopAndWaitWithinMaxPayload()
{
    const QByteArray big(10000, 'x');
    SimulatedUnit unit({{"properties", QJsonObject{{"big", QString::fromLatin1(big)}}}});
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    RawHost host(unit.port());
    QVERIFY(host.handshake(4096));

    host.send(adbwire::Open, 7, 0, service("shell,v2,TERM=xterm,raw:getprop big"));
    const std::optional<Packet> okay = host.receive();
    QVERIFY(isPacket(okay, adbwire::Okay, 7));
    const quint32 local = okay->arg0;

    QByteArray stream;
    std::optional<Packet> packet = host.receive();
    QVERIFY(isPacket(packet, adbwire::Wrte, 7));
    QCOMPARE(packet->payload.size(), 4096);
    stream += packet->payload;
    // Nothing more until the host acknowledges ...
    QVERIFY(!host.receive(300));

    // ... while another stream on the same connection is served meanwhile.
    host.send(adbwire::Open, 10, 0, service("shell,v2,raw:getprop ro.build.version.sdk"));
    const std::optional<Packet> otherOkay = host.receive();
    QVERIFY(isPacket(otherOkay, adbwire::Okay, 10));
    const std::optional<Packet> otherData = host.receive();
    QVERIFY(isPacket(otherData, adbwire::Wrte, 10));
    QCOMPARE(otherData->payload, shellv2::encodeCommandReply("30\n", {}, 0));
    host.send(adbwire::Okay, 10, otherOkay->arg0);
    QVERIFY(isPacket(host.receive(), adbwire::Clse, 10));

    const QByteArray expected = shellv2::encodeCommandReply(big + '\n', {}, 0);
    while (true) {
        host.send(adbwire::Okay, 7, local);
        packet = host.receive();
        QVERIFY(packet);
        QCOMPARE(packet->arg1, quint32(7));
        if (packet->command == adbwire::Clse)
            break;
        QCOMPARE(packet->command, quint32(adbwire::Wrte));
        QVERIFY(packet->payload.size() <= 4096);
        stream += packet->payload;
        QVERIFY(!host.receive(50));
    }
    QCOMPARE(stream, expected);
}

void TestHeadunitWire::installCountsExactlySizeBytes()
{
    SimulatedUnit unit;
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    RawHost host(unit.port());
    QVERIFY(host.handshake());

    host.send(adbwire::Open, 9, 0, service("exec:cmd package 'install' '-r' -S 5"));
    const std::optional<Packet> okay = host.receive();
    QVERIFY(isPacket(okay, adbwire::Okay, 9));
    const quint32 local = okay->arg0;

    host.send(adbwire::Wrte, 9, local, "abc");
    QVERIFY(isPacket(host.receive(), adbwire::Okay, 9));
    QVERIFY(!host.receive(200)); // 3 of 5 bytes: no answer yet, and no EOF is awaited later

    host.send(adbwire::Wrte, 9, local, "de");
    QVERIFY(isPacket(host.receive(), adbwire::Okay, 9));
    const std::optional<Packet> reply = host.receive();
    QVERIFY(isPacket(reply, adbwire::Wrte, 9));
    QCOMPARE(reply->payload, QByteArray("Success\n"));
    host.send(adbwire::Okay, 9, local);
    QVERIFY(isPacket(host.receive(), adbwire::Clse, 9));

    const QList<QJsonObject> log = unit.logEntries();
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.at(0).value("size").toInteger(), 5);
    QCOMPARE(log.at(0).value("sha256").toString(),
             QString::fromLatin1(QCryptographicHash::hash("abcde", QCryptographicHash::Sha256).toHex()));
}

void TestHeadunitWire::packetsForUnknownIdsIgnored()
{
    SimulatedUnit unit;
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    RawHost host(unit.port());
    QVERIFY(host.handshake());

    // Late packets for streams that never were or are closed: no answer at all.
    host.send(adbwire::Wrte, 3, 99, shellv2::encode(shellv2::CloseStdin, {}));
    host.send(adbwire::Okay, 3, 99);
    host.send(adbwire::Clse, 3, 99);
    host.send(adbwire::Open, 0, 0, service("shell,v2,raw:getprop")); // host id 0 is invalid
    host.send(0x434E5953 /* SYNC */, 1, 2);
    QVERIFY(!host.receive(300));

    host.send(adbwire::Open, 4, 0, service("shell,v2,raw:wm size"));
    QVERIFY(isPacket(host.receive(), adbwire::Okay, 4));
    const std::optional<Packet> data = host.receive();
    QVERIFY(isPacket(data, adbwire::Wrte, 4));
    QCOMPARE(data->payload, shellv2::encodeCommandReply("Physical size: 1920x720\n", {}, 0));
}

void TestHeadunitWire::unknownServiceRefused()
{
    SimulatedUnit unit;
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    RawHost host(unit.port());
    QVERIFY(host.handshake());

    host.send(adbwire::Open, 7, 0, service("framebuffer:"));
    const std::optional<Packet> refusal = host.receive();
    QVERIFY(isPacket(refusal, adbwire::Clse, 7));
    QCOMPARE(refusal->arg0, quint32(0));

    const QList<QJsonObject> log = unit.logEntries();
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.at(0).value("service").toString(), QStringLiteral("framebuffer:"));
    QCOMPARE(log.at(0).value("outcome").toString(), QStringLiteral("refused"));
}

void TestHeadunitWire::badMagicDropsOnlyThatConnection()
{
    AdbServerSandbox adb;
    SimulatedUnit unit;
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    QVERIFY(adb.connect(unit.port()));

    RawHost garbage(unit.port());
    garbage.sendBytes(QByteArray(64, '\xA5'));
    QVERIFY2(garbage.closedByPeer(), "a peer with a bad magic must be dropped");

    // A header announcing more than adb's largest payload is dropped as well.
    RawHost huge(unit.port());
    QByteArray header = adbwire::encodePacket({adbwire::Wrte, 1, 1, {}});
    header[14] = 0x40;
    huge.sendBytes(header);
    QVERIFY(huge.closedByPeer());

    // The adb connection made before still works.
    const AdbResult answer =
        adb.runAdb({"-s", unit.serial(), "shell", "getprop", "ro.product.manufacturer"});
    QCOMPARE(answer.exitCode, 0);
    QCOMPARE(answer.output, QStringLiteral("LI_AUTO\n"));
}

void TestHeadunitWire::hostDisconnectMidInstall()
{
    SimulatedUnit unit;
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    {
        RawHost host(unit.port());
        QVERIFY(host.handshake());
        host.send(adbwire::Open, 7, 0, service("exec:cmd package 'install' '-r' -S 1000"));
        const std::optional<Packet> okay = host.receive();
        QVERIFY(isPacket(okay, adbwire::Okay, 7));
        host.send(adbwire::Wrte, 7, okay->arg0, QByteArray(100, 'a'));
        QVERIFY(isPacket(host.receive(), adbwire::Okay, 7));
        host.abort();
    }

    AdbServerSandbox adb;
    QVERIFY(adb.connect(unit.port()));
    QCOMPARE(adb.runAdb({"-s", unit.serial(), "shell", "pm", "path", "ru.zorvik.store"}).exitCode, 1);
    QVERIFY(hasEntry(unit, "cmd package install -r -S 1000", "closed by host"));
}

void TestHeadunitWire::sigintEndsCleanly()
{
    SimulatedUnit unit;
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    RawHost host(unit.port());
    QVERIFY(host.handshake());
    host.send(adbwire::Open, 7, 0, service("exec:cmd package 'install' '-r' -S 1000"));
    QVERIFY(isPacket(host.receive(), adbwire::Okay, 7));

    // Ctrl+C with a host connected and a stream open.
    QCOMPARE(::kill(pid_t(unit.processId()), SIGINT), 0);
    QVERIFY(host.closedByPeer());
    QTRY_VERIFY(!unit.isRunning());
    QVERIFY(unit.stop());
}

QTEST_GUILESS_MAIN(TestHeadunitWire)
#include "tst_headunitwire.moc"
