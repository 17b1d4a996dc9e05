// Installs the build into a temporary prefix with `cmake --install` and starts the
// installed program: it must find its resources beside itself wherever the folder lies,
// also when started through a symbolic link (as /usr/bin/zorvik-installer is).

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Replaces the installed adb with a script that records each argv as one line and answers
// "devices" with an empty listing. Nothing reaches a real adb server.
void installRecordingAdb(const QString &resourceDir)
{
    const QString adb = QDir(resourceDir).filePath(QStringLiteral("adb"));
    QFile::remove(adb);
    QFile script(adb);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n"
                 "echo \"$*\" >> \"$(dirname \"$0\")/calls.log\"\n"
                 "[ \"$1\" = devices ] && printf 'List of devices attached\\n\\n'\n"
                 "exit 0\n");
    script.close();
    QVERIFY(QFile::setPermissions(adb, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

} // namespace

class InstallLayoutTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layout();
    void desktopEntry();
    void installedProgramFindsItsResources_data();
    void installedProgramFindsItsResources();

private:
    QString prefix() const { return m_root.filePath(QStringLiteral("prefix")); }
    QString resources() const { return prefix() + QStringLiteral("/resources"); }

    QTemporaryDir m_root;
};

void InstallLayoutTest::initTestCase()
{
    QVERIFY(m_root.isValid());
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(ZORVIK_CMAKE), {QStringLiteral("--install"), QStringLiteral(ZORVIK_BUILD_DIR),
                                                 QStringLiteral("--prefix"), prefix()});
    QVERIFY(install.waitForFinished(60000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAll().constData());
}

void InstallLayoutTest::layout()
{
    const QFileInfo program(prefix() + QStringLiteral("/zorvik-installer"));
    QVERIFY(program.isFile());
    QVERIFY(program.isExecutable());

    // A link into the build machine's adb would break as soon as the folder is copied
    // elsewhere; the installed adb must be the binary itself.
    const QFileInfo adb(resources() + QStringLiteral("/adb"));
    QVERIFY(adb.exists());
    QVERIFY(!adb.isSymLink());
    QVERIFY(adb.isExecutable());
    QCOMPARE(fileHash(adb.filePath()), fileHash(QStringLiteral(ZORVIK_CARRIED_ADB)));

    const QString built = QStringLiteral(ZORVIK_BUILT_RESOURCES);
    for (const char *name : {"ZorvikStore.apk", "logo.png"}) {
        const QString installed = QDir(resources()).filePath(QLatin1String(name));
        QVERIFY2(QFileInfo(installed).isFile() && !QFileInfo(installed).isSymLink(), name);
        QCOMPARE(fileHash(installed), fileHash(QDir(built).filePath(QLatin1String(name))));
    }

    const QImage icon(prefix() + QStringLiteral("/share/icons/hicolor/256x256/apps/zorvik-installer.png"));
    QCOMPARE(icon.size(), QSize(256, 256));
    QVERIFY(icon.hasAlphaChannel());
    // The mark fills the middle; the corners stay transparent.
    QVERIFY(qAlpha(icon.pixel(128, 128)) == 255);
    QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
}

void InstallLayoutTest::desktopEntry()
{
    const QString text = readText(prefix() + QStringLiteral("/share/applications/zorvik-installer.desktop"));
    QVERIFY(!text.isEmpty());
    const QStringList lines = text.split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), QStringLiteral("[Desktop Entry]"));
    for (const QString &line : {QStringLiteral("Type=Application"), QStringLiteral("Name=Zorvik App Installer"),
                                QStringLiteral("Icon=zorvik-installer"), QStringLiteral("Categories=Utility;"),
                                QStringLiteral("Exec=\"%1/zorvik-installer\"").arg(prefix())})
        QVERIFY2(lines.contains(line), qPrintable(line));

    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (!validator.isEmpty()) {
        QProcess validate;
        validate.setProcessChannelMode(QProcess::MergedChannels);
        validate.start(validator, {prefix() + QStringLiteral("/share/applications/zorvik-installer.desktop")});
        QVERIFY(validate.waitForFinished(10000));
        QVERIFY2(validate.exitCode() == 0, validate.readAll().constData());
    }
}

void InstallLayoutTest::installedProgramFindsItsResources_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("as installed") << QStringLiteral("direct");
    QTest::newRow("through a symbolic link") << QStringLiteral("link");
    QTest::newRow("after the folder was moved") << QStringLiteral("moved");
}

void InstallLayoutTest::installedProgramFindsItsResources()
{
    QFETCH(QString, how);
    QString folder = prefix();
    if (how == QStringLiteral("moved")) {
        folder = m_root.filePath(QStringLiteral("moved"));
        QVERIFY(QDir().rename(prefix(), folder));
    }
    const QString resourceDir = folder + QStringLiteral("/resources");
    installRecordingAdb(resourceDir);
    QFile::remove(resourceDir + QStringLiteral("/calls.log"));

    QString program = folder + QStringLiteral("/zorvik-installer");
    if (how == QStringLiteral("link")) {
        QDir(m_root.path()).mkpath(QStringLiteral("bin"));
        program = m_root.filePath(QStringLiteral("bin/zorvik-installer"));
        QFile::remove(program);
        QVERIFY(QFile::link(folder + QStringLiteral("/zorvik-installer"), program));
    }

    QProcess installer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    installer.setProcessEnvironment(env);
    installer.setWorkingDirectory(m_root.path());   // not the install folder: nothing relative may help
    installer.start(program, {});
    QVERIFY(installer.waitForStarted(10000));

    const QString log = resourceDir + QStringLiteral("/calls.log");
    QStringList calls;
    for (int waited = 0; waited < 30000 && !calls.contains(QStringLiteral("devices")); waited += 100) {
        QTest::qWait(100);
        calls = readText(log).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    const bool stillRunning = installer.state() == QProcess::Running;
    installer.kill();
    installer.waitForFinished(10000);

    QVERIFY2(stillRunning, installer.readAllStandardError().constData());
    QCOMPARE(calls, QStringList({QStringLiteral("start-server"), QStringLiteral("devices")}));
}

QTEST_GUILESS_MAIN(InstallLayoutTest)
#include "tst_installlayout.moc"
