// Faults that a real head unit and a real adb produce now and then, driven through the
// whole program: adb killed by a signal, adb printing binary garbage, adb that never
// ends, a unit that drops off the bus between the listing and its probes, an APK that
// can't be read, and a scan that overlaps an install. In every case the window must end
// idle in a state it can show anyway, and nothing that changes a device may run unless
// the APK passed its check and the user confirmed.

#include "installerdriver.h"
#include "windowtexts.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

using namespace expected;

namespace {

const QString kOneUnit = kHeader + QStringLiteral("S1\tdevice\n");
const QString kGone = QStringLiteral("error: device 'S1' not found");

// install, appops and monkey are the only commands that change a head unit.
QList<QStringList> deviceChangingCalls(const QList<QStringList> &calls)
{
    QList<QStringList> changing;
    for (const QStringList &call : calls) {
        const bool install = call.size() > 2 && call.at(2) == QLatin1String("install");
        const bool remote = call.size() > 3 && call.at(2) == QLatin1String("shell")
            && (call.at(3) == QLatin1String("appops") || call.at(3) == QLatin1String("monkey"));
        if (install || remote)
            changing << call;
    }
    return changing;
}

// Idle as every completion leaves the window: nothing spins, the pop-up answers, and the
// install button is usable exactly when a ready device is listed.
void verifyIdle(const InstallerDriver &driver)
{
    QVERIFY(!driver.progressRunning());
    QVERIFY(driver.popup()->isEnabled());
    QVERIFY(driver.refreshButton()->isEnabled());
    QCOMPARE(driver.installButton()->isEnabled(), !driver.app->readyDevices().isEmpty());
    QCOMPARE(driver.popup()->count(), std::max<qsizetype>(1, driver.app->readyDevices().size()));
    QVERIFY(driver.badge() != QStringLiteral("ПОИСК…"));
}

// An adb run that never ends records its pid (the script execs into sleep, so the pid
// stays) and is killed when the test is done with it, or when the test fails half-way:
// a leftover sleeper would hold the test's worker thread and outlive the test run.
class HangingRun
{
public:
    explicit HangingRun(const FakeAdb &adb)
        : m_pidFile(QDir(adb.resourceDir()).filePath(QStringLiteral("hanging.pid"))),
          m_firstTime(QDir(adb.resourceDir()).filePath(QStringLiteral("hung-once")))
    {
    }
    ~HangingRun() { kill(); }
    HangingRun(const HangingRun &) = delete;
    HangingRun &operator=(const HangingRun &) = delete;

    // Hangs the first time it runs; every later run does `normally` instead.
    [[nodiscard]] QString script(const QString &normally) const
    {
        return QStringLiteral("if [ ! -e '%1' ]; then touch '%1'; echo $$ > '%2.tmp'; mv '%2.tmp' '%2';"
                              " exec sleep 3600; fi\n%3")
            .arg(m_firstTime, m_pidFile, normally);
    }

    [[nodiscard]] pid_t pid() const
    {
        QFile file(m_pidFile);
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        return static_cast<pid_t>(file.readAll().trimmed().toInt());
    }

    void kill()
    {
        if (const pid_t hung = pid(); hung > 0 && !m_killed) {
            ::kill(hung, SIGKILL);
            m_killed = true;
        }
    }

private:
    QString m_pidFile;
    QString m_firstTime;
    bool m_killed = false;
};

QString catFile(const FakeAdb &adb, const QString &name, const QByteArray &contents)
{
    const QString path = QDir(adb.resourceDir()).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("can't write %s", qPrintable(path));
    file.write(contents);
    return QStringLiteral("cat '%1'").arg(path);
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void scanSurvivesBrokenAnswers_data();
    void scanSurvivesBrokenAnswers();
    void randomBytesAsListing();
    void neverEndingAdbKeepsTheWindowResponsive_data();
    void neverEndingAdbKeepsTheWindowResponsive();
    void installOnAVanishedDeviceFails();
    void unreadableApkChangesNothing_data();
    void unreadableApkChangesNothing();
    void scanDuringInstall_data();
    void scanDuringInstall();
};

void TestFaults::scanSurvivesBrokenAnswers_data()
{
    // Which adb run misbehaves, how, and what the scan should make of it.
    QTest::addColumn<QString>("target");      // "devices", "start-server", "model", "pm", "probes"
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("ready");
    QTest::addColumn<QString>("model");       // of the first ready device
    QTest::addColumn<QString>("size");
    QTest::addColumn<bool>("installed");

    const QStringList s1{QStringLiteral("S1")};
    const QString none;
    // Killed by a signal: whatever it printed before dying still counts, the status doesn't.
    QTest::newRow("devices killed before printing") << "devices" << "kill -KILL $$" << QStringList{} << none << none << false;
    QTest::newRow("devices killed after the device line")
        << "devices" << "printf 'List of devices attached\\nS1\\tdevice\\n'; kill -KILL $$" << s1 << "HU_L9" << "1920x720" << false;
    QTest::newRow("devices terminated inside the state word")
        << "devices" << "printf 'List of devices attached\\nS1\\tdev'; kill -TERM $$" << QStringList{} << none << none << false;
    QTest::newRow("start-server killed") << "start-server" << "kill -KILL $$" << s1 << "HU_L9" << "1920x720" << false;
    QTest::newRow("model probe killed half-way") << "model" << "printf 'HU_'; kill -TERM $$" << s1 << "HU_" << "1920x720" << false;
    QTest::newRow("pm killed after printing")
        << "pm" << "printf 'package:/data/app/ru.zorvik'; kill -KILL $$" << s1 << "HU_L9" << "1920x720" << true;
    QTest::newRow("pm killed silently") << "pm" << "kill -KILL $$" << s1 << "HU_L9" << "1920x720" << false;

    // Binary garbage: output that isn't UTF-8 as a whole is no output at all.
    QTest::newRow("listing ends in bytes that aren't UTF-8")
        << "devices" << "printf 'List of devices attached\\nS1\\tdevice\\n\\377\\376'" << QStringList{} << none << none << false;
    QTest::newRow("listing with a truncated UTF-8 sequence")
        << "devices" << "printf 'List of devices attached\\nS1\\tdevice\\n\\320'" << QStringList{} << none << none << false;
    QTest::newRow("every probe answers with overlong UTF-8")
        << "probes" << "printf '\\300\\200\\n\\377'" << s1 << "—" << "" << false;
    QTest::newRow("listing with control characters in the serial")
        << "devices" << "printf 'List of devices attached\\n\\001\\033[2J\\tdevice\\n'"
        << QStringList{QStringLiteral("\x01\x1b[2J")} << "—" << "" << false;

    // The unit dropped off between the listing and its probes: adb answers every probe with
    // its error and status 1. The texts are shown as they came, and pm's error counts as
    // "printed something".
    QTest::newRow("device gone before the probes")
        << "probes" << QStringLiteral("echo \"%1\"; exit 1").arg(kGone) << s1 << kGone
        << "device 'S1' not found" << true;
}

void TestFaults::scanSurvivesBrokenAnswers()
{
    QFETCH(QString, target);
    QFETCH(QString, script);
    QFETCH(QStringList, ready);
    QFETCH(QString, model);
    QFETCH(QString, size);
    QFETCH(bool, installed);

    InstallerDriver driver;
    driver.adb.setListing(kOneUnit);
    driver.adb.addDevice({"S1"});
    const QList<QStringList> probes = probeCalls("S1");
    if (target == QLatin1String("devices") || target == QLatin1String("start-server"))
        driver.adb.replyWithScript({target}, script);
    else if (target == QLatin1String("model"))
        driver.adb.replyWithScript(probes.at(1), script);
    else if (target == QLatin1String("pm"))
        driver.adb.replyWithScript(probes.at(7), script);
    else
        for (const QStringList &probe : probes)
            driver.adb.replyWithScript(probe, script);
    driver.launch();
    if (QTest::currentTestFailed())
        return;

    verifyIdle(driver);
    if (QTest::currentTestFailed())
        return;
    QStringList serials;
    for (const DeviceInfo &device : driver.app->readyDevices())
        serials << device.serial();
    QCOMPARE(serials, ready);
    if (!ready.isEmpty()) {
        const DeviceInfo &first = driver.app->readyDevices().first();
        QCOMPARE(first.model, model);
        QCOMPARE(first.size, size);
        QCOMPARE(first.installed, installed);
        QCOMPARE(driver.steps(), kFoundSteps);
    }
    QCOMPARE(deviceChangingCalls(driver.adb.calls()), QList<QStringList>{});

    // Nothing is left wedged: once adb behaves again, the next scan shows the unit.
    driver.adb.setListing(kOneUnit);
    driver.adb.addDevice({"S1"});
    driver.adb.reply({"start-server"}, QString());
    driver.refresh();
    verifyIdle(driver);
    QCOMPARE(driver.app->readyDevices().size(), 1);
    QCOMPARE(driver.app->readyDevices().first().model, QStringLiteral("HU_L9"));
}

void TestFaults::randomBytesAsListing()
{
    // A megabyte of noise, now and then valid UTF-8 by chance in some other run of the
    // generator: whatever the listing yields, only well-formed rows may come of it.
    InstallerDriver driver;
    QByteArray noise(1 << 20, '\0');
    QRandomGenerator generator(20240611);
    for (char &byte : noise)
        byte = static_cast<char>(generator.bounded(256));
    driver.adb.replyWithScript({"devices"}, catFile(driver.adb, QStringLiteral("noise.bin"), noise));
    driver.launch();
    verifyIdle(driver);
    for (const DeviceInfo &device : driver.app->readyDevices())
        QCOMPARE(device.state(), QStringLiteral("device"));
    QCOMPARE(deviceChangingCalls(driver.adb.calls()), QList<QStringList>{});
}

void TestFaults::neverEndingAdbKeepsTheWindowResponsive_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("modelAfterKill");    // null: the hung scan finds no ready device
    QTest::newRow("devices hangs") << "devices" << QString();
    QTest::newRow("a probe hangs") << "model" << QStringLiteral("—");
    QTest::newRow("start-server hangs") << "start-server" << QStringLiteral("HU_L9");
}

void TestFaults::neverEndingAdbKeepsTheWindowResponsive()
{
    QFETCH(QString, target);
    QFETCH(QString, modelAfterKill);

    InstallerDriver driver;
    HangingRun hanging(driver.adb);
    driver.adb.setListing(kOneUnit);
    driver.adb.addDevice({"S1"});
    if (target == QLatin1String("devices"))
        driver.adb.replyWithScript({"devices"}, hanging.script(catFile(driver.adb, "listing.txt", kOneUnit.toUtf8())));
    else if (target == QLatin1String("model"))
        driver.adb.replyWithScript(probeCalls("S1").at(1), hanging.script(QStringLiteral("echo HU_L9")));
    else
        driver.adb.replyWithScript({"start-server"}, hanging.script(QStringLiteral("true")));

    QSignalSpy done(driver.app.get(), &AppDelegate::refreshCompleted);
    driver.app->applicationDidFinishLaunching();
    QTRY_VERIFY_WITH_TIMEOUT(hanging.pid() > 0, 20000);

    // The event loop keeps turning while adb hangs on the scan's thread.
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(10);
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start();
    QTest::qWait(400);
    QVERIFY2(ticks >= 5, qPrintable(QStringLiteral("only %1 timer ticks in 400 ms").arg(ticks)));
    QCOMPARE(done.count(), 0);
    QVERIFY(driver.progressRunning());
    QCOMPARE(driver.log(), QStringLiteral("Ищем подключённые экраны…"));

    // "Обновить" still works and its scan comes back while the first one hangs on.
    QVERIFY(driver.refreshButton()->isEnabled());
    driver.refreshButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 20000);
    verifyIdle(driver);
    QCOMPARE(driver.app->readyDevices().size(), 1);
    QCOMPARE(driver.app->readyDevices().first().model, QStringLiteral("HU_L9"));
    const int ticksBefore = ticks;
    QTest::qWait(100);
    QVERIFY(ticks > ticksBefore);

    // Once the stuck adb dies, its scan finishes with what it had, and as the last
    // completion to arrive its lists stand.
    hanging.kill();
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 20000);
    verifyIdle(driver);
    if (modelAfterKill.isNull()) {
        QVERIFY(driver.app->readyDevices().isEmpty());
    } else {
        QCOMPARE(driver.app->readyDevices().size(), 1);
        QCOMPARE(driver.app->readyDevices().first().model, modelAfterKill);
    }
    QCOMPARE(deviceChangingCalls(driver.adb.calls()), QList<QStringList>{});
}

void TestFaults::installOnAVanishedDeviceFails()
{
    // The unit went away after the listing: every later adb run for it fails with adb's
    // error. Confirming an install must end as a failed install, with neither the
    // permission nor the launch command tried.
    InstallerDriver driver;
    driver.adb.setListing(kOneUnit);
    driver.adb.setFallbackScript(QStringLiteral("echo \"%1\"; exit 1").arg(kGone));
    driver.adb.reply({"start-server"}, QString());
    driver.launch();
    QCOMPARE(driver.app->readyDevices().size(), 1);
    // pm's error text reads as "installed", so the alert offers an update.
    QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);
    const auto alerts = driver.pressInstall(QStringLiteral("Продолжить"));
    QVERIFY(done.wait(20000));
    QCOMPARE(alerts.size(), 1);
    QCOMPARE(alerts.first().text, QStringLiteral("Обновить Zorvik App?"));

    QCOMPARE(driver.log(), QStringLiteral("Ошибка установки:\n") + kGone + u'\n');
    QCOMPARE(driver.badge(), QStringLiteral("●  УСТАНОВКА НЕ ВЫПОЛНЕНА"));
    QCOMPARE(driver.steps(), kFoundSteps);
    verifyIdle(driver);
    const QList<QStringList> changing = deviceChangingCalls(driver.adb.calls());
    QCOMPARE(changing.size(), 1);
    QCOMPARE(changing.first().at(2), QStringLiteral("install"));
}

void TestFaults::unreadableApkChangesNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("mode 000") << QStringLiteral("mode 000");
    QTest::newRow("directory in its place") << QStringLiteral("directory");
    QTest::newRow("dangling symlink") << QStringLiteral("symlink");
    QTest::newRow("unreadable after a passing check") << QStringLiteral("later");
}

void TestFaults::unreadableApkChangesNothing()
{
    QFETCH(QString, kind);
    InstallerDriver driver;
    driver.launchWithOneUnit(kOneUnit);

    const auto makeUnreadable = [&] {
        if (kind == QLatin1String("mode 000")) {
            QVERIFY(QFile::setPermissions(driver.apkFile(), {}));
        } else if (kind == QLatin1String("symlink")) {
            QVERIFY(QFile::remove(driver.apkFile()));
            QVERIFY(QFile::link(driver.adb.resourceDir() + QStringLiteral("/nowhere.apk"), driver.apkFile()));
        } else {
            QVERIFY(QFile::remove(driver.apkFile()));
            QVERIFY(QDir().mkdir(driver.apkFile()));
        }
    };
    if (kind == QLatin1String("later")) {
        // The check runs afresh on each press: a pass once is no pass later.
        const auto alerts = driver.pressInstall(QStringLiteral("Отмена"));
        QCOMPARE(alerts.size(), 1);
        QCOMPARE(alerts.first().text, QStringLiteral("Установить Zorvik App?"));
    }
    makeUnreadable();
    const QStringList before = driver.snapshot();

    // root reads a mode 000 file anyway, and then the APK is intact: the confirmation
    // comes up, and cancelling it still runs nothing.
    const bool stillReadable = kind == QLatin1String("mode 000") && geteuid() == 0;
    const auto alerts = driver.pressInstall(stillReadable ? QStringLiteral("Отмена") : QStringLiteral("Продолжить"));
    QCOMPARE(alerts.size(), 1);
    QCOMPARE(alerts.first().text, stillReadable ? QStringLiteral("Установить Zorvik App?")
                                                : QStringLiteral("Проверка Zorvik App не пройдена"));
    QCOMPARE(driver.snapshot(), before);
    QTest::qWait(100);
    QCOMPARE(driver.adb.calls(), QList<QStringList>{});

    // A scan afterwards works as ever, and still nothing changes the unit.
    driver.refresh();
    verifyIdle(driver);
    QCOMPARE(deviceChangingCalls(driver.adb.calls()), QList<QStringList>{});
}

void TestFaults::scanDuringInstall_data()
{
    QTest::addColumn<bool>("scanEndsFirst");
    QTest::newRow("scan ends first") << true;
    QTest::newRow("install ends first") << false;
}

void TestFaults::scanDuringInstall()
{
    QFETCH(bool, scanEndsFirst);
    InstallerDriver driver;
    driver.launchWithOneUnit(kOneUnit);

    const QStringList install{"-s", "S1", "install", "-r", driver.apkFile()};
    driver.adb.replyWithScript(install, scanEndsFirst ? QStringLiteral("sleep 3; echo Success")
                                                      : QStringLiteral("sleep 0.2; echo Success"));
    // The scan that overlaps the install lists a second unit; pm still says S1 has no app.
    const QString listing = kHeader + QStringLiteral("S1\tdevice\nS2\tdevice\n");
    driver.adb.replyWithScript({"devices"}, (scanEndsFirst ? QString() : QStringLiteral("sleep 3; "))
                                                + catFile(driver.adb, "listing.txt", listing.toUtf8()));
    driver.adb.addDevice({"S2"});

    QStringList order;
    QStringList seenAtScan;
    connect(driver.app.get(), &AppDelegate::installCompleted, [&order] { order << QStringLiteral("install"); });
    connect(driver.app.get(), &AppDelegate::refreshCompleted, [&] {
        order << QStringLiteral("scan");
        seenAtScan = {driver.log(), QString::number(driver.popup()->count()),
                      QString::number(driver.installButton()->isEnabled()), QString::number(driver.popup()->isEnabled()),
                      QString::number(driver.progressRunning())};
    });
    const auto alerts = driver.pressInstall(QStringLiteral("Продолжить"));
    QCOMPARE(alerts.size(), 1);
    driver.refreshButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(order.size(), 2, 20000);
    QCOMPARE(order, scanEndsFirst ? (QStringList{"scan", "install"}) : (QStringList{"install", "scan"}));
    // A scan that ends while the unit is being changed shows what it found, but the window
    // stays busy: no install button, no pop-up, the bar running, the install message.
    if (scanEndsFirst)
        QCOMPARE(seenAtScan, (QStringList{QStringLiteral("Устанавливаем Zorvik App…"), "2", "0", "0", "1"}));

    verifyIdle(driver);
    // The scan's list stands whole; the install marks S1 in it only when it arrives later.
    const DeviceList &devices = driver.app->readyDevices();
    QCOMPARE(devices.size(), 2);
    QCOMPARE(devices.at(0).serial(), QStringLiteral("S1"));
    QCOMPARE(devices.at(0).installed, scanEndsFirst);
    QCOMPARE(devices.at(1).installed, false);
    QCOMPARE(driver.popup()->count(), 2);
    // After a success the button closes the installer for good, whatever comes later.
    QCOMPARE(driver.installButton()->text(), kCloseTitle);
    if (scanEndsFirst) {
        QCOMPARE(driver.log(), QStringLiteral("Готово: Zorvik App обновлён, разрешение на установку APK выдано."));
        QCOMPARE(driver.badge(), QStringLiteral("●  УСТАНОВКА ЗАВЕРШЕНА — МОЖНО ЗАКРЫТЬ"));
        QCOMPARE(driver.info("installed"), QStringLiteral("Установлен успешно"));
        QCOMPARE(driver.steps(), kDoneSteps);
    } else {
        QCOMPARE(driver.log(), QStringLiteral("Найдено устройств: 2. Выполнена только read-only диагностика."));
        QCOMPARE(driver.info("installed"), QStringLiteral("Не установлен"));
        QCOMPARE(driver.steps(), kFoundSteps);
    }
    const QList<QStringList> changing = deviceChangingCalls(driver.adb.calls());
    QCOMPARE(changing.size(), 3);
    for (const QStringList &call : changing)
        QCOMPARE(call.at(1), QStringLiteral("S1"));
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
