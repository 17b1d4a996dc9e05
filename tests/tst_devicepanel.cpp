#include "devicepanel.h"

#include <QTest>

namespace {
DeviceInfo ready(const QString &serial, const QString &manufacturer, const QString &model)
{
    DeviceInfo device(serial, QStringLiteral("device"));
    device.manufacturer = manufacturer;
    device.model = model;
    return device;
}
DeviceInfo row(const QString &serial, const QString &state)
{
    return DeviceInfo(serial, state);
}
} // namespace

class TestDevicePanel : public QObject
{
    Q_OBJECT

private slots:
    void noReadyDevice_data();
    void noReadyDevice();
    void readyDevices();
    void headUnitTest_data();
    void headUnitTest();
    void infoTexts();
};

void TestDevicePanel::noReadyDevice_data()
{
    QTest::addColumn<DeviceList>("listed");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("badge");
    QTest::addColumn<bool>("noPermission");
    QTest::newRow("empty listing") << DeviceList{} << QStringLiteral("Устройство не найдено")
                                   << QStringLiteral("●  ПОДКЛЮЧИТЕ АВТОМОБИЛЬ") << false;
    QTest::newRow("unauthorized") << DeviceList{row("A", "unauthorized")} << QStringLiteral("Нужно подтвердить USB-отладку")
                                  << QStringLiteral("●  ОЖИДАЕТСЯ ПОДТВЕРЖДЕНИЕ") << false;
    QTest::newRow("offline only") << DeviceList{row("A", "offline")} << QStringLiteral("Устройство не найдено")
                                  << QStringLiteral("●  ОЖИДАЕТСЯ ПОДТВЕРЖДЕНИЕ") << false;
    QTest::newRow("Unauthorized in other case") << DeviceList{row("A", "Unauthorized")} << QStringLiteral("Устройство не найдено")
                                                << QStringLiteral("●  ОЖИДАЕТСЯ ПОДТВЕРЖДЕНИЕ") << false;
    QTest::newRow("unauthorized after offline") << DeviceList{row("A", "offline"), row("B", "unauthorized")}
                                                << QStringLiteral("Нужно подтвердить USB-отладку")
                                                << QStringLiteral("●  ОЖИДАЕТСЯ ПОДТВЕРЖДЕНИЕ") << false;
    // Linux, when this user may not open the unit's USB device; the wording varies by adb.
    const QString see = QStringLiteral("; see [http://developer.android.com/tools/device.html]");
    QTest::newRow("no permissions, plugdev wording")
        << DeviceList{row("0123456789ABCDEF", "no permissions (user in plugdev group; are your udev rules wrong?)" + see)}
        << QStringLiteral("Устройство не найдено") << QStringLiteral("●  ОЖИДАЕТСЯ ПОДТВЕРЖДЕНИЕ") << true;
    QTest::newRow("no permissions, udev wording, beside an unauthorized unit")
        << DeviceList{row("A", "unauthorized"), row("B", "no permissions (missing udev rules? user is in the plugdev group)" + see)}
        << QStringLiteral("Нужно подтвердить USB-отладку") << QStringLiteral("●  ОЖИДАЕТСЯ ПОДТВЕРЖДЕНИЕ") << true;
    QTest::newRow("No permissions in other case") << DeviceList{row("A", "No permissions")}
        << QStringLiteral("Устройство не найдено") << QStringLiteral("●  ОЖИДАЕТСЯ ПОДТВЕРЖДЕНИЕ") << false;
}

void TestDevicePanel::noReadyDevice()
{
    QFETCH(DeviceList, listed);
    QFETCH(QString, item);
    QFETCH(QString, badge);
    QFETCH(bool, noPermission);
    const ScanView view = scanView({}, listed);
    QVERIFY(!view.anyReady);
    QCOMPARE(view.popupItems, QStringList{item});
    QCOMPARE(view.badge, badge);
    if (!noPermission) {
        QCOMPARE(view.logText, QStringLiteral("Подключите кабель и подтвердите запрос RSA на экране автомобиля."));
    } else {
        // Says what is wrong and what to do, not to approve RSA, which can't help here.
        QVERIFY(view.logText.startsWith(QStringLiteral("У этого компьютера нет прав на USB-устройство автомобиля.")));
        for (const char *step : {"TAG+=\"uaccess\"", "udevadm control --reload-rules", "Переподключите кабель", "«Обновить»"})
            QVERIFY2(view.logText.contains(QString::fromUtf8(step)), step);
        QVERIFY(!view.logText.contains(QStringLiteral("RSA")));
    }
}

void TestDevicePanel::readyDevices()
{
    const DeviceList devices{ready("S1", "LI_AUTO", "HU_L9"), ready("S2", "Google", "Pixel 7")};
    const ScanView view = scanView(devices, devices + DeviceList{row("S3", "unauthorized")});
    QVERIFY(view.anyReady);
    QCOMPARE(view.popupItems, (QStringList{QStringLiteral("LI_AUTO HU_L9  ·  S1"), QStringLiteral("Google Pixel 7  ·  S2")}));
    QCOMPARE(view.badge, QStringLiteral("●  УСТРОЙСТВО ГОТОВО"));
    QCOMPARE(view.logText, QStringLiteral("Найдено устройств: 2. Выполнена только read-only диагностика."));
}

void TestDevicePanel::headUnitTest_data()
{
    QTest::addColumn<QString>("manufacturer");
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("headUnit");
    QTest::newRow("LI_AUTO") << QStringLiteral("LI_AUTO") << QStringLiteral("X01") << true;
    QTest::newRow("mixed case") << QStringLiteral("Li_Auto") << QStringLiteral("X01") << true;
    QTest::newRow("lower-case hu_ in the model") << QStringLiteral("Qualcomm") << QStringLiteral("hu_8155") << true;
    QTest::newRow("LI AUTO with a blank") << QStringLiteral("LI AUTO") << QStringLiteral("X01") << false;
    QTest::newRow("no match across the blank") << QStringLiteral("LI") << QStringLiteral("_AUTO") << false;
    QTest::newRow("phone") << QStringLiteral("samsung") << QStringLiteral("SM-G991B") << false;
    QTest::newRow("no-value marks") << QStringLiteral("—") << QStringLiteral("—") << false;
    // Upper-casing is the full Unicode one: the dotless ı of a Turkish locale must not matter.
    QTest::newRow("hu_ after ß expansion") << QStringLiteral("straße") << QStringLiteral("hu_1") << true;
}

void TestDevicePanel::headUnitTest()
{
    QFETCH(QString, manufacturer);
    QFETCH(QString, model);
    QFETCH(bool, headUnit);
    const DeviceView view = deviceView(ready("S", manufacturer, model));
    QCOMPARE(view.badge, headUnit ? QStringLiteral("●  МУЛЬТИМЕДИА LI AUTO ГОТОВА") : QStringLiteral("●  ANDROID-УСТРОЙСТВО ГОТОВО"));
}

void TestDevicePanel::infoTexts()
{
    DeviceInfo device = ready("S", "LI_AUTO", "HU_L9");
    device.android = QStringLiteral("11");
    device.sdk = QStringLiteral("30");
    device.build = QString();
    device.size = QStringLiteral(" \t1920x720\u00A0");
    device.density = QString();
    device.installed = true;
    DeviceView view = deviceView(device);
    QCOMPARE(view.infoTexts.keys(), (QStringList{"android", "build", "installed", "model", "screen"}));
    QCOMPARE(view.infoTexts["model"], QStringLiteral("LI_AUTO HU_L9"));
    QCOMPARE(view.infoTexts["android"], QStringLiteral("Android 11  ·  API 30"));
    QCOMPARE(view.infoTexts["build"], QStringLiteral("—"));
    QCOMPARE(view.infoTexts["screen"], QStringLiteral("1920x720  ·   dpi"));
    QCOMPARE(view.infoTexts["installed"], QStringLiteral("Установлен — будет обновлён"));
    QCOMPARE(view.installTitle, QStringLiteral("Обновить Zorvik App"));

    device.installed = false;
    device.size = QString();
    device.build = QStringLiteral(" ");
    view = deviceView(device);
    QCOMPARE(view.infoTexts["screen"], QStringLiteral("  ·   dpi"));
    QCOMPARE(view.infoTexts["build"], QStringLiteral(" "));    // only an empty build is replaced
    QCOMPARE(view.infoTexts["installed"], QStringLiteral("Не установлен"));
    QCOMPARE(view.installTitle, QStringLiteral("Установить Zorvik App"));
}

QTEST_GUILESS_MAIN(TestDevicePanel)
#include "tst_devicepanel.moc"
