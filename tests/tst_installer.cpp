// The installer as a person meets it: the real AppDelegate and window against a fake adb.

#include "apkcheck.h"
#include "installerdriver.h"
#include "installerwindow.h"
#include "installjob.h"
#include "runinstaller.h"
#include "windowtexts.h"

#include <QAccessible>
#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <unistd.h>

using namespace expected;

namespace {

const char *const kChildMode = "ZORVIK_INSTALLER_CHILD";
const QString kContinue = QStringLiteral("Продолжить");
const QString kCancel = QStringLiteral("Отмена");
const QString kInstallTitle = QStringLiteral("Установить Zorvik App");
const QString kConnectBadge = QStringLiteral("●  ПОДКЛЮЧИТЕ АВТОМОБИЛЬ");
const QString kNoDevice = QStringLiteral("Устройство не найдено");

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// The child process: the installer as main() runs it, against the fake adb the parent set
// up, its window closed as soon as adb is known to hang.
int runChild(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString resourceDir = qEnvironmentVariable(kChildMode);
    AppDelegate delegate(AppDelegate::TestSetup{resourceDir, std::nullopt});
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (!delegate.mainWindow() || !QFile::exists(resourceDir + QStringLiteral("/hanging.pid")))
            return;
        closer.stop();
        std::printf("closing\n");
        std::fflush(stdout);
        delegate.mainWindow()->close();
    });
    closer.start();
    runInstaller(delegate);
}

} // namespace

class TestInstaller : public QObject
{
    Q_OBJECT

private slots:
    void adbVerdicts_data();
    void adbVerdicts();
    void refusalsChangeNothing_data();
    void refusalsChangeNothing();
    void noReadyDevice_data();
    void noReadyDevice();
    void shownDevice_data();
    void shownDevice();
    void overlappingScansLastCompletionWins();
    void outcomes_data();
    void outcomes();
    void closeButtonKeepsItsTitleAndCloses();
    void closingWhileAdbHangsEndsPromptly();
};

void TestInstaller::adbVerdicts_data()
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

void TestInstaller::adbVerdicts()
{
    QFETCH(bool, isInstall);
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(bool, succeeded);
    const adb::CommandResult result{status, output};
    QCOMPARE(isInstall ? install::installSucceeded(result) : install::grantSucceeded(result), succeeded);
}

void TestInstaller::refusalsChangeNothing_data()
{
    QTest::addColumn<QString>("apk");       // how the carried APK differs from the one built in
    QTest::addColumn<bool>("updates");
    QTest::addColumn<QString>("answer");    // empty: Escape
    QTest::addColumn<QString>("alert");

    const QString install = QStringLiteral("Установить Zorvik App?");
    const QString spoilt = QStringLiteral("Проверка Zorvik App не пройдена");
    QTest::newRow("install, Отмена") << QString() << false << kCancel << install;
    QTest::newRow("update, Escape") << QString() << true << QString() << QStringLiteral("Обновить Zorvik App?");
    QTest::newRow("APK larger than the read buffer") << "big" << false << kCancel << install;
    QTest::newRow("APK missing") << "missing" << false << kContinue << spoilt;
    QTest::newRow("APK empty") << "empty" << false << kContinue << spoilt;
    QTest::newRow("one byte changed") << "changed" << false << kContinue << spoilt;
    QTest::newRow("digest expected in upper case") << "upper case" << false << kContinue << spoilt;
    QTest::newRow("APK unreadable") << "unreadable" << false << kContinue << spoilt;
}

void TestInstaller::refusalsChangeNothing()
{
    QFETCH(QString, apk);
    QFETCH(bool, updates);
    QFETCH(QString, answer);
    QFETCH(QString, alert);
    QFile built(builtApk());
    QVERIFY(built.open(QIODevice::ReadOnly));
    QByteArray bytes = built.readAll();
    std::optional<QString> digest;
    if (apk == QLatin1String("big")) {
        // The APK is hashed a megabyte at a time: several reads, the last one short.
        bytes.resize(3 * 1024 * 1024 + 7);
        for (char &byte : bytes)
            byte = char(QRandomGenerator::global()->bounded(256));
        digest = sha256(bytes);
    } else if (apk == QLatin1String("upper case")) {
        digest = sha256(bytes).toUpper();
    } else if (apk == QLatin1String("changed")) {
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x01);
    } else if (apk == QLatin1String("empty")) {
        bytes.clear();
    }
    InstallerDriver driver(false, digest);
    QFile file(driver.apkFile());
    if (apk == QLatin1String("unreadable") && geteuid() == 0) {
        // root reads a mode 000 file anyway; a directory in its place can't be read by anyone.
        QVERIFY(QDir().mkdir(driver.apkFile()));
    } else if (apk != QLatin1String("missing")) {
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        if (apk == QLatin1String("unreadable"))
            file.setPermissions({});
    }
    if (digest && apk == QLatin1String("big"))
        QCOMPARE(install::fileSha256(driver.apkFile()), digest);
    FakeAdb::Device unit(QStringLiteral("S1"));
    if (updates)
        unit.pmPath = QStringLiteral("package:/data/app/ru.zorvik.store-1/base.apk");
    driver.launchWithOneUnit(kHeader + QStringLiteral("S1\tdevice\n"), unit);
    const QStringList before = driver.snapshot();

    for (int press = 0; press < 2; ++press) {     // a second press checks again, from the start
        const auto alerts = driver.pressInstall(answer);
        QCOMPARE(alerts.size(), 1);
        QCOMPARE(alerts[0].text, alert);
        QCOMPARE(alerts[0].buttons, alert.endsWith(u'?') ? (QStringList{kContinue, kCancel}) : QStringList{"Закрыть"});
        QCOMPARE(driver.snapshot(), before);
    }
    QTest::qWait(100);
    QCOMPARE(driver.adb.calls(), QList<QStringList>{});
}

void TestInstaller::noReadyDevice_data()
{
    QTest::addColumn<QString>("listing");
    QTest::addColumn<bool>("foundBefore");   // a ready unit was on show until this scan
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("badge");
    const QString waiting = QStringLiteral("●  ОЖИДАЕТСЯ ПОДТВЕРЖДЕНИЕ");
    QTest::newRow("empty listing") << kHeader << false << kNoDevice << kConnectBadge;
    QTest::newRow("only unauthorized") << kHeader + QStringLiteral("R58M\tunauthorized\n") << false
                                       << QStringLiteral("Нужно подтвердить USB-отладку") << waiting;
    QTest::newRow("only offline") << kHeader + QStringLiteral("R58M\toffline\n") << false << kNoDevice << waiting;
    QTest::newRow("unit unplugged, then «Обновить»") << kHeader << true << kNoDevice << kConnectBadge;
}

void TestInstaller::noReadyDevice()
{
    QFETCH(QString, listing);
    QFETCH(bool, foundBefore);
    QFETCH(QString, item);
    QFETCH(QString, badge);
    InstallerDriver driver;
    if (foundBefore) {
        driver.launchWithOneUnit();
        driver.adb.setListing(listing);
        driver.refresh();
    } else {
        driver.adb.setListing(listing);
        driver.launch();
    }

    QCOMPARE(driver.popupItems(), QStringList{item});
    QCOMPARE(driver.badge(), badge);
    QCOMPARE(driver.log(), QStringLiteral("Подключите кабель и подтвердите запрос RSA на экране автомобиля."));
    for (const char *key : {"model", "android", "build", "screen", "installed"})
        QCOMPARE(driver.info(QString::fromLatin1(key)), QStringLiteral("—"));
    QVERIFY(!driver.installButton()->isEnabled());
    QVERIFY(driver.popup()->isEnabled());
    QVERIFY(!driver.progressRunning());
    QCOMPARE(driver.steps(), kStartSteps);
    QCOMPARE(driver.stepColours(), (QList<QColor>{Qt::white, QColor::fromRgbF(0.62f, 0.62f, 0.62f), QColor::fromRgbF(0.62f, 0.62f, 0.62f)}));
    // No probe runs for a device that isn't ready.
    QCOMPARE(driver.adb.calls(), (QList<QStringList>{{"start-server"}, {"devices"}}));
    const QStringList seen = driver.snapshot();
    driver.chooseDevice(0);
    QCOMPARE(driver.snapshot(), seen);
    if (foundBefore) {
        InstallerDriver launchedWithout;
        launchedWithout.adb.setListing(listing);
        launchedWithout.launch();
        QCOMPARE(seen, launchedWithout.snapshot());
    }
}

void TestInstaller::shownDevice_data()
{
    QTest::addColumn<QString>("manufacturer");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("pmPath");
    QTest::addColumn<QString>("badge");
    QTest::addColumn<QString>("installed");
    QTest::addColumn<QString>("title");
    QTest::newRow("phone with the app") << "Google" << "Pixel 7" << "package:/data/app/ru.zorvik.store-1/base.apk"
                                        << "●  ANDROID-УСТРОЙСТВО ГОТОВО" << "Установлен — будет обновлён"
                                        << "Обновить Zorvik App";
    QTest::newRow("markup in the name") << "<b>LI_AUTO</b>" << "<i>HU</i> 8155" << QString()
                                        << "●  МУЛЬТИМЕДИА LI AUTO ГОТОВА" << "Не установлен" << kInstallTitle;
}

void TestInstaller::shownDevice()
{
    QFETCH(QString, manufacturer);
    QFETCH(QString, model);
    QFETCH(QString, pmPath);
    QFETCH(QString, badge);
    QFETCH(QString, installed);
    QFETCH(QString, title);
    InstallerDriver driver;
    driver.adb.setListing(kHeader + QStringLiteral("HU1\tdevice\nS2\tdevice\n"));
    driver.adb.addDevice({QStringLiteral("HU1")});
    FakeAdb::Device second(QStringLiteral("S2"));
    second.manufacturer = manufacturer;
    second.model = model;
    second.pmPath = pmPath;
    driver.adb.addDevice(second);
    driver.launch();

    const QString name = manufacturer + u' ' + model;
    QCOMPARE(driver.popupItems(), (QStringList{QStringLiteral("LI_AUTO HU_L9  ·  HU1"), name + QStringLiteral("  ·  S2")}));
    QCOMPARE(driver.log(), QStringLiteral("Найдено устройств: 2. Выполнена только read-only диагностика."));
    QCOMPARE(driver.info("model"), QStringLiteral("LI_AUTO HU_L9"));
    QCOMPARE(driver.installButton()->text(), kInstallTitle);
    QVERIFY(driver.installButton()->isEnabled());
    QCOMPARE(driver.steps(), kFoundSteps);
    QCOMPARE(driver.stepColours(), (QList<QColor>{Qt::white, Qt::white, Qt::white}));
    const QStringList first = driver.snapshot();

    driver.chooseDevice(1);
    QCOMPARE(driver.badge(), badge);
    // What a screen reader reads is what the label draws: markup from the unit stays text.
    QCOMPARE(QAccessible::queryAccessibleInterface(driver.label("value_model"))->text(QAccessible::Name), name);
    QCOMPARE(driver.info("installed"), installed);
    QCOMPARE(driver.installButton()->text(), title);
    driver.chooseDevice(0);
    QCOMPARE(driver.snapshot(), first);
}

void TestInstaller::overlappingScansLastCompletionWins()
{
    InstallerDriver driver;
    // The first "devices" is slow and lists SLOW; every later one answers at once with FAST.
    const QString counter = driver.adb.resourceDir() + QStringLiteral("/devices-count");
    driver.adb.replyWithScript({"devices"}, QStringLiteral(
        "if [ ! -e '%1' ]; then touch '%1'; sleep 1; printf 'List of devices attached\\nSLOW\\tdevice\\n';"
        " else printf 'List of devices attached\\nFAST\\tdevice\\n'; fi").arg(counter));
    driver.adb.addDevice({"SLOW"});
    driver.adb.addDevice({"FAST"});

    QSignalSpy done(driver.app.get(), &AppDelegate::refreshCompleted);
    driver.app->applicationDidFinishLaunching();
    QTRY_VERIFY(QFile::exists(counter));
    QCOMPARE(driver.badge(), QStringLiteral("ПОИСК…"));
    QCOMPARE(driver.log(), QStringLiteral("Ищем подключённые экраны…"));
    QCOMPARE(driver.popupItems(), QStringList{});
    QVERIFY(!driver.installButton()->isEnabled());
    QVERIFY(!driver.popup()->isEnabled());
    QVERIFY(driver.progressRunning());
    QVERIFY(driver.refreshButton()->isEnabled());
    driver.refreshButton()->click();

    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);
    QCOMPARE(driver.popupItems(), QStringList{QStringLiteral("LI_AUTO HU_L9  ·  FAST")});
    QVERIFY(driver.refreshButton()->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 10000);
    QCOMPARE(driver.popupItems(), QStringList{QStringLiteral("LI_AUTO HU_L9  ·  SLOW")});
    QCOMPARE(driver.app->readyDevices().size(), 1);
    QCOMPARE(driver.app->readyDevices().first().serial(), QStringLiteral("SLOW"));
    QVERIFY(driver.refreshButton()->isEnabled());
    QVERIFY(driver.installButton()->isEnabled());
}

void TestInstaller::outcomes_data()
{
    QTest::addColumn<QString>("install");   // what adb does for each command of the job
    QTest::addColumn<QString>("appops");
    QTest::addColumn<QString>("monkey");
    QTest::addColumn<bool>("rescan");       // meanwhile a scan finds only another unit
    QTest::addColumn<QString>("log");
    QTest::addColumn<bool>("installed");

    const QString failed = QStringLiteral("Ошибка установки:\n");
    const QString partial = QStringLiteral("Zorvik App обновлён, но разрешение на установку APK не выдано:\n");
    const QString done = QStringLiteral("Готово: Zorvik App обновлён, разрешение на установку APK выдано.");
    const QString streamed = QStringLiteral("echo 'Performing Streamed Install'; echo Success");
    const QString refusal = QStringLiteral("adb: failed to install x.apk: Failure [INSTALL_FAILED_UPDATE_INCOMPATIBLE]");
    QTest::newRow("install fails") << "echo '" + refusal + "' >&2; exit 1" << QString() << QString() << false
                                   << failed + refusal + u'\n' << false;
    QTest::newRow("install fails silently") << "exit 1" << QString() << QString() << false << failed << false;
    QTest::newRow("install killed") << "echo 'Performing Streamed Install'; kill -9 $$" << QString() << QString() << false
                                    << failed + "Performing Streamed Install\n" << false;
    QTest::newRow("push install refused, status 0")
        << "echo 'Performing Push Install'; echo 'Failure [INSTALL_FAILED_INSUFFICIENT_STORAGE]'" << QString() << QString()
        << false << failed + "Performing Push Install\nFailure [INSTALL_FAILED_INSUFFICIENT_STORAGE]\n" << false;
    QTest::newRow("appops refused, status 0")
        << "echo Success" << "printf 'Error: Unknown operation string: REQUEST_INSTALL_PACKAGES\\r\\n'" << QString() << false
        << partial + "Error: Unknown operation string: REQUEST_INSTALL_PACKAGES\n" << true;
    QTest::newRow("appops fails") << streamed << "echo 'Error: unknown operation' >&2; exit 2" << QString() << false
                                  << partial + "Error: unknown operation\n" << true;
    QTest::newRow("appops killed") << streamed << "kill -9 $$" << QString() << false << partial << true;
    QTest::newRow("everything succeeds") << streamed << QString() << "echo 'Events injected: 1'" << false << done << true;
    QTest::newRow("launch fails") << "echo Success" << QString()
                                  << "echo '** No activities found to run, monkey aborted.'; exit 251" << false << done << true;
    QTest::newRow("unit replaced on show meanwhile") << "sleep 1; echo Success" << QString() << QString() << true << done << true;
}

void TestInstaller::outcomes()
{
    QFETCH(QString, install);
    QFETCH(QString, appops);
    QFETCH(QString, monkey);
    QFETCH(bool, rescan);
    QFETCH(QString, log);
    QFETCH(bool, installed);

    InstallerDriver driver;
    driver.launchWithOneUnit();
    const QStringList unit{"-s", "S1"};
    const QList<QStringList> job{
        unit + QStringList{"install", "-r", driver.apkFile()},
        unit + QStringList{"shell", "appops", "set", "ru.zorvik.store", "REQUEST_INSTALL_PACKAGES", "allow"},
        unit + QStringList{"shell", "monkey", "-p", "ru.zorvik.store", "-c", "android.intent.category.LAUNCHER", "1"}};
    const QStringList scripts{install, appops, monkey};
    for (qsizetype i = 0; i < job.size(); ++i) {
        if (!scripts[i].isEmpty())
            driver.adb.replyWithScript(job[i], scripts[i]);
    }

    QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);
    QCOMPARE(driver.pressInstall(kContinue).size(), 1);
    // Until the results are back the window is busy, and a second install can't start.
    QCOMPARE(driver.log(), QStringLiteral("Устанавливаем Zorvik App…"));
    QVERIFY(!driver.installButton()->isEnabled());
    QVERIFY(!driver.popup()->isEnabled());
    QVERIFY(driver.progressRunning());
    QCOMPARE(driver.answerAlerts(kCancel, [&] { driver.app->installClicked(); }).size(), 0);
    if (rescan) {
        driver.adb.setListing(kHeader + QStringLiteral("S2\tdevice\n"));
        driver.adb.addDevice({QStringLiteral("S2")});
        driver.refresh();
    }
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 20000);

    QList<QStringList> sent;
    for (const QStringList &call : driver.adb.calls()) {
        if (call.startsWith(unit.first()) && call.value(1) == unit.last())
            sent << call;
    }
    QCOMPARE(sent, installed ? job : job.mid(0, 1));
    QCOMPARE(driver.log(), log);
    QVERIFY(!driver.progressRunning());
    QVERIFY(driver.popup()->isEnabled());
    QVERIFY(driver.installButton()->isEnabled());
    // Only the unit that got the app, and only while it is on show, is told as installed.
    const bool shownAsInstalled = installed && !rescan;
    QCOMPARE(driver.app->readyDevices().first().installed, shownAsInstalled);
    QCOMPARE(driver.info("installed"), shownAsInstalled ? QStringLiteral("Установлен успешно") : QStringLiteral("Не установлен"));
    QCOMPARE(textColour(driver.label("value_installed")) == kGreen, shownAsInstalled);
    QCOMPARE(driver.badge(), installed ? kDoneBadge : QStringLiteral("●  УСТАНОВКА НЕ ВЫПОЛНЕНА"));
    QCOMPARE(textColour(driver.label("statusBadge")), installed ? kGreen : kBlue);
    QCOMPARE(driver.installButton()->text(), installed ? kCloseTitle : kInstallTitle);
    QCOMPARE(driver.steps(), installed ? kDoneSteps : kFoundSteps);
    QCOMPARE(driver.stepColours(), QList<QColor>(3, installed ? kGreen : QColor(Qt::white)));
    // The face as drawn, sampled above the title: green after success, still blue otherwise.
    const QImage face = driver.installButton()->grab().toImage();
    const QColor drawn = face.pixelColor(face.width() / 2, 4);
    const QColor meant = installed ? kGreen : kBlue;
    QVERIFY2(qAbs(drawn.hsvHue() - meant.hsvHue()) < 20 && drawn.hsvSaturation() > 120, qPrintable(drawn.name()));
}

void TestInstaller::closeButtonKeepsItsTitleAndCloses()
{
    InstallerDriver driver;
    driver.launchWithOneUnit();
    const QColor badgeColour = textColour(driver.label("statusBadge"));
    const QColor valueColour = textColour(driver.label("value_installed"));
    driver.adb.reply({"-s", "S1", "install", "-r", driver.apkFile()}, QStringLiteral("Success\n"));
    QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);
    driver.pressInstall(kContinue);
    QVERIFY(done.wait(20000));
    QCOMPARE(driver.installButton()->text(), kCloseTitle);

    // A later scan shows the unit again (now installed) and a second one: the button still
    // says what it does, and green is only for the texts that reported the install.
    driver.adb.setListing(kHeader + QStringLiteral("S1\tdevice\nS2\tdevice\n"));
    driver.adb.addDevice({QStringLiteral("S2")});
    driver.refresh();
    QCOMPARE(driver.installButton()->text(), kCloseTitle);
    QVERIFY(driver.installButton()->isEnabled());
    QCOMPARE(textColour(driver.label("value_installed")), valueColour);
    QCOMPARE(textColour(driver.label("statusBadge")), badgeColour);
    QCOMPARE(buttonFace(driver.installButton()), kGreen);
    driver.chooseDevice(1);
    QCOMPARE(driver.installButton()->text(), kCloseTitle);
    driver.adb.setListing(kHeader);
    driver.refresh();
    QCOMPARE(driver.installButton()->text(), kCloseTitle);
    QVERIFY(!driver.installButton()->isEnabled());
    QCOMPARE(driver.badge(), kConnectBadge);
    QCOMPARE(textColour(driver.label("statusBadge")), badgeColour);
    driver.adb.setListing(kHeader + QStringLiteral("S1\tdevice\n"));
    driver.refresh();

    // Pressing it ends the application's event loop, and runs no adb command.
    driver.adb.clearCalls();
    QEventLoop loop;
    QTimer::singleShot(0, driver.installButton(), &QPushButton::click);
    QTimer::singleShot(5000, &loop, [&] { loop.exit(99); });
    QCOMPARE(loop.exec(), 0);
    QCOMPARE(driver.adb.calls(), QList<QStringList>{});
}

void TestInstaller::closingWhileAdbHangsEndsPromptly()
{
    // The installer runs in a child process (this executable again): the point is what
    // happens to the whole process when its window closes while adb never answers.
    FakeAdb adb;
    const QString pidFile = adb.resourceDir() + QStringLiteral("/hanging.pid");
    adb.replyWithScript({"devices"}, QStringLiteral("echo $$ > '%1.tmp'; mv '%1.tmp' '%1'; exec sleep 3600").arg(pidFile));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildMode), adb.resourceDir());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {});
    const bool closed = child.waitForReadyRead(30000);
    QElapsedTimer sinceClose;
    sinceClose.start();
    const bool ended = child.waitForFinished(5000);
    const qint64 took = sinceClose.elapsed();
    QFile pid(pidFile);
    if (pid.open(QIODevice::ReadOnly))
        ::kill(static_cast<pid_t>(pid.readAll().trimmed().toLongLong()), SIGKILL);

    QVERIFY2(closed, "the window was never closed");
    QVERIFY2(ended, "the installer did not end after its window was closed");
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QVERIFY2(took < 1000, qPrintable(QStringLiteral("ended %1 ms after the close").arg(took)));
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(kChildMode))
        return runChild(argc, argv);
    QApplication app(argc, argv);
    TestInstaller test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_installer.moc"
