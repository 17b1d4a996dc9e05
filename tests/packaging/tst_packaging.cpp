// What ships: the Debian package built from this build tree with cpack, read back with
// dpkg-deb and judged by lintian and appstreamcli as Debian and the software centres
// would; the program unpacked from it, started from wherever it lies; and a distributor's
// build that carries an APK of its own.

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Runs a tool that must succeed; the output is stdout and stderr together. A tool that is
// not installed or never ends fails too: it must not pass for one that found nothing to say.
QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(150000) && process.exitStatus() == QProcess::NormalExit;
    const QString output = QString::fromUtf8(process.readAll()) + (finished ? QString() : process.errorString());
    [&] { QVERIFY2(finished && process.exitCode() == 0, qPrintable(program + QStringLiteral(":\n") + output)); }();
    return output;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size(), qPrintable(path));
}

} // namespace

class PackagingTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void packageOnlyParts();
    void unpackedProgramRunsTheSystemsAdb();
    void debianAndAppStreamFindNothingAmiss();
    void distributorsApkIsTheOneChecked();

private:
    QTemporaryDir m_dir;
    QString m_deb;
    QString m_root = m_dir.filePath(QStringLiteral("root"));
};

void PackagingTest::initTestCase()
{
    // Untranslated notes from the tools, whatever the machine's locale; no window from the
    // installer started below.
    qputenv("LC_ALL", "C.UTF-8");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8());   // no remembered address
    run(QStringLiteral(ZORVIK_CPACK), {QStringLiteral("--config"), QStringLiteral(ZORVIK_BUILD_DIR "/CPackConfig.cmake"),
                                       QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), m_dir.path()});
    m_deb = QDir(m_dir.path()).entryInfoList({QStringLiteral("zorvik-installer_*.deb")}, QDir::Files).value(0).filePath();
    QVERIFY(QFile::exists(m_deb));
    run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, m_root});
}

void PackagingTest::packageOnlyParts()
{
    // The udev rule, before 73-seat-late.rules, which acts on its uaccess tag, in /usr/lib: on
    // merged /usr, /lib is only a link to it, and lintian refuses a package that names it.
    QVERIFY(!QFileInfo::exists(m_root + QStringLiteral("/lib")));
    const QByteArray rule = readFile(m_root + QStringLiteral("/usr/lib/udev/rules.d/70-zorvik-installer.rules"));
    const QRegularExpression ruleLine(QStringLiteral(R"re(\nSUBSYSTEM=="usb", ENV\{ID_USB_INTERFACES\}=="([^"]+)", TAG\+="uaccess"\n)re"));
    const QString interfaces = ruleLine.match(QString::fromUtf8(rule)).captured(1);
    QCOMPARE(interfaces, QStringLiteral("*:ff420?:*"));

    // Only the package: an install into a folder keeps a real adb and writes no rule.
    const QString folder = m_dir.filePath(QStringLiteral("folder"));
    run(QStringLiteral(ZORVIK_CMAKE), {QStringLiteral("--install"), QStringLiteral(ZORVIK_BUILD_DIR), QStringLiteral("--prefix"), folder});
    const QFileInfo copied(folder + QStringLiteral("/resources/adb"));
    QVERIFY(copied.isExecutable() && !copied.isSymLink());
    QDirIterator anyRule(folder, {QStringLiteral("*.rules")}, QDir::Files, QDirIterator::Subdirectories);
    QVERIFY2(!anyRule.hasNext(), qPrintable(anyRule.next()));

    // The scripts that make udev read it: valid shell, and quiet success where there is no
    // udevadm, as in a chroot. Where udev runs they re-trigger exactly the devices the rule
    // matches, not every USB device on the machine.
    const QString control = m_dir.filePath(QStringLiteral("control"));
    run(QStringLiteral("dpkg-deb"), {QStringLiteral("-e"), m_deb, control});
    const QTemporaryDir emptyPath;
    for (const QString &script : {control + QStringLiteral("/postinst"), control + QStringLiteral("/postrm")}) {
        run(QStringLiteral("sh"), {QStringLiteral("-n"), script});
        run(QStringLiteral("env"), {QStringLiteral("-i"), QStringLiteral("PATH=") + emptyPath.path(), QStringLiteral("/bin/sh"), script, QStringLiteral("configure")});
        const QString text = QString::fromUtf8(readFile(script));
        const QStringList triggers = text.split(u'\n').filter(QRegularExpression(QStringLiteral(R"(^\s*udevadm\s+trigger\s)")));
        QCOMPARE(triggers.size(), 1);
        QVERIFY2(triggers[0].contains(QStringLiteral(" --subsystem-match=usb "))
                     && triggers[0].contains(QStringLiteral(" --property-match=ID_USB_INTERFACES='") + interfaces + u'\''),
                 qPrintable(script + QStringLiteral(": ") + triggers[0]));
    }

    // Hardened: relocations bound at start and made read-only then.
    const QString program = m_root + QStringLiteral("/opt/zorvik-installer/zorvik-installer");
    QVERIFY(run(QStringLiteral("readelf"), {QStringLiteral("-d"), program}).contains(QRegularExpression(QStringLiteral(R"(\(FLAGS(_1)?\).*\bNOW\b)"))));
    QVERIFY(run(QStringLiteral("readelf"), {QStringLiteral("-lW"), program}).contains(QStringLiteral("GNU_RELRO")));
}

void PackagingTest::unpackedProgramRunsTheSystemsAdb()
{
    // The package's adb is Debian's, through a link. Started away from /opt, through the link
    // on the PATH and through the desktop entry, the program finds it and starts its server,
    // on a port of its own that is ended afterwards.
    const QString adb = m_root + QStringLiteral("/opt/zorvik-installer/resources/adb");
    QCOMPARE(QFileInfo(adb).symLinkTarget(), QStringLiteral("/usr/bin/adb"));
    const QString entry = QString::fromUtf8(readFile(m_root + QStringLiteral("/usr/share/applications/zorvik-installer.desktop")));
    const QString exec = QRegularExpression(QStringLiteral("^Exec=\"?([^\"\\n]*)"), QRegularExpression::MultilineOption).match(entry).captured(1);
    const QString icon = QRegularExpression(QStringLiteral("^Icon=(.*)$"), QRegularExpression::MultilineOption).match(entry).captured(1);
    QVERIFY(QFile::exists(m_root + QStringLiteral("/usr/share/icons/hicolor/256x256/apps/") + icon + QStringLiteral(".png")));
    for (const QString &program : {m_root + QFileInfo(m_root + QStringLiteral("/usr/bin/zorvik-installer")).symLinkTarget(), m_root + exec}) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const QString port = QString::number(probe.serverPort());
        probe.close();
        qputenv("ANDROID_ADB_SERVER_PORT", port.toUtf8());   // for the installer's adb and ours
        QProcess installer;
        installer.setWorkingDirectory(m_dir.path());   // nothing relative may help
        installer.start(program, {});
        // A server that answers, not only a port that accepts: adb 34 listens before it serves,
        // and until it serves it still owes the client that started it its ready note. Were
        // the installer ended then, taking that client with it, the server would end too.
        QTcpSocket server;
        const auto answers = [&] {
            server.abort();
            server.connectToHost(QHostAddress::LocalHost, port.toUShort());
            if (!server.waitForConnected(1000))
                return false;
            server.write("000chost:version");
            return server.waitForReadyRead(1000) && server.read(4) == "OKAY";
        };
        QVERIFY2(installer.waitForStarted(), qPrintable(installer.errorString()));
        bool answered = false;
        for (QDeadlineTimer limit(30000); !answered && installer.state() == QProcess::Running && !limit.hasExpired();)
            answered = answers() || (QTest::qWait(100), false);
        QVERIFY2(answered && installer.state() == QProcess::Running,
                 qPrintable(QStringLiteral("%1, port %2, %3: %4")
                                .arg(program, port, answered ? QStringLiteral("server answered") : QStringLiteral("no server answered"),
                                     QString::fromUtf8(installer.readAllStandardError()))));
        installer.kill();
        installer.waitForFinished();
        run(adb, {QStringLiteral("kill-server")});
    }
}

void PackagingTest::debianAndAppStreamFindNothingAmiss()
{
    // Written by hand, each of these names the release: a version bump must reach them all.
    const QString version = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, QStringLiteral("Version")}).trimmed();
    const std::pair<const char *, const char *> places[]{
        {"doc/zorvik-installer/changelog.gz", R"re(^zorvik-installer \(([^)]+)\))re"},
        {"metainfo/ru.zorvik.installer.metainfo.xml", R"re(<release version="([^"]+)")re"},
        {"man/man1/zorvik-installer.1.gz", R"re(^\.TH .*"zorvik-installer (\S+)")re"},
        {"../../opt/zorvik-installer/zorvik-installer", "Installer (\\S+)  •  Zorvik App "}};
    for (const auto &[path, pattern] : places) {
        // zcat -f passes an uncompressed file through as it is.
        const QString text = run(QStringLiteral("zcat"), {QStringLiteral("-f"), m_root + "/usr/share/" + QLatin1String(path)});
        QCOMPARE(QRegularExpression(QString::fromUtf8(pattern), QRegularExpression::MultilineOption).match(text).captured(1), version);
    }
    // lintian: errors and warnings fail (among them a desktop entry whose program is not in
    // the package, a binary without its library dependencies, a file under an aliased /lib);
    // the ones meant are overridden, with the reason, in the package's own file. Of the
    // informational tags one is expected: cpack strips symbols but leaves the compiler's
    // .comment section.
    const auto tags = [](const QString &output, const char *tagLine, const char *allowed) {
        const QStringList lines = output.split(u'\n').filter(QRegularExpression(QString::fromUtf8(tagLine)));
        return std::pair(lines.size(), lines.filter(QRegularExpression(QString::fromUtf8(allowed))).size());
    };
    // Run as root (CI), lintian also says that it should not be: only its tags count.
    const QString hints = run(QStringLiteral("lintian"), {QStringLiteral("-I"), QStringLiteral("--fail-on"), QStringLiteral("error,warning"), m_deb});
    const auto [hintCount, commentCount] = tags(hints, "^[A-Z]: ", R"re(^I: zorvik-installer: binary-has-unneeded-section )re"
                                                                     R"re((\[opt/zorvik-installer/zorvik-installer\] \.comment|\.comment \[opt/zorvik-installer/zorvik-installer\])$)re");
    QVERIFY2(hintCount <= 1 && commentCount == hintCount, qPrintable(hints));
    // validate-tree also checks that the launchable names a desktop entry the package ships.
    // Software centres hide an app without a content rating, which --pedantic reports as a
    // mere note, so any note fails here too. The developer is given in AppStream 1.0's
    // form, which appstreamcli before 1.0 (Debian 12's) does not know yet: there that one tag
    // is reported as unknown, and nothing else. Its absence there would mean the deprecated
    // <developer_name> is back, which Debian 13's appstreamcli reports.
    const QString output = run(QStringLiteral("appstreamcli"), {QStringLiteral("validate-tree"), QStringLiteral("--no-net"), QStringLiteral("--pedantic"), m_root});
    const QString toolVersion = run(QStringLiteral("appstreamcli"), {QStringLiteral("--version")});
    const QRegularExpressionMatch major = QRegularExpression(QStringLiteral(R"((\d+)\.\d+)")).match(toolVersion);
    QVERIFY2(major.hasMatch(), qPrintable(toolVersion));
    const auto [noteCount, unknownDeveloper] = tags(output, R"re(^\s*[EWIP]: )re", R"re(^\s*I: .*unknown-tag\b.*\bdeveloper\s*$)re");
    const qsizetype expected = major.captured(1).toInt() >= 1 ? 0 : 1;
    QVERIFY2(noteCount == expected && unknownDeveloper == expected, qPrintable(output));
}

void PackagingTest::distributorsApkIsTheOneChecked()
{
    // A distributor builds with -DZORVIK_APK=their.apk. The build's own resource step, run in
    // a scratch project for an APK unlike the one this build carries, must carry that APK and
    // compile in its digest, in the lowercase hex the installer compares against.
    const QByteArray apk = readFile(QStringLiteral(ZORVIK_BUILT_RESOURCES "/ZorvikStore.apk")) + "A";
    const QString source = m_dir.filePath(QStringLiteral("scratch"));
    QVERIFY(QDir().mkpath(source));
    writeFile(source + QStringLiteral("/distributor.apk"), apk);
    writeFile(source + QStringLiteral("/CMakeLists.txt"), "cmake_minimum_required(VERSION 3.22)\nproject(carried LANGUAGES NONE)\n"
                                                          "set(ZORVIK_RESOURCE_DIR \"${CMAKE_BINARY_DIR}/resources\")\n"
                                                          "include(\"" ZORVIK_SOURCE_DIR "/cmake/Resources.cmake\")\n");
    // Resources.cmake reads install/ from CMAKE_SOURCE_DIR: give it the repository's.
    QVERIFY(QFile::link(QStringLiteral(ZORVIK_SOURCE_DIR "/install"), source + QStringLiteral("/install")));
    const QStringList configure{QStringLiteral("-S"), source, QStringLiteral("-B"), source + QStringLiteral("/build"),
                                QStringLiteral("-DZORVIK_ADB=" ZORVIK_CARRIED_ADB),
                                QStringLiteral("-DZORVIK_APK=") + source + QStringLiteral("/distributor.apk")};
    // Without the APK's version the version line would name the wrong one.
    QProcess refused;
    refused.start(QStringLiteral(ZORVIK_CMAKE), configure);
    QVERIFY(refused.waitForFinished(60000) && refused.exitCode() != 0 && refused.readAllStandardError().contains("-DZORVIK_APK_VERSION="));
    run(QStringLiteral(ZORVIK_CMAKE), configure + QStringList{QStringLiteral("-DZORVIK_APK_VERSION=1.2.3")});
    QVERIFY(readFile(source + QStringLiteral("/build/generated/expecteddigest.h"))
                .contains("#define ZORVIK_EXPECTED_APK_SHA256 \"" + QCryptographicHash::hash(apk, QCryptographicHash::Sha256).toHex() + '"'));
    QCOMPARE(readFile(source + QStringLiteral("/build/resources/ZorvikStore.apk")), apk);
}

QTEST_GUILESS_MAIN(PackagingTest)
#include "tst_packaging.moc"
