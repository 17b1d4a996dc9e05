// What a person sees of the window and reaches with a keyboard or a screen reader, checked as
// rules over every widget in each state rather than as copies of the frames and texts the
// window sets, so they hold in whichever fonts the machine resolves.

#include "installerdriver.h"
#include "installerwindow.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

QString accessibleText(QObject *object, QAccessible::Text which = QAccessible::Name)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(which) : QStringLiteral("<no interface>");
}

// The text must fit in the widget's own font as Qt resolved it: a word too long to wrap
// widens the bounding rectangle past the box.
bool fits(const QWidget *widget, const QString &text, int flags)
{
    const QRect box = widget->contentsRect();
    const QRect needed = QFontMetrics(widget->font()).boundingRect(box, flags, text);
    return needed.width() <= box.width() && needed.height() <= box.height();
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void invariantsHoldInEveryState_data();
    void invariantsHoldInEveryState();
    void tabFollowsVisualOrder();
    void logIsMonospacedAndScrollsToItsEnd();
    void returnPressesTheDefaultButton_data();
    void returnPressesTheDefaultButton();
};

void WindowTest::invariantsHoldInEveryState_data()
{
    QTest::addColumn<QString>("listing");
    QTest::addColumn<QSize>("logoSize");
    QTest::addColumn<bool>("install");
    const QString header = QStringLiteral("List of devices attached\n");
    QTest::newRow("no unit, no logo") << header << QSize() << false;
    QTest::newRow("unauthorized, wide logo") << header + "S1\tunauthorized\n" << QSize(840, 70) << false;
    QTest::newRow("one unit, tall logo") << header + "S1\tdevice\n" << QSize(100, 300) << false;
    QTest::newRow("installed") << header + "S1\tdevice\n" << QSize(420, 140) << true;
}

void WindowTest::invariantsHoldInEveryState()
{
    QFETCH(QString, listing);
    QFETCH(QSize, logoSize);
    QFETCH(bool, install);
    InstallerDriver driver;
    if (logoSize.isValid()) {
        QImage logo(logoSize, QImage::Format_ARGB32);
        logo.fill(Qt::blue);
        QVERIFY(logo.save(driver.adb.resourceDir() + QStringLiteral("/logo.png")));
    }
    FakeAdb::Device unit(QStringLiteral("S1"));
    unit.model = QStringLiteral("<b>HU</b>&amp;L9"); // adb's text: shown as it came, never rendered
    driver.adb.addDevice(unit);
    driver.adb.setListing(listing);
    driver.launch();
    if (install) {
        driver.adb.reply({"-s", "S1", "install", "-r", driver.apkFile()}, QStringLiteral("Success\n"));
        QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);
        driver.pressInstall(QStringLiteral("Продолжить"));
        QVERIFY(done.wait(20000));
    }
    QWidget *window = driver.app->mainWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("Zorvik App Installer"));
    QCOMPARE(window->minimumSize(), QSize(980, 650));
    QCOMPARE(window->maximumSize(), QSize(980, 650));

    // Layering is done by parenting (the logo and texts on the side panel, the rows on the
    // card, whose shadow is an effect, not a widget), so no visible siblings may overlap.
    // Every widget of ours is named; Qt's own parts of the combo box and the log are not, or
    // are named "qt_...", and are left to Qt.
    QList<QWidget *> own;
    for (QWidget *widget : window->findChildren<QWidget *>())
        if (widget->window() == window && !widget->objectName().isEmpty()
            && !widget->objectName().startsWith(QLatin1String("qt_")))
            own << widget;
    for (QWidget *widget : std::as_const(own)) {
        const QString name = widget->objectName();
        QVERIFY2(widget->parentWidget()->rect().contains(widget->geometry()), qPrintable(name));
        for (QWidget *other : std::as_const(own))
            if (other != widget && other->parent() == widget->parent() && widget->isVisibleTo(window)
                && other->isVisibleTo(window))
                QVERIFY2(!widget->geometry().intersects(other->geometry()),
                         qPrintable(name + " overlaps " + other->objectName()));
        if (auto *label = qobject_cast<QLabel *>(widget); label && label->pixmap().isNull()) {
            QVERIFY2(fits(label, label->text(), Qt::TextWordWrap), qPrintable(name + ": " + label->text()));
            QCOMPARE(accessibleText(label), label->text());
        } else if (label) {
            const QSizeF shown = label->pixmap().deviceIndependentSize();
            QVERIFY(shown.width() <= label->width() + 1 && shown.height() <= label->height() + 1);
        }
        if (auto *button = qobject_cast<QPushButton *>(widget)) {
            QVERIFY2(fits(button, button->text(), Qt::TextSingleLine), qPrintable(button->text()));
            QCOMPARE(accessibleText(button), button->text());
        }
    }
    if (listing.contains(QLatin1String("\tdevice")))
        QVERIFY(driver.info(QStringLiteral("model")).contains(unit.model));
    // Frames that mean something: the side panel fills the left edge, the right column shares
    // one left edge, and its wide parts end where the refresh button ends.
    const auto frame = [&](const char *name) { return window->findChild<QWidget *>(QLatin1String(name))->geometry(); };
    QCOMPARE(frame("sidePanel"), QRect(0, 0, 330, 650));
    for (const char *name : {"heading", "subheading", "devicePopup", "statusBadge", "installButton", "progress", "logView"})
        QCOMPARE(frame(name).left(), frame("infoCard").left());
    for (const char *name : {"refreshButton", "installButton", "progress", "logView"})
        QCOMPARE(frame(name).right(), frame("infoCard").right());

    // Linux screen readers read the popup's current item, and what it is from its label.
    QVERIFY(!driver.popup()->accessibleName().isEmpty());
    QStringList labels;
    for (const auto &relation : QAccessible::queryAccessibleInterface(driver.popup())->relations(QAccessible::Label))
        labels << relation.first->text(QAccessible::Name);
    QCOMPARE(labels, QStringList{driver.label(QStringLiteral("heading"))->text()});
    for (const char *key : {"model", "android", "build", "screen", "installed"}) {
        const QString caption = driver.label(QStringLiteral("caption_") + QLatin1String(key))->text();
        QCOMPARE(accessibleText(driver.label(QStringLiteral("value_") + QLatin1String(key)), QAccessible::Description),
                 caption);
    }
}

void WindowTest::tabFollowsVisualOrder()
{
    InstallerDriver driver;
    driver.launchWithOneUnit();
    QVERIFY(QTest::qWaitForWindowActive(driver.app->mainWindow()));
    driver.popup()->setFocus();
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, QStringList({"devicePopup", "refreshButton", "installButton", "logView", "devicePopup"}));
}

void WindowTest::logIsMonospacedAndScrollsToItsEnd()
{
    InstallerDriver driver;
    driver.launchWithOneUnit();
    auto *log = driver.app->mainWindow()->findChild<QPlainTextEdit *>(QStringLiteral("logView"));
    const QFontMetrics metrics(log->font());
    for (const char *glyph : {"W", "0", "—", "Ж", ".", " "})
        QCOMPARE(metrics.horizontalAdvance(QString::fromUtf8(glyph)), metrics.horizontalAdvance(u'i'));

    QStringList lines;
    for (int i = 1; i <= 60; ++i)
        lines << QStringLiteral("строка %1").arg(i);
    replaceLogText(log, lines.join(u'\n'));
    QScrollBar *bar = log->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    QAccessibleTextInterface *text = QAccessible::queryAccessibleInterface(log)->textInterface();
    QCOMPARE(text->text(0, text->characterCount()), log->toPlainText());
}

void WindowTest::returnPressesTheDefaultButton_data()
{
    QTest::addColumn<bool>("apkIntact");
    QTest::addColumn<QString>("alertText");
    QTest::newRow("confirmation: Return continues") << true << "Установить Zorvik App?";
    QTest::newRow("damaged APK: Return closes") << false << "Проверка Zorvik App не пройдена";
}

void WindowTest::returnPressesTheDefaultButton()
{
    QFETCH(bool, apkIntact);
    QFETCH(QString, alertText);
    InstallerDriver driver(true, apkIntact ? std::nullopt : std::optional<QString>(QString(64, u'0')));
    driver.launchWithOneUnit();
    driver.adb.reply({"-s", "S1", "install", "-r", driver.apkFile()}, QStringLiteral("Success\n"));
    QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);

    // The alert runs its own event loop inside the click; a timer answers it from there.
    QStringList seen;
    QTimer answerer;
    answerer.setInterval(20);
    connect(&answerer, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        seen << box->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
    answerer.start();
    driver.installButton()->click();
    answerer.stop();

    QCOMPARE(seen, QStringList{alertText});
    if (apkIntact)
        QVERIFY(done.wait(20000));
    QCOMPARE(driver.adb.calls().contains({"-s", "S1", "install", "-r", driver.apkFile()}), apkIntact);
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
