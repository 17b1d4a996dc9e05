// The installer end to end: its own window and AppDelegate, the real adb in the resource
// directory, and simulated head units (tools/headunit-sim) that the real adb takes for cars.
// Every test function runs an adb server of its own, never the user's on 5037.
// The simulator is tested only through these roads: its codecs carry every one of them.

#include "devicewatcher.h"
#include "expecteddigest.h"
#include "installerdriver.h"
#include "networkunit.h"
#include "simharness.h"
#include "windowtexts.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

namespace {

// What the unit was asked after the scan's read-only probes, as "program: outcome"
// ("pm: exit N" is `pm path`; an older unit's `pm install` logs an install outcome), with the
// digest of what it received: "APK" when that was the carried APK byte for byte.
QStringList changingRequests(const SimulatedUnit &unit)
{
    QStringList changing;
    for (const QJsonObject &entry : unit.logEntries()) {
        const QString request = entry.value("argv").toArray().at(0).toString() + ": " + entry.value("outcome").toString();
        const QString received = entry.value("sha256").toString().replace(ZORVIK_EXPECTED_APK_SHA256, "APK");
        if (!request.startsWith("getprop:") && !request.startsWith("wm:") && !request.startsWith("pm: exit"))
            changing << (received.isEmpty() ? request : request + " " + received);
    }
    return changing;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QTest::failOnWarning("headunit-sim did not end cleanly on SIGTERM");
        QTest::failOnWarning("an adb server outlived its sandbox");
        QTest::failOnWarning("adb commands still ran when their server was to end");
    }
    void roads_data();
    void roads();
    void followsTheCable_data();
    void followsTheCable();
    void wifi_data();
    void wifi();
    void pairByCode();
};

void TestEndToEnd::roads_data()
{
    QTest::addColumn<QJsonObject>("profile"); // "brokenAdb": what the carried adb prints before it exits 127
    QTest::addColumn<bool>("twoUnits");       // two alike, the second one listed chosen
    QTest::addColumn<QString>("shown");       // the window after the launch, SERIAL for the unit's
    QTest::addColumn<QStringList>("sent");    // what the install sent after the scan; none: no install
    QTest::addColumn<QStringList>("outcome"); // the log's head, adb's words in it, the badge; or the scan's log

    const QString item = QStringLiteral("LI_AUTO Li Auto HU 8155  ·  SERIAL");
    const QString ships = item + " | ●  МУЛЬТИМЕДИА LI AUTO ГОТОВА | "
        "LI_AUTO Li Auto HU 8155 | Android 11  ·  API 30 | LI_HU_V5.2.1_20240315_user | 1920x720  ·  160 dpi | ";
    const QString fresh = ships + "Не установлен | Установить Zorvik App";
    // The car has updated its app past the carried one.
    const QString downgrade = QStringLiteral("INSTALL_FAILED_VERSION_DOWNGRADE: Downgrade detected: Update version code 1 is older than current 7");
    const QString doneBadge = QStringLiteral("●  УСТАНОВКА ЗАВЕРШЕНА — МОЖНО ЗАКРЫТЬ");
    const QStringList done{"Готово: Zorvik App обновлён, разрешение на установку APK выдано.", "", doneBadge};
    const QStringList streamedInstall{"cmd: install success APK", "appops: exit 0", "monkey: exit 0"};
    const QString partly = QStringLiteral("Zorvik App обновлён, но разрешение на установку APK не выдано:\n");
    const QStringList appopsRefused{"appops: exit 255", "monkey: exit 0"};
    // What an older unit's push install sends before the permission and the launch.
    const auto pushInstall = [](const QString &outcome) {
        return QStringList{"STAT: absent", "SEND: pushed APK", "pm: install " + outcome + " APK", "rm: exit 0"};
    };

    QTest::newRow("two units") << QJsonObject{} << true << item + ", " + fresh << streamedInstall << done;
    // The install's answer waits long enough for a whole scan to run and end meanwhile.
    QTest::newRow("refresh during the install")
        << QJsonObject{{"installDelayMs", 4000}} << false << fresh << streamedInstall << done;
    // The package is on the unit, so the app is still started.
    QTest::newRow("permission refused") << QJsonObject{{"appopsFailure", true}} << false << fresh
        << QStringList{"cmd: install success APK"} + appopsRefused
        << QStringList{partly, "SecurityException", doneBadge};
    // Its old shell service runs on a terminal, so every answer ends in CR LF, and its refusals
    // come with exit status 0: only the words tell.
    QTest::newRow("Android 6 unit refuses the permission")
        << QJsonObject{{"legacy", true}, {"release", "6.0.1"}, {"sdk", 23}, {"appopsFailure", true}}
        << false << QString(fresh).replace("Android 11  ·  API 30", "Android 6.0.1  ·  API 23")
        << pushInstall("success") + appopsRefused
        << QStringList{partly + "На Android 7 и более ранних версиях это разрешение не нужно", "«Неизвестные источники» в "
                       "настройках безопасности автомобиля.\n\nError: Unknown operation string: REQUEST_INSTALL_PACKAGES", doneBadge};
    QTest::newRow("older unit has a newer app")
        << QJsonObject{{"legacy", true}, {"installed", true}, {"installFailure", downgrade}} << false
        << ships + "Установлен — будет обновлён | Обновить Zorvik App" << pushInstall("failure")
        << QStringList{"Ошибка установки:\nНа автомобиле уже стоит более новая версия Zorvik App. Обновлять её не нужно.\n\n"
                       "Performing Push Install", "Failure [" + downgrade + "]", "●  УСТАНОВКА НЕ ВЫПОЛНЕНА"};
    const QString noLoad = "adb: error while loading shared libraries: libusb-1.0.so.0: cannot open shared object file";
    QTest::newRow("carried adb can't load") << QJsonObject{{"brokenAdb", noLoad}} << false
        << "Устройство не найдено | ●  ПОДКЛЮЧИТЕ АВТОМОБИЛЬ | — | — | — | — | — | off" << QStringList()
        << QStringList{"Не удалось запустить adb из установщика:\n" + noLoad + "\nПереустановите установщик"};
}

void TestEndToEnd::roads()
{
    QFETCH(QJsonObject, profile);
    QFETCH(bool, twoUnits);
    QFETCH(QString, shown);
    QFETCH(QStringList, sent);
    QFETCH(QStringList, outcome);

    const QString brokenAdb = profile.take("brokenAdb").toString();
    AdbServerSandbox adb;
    SimulatedUnit unit(profile);
    SimulatedUnit twin(profile); // listed beside it on the two-unit road only
    QVERIFY(adb.attach(unit) && (!twoUnits || adb.attach(twin)));
    InstallerDriver driver;
    // The real adb goes where the installer carries its own, except on the broken-adb road,
    // where the fake stays and answers everything as a loader that failed.
    driver.adb.setFallbackScript("echo '" + brokenAdb + "' >&2; exit 127");
    QVERIFY(!brokenAdb.isEmpty() || driver.carryAdb(ZORVIK_REAL_ADB));
    driver.launch();
    QStringList seen{driver.popupItems().join(", "), driver.badge()};
    for (const char *key : {"model", "android", "build", "screen", "installed"})
        seen << driver.info(key);
    seen << (driver.installButton()->isEnabled() ? driver.installButton()->text() : "off");
    QCOMPARE(seen.join(" | ").replace(unit.serial(), "SERIAL").replace(twin.serial(), "SERIAL"), shown);
    QVERIFY2(!sent.isEmpty() || driver.log().startsWith(outcome.at(0)), qPrintable(driver.log()));
    if (sent.isEmpty())
        return;
    // adb lists the units in an order of its own; the second one listed is chosen.
    if (twoUnits)
        driver.chooseDevice(1);
    const bool twinChosen = twoUnits && driver.popupItems().at(1).endsWith(twin.serial());
    const SimulatedUnit &chosen = twinChosen ? twin : unit;

    // The question asks for what the button offers: to install, or to update.
    const QString question = driver.installButton()->text() + "?";
    QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);
    QCOMPARE(driver.pressInstall("Продолжить").value(0), question);
    const bool refreshMeanwhile = profile.contains("installDelayMs");
    if (refreshMeanwhile) {
        driver.refresh();
        QVERIFY2(done.isEmpty(), "the install ended before the scan: nothing was tested");
        QVERIFY(!driver.installButton()->isEnabled());
    }
    QVERIFY(done.wait(60000));
    QCOMPARE(changingRequests(chosen), sent);
    QCOMPARE(changingRequests(twinChosen ? unit : twin), QStringList());
    // A scan reads five properties, two wm answers and pm path.
    QCOMPARE(chosen.logEntries().size(), (refreshMeanwhile ? 2 : 1) * 8 + sent.size());
    QVERIFY2(driver.log().startsWith(outcome.at(0)) && driver.log().contains(outcome.at(1)), qPrintable(driver.log()));
    QCOMPARE(driver.badge(), outcome.at(2));
    // A scan during the install found the app missing; the install's outcome stands over it.
    QCOMPARE(driver.info("installed") == "Установлен успешно", outcome.at(2) == "●  УСТАНОВКА ЗАВЕРШЕНА — МОЖНО ЗАКРЫТЬ");
}

// The window follows the real adb's listing with nobody pressing «Обновить».
void TestEndToEnd::followsTheCable_data()
{
    QTest::addColumn<QJsonObject>("profile");
    QTest::addColumn<int>("atLaunch");      // units attached before the launch
    QTest::addColumn<QString>("road");
    QTest::addColumn<QString>("badge");     // at the end

    const QString ready = QStringLiteral("●  МУЛЬТИМЕДИА LI AUTO ГОТОВА");
    QTest::newRow("connected after the launch") << QJsonObject{} << 0 << "connect" << ready;
    QTest::newRow("asks for authorization, then Allow") << QJsonObject{{"unauthorized", true}} << 0 << "allow" << ready;
    QTest::newRow("disconnected") << QJsonObject{} << 1 << "disconnect" << "●  ПОДКЛЮЧИТЕ АВТОМОБИЛЬ";
    QTest::newRow("second unit chosen, a third connected") << QJsonObject{} << 2 << "third" << ready;
    // adb 29 waits "- waiting for device -" for ever once the older unit has gone mid-install.
    QTest::newRow("older unit lost for good while pm runs")
        << QJsonObject{{"legacy", true}, {"installDelayMs", 60000}} << 1 << "lost" << "●  СВЯЗЬ С АВТОМОБИЛЕМ ПОТЕРЯНА";
}

void TestEndToEnd::followsTheCable()
{
    QFETCH(QJsonObject, profile);
    QFETCH(int, atLaunch);
    QFETCH(QString, road);
    QFETCH(QString, badge);

    AdbServerSandbox adb;
    SimulatedUnit first(profile), second(profile), third(profile);
    QVERIFY((atLaunch < 1 || adb.attach(first)) && (atLaunch < 2 || adb.attach(second)));
    InstallerDriver driver(true, std::nullopt, watching(3000));
    QVERIFY(driver.carryAdb(ZORVIK_REAL_ADB));
    driver.launch();
    QTRY_VERIFY(driver.app->findChild<adb::DeviceWatcher *>());
    const auto adbSays = [&](const QStringList &arguments) { return adb.runAdb(arguments).output; };

    QString shown = first.serial();
    if (road == "connect") {
        QVERIFY(adb.attach(first));
    } else if (road == "allow") {
        QVERIFY(adb.attach(first));
        QTRY_COMPARE_WITH_TIMEOUT(driver.badge(), "●  ОЖИДАЕТСЯ ПОДТВЕРЖДЕНИЕ", 10000);
        QVERIFY(first.allow());
    } else if (road == "disconnect") {
        QVERIFY(adbSays({"disconnect", first.serial()}).startsWith("disconnected"));
        shown = kNoValue;
    } else if (road == "third") {
        driver.chooseDevice(1);
        shown = driver.popup()->currentText().section("  ·  ", 1);
        QVERIFY(adb.attach(third));
        QTRY_COMPARE_WITH_TIMEOUT(driver.popupItems().size(), 3, 10000);
    } else if (road == "lost") {
        QCOMPARE(driver.pressInstall("Продолжить").size(), 1);
        // Once the APK is pushed, pm runs; then the unit goes for good.
        QTRY_VERIFY_WITH_TIMEOUT(changingRequests(first).contains("SEND: pushed APK"), 20000);
        QTest::qWait(500);
        QVERIFY(adbSays({"disconnect", first.serial()}).startsWith("disconnected"));
        QTRY_VERIFY_WITH_TIMEOUT(!driver.progressRunning(), 20000);
        QVERIFY2(driver.log().startsWith("Связь с автомобилем потеряна во время установки."), qPrintable(driver.log()));
        const QString asked = changingRequests(first).join(u' ');
        QVERIFY2(!asked.contains("appops") && !asked.contains("monkey"), qPrintable(asked));
    }
    QTRY_COMPARE_WITH_TIMEOUT(driver.badge(), badge, 15000);
    if (road != "lost") {
        QTRY_VERIFY_WITH_TIMEOUT(driver.popup()->currentText().endsWith(shown) || shown == kNoValue, 10000);
        QCOMPARE(driver.info("model"), shown == kNoValue ? kNoValue : "LI_AUTO Li Auto HU 8155");
        QCOMPARE(driver.info("installed") == kNoValue, shown == kNoValue);
        // The steps follow every scan, the automatic ones too.
        const QStringList steps = shown == kNoValue ? QStringList{"1   Найдём экран", "2   Проверим систему"} : expected::kFoundSteps.mid(0, 2);
        QCOMPARE(driver.steps().mid(0, 2), steps);
        QVERIFY(!driver.progressRunning() && driver.installButton()->isEnabled() == (shown != kNoValue));
    }
}

// A unit reached by its address, typed into the dialog as a person would.
void TestEndToEnd::wifi_data()
{
    QTest::addColumn<QString>("unit");      // "sim", "asks" (authorization), "dropped" link, "closed" port, "silent" listener
    QTest::addColumn<QString>("log");       // its head, PORT for the port; none: the unit is shown

    const QString sorry = QStringLiteral("Не удалось подключиться к 127.0.0.1:PORT:\n");
    QTest::newRow("the simulator, then remembered at the next launch") << "sim" << "";
    QTest::newRow("asks for authorization, asked twice, then remembered") << "asks"
        << "Подтвердите отладку на экране автомобиля. Когда вы нажмёте «Разрешить», автомобиль появится в списке сам.";
    QTest::newRow("the simulator, then its link dropped") << "dropped" << "";
    QTest::newRow("closed port") << "closed" << sorry + "Автомобиль не принимает подключения на этом порту.";
    // adb gives up on it after 10 s; the limit here is shorter, so the limit ends it.
    QTest::newRow("listener that never answers") << "silent" << "Нет ответа от 127.0.0.1:PORT за 15 секунд.";
}

void TestEndToEnd::wifi()
{
    QFETCH(QString, unit);
    QFETCH(QString, log);

    AdbServerSandbox adb;
    std::optional<SimulatedUnit> car(std::in_place, unit == "asks" ? QJsonObject{{"unauthorized", true}} : QJsonObject{});
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    const bool reachable = unit == "sim" || unit == "asks" || unit == "dropped";
    const quint16 port = reachable ? car->serial().section(':', 1).toUShort() : listener.serverPort();
    if (unit == "closed")
        listener.close();
    const QString address = QStringLiteral("127.0.0.1:%1").arg(port);
    const auto expandedLog = [&] { return QString(log).replace("PORT", QString::number(port)); };
    AppDelegate::TestSetup setup = watching();
    setup.timing.connectMs = 3000;
    const auto launched = [&] {
        auto driver = std::make_unique<InstallerDriver>(true, std::nullopt, setup);
        driver->carryAdb(ZORVIK_REAL_ADB);
        driver->launch();
        return driver;
    };
    const auto remembered = [] {
        return installerSettings().value("wifi/lastAddress");
    };
    installerSettings().remove("wifi/lastAddress");
    std::unique_ptr<InstallerDriver> driver = launched();
    QVERIFY(driver->connectByWifi(address));
    QVERIFY(driver->progressRunning());
    const auto shown = [&] { return driver->popup()->currentText().endsWith(address) && driver->info("model") != kNoValue; };
    if (!log.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(driver->log().startsWith(expandedLog()), 20000);
        QVERIFY(!driver->progressRunning() && driver->child<QPushButton>("wifiButton")->isEnabled());
        if (unit != "asks") {
            QVERIFY2(unit != "closed" || driver->log().contains("\n\nfailed to connect to"), qPrintable(driver->log()));
            QCOMPARE(adb.runAdb({"devices"}).output.contains(address), false);
            return;
        }
        // A second try while the car still asks keeps it asking: adb's "already connected"
        // is no failure, and its entry stays.
        QVERIFY(driver->connectByWifi(address));
        QTRY_VERIFY_WITH_TIMEOUT(!driver->progressRunning(), 20000);
        QCOMPARE(driver->log(), expandedLog());
        QVERIFY(adb.runAdb({"devices"}).output.contains(address + "\tunauthorized"));
        QCOMPARE(remembered(), QVariant());
        QVERIFY(car->allow());
    }
    QTRY_VERIFY_WITH_TIMEOUT(shown(), 15000);
    QCOMPARE(remembered(), address);
    if (unit == "dropped") {
        // The car's Wi-Fi goes: the window says so, and not as a question on the car's screen.
        QElapsedTimer told;
        told.start();
        car.reset();
        QTRY_COMPARE_WITH_TIMEOUT(driver->badge(), "●  НЕТ СВЯЗИ С АВТОМОБИЛЕМ ПО WI-FI", 10000);
        qInfo("the dropped link told after %lld ms", told.elapsed());
        QCOMPARE(driver->log(), "Автомобиль " + address + " не отвечает по сети. Проверьте, что автомобиль и компьютер в "
                                "одной сети Wi-Fi и что на автомобиле включена отладка по сети.");
        // Asked again, the stale entry is cleared and tried afresh: refused, in plain words.
        QVERIFY(driver->connectByWifi(address));
        QTRY_VERIFY_WITH_TIMEOUT(driver->log().startsWith("Не удалось подключиться к " + address + ":\nАвтомобиль не принимает"), 20000);
        QCOMPARE(adb.runAdb({"devices"}).output.contains(address), false);
        return;
    }
    // Remembered, and tried once at the next launch with no click.
    driver.reset();
    QVERIFY(adb.runAdb({"disconnect", address}).output.startsWith("disconnected"));
    driver = launched();
    QTRY_VERIFY_WITH_TIMEOUT(shown(), 15000);
}

// Android 11+ wireless debugging, through the dialog's pairing way: the code from the unit's
// pairing screen, then the connect to its debugging port. The unit asks for "Allow", yet a host
// that paired is let in without it. Needs adb 30 or newer, which only some systems carry
// (scripts/fetch-newer-adb.sh).
void TestEndToEnd::pairByCode()
{
    const QString pairAdb = QStringLiteral(ZORVIK_PAIR_ADB_PATH);
    QProcess version;
    version.start(pairAdb.isEmpty() ? QStringLiteral("/nonexistent") : pairAdb, {"version"});
    version.waitForFinished(10000);
    const QString says = QString::fromUtf8(version.readAllStandardOutput());
    const int major = says.section(QStringLiteral("\nVersion "), 1).section(u'.', 0, 0).toInt();
    const QString adbMissing = (pairAdb.isEmpty() ? QStringLiteral("no adb 30 or newer was found when this was configured")
                                                  : QStringLiteral("%1 is not adb 30 or newer (it says \"%2\")").arg(pairAdb, says.section(u'\n', 1, 1)))
                               + "; run scripts/fetch-newer-adb.sh BUILD_DIR/newer-adb or set ZORVIK_PAIR_ADB, and configure again";
    const QString missing = !HEADUNIT_SIM_CAN_PAIR ? QStringLiteral("headunit-sim was built without BoringSSL (android-libboringssl-dev)")
                            : major < 30           ? adbMissing
                                                   : QString();
    if (!missing.isEmpty() && qgetenv("CI") == "true")
        QFAIL(qPrintable("pairing by code untested: " + missing));
    if (!missing.isEmpty())
        QSKIP(qPrintable("pairing by code untested: " + missing));

    // adb keeps its key and the hosts it paired with under HOME: the installer's adb, and this
    // computer, get a folder of the test's own.
    QTemporaryDir home, otherHome;
    const QByteArray userHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    const auto restoreHome = qScopeGuard([&] { qputenv("HOME", userHome); });
    std::optional<AdbServerSandbox> computer(std::in_place, pairAdb, home.path());
    SimulatedUnit unit(QJsonObject{{"unauthorized", true}}, QStringLiteral("482915"));
    installerSettings().remove("wifi/lastAddress");
    std::optional<InstallerDriver> installer(std::in_place, true, std::nullopt, watching());
    InstallerDriver &driver = *installer;
    QVERIFY(driver.carryAdb(pairAdb));
    driver.launch();

    // adb 34 sends the unit's refusal to its own client as if it were an answer and fails to
    // read it: a wrong code reads as a protocol fault, like a port where nobody pairs.
    QVERIFY(driver.pairByWifi(unit.pairAddress(), "482916", unit.serial()));
    QTRY_VERIFY_WITH_TIMEOUT(!driver.progressRunning(), 25000);
    QCOMPARE(driver.log(), "Не удалось выполнить сопряжение с " + unit.pairAddress() + ":\nНе удалось начать сопряжение. "
                           "Проверьте адрес и порт в окне с кодом сопряжения на автомобиле: они меняются каждый раз.\n\n"
                           "error: protocol fault (couldn't read status message): Success");

    // The screen stays open for another try.
    QElapsedTimer sincePress;
    sincePress.start();
    QVERIFY(driver.pairByWifi(unit.pairAddress(), "482915", unit.serial()));
    QTRY_VERIFY_WITH_TIMEOUT(driver.popup()->currentText().endsWith(unit.serial()) && driver.info("model") != kNoValue, 20000);
    qInfo("paired, connected and shown %lld ms after «Подключить»", sincePress.elapsed());
    QCOMPARE(driver.badge(), "●  МУЛЬТИМЕДИА LI AUTO ГОТОВА");
    // The connect address is kept; the code is nowhere.
    QSettings settings = installerSettings();
    QCOMPARE(settings.value("wifi/lastAddress"), unit.serial());
    QFile file(settings.fileName());
    QVERIFY(file.open(QIODevice::ReadOnly) && !file.readAll().contains("482915"));

    // Another computer, which never paired, is still asked. The installer ends first: what
    // it still ran would start this computer's server again once it is gone.
    installer.reset();
    computer.reset();
    computer.emplace(pairAdb, otherHome.path());
    QVERIFY(computer->runAdb({"connect", unit.serial()}).output.startsWith("failed to authenticate to " + unit.serial()));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
