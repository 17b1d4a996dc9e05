// Faults that a real head unit and a real adb produce now and then, driven through the
// whole program: adb that never ends. The window must end idle.

#include "installerdriver.h"
#include "windowtexts.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace expected;

namespace {

// As every completion leaves the window: nothing spins, the pop-up answers, and the install
// button is usable exactly when a ready unit is listed.
void verifyIdle(const InstallerDriver &driver)
{
    QVERIFY(!driver.progressRunning());
    QVERIFY(driver.popup()->isEnabled());
    QCOMPARE(driver.installButton()->isEnabled(), !driver.app->readyDevices().isEmpty());
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void neverEndingAdbKeepsTheWindowResponsive();
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
    // It holds until the test removes `held`, or a failing test its folder.
    driver.adb.replyWithScript(probeCalls("S1").at(1), QStringLiteral("if mkdir \"$R/once\" 2>/dev/null; then echo $$ > \"$R/pid\"; touch '%1'; "
                                                                      "while [ -e '%1' ]; do sleep 0.05; done; fi\necho HU_L9").arg(held));
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

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
