#pragma once

// The real adb against simulated head units (tools/headunit-sim): make the sandbox first,
// then the units, so the units end before their server.

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>

#include <csignal>

struct AdbResult {
    int exitCode = -1; // also when adb crashed or hung
    QString output;    // stdout and stderr merged
};

// A headunit-sim process with this profile on a kernel-chosen port, logging every request.
// Its destructor warns when the unit did not end cleanly on SIGTERM (a crash or a sanitizer
// report), which QTest::failOnWarning turns into a failure.
class SimulatedUnit
{
public:
    // With a pairing code the unit also shows the pairing screen of wireless debugging
    // (needs a simulator built with BoringSSL, HEADUNIT_SIM_CAN_PAIR).
    explicit SimulatedUnit(const QJsonObject &profile = {}, const QString &pairCode = {})
    {
        QStringList arguments{"--port", "0", "--profile", "/dev/stdin", "--log", m_dir.filePath("log.jsonl")};
        if (!pairCode.isEmpty())
            arguments << "--pair-code" << pairCode;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(HEADUNIT_SIM_PATH, arguments);
        m_process.write(QJsonDocument(profile).toJson());
        m_process.closeWriteChannel();
        // Once it listens the unit prints "PORT 40555", and "PAIR PORT 40556" after it when it
        // pairs, in one write; a bad profile ends it instead.
        m_process.waitForReadyRead(10000);
        m_port = m_process.readLine().mid(5).trimmed().toUShort();
        if (!pairCode.isEmpty())
            m_pairPort = m_process.readLine().mid(10).trimmed().toUShort();
    }

    ~SimulatedUnit()
    {
        // QProcess kills it if it is still there.
        m_process.terminate();
        if (!m_process.waitForFinished(5000) || m_process.exitStatus() != QProcess::NormalExit
            || m_process.exitCode() != 0)
            qWarning("headunit-sim did not end cleanly on SIGTERM");
    }

    [[nodiscard]] QString serial() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    // What the pairing screen shows, for `adb pair`; port 0 when the unit does not pair.
    [[nodiscard]] QString pairAddress() const { return QStringLiteral("127.0.0.1:%1").arg(m_pairPort); }

    // The person taps "Allow" on an `unauthorized` unit (SIGUSR1, see the simulator's README):
    // a host that offered its key is let in, and so is every host from then on. Whether adb
    // has offered its key yet does not matter. adb shows "device" a moment later.
    [[nodiscard]] bool allow() const
    {
        return m_process.state() == QProcess::Running && ::kill(pid_t(m_process.processId()), SIGUSR1) == 0;
    }

    [[nodiscard]] QList<QJsonObject> logEntries() const
    {
        QFile file(m_dir.filePath(QStringLiteral("log.jsonl")));
        QList<QJsonObject> entries;
        for (const QByteArray &line : (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()).split('\n'))
            entries << QJsonDocument::fromJson(line).object();
        return entries.mid(0, entries.size() - 1); // after the last line break
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    quint16 m_pairPort = 0;
};

// An adb server of its own on a port the kernel just handed out. The port goes into this
// process's ANDROID_ADB_SERVER_PORT, so every adb child, the installer's too, talks to this
// server, never to the user's on 5037.
//
// The adb is the one the installer is built with unless another is given (the pairing test's
// adb 30 or newer). That adb and its server keep their keys and paired hosts in `home`, by
// default a folder of the sandbox's own, never in the user's ~/.android.
class AdbServerSandbox
{
public:
    explicit AdbServerSandbox(const QString &adb = QStringLiteral(ZORVIK_REAL_ADB), const QString &home = {})
        : m_adb(adb)
        , m_home(home.isEmpty() ? m_ownHome.path() : home)
    {
        // Every adb server probes 5555-5585 for emulators.
        while (m_port == 0 || m_port == 5037 || (m_port >= 5555 && m_port <= 5585)) {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost))
                return;
            m_port = probe.serverPort();
        }
        qputenv("ANDROID_ADB_SERVER_PORT", QByteArray::number(m_port));
        // Taking the port at once keeps a simulated unit from getting it.
        (void)runAdb({QStringLiteral("start-server")});
    }

    // Its destructor warns when the server outlived it, or when adb commands of this process
    // still ran 30 s on, which QTest::failOnWarning turns into failures. The installer's
    // workers are never waited for, and an adb command they still run would find its server
    // gone and start it again, so it goes only once they are done: end the installer first.
    ~AdbServerSandbox()
    {
        if (!QTest::qWaitFor([] { return adbChildren() == 0; }, 30000))
            qWarning("adb commands still ran when their server was to end");
        // Its marker, named after its port, goes with its home, a temporary folder.
        (void)runAdb({QStringLiteral("kill-server")});
        qunsetenv("ANDROID_ADB_SERVER_PORT");
        const auto closed = [this] {
            QTcpSocket server;
            server.connectToHost(QHostAddress::LocalHost, m_port);
            return m_port == 0 || !server.waitForConnected(1000);
        };
        if (!QTest::qWaitFor(closed, 3000))
            qWarning("an adb server outlived its sandbox");
    }

    [[nodiscard]] AdbResult runAdb(const QStringList &arguments) const
    {
        QProcess adb;
        adb.setProcessChannelMode(QProcess::MergedChannels);
        adb.setStandardInputFile(QProcess::nullDevice());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_home);
        adb.setProcessEnvironment(environment);
        adb.start(m_adb, arguments);
        // One that hangs is killed when adb goes out of scope.
        adb.waitForFinished(60000);
        const bool ended = adb.exitStatus() == QProcess::NormalExit && adb.error() == QProcess::UnknownError;
        return {ended ? adb.exitCode() : -1, QString::fromUtf8(adb.readAll())};
    }

    // adb connect exits 0 whatever happened. An unauthorized unit is listed as soon as it
    // has refused; a ready one needs its handshake to end first.
    [[nodiscard]] bool attach(const SimulatedUnit &unit) const
    {
        const QString said = runAdb({"connect", unit.serial()}).output;
        return said.startsWith("failed to authenticate to " + unit.serial())
               || (said.contains("connected to") && runAdb({"-s", unit.serial(), "wait-for-device"}).exitCode == 0);
    }

private:
    // The adb commands this process has started and that still run: its children that are
    // adb, or the shell script an unpacked adb is started by.
    static int adbChildren()
    {
        int count = 0;
        const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
        for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile stat("/proc/" + pid + "/stat");
            QFile command("/proc/" + pid + "/cmdline");
            if (!pid.front().isDigit() || !stat.open(QIODevice::ReadOnly) || !command.open(QIODevice::ReadOnly))
                continue;
            // "PID (NAME) STATE PPID ...", where NAME may hold anything.
            const QByteArray status = stat.readAll();
            const QList<QByteArray> words = command.readAll().split('\0');
            const auto isAdb = [](const QByteArray &word) { return word == "adb" || word.endsWith("/adb"); };
            if (status.mid(status.lastIndexOf(')') + 2).split(' ').value(1) == self && (isAdb(words.value(0)) || isAdb(words.value(1))))
                ++count;
        }
        return count;
    }

    QTemporaryDir m_ownHome;
    QString m_adb;
    QString m_home;
    quint16 m_port = 0;
};
