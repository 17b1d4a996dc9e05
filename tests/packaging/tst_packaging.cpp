// What ships: the Debian package built from this build tree with cpack, read back with
// dpkg-deb and judged by lintian and appstreamcli as Debian and the software centres
// would; the program unpacked from it, started from wherever it lies; and a distributor's
// build that carries an APK of its own.

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Runs a tool to its end; the output is stdout and stderr together. A tool that is not
// installed gets status -1: it must not pass for one that found nothing to say.
QString run(const QString &program, const QStringList &arguments, int *status = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    // Untranslated output, whatever the machine's locale: appstreamcli's notes are read below.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(150000))
        process.kill();
    const bool finished = process.error() == QProcess::UnknownError && process.exitStatus() == QProcess::NormalExit;
    if (status)
        *status = finished ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAll()) + (finished ? QString() : process.errorString());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    file.write(contents);
}

} // namespace

class PackagingTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void unpackedProgramFindsItsResources();
    void desktopFindsWhatItNeeds();
    void oneVersionEverywhere();
    void lintianAndAppStreamFindNothingUnexplained();
    void distributorsApkIsTheOneChecked();

private:
    QString root() const { return m_dir.filePath(QStringLiteral("root")); }

    QTemporaryDir m_dir;
    QString m_deb;
};

void PackagingTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("QT_QPA_PLATFORM", "offscreen");    // for the installer started below
    int status = 0;
    const QString output = run(QStringLiteral(ZORVIK_CPACK),
                               {QStringLiteral("--config"), QStringLiteral(ZORVIK_BUILD_DIR "/CPackConfig.cmake"),
                                QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), m_dir.path()},
                               &status);
    QVERIFY2(status == 0, qPrintable(output));
    const QStringList debs = QDir(m_dir.path()).entryList({QStringLiteral("zorvik-installer_*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    m_deb = m_dir.filePath(debs.first());
    const QString unpacked = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, root()}, &status);
    QVERIFY2(status == 0, qPrintable(unpacked));
}

void PackagingTest::unpackedProgramFindsItsResources()
{
    // Copies, not links into the build machine, which would dangle on any other computer.
    const QString folder = root() + QStringLiteral("/opt/zorvik-installer");
    const QString adb = folder + QStringLiteral("/resources/adb");
    QVERIFY(QFileInfo(adb).isFile() && !QFileInfo(adb).isSymLink());
    QCOMPARE(readFile(folder + QStringLiteral("/resources/ZorvikStore.apk")),
             readFile(QStringLiteral(ZORVIK_BUILT_RESOURCES "/ZorvikStore.apk")));

    // An adb that records its calls and lists nothing, so no real adb server is reached.
    const QString calls = folder + QStringLiteral("/resources/calls.log");
    QVERIFY(QFile::remove(adb));
    writeFile(adb, "#!/bin/sh\necho \"$*\" >> \"$(dirname \"$0\")/calls.log\"\n"
                   "[ \"$1\" = devices ] && printf 'List of devices attached\\n\\n'\nexit 0\n");
    QVERIFY(QFile::setPermissions(adb, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // Started as unpacked, away from /opt, and through a link elsewhere as /usr/bin's is.
    const QString link = m_dir.filePath(QStringLiteral("zorvik-installer"));
    QVERIFY(QFile::link(folder + QStringLiteral("/zorvik-installer"), link));
    for (const QString &program : {folder + QStringLiteral("/zorvik-installer"), link}) {
        QFile::remove(calls);
        QProcess installer;
        installer.setWorkingDirectory(m_dir.path());   // nothing relative may help
        installer.start(program, {});
        QTRY_VERIFY_WITH_TIMEOUT(readFile(calls).contains("devices"), 30000);
        QVERIFY2(installer.state() == QProcess::Running, installer.readAllStandardError().constData());
        QCOMPARE(readFile(calls), QByteArray("start-server\ndevices\n"));
    }
}

void PackagingTest::desktopFindsWhatItNeeds()
{
    // The desktop entry starts the program, its icon is where desktops look, and the
    // command on the PATH is the same program.
    const QString entry = QString::fromUtf8(readFile(root() + QStringLiteral("/usr/share/applications/zorvik-installer.desktop")));
    const auto value = [&entry](const QString &key) {
        return QRegularExpression(QStringLiteral("^%1=\"?([^\"\\n]*)").arg(key), QRegularExpression::MultilineOption)
            .match(entry)
            .captured(1);
    };
    QVERIFY2(QFileInfo(root() + value(QStringLiteral("Exec"))).isExecutable(), qPrintable(entry));
    QVERIFY(QFile::exists(root() + QStringLiteral("/usr/share/icons/hicolor/256x256/apps/%1.png").arg(value(QStringLiteral("Icon")))));
    QCOMPARE(QFileInfo(root() + QStringLiteral("/usr/bin/zorvik-installer")).symLinkTarget(), value(QStringLiteral("Exec")));
    // dpkg-shlibdeps alone names the private libraries the carried adb reaches through its RUNPATH.
    const QString depends = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, QStringLiteral("Depends")});
    for (const char *library : {"libqt6widgets6", "android-libbase", "libusb-1.0-0"})
        QVERIFY2(depends.contains(QRegularExpression(QStringLiteral("(^|, )%1\\b").arg(QLatin1String(library)))), qPrintable(depends));
}

void PackagingTest::oneVersionEverywhere()
{
    // Written by hand, each of these names the release: a version bump must reach them all.
    const QString version = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, QStringLiteral("Version")}).trimmed();
    const std::pair<const char *, const char *> places[]{
        {"doc/zorvik-installer/changelog.gz", R"re(^zorvik-installer \(([^)]+)\))re"},
        {"metainfo/ru.zorvik.installer.metainfo.xml", R"re(<release version="([^"]+)")re"},
        {"man/man1/zorvik-installer.1.gz", R"re(^\.TH .*"zorvik-installer (\S+)")re"}};
    for (const auto &[path, pattern] : places) {
        // zcat -f passes an uncompressed file through as it is.
        const QString text = run(QStringLiteral("zcat"), {QStringLiteral("-f"), root() + "/usr/share/" + QLatin1String(path)});
        QCOMPARE(QRegularExpression(QLatin1String(pattern), QRegularExpression::MultilineOption).match(text).captured(1), version);
    }
}

void PackagingTest::lintianAndAppStreamFindNothingUnexplained()
{
    // Errors and warnings fail; the ones the package means to have are overridden, with the
    // reason, in the package's own override file.
    int status = 0;
    QString output = run(QStringLiteral("lintian"), {QStringLiteral("--fail-on"), QStringLiteral("error,warning"), m_deb}, &status);
    QVERIFY2(status == 0, qPrintable(QStringLiteral("lintian (scripts/setup.sh installs it) exited with %1:\n%2").arg(status).arg(output)));
    // validate-tree also checks that the launchable names a desktop entry the package ships.
    // Software centres hide an app without a content rating, which --pedantic reports as a
    // mere note, so any note fails here too.
    output = run(QStringLiteral("appstreamcli"),
                 {QStringLiteral("validate-tree"), QStringLiteral("--no-net"), QStringLiteral("--pedantic"), root()}, &status);
    QVERIFY2(status == 0 && !output.contains(QRegularExpression(QStringLiteral(R"re(^\s*[EWIP]: )re"), QRegularExpression::MultilineOption)),
             qPrintable(QStringLiteral("appstreamcli (scripts/setup.sh installs appstream) exited with %1:\n%2").arg(status).arg(output)));
}

void PackagingTest::distributorsApkIsTheOneChecked()
{
    // A distributor builds with -DZORVIK_APK=their.apk. The build's own resource step, run in
    // a scratch project for an APK unlike the one this build carries, must compile in that
    // APK's digest, in the lowercase hex the installer compares against.
    const QByteArray apk = readFile(QStringLiteral(ZORVIK_BUILT_RESOURCES "/ZorvikStore.apk")) + "A";
    const QString source = m_dir.filePath(QStringLiteral("scratch"));
    const QString binary = m_dir.filePath(QStringLiteral("scratch-build"));
    QVERIFY(QDir().mkpath(source));
    writeFile(m_dir.filePath(QStringLiteral("distributor.apk")), apk);
    writeFile(source + QStringLiteral("/CMakeLists.txt"),
              "cmake_minimum_required(VERSION 3.22)\nproject(carried LANGUAGES NONE)\n"
              "set(ZORVIK_RESOURCE_DIR \"${CMAKE_BINARY_DIR}/resources\")\n"
              "include(\"" ZORVIK_SOURCE_DIR "/cmake/Resources.cmake\")\n");
    // Resources.cmake reads install/ from CMAKE_SOURCE_DIR: give it the repository's.
    QVERIFY(QFile::link(QStringLiteral(ZORVIK_SOURCE_DIR "/install"), source + QStringLiteral("/install")));
    int status = 0;
    const QString output = run(QStringLiteral(ZORVIK_CMAKE),
                               {QStringLiteral("-S"), source, QStringLiteral("-B"), binary,
                                QStringLiteral("-DZORVIK_ADB=" ZORVIK_CARRIED_ADB),
                                QStringLiteral("-DZORVIK_APK=") + m_dir.filePath(QStringLiteral("distributor.apk")),
                                QStringLiteral("-DZORVIK_LOGO=") + m_dir.filePath(QStringLiteral("none.png"))},
                               &status);
    QVERIFY2(status == 0, qPrintable(output));
    QVERIFY(readFile(binary + QStringLiteral("/generated/expecteddigest.h"))
                .contains("#define ZORVIK_EXPECTED_APK_SHA256 \"" + QCryptographicHash::hash(apk, QCryptographicHash::Sha256).toHex() + '"'));
    QCOMPARE(readFile(binary + QStringLiteral("/resources/ZorvikStore.apk")), apk);
}

QTEST_GUILESS_MAIN(PackagingTest)
#include "tst_packaging.moc"
