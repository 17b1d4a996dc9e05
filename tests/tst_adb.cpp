#include "commandrunner.h"
#include "devicewatcher.h"
#include "discovery.h"
#include "fakeadb.h"
#include "networkunit.h"
#include "pairing.h"
#include "trackdevices.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QThread>

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

namespace {
const QString kHeader = QStringLiteral("List of devices attached\n");
const QString kUnit = QStringLiteral("192.168.1.50:5555");
const QString kPairAddress = QStringLiteral("127.0.0.1:37123");
const QString kCode = QStringLiteral("482913");
const QString kColdStart = QStringLiteral("* daemon not running; starting now at tcp:5037\n* daemon started successfully\n");

// Each device as "serial|state", and with `probed` its diagnostics after that.
QStringList described(const DeviceList &devices, bool probed = false)
{
    QStringList rows;
    for (const DeviceInfo &d : devices)
        rows << (QStringList{d.serial(), d.state()} + (probed ? QStringList{d.manufacturer, d.model, d.android, d.sdk, d.build, d.size, d.density,
                                                                           d.installed ? "installed" : "-"} : QStringList())).join(u'|');
    return rows;
}

// "serial|state" rows, blank-separated, as "adb devices" prints them.
QString devicesOutput(const QString &rows)
{
    return kHeader + (rows.isEmpty() ? QString() : QString(rows).replace(u'|', u'\t').replace(u' ', u'\n') + u'\n');
}

// A watcher with its minutes in a few seconds: comparisons every 100 ms, every 400 ms once a
// state is older than 600 ms; the stream restarted after 150, 300, 600, 1200 ms. `seen` has
// every listing it tells, as "changed: ROWS" or "same: ROWS".
struct QuickWatcher
{
    explicit QuickWatcher(const FakeAdb &adb, int pollSlowMs = 400)
        : watcher(adb.resourceDir(), nullptr, {.pollFastMs = 100, .pollSlowMs = pollSlowMs, .transitionalMs = 600, .pollLimitMs = 500, .restartFirstMs = 150, .restartMaxMs = 1200})
    {
        QObject::connect(&watcher, &adb::DeviceWatcher::listingSeen, &watcher, [this](const DeviceList &listing, bool changed) {
            seen << QString(changed ? "changed: " : "same: ") + described(listing).join(u' ');
        });
    }
    QStringList seen;
    adb::DeviceWatcher watcher;
};

// A message for every hex digit in each of the four places of the length, in both cases,
// with its unit's serial. The other places hold 1, so that every payload has room for its
// unit, which comes last, after lines without a TAB: a length read short loses the unit,
// one read long eats into the next message, and either way the next length is no length.
QList<std::pair<QByteArray, QString>> framingMessages()
{
    QList<std::pair<QByteArray, QString>> messages;
    for (int place = 0; place < 4; ++place)
        for (const char digit : QByteArray("0123456789abcdefABCDEF")) {
            QByteArray length("1111");
            length[place] = digit;
            const QByteArray row = 'S' + length + "\tdevice\n";
            messages.append({length + QByteArray(length.toInt(nullptr, 16) - row.size() - 1, 'z') + '\n' + row, QString::fromLatin1('S' + length)});
        }
    return messages;
}
} // namespace

class TestAdb : public QObject
{
    Q_OBJECT

private slots:
    // Whatever adb prints, and text for its stdin, which reaches it, then its end; without any
    // (a null text), adb reads /dev/null. A child that never reads its input ends by itself or
    // by the limit all the same. shell() runs the same script without input or limit.
    void run_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("shellText");
        const QByteArray none, big(1 << 20, 'x');   // far more than a pipe holds
        QTest::newRow("both streams in order") << "echo 1; echo 2 >&2; echo 3; echo 4 >&2; exit 3" << none << 3 << false << "1\n2\n3\n4\n" << "1\n2\n3\n4";
        QTest::newRow("killed by a signal") << "echo partial; kill -9 $$" << none << -1 << false << "partial\n" << "partial";
        QTest::newRow("byte-order mark kept") << "printf '\\357\\273\\277x '" << none << 0 << false << QStringLiteral("\uFEFFx ") << QStringLiteral("\uFEFFx");
        QTest::newRow("invalid UTF-8") << "printf 'ok\\377ok'; exit 7" << none << 7 << false << "" << "";
        QTest::newRow("sequence cut off at the end") << "printf 'ab\\342\\200'" << none << 0 << false << "" << "";
        QTest::newRow("more than a pipe holds") << "head -c 1048576 /dev/zero | tr '\\000' y" << none << 0 << false << QString(1 << 20, u'y') << QString(1 << 20, u'y');
        QTest::newRow("input read to its end") << "cat; echo; echo end; exit 3" << QByteArray("482913\n") << 3 << false << "482913\n\nend\n" << "end";
        QTest::newRow("no input given") << "cat; echo end" << none << 0 << false << "end\n" << "end";
        QTest::newRow("input more than a pipe holds") << "wc -c" << big << 0 << false << "1048576\n" << "0";
        QTest::newRow("input ignored, the child ends") << "echo done; exit 2" << big << 2 << false << "done\n" << "done";
        // Not under shell(), which has no limit.
        QTest::newRow("input ignored, child hangs") << "echo waiting; [ \"$3\" = shell ] || exec sleep 30" << big << -1 << true << "waiting\n" << "waiting";
    }
    void run()
    {
        QFETCH(QString, script);
        QFETCH(QByteArray, input);
        FakeAdb adb;
        adb.setFallbackScript(script);
        const QStringList arguments{"a b", "'q' \"d\"", "$(id); `id` |&", QString(), "Привет"};
        const adb::CommandResult result = adb::run(adb.resourceDir(), arguments, {3000, {}, input.isNull() ? std::nullopt : std::optional(input)});
        QTEST(result.status, "status");
        QTEST(result.stopped, "stopped");
        QTEST(result.output, "output");
        QTEST(adb::shell(adb.resourceDir(), "serial; 'x'", {"getprop", "a b"}), "shellText");
        QCOMPARE(adb.calls(), (QList<QStringList>{arguments, {"-s", "serial; 'x'", "shell", "getprop", "a b"}}));
    }

    void missingAdb()
    {
        const adb::CommandResult result = adb::run(QTemporaryDir().path(), {"devices"});
        // With the system's reason, for the log.
        QVERIFY2(result.status == -1 && !result.output.isEmpty(), qPrintable(result.output));
    }

    void concurrentCalls()
    {
        FakeAdb adb;
        adb.setFallbackScript(QStringLiteral("printf '%s' \"$1\"; exit $2"));
        std::atomic<int> mismatches = 0;
        std::vector<std::jthread> threads;
        for (int t = 0; t < 40; ++t)
            threads.emplace_back([&, t] {
                const adb::CommandResult result = adb::run(adb.resourceDir(), {QStringLiteral("call%1").arg(t), QString::number(t % 8)});
                mismatches += result.output != QStringLiteral("call%1").arg(t) || result.status != t % 8;
            });
        threads.clear();    // joins them
        QCOMPARE(mismatches.load(), 0);
        QCOMPARE(adb.calls().size(), 40);
    }

    // Ready devices are those listed exactly as "device"; the probes of S, A and the network
    // unit answer with the fake's defaults, any other unit's fail. A command that never answers
    // is ended by the limit: the scan still ends, names what hung, and leaves no adb behind.
    void scan_data()
    {
        QTest::addColumn<QString>("devices");      // what "adb devices" prints
        QTest::addColumn<QStringList>("hung");     // the argv that never answers
        QTest::addColumn<QList<QStringList>>("calls");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QStringList>("ready");
        const QString fine = QStringLiteral("|device|LI_AUTO|HU_L9|11|30|LI_OS_5.2.1|1920x720|160|-");
        const QStringList none;
        const QList<QStringList> start{{"start-server"}, {"devices"}};
        QTest::newRow("in listing order, empty and extra fields") << kHeader + "S\tdevice\nU\tunauthorized\nA\t\tdevice\tproduct:x\n\tB\toffline\n" << none
            << start + probeCalls("S") + probeCalls("A") << QStringList{"S|device", "U|unauthorized", "A|device", "B|offline"} << QStringList{"S" + fine, "A" + fine};
        // The first line is skipped whatever it says.
        QTest::newRow("almost device, garbage, blanks for a tab") << "A\tdevice\nA\tdevice \nB\tDevice\n\u0007\u00ff \n\u0001\tx\u2603\nC    device\n%s%n\tz"
            << none << start << QStringList{"A|device ", "B|Device", "\u0001|x\u2603", "%s%n|z"} << none;
        QTest::newRow("unit gone mid-probe") << kHeader + "X\tdevice\n" << none << start + probeCalls("X")
                                             << QStringList{"X|device"} << QStringList{"X|device" + QString("|error: gone").repeated(5) + "|gone|gone|-"};
        const QString two = kHeader + "A\tdevice\n" + kUnit + "\tdevice\n";
        const QList<QStringList> a = probeCalls("A");
        QTest::newRow("first unit's second probe hangs") << two << a.at(1) << start + a.mid(0, 2) + probeCalls(kUnit)
                                                         << QStringList{"A|device", kUnit + "|device"} << QStringList{kUnit + fine};
        QTest::newRow("devices hangs") << two << QStringList{"devices"} << start << none << none;
        QTest::newRow("start-server hangs") << two << QStringList{"start-server"} << start.mid(0, 1) << none << none;
    }
    void scan()
    {
        QFETCH(QString, devices);
        QFETCH(QStringList, hung);
        FakeAdb adb;
        adb.reply({"devices"}, devices);
        adb.setFallbackScript("echo error: gone; exit 1");
        for (const QString &serial : {QStringLiteral("S"), QStringLiteral("A"), kUnit})
            adb.addDevice({serial});
        if (!hung.isEmpty())
            adb.hang(hung);
        QObject context;
        std::optional<adb::ScanResult> result;    // as the completion got it on this thread
        // Long enough for a loaded machine to start a healthy fake adb many times over.
        adb::startScan(&context, adb.resourceDir(), {.scanCommandMs = 1000}, [&](const adb::ScanResult &scan) {
            if (QThread::currentThread() == context.thread())
                result = scan;
        });
        QVERIFY2(!result, "queued, never run inside startScan");
        // The hung command sleeps for minutes; without the limit the scan would too.
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 15000);
        QTEST(adb.calls(), "calls");
        QTEST(described(result->listed), "listed");
        QTEST(described(result->ready, true), "ready");
        // A hung probe names its unit; a hung start-server or devices, the server.
        QCOMPARE(result->unanswered, hung.size() > 1 ? QStringList{hung.at(1)} : QStringList{});
        QCOMPARE(result->serverWedged, hung.size() == 1);
        QCOMPARE(adb.hungProcesses().size(), hung.isEmpty() ? 0 : 1);
        // Ended and reaped, not left sleeping (nor a zombie).
        for (const qint64 pid : adb.hungProcesses())
            QVERIFY2(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)), "the hung adb still runs");
    }

    // What the watcher takes off track-devices' stream, message by message, until it needs
    // more bytes ("more") or gives the stream up ("malformed").
    void trackedStream_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("connected, removed, back") << QByteArray("000bS1\toffline\n000aS1\tdevice\n0000") << QStringList{"S1|offline", "S1|device", "", "more"};
        QTest::newRow("upper-case length, two units") << QByteArray("001AS1\tdevice\nS2\tunauthorized\n") << QStringList{"S1|device S2|unauthorized", "more"};
        QTest::newRow("cut off in the payload") << QByteArray("0018127.0.0.1:4") << QStringList{"more"};
        QTest::newRow("garbage after a message") << QByteArray("000aS1\tdevice\n* daemon started") << QStringList{"S1|device", "malformed"};
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
        // A message that takes no bytes ends the loop, as one that takes too many trips sliced().
        adb::TrackedStep step;
        for (QByteArrayView rest(stream); (step = adb::takeTrackedMessage(rest)).kind == adb::TrackedStep::Kind::Message && step.consumed > 0;
             rest = rest.sliced(step.consumed))
            steps << described(step.listing).join(u' ');
        steps << (step.kind == adb::TrackedStep::Kind::Malformed ? "malformed" : "more");
        QTEST(steps, "steps");
    }

    // When "adb devices" is compared besides the stream, which adb 29 keeps blind to
    // "unauthorized" and to a network unit whose link dropped. Then over time, through a
    // watcher that has just noted the listing: "adb devices" is compared again and again while
    // something is in motion, and no more once nothing is, here once it lists `last` with the
    // install over; a failed comparison is no news.
    void comparisons_data()
    {
        QTest::addColumn<QString>("listing");     // "serial|state" rows
        QTest::addColumn<bool>("installing");
        QTest::addColumn<qint64>("ageMs");        // of the newest state other than "device"; -1 none
        QTest::addColumn<int>("interval");        // 0: no comparison, the stream alone
        QTest::addColumn<QString>("devices");     // sh: "adb devices" in the watcher; none: it lists `listing`
        QTest::addColumn<QString>("last");        // what "adb devices" lists once the install is over
        QTest::addColumn<bool>("coldStart");      // adb starts its server first and says so, before the header
        QTest::newRow("USB units ready") << "S1|device S2|device" << false << -1LL << 0 << "" << "S1|device S2|device" << false;
        QTest::newRow("during an install") << "S1|device" << true << -1LL << 1000 << "" << "S1|device" << false;
        QTest::newRow("network unit ready, then gone") << "10.0.0.5:5555|device" << false << -1LL << 1000 << "" << "" << false;
        QTest::newRow("waiting for Allow, then allowed") << "S1|unauthorized" << false << 60000LL << 1000 << "" << "S1|device" << false;
        QTest::newRow("allowed while adb starts its server") << "S1|unauthorized" << false << 60000LL << 1000 << "" << "S1|device" << true;
        QTest::newRow("waiting over a minute") << "S1|unauthorized S2|device" << false << 60001LL << 5000 << "" << "S1|device S2|device" << false;
        QTest::newRow("network unit offline long, then gone") << "10.0.0.5:5555|offline" << false << 90000LL << 5000 << "" << "" << false;
        QTest::newRow("installing, waiting long") << "S1|offline" << true << 90000LL << 1000 << "" << "" << false;
        // Comparisons that fail, each alone: the first two print the header.
        QTest::newRow("adb fails during an install") << "S1|device" << true << -1LL << 1000 << "echo 'List of devices attached'; exit 1" << "S1|device" << false;
        QTest::newRow("ended by its limit") << "10.0.0.5:5555|device" << false << -1LL << 1000 << "echo 'List of devices attached'; exec sleep 30" << "" << false;
        QTest::newRow("no header") << "10.0.0.5:5555|device" << false << -1LL << 1000 << "echo '* daemon not running; starting now at tcp:5037'" << "" << false;
    }
    void comparisons()
    {
        QFETCH(QString, listing);
        QFETCH(bool, installing);
        QFETCH(qint64, ageMs);
        QFETCH(int, interval);
        QFETCH(QString, devices);
        QFETCH(QString, last);
        QFETCH(bool, coldStart);
        QCOMPARE(adb::pollIntervalMs(adb::parseDeviceListing(devicesOutput(listing)), installing, ageMs < 0 ? std::nullopt : std::optional(ageMs)).value_or(0), interval);
        FakeAdb adb;
        // A comparison takes a while, and notes when one before it still runs.
        const QString overlap = adb.resourceDir() + "/overlap";
        adb.replyWithScript({"devices"}, devices.isEmpty() ? "for p in $(cat \"$R/running\" 2>/dev/null); do kill -0 $p 2>/dev/null && touch '" + overlap
                                                                 + "'; done; echo $$ >> \"$R/running\"; sleep 0.2; printf '" + devicesOutput(listing) + u'\'' : devices);
        QuickWatcher w(adb);
        w.watcher.noteListing(adb::parseDeviceListing(devicesOutput(listing)));
        const auto comparisons = [&] { return adb.calls().count(QStringList{"devices"}); };
        // Told again and again of the install meanwhile, as of listings the stream brings.
        for (QDeadlineTimer limit(10000); comparisons() < (interval == 0 ? 0 : 4) && !limit.hasExpired(); QTest::qWait(50))
            w.watcher.setInstalling(installing);
        QVERIFY(comparisons() >= (interval == 0 ? 0 : 4) && !QFile::exists(overlap));
        QVERIFY2(w.seen.count("same: " + listing) == w.seen.size() && (devices.isEmpty() || w.seen.size() == 1), qPrintable(w.seen.join(", ")));
        adb.setListing((coldStart ? kColdStart : QString()) + devicesOutput(last));
        w.watcher.setInstalling(false);
        if (last != listing)
            QTRY_COMPARE_WITH_TIMEOUT(w.seen.last(), "changed: " + last, 10000);
        // One comparison may still be under way, if any ran.
        const qsizetype stoppedAt = comparisons();
        QTest::qWait(1000);
        QVERIFY2(comparisons() <= stoppedAt + (interval == 0 ? 0 : 1), qPrintable(QString::number(comparisons() - stoppedAt)));
    }

    // A unit waits for "Allow": compared every 100 ms, then, once its state is past 600 ms
    // old, every 5 s however often the comparisons list it. Then something needs a comparison
    // every 100 ms again, with one due in seconds: it comes at once. A state that has just
    // appeared sets the pace, however old another one is. Once nothing waits, the comparison
    // that was due never comes.
    void slowComparisons_data()
    {
        QTest::addColumn<QString>("then");      // "install" begins, or the listing becomes this
        QTest::addColumn<bool>("fast");         // comparisons every 100 ms again; else none at all
        QTest::newRow("an install begins") << "install" << true;
        QTest::newRow("another unit starts waiting") << "S1|unauthorized S2|unauthorized" << true;
        QTest::newRow("the unit passes to another waiting state") << "S1|offline" << true;
        QTest::newRow("the unit is allowed: the one due is called off") << "S1|device" << false;
    }
    void slowComparisons()
    {
        QFETCH(QString, then);
        QFETCH(bool, fast);
        FakeAdb adb;
        adb.setListing(devicesOutput("S1|unauthorized"));
        QuickWatcher w(adb, 5000);
        w.watcher.noteListing(adb::parseDeviceListing(devicesOutput("S1|unauthorized")));
        const auto comparisons = [&] { return adb.calls().count(QStringList{"devices"}); };
        QTest::qWait(1200);
        const qsizetype slowFrom = comparisons();
        QVERIFY(slowFrom >= 3);
        QTest::qWait(1000);
        // One may have been under way when the count was taken.
        QVERIFY2(comparisons() <= slowFrom + 1, qPrintable(QString::number(comparisons() - slowFrom)));
        const qsizetype before = comparisons();
        if (then == "install") {
            w.watcher.setInstalling(true);
        } else {
            adb.setListing(devicesOutput(then));
            w.watcher.noteListing(adb::parseDeviceListing(devicesOutput(then)));
        }
        if (!fast) {
            QTest::qWait(4500);
            QCOMPARE(comparisons(), before);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(comparisons() >= before + 3, 2000);
    }

    // The stream is malformed once and then keeps running, so the watcher must end it; then
    // it ends at once four times, then once after a whole message, then again. The waits
    // between its starts grow 1, 2, 4, 8 units up to the longest, and start over after the
    // message, which is told: a stream given up once does not taint the next. Each wait may
    // run long on a busy machine, never short, and all together not by much.
    void watcherRestarts()
    {
        // Doubling stops at the longest wait, even where the next double would pass it, and
        // however long adb stays away.
        const adb::Timing timing{.restartFirstMs = 1000, .restartMaxMs = 30000};
        QList<int> delays;
        for (const int ends : {1, 2, 3, 4, 5, 6, 9, 64})
            delays << adb::restartDelayMs(ends, timing);
        QCOMPARE(delays, (QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
        FakeAdb adb;
        adb.replyWithScript({"track-devices"}, "date +%s%3N >> \"$R/starts\"\n[ $(wc -l < \"$R/starts\") -eq 1 ] && printf 'zzzz' && exec sleep 30\n"
                                               "[ $(wc -l < \"$R/starts\") -eq 6 ] && printf '000aS1\\tdevice\\n'");
        QuickWatcher w(adb);
        w.watcher.start();
        // Once the ninth has started, the eighth has noted its time.
        QTRY_VERIFY_WITH_TIMEOUT(adb.calls().size() >= 9, 30000);
        QFile log(adb.resourceDir() + "/starts");
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> startsMs = log.readAll().split('\n');
        QString gaps;   // measured/wanted ms, "!" after each too short
        qint64 late = 0;
        for (int i = 0; i < 7; ++i) {
            const qint64 gap = startsMs.at(i + 1).toLongLong() - startsMs.at(i).toLongLong(), wanted = 150 * (i < 5 ? std::min(1 << i, 8) : 1 << (i - 5));
            gaps += QStringLiteral(" %1/%2").arg(gap).arg(wanted) + (gap >= wanted * 9 / 10 ? "" : "!");
            late += gap - wanted;
        }
        // Doubling one step too early would add 1500 ms in all.
        QVERIFY2(!gaps.contains(u'!') && late < 1200, qPrintable("waits/wanted ms:" + gaps));
        w.watcher.noteListing({});
        QCOMPARE(w.seen, QStringList{"changed: S1|device"});
    }

    // adb that cannot be started (not there yet) is tried again with the same back-off.
    void watcherStartsOnceAdbIsThere()
    {
        FakeAdb adb;
        adb.track("S1\tdevice\n");
        const QString path = adb.resourceDir() + "/adb";
        QVERIFY(QFile::rename(path, path + ".away"));
        QuickWatcher w(adb);
        w.watcher.start();
        QTest::qWait(400);
        QVERIFY(QFile::rename(path + ".away", path));
        w.watcher.noteListing({});
        QTRY_COMPARE_WITH_TIMEOUT(w.seen, (QStringList{"same: ", "changed: S1|device"}), 5000);
    }

    // The stream's first message waits for the launch scan's listing, then is compared with
    // it: one listing told, changed only when the two differ. The stream goes on with the
    // framing messages above: the watcher must tell each unit once, in order, and never drop
    // the stream and read it again.
    void watcherHoldsFirstMessage_data()
    {
        QTest::addColumn<QString>("noted");
        QTest::addColumn<QString>("first");
        QTest::addColumn<bool>("serverStarted");   // adb said on stderr that it started its server
        QTest::addColumn<QString>("second");        // a second message before the listing
        QTest::newRow("the scan saw the same") << "S1|device" << "same: S1|device" << false << "";
        QTest::newRow("the scan saw less") << "" << "changed: S1|device" << false << "";
        QTest::newRow("the scan saw another, adb started its server") << "S3|offline" << "changed: S1|device" << true << "";
        QTest::newRow("two messages, the newer is the scan's") << "S2|device" << "same: S2|device" << false << "S2\tdevice\n";
    }
    void watcherHoldsFirstMessage()
    {
        QFETCH(QString, noted);
        QFETCH(QString, first);
        QFETCH(bool, serverStarted);
        QFETCH(QString, second);
        FakeAdb adb;
        if (serverStarted)
            adb.replyWithScript({"track-devices"}, "printf '* daemon not running; starting now at tcp:5037\\n* daemon started successfully\\n' >&2\n"
                                                   "exec tail -c +1 -f \"$R/track.stream\"");
        adb.track("S1\tdevice\n");
        QuickWatcher w(adb);
        w.watcher.start();
        QTRY_VERIFY(adb.calls().contains(QStringList{"track-devices"}));
        if (!second.isEmpty())
            adb.track(second);
        QTest::qWait(1000);
        QVERIFY2(w.seen.isEmpty(), qPrintable(w.seen.join(", ")));
        w.watcher.noteListing(adb::parseDeviceListing(devicesOutput(noted)));
        QStringList expected{first};
        for (const auto &[message, serial] : framingMessages()) {
            adb.trackBytes(message);
            expected << "changed: " + serial + "|device";
        }
        QTRY_VERIFY_WITH_TIMEOUT(w.seen.size() >= expected.size(), 15000);
        QTest::qWait(300);
        QCOMPARE(w.seen, expected);
    }

    // Only what passes reaches adb, as one HOST:PORT argument.
    void networkAddress()
    {
        const QString longName = QString("a.").repeated(126) + "b";   // 253 characters
        for (const auto &[typed, address] : QList<std::pair<QString, QString>>{
                 {"192.168.1.50", kUnit}, {" 10.0.0.7:5037 \n", "10.0.0.7:5037"}, {"255.1.0.255", "255.1.0.255:5555"},
                 {"10.0.0.7:65535", "10.0.0.7:65535"}, {"car-unit.local:5556", "car-unit.local:5556"}, {"10.car.local", "10.car.local:5555"},
                 {longName, longName + ":5555"}, {"[::1]", "[::1]:5555"}, {"[fe80::a:1]:5556", "[fe80::a:1]:5556"}, {"[FE80::A:1]", "[FE80::A:1]:5555"},
                 {"[::ffff:192.168.1.5]", "[::ffff:192.168.1.5]:5555"}, {"[1:2:3::4:5:6:7]", "[1:2:3::4:5:6:7]:5555"},
                 {"[1:2:3:4:5:6:7:8]", "[1:2:3:4:5:6:7:8]:5555"}, {"[1:2:3:4:5:6:1.2.3.4]", "[1:2:3:4:5:6:1.2.3.4]:5555"}})
            QCOMPARE(adb::normalisedAddress(typed).value_or(QString()), address);
        // Numbers the resolver would read as other addresses (octal parts, one big number, hex),
        // a line break inside, which would reach adb as part of the address, and the like.
        for (const QString &typed : QStringList{"192.168.001.050", "3232235826", "10.0.1", "0x7f", "car.10", "192.168.1.256", "-car.local", "car-.local", longName + "c",
                                     "fe80::1", "[1:2:3:4:5:6:7:8:9]", "[1:2:3:4::5:6:7:8]", "[fe80::1%eth0]", "[1::2::3]", "[x::1]",
                                     "[::1.2.3.4:1]", "[1:2:3:4:5:6:7:1.2.3.4]", "[1.2.3.4::1]", "[1:2:3:4:5:6:7]", "[12345::1]", "10.0.0.7:0", "10.0.0.7:65536", "10.0.0.7:05555",
                                     "10.0.0.7:+5", ":5555", "", "  ", "http://192.168.1.5", "192.168.1.5 5555", "-s", "'car.local'",
                                     "car.local;reboot", "car.local/x", "192.168.1\n.50", "car\n.local", "[::1\n]", "192.168.1.50:5\n.5"})
            QVERIFY2(!adb::normalisedAddress(typed), qPrintable(typed));
    }

    // adb connect exits 0 whatever happened: its words decide, on any line, and so do the
    // commands that follow. A failure never leaves its entry behind, a connection or a unit
    // waiting for "Allow" is left alone. An "already connected" is judged by the state
    // "adb devices" lists for that very address: a stale entry is dropped and connected
    // afresh once, within the one limit. A failure is told in plain words chosen by adb's words.
    void connect_data()
    {
        QTest::addColumn<QString>("first");      // sh: the first "adb connect"
        QTest::addColumn<QString>("again");      // sh: "adb connect" once "adb disconnect" ran
        QTest::addColumn<QString>("devices");    // sh: "adb devices"
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("commands");   // their first words, in order
        QTest::addColumn<QString>("meaning");    // a piece of the one explanation that fits a failure
        using V = adb::ConnectVerdict;
        const auto says = [](QString words) { return "printf '%s' '" + words.replace(u'\'', "'\\''") + u'\''; };
        const QString already = says("already connected to 192.168.1.50:5555\n");
        const QString connected = says("connected to 192.168.1.50:5555\n");
        const QString asks = says("failed to authenticate to 192.168.1.50:5555\n");
        const QString refused = says("failed to connect to '192.168.1.50:5555': Connection refused\n");
        const QString silent = QStringLiteral("exec sleep 10");
        const auto listed = [](const QString &state) { return "printf 'List of devices attached\\nS1\\tdevice\\n192.168.1.50:5555\\t" + state + "\\n'"; };
        QTest::newRow("connected on a cold server") << says(kColdStart + "connected to 192.168.1.50:5555\n") << "" << "" << int(V::Connected) << "connect" << "";
        QTest::newRow("asks for Allow") << asks << "" << "" << int(V::NeedsAuthorization) << "connect" << "";
        QTest::newRow("already, ready") << already << "" << listed("device") << int(V::Connected) << "connect devices" << "";
        QTest::newRow("already, adb 29 waits for Allow") << already << "" << listed("unauthorized") << int(V::NeedsAuthorization) << "connect devices" << "";
        QTest::newRow("already, adb 34 waits for Allow") << already << "" << listed("authorizing") << int(V::NeedsAuthorization) << "connect devices" << "";
        QTest::newRow("stale, then connected") << already << connected << listed("offline") << int(V::Connected) << "connect devices disconnect connect" << "";
        QTest::newRow("stale twice") << already << already << listed("offline") << int(V::Failed) << "connect devices disconnect connect devices disconnect" << "включена отладка";
        QTest::newRow("stale, then refused") << already << refused << listed("offline") << int(V::Failed) << "connect devices disconnect connect disconnect" << "не принимает";
        QTest::newRow("already, same host, other port") << already << "" << "printf 'List of devices attached\\n192.168.1.50:5556\\tdevice\\n'"
                                                        << int(V::Failed) << "connect devices disconnect" << "включена отладка";
        QTest::newRow("already, no permissions") << already << "" << listed("no permissions") << int(V::Failed) << "connect devices disconnect" << "включена отладка";
        QTest::newRow("already, listing hangs") << already << "" << silent << int(V::Failed) << "connect devices disconnect" << "включена отладка";
        QTest::newRow("silent host") << silent << "" << "" << int(V::TimedOut) << "connect disconnect" << "";
        // The second try gets what the first one left of the limit, not a limit of its own.
        QTest::newRow("slow stale, then silent") << "sleep 1.2; " + already << silent << listed("offline") << int(V::TimedOut)
                                                 << "connect devices disconnect connect disconnect" << "";
        // Nothing is left of it for a second try.
        QTest::newRow("stale at the end of the limit") << "sleep 1.5; " + already << connected << "sleep 0.6; " + listed("offline") << int(V::TimedOut)
                                                       << "connect devices disconnect" << "";
        const auto fails = [&](const char *name, const QString &said, const QString &meaning) {
            QTest::newRow(name) << says(said) << "" << "" << int(V::Failed) << "connect disconnect" << meaning;
        };
        // The server hangs once the connect has failed: the disconnect is ended by its limit.
        QTest::newRow("refused, then adb hangs") << "touch \"$R/hangs\"; " + refused << "" << "" << int(V::Failed) << "connect disconnect" << "не принимает";
        fails("adb 29, refused", "failed to connect to '192.168.1.50:5555': Connection refused\n", "не принимает");
        fails("adb 34, refused after a cold start", kColdStart + "failed to connect to '192.168.1.50:5555': Connection refused\n", "не принимает");
        fails("adb 29, no route", "failed to connect to '10.0.0.9:5555': No route to host\n", "не видит");
        fails("adb 34, no network", "failed to connect to '172.16.0.4:5555': Network is unreachable\n", "не видит");
        fails("host unreachable", "failed to connect to '10.0.0.9:5555': Host is unreachable\n", "не видит");
        fails("adb 29 and 34, unknown name", "failed to resolve host: 'car.local': Name or service not known\n", "имени");
        fails("a name that looks like a reason", "failed to resolve host: 'refused': Name or service not known\n", "имени");
        fails("words inside another line", "error: already connected to 192.168.1.50:5555\n", "включена отладка");
        fails("nothing said", "", "включена отладка");
    }
    void connect()
    {
        QFETCH(QString, first);
        QFETCH(QString, again);
        QFETCH(QString, devices);
        QFETCH(QString, commands);
        QFETCH(QString, meaning);
        FakeAdb adb;
        adb.replyWithScript({"connect", kUnit}, QStringLiteral("if [ -e \"$R/dropped\" ]; then %1; else %2; fi").arg(again.isEmpty() ? "exit 9" : again, first));
        adb.replyWithScript({"disconnect", kUnit}, "touch \"$R/dropped\"; [ -e \"$R/hangs\" ] && exec sleep 10; echo disconnected " + kUnit);
        adb.replyWithScript({"devices"}, devices);
        QElapsedTimer clock;
        clock.start();
        const adb::ConnectAttempt attempt = adb::connectNetworkUnit(adb.resourceDir(), kUnit, {.scanCommandMs = 1000}, 2000);
        const qint64 tookMs = clock.elapsed();
        QTEST(int(attempt.verdict), "verdict");
        QList<QStringList> expected;    // all but "devices" name the address
        for (const QString &command : commands.split(u' '))
            expected << (command == "devices" ? QStringList{command} : QStringList{command, kUnit});
        QCOMPARE(adb.calls(), expected);
        // Every command ran within its limit: the connects together (2 s), the rest each on its own (1 s).
        QVERIFY2(tookMs < (attempt.verdict == adb::ConnectVerdict::TimedOut ? 2700 : 4000), qPrintable(QString::number(tookMs)));
        const QString explanation = adb::connectFailureExplanation(attempt.output);
        QVERIFY2(explanation.contains(meaning), qPrintable(explanation));
        // As the install failures are laid out: the header, the explanation, a blank line, adb's words.
        if (!meaning.isEmpty())
            QCOMPARE(adb::connectLogText(attempt, kUnit), "Не удалось подключиться к 192.168.1.50:5555:\n" + (explanation + "\n\n" + attempt.output).trimmed());
    }

    // "pair" came with adb 30; only the "Version" line tells, the protocol line is 1.0.41 in
    // both. The same answer through the fake adb's "version".
    void pairingVersion_data()
    {
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("canPair");
        const QString bridge = QStringLiteral("Android Debug Bridge version 1.0.41\n");
        QTest::newRow("adb 29") << bridge + "Version 29.0.6-debian\nInstalled as /usr/lib/android-sdk/platform-tools/adb\n" << 0 << false;
        QTest::newRow("adb 34") << bridge + "Version 34.0.5-debian\nInstalled as /usr/lib/android-sdk/platform-tools/adb\n" << 0 << true;
        QTest::newRow("the first that pairs") << bridge + "Version 30.0.0-6374843\n" << 0 << true;
        QTest::newRow("adb 34 failing") << bridge + "Version 34.0.5-debian\n" << 1 << false;
        QTest::newRow("garbage") << bridge + "version 34.0.5\nVersion: 34.0.5\nVersion 340\nVersion 99999999999.0\n\u00ff\n" << 0 << false;
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
    // no line end. The log is laid out as the connect failures are, without the prompt. Through the fake adb, the code reaches adb on stdin alone:
    // never in an argument, never in the attempt's words or the log, even when adb repeats it.
    void pairVerdict_data()
    {
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("status");        // -1: ended by the limit
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("meaning");   // a piece of the explanation; none: no log
        using V = adb::PairVerdict;
        const QString prompt = QStringLiteral("Enter pairing code: ");
        const QString wrong = QStringLiteral("Failed: Wrong password or connection was dropped.");
        QTest::newRow("paired, cold server") << prompt + kColdStart + "Successfully paired to 127.0.0.1:37123 [guid=adb-R52N40ABCDE-x1y2z3]\n" << 0 << int(V::Paired) << "";
        QTest::newRow("wrong code") << prompt + wrong + "\n" << 0 << int(V::WrongCode) << "Код сопряжения не подошёл.";
        QTest::newRow("wrong code, repeated") << prompt + wrong + " (482913)\n" << 0 << int(V::WrongCode) << "Код сопряжения не подошёл.";
        QTest::newRow("nothing listening") << prompt + "error: protocol fault (couldn't read status message): Success\n" << 1 << int(V::NotStarted) << "начать сопряжение";
        QTest::newRow("adb 29") << "adb: unknown command pair\n" << 1 << int(V::Unsupported) << "нужен adb 30 или новее";
        QTest::newRow("time limit, the prompt alone") << prompt << -1 << int(V::TimedOut) << "Нет ответа за 20 секунд.";
        QTest::newRow("success words mid-line") << prompt + "error: not Successfully paired to 127.0.0.1:37123\n" << 1 << int(V::Failed) << "Проверьте адрес, порт и код";
    }
    void pairVerdict()
    {
        QFETCH(QString, said);
        QFETCH(int, status);
        QFETCH(QString, meaning);
        const adb::PairVerdict verdict = adb::pairVerdict({status, said, status == -1});
        QTEST(int(verdict), "verdict");
        const QString log = adb::pairLogText({verdict, said}, kPairAddress);
        const QString words = QString(said).remove(QStringLiteral("Enter pairing code: ")).trimmed();
        QVERIFY2(meaning.isEmpty() ? log.isEmpty() : log.startsWith("Не удалось выполнить сопряжение с 127.0.0.1:37123:\n") && log.contains(meaning)
                                                         && log.endsWith(words.isEmpty() ? "." : "\n\n" + words), qPrintable(log));

        FakeAdb adb;
        adb.replyReadingInput({"pair", kPairAddress},
                              "printf '%s' '" + QString(said).replace(u'\'', "'\\''") + (status < 0 ? "'; exec sleep 30" : "'; exit " + QString::number(status)));
        const adb::PairAttempt attempt = adb::pairNetworkUnit(adb.resourceDir(), kPairAddress, kCode, {.pairMs = 2000});
        QCOMPARE(attempt.verdict, verdict);
        // The only command, so the code is in none of its arguments.
        QCOMPARE(adb.calls(), (QList<QStringList>{{"pair", kPairAddress}}));
        QCOMPARE(adb.receivedInput(), kCode.toUtf8() + '\n');
        // The log adds nothing of its own but the address.
        QVERIFY2(!attempt.output.contains(kCode) && !attempt.output.contains("Enter pairing code"), qPrintable(attempt.output));
    }
};

QTEST_GUILESS_MAIN(TestAdb)
#include "tst_adb.moc"
