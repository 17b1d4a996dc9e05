// Closing the window ends the installer at once, even while adb hangs. The installer's
// own start-up code runs in a child process (this executable started again), because the
// point is what happens to the whole process when it ends.

#include "appdelegate.h"
#include "fakeadb.h"
#include "runinstaller.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <csignal>

namespace {

const char *const kChildMode = "ZORVIK_LIFECYCLE_CHILD";

// The child: a fake adb whose "devices" never ends, the installer as main() runs it, and
// a close of the window once adb is known to hang.
int runChild(int argc, char *argv[])
{
    QApplication app(argc, argv);
    FakeAdb adb;
    const QString pidFile = adb.resourceDir() + QStringLiteral("/hanging.pid");
    adb.replyWithScript({"devices"}, QStringLiteral("echo $$ > '%1.tmp'; mv '%1.tmp' '%1'; exec sleep 3600").arg(pidFile));
    AppDelegate delegate(AppDelegate::TestSetup{adb.resourceDir(), std::nullopt});

    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        QFile pid(pidFile);
        if (!delegate.mainWindow() || !pid.open(QIODevice::ReadOnly))
            return;
        closer.stop();
        // Tell the parent which process hangs, so it can clean up after us.
        // The child never unwinds, so the parent removes the fake's directory afterwards.
        std::printf("resources %s\nhanging %s\nclosing %lld\n", qPrintable(adb.resourceDir()),
                    pid.readAll().trimmed().constData(),
                    static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
        std::fflush(stdout);
        delegate.mainWindow()->close();
    });
    closer.start();
    runInstaller(delegate);
}

} // namespace

class TestLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void closingWhileAdbHangsEndsPromptly();
};

void TestLifecycle::closingWhileAdbHangsEndsPromptly()
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildMode), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForStarted());

    const bool ended = child.waitForFinished(30000);
    const qint64 endedAt = QDateTime::currentMSecsSinceEpoch();
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    qint64 hangingPid = 0;
    qint64 closedAt = 0;
    QString resourceDir;
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("resources ")))
            resourceDir = line.mid(10);
        if (line.startsWith(QLatin1String("hanging ")))
            hangingPid = line.mid(8).toLongLong();
        if (line.startsWith(QLatin1String("closing ")))
            closedAt = line.mid(8).toLongLong();
    }
    if (hangingPid > 0)
        ::kill(static_cast<pid_t>(hangingPid), SIGKILL);
    if (!ended)
        child.kill();
    if (!resourceDir.isEmpty())
        QDir(resourceDir).removeRecursively();

    QVERIFY2(ended, "the installer did not end after its window was closed");
    QVERIFY2(hangingPid > 0 && closedAt > 0, qPrintable(output));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QVERIFY2(endedAt - closedAt < 1000, qPrintable(QStringLiteral("ended %1 ms after the close").arg(endedAt - closedAt)));
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(kChildMode))
        return runChild(argc, argv);
    QApplication app(argc, argv);
    TestLifecycle test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_lifecycle.moc"
