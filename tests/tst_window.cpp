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
#include <QSignalSpy>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

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

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void invariantsHoldInEveryState_data();
    void invariantsHoldInEveryState();
    void logIsMonospacedAndShowsAnOutcomeFromItsStart();
};

void WindowTest::invariantsHoldInEveryState_data()
{
    QTest::addColumn<QString>("listing");
    QTest::addColumn<QSize>("logoSize");
    QTest::addColumn<bool>("install");
    // The logo is optional; every other suite runs without one.
    QTest::newRow("no unit, small logo") << "" << QSize(60, 20) << false;
    QTest::newRow("unauthorized, wide logo") << "S1\tunauthorized\n" << QSize(840, 70) << false;
    QTest::newRow("one unit, tall logo") << "S1\tdevice\n" << QSize(100, 300) << false;
    QTest::newRow("installed by keyboard") << "S1\tdevice\n" << QSize(420, 140) << true;
}

void WindowTest::invariantsHoldInEveryState()
{
    QFETCH(QString, listing);
    QFETCH(QSize, logoSize);
    QFETCH(bool, install);
    InstallerDriver driver;
    QImage logo(logoSize, QImage::Format_ARGB32);
    logo.fill(Qt::blue);
    QVERIFY(logo.save(driver.adb.resourceDir() + QStringLiteral("/logo.png")));
    FakeAdb::Device unit(QStringLiteral("S1"));
    unit.model = QStringLiteral("<b>HU</b>&amp;L9"); // adb's text: shown as it came, never rendered
    driver.adb.addDevice(unit);
    driver.adb.setListing(QStringLiteral("List of devices attached\n") + listing);
    driver.launch();
    if (install) {
        const QStringList installCall{"-s", "S1", "install", "-r", driver.apkFile()};
        driver.adb.reply(installCall, QStringLiteral("Success\n"));
        // Return presses the default button, which goes ahead.
        QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);
        QCOMPARE(driver.pressInstall(QStringLiteral("\r")), QStringList{QStringLiteral("Установить Zorvik App?")});
        QVERIFY(done.wait(20000));
        QVERIFY(driver.adb.calls().contains(installCall));
    }
    if (listing.contains(QLatin1String("\tdevice")))
        QVERIFY(driver.info(QStringLiteral("model")).contains(unit.model));
    QWidget *window = driver.app->mainWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("Zorvik App Installer"));
    QCOMPARE(window->minimumSize(), QSize(980, 650));
    QCOMPARE(window->maximumSize(), QSize(980, 650));

    // Layering is done by parenting (the logo and texts on the side panel, the rows on the
    // card, whose shadow is an effect, not a widget), so no visible siblings may overlap.
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

void WindowTest::logIsMonospacedAndShowsAnOutcomeFromItsStart()
{
    InstallerDriver driver;
    driver.launchWithOneUnit();
    auto *log = driver.app->mainWindow()->findChild<QPlainTextEdit *>(QStringLiteral("logView"));
    const QFontMetrics metrics(log->font());
    for (const char *glyph : {"W", "0", "—", "Ж", ".", " "})
        QCOMPARE(metrics.horizontalAdvance(QString::fromUtf8(glyph)), metrics.horizontalAdvance(u'i'));

    // A failed install's outcome is read from its first line, where the explanation is,
    // however many lines adb printed after it.
    driver.adb.reply({"-s", "S1", "install", "-r", driver.apkFile()},
                     QStringLiteral("Performing Streamed Install\n").repeated(40)
                         + "adb: failed to install x.apk: Failure [INSTALL_FAILED_INSUFFICIENT_STORAGE]\n", 1);
    QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);
    driver.pressInstall(QStringLiteral("Продолжить"));
    QVERIFY(done.wait(20000));
    QScrollBar *bar = log->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), 0);
    QVERIFY(log->cursorRect().top() >= 0 && log->cursorRect().top() < metrics.height());
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
