// `adb install -r` against headunit-sim: the streamed install, its log record and the
// installed state, the configured failure, the installer's whole command sequence, and the
// push install of an older unit.

#include "simharness.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString kPackage = QStringLiteral("ru.zorvik.store");

struct Apk {
    QString path;
    qint64 size = 0;
    QString sha256;
};

// Random bytes: the unit does not look inside, adb only wants the .apk suffix.
Apk writeRandomApk(const QTemporaryDir &dir, qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(0x5eed + quint32(size));
    for (char &byte : bytes)
        byte = static_cast<char>(generator.bounded(256));
    Apk apk{dir.filePath(QStringLiteral("ZorvikStore.apk")), size,
            QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex())};
    QFile file(apk.path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return apk;
}

Apk sampleApk()
{
    QFile file(QStringLiteral(ZORVIK_SAMPLE_APK));
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return {file.fileName(), bytes.size(),
            QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex())};
}

// "program: outcome" per request, e.g. "SEND: pushed", "pm: install success".
QStringList outcomes(const SimulatedUnit &unit)
{
    QStringList seen;
    const QList<QJsonObject> log = unit.logEntries();
    for (const QJsonObject &entry : log)
        seen << entry.value("argv").toArray().at(0).toString() + ": " + entry.value("outcome").toString();
    return seen;
}

QStringList pmPath(const SimulatedUnit &unit)
{
    return {"-s", unit.serial(), "shell", "pm", "path", kPackage};
}

} // namespace

class TestHeadunitInstall : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void installRecordsSizeAndDigest_data();
    void installRecordsSizeAndDigest();
    void installFailure_data();
    void installFailure();
    void installerSequence();
    void pushInstall_data();
    void pushInstall();
    void pushedFileIsKept();
};

// A unit that crashes or reports a sanitizer error fails the test that ran it.
void TestHeadunitInstall::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^headunit-sim .*did not end cleanly")));
}

void TestHeadunitInstall::installRecordsSizeAndDigest_data()
{
    QTest::addColumn<QJsonObject>("profile");
    QTest::addColumn<qint64>("size");

    // 3 MiB + an odd tail crosses adb's 64 KiB first chunk and the 256 KiB maximum.
    QTest::newRow("fresh unit, 3 MiB + 12345") << QJsonObject{} << qint64(3 * 1024 * 1024 + 12345);
    QTest::newRow("update over installed copy") << QJsonObject{{"installed", true}} << qint64(5 * 1024 * 1024);
    QTest::newRow("one byte") << QJsonObject{} << qint64(1);
}

void TestHeadunitInstall::installRecordsSizeAndDigest()
{
    QFETCH(QJsonObject, profile);
    QFETCH(qint64, size);

    QTemporaryDir dir;
    const Apk apk = writeRandomApk(dir, size);
    AdbServerSandbox adb;
    SimulatedUnit unit(profile);
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    QVERIFY(adb.connect(unit.port()));

    const AdbResult install = adb.runAdb({"-s", unit.serial(), "install", "-r", apk.path});
    QCOMPARE(install.output, QStringLiteral("Performing Streamed Install\nSuccess\n"));
    QCOMPARE(install.exitCode, 0);

    const QList<QJsonObject> log = unit.logEntries();
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.at(0).value("service").toString(),
             QStringLiteral("exec:cmd package 'install' '-r' -S %1").arg(size));
    QCOMPARE(log.at(0).value("outcome").toString(), QStringLiteral("install success"));
    QCOMPARE(log.at(0).value("size").toInteger(), size);
    QCOMPARE(log.at(0).value("sha256").toString(), apk.sha256);

    const AdbResult path = adb.runAdb(pmPath(unit));
    QCOMPARE(path.output, QStringLiteral("package:/data/app/ru.zorvik.store-1/base.apk\n"));
    QCOMPARE(path.exitCode, 0);
}

void TestHeadunitInstall::installFailure_data()
{
    QTest::addColumn<QJsonObject>("profile");
    QTest::addColumn<QString>("failure");

    const QString incompatible = QStringLiteral(
        "INSTALL_FAILED_UPDATE_INCOMPATIBLE: Package ru.zorvik.store signatures do not match "
        "previously installed version; ignoring!");
    QTest::newRow("signatures differ")
        << QJsonObject{{"installed", true}, {"installFailure", incompatible}} << incompatible;
    QTest::newRow("no space")
        << QJsonObject{{"installFailure", "INSTALL_FAILED_INSUFFICIENT_STORAGE"}}
        << QStringLiteral("INSTALL_FAILED_INSUFFICIENT_STORAGE");
}

void TestHeadunitInstall::installFailure()
{
    QFETCH(QJsonObject, profile);
    QFETCH(QString, failure);

    QTemporaryDir dir;
    const Apk apk = writeRandomApk(dir, 200000);
    AdbServerSandbox adb;
    SimulatedUnit unit(profile);
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    QVERIFY(adb.connect(unit.port()));
    const bool wasInstalled = profile.value("installed").toBool();

    const AdbResult install = adb.runAdb({"-s", unit.serial(), "install", "-r", apk.path});
    QCOMPARE(install.exitCode, 1);
    QVERIFY2(install.output.contains(
                 QStringLiteral("adb: failed to install %1: Failure [%2]\n").arg(apk.path, failure)),
             qPrintable(install.output));

    const QList<QJsonObject> log = unit.logEntries();
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.at(0).value("outcome").toString(), QStringLiteral("install failure"));
    QCOMPARE(log.at(0).value("size").toInteger(), apk.size);
    QCOMPARE(log.at(0).value("sha256").toString(), apk.sha256);

    // The installed state is what it was.
    QCOMPARE(adb.runAdb(pmPath(unit)).exitCode, wasInstalled ? 0 : 1);
}

void TestHeadunitInstall::installerSequence()
{
    // Every command the installer sends, in its order: diagnostics, install, permission, launch.
    QTemporaryDir dir;
    const Apk apk = writeRandomApk(dir, 1024 * 1024);
    AdbServerSandbox adb;
    SimulatedUnit unit;
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    QVERIFY(adb.connect(unit.port()));
    const QStringList s{"-s", unit.serial()};

    QVERIFY(adb.runAdb({"devices"}).output.contains(unit.serial() + "\tdevice\n"));
    QCOMPARE(adb.runAdb(s + QStringList{"shell", "pm", "path", kPackage}).output, QString());
    QCOMPARE(adb.runAdb(s + QStringList{"install", "-r", apk.path}).exitCode, 0);
    QCOMPARE(adb.runAdb(s + QStringList{"shell", "appops", "set", kPackage,
                                        "REQUEST_INSTALL_PACKAGES", "allow"}).exitCode, 0);
    QCOMPARE(adb.runAdb(s + QStringList{"shell", "monkey", "-p", kPackage, "-c",
                                        "android.intent.category.LAUNCHER", "1"}).exitCode, 0);

    QCOMPARE(outcomes(unit), QStringList({"pm: exit 1", "cmd: install success", "appops: exit 0",
                                          "monkey: exit 0"}));
    QCOMPARE(unit.logEntries().last().value("launched").toString(), kPackage);
}

void TestHeadunitInstall::pushInstall_data()
{
    QTest::addColumn<QJsonObject>("profile");
    QTest::addColumn<qint64>("size"); // 0: the carried APK
    QTest::addColumn<QString>("pmAnswer");
    QTest::addColumn<bool>("installed");

    const QJsonObject legacy{{"legacy", true}};
    QTest::newRow("carried APK") << legacy << qint64(0) << "Success\r\n" << true;
    QTest::newRow("3 MiB in 64 KiB pieces") << legacy << qint64(3 * 1024 * 1024 + 12345)
                                           << "Success\r\n" << true;
    // The fact the installer has to live with: pm refused, adb still exits 0.
    QTest::newRow("refused, still exit 0")
        << QJsonObject{{"legacy", true}, {"installFailure", "INSTALL_FAILED_INSUFFICIENT_STORAGE"}}
        << qint64(0) << "Failure [INSTALL_FAILED_INSUFFICIENT_STORAGE]\r\n" << false;
}

void TestHeadunitInstall::pushInstall()
{
    QFETCH(QJsonObject, profile);
    QFETCH(qint64, size);
    QFETCH(QString, pmAnswer);
    QFETCH(bool, installed);

    QTemporaryDir dir;
    const Apk apk = size == 0 ? sampleApk() : writeRandomApk(dir, size);
    QVERIFY(apk.size > 0);
    AdbServerSandbox adb;
    SimulatedUnit unit(profile);
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    QVERIFY(adb.connect(unit.port()));

    const AdbResult install = adb.runAdb({"-s", unit.serial(), "install", "-r", apk.path});
    QCOMPARE(install.exitCode, 0);
    const QRegularExpression shape(
        "^Performing Push Install\n" + QRegularExpression::escape(apk.path)
        + QStringLiteral(": 1 file pushed, 0 skipped\\. [0-9.]+ MB/s \\(%1 bytes in [0-9.]+s\\)\n").arg(apk.size)
        + QRegularExpression::escape(pmAnswer) + "$");
    QVERIFY2(shape.match(install.output).hasMatch(), qPrintable(install.output));

    // Pushed, installed from the pushed copy, then the copy removed.
    const QString remote = "/data/local/tmp/" + QFileInfo(apk.path).fileName();
    QCOMPARE(outcomes(unit), QStringList({"STAT: absent", "SEND: pushed",
                                          installed ? "pm: install success" : "pm: install failure",
                                          "rm: exit 0"}));
    const QList<QJsonObject> log = unit.logEntries();
    // "<path>,<mode>"; the mode is the local file's, so it is left alone.
    QVERIFY(log.at(1).value("argv").toArray().at(1).toString().startsWith(remote + ','));
    QCOMPARE(log.at(2).value("argv").toArray().last().toString(), remote);
    QCOMPARE(log.at(3).value("argv").toArray().at(1).toString(), remote);
    for (const QJsonObject &entry : {log.at(1), log.at(2)}) {
        QCOMPARE(entry.value("size").toInteger(), apk.size);
        QCOMPARE(entry.value("sha256").toString(), apk.sha256);
    }

    const AdbResult path = adb.runAdb(pmPath(unit));
    QCOMPARE(path.output, installed ? QStringLiteral("package:/data/app/ru.zorvik.store-1/base.apk\r\n")
                                    : QString());
}

void TestHeadunitInstall::pushedFileIsKept()
{
    const Apk apk = sampleApk();
    AdbServerSandbox adb;
    SimulatedUnit unit({{"legacy", true}});
    QVERIFY2(unit.isRunning(), qPrintable(unit.errorString()));
    QVERIFY(adb.connect(unit.port()));
    const QStringList s{"-s", unit.serial()};
    const QString remote = "/data/local/tmp/" + QFileInfo(apk.path).fileName();

    // Into the directory, as people push by hand.
    const AdbResult push = adb.runAdb(s + QStringList{"push", apk.path, "/data/local/tmp/"});
    QCOMPARE(push.exitCode, 0);
    QVERIFY2(push.output.contains(": 1 file pushed"), qPrintable(push.output));
    const QJsonObject sent = unit.logEntries().last();
    QVERIFY(sent.value("command").toString().startsWith("SEND " + remote + ','));
    QCOMPARE(sent.value("sha256").toString(), apk.sha256);

    const QStringList pmInstall = s + QStringList{"shell", "pm", "install", "-r", remote};
    QCOMPARE(adb.runAdb(pmInstall).output, QStringLiteral("Success\r\n"));
    QCOMPARE(adb.runAdb(s + QStringList{"shell", "rm", remote}).output, QString());
    const AdbResult again = adb.runAdb(pmInstall);
    QCOMPARE(again.output, QStringLiteral("Failure [INSTALL_FAILED_INVALID_URI]\r\n"));
    QCOMPARE(again.exitCode, 0);
    QCOMPARE(unit.logEntries().at(2).value("sha256").toString(), apk.sha256);
}

QTEST_GUILESS_MAIN(TestHeadunitInstall)
#include "tst_headunitinstall.moc"
