// Builds the Debian package from this build tree with cpack and reads it back with
// dpkg-deb: its name and dependencies, where every file lands, and the desktop entry.

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
    process.start(program, arguments);
    if (!process.waitForFinished(150000))
        process.kill();
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAll());
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

private:
    QString field(const QString &name) const
    {
        return run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, name}).trimmed();
    }

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
}

void DebPackageTest::contents()
{
    QFETCH(QString, entry);
    QVERIFY2(m_listing.contains(entry), qPrintable(m_listing.join(QLatin1Char('\n'))));
}

void DebPackageTest::desktopEntryStartsTheOptCopy()
{
    const QString root = m_dir.filePath(QStringLiteral("root"));
    int status = 0;
    const QString output = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, root}, &status);
    QVERIFY2(status == 0, qPrintable(output));
    QFile entry(root + QStringLiteral("/usr/share/applications/zorvik-installer.desktop"));
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

QTEST_GUILESS_MAIN(DebPackageTest)
#include "tst_debpackage.moc"
