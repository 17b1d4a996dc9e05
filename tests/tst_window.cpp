// What a person sees of the window and reaches with a keyboard or a screen reader, checked as
// rules over every widget in each state rather than as copies of the frames and texts the
// window sets, so they hold in whichever fonts the machine resolves.

#include "installerdriver.h"
#include "networkunit.h"
#include "wifidialog.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLayout>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

namespace {

QString accessibleText(QObject *object, QAccessible::Text which = QAccessible::Name)
{
    return QAccessible::queryAccessibleInterface(object)->text(which);
}

// Measured in the widget's own font as Qt resolved it: a word too long to wrap widens the
// bounding rectangle past the box.
bool fits(const QWidget *widget, const QString &text, int flags)
{
    const QRect box = widget->contentsRect();
    const QRect needed = QFontMetrics(widget->font()).boundingRect(box, flags, text);
    return needed.width() <= box.width() && needed.height() <= box.height();
}

// Every text the dialog shows now fits its frame, and says to a screen reader what it shows.
void checkDialogTexts(WifiDialog &dialog)
{
    dialog.layout()->activate();
    for (QLabel *label : dialog.findChildren<QLabel *>()) {
        if (!label->isVisibleTo(&dialog))
            continue;
        QVERIFY2(!label->text().isEmpty(), qPrintable(label->objectName()));
        QVERIFY2(fits(label, label->text(), Qt::TextWordWrap), qPrintable(label->objectName() + ": " + label->text()));
    }
    for (QAbstractButton *button : dialog.findChildren<QAbstractButton *>()) {
        if (button->isVisibleTo(&dialog))
            QCOMPARE(accessibleText(button), button->text());
    }
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void invariantsHoldInEveryState_data()
    {
        QTest::addColumn<QString>("listing");
        QTest::addColumn<QSize>("logoSize");
        QTest::addColumn<QString>("install");   // what adb prints for the install, which then ends 0; none: no install
        // The logo is optional; every other suite runs without one.
        QTest::newRow("no unit, small logo") << "" << QSize(60, 20) << "";
        QTest::newRow("unauthorized, wide logo") << "S1\tunauthorized\n" << QSize(840, 70) << "";
        QTest::newRow("one unit, tall logo") << "S1\tdevice\n" << QSize(100, 300) << "";
        QTest::newRow("installed by keyboard") << "S1\tdevice\n" << QSize(420, 140) << "Success\n";
        // A failed install's outcome is read from its first line, where the explanation is,
        // however many lines adb printed after it.
        QTest::newRow("refused after a long log") << "S1\tdevice\n" << QSize(420, 140)
            << QStringLiteral("Performing Streamed Install\n").repeated(40) + "Failure [INSTALL_FAILED_INSUFFICIENT_STORAGE]\n";
    }

    void invariantsHoldInEveryState()
    {
        QFETCH(QString, listing);
        QFETCH(QSize, logoSize);
        QFETCH(QString, install);
        InstallerDriver driver;
        QImage logo(logoSize, QImage::Format_ARGB32);
        logo.fill(Qt::blue);
        QVERIFY(logo.save(driver.adb.resourceDir() + QStringLiteral("/logo.png")));
        FakeAdb::Device unit(QStringLiteral("S1"));
        unit.model = QStringLiteral("<b>HU</b>&amp;L9"); // adb's text: shown as it came, never rendered
        driver.adb.addDevice(unit);
        driver.adb.setListing(QStringLiteral("List of devices attached\n") + listing);
        driver.launch();
        const bool refused = install.contains(QLatin1String("Failure"));
        if (!install.isEmpty()) {
            driver.adb.reply({"-s", "S1", "install", "-r", driver.apkFile()}, install);
            // Return presses the default button, which goes ahead.
            QStringList alerts;
            QVERIFY(driver.installAndWait(QStringLiteral("\r"), &alerts));
            QCOMPARE(alerts, QStringList{QStringLiteral("Установить Zorvik App?")});
            QCOMPARE(driver.badge(), refused ? QStringLiteral("●  УСТАНОВКА НЕ ВЫПОЛНЕНА") : QStringLiteral("●  УСТАНОВКА ЗАВЕРШЕНА — МОЖНО ЗАКРЫТЬ"));
        }
        if (listing.contains(QLatin1String("\tdevice"))) {
            QVERIFY(driver.info(QStringLiteral("model")).contains(unit.model));
            QCOMPARE(driver.popupItems(), QStringList{"LI_AUTO " + unit.model + "  ·  S1"});
        }
        QWidget *window = driver.app->mainWindow();
        QCOMPARE(window->minimumSize(), window->maximumSize());

        // Layering is done by parenting (the logo and texts on the side panel, the rows on the
        // card, whose shadow is an unnamed widget beneath it), so no visible siblings may overlap.
        // Our widgets are all named; Qt's own parts of the combo box and the log are unnamed or
        // named "qt_...", and are left to Qt.
        QList<QWidget *> own = window->findChildren<QWidget *>();
        own.removeIf([window](const QWidget *widget) {
            const QString name = widget->objectName();
            return widget->window() != window || name.isEmpty() || name.startsWith(QLatin1String("qt_"));
        });
        for (QWidget *widget : std::as_const(own)) {
            const QString name = widget->objectName();
            QVERIFY2(widget->parentWidget()->rect().contains(widget->geometry()), qPrintable(name));
            for (QWidget *other : std::as_const(own))
                if (other != widget && other->parent() == widget->parent() && widget->isVisibleTo(window)
                    && other->isVisibleTo(window))
                    QVERIFY2(!widget->geometry().intersects(other->geometry()),
                             qPrintable(name + " overlaps " + other->objectName()));
            if (auto *label = qobject_cast<QLabel *>(widget)) {
                QVERIFY2(fits(label, label->text(), Qt::TextWordWrap), qPrintable(name + ": " + label->text()));
                QCOMPARE(accessibleText(label), label->text());
                // Within a pixel: fractional screen scales round the logo to whole device pixels.
                const QSizeF shown = label->pixmap().deviceIndependentSize();
                QVERIFY(shown.width() <= label->width() + 1 && shown.height() <= label->height() + 1);
                if (name.startsWith(QLatin1String("value_")))
                    QCOMPARE(accessibleText(label, QAccessible::Description),
                             driver.label("caption_" + name.mid(6))->text());
            }
            if (auto *button = qobject_cast<QPushButton *>(widget)) {
                QVERIFY2(fits(button, button->text(), Qt::TextSingleLine), qPrintable(button->text()));
                QCOMPARE(accessibleText(button), button->text());
            }
        }

        // Frames that mean something: the side panel fills the left edge, the right column shares
        // one left edge.
        QCOMPARE(window->findChild<QWidget *>("sidePanel")->geometry(), QRect(0, 0, 330, 650));
        for (const char *name : {"devicePopup", "statusBadge", "infoCard", "installButton", "progress", "logView"})
            QCOMPARE(window->findChild<QWidget *>(name)->x(), driver.label(QStringLiteral("heading"))->x());

        // Linux screen readers read the popup's current item, and what it is from its label.
        const auto labels = QAccessible::queryAccessibleInterface(driver.popup())->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.first().first->object(), driver.label(QStringLiteral("heading")));

        // The log is monospaced, and shows every text from its first line.
        auto *log = driver.child<QPlainTextEdit>(QStringLiteral("logView"));
        const QFontMetrics metrics(log->font());
        for (const char *glyph : {"W", "0", "—", "Ж", ".", " "})
            QCOMPARE(metrics.horizontalAdvance(QString::fromUtf8(glyph)), metrics.horizontalAdvance(u'i'));
        QVERIFY(log->verticalScrollBar()->maximum() > 0 || !refused);
        QCOMPARE(log->verticalScrollBar()->value(), 0);
        QVERIFY(log->cursorRect().top() >= 0 && log->cursorRect().top() < metrics.height());

        // Tab visits the enabled controls in the order they are laid out, and comes round again.
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QStringList expected;
        for (const char *name : {"devicePopup", "refreshButton", "wifiButton", "installButton", "logView"})
            if (window->findChild<QWidget *>(name)->isEnabled())
                expected << QLatin1String(name);
        expected << expected.first();
        window->findChild<QWidget *>(expected.first())->setFocus();
        QStringList visited{QApplication::focusWidget()->objectName()};
        while (visited.size() < expected.size()) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, expected);
    }

    // The reason follows every keystroke, and only an address that passes can be sent.
    void wifiDialogSaysWhyAndForgets()
    {
        WifiDialog dialog;
        QSignalSpy forgotten(&dialog, &WifiDialog::forgetRequested);
        dialog.setRememberedAddress(QStringLiteral("192.168.1.50:5555"));
        dialog.show();
        auto *field = dialog.findChild<QLineEdit *>(QStringLiteral("wifiAddress"));
        auto *reason = dialog.findChild<QLabel *>(QStringLiteral("wifiAddressReason"));
        auto *forget = dialog.findChild<QPushButton *>(QStringLiteral("forgetAddress"));
        auto *connectButton = dialog.findChild<QPushButton *>(QStringLiteral("connectButton"));
        QCOMPARE(field->text(), QStringLiteral("192.168.1.50:5555"));
        QVERIFY(forget->isVisible() && connectButton->isEnabled() && !reason->isVisible());
        checkDialogTexts(dialog);

        forget->click();
        QCOMPARE(forgotten.size(), 1);
        QVERIFY(field->text().isEmpty() && !forget->isVisible());
        QVERIFY2(!reason->isVisible(), "nothing is said about an empty field");
        QVERIFY(!connectButton->isEnabled());

        QTest::keyClicks(field, QStringLiteral("192,168,1,50"));
        QCOMPARE(reason->text(), QStringLiteral("Используйте точки, а не запятые: 192.168.1.50"));
        QCOMPARE(accessibleText(field, QAccessible::Description), reason->text());
        QVERIFY(reason->isVisible() && !connectButton->isEnabled());
        checkDialogTexts(dialog);
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY2(dialog.isVisible() && dialog.result() == QDialog::Rejected, "Return sends nothing that is refused");

        field->clear();
        QTest::keyClicks(field, QStringLiteral("10.0.0.7"));
        QVERIFY(!reason->isVisible() && connectButton->isEnabled());
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.request()->address, QStringLiteral("10.0.0.7:5555"));
        QVERIFY(!dialog.request()->pairs());
        QCOMPARE(forgotten.size(), 1);
    }

    // The three fields of pairing by code; the connect address starts as the pairing host.
    void wifiDialogPairing_data()
    {
        QTest::addColumn<QString>("pairing");       // typed into "Адрес и порт для сопряжения"
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("connectKeys");   // typed after what the connect field holds
        QTest::addColumn<QString>("connect");       // what the connect field then holds
        QTest::addColumn<bool>("accepted");
        QTest::newRow("all given") << "192.168.1.50:37123" << "123456" << "41235" << "192.168.1.50:41235" << true;
        QTest::newRow("connect port left out") << "192.168.1.50:37123" << "123456" << "" << "192.168.1.50:" << false;
        QTest::newRow("pairing port left out") << "192.168.1.50" << "123456" << "41235" << "192.168.1.50:41235" << false;
        QTest::newRow("five digits") << "192.168.1.50:37123" << "12345" << "41235" << "192.168.1.50:41235" << false;
        QTest::newRow("IPv6 host") << "[fe80::a:1]:37123" << "654321" << "41235" << "[fe80::a:1]:41235" << true;
    }

    void wifiDialogPairing()
    {
        QFETCH(QString, pairing);
        QFETCH(QString, code);
        QFETCH(QString, connectKeys);
        QFETCH(bool, accepted);
        WifiDialog dialog;
        dialog.show();
        // Whether adb pairs is learnt while the dialog is open; until then, or when it can't,
        // the way is there but can't be chosen, and only "can't" says why.
        auto *way = dialog.findChild<QCheckBox *>(QStringLiteral("pairingWay"));
        auto *why = dialog.findChild<QLabel *>(QStringLiteral("pairingUnavailable"));
        auto *plainField = dialog.findChild<QLineEdit *>(QStringLiteral("wifiAddress"));
        QCOMPARE(way->accessibleName(), QStringLiteral("Сопряжение по коду (Android 11 и новее)"));
        QVERIFY(way->isVisible() && !way->isEnabled() && !why->isVisible());
        dialog.setPairingSupport(PairingSupport::Unavailable);
        QVERIFY(way->isVisible() && !way->isEnabled() && why->isVisible());
        QCOMPARE(why->text().split(u'\n'),
                 (QStringList{"Для сопряжения по коду нужен adb 30 или новее.",
                              "В Debian 12 установите пакет adb из bookworm-backports (в Debian 13 подходящий уже есть) и "
                              "перезапустите установщик."}));
        checkDialogTexts(dialog);
        dialog.setPairingSupport(PairingSupport::Available);
        QVERIFY(way->isEnabled() && !why->isVisible());
        way->click();
        QVERIFY(!plainField->isVisible());
        QCOMPARE(dialog.focusWidget()->objectName(), QStringLiteral("pairingAddress"));
        // Each field in the order a person fills it, and the name a screen reader gives it.
        QList<QLineEdit *> fields;
        for (const auto &[name, spoken, typed] : {std::tuple("pairingAddress", "Адрес и порт для сопряжения", pairing),
                                                  std::tuple("pairingCode", "Код сопряжения", code),
                                                  std::tuple("connectAddress", "Адрес и порт для подключения", connectKeys)}) {
            fields << dialog.findChild<QLineEdit *>(QLatin1String(name));
            QCOMPARE(fields.last()->accessibleName(), QString::fromUtf8(spoken));
            QTest::keyClicks(fields.last(), typed);
        }
        QLineEdit *connectField = fields.last();
        QTEST(connectField->text(), "connect");
        QVERIFY(connectField->isVisible());
        checkDialogTexts(dialog);
        QTest::keyClick(fields[1], Qt::Key_Return);
        QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
        QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("connectButton"))->isEnabled(), accepted);
        QCOMPARE(bool(dialog.request()), accepted);
        if (!accepted) {
            // Should the answer turn, the plain way comes back rather than fields that can't be sent.
            dialog.setPairingSupport(PairingSupport::Unavailable);
            QVERIFY(!way->isChecked() && plainField->isVisible());
            return;
        }
        const WifiRequest request = *dialog.request();
        QVERIFY(request.pairs());
        QCOMPARE(request.pairingAddress, adb::normalisedAddress(pairing).value());
        QCOMPARE(request.pairingCode, code);
        QTEST(request.address, "connect");

        // An address the person typed for the connect is theirs: the pairing host no longer fills it.
        connectField->selectAll();
        QTest::keyClicks(connectField, QStringLiteral("10.0.0.9:40000"));
        QTest::keyClicks(fields[0], QStringLiteral("9"));
        QCOMPARE(connectField->text(), QStringLiteral("10.0.0.9:40000"));
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
