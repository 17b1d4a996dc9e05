// What a keyboard or screen-reader user gets from the window: accessible names that follow
// the visible texts, captions as descriptions of the values, Tab in visual order, and
// Return answering an alert with its default button.

#include "installerdriver.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

QString accessibleText(QObject *object, QAccessible::Text which)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(which) : QStringLiteral("<no interface>");
}

} // namespace

class AccessibilityTest : public QObject
{
    Q_OBJECT

private slots:
    void controlsAreNamed();
    void labelsReadTheirVisibleText();
    void valuesAreDescribedByTheirCaptions_data();
    void valuesAreDescribedByTheirCaptions();
    void tabFollowsVisualOrder();
    void returnPressesTheDefaultButton_data();
    void returnPressesTheDefaultButton();
};

void AccessibilityTest::controlsAreNamed()
{
    InstallerDriver driver;
    driver.launchWithOneUnit();
    // The pop-up: its own name where the platform reads it, and on every platform the
    // heading above it as its label (Linux screen readers name a combo box that way).
    QCOMPARE(driver.popup()->accessibleName(), QStringLiteral("Устройство"));
    QAccessibleInterface *popup = QAccessible::queryAccessibleInterface(driver.popup());
    QStringList labels;
    for (const auto &relation : popup->relations(QAccessible::Label))
        labels << relation.first->text(QAccessible::Name);
    QCOMPARE(labels, QStringList{QStringLiteral("Подключённое устройство")});
    QCOMPARE(accessibleText(driver.refreshButton(), QAccessible::Name), QStringLiteral("Обновить"));
    QCOMPARE(accessibleText(driver.installButton(), QAccessible::Name), QStringLiteral("Установить Zorvik App"));

    // The install button's name follows its title through the whole run.
    driver.adb.reply({"-s", "S1", "install", "-r", driver.apkFile()}, QStringLiteral("Success\n"));
    QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);
    driver.pressInstall(QStringLiteral("Продолжить"));
    QVERIFY(done.wait(20000));
    QCOMPARE(driver.installButton()->text(), QStringLiteral("Готово — закрыть установщик"));
    QCOMPARE(accessibleText(driver.installButton(), QAccessible::Name), driver.installButton()->text());
}

void AccessibilityTest::labelsReadTheirVisibleText()
{
    InstallerDriver driver;
    driver.adb.setListing(QStringLiteral("List of devices attached\n\n"));
    driver.launch();
    QStringList names{QStringLiteral("statusBadge"), QStringLiteral("step1"), QStringLiteral("step2"),
                      QStringLiteral("step3")};
    for (const char *key : {"model", "android", "build", "screen", "installed"})
        names << QStringLiteral("value_") + QLatin1String(key);
    const auto check = [&] {
        for (const QString &name : names) {
            QLabel *label = driver.label(name);
            QVERIFY2(label, qPrintable(name));
            QCOMPARE(accessibleText(label, QAccessible::Name), label->text());
        }
        auto *log = driver.app->mainWindow()->findChild<QPlainTextEdit *>(QStringLiteral("logView"));
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(log);
        QVERIFY(iface && iface->textInterface());
        QCOMPARE(iface->textInterface()->text(0, iface->textInterface()->characterCount()), log->toPlainText());
    };
    check();
    // After a scan that finds a unit every one of these texts has changed.
    driver.launchWithOneUnit();
    QCOMPARE(driver.info(QStringLiteral("model")), QStringLiteral("LI_AUTO HU_L9"));
    check();
}

void AccessibilityTest::valuesAreDescribedByTheirCaptions_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("caption");
    QTest::newRow("model") << "model" << "Модель";
    QTest::newRow("android") << "android" << "Android / API";
    QTest::newRow("build") << "build" << "Сборка";
    QTest::newRow("screen") << "screen" << "Экран";
    QTest::newRow("installed") << "installed" << "Zorvik App";
}

void AccessibilityTest::valuesAreDescribedByTheirCaptions()
{
    QFETCH(QString, key);
    QFETCH(QString, caption);
    InstallerDriver driver;
    driver.launchWithOneUnit();
    QCOMPARE(driver.label(QStringLiteral("caption_") + key)->text(), caption);
    QLabel *value = driver.label(QStringLiteral("value_") + key);
    QCOMPARE(accessibleText(value, QAccessible::Description), caption);
    // The description adds to the value; it must not replace it.
    QCOMPARE(accessibleText(value, QAccessible::Name), value->text());
}

void AccessibilityTest::tabFollowsVisualOrder()
{
    InstallerDriver driver;
    driver.launchWithOneUnit();
    QWidget *window = driver.app->mainWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    driver.popup()->setFocus();
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, QStringList({"devicePopup", "refreshButton", "installButton", "logView", "devicePopup"}));
}

void AccessibilityTest::returnPressesTheDefaultButton_data()
{
    QTest::addColumn<bool>("apkIntact");
    QTest::addColumn<QString>("alertText");
    QTest::addColumn<int>("installCalls");
    QTest::newRow("confirmation: Return continues") << true << "Установить Zorvik App?" << 1;
    QTest::newRow("damaged APK: Return closes") << false << "Проверка Zorvik App не пройдена" << 0;
}

void AccessibilityTest::returnPressesTheDefaultButton()
{
    QFETCH(bool, apkIntact);
    QFETCH(QString, alertText);
    QFETCH(int, installCalls);
    InstallerDriver driver(true, apkIntact ? std::nullopt : std::optional<QString>(QString(64, QLatin1Char('0'))));
    driver.launchWithOneUnit();
    driver.adb.reply({"-s", "S1", "install", "-r", driver.apkFile()}, QStringLiteral("Success\n"));
    driver.adb.clearCalls();
    QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);

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
    if (installCalls)
        QVERIFY(done.wait(20000));
    int installs = 0;
    for (const QStringList &call : driver.adb.calls())
        installs += call.contains(QStringLiteral("install"));
    QCOMPARE(installs, installCalls);
}

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
