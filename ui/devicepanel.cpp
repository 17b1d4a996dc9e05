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

const QString kNoWifiLinkBadge = QStringLiteral("●  НЕТ СВЯЗИ С АВТОМОБИЛЕМ ПО WI-FI");

QString networkLinkLostText(const QString &address)
{
    return QStringLiteral("Автомобиль %1 не отвечает по сети. Проверьте, что автомобиль и компьютер в одной "
                          "сети Wi-Fi и что на автомобиле включена отладка по сети.")
        .arg(address);
}

// adbd on the unit hangs, or its USB link does: a replug or a restart of the head unit cures it.
QString silentUnitText(const QString &serial)
{
    return QStringLiteral("Устройство %1 не отвечает на команды. Переподключите кабель или перезапустите "
                          "мультимедийную систему, затем нажмите «Обновить».")
        .arg(serial);
}

// The adb server is shared by every program on this computer that talks to Android devices;
// one of them can hold it so that it answers nobody.
QString wedgedServerText()
{
    return QStringLiteral("adb на этом компьютере не отвечает. Закройте другие программы, которые работают с "
                          "Android-устройствами, и нажмите «Обновить».");
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

ScanView scanView(const adb::ScanResult &scan, bool udevRuleInstalled, const QStringList &connecting)
{
    DeviceList listed;
    for (const DeviceInfo &row : scan.listed) {
        if (!connecting.contains(row.serial()))
            listed.append(row);
    }
    QStringList silent;
    for (const QString &serial : scan.unanswered) {
        if (!connecting.contains(serial))
            silent << serial;
    }

    if (!scan.ready.isEmpty()) {
        // Every ready unit is shown, one being connected too: item k of the pop-up must stay
        // the k-th ready unit, which is what an install is started on.
        ScanView view{{}, QStringLiteral("●  УСТРОЙСТВО ГОТОВО"),
                      QStringLiteral("Найдено устройств: ") + QString::number(scan.ready.size())
                          + QStringLiteral(". Выполнена только read-only диагностика."),
                      true};
        for (const DeviceInfo &device : scan.ready)
            view.popupItems << popupTitle(device);
        if (!silent.isEmpty())
            view.logText += QStringLiteral("\nНе отвечает: ") + silent.join(QStringLiteral(", ")) + u'.';
        return view;
    }

    const auto firstRow = [&listed](const auto &test) -> const DeviceInfo * {
        const auto found = std::find_if(listed.cbegin(), listed.cend(), test);
        return found == listed.cend() ? nullptr : &*found;
    };
    const auto waitsForAllow = [](const DeviceInfo &row) {
        return row.state() == QLatin1String("unauthorized") || row.state() == QLatin1String("authorizing");
    };
    const QString waiting = QStringLiteral("●  ОЖИДАЕТСЯ ПОДТВЕРЖДЕНИЕ");
    const QString notFound = QStringLiteral("Устройство не найдено");
    const QString approve = QStringLiteral("Нужно подтвердить USB-отладку");
    const QString silentItem = QStringLiteral("Устройство не отвечает");
    const QString cableAndRsa = QStringLiteral("Подключите кабель и подтвердите запрос RSA на экране автомобиля.");
    const bool anyWaits = firstRow(waitsForAllow) != nullptr;

    // Linux: adb sees the unit but may not open its USB device, and lists it as
    //     SERIAL<TAB>no permissions (missing udev rules? user is in the plugdev group); see [...]
    // with wording that varies by adb version. Approving RSA on the car can't help then.
    if (firstRow([](const DeviceInfo &row) { return row.state().startsWith(QLatin1String("no permissions")); }))
        return {{anyWaits ? approve : notFound}, QStringLiteral("●  НЕТ ДОСТУПА К USB"), noUsbPermissionText(udevRuleInstalled)};
    if (anyWaits) {
        // A unit reached over Wi-Fi has no cable to plug in; it shows its question on its screen.
        const bool networkUnitAsks = firstRow([&](const DeviceInfo &row) {
            return adb::isNetworkSerial(row.serial()) && waitsForAllow(row);
        });
        return {{approve}, waiting, networkUnitAsks ? adb::networkAuthorizationText() : cableAndRsa};
    }
    // A network unit that stops answering is a link that went, never a cable.
    if (!silent.isEmpty()) {
        const QString &serial = silent.first();
        if (adb::isNetworkSerial(serial))
            return {{silentItem}, kNoWifiLinkBadge, networkLinkLostText(serial)};
        return {{silentItem}, QStringLiteral("●  АВТОМОБИЛЬ НЕ ОТВЕЧАЕТ"), silentUnitText(serial)};
    }
    if (const DeviceInfo *row = firstRow([](const DeviceInfo &row) {
            return adb::isNetworkSerial(row.serial()) && row.state() == QLatin1String("offline");
        }))
        return {{notFound}, kNoWifiLinkBadge, networkLinkLostText(row->serial())};
    if (!listed.isEmpty())
        return {{notFound}, waiting, cableAndRsa};

    // A carried adb that can't run (a missing library: exit 127) lists nothing either; the
    // cable is not to blame then, nor is the installer when the server it talks to hangs. A
    // server that failed to start but still lists a unit is taken at its listing.
    const QString badge = QStringLiteral("●  ПОДКЛЮЧИТЕ АВТОМОБИЛЬ");
    if (scan.serverWedged)
        return {{notFound}, badge, wedgedServerText()};
    if (scan.listed.isEmpty() && scan.startServer.status != 0)
        return {{notFound}, badge, adbBrokenText(scan.startServer)};
    return {{notFound}, badge, cableAndRsa};
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
