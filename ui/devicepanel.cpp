#include "devicepanel.h"

#include "textrules.h"
#include "networkunit.h"
#include "trackdevices.h"

#include <QDir>

#include <algorithm>

namespace {

const QString kSeparator = QStringLiteral("  ·  ");

// What to do when the carried adb does not run: its own words (a missing library, say) or
// why it could not be started, with the only cure, a fresh copy of the installer.
QString adbBrokenText(const adb::CommandResult &startServer)
{
    // Invalid UTF-8 or a silent crash leave no words; the status is then all there is.
    const QString words = adb::trimmed(startServer.output);
    return QStringLiteral("Не удалось запустить adb из установщика:\n")
           + (words.isEmpty() ? QStringLiteral("код выхода %1").arg(startServer.status) : words)
           + QStringLiteral("\nПереустановите установщик (в Debian — вместе с пакетом adb).");
}

} // namespace

QString noUsbPermissionText(bool udevRuleInstalled)
{
    // adb keeps a unit it opened without permission that way until the cable is replugged.
    if (udevRuleInstalled)
        return QStringLiteral("Правило udev для автомобиля уже установлено вместе с установщиком. "
                              "Переподключите кабель и нажмите «Обновить».");
    return QStringLiteral(
        "У этого компьютера нет прав на USB-устройство автомобиля.\n"
        "1. Создайте (через sudo) файл /etc/udev/rules.d/51-android-adb.rules со строкой:\n"
        "SUBSYSTEM==\"usb\", ENV{ID_USB_INTERFACES}==\"*:ff420?:*\", TAG+=\"uaccess\"\n"
        "2. Выполните в терминале: sudo udevadm control --reload-rules\n"
        "3. Переподключите кабель и нажмите «Обновить».");
}

bool runsFromPackage(const QString &programDir)
{
    return QDir::cleanPath(programDir) == QLatin1String("/opt/zorvik-installer");
}

const QStringList &infoKeys()
{
    static const QStringList keys{QStringLiteral("model"), QStringLiteral("android"),
                                  QStringLiteral("build"), QStringLiteral("screen"),
                                  QStringLiteral("installed")};
    return keys;
}

QString popupTitle(const DeviceInfo &device)
{
    return device.manufacturer + QLatin1Char(' ') + device.model + kSeparator + device.serial();
}

bool isHeadUnit(const DeviceInfo &device)
{
    // QString::toUpper is full Unicode upper-casing and ignores the user's locale.
    const QString text = (device.manufacturer + QLatin1Char(' ') + device.model).toUpper();
    return text.contains(QLatin1String("LI_AUTO")) || text.contains(QLatin1String("HU_"));
}

ScanView scanView(const adb::ScanResult &scan, bool udevRuleInstalled)
{
    const DeviceList &ready = scan.ready;
    const DeviceList &listed = scan.listed;
    ScanView view;
    if (ready.isEmpty()) {
        const bool waitsForApproval = std::any_of(listed.cbegin(), listed.cend(), [](const DeviceInfo &row) {
            return row.state() == QLatin1String("unauthorized");
        });
        // Linux: adb sees the unit but may not open its USB device, and lists it as
        //     SERIAL<TAB>no permissions (missing udev rules? user is in the plugdev group); see [...]
        // with wording that varies by adb version. Approving RSA on the car can't help then.
        const bool lacksPermission = std::any_of(listed.cbegin(), listed.cend(), [](const DeviceInfo &row) {
            return row.state().startsWith(QLatin1String("no permissions"));
        });
        // A unit reached over Wi-Fi has no cable to plug in; it shows its question on its screen.
        const bool networkUnitAsks = std::any_of(listed.cbegin(), listed.cend(), [](const DeviceInfo &row) {
            return adb::isNetworkSerial(row.serial()) && row.state() == QLatin1String("unauthorized");
        });
        view.popupItems = {waitsForApproval ? QStringLiteral("Нужно подтвердить USB-отладку")
                                            : QStringLiteral("Устройство не найдено")};
        view.badge = listed.isEmpty() ? QStringLiteral("●  ПОДКЛЮЧИТЕ АВТОМОБИЛЬ")
                     : lacksPermission ? QStringLiteral("●  НЕТ ДОСТУПА К USB")
                                       : QStringLiteral("●  ОЖИДАЕТСЯ ПОДТВЕРЖДЕНИЕ");
        // A carried adb that can't run (a missing library: exit 127) lists nothing either;
        // the cable is not to blame then. A server that failed to start but still lists a
        // unit is taken at its listing.
        if (listed.isEmpty() && scan.startServer.status != 0)
            view.logText = adbBrokenText(scan.startServer);
        else if (lacksPermission)
            view.logText = noUsbPermissionText(udevRuleInstalled);
        else if (networkUnitAsks)
            view.logText = adb::networkAuthorizationText();
        else
            view.logText = QStringLiteral("Подключите кабель и подтвердите запрос RSA на экране автомобиля.");
        return view;
    }
    view.anyReady = true;
    for (const DeviceInfo &device : ready)
        view.popupItems << popupTitle(device);
    view.badge = QStringLiteral("●  УСТРОЙСТВО ГОТОВО");
    view.logText = QStringLiteral("Найдено устройств: ") + QString::number(ready.size())
                   + QStringLiteral(". Выполнена только read-only диагностика.");
    return view;
}

DeviceView deviceView(const DeviceInfo &device)
{
    DeviceView view;
    view.infoTexts[QStringLiteral("model")] = device.manufacturer + QLatin1Char(' ') + device.model;
    view.infoTexts[QStringLiteral("android")] =
        QStringLiteral("Android ") + device.android + QStringLiteral("  ·  API ") + device.sdk;
    view.infoTexts[QStringLiteral("build")] = device.build.isEmpty() ? kNoValue : device.build;
    view.infoTexts[QStringLiteral("screen")] = adb::trimmedBlanks(device.size) + kSeparator
                                               + adb::trimmedBlanks(device.density) + QStringLiteral(" dpi");
    view.infoTexts[QStringLiteral("installed")] = device.installed
                                                      ? QStringLiteral("Установлен — будет обновлён")
                                                      : QStringLiteral("Не установлен");
    view.badge = isHeadUnit(device) ? QStringLiteral("●  МУЛЬТИМЕДИА LI AUTO ГОТОВА")
                                    : QStringLiteral("●  ANDROID-УСТРОЙСТВО ГОТОВО");
    view.installTitle = device.installed ? QStringLiteral("Обновить Zorvik App")
                                         : QStringLiteral("Установить Zorvik App");
    return view;
}
