#include "apkcheck.h"
#include "installjob.h"
#include "installerdriver.h"
#include "installerwindow.h"
#include "windowtexts.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace expected;

namespace {

QStringList installCall(const InstallerDriver &driver, const QString &serial)
{
    return {"-s", serial, "install", "-r", driver.apkFile()};
}
QStringList appopsCall(const QString &serial)
{
    return {"-s", serial, "shell", "appops", "set", "ru.zorvik.store", "REQUEST_INSTALL_PACKAGES", "allow"};
}
QStringList monkeyCall(const QString &serial)
{
    return {"-s", serial, "shell", "monkey", "-p", "ru.zorvik.store", "-c", "android.intent.category.LAUNCHER", "1"};
}

// Confirms the install and waits until the install job's results are on screen.
QList<InstallerDriver::Alert> installAndWait(InstallerDriver &driver)
{
    QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);
    const auto alerts = driver.pressInstall(QStringLiteral("Продолжить"));
    if (!done.wait(20000))
        qWarning("the install did not come back");
    return alerts;
}
} // namespace

class TestInstallFlow : public QObject
{
    Q_OBJECT

private slots:
    void digestComparison_data();
    void digestComparison();
    void adbVerdicts_data();
    void adbVerdicts();
    void integrityFailureStopsEverything_data();
    void integrityFailureStopsEverything();
    void cancelChangesNothing_data();
    void cancelChangesNothing();
    void confirmationNamesInstallOrUpdate();
    void busyRightAfterConfirming();
    void outcomes_data();
    void outcomes();
    void deviceGoneWhenTheResultsArrive();
    void onlyTheFirstOfTwoEqualSerialsIsMarked();
    void closeButtonKeepsItsTitleAndCloses();
};

void TestInstallFlow::adbVerdicts_data()
{
    QTest::addColumn<bool>("isInstall");   // else the permission command
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("succeeded");

    const QString pushed = QStringLiteral("Performing Push Install\n/opt/zorvik-installer/resources/ZorvikStore.apk: "
                                          "1 file pushed, 0 skipped. 16.3 MB/s (12761 bytes in 0.001s)\n");
    QTest::newRow("streamed install") << true << 0 << QStringLiteral("Performing Streamed Install\nSuccess\n") << true;
    QTest::newRow("push install") << true << 0 << pushed + QStringLiteral("Success\n") << true;
    QTest::newRow("push install refused, status 0")
        << true << 0 << pushed + QStringLiteral("Failure [INSTALL_FAILED_INSUFFICIENT_STORAGE]\n") << false;
    QTest::newRow("streamed install refused, status 1")
        << true << 1
        << QStringLiteral("Performing Streamed Install\nadb: failed to install /x/ZorvikStore.apk: Failure "
                          "[INSTALL_FAILED_UPDATE_INCOMPATIBLE: Package ru.zorvik.store signatures do not match "
                          "previously installed version; ignoring!]\n")
        << false;
    QTest::newRow("nothing printed, status 0") << true << 0 << QString() << false;
    QTest::newRow("cable pulled during pm, status 0") << true << 0 << pushed + QStringLiteral("- waiting for device -\n") << false;
    QTest::newRow("CR LF success") << true << 0 << QStringLiteral("Performing Push Install\r\nSuccess\r\n") << true;
    QTest::newRow("CR LF failure") << true << 0 << QStringLiteral("Failure [INSTALL_FAILED_INVALID_APK]\r\n") << false;
    QTest::newRow("Success, then a Failure line") << true << 0 << QStringLiteral("Success\nFailure [INSTALL_FAILED_INTERNAL_ERROR]\n") << false;
    QTest::newRow("Success with status 1") << true << 1 << QStringLiteral("Success\n") << false;
    QTest::newRow("Success inside a longer line") << true << 0 << QStringLiteral("Success: pending reboot\n") << false;

    QTest::newRow("permission given") << false << 0 << QString() << true;
    QTest::newRow("permission given, only a pty line end") << false << 0 << QStringLiteral("\r\n") << true;
    QTest::newRow("unknown operation, status 0")
        << false << 0 << QStringLiteral("Error: Unknown operation string: REQUEST_INSTALL_PACKAGES\r\n") << false;
    QTest::newRow("SecurityException, status 0")
        << false << 0
        << QStringLiteral("Security exception: uid 2000 does not have android.permission.UPDATE_APP_OPS_STATS.\r\n\r\n"
                          "java.lang.SecurityException: uid 2000 does not have android.permission.UPDATE_APP_OPS_STATS.\r\n")
        << false;
    QTest::newRow("refused, status 255") << false << 255 << QStringLiteral("Error: denied\n") << false;
    QTest::newRow("silent, status 1") << false << 1 << QString() << false;
}

void TestInstallFlow::adbVerdicts()
{
    QFETCH(bool, isInstall);
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(bool, succeeded);
    const adb::CommandResult result{status, output};
    QCOMPARE(isInstall ? install::installSucceeded(result) : install::grantSucceeded(result), succeeded);
}

void TestInstallFlow::digestComparison_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("upperCaseExpected");
    QTest::addColumn<bool>("matches");
    QTest::newRow("same bytes") << QByteArray("apk bytes") << false << true;
    QTest::newRow("digest in upper case") << QByteArray("apk bytes") << true << false;
    QTest::newRow("empty file") << QByteArray() << false << true;
}

void TestInstallFlow::digestComparison()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, upperCaseExpected);
    QFETCH(bool, matches);
    QTemporaryDir dir;
    QFile file(dir.filePath("f.apk"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
    file.close();
    const QString reference = QString::fromLatin1(QCryptographicHash::hash(contents, QCryptographicHash::Sha256).toHex());
    const std::optional<QString> digest = install::fileSha256(file.fileName());
    QCOMPARE(digest, std::optional<QString>(reference));
    QCOMPARE(install::digestMatches(digest, upperCaseExpected ? reference.toUpper() : reference), matches);
    QVERIFY(!install::digestMatches(std::nullopt, reference));
    QCOMPARE(install::fileSha256(dir.filePath("missing.apk")), std::optional<QString>());
}

void TestInstallFlow::integrityFailureStopsEverything_data()
{
    QTest::addColumn<QString>("apk");
    QTest::newRow("missing") << QStringLiteral("missing");
    QTest::newRow("empty") << QStringLiteral("empty");
    QTest::newRow("one byte changed") << QStringLiteral("changed");
    QTest::newRow("expected digest in other letter case") << QStringLiteral("case");
    QTest::newRow("unreadable") << QStringLiteral("unreadable");
}

void TestInstallFlow::integrityFailureStopsEverything()
{
    QFETCH(QString, apk);
    std::optional<QString> expected;
    if (apk == QLatin1String("case"))
        expected = install::fileSha256(builtApk())->toUpper();
    InstallerDriver driver(true, expected);
    if (apk == QLatin1String("missing")) {
        QFile::remove(driver.apkFile());
    } else if (apk == QLatin1String("empty")) {
        QFile::resize(driver.apkFile(), 0);
    } else if (apk == QLatin1String("changed")) {
        QFile file(driver.apkFile());
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.seek(file.size() / 2);
        char byte = 0;
        file.getChar(&byte);
        file.seek(file.size() / 2);
        file.putChar(char(byte ^ 0x01));
    } else if (apk == QLatin1String("unreadable")) {
        if (geteuid() == 0) {
            // root reads a mode 000 file anyway; a directory in its place can't be read by anyone.
            QFile::remove(driver.apkFile());
            QVERIFY(QDir().mkdir(driver.apkFile()));
        } else {
            QFile::setPermissions(driver.apkFile(), {});
        }
    }
    driver.launchWithOneUnit();
    const QStringList before = driver.snapshot();

    for (int press = 0; press < 2; ++press) {     // a second press checks again, from the start
        const auto alerts = driver.pressInstall(QStringLiteral("Продолжить"));
        QCOMPARE(alerts.size(), 1);
        QCOMPARE(alerts[0].text, QStringLiteral("Проверка Zorvik App не пройдена"));
        QCOMPARE(alerts[0].informative, QStringLiteral("APK внутри установщика повреждён или был изменён. Установка отменена."));
        QCOMPARE(alerts[0].buttons, QStringList{QStringLiteral("Закрыть")});
        QCOMPARE(driver.snapshot(), before);
    }
    QTest::qWait(100);
    QCOMPARE(driver.adb.calls(), QList<QStringList>{});
}

void TestInstallFlow::cancelChangesNothing_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("Отмена") << QStringLiteral("Отмена");
    QTest::newRow("Escape") << QString();
}

void TestInstallFlow::cancelChangesNothing()
{
    QFETCH(QString, answer);
    InstallerDriver driver;
    driver.launchWithOneUnit();
    const QStringList before = driver.snapshot();
    const auto alerts = driver.pressInstall(answer);
    QCOMPARE(alerts.size(), 1);
    QCOMPARE(alerts[0].buttons, (QStringList{QStringLiteral("Продолжить"), QStringLiteral("Отмена")}));
    QCOMPARE(alerts[0].defaultButton, QStringLiteral("Продолжить"));
    QCOMPARE(driver.snapshot(), before);
    QTest::qWait(100);
    QCOMPARE(driver.adb.calls(), QList<QStringList>{});
}

void TestInstallFlow::confirmationNamesInstallOrUpdate()
{
    InstallerDriver driver;
    driver.adb.setListing(kHeader + QStringLiteral("NEW\tdevice\nOLD\tdevice\n"));
    driver.adb.addDevice({"NEW"});
    FakeAdb::Device old{"OLD"};
    old.pmPath = QStringLiteral("package:/data/app/base.apk");
    driver.adb.addDevice(old);
    driver.launch();

    auto alerts = driver.pressInstall(QStringLiteral("Отмена"));
    QCOMPARE(alerts.size(), 1);
    QCOMPARE(alerts[0].text, QStringLiteral("Установить Zorvik App?"));
    const QString informative = QStringLiteral(
        "Будет обновлён пакет ru.zorvik.store и выдано только разрешение REQUEST_INSTALL_PACKAGES, необходимое "
        "для установки выбранных APK. ECU, CAN, ADAS и системные разделы не изменяются.");
    QCOMPARE(alerts[0].informative, informative);
    driver.chooseDevice(1);
    alerts = driver.pressInstall(QStringLiteral("Отмена"));
    QCOMPARE(alerts.size(), 1);
    QCOMPARE(alerts[0].text, QStringLiteral("Обновить Zorvik App?"));
    QCOMPARE(alerts[0].informative, informative);
}

void TestInstallFlow::busyRightAfterConfirming()
{
    InstallerDriver driver;
    driver.launchWithOneUnit();
    driver.adb.replyWithScript(installCall(driver, "S1"), QStringLiteral("sleep 0.5; echo Success"));
    QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);
    driver.pressInstall(QStringLiteral("Продолжить"));
    // The action has returned; the job runs in the background.
    QCOMPARE(done.count(), 0);
    QCOMPARE(driver.log(), QStringLiteral("Устанавливаем Zorvik App…"));
    QCOMPARE(driver.steps(), kFoundSteps);
    QVERIFY(!driver.installButton()->isEnabled());
    QVERIFY(!driver.popup()->isEnabled());
    QVERIFY(driver.progressRunning());
    QVERIFY(driver.refreshButton()->isEnabled());
    QVERIFY(done.wait(10000));
}

void TestInstallFlow::outcomes_data()
{
    QTest::addColumn<QString>("installScript");
    QTest::addColumn<QString>("appopsScript");
    QTest::addColumn<QString>("monkeyScript");
    QTest::addColumn<QString>("log");
    QTest::addColumn<bool>("installed");

    QTest::newRow("install fails") << QStringLiteral("echo 'adb: failed to install x.apk: Failure [INSTALL_FAILED_UPDATE_INCOMPATIBLE]' >&2; exit 1")
                                   << QString() << QString()
                                   << QStringLiteral("Ошибка установки:\nadb: failed to install x.apk: Failure [INSTALL_FAILED_UPDATE_INCOMPATIBLE]\n")
                                   << false;
    QTest::newRow("install fails silently") << QStringLiteral("exit 1") << QString() << QString()
                                            << QStringLiteral("Ошибка установки:\n") << false;
    QTest::newRow("install killed") << QStringLiteral("echo 'Performing Streamed Install'; kill -9 $$") << QString() << QString()
                                    << QStringLiteral("Ошибка установки:\nPerforming Streamed Install\n") << false;
    QTest::newRow("push install refused, status 0")
        << QStringLiteral("echo 'Performing Push Install'; echo 'Failure [INSTALL_FAILED_INSUFFICIENT_STORAGE]'")
        << QString() << QString()
        << QStringLiteral("Ошибка установки:\nPerforming Push Install\nFailure [INSTALL_FAILED_INSUFFICIENT_STORAGE]\n")
        << false;
    QTest::newRow("appops refused, status 0") << QStringLiteral("echo Success")
        << QStringLiteral("printf 'Error: Unknown operation string: REQUEST_INSTALL_PACKAGES\\r\\n'") << QString()
        << QStringLiteral("Zorvik App обновлён, но разрешение на установку APK не выдано:\n"
                          "Error: Unknown operation string: REQUEST_INSTALL_PACKAGES\n")
        << true;
    QTest::newRow("appops fails") << QStringLiteral("echo 'Performing Streamed Install'; echo Success")
                                  << QStringLiteral("echo 'Error: unknown operation' >&2; exit 2") << QStringLiteral("echo 'Events injected: 1'")
                                  << QStringLiteral("Zorvik App обновлён, но разрешение на установку APK не выдано:\nError: unknown operation\n")
                                  << true;
    QTest::newRow("everything succeeds") << QStringLiteral("echo 'Performing Streamed Install'; echo Success") << QString()
                                         << QStringLiteral("echo 'Events injected: 1'")
                                         << QStringLiteral("Готово: Zorvik App обновлён, разрешение на установку APK выдано.") << true;
    QTest::newRow("launch fails") << QStringLiteral("echo Success") << QString()
                                  << QStringLiteral("echo '** No activities found to run, monkey aborted.'; exit 251")
                                  << QStringLiteral("Готово: Zorvik App обновлён, разрешение на установку APK выдано.") << true;
}

void TestInstallFlow::outcomes()
{
    QFETCH(QString, installScript);
    QFETCH(QString, appopsScript);
    QFETCH(QString, monkeyScript);
    QFETCH(QString, log);
    QFETCH(bool, installed);

    InstallerDriver driver;
    driver.launchWithOneUnit();
    driver.adb.replyWithScript(installCall(driver, "S1"), installScript);
    if (!appopsScript.isEmpty())
        driver.adb.replyWithScript(appopsCall("S1"), appopsScript);
    if (!monkeyScript.isEmpty())
        driver.adb.replyWithScript(monkeyCall("S1"), monkeyScript);

    const auto alerts = installAndWait(driver);
    QCOMPARE(alerts.size(), 1);

    QList<QStringList> expectedCalls{installCall(driver, "S1")};
    if (installed)
        expectedCalls << appopsCall("S1") << monkeyCall("S1");
    QCOMPARE(driver.adb.calls(), expectedCalls);
    QCOMPARE(driver.log(), log);
    QVERIFY(!driver.progressRunning());
    QVERIFY(driver.popup()->isEnabled());
    QVERIFY(driver.installButton()->isEnabled());
    QCOMPARE(driver.app->readyDevices().first().installed, installed);

    if (installed) {
        QCOMPARE(driver.badge(), kDoneBadge);
        QCOMPARE(textColour(driver.label("statusBadge")), kGreen);
        QCOMPARE(driver.info("installed"), QStringLiteral("Установлен успешно"));
        QCOMPARE(textColour(driver.label("value_installed")), kGreen);
        QCOMPARE(driver.installButton()->text(), kCloseTitle);
        QCOMPARE(buttonFace(driver.installButton()), kGreen);
        QCOMPARE(driver.steps(), kDoneSteps);
        QCOMPARE(driver.stepColours(), (QList<QColor>{kGreen, kGreen, kGreen}));
    } else {
        QCOMPARE(driver.badge(), kFailedBadge);
        QCOMPARE(textColour(driver.label("statusBadge")), kBlue);
        QCOMPARE(driver.info("installed"), QStringLiteral("Не установлен"));
        QCOMPARE(driver.installButton()->text(), QStringLiteral("Установить Zorvik App"));
        QCOMPARE(buttonFace(driver.installButton()), kBlue);
        QCOMPARE(driver.steps(), kFoundSteps);
        // The button still installs: a second press asks again.
        driver.adb.clearCalls();
        QCOMPARE(driver.pressInstall(QStringLiteral("Отмена")).size(), 1);
    }
}

void TestInstallFlow::deviceGoneWhenTheResultsArrive()
{
    InstallerDriver driver;
    driver.launchWithOneUnit();
    driver.adb.replyWithScript(installCall(driver, "S1"), QStringLiteral("sleep 1; echo Success"));
    // While the install runs, a scan finds another unit only.
    driver.adb.setListing(kHeader + QStringLiteral("S2\tdevice\n"));
    driver.adb.addDevice({"S2"});

    QSignalSpy installDone(driver.app.get(), &AppDelegate::installCompleted);
    driver.pressInstall(QStringLiteral("Продолжить"));
    driver.refresh();
    QCOMPARE(installDone.count(), 0);
    QVERIFY(installDone.wait(10000));

    QCOMPARE(driver.app->readyDevices().size(), 1);
    QCOMPARE(driver.app->readyDevices().first().serial(), QStringLiteral("S2"));
    QVERIFY(!driver.app->readyDevices().first().installed);
    // S2 is on show now: its label must not claim S1's install.
    QCOMPARE(driver.info("installed"), QStringLiteral("Не установлен"));
    QVERIFY(textColour(driver.label("value_installed")) != kGreen);
    QCOMPARE(driver.badge(), kDoneBadge);
    QCOMPARE(driver.installButton()->text(), kCloseTitle);
    QCOMPARE(driver.steps(), kDoneSteps);
}

void TestInstallFlow::onlyTheFirstOfTwoEqualSerialsIsMarked()
{
    InstallerDriver driver;
    driver.launchWithOneUnit(kHeader + QStringLiteral("S1\tdevice\nS1\tdevice\n"));
    QCOMPARE(driver.app->readyDevices().size(), 2);
    driver.adb.replyWithScript(installCall(driver, "S1"), QStringLiteral("echo Success"));
    installAndWait(driver);
    QVERIFY(driver.app->readyDevices().at(0).installed);
    QVERIFY(!driver.app->readyDevices().at(1).installed);
}

void TestInstallFlow::closeButtonKeepsItsTitleAndCloses()
{
    InstallerDriver driver;
    driver.launchWithOneUnit();
    const QColor badgeColour = textColour(driver.label("statusBadge"));
    const QColor valueColour = textColour(driver.label("value_installed"));
    driver.adb.replyWithScript(installCall(driver, "S1"), QStringLiteral("echo Success"));
    installAndWait(driver);
    QCOMPARE(driver.installButton()->text(), kCloseTitle);

    // A later scan shows the unit again (now installed) and a second one: the button
    // still says what it does, and its enabled state follows the panel.
    driver.adb.setListing(kHeader + QStringLiteral("S1\tdevice\nS2\tdevice\n"));
    driver.adb.addDevice({"S2"});
    driver.refresh();
    QCOMPARE(driver.installButton()->text(), kCloseTitle);
    QVERIFY(driver.installButton()->isEnabled());
    // Green is only for the texts that report the install; what replaces them is drawn
    // as the window first drew it.
    QCOMPARE(driver.info("installed"), QStringLiteral("Не установлен"));
    QCOMPARE(textColour(driver.label("value_installed")), valueColour);
    QCOMPARE(textColour(driver.label("statusBadge")), badgeColour);
    QCOMPARE(buttonFace(driver.installButton()), kGreen);
    driver.chooseDevice(1);
    QCOMPARE(driver.installButton()->text(), kCloseTitle);
    driver.adb.setListing(kHeader);
    driver.refresh();
    QCOMPARE(driver.installButton()->text(), kCloseTitle);
    QVERIFY(!driver.installButton()->isEnabled());
    QCOMPARE(driver.badge(), QStringLiteral("●  ПОДКЛЮЧИТЕ АВТОМОБИЛЬ"));
    QCOMPARE(textColour(driver.label("statusBadge")), badgeColour);
    driver.adb.setListing(kHeader + QStringLiteral("S1\tdevice\n"));
    driver.refresh();
    QVERIFY(driver.installButton()->isEnabled());

    // Pressing it ends the application's event loop, and runs no adb command.
    driver.adb.clearCalls();
    QEventLoop loop;
    QTimer::singleShot(0, driver.installButton(), &QPushButton::click);
    QTimer::singleShot(5000, &loop, [&] { loop.exit(99); });
    QCOMPARE(loop.exec(), 0);
    QCOMPARE(driver.adb.calls(), QList<QStringList>{});
}

QTEST_MAIN(TestInstallFlow)
#include "tst_installflow.moc"
