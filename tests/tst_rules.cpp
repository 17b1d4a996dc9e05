#include "devicepanel.h"
#include "logrules.h"
#include "networkunit.h"
#include "steprules.h"
#include "textrules.h"

#include <QTest>

Q_DECLARE_METATYPE(adb::ScanResult)

namespace {
DeviceInfo unit(const QString &state, const QString &manufacturer = {}, const QString &model = {})
{
    DeviceInfo device(QStringLiteral("S"), state);
    device.manufacturer = manufacturer;
    device.model = model;
    return device;
}
const QString kWaiting = QStringLiteral("●  ОЖИДАЕТСЯ ПОДТВЕРЖДЕНИЕ");
const QString kNotFound = QStringLiteral("Устройство не найдено");
const QString kApprove = QStringLiteral("Нужно подтвердить USB-отладку");
const QString kRsa = QStringLiteral("Подключите кабель и подтвердите запрос RSA на экране автомобиля.");
const QString kUdev = QStringLiteral("udevadm control --reload-rules");
const QString kHeadUnit = QStringLiteral("●  МУЛЬТИМЕДИА LI AUTO ГОТОВА");
const QString kNoUsb = QStringLiteral("●  НЕТ ДОСТУПА К USB");
const QString kConnect = QStringLiteral("●  ПОДКЛЮЧИТЕ АВТОМОБИЛЬ");
const QString kSilent = QStringLiteral("Устройство не отвечает");
const QString kNoAnswer = QStringLiteral("●  АВТОМОБИЛЬ НЕ ОТВЕЧАЕТ");
const QString kNoWifi = QStringLiteral("●  НЕТ СВЯЗИ С АВТОМОБИЛЕМ ПО WI-FI");
const QString kAllowOnCar = QStringLiteral("Подтвердите отладку на экране автомобиля.");
DeviceInfo row(const QString &serial, const QString &state) { return DeviceInfo(serial, state); }
} // namespace

class TestRules : public QObject
{
    Q_OBJECT

private slots:
    // Lines come back joined by "|"; a ready unit is given as "MANUFACTURER|MODEL".
    void text_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const QString sdk = QStringLiteral("[ro.build.version.sdk]: ");
        QTest::newRow("lines: every newline kind, empty ones dropped") << "lines" << "\na\u000Bb\u000Cc\rd\u0085e\u2028f\u2029g\n\n" << "a|b|c|d|e|f|g";
        QTest::newRow("property: listing, CR LF") << "property" << "[ro.a]: [x]\r\n" + sdk + "[\u3000 12\u00A0]\r\n" << "12";
        QTest::newRow("property: empty value") << "property" << sdk + "[]" << "";
        QTest::newRow("property: no output") << "property" << "" << "—";
        QTest::newRow("property: longer name") << "property" << "[ro.build.version.sdk_full]: [99]" << "—";
        QTest::newRow("last: last line wins") << "last" << "Physical size: 800x480\r\nOverride size: 640x480" << "640x480";
        QTest::newRow("last: only the first colon splits") << "last" << "key::value" << ":value";
        QTest::newRow("last: a colon with a combining mark") << "last" << "a:\u0301b" << "a:\u0301b";
        QTest::newRow("badge: LI_AUTO, any case") << "badge" << "Li_Auto|X01" << kHeadUnit;
        QTest::newRow("badge: hu_ in the model") << "badge" << "Qualcomm|hu_8155" << kHeadUnit;
        QTest::newRow("badge: HU inside a maker's name") << "badge" << "HUAWEI|ELS-NX9" << "●  ANDROID-УСТРОЙСТВО ГОТОВО";
        QTest::newRow("badge: not across the blank") << "badge" << "LI|_AUTO" << "●  ANDROID-УСТРОЙСТВО ГОТОВО";
        // Errors are no answer ("unit gone mid-probe" in tst_adb); any line of the answer may be.
        QTest::newRow("installed: a later line, trimmed") << "installed" << "Error: Could not access the Package Manager.\r\n package:/a.apk" << "1";
        // The no-permissions log's first line, for a program in this folder.
        QTest::newRow("package: its folder, as a path ends") << "package" << "/opt/zorvik-installer/" << "Правило udev для автомобиля уже установлено вместе с установщиком. Переподключите кабель и нажмите «Обновить».";
        // Six ASCII digits and nothing else.
        for (const char *code : {"012345", "12345", "1234567", "123 456", "123456\n", "١٢٣٤٥٦", ""})
            QTest::addRow("code: %s", code) << "code" << QString::fromUtf8(code) << QString::number(QByteArray(code) == "012345");
        QTest::newRow("package: a folder that only starts alike") << "package" << "/opt/zorvik-installer-build" << "У этого компьютера нет прав на USB-устройство автомобиля.";
        // Steps a, b, c, `input` completed and the current one, each as its text, then W
        // (white), G (grey) or S (success green).
        QTest::newRow("steps: found") << "steps" << "2|2" << "✓   a:W|✓   b:W|3   c:W";
        QTest::newRow("steps: current on a finished step") << "steps" << "2|1" << "✓   a:W|✓   b:W|3   c:G";
        QTest::newRow("steps: done") << "steps" << "3|" << "✓   a:S|✓   b:S|✓   c:S";
        // Why the Wi-Fi dialog refuses what is typed, live under the field; "" while it passes
        // or is blank. "refusal, port": the fields of wireless debugging, where the port must be typed.
        const QString commas = QStringLiteral("Используйте точки, а не запятые: ");
        const QString shape = QStringLiteral("Адрес вида 192.168.1.50 или 192.168.1.50:5555");
        QTest::newRow("refusal: empty") << "refusal" << "" << "";
        QTest::newRow("refusal: blanks only") << "refusal" << "  " << "";
        QTest::newRow("refusal: passes") << "refusal" << "192.168.1.50" << "";
        QTest::newRow("refusal: numeric pad's commas") << "refusal" << "192,168,1,50" << commas + "192.168.1.50";
        QTest::newRow("refusal: commas, a port and blanks") << "refusal" << " 10,0,0,7:5556 " << commas + "10.0.0.7:5556";
        QTest::newRow("refusal: comma fix fails the rule") << "refusal" << "192,168,1,256" << commas + "192.168.1.50";
        QTest::newRow("refusal: junk") << "refusal" << "http://car" << shape;
        QTest::newRow("refusal: octal part") << "refusal" << "192.168.001.50" << shape;
        QTest::newRow("refusal: port left out") << "refusal, port" << "192.168.1.50" << "Адрес и порт вида 192.168.1.50:37123";
        QTest::newRow("refusal: port given") << "refusal, port" << "192.168.1.50:37123" << "";
        QTest::newRow("refusal: comma fix without the port") << "refusal, port" << "192,168,1,50" << commas + "192.168.1.50:37123";
        // Which writer may replace what the log holds, by the kind held (scan message, connect
        // progress, install progress, an unread outcome): A (automatic scan), S (asked scan),
        // P (the person's own action), then "+" when the log keeps its end in view for it.
        QTest::newRow("log: scan message") << "log" << "0" << "ASP";
        QTest::newRow("log: connect progress") << "log" << "1" << "ASP+";
        QTest::newRow("log: install progress") << "log" << "2" << "P+";
        QTest::newRow("log: outcome") << "log" << "3" << "SP";
    }
    void text()
    {
        QFETCH(QString, rule);
        QFETCH(QString, input);
        const auto steps = [&] {
            QStringList shown;
            for (const StepLook &look : stepLooks({"a", "b", "c"}, input.section(u'|', 0, 0).toInt(),
                                                  input.endsWith(u'|') ? std::nullopt : std::optional(input.section(u'|', 1).toInt())))
                shown << look.text + u':' + (look.colour == StepColour::White ? u'W' : look.colour == StepColour::Green ? u'S' : u'G');
            return shown.join(u'|');
        };
        const auto replacedBy = [&] {
            const auto held = LogKind(input.toInt());
            QString letters;
            for (const auto &[writer, letter] : {std::pair(LogWriter::AutomaticScan, u'A'), std::pair(LogWriter::AskedScan, u'S'),
                                                 std::pair(LogWriter::PersonAction, u'P')}) {
                if (mayReplaceLog(held, writer))
                    letters += letter;
            }
            return logFollowsEnd(held) ? letters + u'+' : letters;
        };
        const adb::PortRule portRule = rule.endsWith("port") ? adb::PortRule::Required : adb::PortRule::DefaultsTo5555;
        const QString result = rule == "lines"      ? adb::splitPieces(input, adb::isNewlineCharacter).join(u'|')
                               : rule == "property" ? adb::propertyFromOutput(input, QStringLiteral("ro.build.version.sdk"))
                               : rule == "last"     ? adb::lastValue(input)
                               : rule == "installed" ? QString::number(adb::listsPackage(input))
                               : rule == "code"     ? QString::number(adb::isPairingCode(input))
                               : rule == "steps"    ? steps()
                               : rule == "log"      ? replacedBy()
                               : rule.startsWith("refusal") ? adb::addressRefusal(input, portRule)
                               : rule == "package"
                                   ? scanView({{}, {unit("no permissions")}, {}, {}, false}, runsFromPackage(input)).logText.section(u'\n', 0, 0)
                               : rule == "badge"
                                   ? deviceView(unit("device", input.section(u'|', 0, 0), input.section(u'|', 1))).badge
                                   : QStringLiteral("no such rule");
        QTEST(result, "expected");
        // A reason is given exactly when the rule refuses something typed.
        if (rule.startsWith("refusal"))
            QCOMPARE(result.isEmpty(), input.trimmed().isEmpty() || adb::normalisedAddress(input, portRule).has_value());
    }

    void scan_data()
    {
        QTest::addColumn<adb::ScanResult>("scan");
        QTest::addColumn<QStringList>("connecting");
        QTest::addColumn<QString>("item");      // the first
        QTest::addColumn<QString>("badge");
        QTest::addColumn<QString>("log");       // a part of it
        const DeviceList two{unit("device", "LI_AUTO", "HU_L9"), unit("device", "Google", "Pixel 7")};
        const DeviceInfo plugdev = unit("no permissions (user in plugdev group; are your udev rules wrong?); see [http://d.android.com]");
        const DeviceInfo udev = unit("no permissions (missing udev rules? user is in the plugdev group); see [http://d.android.com]");
        const QString loader = "adb: error while loading shared libraries: libusb-1.0.so.0: cannot open shared object file";
        const QString usb = QStringLiteral("R58N123");
        const QString net = QStringLiteral("192.168.1.50:5555");
        const DeviceInfo usbSilent = row(usb, "device");
        const DeviceInfo netSilent = row(net, "device");
        const QString usbSilentLog = "Устройство R58N123 не отвечает на команды. Переподключите кабель или перезапустите "
                                     "мультимедийную систему, затем нажмите «Обновить».";
        const QString netLog = "Автомобиль 192.168.1.50:5555 не отвечает по сети. Проверьте, что автомобиль и компьютер в одной "
                               "сети Wi-Fi и что на автомобиле включена отладка по сети.";
        const QString wedged = "adb на этом компьютере не отвечает. Закройте другие программы, которые работают с "
                               "Android-устройствами, и нажмите «Обновить».";
        const QString oneReady = "Найдено устройств: 1. Выполнена только read-only диагностика.";
        const QString first = "LI_AUTO HU_L9  ·  S", readyBadge = "●  УСТРОЙСТВО ГОТОВО";
        const auto add = [](const char *name, const DeviceList &listed, const QString &item, const QString &badge, const QString &log,
                            const QStringList &unanswered = {}, const QStringList &connecting = {}, const DeviceList &ready = {},
                            const adb::CommandResult &startServer = {}, bool wedged = false) {
            QTest::newRow(name) << adb::ScanResult{ready, listed, startServer, unanswered, wedged} << connecting << item << badge << log;
        };
        add("nothing listed", {}, kNotFound, kConnect, kRsa);
        add("adb does not run", {}, kNotFound, kConnect, "Не удалось запустить adb из установщика:\n" + loader + "\nПереустановите установщик",
            {}, {}, {}, {127, loader + "\n"});
        add("server failed, a unit listed all the same", {unit("unauthorized")}, kApprove, kWaiting, kRsa, {}, {}, {}, {1, "x"});
        add("no permissions, plugdev wording", {plugdev}, kNotFound, kNoUsb, kUdev);
        add("two ready", two + DeviceList{unit("unauthorized")}, first, readyBadge,
            "Найдено устройств: 2. Выполнена только read-only диагностика.", {}, {}, two);

        // Units that did not answer in time, and the adb server that did not.
        add("USB unit silent", {usbSilent}, kSilent, kNoAnswer, usbSilentLog, {usb});
        add("network unit silent: no cable advice", {netSilent}, kSilent, kNoWifi, netLog, {net});
        add("two silent, one ready", {two.first(), usbSilent, netSilent}, first, readyBadge,
            oneReady + "\nНе отвечает: R58N123, 192.168.1.50:5555.", {usb, net}, {}, {two.first()});
        add("server hangs: not the reinstall text", {}, kNotFound, kConnect, wedged, {}, {}, {}, {-1, "", true}, true);
        add("devices hangs after a failed start", {}, kNotFound, kConnect, wedged, {}, {}, {}, {1, "x"}, true);
        add("network unit authorizing", {row(net, "authorizing")}, kApprove, kWaiting, kAllowOnCar);

        // Which state is told when several are listed and none is ready: first match first.
        add("1 no permissions over all", {row(net, "offline"), usbSilent, row("S2", "unauthorized"), udev}, kApprove, kNoUsb, kUdev, {usb});
        add("2 waiting for Allow over silence", {row(net, "offline"), usbSilent, row("S2", "authorizing")}, kApprove, kWaiting, kRsa, {usb});
        add("3 silence over a dropped link", {row("10.0.0.9:5555", "offline"), row("S3", "host"), usbSilent}, kSilent, kNoAnswer,
            usbSilentLog, {usb});
        add("4 dropped link over other states", {row(usb, "offline"), row("S3", "recovery"), row(net, "offline")}, kNotFound, kNoWifi, netLog);
        add("5 other states", {row("S3", "recovery"), row(usb, "offline")}, kNotFound, kWaiting, kRsa);

        // An address being connected says nothing yet, whatever it is listed as.
        add("connecting, offline: as if unlisted", {row(net, "offline")}, kNotFound, kConnect, kRsa, {}, {net});
        add("connecting, silent: as if unlisted", {netSilent}, kNotFound, kConnect, kRsa, {net}, {net});
        add("connecting, its handshake under way, a USB unit asks", {row(net, "authorizing"), row("S2", "unauthorized")}, kApprove,
            kWaiting, kRsa, {}, {net});
        add("connecting, another address dropped", {row(net, "unauthorized"), row("10.0.0.9:5555", "offline")}, kNotFound, kNoWifi,
            "Автомобиль 10.0.0.9:5555 не отвечает по сети.", {}, {net});
        add("connecting, a unit ready, silent left out", {two.first(), netSilent}, first, readyBadge, oneReady, {net}, {net}, {two.first()});
        add("connecting, adb lists only it after a failed start", {row(net, "offline")}, kNotFound, kConnect, kRsa, {}, {net}, {}, {1, "x"});
    }
    void scan()
    {
        QFETCH(adb::ScanResult, scan);
        QFETCH(QStringList, connecting);
        QFETCH(QString, log);
        const ScanView view = scanView(scan, false, connecting);
        QCOMPARE(view.anyReady, !scan.ready.isEmpty());
        QCOMPARE(view.popupItems.size(), qMax(scan.ready.size(), 1));
        QTEST(view.popupItems.first(), "item");
        QTEST(view.badge, "badge");
        QVERIFY2(view.logText.contains(log), qPrintable(view.logText));
        // Approving RSA on the car can't help a computer that may not open the USB device.
        QCOMPARE(view.logText.contains("RSA"), log == kRsa);
        // The log names no unit it is not about, and no address being connected.
        QCOMPARE(view.logText.contains("Не отвечает"), log.contains("Не отвечает"));
        for (const QString &address : connecting)
            QVERIFY2(!view.logText.contains(address), qPrintable(view.logText));
    }

    void deviceTexts()
    {
        DeviceInfo unit = ::unit("device", "LI_AUTO", "HU_L9");
        unit.android = QStringLiteral("11");
        unit.build = QString();
        unit.size = QStringLiteral(" \t1920x720\u00A0");
        unit.installed = true;
        const DeviceView view = deviceView(unit);
        QStringList shown;
        for (const QString &key : infoKeys())
            shown << view.infoTexts.value(key, QStringLiteral("(none)"));
        QCOMPARE(shown << view.badge << view.installTitle,
                 (QStringList{"LI_AUTO HU_L9", "Android 11  ·  API —", "—", "1920x720  ·  — dpi",
                              "Установлен — будет обновлён", kHeadUnit, "Обновить Zorvik App"}));
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
