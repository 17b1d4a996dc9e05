#include "commandrunner.h"
#include "devicewatcher.h"
#include "discovery.h"
#include "fakeadb.h"
#include "networkunit.h"
#include "trackdevices.h"

#include <QElapsedTimer>
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
    // What the watcher takes off track-devices' stream, message by message, until it needs
    // more bytes ("more") or gives the stream up ("malformed").
    void trackedStream_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("connected, removed, back") << QByteArray("0018127.0.0.1:42841\toffline\n0017127.0.0.1:42841\tdevice\n0000")
            << QStringList{"127.0.0.1:42841|offline", "127.0.0.1:42841|device", "", "more"};
        QTest::newRow("upper-case length, two units") << QByteArray("001AS1\tdevice\nS2\tunauthorized\n")
            << QStringList{"S1|device S2|unauthorized", "more"};
        QTest::newRow("cut off in the payload") << QByteArray("0018127.0.0.1:4") << QStringList{"more"};
        QTest::newRow("garbage after a message") << QByteArray("000aS1\tdevice\n* daemon started") << QStringList{"S1|device", "malformed"};
        QTest::newRow("length with a blank") << QByteArray(" 00aS1\tdevice\n") << QStringList{"malformed"};
        QTest::newRow("length with a sign") << QByteArray("+00aS1\tdevice\n") << QStringList{"malformed"};
        QTest::newRow("payload not UTF-8") << QByteArray("0003S\t\xff") << QStringList{"malformed"};
        QTest::newRow("line without a tab skipped, blanks kept")
            << QByteArray("0027junk\nS3\tno permissions (udev); see [x]\n") << QStringList{"S3|no permissions (udev); see [x]", "more"};
        QTest::newRow("cut off in the length, then the longest length") << QByteArray("00") << QStringList{"more"};
    }
    void trackedStream()
    {
        QFETCH(QByteArray, stream);
        QStringList steps;
        for (QByteArrayView rest(stream); steps.isEmpty() || steps.last().contains(u'|') || steps.last().isEmpty();) {
            const adb::TrackedStep step = adb::takeTrackedMessage(rest);
            if (step.kind != adb::TrackedStep::Kind::Message) {
                steps << (step.kind == adb::TrackedStep::Kind::Malformed ? "malformed" : "more");
                break;
            }
            QVERIFY(step.consumed > 0 && step.consumed <= adb::kMaxTrackedMessage);
            steps << described(step.listing).join(u' ');
            rest = rest.sliced(step.consumed);
        }
        QTEST(steps, "steps");
    }

    // When "adb devices" is compared besides the stream, which adb 29 keeps blind to
    // "unauthorized" and to a network unit whose link dropped.
    void pollInterval_data()
    {
        QTest::addColumn<QString>("listing");     // "serial|state" rows
        QTest::addColumn<bool>("installing");
        QTest::addColumn<qint64>("ageMs");         // of the newest state other than "device"; -1 none
        QTest::addColumn<int>("interval");         // 0: no comparison, the stream alone
        QTest::newRow("nothing listed") << "" << false << -1LL << 0;
        QTest::newRow("USB units ready") << "S1|device S2|device" << false << -1LL << 0;
        QTest::newRow("during an install") << "S1|device" << true << -1LL << 1000;
        QTest::newRow("network unit ready") << "10.0.0.5:5555|device" << false << -1LL << 1000;
        QTest::newRow("waiting for Allow") << "S1|unauthorized" << false << 60000LL << 1000;
        QTest::newRow("waiting over a minute") << "S1|unauthorized S2|device" << false << 60001LL << 5000;
        QTest::newRow("network unit offline long") << "10.0.0.5:5555|offline" << false << 90000LL << 5000;
        QTest::newRow("installing, waiting long") << "S1|offline" << true << 90000LL << 1000;
    }
    void pollInterval()
    {
        QFETCH(QString, listing);
        QFETCH(bool, installing);
        QFETCH(qint64, ageMs);
        DeviceList rows;
        for (const QString &row : listing.split(u' ', Qt::SkipEmptyParts))
            rows.append(DeviceInfo(row.section(u'|', 0, 0), row.section(u'|', 1)));
        const std::optional<int> interval = adb::pollIntervalMs(rows, installing, ageMs < 0 ? std::nullopt : std::optional(ageMs));
        QTEST(interval.value_or(0), "interval");
        // The stream's restarts wait 1, 2, 4 ... and at most 30 s.
        QList<int> delays;
        for (int ends = 1; ends <= 7; ++ends)
            delays << adb::restartDelayMs(ends);
        QCOMPARE(delays, (QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000}));
    }
    // Only what passes reaches adb, as one HOST:PORT argument; "" is refused.
    void networkAddress_data()
    {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QString>("address");
        QTest::newRow("IPv4, default port") << QStringList{"192.168.1.50"} << "192.168.1.50:5555";
        QTest::newRow("IPv4 with port, blanks around") << QStringList{" 10.0.0.7:5037 \n"} << "10.0.0.7:5037";
        QTest::newRow("host name") << QStringList{"car-unit.local:5556"} << "car-unit.local:5556";
        QTest::newRow("253 characters") << QStringList{QString("a.").repeated(126) + "b"} << QString("a.").repeated(126) + "b:5555";
        QTest::newRow("IPv6, default port") << QStringList{"[::1]"} << "[::1]:5555";
        QTest::newRow("IPv6 with port") << QStringList{"[fe80::a:1]:5556"} << "[fe80::a:1]:5556";
        QTest::newRow("IPv6 with IPv4 tail") << QStringList{"[::ffff:192.168.1.5]"} << "[::ffff:192.168.1.5]:5555";
        // The resolver would read these as other addresses: octal parts, one big number, hex.
        QTest::newRow("numbers read otherwise") << QStringList{"192.168.001.050", "3232235826", "10.0.1", "0x7f"} << "";
        QTest::newRow("not an IPv4 or a name") << QStringList{"192.168.1.256", "-car.local", "car-.local", QString("a.").repeated(126) + "bc"} << "";
        QTest::newRow("not bracketed IPv6") << QStringList{"fe80::1", "[1:2:3:4:5:6:7:8:9]", "[fe80::1%eth0]"} << "";
        QTest::newRow("not a port") << QStringList{"10.0.0.7:0", "10.0.0.7:65536", "10.0.0.7:05555", "10.0.0.7:+5", ":5555"} << "";
        QTest::newRow("not an address at all") << QStringList{"  ", "http://192.168.1.5", "192.168.1.5 5555", "-s", "'car.local'",
                                                              "car.local;reboot", "car.local/x"} << "";
        // A line break inside would reach adb as part of the address.
        QTest::newRow("line break inside") << QStringList{"192.168.1\n.50", "car\n.local", "[::1\n]", "192.168.1.50:5\n.5"} << "";
    }
    void networkAddress()
    {
        QFETCH(QStringList, typed);
        QFETCH(QString, address);
        for (const QString &text : typed)
            QVERIFY2(adb::normalisedAddress(text).value_or(QString()) == address, qPrintable(text));
    }

    // adb connect exits 0 whatever happened; its words decide, on any line.
    void connectVerdict_data()
    {
        QTest::addColumn<QString>("said");
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<int>("verdict");
        using V = adb::ConnectVerdict;
        QTest::newRow("cold server") << "* daemon not running; starting now at tcp:5037\n* daemon started successfully\n"
                                        "connected to 127.0.0.1:5555\n" << false << int(V::Connected);
        QTest::newRow("already listed") << "already connected to 127.0.0.1:5555\n" << false << int(V::AlreadyConnected);
        QTest::newRow("asks the person") << "failed to authenticate to 127.0.0.1:34137\n" << false << int(V::NeedsAuthorization);
        QTest::newRow("refused") << "failed to connect to '127.0.0.1:1': Connection refused\n" << false << int(V::Failed);
        QTest::newRow("newer adb's refusal") << "unable to connect to 127.0.0.1:1: Connection refused\n" << false << int(V::Failed);
        QTest::newRow("ended by the limit") << "" << true << int(V::TimedOut);
        QTest::newRow("adb 29, no route") << "failed to connect to '10.0.0.9:5555': No route to host\n" << false << int(V::Failed);
        QTest::newRow("adb 29, unknown name") << "failed to resolve host: 'car.local': Name or service not known\n" << false
                                              << int(V::Failed);
        QTest::newRow("adb 34, refused") << "failed to connect to '192.168.1.50:5555': Connection refused\n" << false << int(V::Failed);
        QTest::newRow("words inside another line") << "error: already connected to 127.0.0.1:5555\n" << false << int(V::Failed);
    }
    void connectVerdict()
    {
        QFETCH(QString, said);
        QFETCH(bool, stopped);
        QTEST(int(adb::connectVerdict({stopped ? -1 : 0, said, stopped})), "verdict");
    }

    // What "already connected" comes to, by the listed state of that very address.
    void alreadyConnected_data()
    {
        QTest::addColumn<QString>("devices");     // what "adb devices" printed
        QTest::addColumn<int>("entry");
        using L = adb::ListedConnection;
        QTest::newRow("ready") << "A\tdevice\n" << int(L::Ready);
        QTest::newRow("adb 29, waiting for Allow") << "A\tunauthorized\n" << int(L::WaitingForAllow);
        QTest::newRow("adb 34, waiting for Allow") << "A\tauthorizing\n" << int(L::WaitingForAllow);
        QTest::newRow("dropped link") << "S1\tdevice\nA\toffline\n" << int(L::Stale);
        QTest::newRow("not listed, another one ready") << "S1\tdevice\n10.0.0.6:5555\tdevice\n" << int(L::Unusable);
        QTest::newRow("same host, other port") << "10.0.0.5:5556\tdevice\n" << int(L::Unusable);
        QTest::newRow("no permissions") << "A\tno permissions (missing udev rules?); see [https://x]\n" << int(L::Unusable);
        QTest::newRow("other states") << "A\trecovery\n" << int(L::Unusable);
        QTest::newRow("nothing listed") << "" << int(L::Unusable);
    }
    void alreadyConnected()
    {
        QFETCH(QString, devices);
        devices.replace(QStringLiteral("A\t"), QStringLiteral("10.0.0.5:5555\t"));
        QTEST(int(adb::listedConnection(adb::parseDeviceListing(kHeader + devices), "10.0.0.5:5555")), "entry");
    }

    // A failed connect is told in plain words, chosen by adb's words wherever they stand.
    void failureInPlainWords_data()
    {
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("meaning");   // a piece of the one explanation that fits
        const QString refused = QStringLiteral("не принимает подключения на этом порту");
        const QString unseen = QStringLiteral("Компьютер не видит этот адрес");
        const QString noName = QStringLiteral("Такого имени в сети нет");
        const QString other = QStringLiteral("что на автомобиле включена отладка по сети");
        QTest::newRow("adb 29, refused") << "failed to connect to '192.168.1.50:5555': Connection refused\n" << refused;
        QTest::newRow("adb 34, refused after a cold start")
            << "* daemon not running; starting now at tcp:5037\n* daemon started successfully\n"
               "failed to connect to '192.168.1.50:5555': Connection refused\n" << refused;
        QTest::newRow("older wording, refused") << "unable to connect to 192.168.1.50:5555: Connection refused\n" << refused;
        QTest::newRow("adb 29, no route") << "failed to connect to '10.0.0.9:5555': No route to host\n" << unseen;
        QTest::newRow("adb 34, no network") << "failed to connect to '172.16.0.4:5555': Network is unreachable\n" << unseen;
        QTest::newRow("host unreachable") << "failed to connect to '10.0.0.9:5555': Host is unreachable\n" << unseen;
        QTest::newRow("adb 29 and 34, unknown name") << "failed to resolve host: 'car.local': Name or service not known\n" << noName;
        QTest::newRow("no adb answer in 10 s") << "failed to connect to 192.168.1.50:5555\n" << other;
        QTest::newRow("already connected, not usable") << "already connected to 192.168.1.50:5555\n" << other;
        QTest::newRow("nothing said") << "" << other;
        QTest::newRow("a name that looks like a reason") << "failed to resolve host: 'refused': Name or service not known\n" << noName;
    }
    void failureInPlainWords()
    {
        QFETCH(QString, said);
        QFETCH(QString, meaning);
        const QString explanation = adb::connectFailureExplanation(said);
        QVERIFY2(explanation.contains(meaning), qPrintable(explanation));
        // As the install failures are laid out: the header, the explanation, a blank line, adb's words.
        const QString log = adb::connectLogText({adb::ConnectVerdict::Failed, said}, "192.168.1.50:5555");
        const QString words = said.trimmed();
        QCOMPARE(log, "Не удалось подключиться к 192.168.1.50:5555:\n" + explanation + (words.isEmpty() ? "" : "\n\n" + words));
    }

    // The adb commands each ending of a connect leads to: a failure never leaves its entry
    // behind, a connection or a unit waiting for "Allow" is left alone, and a stale entry is
    // dropped and connected afresh once, within the one limit.
    void connectCommands_data()
    {
        QTest::addColumn<QString>("first");      // sh: the first "adb connect"
        QTest::addColumn<QString>("again");      // sh: "adb connect" once "adb disconnect" ran
        QTest::addColumn<QString>("devices");    // sh: "adb devices"
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("commands");   // their first words, in order
        using V = adb::ConnectVerdict;
        const QString connected = QStringLiteral("echo connected to 192.168.1.50:5555");
        const QString already = QStringLiteral("echo already connected to 192.168.1.50:5555");
        const QString asks = QStringLiteral("echo failed to authenticate to 192.168.1.50:5555");
        const QString silent = QStringLiteral("exec sleep 10");
        const auto listed = [](const char *state) {
            return QStringLiteral("printf 'List of devices attached\\nS1\\tdevice\\n192.168.1.50:5555\\t%1\\n'").arg(QLatin1String(state));
        };
        QTest::newRow("connected") << connected << "" << "" << int(V::Connected) << "connect";
        QTest::newRow("asks for Allow") << asks << "" << "" << int(V::NeedsAuthorization) << "connect";
        QTest::newRow("already, ready") << already << "" << listed("device") << int(V::Connected) << "connect devices";
        QTest::newRow("already, adb 29 waits for Allow") << already << "" << listed("unauthorized") << int(V::NeedsAuthorization)
                                                          << "connect devices";
        QTest::newRow("already, adb 34 waits for Allow") << already << "" << listed("authorizing") << int(V::NeedsAuthorization)
                                                          << "connect devices";
        QTest::newRow("stale, then connected") << already << connected << listed("offline") << int(V::Connected)
                                               << "connect devices disconnect connect";
        QTest::newRow("stale, then asks for Allow") << already << asks << listed("offline") << int(V::NeedsAuthorization)
                                                    << "connect devices disconnect connect";
        QTest::newRow("stale twice") << already << already << listed("offline") << int(V::Failed)
                                     << "connect devices disconnect connect devices disconnect";
        QTest::newRow("stale, then refused") << already << "echo \"failed to connect to '192.168.1.50:5555': Connection refused\""
                                             << listed("offline") << int(V::Failed) << "connect devices disconnect connect disconnect";
        QTest::newRow("already, not listed")
            << already << "" << "printf 'List of devices attached\\n192.168.1.50:5556\\tdevice\\n'" << int(V::Failed)
            << "connect devices disconnect";
        QTest::newRow("already, no permissions") << already << "" << listed("no permissions") << int(V::Failed)
                                                 << "connect devices disconnect";
        QTest::newRow("already, listing hangs") << already << "" << silent << int(V::Failed) << "connect devices disconnect";
        QTest::newRow("refused") << "echo \"failed to connect to '192.168.1.50:5555': Connection refused\"" << "" << ""
                                 << int(V::Failed) << "connect disconnect";
        QTest::newRow("silent host") << silent << "" << "" << int(V::TimedOut) << "connect disconnect";
        // The second try gets what the first one left of the limit, not a limit of its own.
        QTest::newRow("slow stale, then silent") << "sleep 1.2; " + already << silent << listed("offline") << int(V::TimedOut)
                                                 << "connect devices disconnect connect disconnect";
    }
    void connectCommands()
    {
        QFETCH(QString, first);
        QFETCH(QString, again);
        QFETCH(QString, devices);
        const QString address = QStringLiteral("192.168.1.50:5555");
        FakeAdb adb;
        adb.replyWithScript({"connect", address}, QStringLiteral("if [ -e \"$R/dropped\" ]; then %1; else %2; fi")
                                                      .arg(again.isEmpty() ? QStringLiteral("exit 9") : again, first));
        adb.replyWithScript({"disconnect", address}, QStringLiteral("touch \"$R/dropped\"; echo disconnected %1").arg(address));
        if (!devices.isEmpty())
            adb.replyWithScript({"devices"}, devices);
        adb::Timing timing;
        timing.scanCommandMs = 1000;
        const int limitMs = 2000;
        QElapsedTimer clock;
        clock.start();
        const adb::ConnectAttempt attempt = adb::connectNetworkUnit(adb.resourceDir(), address, timing, limitMs);
        const qint64 tookMs = clock.elapsed();
        QTEST(int(attempt.verdict), "verdict");
        QFETCH(QString, commands);
        QList<QStringList> expected;
        for (const QString &command : commands.split(u' '))
            expected << (command == QLatin1String("devices") ? QStringList{command} : QStringList{command, address});
        QCOMPARE(adb.calls(), expected);
        // Every command ran within its limit: the connects together, the rest each on its own.
        QVERIFY2(tookMs < limitMs + 2 * timing.scanCommandMs, qPrintable(QString::number(tookMs)));
        if (attempt.verdict == adb::ConnectVerdict::TimedOut)
            QVERIFY2(tookMs < limitMs + 700, qPrintable(QString::number(tookMs)));
    }
};

QTEST_GUILESS_MAIN(TestAdb)
#include "tst_adb.moc"
