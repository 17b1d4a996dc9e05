#include "installerdriver.h"
#include "windowtexts.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace expected;

namespace {
const QString kNoDeviceLog = QStringLiteral("Подключите кабель и подтвердите запрос RSA на экране автомобиля.");
} // namespace

class TestAppWindow : public QObject
{
    Q_OBJECT

private slots:
    void noReadyDevice_data();
    void noReadyDevice();
    void busyWhileScanning();
    void twoReadyDevicesAndSwitching();
    void shownDevice_data();
    void shownDevice();
    void overlappingScansLastCompletionWins();
    void stepsAndBusyReachTheWidgets();
};

void TestAppWindow::noReadyDevice_data()
{
    QTest::addColumn<QString>("listing");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("badge");
    QTest::newRow("empty listing") << kHeader << QStringLiteral("Устройство не найдено")
                                   << QStringLiteral("●  ПОДКЛЮЧИТЕ АВТОМОБИЛЬ");
    QTest::newRow("only unauthorized") << kHeader + QStringLiteral("R58M\tunauthorized\n")
                                       << QStringLiteral("Нужно подтвердить USB-отладку")
                                       << QStringLiteral("●  ОЖИДАЕТСЯ ПОДТВЕРЖДЕНИЕ");
    QTest::newRow("only another state") << kHeader + QStringLiteral("R58M\toffline\n") << QStringLiteral("Устройство не найдено")
                                        << QStringLiteral("●  ОЖИДАЕТСЯ ПОДТВЕРЖДЕНИЕ");
}

void TestAppWindow::noReadyDevice()
{
    QFETCH(QString, listing);
    QFETCH(QString, item);
    QFETCH(QString, badge);
    InstallerDriver driver;
    driver.adb.setListing(listing);
    driver.launch();

    QCOMPARE(driver.popupItems(), QStringList{item});
    QCOMPARE(driver.badge(), badge);
    QCOMPARE(driver.log(), kNoDeviceLog);
    for (const char *key : {"model", "android", "build", "screen", "installed"})
        QCOMPARE(driver.info(QString::fromLatin1(key)), QStringLiteral("—"));
    QVERIFY(!driver.installButton()->isEnabled());
    QVERIFY(driver.popup()->isEnabled());
    QVERIFY(!driver.progressRunning());
    QCOMPARE(driver.steps(), kStartSteps);
    QCOMPARE(driver.stepColours(), (QList<QColor>{Qt::white, kPending, kPending}));
    // No probe runs for a device that isn't ready.
    QCOMPARE(driver.adb.calls(), (QList<QStringList>{{"start-server"}, {"devices"}}));

    // Choosing the placeholder changes nothing.
    const QStringList before = driver.snapshot();
    driver.chooseDevice(0);
    QCOMPARE(driver.snapshot(), before);
}

void TestAppWindow::busyWhileScanning()
{
    InstallerDriver driver;
    driver.adb.replyWithScript({"devices"}, QStringLiteral("sleep 0.5; printf 'List of devices attached\\n'"));
    QSignalSpy done(driver.app.get(), &AppDelegate::refreshCompleted);
    driver.app->applicationDidFinishLaunching();
    // The window before the scan is back: searching, busy.
    QCOMPARE(driver.badge(), QStringLiteral("ПОИСК…"));
    QCOMPARE(driver.log(), QStringLiteral("Ищем подключённые экраны…"));
    QVERIFY(!driver.installButton()->isEnabled());
    QVERIFY(!driver.popup()->isEnabled());
    QVERIFY(driver.progressRunning());
    QVERIFY(driver.refreshButton()->isEnabled());
    QCOMPARE(driver.popupItems(), QStringList{});
    QVERIFY(done.wait(10000));
    QVERIFY(!driver.progressRunning());
    QVERIFY(driver.popup()->isEnabled());
}

void TestAppWindow::twoReadyDevicesAndSwitching()
{
    InstallerDriver driver;
    driver.adb.setListing(kHeader + QStringLiteral("HU1\tdevice\nPHONE\tdevice\n"));
    driver.adb.addDevice({"HU1"});
    FakeAdb::Device phone{"PHONE"};
    phone.manufacturer = QStringLiteral("Google");
    phone.model = QStringLiteral("Pixel 7");
    phone.release = QStringLiteral("14");
    phone.sdk = QStringLiteral("34");
    phone.pmPath = QStringLiteral("package:/data/app/ru.zorvik.store-1/base.apk");
    driver.adb.addDevice(phone);
    driver.launch();

    QCOMPARE(driver.popupItems(), (QStringList{QStringLiteral("LI_AUTO HU_L9  ·  HU1"), QStringLiteral("Google Pixel 7  ·  PHONE")}));
    QCOMPARE(driver.popup()->currentIndex(), 0);
    QCOMPARE(driver.log(), QStringLiteral("Найдено устройств: 2. Выполнена только read-only диагностика."));
    QCOMPARE(driver.badge(), QStringLiteral("●  МУЛЬТИМЕДИА LI AUTO ГОТОВА"));
    QCOMPARE(driver.info("model"), QStringLiteral("LI_AUTO HU_L9"));
    QCOMPARE(driver.info("installed"), QStringLiteral("Не установлен"));
    QCOMPARE(driver.installButton()->text(), QStringLiteral("Установить Zorvik App"));
    QVERIFY(driver.installButton()->isEnabled());
    QCOMPARE(driver.steps(), kFoundSteps);
    QCOMPARE(driver.stepColours(), (QList<QColor>{Qt::white, Qt::white, Qt::white}));

    driver.chooseDevice(1);
    QCOMPARE(driver.badge(), QStringLiteral("●  ANDROID-УСТРОЙСТВО ГОТОВО"));
    QCOMPARE(driver.info("model"), QStringLiteral("Google Pixel 7"));
    QCOMPARE(driver.info("android"), QStringLiteral("Android 14  ·  API 34"));
    QCOMPARE(driver.info("installed"), QStringLiteral("Установлен — будет обновлён"));
    QCOMPARE(driver.installButton()->text(), QStringLiteral("Обновить Zorvik App"));

    driver.chooseDevice(0);
    QCOMPARE(driver.info("model"), QStringLiteral("LI_AUTO HU_L9"));
    QCOMPARE(driver.installButton()->text(), QStringLiteral("Установить Zorvik App"));
}

void TestAppWindow::shownDevice_data()
{
    QTest::addColumn<QString>("manufacturer");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("build");
    QTest::addColumn<QString>("wmSize");
    QTest::addColumn<QString>("wmDensity");
    QTest::addColumn<QString>("pmPath");
    QTest::addColumn<QString>("badge");
    QTest::addColumn<QStringList>("info");      // model, build, screen, installed
    QTest::addColumn<QString>("buttonTitle");

    const QString headUnit = QStringLiteral("●  МУЛЬТИМЕДИА LI AUTO ГОТОВА");
    const QString android = QStringLiteral("●  ANDROID-УСТРОЙСТВО ГОТОВО");
    const QString installed = QStringLiteral("package:/data/app/ru.zorvik.store-1/base.apk");
    QTest::newRow("mixed-case li_auto") << "Li_Auto" << "X01" << "B1" << "Physical size: 1920x720" << "Physical density: 160"
                                        << QString() << headUnit
                                        << QStringList{"Li_Auto X01", "B1", "1920x720  ·  160 dpi", "Не установлен"}
                                        << "Установить Zorvik App";
    QTest::newRow("LI AUTO with a blank") << "LI AUTO" << "X01" << "B1" << "Physical size: 1920x720" << "Physical density: 160"
                                          << QString() << android
                                          << QStringList{"LI AUTO X01", "B1", "1920x720  ·  160 dpi", "Не установлен"}
                                          << "Установить Zorvik App";
    QTest::newRow("empty build, size and density") << "LI_AUTO" << "hu_x" << "" << "" << ""
                                                   << installed << headUnit
                                                   << QStringList{"LI_AUTO hu_x", "—", "  ·   dpi", "Установлен — будет обновлён"}
                                                   << "Обновить Zorvik App";
    QTest::newRow("override wins") << "Qualcomm" << "msm" << "B2" << "Physical size: 1920x720\nOverride size: 1280x480"
                                   << "Physical density: 160\nOverride density: 120" << installed << android
                                   << QStringList{"Qualcomm msm", "B2", "1280x480  ·  120 dpi", "Установлен — будет обновлён"}
                                   << "Обновить Zorvik App";
}

void TestAppWindow::shownDevice()
{
    QFETCH(QString, manufacturer);
    QFETCH(QString, model);
    QFETCH(QString, build);
    QFETCH(QString, wmSize);
    QFETCH(QString, wmDensity);
    QFETCH(QString, pmPath);
    QFETCH(QString, badge);
    QFETCH(QStringList, info);
    QFETCH(QString, buttonTitle);

    InstallerDriver driver;
    driver.adb.setListing(kHeader + QStringLiteral("S1\tdevice\n"));
    FakeAdb::Device device{"S1"};
    device.manufacturer = manufacturer;
    device.model = model;
    device.build = build;
    device.wmSize = wmSize;
    device.wmDensity = wmDensity;
    device.pmPath = pmPath;
    driver.adb.addDevice(device);
    // getprop printing nothing at all gives the no-value mark, while an empty build shows it too.
    if (build.isEmpty())
        driver.adb.reply(probeCalls("S1").at(4), QStringLiteral("[ro.build.display.id]: []\n"));
    driver.launch();

    QCOMPARE(driver.badge(), badge);
    QCOMPARE((QStringList{driver.info("model"), driver.info("build"), driver.info("screen"), driver.info("installed")}), info);
    QCOMPARE(driver.installButton()->text(), buttonTitle);
    QVERIFY(driver.installButton()->isEnabled());
}

void TestAppWindow::overlappingScansLastCompletionWins()
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
    QVERIFY(driver.refreshButton()->isEnabled());
    driver.refreshButton()->click();
    QVERIFY(driver.refreshButton()->isEnabled());

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

void TestAppWindow::stepsAndBusyReachTheWidgets()
{
    InstallerDriver driver;
    driver.adb.setListing(kHeader + QStringLiteral("S1\tdevice\n"));
    driver.adb.addDevice({"S1"});
    driver.launch();

    driver.app->updateSteps(3, std::nullopt);
    const QColor green = QColor::fromRgbF(0.08f, 0.68f, 0.38f);
    QCOMPARE(driver.stepColours(), (QList<QColor>{green, green, green}));
    driver.app->updateSteps(0, std::nullopt);
    QCOMPARE(driver.steps(), kStartSteps);
    QCOMPARE(driver.stepColours(), (QList<QColor>{kPending, kPending, kPending}));

    driver.app->setBusy(true, QStringLiteral("x"));
    QVERIFY(!driver.installButton()->isEnabled());
    QVERIFY(driver.progressRunning());
    QCOMPARE(driver.log(), QStringLiteral("x"));
    driver.app->setBusy(false);
    QVERIFY(driver.installButton()->isEnabled());
    QVERIFY(!driver.progressRunning());
    QCOMPARE(driver.log(), QStringLiteral("x"));    // no text: the log stays
}

QTEST_MAIN(TestAppWindow)
#include "tst_appwindow.moc"
