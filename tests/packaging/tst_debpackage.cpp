// Builds the Debian package from this build tree with cpack and reads it back with
// dpkg-deb: its name and dependencies, where every file lands, and the desktop entry. Then
// lintian and appstreamcli judge it as Debian and the software centres would.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Runs a tool to its end; the output is stdout and stderr together.
QString run(const QString &program, const QStringList &arguments, int *exitCode = nullptr)
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
    // A tool that is not installed must not pass for one that found nothing to say.
    const bool finished = process.error() == QProcess::UnknownError && process.exitStatus() == QProcess::NormalExit;
    if (exitCode)
        *exitCode = finished ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAll()) + (finished ? QString() : process.errorString());
}

} // namespace

class DebPackageTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void control_data();
    void control();
    void contents_data();
    void contents();
    void desktopEntryStartsTheOptCopy();
    void versionMatchesThePackage_data();
    void versionMatchesThePackage();
    void lintianFindsNothingUnexplained();
    void metainfoIsValid();

private:
    QString field(const QString &name) const
    {
        return run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, name}).trimmed();
    }

    QString root() const { return m_dir.filePath(QStringLiteral("root")); }

    QTemporaryDir m_dir;
    QString m_deb;
    QStringList m_listing;  // "mode path[ -> target]" per file
};

void DebPackageTest::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dpkg-deb")).isEmpty())
        QSKIP("dpkg-deb is not installed (apt-get install dpkg)");
    QVERIFY(m_dir.isValid());
    int status = 0;
    const QString output = run(QStringLiteral(ZORVIK_CPACK),
                               {QStringLiteral("--config"), QStringLiteral(ZORVIK_BUILD_DIR "/CPackConfig.cmake"),
                                QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), m_dir.path()},
                               &status);
    QVERIFY2(status == 0, qPrintable(output));
    const QStringList debs = QDir(m_dir.path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    m_deb = QDir(m_dir.path()).filePath(debs.first());
    QVERIFY2(debs.first().startsWith(QStringLiteral("zorvik-installer_")), qPrintable(debs.first()));

    // "-rwxr-xr-x root/root 456680 2024-01-01 00:00 ./opt/zorvik-installer/resources/adb"
    static const QRegularExpression line(QStringLiteral(R"(^(\S+)\s+\S+\s+\d+\s+\S+\s+\S+\s+\.(/\S*)(.*)$)"));
    for (const QString &entry : run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), m_deb}).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = line.match(entry);
        if (match.hasMatch())
            m_listing << match.captured(1).left(1) + QLatin1Char(' ') + match.captured(2) + match.captured(3);
    }
    QVERIFY(!m_listing.isEmpty());

    const QString unpacked = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, root()}, &status);
    QVERIFY2(status == 0, qPrintable(unpacked));
}

void DebPackageTest::control_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("mustContain");
    QTest::newRow("Package") << "Package" << QStringList{"zorvik-installer"};
    QTest::newRow("Version") << "Version" << QStringList{"0.3.8"};
    QTest::newRow("Depends") << "Depends"
                             << QStringList{"libqt6widgets6", "libqt6gui6", "libqt6core6", "libssl3", "adb",
                                            "fonts-inter"};
    // Only dpkg-shlibdeps names these: the C library, and the private libraries that the
    // carried adb reaches through its RUNPATH.
    QTest::newRow("Depends, derived") << "Depends" << QStringList{"libc6", "libstdc++6", "android-libbase", "libusb-1.0-0"};
}

void DebPackageTest::control()
{
    QFETCH(QString, name);
    QFETCH(QStringList, mustContain);
    const QString value = field(name);
    // Depends is a comma list with optional version constraints: compare package names.
    QStringList names;
    for (const QString &item : value.split(QLatin1Char(',')))
        names << item.trimmed().section(QLatin1Char(' '), 0, 0);
    for (const QString &wanted : mustContain)
        QVERIFY2(names.contains(wanted), qPrintable(name + QStringLiteral(": ") + value));
}

void DebPackageTest::contents_data()
{
    QTest::addColumn<QString>("entry");
    // "-": regular file, "l": symbolic link (with its target).
    QTest::newRow("program") << "- /opt/zorvik-installer/zorvik-installer";
    QTest::newRow("adb, a copy not a link") << "- /opt/zorvik-installer/resources/adb";
    QTest::newRow("APK") << "- /opt/zorvik-installer/resources/ZorvikStore.apk";
    QTest::newRow("logo") << "- /opt/zorvik-installer/resources/logo.png";
    QTest::newRow("desktop entry") << "- /usr/share/applications/zorvik-installer.desktop";
    QTest::newRow("icon") << "- /usr/share/icons/hicolor/256x256/apps/zorvik-installer.png";
    QTest::newRow("command") << "l /usr/bin/zorvik-installer -> /opt/zorvik-installer/zorvik-installer";
    QTest::newRow("metainfo") << "- /usr/share/metainfo/ru.zorvik.installer.metainfo.xml";
    QTest::newRow("manual page") << "- /usr/share/man/man1/zorvik-installer.1.gz";
    QTest::newRow("copyright") << "- /usr/share/doc/zorvik-installer/copyright";
    QTest::newRow("changelog") << "- /usr/share/doc/zorvik-installer/changelog.gz";
    QTest::newRow("lintian overrides") << "- /usr/share/lintian/overrides/zorvik-installer";
}

void DebPackageTest::contents()
{
    QFETCH(QString, entry);
    QVERIFY2(m_listing.contains(entry), qPrintable(m_listing.join(QLatin1Char('\n'))));
}

void DebPackageTest::desktopEntryStartsTheOptCopy()
{
    QFile entry(root() + QStringLiteral("/usr/share/applications/zorvik-installer.desktop"));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'));
    QVERIFY(lines.contains(QStringLiteral("Exec=\"/opt/zorvik-installer/zorvik-installer\"")));
    QVERIFY(lines.contains(QStringLiteral("Name=Zorvik App Installer")));
    // Nothing of the package may sit outside /opt/zorvik-installer, /usr/share and /usr/bin.
    for (const QString &item : std::as_const(m_listing)) {
        const QString path = item.mid(2);
        QVERIFY2(path.startsWith(QStringLiteral("/opt/zorvik-installer")) || path.startsWith(QStringLiteral("/usr/share/"))
                     || path.startsWith(QStringLiteral("/usr/bin/")) || path == QStringLiteral("/")
                     || path == QStringLiteral("/opt/") || path == QStringLiteral("/usr/"),
                 qPrintable(path));
    }
}

void DebPackageTest::versionMatchesThePackage_data()
{
    // Written by hand, each of these names the release: a version bump must reach them all.
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("changelog") << "/usr/share/doc/zorvik-installer/changelog.gz" << R"re(^zorvik-installer \(([^)]+)\))re";
    QTest::newRow("metainfo, newest release") << "/usr/share/metainfo/ru.zorvik.installer.metainfo.xml"
                                               << R"re(<release version="([^"]+)")re";
    QTest::newRow("manual page") << "/usr/share/man/man1/zorvik-installer.1.gz" << R"re(^\.TH .*"zorvik-installer (\S+)")re";
}

void DebPackageTest::versionMatchesThePackage()
{
    QFETCH(QString, path);
    QFETCH(QString, pattern);
    int status = 0;
    // zcat -f passes an uncompressed file through as it is.
    const QString text = run(QStringLiteral("zcat"), {QStringLiteral("-f"), root() + path}, &status);
    QVERIFY2(status == 0, qPrintable(text));
    const QRegularExpressionMatch match =
        QRegularExpression(pattern, QRegularExpression::MultilineOption).match(text);
    QVERIFY2(match.hasMatch(), qPrintable(text.left(400)));
    QCOMPARE(match.captured(1), field(QStringLiteral("Version")));
}

void DebPackageTest::lintianFindsNothingUnexplained()
{
    // Errors and warnings fail; the ones the package means to have are overridden, with the
    // reason, in the package's own override file, which lintian reads from the package.
    int status = 0;
    const QString output = run(QStringLiteral("lintian"),
                               {QStringLiteral("--fail-on"), QStringLiteral("error,warning"), m_deb}, &status);
    QVERIFY2(status == 0, qPrintable(QStringLiteral("lintian (scripts/setup.sh installs it) exited with %1:\n%2")
                                         .arg(status)
                                         .arg(output)));
}

void DebPackageTest::metainfoIsValid()
{
    // validate-tree also checks that the launchable names a desktop entry the package ships.
    // The exit status covers errors and warnings only; software centres hide an app without
    // a content rating, which --pedantic reports as a mere note, so any note fails here too,
    // as does finding no metadata at all.
    int status = 0;
    const QString output = run(QStringLiteral("appstreamcli"),
                               {QStringLiteral("validate-tree"), QStringLiteral("--no-net"),
                                QStringLiteral("--pedantic"), root()},
                               &status);
    QVERIFY2(status == 0, qPrintable(QStringLiteral("appstreamcli (scripts/setup.sh installs appstream) exited with %1:\n%2")
                                         .arg(status)
                                         .arg(output)));
    static const QRegularExpression issue(QStringLiteral(R"(^\s*[EWIP]: )"), QRegularExpression::MultilineOption);
    QVERIFY2(!output.contains(issue), qPrintable(output));
}

QTEST_GUILESS_MAIN(DebPackageTest)
#include "tst_debpackage.moc"
