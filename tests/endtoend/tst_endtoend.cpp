// The installer end to end: its own window and AppDelegate, the real adb in the resource
// directory, and simulated head units (headunit-sim) that the real adb takes for cars.
// Every test function has its own adb server, so nothing here touches the default server
// on 5037, and cleanup() checks that the server and the units are gone afterwards.

#include "apkcheck.h"
#include "expecteddigest.h"
#include "installerdriver.h"
#include "simharness.h"

#include <QDeadlineTimer>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

namespace {

const QString kPackage = QStringLiteral("ru.zorvik.store");
const QString kContinue = QStringLiteral("Продолжить");

// The unit's service log reduced to "program: outcome" per request, e.g. "wm: exit 0",
// "cmd: install success", "appops: exit 255".
QStringList requests(const SimulatedUnit &unit)
{
    QStringList seen;
    const QList<QJsonObject> entries = unit.logEntries();
    for (const QJsonObject &entry : entries)
        seen << entry.value(QStringLiteral("argv")).toArray().at(0).toString() + QStringLiteral(": ")
                    + entry.value(QStringLiteral("outcome")).toString();
    return seen;
}

// Only what the install job sent, in order: the scan's read-only probes are left out
// ("pm: exit N" is `pm path`; an older unit's `pm install` logs an install outcome).
QStringList changingRequests(const SimulatedUnit &unit)
{
    QStringList changing;
    const QStringList all = requests(unit);
    for (const QString &request : all) {
        if (!request.startsWith(QLatin1String("getprop:")) && !request.startsWith(QLatin1String("wm:"))
            && !request.startsWith(QLatin1String("pm: exit")))
            changing << request;
    }
    return changing;
}

// The unit's installs, streamed or from a pushed file; pushes alone are not installs.
QList<QJsonObject> installRecords(const SimulatedUnit &unit)
{
    QList<QJsonObject> installs;
    const QList<QJsonObject> entries = unit.logEntries();
    for (const QJsonObject &entry : entries) {
        if (entry.value(QStringLiteral("outcome")).toString().startsWith(QLatin1String("install ")))
            installs << entry;
    }
    return installs;
}

// What an older unit's push install sends before the permission and the launch.
QStringList pushInstall(const char *outcome)
{
    return {QStringLiteral("STAT: absent"), QStringLiteral("SEND: pushed"),
            QStringLiteral("pm: install ") + QLatin1String(outcome), QStringLiteral("rm: exit 0")};
}

// adb's output as the log view shows it, up to what differs between two runs: a
// terminal's CR LF is one line break there, and the push line's speed and time vary.
QString comparable(QString adbOutput)
{
    static const QRegularExpression timing(QStringLiteral("[0-9.]+ MB/s \\(([0-9]+) bytes in [0-9.]+s\\)"));
    return adbOutput.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(timing, QStringLiteral("MB/s (\\1 bytes)"));
}

// Serials in the order "adb devices" of this sandbox lists them.
QStringList listedSerials(const AdbServerSandbox &adb)
{
    QStringList serials;
    const QStringList lines = adb.runAdb({QStringLiteral("devices")}).output.split(u'\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList fields = lines.at(i).split(u'\t');
        if (fields.size() == 2)
            serials << fields.at(0);
    }
    return serials;
}

QStringList successSteps()
{
    return {QStringLiteral("✓   Найдём экран"), QStringLiteral("✓   Проверим систему"),
            QStringLiteral("✓   Установим Zorvik App")};
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void launchShowsTheUnit_data();
    void launchShowsTheUnit();
    void wholeRoadOfOneInstall_data();
    void wholeRoadOfOneInstall();
    void failedRoads_data();
    void failedRoads();
    void refreshDuringInstall();
    void unauthorizedUnit();
    void twoUnitsInstallGoesToTheChosenOne();

private:
    // Puts the real adb in place of the fake script, then launches the installer.
    void launchOnRealAdb(InstallerDriver &driver);
    // Starts a unit, connects it to the sandbox's server and waits until it is listed in
    // `state`. The unit and the server are noted for cleanup()'s check.
    void attach(const AdbServerSandbox &adb, const SimulatedUnit &unit, const QString &state);
    // Presses install, answers "Продолжить" and waits for the install job to come back.
    void install(InstallerDriver &driver);

    QList<quint16> m_serverPorts;
    QList<qint64> m_unitProcesses;
};

void TestEndToEnd::init()
{
    // A unit that crashes or reports a sanitizer error fails the test that ran it.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^headunit-sim .*did not end cleanly")));
    m_serverPorts.clear();
    m_unitProcesses.clear();
}

void TestEndToEnd::cleanup()
{
    // By now the test's sandbox and units are destroyed: their adb server and the unit
    // processes must be gone, or the next run (and CI) inherits them.
    for (const quint16 port : std::as_const(m_serverPorts)) {
        QDeadlineTimer deadline(5000);
        while (!AdbServerSandbox::adbProcesses(port).isEmpty() && !deadline.hasExpired())
            QThread::msleep(20);
        QVERIFY2(AdbServerSandbox::adbProcesses(port).isEmpty(),
                 qPrintable(QStringLiteral("adb server on port %1 still runs").arg(port)));
    }
    for (const qint64 pid : std::as_const(m_unitProcesses))
        QVERIFY2(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)),
                 qPrintable(QStringLiteral("headunit-sim %1 still runs").arg(pid)));
}

void TestEndToEnd::launchOnRealAdb(InstallerDriver &driver)
{
    const QString carried = QDir(driver.adb.resourceDir()).filePath(QStringLiteral("adb"));
    QVERIFY(QFile::remove(carried));
    QVERIFY(QFile::link(AdbServerSandbox::adbPath(), carried));
    driver.launch();
}

void TestEndToEnd::attach(const AdbServerSandbox &adb, const SimulatedUnit &unit, const QString &state)
{
    m_serverPorts << adb.serverPort();
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    m_unitProcesses << unit.processId();
    QVERIFY(unit.port() < 5555 || unit.port() > 5585);
    // An unauthorized unit makes "adb connect" say "failed to authenticate"; the listing
    // below is what counts.
    const AdbResult connected = adb.runAdb({QStringLiteral("connect"), unit.serial()});
    QVERIFY2(adb.waitForState(unit.serial(), state), qPrintable(connected.output));
}

void TestEndToEnd::install(InstallerDriver &driver)
{
    QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);
    const QList<InstallerDriver::Alert> alerts = driver.pressInstall(kContinue);
    QCOMPARE(alerts.size(), 1);
    QVERIFY(alerts.at(0).text.endsWith(QStringLiteral(" Zorvik App?")));
    QCOMPARE(driver.log(), QStringLiteral("Устанавливаем Zorvik App…"));
    QVERIFY(done.wait(60000));
}

void TestEndToEnd::launchShowsTheUnit_data()
{
    QTest::addColumn<QJsonObject>("profile");
    QTest::addColumn<QStringList>("info"); // model, android, build, screen, installed
    QTest::addColumn<QString>("installTitle");

    QTest::newRow("Li Auto unit as it ships")
        << QJsonObject{}
        << QStringList{"LI_AUTO Li Auto HU 8155", "Android 11  ·  API 30",
                       "LI_HU_V5.2.1_20240315_user", "1920x720  ·  160 dpi", "Не установлен"}
        << QStringLiteral("Установить Zorvik App");
    // The overrides are the values in effect: the last line of "wm size" / "wm density".
    QTest::newRow("updated unit with screen overrides")
        << QJsonObject{{"release", "12"}, {"sdk", 32}, {"buildId", "LI_HU_V6.0.0_user"},
                       {"sizeOverride", "1280x480"}, {"densityOverride", 120}, {"installed", true}}
        << QStringList{"LI_AUTO Li Auto HU 8155", "Android 12  ·  API 32", "LI_HU_V6.0.0_user",
                       "1280x480  ·  120 dpi", "Установлен — будет обновлён"}
        << QStringLiteral("Обновить Zorvik App");
    // Its old shell service runs on a terminal: every answer ends in CR LF.
    QTest::newRow("Android 6 unit without shell_v2")
        << QJsonObject{{"legacy", true}, {"release", "6.0.1"}, {"sdk", 23}, {"installed", true}}
        << QStringList{"LI_AUTO Li Auto HU 8155", "Android 6.0.1  ·  API 23",
                       "LI_HU_V5.2.1_20240315_user", "1920x720  ·  160 dpi", "Установлен — будет обновлён"}
        << QStringLiteral("Обновить Zorvik App");
}

void TestEndToEnd::launchShowsTheUnit()
{
    QFETCH(QJsonObject, profile);
    QFETCH(QStringList, info);
    QFETCH(QString, installTitle);

    AdbServerSandbox adb;
    SimulatedUnit unit(profile);
    attach(adb, unit, QStringLiteral("device"));
    InstallerDriver driver;
    launchOnRealAdb(driver);

    QCOMPARE(driver.popupItems(), QStringList{QStringLiteral("LI_AUTO Li Auto HU 8155  ·  ") + unit.serial()});
    QCOMPARE(driver.badge(), QStringLiteral("●  МУЛЬТИМЕДИА LI AUTO ГОТОВА"));
    QCOMPARE(driver.log(), QStringLiteral("Найдено устройств: 1. Выполнена только read-only диагностика."));
    QStringList shown;
    for (const char *key : {"model", "android", "build", "screen", "installed"})
        shown << driver.info(QString::fromLatin1(key));
    QCOMPARE(shown, info);
    QCOMPARE(driver.installButton()->text(), installTitle);
    QVERIFY(driver.installButton()->isEnabled());
    // The scan only read: five properties, two wm queries and pm path, nothing else.
    QCOMPARE(changingRequests(unit), QStringList());
    QCOMPARE(requests(unit).size(), 8);
}

void TestEndToEnd::wholeRoadOfOneInstall_data()
{
    QTest::addColumn<QJsonObject>("profile");
    QTest::addColumn<QStringList>("sent"); // what reached the unit after the scan

    QTest::newRow("streamed install")
        << QJsonObject{} << QStringList{"cmd: install success", "appops: exit 0", "monkey: exit 0"};
    QTest::newRow("older unit, push install")
        << QJsonObject{{"legacy", true}}
        << pushInstall("success") + QStringList{"appops: exit 0", "monkey: exit 0"};
}

void TestEndToEnd::wholeRoadOfOneInstall()
{
    QFETCH(QJsonObject, profile);
    QFETCH(QStringList, sent);

    AdbServerSandbox adb;
    SimulatedUnit unit(profile);
    attach(adb, unit, QStringLiteral("device"));
    InstallerDriver driver;
    launchOnRealAdb(driver);
    QCOMPARE(driver.badge(), QStringLiteral("●  МУЛЬТИМЕДИА LI AUTO ГОТОВА"));
    QCOMPARE(driver.info(QStringLiteral("installed")), QStringLiteral("Не установлен"));

    QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);
    const QList<InstallerDriver::Alert> alerts = driver.pressInstall(kContinue);
    QCOMPARE(alerts.size(), 1);
    QCOMPARE(alerts.at(0).text, QStringLiteral("Установить Zorvik App?"));
    QVERIFY(done.wait(60000));

    // The unit got the carried APK byte for byte, then the permission, then the launch.
    const QList<QJsonObject> installs = installRecords(unit);
    QCOMPARE(installs.size(), 1);
    const QString received = installs.at(0).value(QStringLiteral("sha256")).toString();
    QCOMPARE(received, QStringLiteral(ZORVIK_EXPECTED_APK_SHA256));
    QCOMPARE(std::optional<QString>(received), install::fileSha256(driver.apkFile()));
    QCOMPARE(installs.at(0).value(QStringLiteral("size")).toInteger(), QFileInfo(driver.apkFile()).size());
    QCOMPARE(changingRequests(unit), sent);
    const QList<QJsonObject> entries = unit.logEntries();
    QCOMPARE(entries.at(entries.size() - 2).value(QStringLiteral("command")).toString(),
             QStringLiteral("appops set ru.zorvik.store REQUEST_INSTALL_PACKAGES allow"));
    QCOMPARE(entries.last().value(QStringLiteral("launched")).toString(), kPackage);

    QCOMPARE(driver.log(), QStringLiteral("Готово: Zorvik App обновлён, разрешение на установку APK выдано."));
    QCOMPARE(driver.badge(), QStringLiteral("●  УСТАНОВКА ЗАВЕРШЕНА — МОЖНО ЗАКРЫТЬ"));
    QCOMPARE(driver.installButton()->text(), QStringLiteral("Готово — закрыть установщик"));
    QVERIFY(driver.installButton()->isEnabled());
    QCOMPARE(driver.steps(), successSteps());
    QCOMPARE(driver.info(QStringLiteral("installed")), QStringLiteral("Установлен успешно"));
    QVERIFY(!driver.progressRunning());

    // The unit itself now reports the app; a new scan sees it.
    driver.refresh();
    QCOMPARE(driver.info(QStringLiteral("installed")), QStringLiteral("Установлен — будет обновлён"));
}

void TestEndToEnd::failedRoads_data()
{
    QTest::addColumn<QJsonObject>("profile");
    QTest::addColumn<QStringList>("sent");        // what reached the unit after the scan
    QTest::addColumn<QString>("logHead");
    QTest::addColumn<QString>("failureAnswer");   // in adb's own output after logHead
    QTest::addColumn<QStringList>("rerun");        // the failing command, run again by hand
    QTest::addColumn<int>("rerunStatus");          // adb's status for it
    QTest::addColumn<QString>("badge");
    QTest::addColumn<QString>("buttonTitle");

    const QString incompatible = QStringLiteral(
        "INSTALL_FAILED_UPDATE_INCOMPATIBLE: Package ru.zorvik.store signatures do not match "
        "previously installed version; ignoring!");
    QTest::newRow("install refused")
        << QJsonObject{{"installed", true}, {"installFailure", incompatible}}
        << QStringList{"cmd: install failure"} << QStringLiteral("Ошибка установки:\n")
        << QStringLiteral("Failure [%1]").arg(incompatible)
        << QStringList{"install", "-r", "APK"} << 1
        << QStringLiteral("●  УСТАНОВКА НЕ ВЫПОЛНЕНА") << QStringLiteral("Обновить Zorvik App");
    const QStringList appops{"shell", "appops", "set", "ru.zorvik.store", "REQUEST_INSTALL_PACKAGES", "allow"};
    // The package is on the unit, so the app is still started.
    QTest::newRow("permission refused")
        << QJsonObject{{"appopsFailure", true}}
        << QStringList{"cmd: install success", "appops: exit 255", "monkey: exit 0"}
        << QStringLiteral("Zorvik App обновлён, но разрешение на установку APK не выдано:\n")
        << QStringLiteral("SecurityException") << appops << 255
        << QStringLiteral("●  УСТАНОВКА ЗАВЕРШЕНА — МОЖНО ЗАКРЫТЬ")
        << QStringLiteral("Готово — закрыть установщик");
    // An older unit's refusals come with status 0: only the words tell.
    QTest::newRow("older unit: install refused")
        << QJsonObject{{"legacy", true}, {"installed", true}, {"installFailure", incompatible}}
        << pushInstall("failure") << QStringLiteral("Ошибка установки:\n")
        << QStringLiteral("Failure [%1]").arg(incompatible) << QStringList{"install", "-r", "APK"} << 0
        << QStringLiteral("●  УСТАНОВКА НЕ ВЫПОЛНЕНА") << QStringLiteral("Обновить Zorvik App");
    QTest::newRow("older unit: permission refused")
        << QJsonObject{{"legacy", true}, {"appopsFailure", true}}
        << pushInstall("success") + QStringList{"appops: exit 255", "monkey: exit 0"}
        << QStringLiteral("Zorvik App обновлён, но разрешение на установку APK не выдано:\n")
        << QStringLiteral("Error: Unknown operation string: REQUEST_INSTALL_PACKAGES") << appops << 0
        << QStringLiteral("●  УСТАНОВКА ЗАВЕРШЕНА — МОЖНО ЗАКРЫТЬ")
        << QStringLiteral("Готово — закрыть установщик");
}

void TestEndToEnd::failedRoads()
{
    QFETCH(QJsonObject, profile);
    QFETCH(QStringList, sent);
    QFETCH(QString, logHead);
    QFETCH(QString, failureAnswer);
    QFETCH(QStringList, rerun);
    QFETCH(int, rerunStatus);
    QFETCH(QString, badge);
    QFETCH(QString, buttonTitle);

    AdbServerSandbox adb;
    SimulatedUnit unit(profile);
    attach(adb, unit, QStringLiteral("device"));
    InstallerDriver driver;
    launchOnRealAdb(driver);
    install(driver);

    QCOMPARE(changingRequests(unit), sent);
    QCOMPARE(driver.badge(), badge);
    QCOMPARE(driver.installButton()->text(), buttonTitle);
    QVERIFY(driver.installButton()->isEnabled());

    // The log shows adb's answer whole, exactly as adb prints it for the same command.
    const QString shown = driver.log();
    QVERIFY2(shown.startsWith(logHead), qPrintable(shown));
    QVERIFY2(shown.contains(failureAnswer), qPrintable(shown));
    rerun.replaceInStrings(QStringLiteral("APK"), driver.apkFile());
    const AdbResult again = adb.runAdb(QStringList{QStringLiteral("-s"), unit.serial()} + rerun);
    QCOMPARE(again.exitCode, rerunStatus);
    QCOMPARE(comparable(shown), logHead + comparable(again.output));
}

void TestEndToEnd::refreshDuringInstall()
{
    // The install's answer waits long enough for a whole scan to run and end meanwhile.
    AdbServerSandbox adb;
    SimulatedUnit unit({{"installDelayMs", 4000}});
    attach(adb, unit, QStringLiteral("device"));
    InstallerDriver driver;
    launchOnRealAdb(driver);

    QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);
    QCOMPARE(driver.pressInstall(kContinue).size(), 1);
    driver.refresh();
    QVERIFY2(done.isEmpty(), "the install ended before the scan: nothing was tested");
    QCOMPARE(driver.popupItems(), QStringList{QStringLiteral("LI_AUTO Li Auto HU 8155  ·  ") + unit.serial()});
    QVERIFY(!driver.installButton()->isEnabled());
    QVERIFY(!driver.popup()->isEnabled());
    QVERIFY(driver.progressRunning());
    QCOMPARE(driver.log(), QStringLiteral("Устанавливаем Zorvik App…"));

    QVERIFY(done.wait(60000));
    QCOMPARE(driver.log(), QStringLiteral("Готово: Zorvik App обновлён, разрешение на установку APK выдано."));
    QCOMPARE(driver.badge(), QStringLiteral("●  УСТАНОВКА ЗАВЕРШЕНА — МОЖНО ЗАКРЫТЬ"));
    QCOMPARE(driver.installButton()->text(), QStringLiteral("Готово — закрыть установщик"));
    QVERIFY(driver.installButton()->isEnabled());
    QVERIFY(!driver.progressRunning());
    QCOMPARE(changingRequests(unit), QStringList({"cmd: install success", "appops: exit 0", "monkey: exit 0"}));
    // Two whole scans: the launch and the refresh.
    QCOMPARE(requests(unit).size(), 2 * 8 + 3);
}

void TestEndToEnd::unauthorizedUnit()
{
    AdbServerSandbox adb;
    SimulatedUnit unit({{"unauthorized", true}});
    attach(adb, unit, QStringLiteral("unauthorized"));
    InstallerDriver driver;
    launchOnRealAdb(driver);

    QCOMPARE(driver.popupItems(), QStringList{QStringLiteral("Нужно подтвердить USB-отладку")});
    QCOMPARE(driver.badge(), QStringLiteral("●  ОЖИДАЕТСЯ ПОДТВЕРЖДЕНИЕ"));
    QCOMPARE(driver.log(), QStringLiteral("Подключите кабель и подтвердите запрос RSA на экране автомобиля."));
    QVERIFY(!driver.installButton()->isEnabled());
    QCOMPARE(driver.info(QStringLiteral("model")), QStringLiteral("—"));
    // Nothing was asked of a unit that has not allowed debugging.
    QCOMPARE(unit.logEntries().size(), 0);
}

void TestEndToEnd::twoUnitsInstallGoesToTheChosenOne()
{
    AdbServerSandbox adb;
    SimulatedUnit first({{"model", "HU_L7"}, {"buildId", "FIRST_BUILD"}});
    SimulatedUnit second({{"model", "HU_L9"}, {"buildId", "SECOND_BUILD"}});
    // Connecting in the opposite of listing order keeps the check honest: the window must
    // follow adb's listing, not the order in which the units came up.
    const bool firstListsFirst = first.serial() < second.serial();
    attach(adb, firstListsFirst ? second : first, QStringLiteral("device"));
    attach(adb, firstListsFirst ? first : second, QStringLiteral("device"));
    const QStringList listing = listedSerials(adb);
    QCOMPARE(listing.size(), 2);
    const SimulatedUnit &listedFirst = listing.at(0) == first.serial() ? first : second;
    const SimulatedUnit &listedSecond = listing.at(0) == first.serial() ? second : first;
    QCOMPARE(listing.at(1), listedSecond.serial());
    const auto title = [](const SimulatedUnit &unit, const char *model) {
        return QStringLiteral("LI_AUTO %1  ·  %2").arg(QLatin1String(model), unit.serial());
    };
    const bool firstIsFirst = &listedFirst == &first;

    InstallerDriver driver;
    launchOnRealAdb(driver);
    QCOMPARE(driver.popupItems(),
             QStringList({title(listedFirst, firstIsFirst ? "HU_L7" : "HU_L9"),
                          title(listedSecond, firstIsFirst ? "HU_L9" : "HU_L7")}));
    QCOMPARE(driver.log(), QStringLiteral("Найдено устройств: 2. Выполнена только read-only диагностика."));

    driver.chooseDevice(1);
    QCOMPARE(driver.info(QStringLiteral("build")),
             firstIsFirst ? QStringLiteral("SECOND_BUILD") : QStringLiteral("FIRST_BUILD"));
    install(driver);

    QCOMPARE(driver.log(), QStringLiteral("Готово: Zorvik App обновлён, разрешение на установку APK выдано."));
    QCOMPARE(changingRequests(listedSecond),
             QStringList({"cmd: install success", "appops: exit 0", "monkey: exit 0"}));
    QCOMPARE(changingRequests(listedFirst), QStringList());
    QCOMPARE(installRecords(listedSecond).at(0).value(QStringLiteral("sha256")).toString(),
             QStringLiteral(ZORVIK_EXPECTED_APK_SHA256));
    // Both were diagnosed, one request per probe.
    QCOMPARE(requests(listedFirst).size(), 8);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
