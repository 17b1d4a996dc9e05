// The installer as a person meets it: the real AppDelegate and its window against a fake adb.

#include "devicewatcher.h"
#include "installjob.h"
#include "installsession.h"
#include "installerdriver.h"
#include "runinstaller.h"
#include "scanscheduler.h"
#include "windowtexts.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace expected;

namespace {

const char *const kChildMode = "ZORVIK_INSTALLER_CHILD";
const QString kContinue = QStringLiteral("Продолжить");
const QString kOneUnit = kHeader + QStringLiteral("S1\tdevice\n");

// Hashed a megabyte at a time: several reads, the last one short.
QByteArray bigApk()
{
    return QByteArray(3 * 1024 * 1024 + 7, 'z');
}

// Whether the process still runs (a zombie nobody reaps has ended).
bool isRunning(int pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    // "PID (NAME) STATE ..."
    const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    return !text.isEmpty() && text.at(text.lastIndexOf(')') + 2) != 'Z';
}

// The child process: the installer as main() runs it, against the fake adb the parent set
// up, with the watcher on, its window closed as soon as adb is known to hang.
int runChild(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString resourceDir = qEnvironmentVariable(kChildMode);
    AppDelegate::TestSetup setup = watching();
    setup.resourceDir = resourceDir;
    AppDelegate delegate(setup);
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (delegate.mainWindow() && QFile::exists(resourceDir + "/hanging"))
            delegate.mainWindow()->close();
    });
    closer.start(10);
    runInstaller(delegate);
}

} // namespace

class TestInstaller : public QObject
{
    Q_OBJECT

private slots:
    // What the install or its permission step printed, and what the window makes of it: a
    // success, or the log's header, the explanation when there is one, a blank line, then
    // adb's words unchanged.
    void adbVerdicts_data()
    {
        QTest::addColumn<QString>("sdk");       // empty: the install; else the permission step, on this unit
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("verdict");   // "ok", else how the explanation begins; empty: none
        const QString pushed = "Performing Push Install\r\nZorvikStore.apk: 1 file pushed, 0 skipped. 16.3 MB/s (12761 bytes)\r\n";
        const QString streamed = "adb: failed to install /r/ZorvikStore.apk: Failure [%1: Package ru.zorvik.store ...]\n";
        const QString refused = pushed + "Failure [%1]\r\n";
        const QString unknown = "Error: Unknown operation string: REQUEST_INSTALL_PACKAGES\r\n";
        const QString signature = "На автомобиле стоит Zorvik App с другой подписью.";
        const QString screen = "Автомобиль не разрешил установку.";
        QTest::newRow("push install, CR LF") << "" << 0 << pushed + "Success\r\n" << "ok";
        QTest::newRow("nothing printed, status 0") << "" << 0 << "" << "";
        QTest::newRow("blanks around Success") << "" << 0 << "\tpkg: /data/local/tmp/ZorvikStore.apk\n Success \n" << "ok";
        QTest::newRow("Success, then a Failure line") << "" << 0 << "Success\nFailure [INSTALL_FAILED_INTERNAL_ERROR]\n" << "";
        QTest::newRow("Success with status 1") << "" << 1 << "Success\n" << "";
        QTest::newRow("Success inside a longer line") << "" << 0 << "Success: pending reboot\n" << "";
        QTest::newRow("downgrade, streamed") << "" << 1 << streamed.arg("INSTALL_FAILED_VERSION_DOWNGRADE") << "На автомобиле уже стоит более новая";
        QTest::newRow("full, pushed") << "" << 0 << refused.arg("INSTALL_FAILED_INSUFFICIENT_STORAGE") << "На мультимедийной системе не хватает места.";
        QTest::newRow("signature, streamed") << "" << 1 << streamed.arg("INSTALL_FAILED_UPDATE_INCOMPATIBLE") << signature;
        QTest::newRow("shared user, pushed") << "" << 0 << refused.arg("INSTALL_FAILED_SHARED_USER_INCOMPATIBLE") << signature;
        QTest::newRow("older sdk, pushed") << "" << 0 << refused.arg("INSTALL_FAILED_OLDER_SDK") << "Эта версия Android слишком старая";
        QTest::newRow("restricted, streamed") << "" << 1 << streamed.arg("INSTALL_FAILED_USER_RESTRICTED") << screen;
        QTest::newRow("verification, pushed") << "" << 0 << refused.arg("INSTALL_FAILED_VERIFICATION_FAILURE") << screen;
        QTest::newRow("permission given, only a pty line end") << "30" << 0 << "\r\n" << "ok";
        QTest::newRow("unknown operation, API 25") << "25" << 0 << unknown << "На Android 7 и более ранних версиях это разрешение не нужно";
        QTest::newRow("unknown operation, API 26") << "26" << 0 << unknown << "";
        QTest::newRow("unknown operation, API not a number") << "2x" << 0 << unknown << "";
        QTest::newRow("silent, status 1, API 23") << "23" << 1 << "" << "";
    }

    void adbVerdicts()
    {
        QFETCH(QString, sdk);
        QFETCH(int, status);
        QFETCH(QString, output);
        QFETCH(QString, verdict);
        const adb::CommandResult result{status, output};
        const bool isInstall = sdk.isEmpty();
        QCOMPARE(isInstall ? install::installSucceeded(result) : install::grantSucceeded(result), verdict == "ok");
        if (verdict == "ok")
            return;
        const QString header = isInstall ? "Ошибка установки:\n" : "Zorvik App обновлён, но разрешение на установку APK не выдано:\n";
        const QString log = install::installOutcome({isInstall ? result : adb::CommandResult{0, "Success"}, result}, isInstall ? "23" : sdk).logText;
        QVERIFY2(log.startsWith(header + verdict) && log.endsWith((verdict.isEmpty() ? header : "\n\n") + output), qPrintable(log));
        QCOMPARE(log == header + output, verdict.isEmpty());
    }

    // What an install session makes of the job's results and of what the listings said of
    // the unit meanwhile: tell them now or wait for the next listing, and as what.
    void sessionDecisions_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("facts");     // cutOff, wasMissing, listedNow, watching: those that hold
        QTest::addColumn<bool>("waits");
        QTest::addColumn<QString>("told");      // installed, failed or lost
        const QString refused = "adb: failed to install x.apk: Failure [INSTALL_FAILED_INTERNAL_ERROR]\n";
        const QString pushedOnly = "Performing Push Install\nx.apk: 1 file pushed, 0 skipped.\n";
        // The lost-unit clock ran out after the job had ended, before its results arrived.
        QTest::newRow("Success, then the clock ran out") << "Success\n" << "cutOff wasMissing watching" << false << "installed";
        QTest::newRow("Success while no listing came") << "Success\n" << "listedNow watching" << false << "installed";
        QTest::newRow("cut off without a word") << "" << "cutOff wasMissing watching" << false << "lost";
        QTest::newRow("refused while listed") << refused << "listedNow watching" << true << "failed";
        QTest::newRow("refused while listed, no watcher") << refused << "listedNow" << false << "failed";
        QTest::newRow("back in time, adb's verdict stands") << refused << "wasMissing listedNow watching" << true << "failed";
        QTest::newRow("back in time, no verdict") << pushedOnly << "wasMissing listedNow watching" << true << "lost";
        QTest::newRow("streamed install cut") << "adb: failed to install x.apk: \n" << "watching" << false << "lost";
    }

    void sessionDecisions()
    {
        QFETCH(QString, output);
        QFETCH(QString, facts);
        QFETCH(QString, told);
        const install::InstallResults results{{output.startsWith("Success") ? 0 : 1, output}, {0, ""}};
        const install::ConnectionFacts connection{facts.contains("cutOff"), facts.contains("wasMissing"), facts.contains("listedNow")};
        QTEST(resultsWaitForListing(results, connection, facts.contains("watching")), "waits");
        const install::InstallOutcome outcome = sessionOutcome(results, connection, "30");
        QCOMPARE(outcome.installed, told == "installed");
        QCOMPARE(outcome.badge == "●  СВЯЗЬ С АВТОМОБИЛЕМ ПОТЕРЯНА", told == "lost");
    }

    // The permission and the launch end after their limits (shortened here), the install by
    // none of its own. A permission ended so was not given, and is told by the limit: what
    // appops printed before it hung is no verdict.
    void installJobLimits_data()
    {
        QTest::addColumn<QString>("install");   // shell code for each command
        QTest::addColumn<QString>("appops");
        QTest::addColumn<QString>("monkey");
        QTest::addColumn<QString>("log");
        const QString hangs = FakeAdb::hangingScript();
        const QString success = "echo Success";
        const QString done = "Готово: Zorvik App обновлён, разрешение на установку APK выдано.";
        const QString noAnswer = "Zorvik App обновлён, но разрешение на установку APK не выдано:\nнет ответа за 30 секунд";
        QTest::newRow("appops hangs") << success << hangs << "" << noAnswer;
        QTest::newRow("appops hangs after its refusal") << success << "echo 'Error: Unknown operation string: REQUEST_INSTALL_PACKAGES'\n" + hangs
                                                        << "" << noAnswer;
        QTest::newRow("monkey hangs") << success << "" << hangs << done;
        QTest::newRow("an install longer than the other limits") << "sleep 2\necho Success" << "" << "" << done;
    }
    void installJobLimits()
    {
        FakeAdb adb;
        QFETCH(QString, install);
        QFETCH(QString, appops);
        QFETCH(QString, monkey);
        // Told apart by the command word, so that the APK's path does not matter.
        adb.setFallbackScript(QStringLiteral("case \"$3 $4\" in\n'install -r')\n") + install + QStringLiteral("\n;;\n'shell appops')\n")
                              + appops + QStringLiteral("\n;;\n'shell monkey')\n") + monkey + QStringLiteral("\n;;\nesac"));
        adb::Timing timing;
        timing.appopsMs = timing.monkeyMs = timing.scanCommandMs = 1000;
        QObject context;
        std::optional<install::InstallResults> results;
        install::startInstall(
            &context, adb.resourceDir(), DeviceInfo(QStringLiteral("S1"), QStringLiteral("device")),
            [&](const install::InstallResults &done, const DeviceInfo &) { results = done; }, {}, timing);
        // A hung command sleeps for minutes; without its limit the job would too.
        QTRY_VERIFY_WITH_TIMEOUT(results.has_value(), 15000);
        const install::InstallOutcome outcome = install::installOutcome(*results, QStringLiteral("25"));
        QVERIFY(outcome.installed);
        QTEST(outcome.logText, "log");
        // The launch runs after a permission that hung, as after one refused.
        QStringList commands;
        for (const QStringList &call : adb.calls())
            commands << call.value(2) + u' ' + call.value(3);
        QCOMPARE(commands, (QStringList{"install -r", "shell appops", "shell monkey"}));
        for (const qint64 pid : adb.hungProcesses())
            QVERIFY2(!isRunning(int(pid)), "a hung adb was left running");
    }

    // The APK's check runs afresh on each press, so a pass once is no pass later.
    void refusalsChangeNothing_data()
    {
        QTest::addColumn<QString>("apk");           // big, empty, missing, a directory, or the real one "gone later"
        QTest::addColumn<QString>("digest");        // the one built in; empty: the real APK's
        QTest::addColumn<QString>("answer");        // empty: Escape
        QTest::addColumn<QString>("alert");
        const QString digest = QString::fromLatin1(QCryptographicHash::hash(bigApk(), QCryptographicHash::Sha256).toHex());
        const QString spoilt = "Проверка Zorvik App не пройдена";
        // The update's question is asked of a unit that has the app.
        QTest::newRow("install, Отмена") << "big" << digest << "Отмена" << "Установить Zorvik App?";
        QTest::newRow("update, Escape") << "big" << digest << "" << "Обновить Zorvik App?";
        QTest::newRow("APK missing") << "missing" << "" << kContinue << spoilt;
        QTest::newRow("APK empty") << "empty" << "" << kContinue << spoilt;
        QTest::newRow("digest expected in upper case") << "big" << digest.toUpper() << kContinue << spoilt;
        QTest::newRow("directory in the APK's place") << "directory" << "" << kContinue << spoilt;
        QTest::newRow("APK gone after a passing check") << "gone later" << "" << kContinue << spoilt;
    }

    void refusalsChangeNothing()
    {
        QFETCH(QString, apk);
        QFETCH(QString, digest);
        QFETCH(QString, answer);
        QFETCH(QString, alert);
        InstallerDriver driver(apk == "gone later", digest.isEmpty() ? std::nullopt : std::optional(digest));
        FakeAdb::Device unit(QStringLiteral("S1"));
        unit.pmPath = alert.startsWith("Обновить") ? "package:/data/app/base.apk" : "";
        driver.launchWithOneUnit(kOneUnit, unit);
        if (apk == "gone later")
            QCOMPARE(driver.pressInstall("Отмена"), QStringList{"Установить Zorvik App?"});
        QFile file(driver.apkFile());
        const QByteArray bytes = apk == "big" ? bigApk() : QByteArray();
        if (apk == "big" || apk == "empty")
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush());
        QVERIFY(apk != "directory" || QDir().mkdir(driver.apkFile()));
        QVERIFY(apk != "gone later" || file.remove());
        const QStringList before = driver.snapshot();
        QCOMPARE(driver.pressInstall(answer), QStringList{alert});
        QCOMPARE(driver.snapshot(), before);
        QTest::qWait(100);
        QCOMPARE(driver.adb.calls(), QList<QStringList>{});
    }

    // «Обновить» pressed while a scan runs joins that scan: one scan at a time, one completion.
    // The launch scan counts as asked for: the window is busy from the start. The watcher's
    // stream ends at once and waits out a long back-off, which «Обновить» cuts short.
    void clicksDuringAScanJoinIt()
    {
        AppDelegate::TestSetup setup = watching();
        setup.timing.restartFirstMs = setup.timing.restartMaxMs = 60000;
        InstallerDriver driver(true, std::nullopt, setup);
        driver.adb.reply({"track-devices"}, "");
        const QString held = driver.adb.resourceDir() + "/held";
        driver.adb.replyWithScript({"devices"}, QStringLiteral(
            "if mkdir \"$R/once\" 2>/dev/null; then touch '%1'; while [ -e '%1' ]; do sleep 0.05; done; fi\n"
            "printf 'List of devices attached\\nS1\\tdevice\\n'").arg(held));
        driver.adb.addDevice({QStringLiteral("S1")});
        const auto listings = [&] { return driver.adb.calls().count(QStringList{"devices"}); };
        QSignalSpy done(driver.app.get(), &AppDelegate::refreshCompleted);
        driver.app->applicationDidFinishLaunching();
        // The window's first frame: the log wraps, so it shows no sideways scroller.
        QVERIFY(!driver.child<QPlainTextEdit>("logView")->horizontalScrollBar()->isVisible());
        QTRY_VERIFY(QFile::exists(held));
        QVERIFY(driver.progressRunning());
        for (int click = 0; click < 3; ++click)
            driver.refreshButton()->click();
        QTest::qWait(200);
        QCOMPARE(listings(), 1);
        QVERIFY(driver.progressRunning());
        QVERIFY(QFile::remove(held));
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);
        QTest::qWait(300);
        QCOMPARE(done.count(), 1);
        QCOMPARE(listings(), 1);
        QCOMPARE(driver.popupItems(), QStringList{"LI_AUTO HU_L9  ·  S1"});
        QVERIFY(!driver.progressRunning() && driver.installButton()->isEnabled());
        const auto streams = [&] { return driver.adb.calls().count(QStringList{"track-devices"}); };
        QTRY_VERIFY(!driver.app->findChild<adb::DeviceWatcher *>()->isStreaming());
        const qsizetype streamed = streams();
        QTest::qWait(1500);
        QCOMPARE(streams(), streamed);
        driver.refresh();
        QCOMPARE(listings(), 2);
        QTRY_COMPARE(streams(), streamed + 1);
    }

    // Which scans run, one at a time, and as what they come back, over a few steps: "hold"
    // keeps every scan in its start-server until "release", which first notes how many scans
    // and streams have started; "wait" lets the scans run out; "quiet" counts the watcher's
    // comparisons over a second. "want" is a connect that ended, "change" a unit the watcher's
    // stream tells of, "ask" a click. Told: "busy" for each asked scan the window shows (as
    // running, or "idle"), then how each scan came back, and at the end the number of scans.
    void scheduling_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("told");
        QTest::newRow("clicks join the launch scan; the stream waits for its server") << "hold launch ask ask release" << "busy 1:0 asked =1";
        QTest::newRow("a click turns an automatic scan into an asked one") << "launch wait hold want ask release" << "busy asked busy 2:1 asked =2";
        QTest::newRow("a click during an install is no asked scan, the next one is")
            << "launch wait install hold want ask release installed ask wait quiet" << "busy asked busy 2:1 auto busy asked ~0 =3";
        QTest::newRow("asked before the install began") << "launch wait hold ask install release" << "busy asked busy 2:1 asked =2";
        QTest::newRow("wanted twice during a scan: once after it") << "launch wait hold want want release ask wait" << "busy asked 2:1 auto auto busy asked =4";
        QTest::newRow("a change during an automatic scan: once after it") << "launch wait hold want change release" << "busy asked 2:1 auto auto =3";
        QTest::newRow("a connect ends during an asked scan: once after it") << "launch wait hold ask want release" << "busy asked busy 2:1 asked auto =3";
    }
    void scheduling()
    {
        QFETCH(QString, steps);
        FakeAdb adb;
        adb.setListing(kHeader);
        const QString hold = adb.resourceDir() + "/hold";
        adb.replyWithScript({"start-server"}, "while [ -e \"$R/hold\" ]; do sleep 0.02; done");
        ScanScheduler scans(adb.resourceDir(), {.pollFastMs = 100}, true, nullptr);
        QStringList told;
        connect(&scans, &ScanScheduler::askedScanStarted, [&] { told << (scans.askedRunning() ? "busy" : "idle"); });
        connect(&scans, &ScanScheduler::scanFinished, [&](ScanKind kind) { told << (kind == ScanKind::Asked ? "asked" : "auto"); });
        const auto started = [&](const char *command) { return adb.calls().count(QStringList{command}); };
        const auto runOut = [&] {
            QTRY_VERIFY_WITH_TIMEOUT(!scans.running(), 10000);
            QTest::qWait(300);
            QTRY_VERIFY_WITH_TIMEOUT(!scans.running(), 10000);
        };
        for (const QString &step : steps.split(u' ')) {
            if (step == "hold") {
                QVERIFY(QFile(hold).open(QIODevice::WriteOnly));
            } else if (step == "release") {
                QTest::qWait(300);
                told << QStringLiteral("%1:%2").arg(started("start-server")).arg(started("track-devices"));
                QVERIFY(QFile::remove(hold));
                runOut();
            } else if (step == "wait") {
                runOut();
            } else if (step == "quiet") {
                const qsizetype before = started("devices");
                QTest::qWait(1000);
                told << "~" + QString::number(started("devices") - before);
            } else if (step == "change") {
                adb.track("S2\tdevice\n");
                QTest::qWait(300);
            } else if (step == "launch" || step == "ask" || step == "want") {
                step == "launch" ? scans.launch() : step == "ask" ? scans.scanAsked() : scans.scanWanted();
            } else {
                QVERIFY2(step == "install" || step == "installed", qPrintable("no such step: " + step));
                scans.setInstalling(step == "install");
            }
        }
        told << "=" + QString::number(started("start-server"));
        QTEST(told.join(u' '), "told");
    }

    // A change the watcher sees starts one scan; «Обновить» meanwhile joins it, and a change
    // seen while it runs is scanned once after it. Then the scans stop. A unit waiting for
    // "Allow" is listed throughout: compared every second, it is no change.
    void changesDuringAnAutomaticScan()
    {
        InstallerDriver driver(true, std::nullopt, watching());
        const QString waiting = QStringLiteral("U\tunauthorized\n");
        driver.adb.track("S1\tdevice\n" + waiting);
        driver.launchWithOneUnit(kOneUnit + waiting);
        const QString held = driver.adb.resourceDir() + "/held";
        driver.adb.addDevice({QStringLiteral("S2")});
        driver.adb.replyWithScript(probeCalls("S2").at(1), QStringLiteral(
            "if mkdir \"$R/once\" 2>/dev/null; then touch '%1'; while [ -e '%1' ]; do sleep 0.05; done; fi\necho HU_L9").arg(held));
        const auto scans = [&] { return driver.adb.calls().count(QStringList{"start-server"}); };
        driver.adb.setListing(kOneUnit + "S2\tdevice\n" + waiting);
        driver.adb.track("S1\tdevice\nS2\tdevice\n" + waiting);
        QTRY_VERIFY(QFile::exists(held));
        driver.refreshButton()->click();
        driver.adb.addDevice({QStringLiteral("S3")});
        driver.adb.setListing(kOneUnit + "S2\tdevice\nS3\tdevice\n" + waiting);
        driver.adb.track("S1\tdevice\nS2\tdevice\nS3\tdevice\n" + waiting);
        QTest::qWait(300);
        QCOMPARE(scans(), 1);
        QVERIFY(driver.progressRunning());
        QVERIFY(QFile::remove(held));
        QTRY_COMPARE_WITH_TIMEOUT(driver.popup()->count(), 3, 10000);
        QTRY_VERIFY(!driver.progressRunning());
        QTest::qWait(2500);
        QCOMPARE(scans(), 2);
    }

    void outcomes_data()
    {
        QTest::addColumn<QString>("install");   // what adb does for the install, and for appops
        QTest::addColumn<QString>("appops");
        // "rescan": meanwhile a scan finds only another unit; "late rescan": the same, asked
        // for during the install and back after its outcome; "late joined rescan": the click
        // joins the watcher's scan, which finds a second unit after the outcome; "polls fail":
        // the watcher's "adb devices" fails over and over, which is no news of the unit.
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QString>("log");
        const QString failed = "Ошибка установки:\n";
        const QString partial = "Zorvik App обновлён, но разрешение на установку APK не выдано:\n";
        const QString done = "Готово: Zorvik App обновлён, разрешение на установку APK выдано.";
        const QString refusal = "adb: failed to install x.apk: Failure [INSTALL_FAILED_INVALID_APK]";
        const QString unknown = "Error: Unknown operation string: REQUEST_INSTALL_PACKAGES";
        QTest::newRow("install refused on stderr, status 0") << "echo '" + refusal + "' >&2" << "" << "" << failed + refusal + '\n';
        QTest::newRow("appops refused, status 0") << "echo Success" << "printf '" + unknown + "\\r\\n'" << "" << partial + unknown + '\n';
        QTest::newRow("appops killed") << "echo Success" << "kill -9 $$" << "" << partial;
        QTest::newRow("everything succeeds") << "echo 'Performing Streamed Install'; echo Success" << "" << "" << done;
        const QString after = "while [ ! -e \"$R/%1\" ]; do sleep 0.05; done; echo Success";
        QTest::newRow("unit replaced on show meanwhile") << after.arg("rescanned") << "" << "rescan" << done;
        QTest::newRow("a scan asked meanwhile, back after the outcome") << after.arg("asked") << "" << "late rescan" << done;
        QTest::newRow("a click joining the watcher's scan, back after the outcome") << after.arg("clicked") << "" << "late joined rescan" << done;
        QTest::newRow("adb devices failing meanwhile") << "sleep 2; echo Success" << "" << "polls fail" << done;
    }

    void outcomes()
    {
        QFETCH(QString, install);
        QFETCH(QString, appops);
        QFETCH(QString, meanwhile);
        QFETCH(QString, log);
        const bool installed = !log.startsWith("Ошибка"), rescan = meanwhile == "rescan", pollsFail = meanwhile == "polls fail";
        const bool lateJoined = meanwhile == "late joined rescan", lateRescan = lateJoined || meanwhile == "late rescan";
        InstallerDriver driver(true, std::nullopt, pollsFail || lateJoined ? watching(300) : AppDelegate::TestSetup{});
        if (pollsFail || lateJoined)
            driver.adb.track("S1\tdevice\n");
        driver.launchWithOneUnit();
        const QList<QStringList> job{
            {"-s", "S1", "install", "-r", driver.apkFile()},
            {"-s", "S1", "shell", "appops", "set", "ru.zorvik.store", "REQUEST_INSTALL_PACKAGES", "allow"},
            {"-s", "S1", "shell", "monkey", "-p", "ru.zorvik.store", "-c", "android.intent.category.LAUNCHER", "1"}};
        driver.adb.replyWithScript(job[0], install);
        if (!appops.isEmpty())
            driver.adb.replyWithScript(job[1], appops);
        if (pollsFail)
            driver.adb.replyWithScript({"devices"}, "echo 'adb: cannot connect to daemon' >&2; exit 1");

        QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);
        QCOMPARE(driver.pressInstall(kContinue).size(), 1);
        // Until the results are back the window is busy, and a second install can't start.
        QCOMPARE(driver.log(), "Устанавливаем Zorvik App…");
        QVERIFY(!driver.installButton()->isEnabled());
        QVERIFY(driver.progressRunning());
        QCOMPARE(driver.answerAlerts(kContinue, [&] { driver.app->installClicked(); }).size(), 0);
        if (rescan) {
            driver.adb.setListing(kHeader + "S2\tdevice\n");
            driver.adb.addDevice({QStringLiteral("S2")});
            driver.refresh();
            // The scan shows what it found, but the window stays busy and goes on telling of the install.
            QCOMPARE(driver.popupItems(), QStringList{"LI_AUTO HU_L9  ·  S2"});
            QVERIFY(!driver.popup()->isEnabled() && !driver.installButton()->isEnabled() && driver.progressRunning());
            QCOMPARE(driver.log(), "Устанавливаем Zorvik App…");
            QVERIFY(QFile(driver.adb.resourceDir() + "/rescanned").open(QIODevice::WriteOnly));
        }
        QSignalSpy scanned(driver.app.get(), &AppDelegate::refreshCompleted);
        if (lateRescan) {
            // The scan lists another unit once the launch, the job's last command, has run.
            driver.adb.replyWithScript(job[2], "touch \"$R/installed\"");
            driver.adb.replyWithScript({"devices"}, "touch \"$R/asked\"; while [ ! -e \"$R/installed\" ]; do sleep 0.05; done\n"
                                                    "printf 'List of devices attached\\n" + QString(lateJoined ? "S1\\tdevice\\n" : "") + "S2\\tdevice\\n'");
            driver.adb.addDevice({QStringLiteral("S2")});
            if (lateJoined) {
                driver.adb.replyWithScript({"start-server"}, "touch \"$R/scanning\"");
                driver.adb.track("S1\tdevice\nS2\tdevice\n");
                QTRY_VERIFY(QFile::exists(driver.adb.resourceDir() + "/scanning"));
            }
            driver.refreshButton()->click();
            QVERIFY(QFile(driver.adb.resourceDir() + "/clicked").open(QIODevice::WriteOnly));
        }
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(scanned.count(), lateRescan ? 1 : 0, 20000);
        QVERIFY(!pollsFail || driver.adb.calls().count(QStringList{"devices"}) >= 1);

        QList<QStringList> sent = driver.adb.calls();
        // A unit only scanned meanwhile is only read.
        sent.removeIf([](const QStringList &call) { return call.value(0) != "-s" || probeCalls(call.value(1)).contains(call); });
        QCOMPARE(sent, installed ? job : job.mid(0, 1));
        QCOMPARE(driver.log(), log);
        QVERIFY(driver.installButton()->isEnabled());
        // Only the unit that got the app, and only while it is on show, is told as installed.
        const bool shownAsInstalled = installed && !rescan;
        QCOMPARE(driver.info("installed") == "Установлен успешно", shownAsInstalled);
        QCOMPARE(textColour(driver.label("value_installed")) == kGreen, shownAsInstalled);
        QCOMPARE(driver.badge(), installed ? "●  УСТАНОВКА ЗАВЕРШЕНА — МОЖНО ЗАКРЫТЬ" : "●  УСТАНОВКА НЕ ВЫПОЛНЕНА");
        QCOMPARE(textColour(driver.label("statusBadge")) == kGreen, installed);
        QCOMPARE(driver.installButton()->text(), installed ? kCloseTitle : "Установить Zorvik App");
        QCOMPARE(driver.steps(), installed ? kDoneSteps : kFoundSteps);
        // The face as drawn, sampled above the title: green after success, still blue otherwise.
        const QImage face = driver.installButton()->grab().toImage();
        const QColor drawn = face.pixelColor(face.width() / 2, 4);
        const QColor meant = installed ? kGreen : QColor::fromRgbF(0.04f, 0.43f, 1.0f);
        QVERIFY2(qAbs(drawn.hsvHue() - meant.hsvHue()) < 20 && drawn.hsvSaturation() > 120, qPrintable(drawn.name()));
    }

    // The unit being installed leaves adb's listing (the stream and "adb devices" alike)
    // while its install runs, as `install` says in shell; "gone" and "back" do it.
    void unitLostDuringInstall_data()
    {
        QTest::addColumn<QString>("install");
        QTest::addColumn<QString>("log");       // its head
        QTest::addColumn<bool>("grantAndLaunch");
        const QString lost = "Связь с автомобилем потеряна во время установки.";
        QTest::newRow("older unit back, adb only removed the file")
            << "gone; sleep 0.5; back; echo 'Performing Push Install'; echo 'x.apk: 1 file pushed'" << lost << false;
        QTest::newRow("streamed install cut, adb notices a moment later")
            << "echo 'adb: failed to install x.apk: ' >&2; (sleep 0.5; gone) & exit 1" << lost << false;
        QTest::newRow("back in time") << "gone; sleep 0.3; back; echo Success" << "Готово:" << true;
    }
    void unitLostDuringInstall()
    {
        QFETCH(QString, install);
        QFETCH(QString, log);
        QFETCH(bool, grantAndLaunch);
        InstallerDriver driver(true, std::nullopt, watching(1500));
        // The listing follows the unit as "gone" and "back" leave it, S1 ready until then.
        driver.adb.replyWithScript({"devices"}, "cat \"$R/listing\" 2>/dev/null || printf 'List of devices attached\\nS1\\tdevice\\n'");
        driver.adb.track("S1\tdevice\n");
        driver.adb.addDevice({QStringLiteral("S1")});
        driver.launch();
        driver.adb.clearCalls();
        const QString listingCode = "printf 'List of devices attached\\n%s' \"$1\" > \"$R/listing\"; printf '%04x%s' ${#1} \"$1\" >> \"$R/track.stream\"";
        driver.adb.replyWithScript({"-s", "S1", "install", "-r", driver.apkFile()},
                                   "say() { " + listingCode + "; }; gone() { say ''; }; back() { say \"$(printf 'S1\\tdevice\\n')\"; }\n" + install);
        QVERIFY(driver.installAndWait());
        QVERIFY2(driver.log().startsWith(log), qPrintable(driver.log()));
        const bool lostRow = log.startsWith("Связь");
        QCOMPARE(driver.badge() == "●  СВЯЗЬ С АВТОМОБИЛЕМ ПОТЕРЯНА", lostRow);
        QVERIFY(!driver.progressRunning());
        QList<QStringList> sent = driver.adb.calls();
        sent.removeIf([](const QStringList &call) { return call.value(2) == "install" || call.value(1) != "S1" || call.value(3) == "getprop" || call.value(3) == "wm" || call.value(3) == "pm"; });
        QCOMPARE(sent.size(), grantAndLaunch ? 2 : 0);
    }

    // The person confirms after the unit has gone: nothing is installed anywhere.
    void unitGoneBeforeTheConfirmation()
    {
        InstallerDriver driver(true, std::nullopt, watching());
        driver.adb.track("S1\tdevice\n");
        driver.launchWithOneUnit();
        // The scan that the change starts takes its time, so the question is answered first.
        driver.adb.replyWithScript({"start-server"}, "sleep 2");
        driver.adb.setListing(kHeader);
        driver.adb.track("");
        QTRY_VERIFY(driver.adb.calls().contains(QStringList{"start-server"}));
        const QStringList before = driver.snapshot();
        QCOMPARE(driver.pressInstall(kContinue), QStringList{"Установить Zorvik App?"});
        QCOMPARE(driver.log(), "Автомобиль отключён — установка не начата. Подключите его снова.");
        QCOMPARE(driver.snapshot().mid(2), before.mid(2));
        QVERIFY(!driver.adb.calls().contains(QStringList{"-s", "S1", "install", "-r", driver.apkFile()}));
    }

    // After a success, scans nobody asked for change nothing until the person asks for one;
    // from then on they keep the popup, the panel and the badge current. No scan changes the
    // steps, the outcome nobody replaced, or the button, which closes the installer.
    void finishedPhaseHolds()
    {
        InstallerDriver driver(true, std::nullopt, watching());
        driver.adb.track("S1\tdevice\n");
        driver.launchWithOneUnit();
        const QColor firstBadgeColour = textColour(driver.label("statusBadge"));
        const QColor firstValueColour = textColour(driver.label("value_installed"));
        driver.adb.reply({"-s", "S1", "install", "-r", driver.apkFile()}, "Success\n");
        QVERIFY(driver.installAndWait());
        const QStringList done = driver.snapshot();
        QSignalSpy scans(driver.app.get(), &AppDelegate::refreshCompleted);
        driver.adb.setListing(kHeader);
        driver.adb.track("");
        QVERIFY(scans.wait(10000));
        QCOMPARE(driver.snapshot(), done);

        driver.refresh();
        QCOMPARE(driver.popup()->count(), 1);
        QVERIFY(driver.badge() != done.at(0));
        QVERIFY(driver.log() != done.at(1));
        QCOMPARE(driver.steps(), kDoneSteps);
        QVERIFY(driver.installButton()->isEnabled());
        // What replaces the texts that told of the install is drawn as the window first drew it.
        QCOMPARE(textColour(driver.label("statusBadge")), firstBadgeColour);
        driver.adb.setListing(kOneUnit);
        driver.adb.track("S1\tdevice\n");
        QVERIFY(scans.wait(10000));
        QCOMPARE(driver.popupItems(), QStringList{"LI_AUTO HU_L9  ·  S1"});
        QCOMPARE(driver.badge(), "●  МУЛЬТИМЕДИА LI AUTO ГОТОВА");
        QCOMPARE(driver.steps(), kDoneSteps);
        QCOMPARE(driver.installButton()->text(), kCloseTitle);
        QVERIFY(driver.installButton()->isEnabled());
        QCOMPARE(buttonFace(driver.installButton()), kGreen);
        QCOMPARE(textColour(driver.label("value_installed")), firstValueColour);
        // Its press ends the application's event loop, and asks nothing of adb.
        driver.adb.clearCalls();
        QTimer::singleShot(0, driver.installButton(), &QPushButton::click);
        QTimer unanswered;
        QObject::connect(&unanswered, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        unanswered.start(5000);
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(driver.adb.calls(), QList<QStringList>{});
    }

    // A connect that ends while a scan the person asked for still runs leaves the window busy
    // until that scan is back.
    void busyWhileAnAskedScanRuns()
    {
        InstallerDriver driver;
        driver.launchWithOneUnit();
        const QString held = driver.adb.resourceDir() + "/held";
        driver.adb.replyWithScript({"devices"}, QStringLiteral("touch '%1'; while [ -e '%1' ]; do sleep 0.05; done; "
                                                               "printf 'List of devices attached\\nS1\\tdevice\\n'").arg(held));
        driver.adb.reply({"connect", "192.168.1.50:5555"}, "failed to connect to '192.168.1.50:5555': Connection refused\n", 1);
        driver.refreshButton()->click();
        QTRY_VERIFY(QFile::exists(held));
        QVERIFY(driver.connectByWifi("192.168.1.50"));
        QTRY_VERIFY(driver.log().startsWith("Не удалось подключиться"));
        QVERIFY(driver.progressRunning());
        QVERIFY(!driver.installButton()->isEnabled());
        QSignalSpy scans(driver.app.get(), &AppDelegate::refreshCompleted);
        QVERIFY(QFile::remove(held));
        QVERIFY(scans.wait(10000));
        QVERIFY(!driver.progressRunning());
        QVERIFY(driver.installButton()->isEnabled());
    }

    // The launch's quiet try of the remembered address: the Wi-Fi link stays usable, the entry
    // adb lists meanwhile tells nothing yet, and a connect the person asks for waits for it.
    void quietTryAtLaunch()
    {
        AppDelegate::TestSetup setup;
        setup.timing.quietConnectMs = 1000;
        InstallerDriver driver(true, std::nullopt, setup);
        const QString address = "192.168.1.50:5555";
        installerSettings().setValue("wifi/lastAddress", address);
        driver.adb.setListing(kHeader + address + "\toffline\n");
        driver.adb.replyWithScript({"connect", address}, "if mkdir \"$R/tried\" 2>/dev/null; then exec sleep 30; fi\n"
                                                         "printf 'connected to 192.168.1.50:5555\\n'");
        driver.launch();
        // The try runs in the background: on a loaded machine adb may start after the scan's end.
        QTRY_COMPARE(driver.adb.calls().count(QStringList{"connect", address}), 1);
        QCOMPARE(driver.badge(), "●  ПОДКЛЮЧИТЕ АВТОМОБИЛЬ");
        QVERIFY(driver.child<QPushButton>("wifiButton")->isEnabled());

        driver.adb.setListing(kHeader + address + "\tdevice\n");
        driver.adb.addDevice({address});
        QStringList logs;
        QObject::connect(driver.child<QPlainTextEdit>("logView"), &QPlainTextEdit::textChanged, [&] { logs << driver.log(); });
        QVERIFY(driver.connectByWifi(address));
        QCOMPARE(driver.log(), "Подключаемся к " + address + "…");
        QVERIFY(driver.progressRunning());
        QCOMPARE(driver.adb.calls().count(QStringList{"connect", address}), 1);
        QTRY_VERIFY_WITH_TIMEOUT(driver.popup()->currentText().endsWith(address), 10000);
        // Connected is said, and the scan that shows the unit says what it found instead.
        QVERIFY2(logs.contains("Подключено: " + address + "."), qPrintable(logs.join(" | ")));
        QCOMPARE(driver.log(), "Найдено устройств: 1. Выполнена только read-only диагностика.");
        const QList<QStringList> calls = driver.adb.calls();
        QCOMPARE(calls.count(QStringList{"connect", address}), 2);
        // The try was ended by its limit and its entry dropped before the person's connect ran.
        QVERIFY(calls.indexOf(QStringList{"disconnect", address}) < calls.lastIndexOf(QStringList{"connect", address}));
    }

    // Nothing that fails the address rule reaches adb: not typed, not remembered.
    void refusedAddressesNeverReachAdb()
    {
        InstallerDriver driver;
        installerSettings().setValue("wifi/lastAddress", "car;reboot");
        driver.adb.setListing(kOneUnit);
        driver.adb.addDevice({QStringLiteral("S1")});
        driver.launch();
        for (const char *typed : {"192.168.001.050", "http://car.local", "-s car", ""})
            QVERIFY2(!driver.connectByWifi(QString::fromLatin1(typed)), typed);
        QTest::qWait(100);
        // Only adb's version, asked once for the dialog's pairing way.
        QCOMPARE(driver.adb.calls(), (QList<QStringList>{{"start-server"}, {"devices"}} + probeCalls("S1") + QList<QStringList>{{"version"}}));
        QCOMPARE(driver.log(), "Найдено устройств: 1. Выполнена только read-only диагностика.");
    }

    // Closing the window while the install runs asks first, and only then. The hint for a
    // long install comes at once here.
    void closeDuringInstall()
    {
        AppDelegate::TestSetup setup;
        setup.timing.longInstallHint = std::chrono::milliseconds(1);
        InstallerDriver driver(true, std::nullopt, setup);
        driver.launchWithOneUnit();
        const QString held = driver.adb.resourceDir() + "/held";
        driver.adb.replyWithScript({"-s", "S1", "install", "-r", driver.apkFile()},
                                   QStringLiteral("touch '%1'; while [ -e '%1' ]; do sleep 0.05; done; echo Success").arg(held));
        QCOMPARE(driver.pressInstall(kContinue).size(), 1);
        QTRY_COMPARE(driver.log(), "Устанавливаем Zorvik App…\nУстановка идёт дольше обычного. "
                                   "Посмотрите на экран автомобиля: он может ждать подтверждения.");
        QWidget *window = driver.app->mainWindow();
        // Escape waits; "Закрыть" ends the event loop, as the finished install's button does.
        const auto closeInLoop = [&](const QString &answer) {
            QTimer::singleShot(0, window, &QWidget::close);
            QTimer waited;
            QObject::connect(&waited, &QTimer::timeout, [] { QCoreApplication::exit(7); });
            waited.start(1000);
            int status = -1;
            return std::pair(driver.answerAlerts(answer, [&] { status = QCoreApplication::exec(); }), status);
        };
        QCOMPARE(closeInLoop(""), std::pair(QStringList{"Установка ещё идёт"}, 7));
        QCOMPARE(closeInLoop("Закрыть"), std::pair(QStringList{"Установка ещё идёт"}, 0));
        // The install ends while the question is open (the timer fires in its event loop):
        // the question goes, the outcome shows.
        QTimer::singleShot(0, [&] { QFile::remove(held); });
        window->close();
        QVERIFY(window->isVisible() && !QApplication::activeModalWidget());
        QCOMPARE(driver.log(), "Готово: Zorvik App обновлён, разрешение на установку APK выдано.");
    }

    void closingWhileAdbHangsEndsPromptly()
    {
        FakeAdb adb;
        const QString dir = adb.resourceDir();
        const QString hanging = dir + "/hanging";
        // Both adb children hang until they are ended and write down their pids: the
        // watcher's track-devices, and the listing, which waits for the watcher to be there.
        // (sleep, not tail -f, which ends by itself once its pipe's reader has gone.)
        adb.replyWithScript({"track-devices"}, "echo $$ > '" + dir + "/track.pid'; exec sleep 30");
        adb.replyWithScript({"devices"}, "i=0; while [ ! -e '" + dir + "/track.pid' ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i+1)); done\n"
                                         "echo $$ > '" + hanging + ".new'; mv '" + hanging + ".new' '" + hanging + "'; exec sleep 30");
        // The installer runs as its own process (this executable again): what counts is
        // that the whole process ends once its window closes, however long adb hangs.
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildMode), dir);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(hanging), 30000);
        QElapsedTimer sinceHanging;
        sinceHanging.start();
        child.waitForFinished(5000);    // false also when it has ended already
        QVERIFY2(child.state() == QProcess::NotRunning, "the installer did not end after its window was closed");
        QVERIFY2(sinceHanging.elapsed() < 1000, qPrintable(QString::number(sinceHanging.elapsed()) + " ms"));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        // _Exit ends no child by itself: the adb processes must have gone with the installer.
        for (const QString &pidFile : {dir + "/track.pid", hanging}) {
            QFile file(pidFile);
            const int pid = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
            QVERIFY2(pid > 0, qPrintable(pidFile));
            QTRY_VERIFY2_WITH_TIMEOUT(!isRunning(pid), qPrintable(pidFile), 2000);
        }
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(kChildMode))
        return runChild(argc, argv);
    QApplication app(argc, argv);
    TestInstaller test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_installer.moc"
