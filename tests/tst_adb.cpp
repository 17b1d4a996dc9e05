#include "commandrunner.h"
#include "devicewatcher.h"
#include "discovery.h"
#include "fakeadb.h"
#include "networkunit.h"
#include "pairing.h"
#include "trackdevices.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <signal.h>
#include <optional>

#include <thread>
#include <utility>
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

const QString kPairAddress = QStringLiteral("127.0.0.1:37123");
const QString kCode = QStringLiteral("482913");

// "serial|state" rows, blank-separated, as a listing; and as "adb devices" prints it.
DeviceList listingOf(const QString &rows)
{
    DeviceList listing;
    for (const QString &row : rows.split(u' ', Qt::SkipEmptyParts))
        listing.append(DeviceInfo(row.section(u'|', 0, 0), row.section(u'|', 1)));
    return listing;
}
QString devicesOutput(const QString &rows)
{
    QString output = kHeader;
    for (const DeviceInfo &row : listingOf(rows))
        output += row.serial() + u'\t' + row.state() + u'\n';
    return output;
}

// The watcher's minutes in a few seconds: comparisons every 100 ms, every 400 ms once a
// state is older than 600 ms; the stream restarted after 150, 300, 600, 1200 ms.
adb::Timing quickTiming()
{
    adb::Timing timing;
    timing.pollFastMs = 100;
    timing.pollSlowMs = 400;
    timing.transitionalMs = 600;
    timing.pollLimitMs = 500;
    timing.restartFirstMs = 150;
    timing.restartMaxMs = 1200;
    return timing;
}

// Every listing the watcher tells, as "changed: ROWS" or "same: ROWS".
void record(adb::DeviceWatcher &watcher, QStringList &seen)
{
    QObject::connect(&watcher, &adb::DeviceWatcher::listingSeen, &watcher, [&seen](const DeviceList &listing, bool changed) {
        seen << QString(changed ? "changed: " : "same: ") + described(listing).join(u' ');
    });
}

// A message for every hex digit in each of the four places of the length, in both cases,
// with its unit's serial. The other places hold 1, so that every payload has room for its
// unit, which comes last, after lines without a TAB: a length read short loses the unit,
// one read long eats into the next message, and either way the next length is no length.
QList<std::pair<QByteArray, QString>> framingMessages()
{
    QList<std::pair<QByteArray, QString>> messages;
    for (int place = 0; place < 4; ++place) {
        for (const char digit : QByteArray("0123456789abcdefABCDEF")) {
            QByteArray length("1111");
            length[place] = digit;
            const QByteArray row = 'S' + length + "\tdevice\n";
            const QByteArray filler = QByteArray(length.toInt(nullptr, 16) - row.size() - 1, 'z') + '\n';
            messages.append({length + filler + row, QString::fromLatin1('S' + length)});
        }
    }
    return messages;
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
        adb::startScan(&context, adb.resourceDir(), adb::Timing{}, [&](const adb::ScanResult &scan) {
            if (QThread::currentThread() == context.thread())
                lists = {scan.ready, scan.listed};
        });
        QVERIFY2(lists.isEmpty(), "queued, never run inside startScan");
        QTRY_COMPARE_WITH_TIMEOUT(lists.size(), 2, 10000);
        QCOMPARE(adb.calls(), calls);
        QTEST(described(lists[1]), "listed");
        QCOMPARE(described(lists[0], true), ready);
    }
    // One command that never answers, under a shortened limit: the scan still ends, tells
    // what hung, and leaves no adb behind.
    void scanTimeLimit_data()
    {
        QTest::addColumn<QStringList>("hung");          // the argv that hangs
        QTest::addColumn<QStringList>("calls");         // every argv run, space-joined
        QTest::addColumn<QStringList>("ready");
        QTest::addColumn<QStringList>("unanswered");
        QTest::addColumn<bool>("wedged");
        const auto joined = [](const QList<QStringList> &calls) {
            QStringList lines;
            for (const QStringList &call : calls)
                lines << call.join(u' ');
            return lines;
        };
        const QStringList start{"start-server", "devices"};
        const QList<QStringList> a = probeCalls("A");
        const QList<QStringList> b = probeCalls("192.168.1.50:5555");
        QTest::newRow("first unit's second probe") << a.at(1) << start + joined(a.mid(0, 2)) + joined(b)
                                                   << QStringList{"192.168.1.50:5555"} << QStringList{"A"} << false;
        QTest::newRow("network unit's last probe") << b.at(7) << start + joined(a) + joined(b)
                                                   << QStringList{"A"} << QStringList{"192.168.1.50:5555"} << false;
        QTest::newRow("devices") << QStringList{"devices"} << start << QStringList{} << QStringList{} << true;
        QTest::newRow("start-server") << QStringList{"start-server"} << QStringList{"start-server"} << QStringList{}
                                      << QStringList{} << true;
    }
    void scanTimeLimit()
    {
        QFETCH(QStringList, hung);
        FakeAdb adb;
        adb.setListing(kHeader + "A\tdevice\n192.168.1.50:5555\tdevice\n");
        adb.addDevice({"A"});
        adb.addDevice({"192.168.1.50:5555"});
        adb.hang(hung);
        adb::Timing timing;
        // Long enough for a loaded machine to start a healthy fake adb many times over.
        timing.scanCommandMs = 1000;
        QObject context;
        std::optional<adb::ScanResult> result;
        QElapsedTimer clock;
        clock.start();
        adb::startScan(&context, adb.resourceDir(), timing, [&](const adb::ScanResult &scan) { result = scan; });
        // The hung command sleeps for minutes; without the limit the scan would too.
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 15000);
        qInfo("scan ended after %lld ms", clock.elapsed());
        QStringList calls;
        for (const QStringList &call : adb.calls())
            calls << call.join(u' ');
        QTEST(calls, "calls");
        QStringList ready;
        for (const DeviceInfo &device : result->ready)
            ready << device.serial();
        QTEST(ready, "ready");
        QTEST(result->unanswered, "unanswered");
        QTEST(result->serverWedged, "wedged");
        QCOMPARE(result->listed.isEmpty(), result->serverWedged);
        const QList<qint64> hungProcesses = adb.hungProcesses();
        QCOMPARE(hungProcesses.size(), 1);
        // Ended and reaped, not left sleeping (nor a zombie).
        QVERIFY2(::kill(pid_t(hungProcesses.first()), 0) == -1 && errno == ESRCH, "the hung adb still runs");
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
        for (const auto &[message, serial] : framingMessages())
            QTest::addRow("length %s", qPrintable(serial.mid(1))) << message << QStringList{serial + "|device", "more"};
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
        const std::optional<int> interval = adb::pollIntervalMs(listingOf(listing), installing, ageMs < 0 ? std::nullopt : std::optional(ageMs));
        QTEST(interval.value_or(0), "interval");
        // The stream's restarts wait 1, 2, 4 ... and at most 30 s.
        QList<int> delays;
        for (int ends = 1; ends <= 7; ++ends)
            delays << adb::restartDelayMs(ends);
        QCOMPARE(delays, (QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000}));
    }

    // The framing messages above, one after another through the fake's stream: the watcher
    // must tell each unit once, in order, and never drop the stream and read it again.
    void watcherFraming()
    {
        FakeAdb adb;
        QStringList expected{"same: "};
        for (const auto &[message, serial] : framingMessages()) {
            adb.trackBytes(message);
            expected << "changed: " + serial + "|device";
        }
        adb::DeviceWatcher watcher(adb.resourceDir(), nullptr, quickTiming());
        QStringList seen;
        record(watcher, seen);
        watcher.noteListing({});
        watcher.start();
        QTRY_VERIFY_WITH_TIMEOUT(seen.size() >= expected.size(), 15000);
        QCOMPARE(seen, expected);
    }

    // The stream ends at once five times, then once after a whole message, then again. The
    // waits between its starts grow 1, 2, 4, 8 units up to the longest, and start over after
    // the message. Each wait may run long on a busy machine, never short.
    void watcherRestarts()
    {
        FakeAdb adb;
        adb.replyWithScript({"track-devices"}, "date +%s%N >> \"$R/starts\"\n"
                                               "[ $(wc -l < \"$R/starts\") -eq 6 ] && printf '000aS1\\tdevice\\n'");
        const adb::Timing timing = quickTiming();
        adb::DeviceWatcher watcher(adb.resourceDir(), nullptr, timing);
        watcher.start();
        QList<qint64> startsMs;
        const auto readStarts = [&] {
            QFile log(adb.resourceDir() + "/starts");
            startsMs.clear();
            if (log.open(QIODevice::ReadOnly))
                for (const QByteArray &line : log.readAll().split('\n'))
                    if (!line.isEmpty())
                        startsMs << line.toLongLong() / 1000000;
            return startsMs.size();
        };
        QTRY_VERIFY_WITH_TIMEOUT(readStarts() >= 8, 30000);
        const QList<int> units{1, 2, 4, 8, 8, 1, 2};
        QStringList gaps;
        bool inBounds = true;
        for (qsizetype i = 0; i < units.size(); ++i) {
            const qint64 gap = startsMs.at(i + 1) - startsMs.at(i);
            const qint64 wanted = units.at(i) * timing.restartFirstMs;
            gaps << QStringLiteral("%1/%2").arg(gap).arg(wanted);
            inBounds = inBounds && gap >= wanted * 9 / 10 && gap < wanted + 900;
        }
        QVERIFY2(inBounds, qPrintable("waits/wanted ms: " + gaps.join(u' ')));
    }

    // "adb devices" is compared again and again while something is in motion, and no more
    // once nothing is; a failed comparison is no news. Each row notes the scan's listing, has
    // "adb devices" answer it (or run `devices`), then list `last` with the install over.
    void watcherComparison_data()
    {
        QTest::addColumn<QString>("noted");
        QTest::addColumn<bool>("installing");
        QTest::addColumn<QString>("devices");
        QTest::addColumn<QString>("last");
        QTest::newRow("USB unit ready: the stream alone") << "S1|device" << false << "" << "";
        QTest::newRow("install runs") << "S1|device" << true << "" << "S1|device";
        QTest::newRow("network unit ready, then gone") << "10.0.0.5:5555|device" << false << "" << "";
        QTest::newRow("network unit offline, then gone") << "10.0.0.5:5555|offline" << false << "" << "";
        QTest::newRow("waiting for Allow, then allowed") << "S1|unauthorized S2|device" << false << "" << "S1|device S2|device";
        // Each failure alone: the first two print the header.
        QTest::newRow("adb fails during an install") << "S1|device" << true << "echo 'List of devices attached'; exit 1" << "S1|device";
        QTest::newRow("ended by its limit") << "10.0.0.5:5555|device" << false << "echo 'List of devices attached'; exec sleep 30" << "";
        QTest::newRow("no header") << "10.0.0.5:5555|device" << false << "echo '* daemon not running; starting now at tcp:5037'" << "";
    }
    void watcherComparison()
    {
        QFETCH(QString, noted);
        QFETCH(bool, installing);
        QFETCH(QString, devices);
        QFETCH(QString, last);
        FakeAdb adb;
        if (devices.isEmpty())
            adb.setListing(devicesOutput(noted));
        else
            adb.replyWithScript({"devices"}, devices);
        adb::DeviceWatcher watcher(adb.resourceDir(), nullptr, quickTiming());
        QStringList seen;
        record(watcher, seen);
        watcher.noteListing(listingOf(noted));
        watcher.setInstalling(installing);
        const auto comparisons = [&] { return adb.calls().count(QStringList{"devices"}); };
        if (!installing && noted == "S1|device") {
            QTest::qWait(1000);
            QCOMPARE(comparisons(), 0);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(comparisons() >= 4, 10000);
        const QString same = "same: " + noted;
        QVERIFY2(seen.count(same) == seen.size() && (devices.isEmpty() || seen.size() == 1), qPrintable(seen.join(", ")));

        adb.setListing(devicesOutput(last));
        watcher.setInstalling(false);
        if (last != noted)
            QTRY_COMPARE_WITH_TIMEOUT(seen.last(), "changed: " + last, 10000);
        // One comparison may still be under way.
        const qsizetype stoppedAt = comparisons();
        QTest::qWait(1000);
        QVERIFY2(comparisons() <= stoppedAt + 1, qPrintable(QString::number(comparisons() - stoppedAt)));
    }

    // The stream's first message waits for the launch scan's listing, then is compared with
    // it: one listing told, changed only when the two differ; the stream goes on from there.
    void watcherHoldsFirstMessage_data()
    {
        QTest::addColumn<QString>("noted");
        QTest::addColumn<QStringList>("seen");
        QTest::newRow("the scan saw the same") << "S1|device" << QStringList{"same: S1|device", "changed: S1|device S2|device"};
        QTest::newRow("the scan saw less") << "" << QStringList{"changed: S1|device", "changed: S1|device S2|device"};
        QTest::newRow("the scan saw another") << "S3|offline" << QStringList{"changed: S1|device", "changed: S1|device S2|device"};
    }
    void watcherHoldsFirstMessage()
    {
        QFETCH(QString, noted);
        FakeAdb adb;
        adb.track("S1\tdevice\n");
        adb::DeviceWatcher watcher(adb.resourceDir(), nullptr, quickTiming());
        QStringList seen;
        record(watcher, seen);
        watcher.start();
        QTRY_VERIFY(adb.calls().contains(QStringList{"track-devices"}));
        QTest::qWait(1000);
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join(", ")));
        watcher.noteListing(listingOf(noted));
        adb.track("S1\tdevice\nS2\tdevice\n");
        QTRY_VERIFY_WITH_TIMEOUT(seen.size() >= 2, 10000);
        QTest::qWait(300);
        QTEST(seen, "seen");
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

    // Text for stdin reaches adb, then its end; without any, adb reads /dev/null. A child
    // that never reads its input ends by itself or by the limit all the same.
    void standardInput_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("given");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("stopped");
        const QByteArray big(1 << 20, 'x');   // far more than a pipe holds
        QTest::newRow("read to its end") << "cat; echo; echo end; exit 3" << true << QByteArray("482913\n") << 3
                                         << "482913\n\nend\n" << false;
        QTest::newRow("none given") << "cat; echo end" << false << QByteArray() << 0 << "end\n" << false;
        QTest::newRow("more than a pipe holds") << "wc -c" << true << big << 0 << "1048576\n" << false;
        QTest::newRow("ignored, the child ends") << "echo done; exit 2" << true << big << 2 << "done\n" << false;
        QTest::newRow("ignored, the child hangs") << "echo waiting; exec sleep 30" << true << big << -1 << "waiting\n" << true;
    }
    void standardInput()
    {
        QFETCH(QString, script);
        QFETCH(bool, given);
        QFETCH(QByteArray, input);
        FakeAdb adb;
        adb.setFallbackScript(script);
        adb::RunLimits limits{2000, {}};
        if (given)
            limits.standardInput = input;
        QElapsedTimer clock;
        clock.start();
        const adb::CommandResult result = adb::run(adb.resourceDir(), {"pair", kPairAddress}, limits);
        QTEST(result.status, "status");
        QTEST(result.output, "output");
        QTEST(result.stopped, "stopped");
        QVERIFY2(clock.elapsed() < 10000, "the limit ends the child");
    }

    // "pair" came with adb 30; only the "Version" line tells, the protocol line is 1.0.41 in
    // both. The same answer through the fake adb's "version".
    void pairingVersion_data()
    {
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("canPair");
        const QString installed = QStringLiteral("Installed as /usr/lib/android-sdk/platform-tools/adb\n");
        QTest::newRow("adb 29") << "Android Debug Bridge version 1.0.41\nVersion 29.0.6-debian\n" + installed << 0 << false;
        QTest::newRow("adb 34") << "Android Debug Bridge version 1.0.41\nVersion 34.0.5-debian\n" + installed << 0 << true;
        QTest::newRow("the first that pairs") << "Android Debug Bridge version 1.0.41\nVersion 30.0.0-6374843\n" << 0 << true;
        QTest::newRow("adb 34 failing") << "Android Debug Bridge version 1.0.41\nVersion 34.0.5-debian\n" << 1 << false;
        QTest::newRow("garbage") << "Android Debug Bridge version 1.0.41\nversion 34.0.5\nVersion: 34.0.5\nVersion 340\n"
                                    "Version 99999999999.0\n\u00ff\n" << 0 << false;
        QTest::newRow("empty") << "" << 0 << false;
    }
    void pairingVersion()
    {
        QFETCH(QString, said);
        QFETCH(int, status);
        QTEST(adb::canPair({status, said}), "canPair");
        FakeAdb adb;
        adb.reply({"version"}, said, status);
        QTEST(adb::adbCanPair(adb.resourceDir(), adb::Timing{}), "canPair");
        QCOMPARE(adb.calls(), QList<QStringList>{{"version"}});
    }

    // adb 34 exits 0 on a wrong code too; its words decide, after the prompt it prints with
    // no line end. The log text is the same for the words with or without the prompt.
    void pairVerdict_data()
    {
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("log");
        using V = adb::PairVerdict;
        const QString header = QStringLiteral("Не удалось выполнить сопряжение с 127.0.0.1:37123:\n");
        const QString other = QStringLiteral("Проверьте адрес, порт и код в окне с кодом сопряжения на автомобиле.\n\n");
        const QString paired = QStringLiteral("Successfully paired to 127.0.0.1:37123 [guid=adb-R52N40ABCDE-x1y2z3]\n");
        QTest::newRow("paired") << "Enter pairing code: " + paired << 0 << false << int(V::Paired) << "";
        QTest::newRow("paired on a cold server")
            << "Enter pairing code: * daemon not running; starting now at tcp:5037\n* daemon started successfully\n" + paired
            << 0 << false << int(V::Paired) << "";
        QTest::newRow("wrong code") << "Enter pairing code: Failed: Wrong password or connection was dropped.\n" << 0 << false
                                    << int(V::WrongCode)
                                    << header + "Код сопряжения не подошёл. Откройте на автомобиле окно с кодом сопряжения заново "
                                                "и введите новый код.\n\nFailed: Wrong password or connection was dropped.";
        QTest::newRow("nothing listening")
            << "Enter pairing code: error: protocol fault (couldn't read status message): Success\n" << 1 << false << int(V::NotStarted)
            << header + "Не удалось начать сопряжение. Проверьте адрес и порт в окне с кодом сопряжения на автомобиле: они "
                        "меняются каждый раз.\n\nerror: protocol fault (couldn't read status message): Success";
        QTest::newRow("adb 29") << "adb: unknown command pair\n" << 1 << false << int(V::Unsupported)
                                << header + "Для сопряжения по коду нужен adb 30 или новее.\nВ Debian 12 установите пакет adb из "
                                            "bookworm-backports (в Debian 13 подходящий уже есть) и перезапустите установщик."
                                            "\n\nadb: unknown command pair";
        QTest::newRow("time limit, the prompt alone") << "Enter pairing code: " << -1 << true << int(V::TimedOut)
            << header + "Нет ответа за 20 секунд. Проверьте, что автомобиль и компьютер в одной сети Wi-Fi и что окно с кодом "
                        "сопряжения на автомобиле ещё открыто.";
        QTest::newRow("empty stdin") << "Enter pairing code: adb: No pairing code provided\n" << 1 << false << int(V::Failed)
                                     << header + other + "adb: No pairing code provided";
        QTest::newRow("success words not at a line start")
            << "Enter pairing code: error: not Successfully paired to 127.0.0.1:37123\n" << 1 << false << int(V::Failed)
            << header + other + "error: not Successfully paired to 127.0.0.1:37123";
    }
    void pairVerdict()
    {
        QFETCH(QString, said);
        QFETCH(int, status);
        QFETCH(bool, stopped);
        const adb::PairVerdict verdict = adb::pairVerdict({status, said, stopped});
        QTEST(int(verdict), "verdict");
        QTEST(adb::pairLogText({verdict, said}, kPairAddress), "log");
        QTEST(adb::pairLogText({verdict, adb::withoutPairingPrompt(said)}, kPairAddress), "log");
    }

    // The code reaches adb on stdin alone: never in an argument of any adb command, never in
    // the attempt's words or the log, even when adb repeats it.
    void pairThroughAdb_data()
    {
        QTest::addColumn<QString>("script");   // what the fake adb does once it has read its stdin
        QTest::addColumn<int>("verdict");
        using V = adb::PairVerdict;
        QTest::newRow("paired") << "printf 'Enter pairing code: Successfully paired to 127.0.0.1:37123 [guid=adb-R52N40ABCDE-x1y2z3]\\n'"
                                << int(V::Paired);
        QTest::newRow("wrong code, repeated by adb")
            << "printf 'Enter pairing code: Failed: Wrong password or connection was dropped. (%s)\\n' \"$(cat \"$R/input\")\""
            << int(V::WrongCode);
        QTest::newRow("no answer") << "printf 'Enter pairing code: '; exec sleep 30" << int(V::TimedOut);
    }
    void pairThroughAdb()
    {
        QFETCH(QString, script);
        FakeAdb adb;
        adb.replyReadingInput({"pair", kPairAddress}, script);
        adb::Timing timing;
        timing.pairMs = 2000;
        QElapsedTimer clock;
        clock.start();
        const adb::PairAttempt attempt = adb::pairNetworkUnit(adb.resourceDir(), kPairAddress, kCode, timing);
        QVERIFY2(clock.elapsed() < 10000, "within the pairing limit");
        QTEST(int(attempt.verdict), "verdict");
        QCOMPARE(adb.calls(), (QList<QStringList>{{"pair", kPairAddress}}));
        for (const QStringList &call : adb.calls()) {
            for (const QString &argument : call)
                QVERIFY2(!argument.contains(kCode), qPrintable(argument));
        }
        QCOMPARE(adb.receivedInput(), kCode.toUtf8() + '\n');
        const QString log = adb::pairLogText(attempt, kPairAddress);
        QVERIFY2(!attempt.output.contains(kCode) && !log.contains(kCode), qPrintable(log));
        QVERIFY2(!attempt.output.contains("Enter pairing code"), qPrintable(attempt.output));
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
