// Faults that a real head unit and a real adb produce now and then, driven through the
// whole program: adb that never ends, a unit that drops off the bus, an APK that can't be
// read, and a scan that overlaps an install. The window must end idle, and nothing that
// changes a unit may run unless the APK passed its check and the user confirmed.

#include "installerdriver.h"
#include "windowtexts.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace expected;

namespace {

const QString kGone = QStringLiteral("error: device 'S1' not found");

// As every completion leaves the window: nothing spins, the pop-up answers, and the install
// button is usable exactly when a ready unit is listed.
void verifyIdle(const InstallerDriver &driver)
{
    QVERIFY(!driver.progressRunning());
    QVERIFY(driver.popup()->isEnabled());
    QCOMPARE(driver.installButton()->isEnabled(), !driver.app->readyDevices().isEmpty());
}

// Shell code that blocks until the test removes `held`, or a failing test its folder.
QString hold(const QString &held)
{
    return QStringLiteral("touch '%1'; while [ -e '%1' ]; do sleep 0.05; done; ").arg(held);
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void neverEndingAdbKeepsTheWindowResponsive();
    void installThatCannotWorkChangesNothing_data();
    void installThatCannotWorkChangesNothing();
    void scanDuringInstall();
};

void TestFaults::neverEndingAdbKeepsTheWindowResponsive()
{
    // The model probe of the first scan hangs; later runs answer at once. The scan gives the
    // unit up after its limit and says so; clicks meanwhile start no second adb.
    AppDelegate::TestSetup setup;
    setup.timing.scanCommandMs = 500;
    InstallerDriver driver(true, std::nullopt, setup);
    driver.adb.setListing(kHeader + QStringLiteral("S1\tdevice\n"));
    driver.adb.addDevice({"S1"});
    const QString held = QDir(driver.adb.resourceDir()).filePath(QStringLiteral("held"));
    driver.adb.replyWithScript(probeCalls("S1").at(1),
                               QStringLiteral("if mkdir \"$R/once\" 2>/dev/null; then echo $$ > \"$R/pid\"; %1fi\necho HU_L9").arg(hold(held)));
    QSignalSpy done(driver.app.get(), &AppDelegate::refreshCompleted);
    driver.app->applicationDidFinishLaunching();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(held), 20000);
    driver.refreshButton()->click();
    driver.refreshButton()->click();

    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000);
    verifyIdle(driver);
    QCOMPARE(driver.badge(), QStringLiteral("●  АВТОМОБИЛЬ НЕ ОТВЕЧАЕТ"));
    QCOMPARE(driver.popupItems(), QStringList{QStringLiteral("Устройство не отвечает")});
    QCOMPARE(driver.log(), QStringLiteral("Устройство S1 не отвечает на команды. Переподключите кабель или перезапустите "
                                          "мультимедийную систему, затем нажмите «Обновить»."));
    QCOMPARE(driver.adb.calls().count(QStringList{"devices"}), 1);
    QFile pidFile(QDir(driver.adb.resourceDir()).filePath(QStringLiteral("pid")));
    QVERIFY(pidFile.open(QIODevice::ReadOnly));
    const QString pid = QString::fromLatin1(pidFile.readAll().trimmed());
    QTRY_VERIFY2(!QFile::exists(QStringLiteral("/proc/%1/cmdline").arg(pid)), "the hung probe still runs");

    driver.refresh();
    verifyIdle(driver);
    QCOMPARE(driver.popupItems(), QStringList{QStringLiteral("LI_AUTO HU_L9  ·  S1")});
}

void TestFaults::installThatCannotWorkChangesNothing_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("alert");
    QTest::newRow("unit gone after the scan") << "vanished" << QStringLiteral("Установить Zorvik App?");
    QTest::newRow("directory in the APK's place") << "directory" << QStringLiteral("Проверка Zorvik App не пройдена");
    // The check runs afresh on each press: a pass once is no pass later.
    QTest::newRow("APK gone after a passing check") << "later" << QStringLiteral("Проверка Zorvik App не пройдена");
}

void TestFaults::installThatCannotWorkChangesNothing()
{
    QFETCH(QString, fault);
    QFETCH(QString, alert);
    InstallerDriver driver;
    driver.launchWithOneUnit();
    if (fault == u"later")
        QCOMPARE(driver.pressInstall(QStringLiteral("Отмена")).value(0), QStringLiteral("Установить Zorvik App?"));
    if (fault == u"vanished")
        driver.adb.setFallbackScript(QStringLiteral("echo \"%1\"; exit 1").arg(kGone));
    else
        QVERIFY(QFile::remove(driver.apkFile()) && QDir().mkdir(driver.apkFile()));
    const QStringList before = driver.snapshot();
    QCOMPARE(driver.pressInstall(QStringLiteral("Продолжить")).value(0), alert);

    if (fault == u"vanished") {
        // The failed install is the end of it: neither the permission nor the launch is tried.
        QTRY_COMPARE_WITH_TIMEOUT(driver.badge(), kFailedBadge, 20000);
        QCOMPARE(driver.log(), QStringLiteral("Ошибка установки:\n") + kGone + u'\n');
        QCOMPARE(driver.adb.calls(), (QList<QStringList>{{"-s", "S1", "install", "-r", driver.apkFile()}}));
    } else {
        QTest::qWait(100);
        QCOMPARE(driver.snapshot(), before);
        QCOMPARE(driver.adb.calls(), QList<QStringList>{});
    }
    verifyIdle(driver);
}

void TestFaults::scanDuringInstall()
{
    InstallerDriver driver;
    driver.launchWithOneUnit();
    const QString held = QDir(driver.adb.resourceDir()).filePath(QStringLiteral("held"));
    driver.adb.replyWithScript({"-s", "S1", "install", "-r", driver.apkFile()}, hold(held) + QStringLiteral("echo Success"));
    // The overlapping scan lists a second unit; pm still says S1 has no app.
    driver.adb.setListing(kHeader + QStringLiteral("S1\tdevice\nS2\tdevice\n"));
    driver.adb.addDevice({"S2"});
    QCOMPARE(driver.pressInstall(QStringLiteral("Продолжить")).size(), 1);
    // Should the button ever be usable mid-install, a second press still starts nothing.
    driver.installButton()->setEnabled(true);
    QCOMPARE(driver.pressInstall(QStringLiteral("Продолжить")).size(), 0);

    // A scan that ends while the unit is being changed shows what it found, but the window
    // stays busy and goes on telling about the install.
    driver.refresh();
    QCOMPARE(driver.popup()->count(), 2);
    QCOMPARE(driver.log(), QStringLiteral("Устанавливаем Zorvik App…"));
    QVERIFY(!driver.installButton()->isEnabled() && !driver.popup()->isEnabled() && driver.progressRunning());
    QVERIFY(QFile::remove(held));
    QTRY_COMPARE_WITH_TIMEOUT(driver.installButton()->text(), kCloseTitle, 20000);
    verifyIdle(driver);
    QVERIFY(driver.app->readyDevices().at(0).installed);
    // Install, permission and launch, once and for S1 only: S2 is only read.
    QStringList changed;
    for (const QStringList &call : driver.adb.calls()) {
        if (call.size() > 1 && !probeCalls(call.at(1)).contains(call))
            changed << call.at(1);
    }
    QCOMPARE(changed, (QStringList{"S1", "S1", "S1"}));
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
