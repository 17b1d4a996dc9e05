// The installer as a person meets it: the real AppDelegate and its window against a fake adb.

#include "installjob.h"
#include "installerdriver.h"
#include "runinstaller.h"
#include "windowtexts.h"

#include <QAccessible>
#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace expected;

namespace {

const char *const kChildMode = "ZORVIK_INSTALLER_CHILD";
const QString kContinue = QStringLiteral("Продолжить");
const QString kOneUnit = kHeader + QStringLiteral("S1\tdevice\n");

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// The child process: the installer as main() runs it, against the fake adb the parent set
// up, its window closed as soon as adb is known to hang.
int runChild(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString resourceDir = qEnvironmentVariable(kChildMode);
    AppDelegate delegate(AppDelegate::TestSetup{resourceDir, std::nullopt});
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (delegate.mainWindow() && QFile::exists(resourceDir + "/hanging"))
            delegate.mainWindow()->close();
    });
    closer.start(10);
    runInstaller(delegate);
}

} // namespace

class TestInstaller : public QObject
{
    Q_OBJECT

private slots:
    // What the install or its permission step printed, and what the window makes of it: a
    // success, or the log's header, the explanation when there is one, a blank line, then
    // adb's words unchanged.
    void adbVerdicts_data()
    {
        QTest::addColumn<QString>("sdk");       // empty: the install; else the permission step, on this unit
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("verdict");   // "ok", else how the explanation begins; empty: none
        const QString pushed = "Performing Push Install\r\nZorvikStore.apk: 1 file pushed, 0 skipped. 16.3 MB/s (12761 bytes)\r\n";
        const QString streamed = "adb: failed to install /r/ZorvikStore.apk: Failure [%1: Package ru.zorvik.store ...]\n";
        const QString refused = pushed + "Failure [%1]\r\n";
        const QString unknown = "Error: Unknown operation string: REQUEST_INSTALL_PACKAGES\r\n";
        const QString signature = "На автомобиле стоит Zorvik App с другой подписью.";
        const QString screen = "Автомобиль не разрешил установку.";
        QTest::newRow("push install, CR LF") << "" << 0 << pushed + "Success\r\n" << "ok";
        QTest::newRow("nothing printed, status 0") << "" << 0 << "" << "";
        QTest::newRow("blanks around Success") << "" << 0 << "\tpkg: /data/local/tmp/ZorvikStore.apk\n Success \n" << "ok";
        QTest::newRow("Success, then a Failure line") << "" << 0 << "Success\nFailure [INSTALL_FAILED_INTERNAL_ERROR]\n" << "";
        QTest::newRow("Success with status 1") << "" << 1 << "Success\n" << "";
        QTest::newRow("Success inside a longer line") << "" << 0 << "Success: pending reboot\n" << "";
        QTest::newRow("downgrade, streamed") << "" << 1 << streamed.arg("INSTALL_FAILED_VERSION_DOWNGRADE") << "На автомобиле уже стоит более новая";
        QTest::newRow("full, pushed") << "" << 0 << refused.arg("INSTALL_FAILED_INSUFFICIENT_STORAGE") << "На мультимедийной системе не хватает места.";
        QTest::newRow("signature, streamed") << "" << 1 << streamed.arg("INSTALL_FAILED_UPDATE_INCOMPATIBLE") << signature;
        QTest::newRow("shared user, pushed") << "" << 0 << refused.arg("INSTALL_FAILED_SHARED_USER_INCOMPATIBLE") << signature;
        QTest::newRow("older sdk, pushed") << "" << 0 << refused.arg("INSTALL_FAILED_OLDER_SDK") << "Эта версия Android слишком старая";
        QTest::newRow("restricted, streamed") << "" << 1 << streamed.arg("INSTALL_FAILED_USER_RESTRICTED") << screen;
        QTest::newRow("verification, pushed") << "" << 0 << refused.arg("INSTALL_FAILED_VERIFICATION_FAILURE") << screen;
        QTest::newRow("permission given, only a pty line end") << "30" << 0 << "\r\n" << "ok";
        QTest::newRow("unknown operation, API 25") << "25" << 0 << unknown << "На Android 7 и более ранних версиях это разрешение не нужно";
        QTest::newRow("unknown operation, API 26") << "26" << 0 << unknown << "";
        QTest::newRow("unknown operation, API not a number") << "2x" << 0 << unknown << "";
        QTest::newRow("silent, status 1, API 23") << "23" << 1 << "" << "";
    }

    void adbVerdicts()
    {
        QFETCH(QString, sdk);
        QFETCH(int, status);
        QFETCH(QString, output);
        QFETCH(QString, verdict);
        const adb::CommandResult result{status, output};
        const bool isInstall = sdk.isEmpty();
        QCOMPARE(isInstall ? install::installSucceeded(result) : install::grantSucceeded(result), verdict == "ok");
        if (verdict == "ok")
            return;
        const QString header = isInstall ? "Ошибка установки:\n" : "Zorvik App обновлён, но разрешение на установку APK не выдано:\n";
        const QString log = install::installOutcome({isInstall ? result : adb::CommandResult{0, "Success"}, result}, isInstall ? "23" : sdk).logText;
        QVERIFY2(log.startsWith(header + verdict) && log.endsWith((verdict.isEmpty() ? header : "\n\n") + output), qPrintable(log));
        QCOMPARE(log == header + output, verdict.isEmpty());
    }

    void refusalsChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("apk");        // the carried APK; null: missing
        QTest::addColumn<QString>("digest");        // the one built in; empty: the real APK's
        QTest::addColumn<QString>("pmPath");        // non-empty: the unit has the app
        QTest::addColumn<QString>("answer");        // empty: Escape
        QTest::addColumn<QString>("alert");
        // Hashed a megabyte at a time: several reads, the last one short.
        const QByteArray big(3 * 1024 * 1024 + 7, 'z');
        const QString digest = sha256(big);
        const QString spoilt = "Проверка Zorvik App не пройдена";
        QTest::newRow("install, Отмена") << big << digest << "" << "Отмена" << "Установить Zorvik App?";
        QTest::newRow("update, Escape") << big << digest << "package:/data/app/base.apk" << "" << "Обновить Zorvik App?";
        QTest::newRow("APK missing") << QByteArray() << "" << "" << kContinue << spoilt;
        QTest::newRow("APK empty") << QByteArray("") << "" << "" << kContinue << spoilt;
        QTest::newRow("digest expected in upper case") << big << digest.toUpper() << "" << kContinue << spoilt;
    }

    void refusalsChangeNothing()
    {
        QFETCH(QByteArray, apk);
        QFETCH(QString, digest);
        QFETCH(QString, pmPath);
        QFETCH(QString, answer);
        QFETCH(QString, alert);
        InstallerDriver driver(false, digest.isEmpty() ? std::nullopt : std::optional(digest));
        QFile file(driver.apkFile());
        QVERIFY(apk.isNull() || (file.open(QIODevice::WriteOnly) && file.write(apk) == apk.size() && file.flush()));
        FakeAdb::Device unit(QStringLiteral("S1"));
        unit.pmPath = pmPath;
        driver.launchWithOneUnit(kOneUnit, unit);
        const QStringList before = driver.snapshot();
        QCOMPARE(driver.pressInstall(answer), QStringList{alert});
        QCOMPARE(driver.snapshot(), before);
        QTest::qWait(100);
        QCOMPARE(driver.adb.calls(), QList<QStringList>{});
    }

    void unitShownThenUnplugged()
    {
        FakeAdb::Device unit(QStringLiteral("S1"));
        unit.manufacturer = QStringLiteral("<b>LI_AUTO</b>");
        unit.model = QStringLiteral("<i>HU</i>");
        InstallerDriver driver;
        driver.launchWithOneUnit(kOneUnit, unit);
        QCOMPARE(driver.popupItems(), QStringList{"<b>LI_AUTO</b> <i>HU</i>  ·  S1"});
        QCOMPARE(driver.badge(), "●  МУЛЬТИМЕДИА LI AUTO ГОТОВА");
        // What a screen reader reads is what the label draws: markup from the unit stays text.
        QCOMPARE(QAccessible::queryAccessibleInterface(driver.label("value_model"))->text(QAccessible::Name),
                 "<b>LI_AUTO</b> <i>HU</i>");
        QVERIFY(driver.installButton()->isEnabled());
        // Unplugged, then «Обновить»: the window is as if it had never seen the unit.
        driver.adb.setListing(kHeader);
        driver.refresh();
        InstallerDriver launchedWithout;
        launchedWithout.launchWithOneUnit(kHeader);
        QCOMPARE(driver.snapshot(), launchedWithout.snapshot());
    }

    void overlappingScansLastCompletionWins()
    {
        InstallerDriver driver;
        // The first "devices" is slow and lists SLOW; every later one answers at once with FAST.
        const QString counter = driver.adb.resourceDir() + "/devices-count";
        driver.adb.replyWithScript({"devices"}, QStringLiteral(
            "if [ ! -e '%1' ]; then touch '%1'; sleep 1; printf 'List of devices attached\\nSLOW\\tdevice\\n';"
            " else printf 'List of devices attached\\nFAST\\tdevice\\n'; fi").arg(counter));
        driver.adb.addDevice({QStringLiteral("SLOW")});
        driver.adb.addDevice({QStringLiteral("FAST")});
        QSignalSpy done(driver.app.get(), &AppDelegate::refreshCompleted);
        driver.app->applicationDidFinishLaunching();
        QTRY_VERIFY(QFile::exists(counter));
        driver.refreshButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);
        QCOMPARE(driver.popupItems(), QStringList{"LI_AUTO HU_L9  ·  FAST"});
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 10000);
        QCOMPARE(driver.popupItems(), QStringList{"LI_AUTO HU_L9  ·  SLOW"});
        QVERIFY(driver.installButton()->isEnabled());
    }

    void outcomes_data()
    {
        QTest::addColumn<QString>("install");   // what adb does for the install, and for appops
        QTest::addColumn<QString>("appops");
        QTest::addColumn<bool>("rescan");       // meanwhile a scan finds only another unit
        QTest::addColumn<QString>("log");
        const QString failed = "Ошибка установки:\n";
        const QString partial = "Zorvik App обновлён, но разрешение на установку APK не выдано:\n";
        const QString done = "Готово: Zorvik App обновлён, разрешение на установку APK выдано.";
        const QString refusal = "adb: failed to install x.apk: Failure [INSTALL_FAILED_INVALID_APK]";
        const QString unknown = "Error: Unknown operation string: REQUEST_INSTALL_PACKAGES";
        QTest::newRow("install refused on stderr, status 0") << "echo '" + refusal + "' >&2" << "" << false
                                                             << failed + refusal + '\n';
        QTest::newRow("appops refused, status 0") << "echo Success" << "printf '" + unknown + "\\r\\n'" << false
                                                  << partial + unknown + '\n';
        QTest::newRow("appops killed") << "echo Success" << "kill -9 $$" << false << partial;
        QTest::newRow("everything succeeds") << "echo 'Performing Streamed Install'; echo Success" << "" << false << done;
        QTest::newRow("unit replaced on show meanwhile") << "sleep 1; echo Success" << "" << true << done;
    }

    void outcomes()
    {
        QFETCH(QString, install);
        QFETCH(QString, appops);
        QFETCH(bool, rescan);
        QFETCH(QString, log);
        const bool installed = !log.startsWith("Ошибка");
        InstallerDriver driver;
        driver.launchWithOneUnit();
        const QColor firstBadgeColour = textColour(driver.label("statusBadge"));
        const QColor firstValueColour = textColour(driver.label("value_installed"));
        const QList<QStringList> job{
            {"-s", "S1", "install", "-r", driver.apkFile()},
            {"-s", "S1", "shell", "appops", "set", "ru.zorvik.store", "REQUEST_INSTALL_PACKAGES", "allow"},
            {"-s", "S1", "shell", "monkey", "-p", "ru.zorvik.store", "-c", "android.intent.category.LAUNCHER", "1"}};
        driver.adb.replyWithScript(job[0], install);
        if (!appops.isEmpty())
            driver.adb.replyWithScript(job[1], appops);

        QSignalSpy done(driver.app.get(), &AppDelegate::installCompleted);
        QCOMPARE(driver.pressInstall(kContinue).size(), 1);
        // Until the results are back the window is busy, and a second install can't start.
        QCOMPARE(driver.log(), "Устанавливаем Zorvik App…");
        QVERIFY(!driver.installButton()->isEnabled());
        QVERIFY(driver.progressRunning());
        QCOMPARE(driver.answerAlerts(kContinue, [&] { driver.app->installClicked(); }).size(), 0);
        if (rescan) {
            driver.adb.setListing(kHeader + "S2\tdevice\n");
            driver.adb.addDevice({QStringLiteral("S2")});
            driver.refresh();
        }
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 20000);

        QList<QStringList> sent = driver.adb.calls();
        sent.removeIf([](const QStringList &call) { return call.value(1) != "S1"; });
        QCOMPARE(sent, installed ? job : job.mid(0, 1));
        QCOMPARE(driver.log(), log);
        QVERIFY(driver.installButton()->isEnabled());
        // Only the unit that got the app, and only while it is on show, is told as installed.
        const bool shownAsInstalled = installed && !rescan;
        QCOMPARE(driver.info("installed") == "Установлен успешно", shownAsInstalled);
        QCOMPARE(textColour(driver.label("value_installed")) == kGreen, shownAsInstalled);
        QCOMPARE(driver.badge(), installed ? "●  УСТАНОВКА ЗАВЕРШЕНА — МОЖНО ЗАКРЫТЬ" : "●  УСТАНОВКА НЕ ВЫПОЛНЕНА");
        QCOMPARE(textColour(driver.label("statusBadge")) == kGreen, installed);
        QCOMPARE(driver.installButton()->text(), installed ? kCloseTitle : "Установить Zorvik App");
        QCOMPARE(driver.steps(), installed ? kDoneSteps : kFoundSteps);
        // The face as drawn, sampled above the title: green after success, still blue otherwise.
        const QImage face = driver.installButton()->grab().toImage();
        const QColor drawn = face.pixelColor(face.width() / 2, 4);
        const QColor meant = installed ? kGreen : QColor::fromRgbF(0.04f, 0.43f, 1.0f);
        QVERIFY2(qAbs(drawn.hsvHue() - meant.hsvHue()) < 20 && drawn.hsvSaturation() > 120, qPrintable(drawn.name()));
        if (!installed)
            return;

        // Later scans find no unit, then this one again: the button keeps closing, and what
        // replaces the texts that told of the install is drawn as the window first drew it.
        driver.adb.setListing(kHeader);
        driver.refresh();
        QCOMPARE(driver.installButton()->text(), kCloseTitle);
        QVERIFY(!driver.installButton()->isEnabled());
        QCOMPARE(textColour(driver.label("statusBadge")), firstBadgeColour);
        driver.adb.setListing(kOneUnit);
        driver.refresh();
        QCOMPARE(driver.installButton()->text(), kCloseTitle);
        QCOMPARE(textColour(driver.label("value_installed")), firstValueColour);
        // Its press ends the application's event loop; exec() again, as later rows need one.
        driver.adb.clearCalls();
        QTimer::singleShot(0, driver.installButton(), &QPushButton::click);
        QTimer unanswered;
        QObject::connect(&unanswered, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        unanswered.start(5000);
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(driver.adb.calls(), QList<QStringList>{});
    }

    // Closing the window while the install runs asks first, and only then. The hint for a
    // long install comes at once here.
    void closeDuringInstall()
    {
        InstallerDriver driver;
        driver.app = std::make_unique<AppDelegate>(AppDelegate::TestSetup{driver.adb.resourceDir(), std::nullopt, std::chrono::milliseconds(1)});
        driver.launchWithOneUnit();
        const QString held = driver.adb.resourceDir() + "/held";
        driver.adb.replyWithScript({"-s", "S1", "install", "-r", driver.apkFile()},
                                   QStringLiteral("touch '%1'; while [ -e '%1' ]; do sleep 0.05; done; echo Success").arg(held));
        QCOMPARE(driver.pressInstall(kContinue).size(), 1);
        QTRY_COMPARE(driver.log(), "Устанавливаем Zorvik App…\nУстановка идёт дольше обычного. "
                                   "Посмотрите на экран автомобиля: он может ждать подтверждения.");
        QWidget *window = driver.app->mainWindow();
        // Escape waits; "Закрыть" ends the event loop, as the finished install's button does.
        const auto closeInLoop = [&](const QString &answer) {
            QTimer::singleShot(0, window, &QWidget::close);
            QTimer waited;
            QObject::connect(&waited, &QTimer::timeout, [] { QCoreApplication::exit(7); });
            waited.start(1000);
            int status = -1;
            return std::pair(driver.answerAlerts(answer, [&] { status = QCoreApplication::exec(); }), status);
        };
        QCOMPARE(closeInLoop(""), std::pair(QStringList{"Установка ещё идёт"}, 7));
        QCOMPARE(closeInLoop("Закрыть"), std::pair(QStringList{"Установка ещё идёт"}, 0));
        // The install ends while the question is open (the timer fires in its event loop):
        // the question goes, the outcome shows.
        QTimer::singleShot(0, [&] { QFile::remove(held); });
        window->close();
        QVERIFY(window->isVisible() && !QApplication::activeModalWidget());
        QCOMPARE(driver.log(), "Готово: Zorvik App обновлён, разрешение на установку APK выдано.");
    }

    void closingWhileAdbHangsEndsPromptly()
    {
        FakeAdb adb;
        const QString hanging = adb.resourceDir() + "/hanging";
        // adb answers nothing for as long as the installer lives.
        adb.replyWithScript({"devices"}, "touch '" + hanging + "'; while kill -0 $PPID 2>/dev/null; do sleep 0.1; done");
        // The installer runs as its own process (this executable again): what counts is
        // that the whole process ends once its window closes, however long adb hangs.
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildMode), adb.resourceDir());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(hanging), 30000);
        QElapsedTimer sinceHanging;
        sinceHanging.start();
        child.waitForFinished(5000);    // false also when it has ended already
        QVERIFY2(child.state() == QProcess::NotRunning, "the installer did not end after its window was closed");
        QVERIFY2(sinceHanging.elapsed() < 1000, qPrintable(QString::number(sinceHanging.elapsed()) + " ms"));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(kChildMode))
        return runChild(argc, argv);
    QApplication app(argc, argv);
    TestInstaller test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_installer.moc"
