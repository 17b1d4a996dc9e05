#include "devicepanel.h"

#include "textrules.h"

#include <QDir>

#include <algorithm>

namespace {
const QString kSeparator = QStringLiteral("  ·  ");
}

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

ScanView scanView(const DeviceList &ready, const DeviceList &listed, bool udevRuleInstalled)
{
    ScanView view;
    if (ready.isEmpty()) {
        const bool waitsForApproval = std::any_of(listed.cbegin(), listed.cend(), [](const DeviceInfo &row) {
            return row.state() == QLatin1String("unauthorized");
        });
        view.popupItems = {waitsForApproval ? QStringLiteral("Нужно подтвердить USB-отладку")
                                            : QStringLiteral("Устройство не найдено")};
        view.badge = listed.isEmpty() ? QStringLiteral("●  ПОДКЛЮЧИТЕ АВТОМОБИЛЬ")
                                      : QStringLiteral("●  ОЖИДАЕТСЯ ПОДТВЕРЖДЕНИЕ");
        // Linux: adb sees the unit but may not open its USB device, and lists it as
        //     SERIAL<TAB>no permissions (missing udev rules? user is in the plugdev group); see [...]
        // with wording that varies by adb version. Approving RSA on the car can't help then.
        const bool lacksPermission = std::any_of(listed.cbegin(), listed.cend(), [](const DeviceInfo &row) {
            return row.state().startsWith(QLatin1String("no permissions"));
        });
        view.logText = lacksPermission ? noUsbPermissionText(udevRuleInstalled)
                                       : QStringLiteral("Подключите кабель и подтвердите запрос RSA на экране автомобиля.");
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
