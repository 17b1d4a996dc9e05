// The shell answers of headunit-sim as the real adb prints them, and what the unit logs.

#include "simharness.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString kPackage = QStringLiteral("ru.zorvik.store");

} // namespace

class TestHeadunitShell : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void shellAnswer_data();
    void shellAnswer();
    void getpropListing();
    void monkeyLaunchIsLogged();
    void logRecordsEachRequest();
    void delayedAnswer();
    void concurrentCommands();
};

// A unit that crashes or reports a sanitizer error fails the test that ran it.
void TestHeadunitShell::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^headunit-sim .*did not end cleanly")));
}

void TestHeadunitShell::shellAnswer_data()
{
    QTest::addColumn<QJsonObject>("profile");
    QTest::addColumn<QStringList>("command"); // the arguments after "shell"
    QTest::addColumn<QString>("output");      // stdout and stderr as adb prints them
    QTest::addColumn<int>("exitCode");

    const QJsonObject defaults;
    const QJsonObject haval{{"manufacturer", "HAVAL"}, {"model", "H6 DHT"}, {"release", "10"},
                            {"sdk", 29}, {"buildId", "HV_10.2"}, {"serialNo", "HV123"},
                            {"productName", "haval_h6"}, {"deviceName", "h6"}};

    QTest::newRow("manufacturer") << defaults << QStringList{"getprop", "ro.product.manufacturer"}
                                  << "LI_AUTO\n" << 0;
    QTest::newRow("model") << defaults << QStringList{"getprop", "ro.product.model"}
                           << "Li Auto HU 8155\n" << 0;
    QTest::newRow("release") << defaults << QStringList{"getprop", "ro.build.version.release"}
                             << "11\n" << 0;
    QTest::newRow("sdk") << defaults << QStringList{"getprop", "ro.build.version.sdk"} << "30\n" << 0;
    QTest::newRow("build id") << defaults << QStringList{"getprop", "ro.build.display.id"}
                              << "LI_HU_V5.2.1_20240315_user\n" << 0;
    QTest::newRow("serialno") << defaults << QStringList{"getprop", "ro.serialno"}
                              << "LIHU8155A0001\n" << 0;
    QTest::newRow("product name") << defaults << QStringList{"getprop", "ro.product.name"}
                                  << "lixiang_hu\n" << 0;
    QTest::newRow("product device") << defaults << QStringList{"getprop", "ro.product.device"}
                                    << "hu8155\n" << 0;
    QTest::newRow("unknown property") << defaults << QStringList{"getprop", "ro.no.such"} << "\n" << 0;
    QTest::newRow("profile manufacturer") << haval << QStringList{"getprop", "ro.product.manufacturer"}
                                          << "HAVAL\n" << 0;
    QTest::newRow("profile sdk") << haval << QStringList{"getprop", "ro.build.version.sdk"} << "29\n" << 0;
    QTest::newRow("profile build id") << haval << QStringList{"getprop", "ro.build.display.id"}
                                      << "HV_10.2\n" << 0;
    QTest::newRow("profile property")
        << QJsonObject{{"properties", QJsonObject{{"persist.car.vin", "LW433B123"}}}}
        << QStringList{"getprop", "persist.car.vin"} << "LW433B123\n" << 0;
    QTest::newRow("quoted in one argument") << defaults << QStringList{"getprop 'ro.product.model'"}
                                            << "Li Auto HU 8155\n" << 0;
    QTest::newRow("wm size") << defaults << QStringList{"wm", "size"} << "Physical size: 1920x720\n" << 0;
    QTest::newRow("wm size override")
        << QJsonObject{{"size", "2560x1080"}, {"sizeOverride", "1920x810"}} << QStringList{"wm", "size"}
        << "Physical size: 2560x1080\nOverride size: 1920x810\n" << 0;
    QTest::newRow("wm density") << defaults << QStringList{"wm", "density"}
                                << "Physical density: 160\n" << 0;
    QTest::newRow("wm density override")
        << QJsonObject{{"density", 240}, {"densityOverride", 200}} << QStringList{"wm", "density"}
        << "Physical density: 240\nOverride density: 200\n" << 0;
    QTest::newRow("pm path installed") << QJsonObject{{"installed", true}}
                                       << QStringList{"pm", "path", kPackage}
                                       << "package:/data/app/ru.zorvik.store-1/base.apk\n" << 0;
    QTest::newRow("pm path not installed") << defaults << QStringList{"pm", "path", kPackage} << ""
                                           << 1;
    QTest::newRow("appops allowed")
        << QJsonObject{{"installed", true}}
        << QStringList{"appops", "set", kPackage, "REQUEST_INSTALL_PACKAGES", "allow"} << "" << 0;
    QTest::newRow("appops failure")
        << QJsonObject{{"installed", true}, {"appopsFailure", true}}
        << QStringList{"appops", "set", kPackage, "REQUEST_INSTALL_PACKAGES", "allow"}
        << "Error: java.lang.SecurityException: uid 2000 does not have "
           "android.permission.MANAGE_APP_OPS_MODES.\n"
        << 255;
    QTest::newRow("unknown command") << defaults << QStringList{"foo", "bar"}
                                     << "/system/bin/sh: foo: inaccessible or not found\n" << 127;
    QTest::newRow("unterminated quote") << defaults << QStringList{"getprop 'x"}
                                        << "/system/bin/sh: syntax error: unterminated quoted string\n"
                                        << 1;
    QTest::newRow("pty") << defaults << QStringList{"-tt", "getprop", "ro.product.model"}
                         << "Li Auto HU 8155\r\n" << 0;
    // An older unit: the old shell service on a terminal, whose status adb never learns.
    const QJsonObject legacy{{"legacy", true}, {"installed", true}};
    QTest::newRow("older unit: CR LF") << legacy << QStringList{"wm", "size"}
                                       << "Physical size: 1920x720\r\n" << 0;
    QTest::newRow("older unit: stderr merged, status lost")
        << legacy << QStringList{"foo", "bar"} << "/system/bin/sh: foo: inaccessible or not found\r\n" << 0;
    QTest::newRow("older unit: appops refused, status lost")
        << QJsonObject{{"legacy", true}, {"installed", true}, {"appopsFailure", true}}
        << QStringList{"appops", "set", kPackage, "REQUEST_INSTALL_PACKAGES", "allow"}
        << "Error: Unknown operation string: REQUEST_INSTALL_PACKAGES\r\n" << 0;
}

void TestHeadunitShell::shellAnswer()
{
    QFETCH(QJsonObject, profile);
    QFETCH(QStringList, command);
    QFETCH(QString, output);
    QFETCH(int, exitCode);

    AdbServerSandbox adb;
    SimulatedUnit unit(profile);
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    QVERIFY(adb.connect(unit.port()));

    const AdbResult result = adb.runAdb(QStringList{"-s", unit.serial(), "shell"} + command);
    QCOMPARE(result.output, output);
    QCOMPARE(result.exitCode, exitCode);
}

void TestHeadunitShell::getpropListing()
{
    AdbServerSandbox adb;
    SimulatedUnit unit;
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    QVERIFY(adb.connect(unit.port()));

    const AdbResult result = adb.runAdb({"-s", unit.serial(), "shell", "getprop"});
    QCOMPARE(result.exitCode, 0);
    QVERIFY(result.output.endsWith('\n'));
    const QStringList lines = result.output.chopped(1).split('\n');
    QStringList sorted = lines;
    sorted.sort();
    QCOMPARE(lines, sorted);
    for (const QString &line : lines)
        QVERIFY2(line.startsWith('[') && line.contains("]: [") && line.endsWith(']'), qPrintable(line));
    QVERIFY(lines.contains("[ro.product.manufacturer]: [LI_AUTO]"));
    QVERIFY(lines.contains("[ro.build.version.sdk]: [30]"));
}

void TestHeadunitShell::monkeyLaunchIsLogged()
{
    AdbServerSandbox adb;
    SimulatedUnit unit({{"installed", true}});
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    QVERIFY(adb.connect(unit.port()));

    const AdbResult result = adb.runAdb({"-s", unit.serial(), "shell", "monkey", "-p", kPackage, "-c",
                                         "android.intent.category.LAUNCHER", "1"});
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.output.startsWith("  bash arg: -p\n  bash arg: ru.zorvik.store\n"),
             qPrintable(result.output));
    QVERIFY(result.output.contains("\nEvents injected: 1\n"));

    const QList<QJsonObject> log = unit.logEntries();
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.at(0).value("launched").toString(), kPackage);
    QCOMPARE(log.at(0).value("outcome").toString(), QStringLiteral("exit 0"));
}

void TestHeadunitShell::logRecordsEachRequest()
{
    AdbServerSandbox adb;
    SimulatedUnit unit;
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    QVERIFY(adb.connect(unit.port()));

    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
    QCOMPARE(adb.runAdb({"-s", unit.serial(), "shell", "getprop", "ro.product.model"}).exitCode, 0);
    QCOMPARE(adb.runAdb({"-s", unit.serial(), "shell", "nosuch", "'a b'"}).exitCode, 127);

    // Flushed before the answer: readable as soon as adb has returned.
    const QList<QJsonObject> log = unit.logEntries();
    QCOMPARE(log.size(), 2);
    const QString service = log.at(0).value("service").toString();
    QVERIFY2(service.startsWith("shell,v2,") && service.endsWith("raw:getprop ro.product.model"),
             qPrintable(service));
    QCOMPARE(log.at(0).value("command").toString(), QStringLiteral("getprop ro.product.model"));
    QCOMPARE(log.at(0).value("outcome").toString(), QStringLiteral("exit 0"));
    const QDateTime time = QDateTime::fromString(log.at(0).value("time").toString(), Qt::ISODateWithMs);
    QVERIFY(time.isValid());
    QVERIFY(time >= before && time <= QDateTime::currentDateTimeUtc());

    QCOMPARE(log.at(1).value("argv").toArray(), QJsonArray({"nosuch", "a b"}));
    QCOMPARE(log.at(1).value("outcome").toString(), QStringLiteral("exit 127"));
}

void TestHeadunitShell::delayedAnswer()
{
    AdbServerSandbox adb;
    SimulatedUnit unit({{"delayMs", 400}});
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    QVERIFY(adb.connect(unit.port()));

    QElapsedTimer timer;
    timer.start();
    const AdbResult result = adb.runAdb({"-s", unit.serial(), "shell", "wm", "size"});
    QVERIFY(timer.elapsed() >= 400);
    QCOMPARE(result.output, QStringLiteral("Physical size: 1920x720\n"));
}

void TestHeadunitShell::concurrentCommands()
{
    // Five streams open at once over the one host connection; each answer waits
    // 1 s, so answering them one by one would take 5 s.
    AdbServerSandbox adb;
    SimulatedUnit unit({{"delayMs", 1000}});
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    QVERIFY(adb.connect(unit.port()));

    const QStringList properties{"ro.product.manufacturer", "ro.product.model",
                                 "ro.build.version.release", "ro.build.version.sdk",
                                 "ro.build.display.id"};
    const QStringList expected{"LI_AUTO\n", "Li Auto HU 8155\n", "11\n", "30\n",
                               "LI_HU_V5.2.1_20240315_user\n"};
    QElapsedTimer timer;
    timer.start();
    std::vector<std::unique_ptr<QProcess>> processes;
    for (const QString &property : properties) {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->setStandardInputFile(QProcess::nullDevice());
        process->start(AdbServerSandbox::adbPath(), {"-s", unit.serial(), "shell", "getprop", property});
        processes.push_back(std::move(process));
    }
    for (std::size_t i = 0; i < processes.size(); ++i) {
        QVERIFY(processes[i]->waitForFinished(30000));
        QCOMPARE(processes[i]->exitCode(), 0);
        QCOMPARE(QString::fromUtf8(processes[i]->readAll()), expected.at(qsizetype(i)));
    }
    QVERIFY2(timer.elapsed() < 4000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(unit.logEntries().size(), 5);
}

QTEST_GUILESS_MAIN(TestHeadunitShell)
#include "tst_headunitshell.moc"
