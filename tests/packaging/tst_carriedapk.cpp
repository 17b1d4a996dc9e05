// A distributor builds the installer with -DZORVIK_APK=their.apk. This runs the build's own
// resource step (cmake/Resources.cmake) for an APK "A" in a scratch CMake project, takes the
// digest it compiles in, and gives it to the real AppDelegate: carrying A, the installer
// asks to install; carrying any other APK "B", it refuses before a single adb command.

#include "installerdriver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    file.write(contents);
}

} // namespace

class CarriedApkTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void onlyTheApkBuiltForIsInstalled_data();
    void onlyTheApkBuiltForIsInstalled();

private:
    QTemporaryDir m_dir;
    QString m_apkA;
    QString m_digestA;     // as the build compiled it in for A
};

void CarriedApkTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // A: a copy of the shipped APK with one byte appended, so it differs from what this
    // build carries and the digest can only have come from the scratch configure below.
    m_apkA = m_dir.filePath(QStringLiteral("distributor.apk"));
    QFile shipped(builtApk());
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    writeFile(m_apkA, shipped.readAll() + QByteArray("A"));

    const QString source = m_dir.filePath(QStringLiteral("src"));
    QDir().mkpath(source);
    writeFile(source + QStringLiteral("/CMakeLists.txt"),
              "cmake_minimum_required(VERSION 3.22)\n"
              "project(carried LANGUAGES NONE)\n"
              "set(ZORVIK_RESOURCE_DIR \"${CMAKE_BINARY_DIR}/resources\")\n"
              "include(\"${ZORVIK_REPO}/cmake/Resources.cmake\")\n");
    // Resources.cmake reads install/ from CMAKE_SOURCE_DIR: give it the repository's.
    QVERIFY(QFile::link(QStringLiteral(ZORVIK_SOURCE_DIR "/install"), source + QStringLiteral("/install")));
    const QString binary = m_dir.filePath(QStringLiteral("build"));
    QProcess configure;
    configure.setProcessChannelMode(QProcess::MergedChannels);
    configure.start(QStringLiteral(ZORVIK_CMAKE),
                    {QStringLiteral("-S"), source, QStringLiteral("-B"), binary,
                     QStringLiteral("-DZORVIK_REPO=" ZORVIK_SOURCE_DIR),
                     QStringLiteral("-DZORVIK_ADB=") + QStringLiteral(ZORVIK_CARRIED_ADB),
                     QStringLiteral("-DZORVIK_APK=") + m_apkA,
                     QStringLiteral("-DZORVIK_LOGO=") + m_dir.filePath(QStringLiteral("none.png"))});
    QVERIFY(configure.waitForFinished(60000));
    QVERIFY2(configure.exitCode() == 0, configure.readAll().constData());

    QFile header(binary + QStringLiteral("/generated/expecteddigest.h"));
    QVERIFY(header.open(QIODevice::ReadOnly));
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("#define ZORVIK_EXPECTED_APK_SHA256 \"([0-9a-f]{64})\""))
            .match(QString::fromUtf8(header.readAll()));
    QVERIFY(match.hasMatch());
    m_digestA = match.captured(1);
}

void CarriedApkTest::onlyTheApkBuiltForIsInstalled_data()
{
    QTest::addColumn<QString>("carried");
    QTest::addColumn<QString>("firstAlert");
    QTest::newRow("A, the APK it was built for") << "A" << "Установить Zorvik App?";
    QTest::newRow("B, the APK of the default build") << "B" << "Проверка Zorvik App не пройдена";
    QTest::newRow("A with its last byte changed") << "A'" << "Проверка Zorvik App не пройдена";
}

void CarriedApkTest::onlyTheApkBuiltForIsInstalled()
{
    QFETCH(QString, carried);
    QFETCH(QString, firstAlert);

    InstallerDriver driver(false, m_digestA);
    QByteArray bytes;
    {
        QFile source(carried == QStringLiteral("B") ? builtApk() : m_apkA);
        QVERIFY(source.open(QIODevice::ReadOnly));
        bytes = source.readAll();
    }
    if (carried == QStringLiteral("A'"))
        bytes.back() = 'B';
    writeFile(driver.apkFile(), bytes);

    driver.adb.setListing(QStringLiteral("List of devices attached\nS1\tdevice\n\n"));
    driver.adb.addDevice({QStringLiteral("S1")});
    driver.launch();
    driver.adb.clearCalls();

    const auto alerts = driver.pressInstall(QString());   // answer every alert with Escape
    QVERIFY(!alerts.isEmpty());
    QCOMPARE(alerts.first().text, firstAlert);
    // Refused or cancelled: no command reached the head unit either way.
    QCOMPARE(driver.adb.calls(), QList<QStringList>());
}

QTEST_MAIN(CarriedApkTest)
#include "tst_carriedapk.moc"
