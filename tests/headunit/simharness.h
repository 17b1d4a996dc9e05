#pragma once

// Test harness for end-to-end tests against the real adb and headunit-sim.
//
//   AdbServerSandbox adb;                  // private adb server port for this test
//   SimulatedUnit unit({{"installed", true}});
//   QVERIFY(adb.connect(unit.port()));
//   const AdbResult r = adb.runAdb({"-s", unit.serial(), "shell", "wm", "size"});
//
// The paths of the real adb and of headunit-sim come from CMake as ZORVIK_REAL_ADB and
// HEADUNIT_SIM_PATH.

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

struct AdbResult {
    int exitCode = -1; // -1 when adb could not be started, crashed or timed out
    QString output;    // standard output and standard error merged, decoded once as UTF-8
};

// An adb server of its own: a free loopback port (never 5037 nor 5555-5585) is put into
// ANDROID_ADB_SERVER_PORT of this process, so every adb child, the installer's included,
// talks to this server only. The constructor starts the server; the destructor runs
// `adb kill-server`, waits until the port is free, removes the server's
// ~/.android/adb.<port> marker and restores the variable.
class AdbServerSandbox
{
public:
    AdbServerSandbox();
    ~AdbServerSandbox();
    AdbServerSandbox(const AdbServerSandbox &) = delete;
    AdbServerSandbox &operator=(const AdbServerSandbox &) = delete;

    [[nodiscard]] quint16 serverPort() const { return m_serverPort; }

    // One adb process with these arguments, stdin at EOF, talking to this sandbox's
    // server even when another sandbox was made later.
    [[nodiscard]] AdbResult runAdb(const QStringList &arguments, int timeoutMs = 60000) const;

    // `adb connect 127.0.0.1:PORT`. adb exits 0 even when it fails, so the text decides:
    // true when it says "connected to" (also "already connected to").
    [[nodiscard]] bool connect(quint16 devicePort) const;

    // The state word `adb devices` shows for serial ("device", "unauthorized", ...),
    // empty when not listed.
    [[nodiscard]] QString deviceState(const QString &serial) const;
    // Polls deviceState until it equals state.
    [[nodiscard]] bool waitForState(const QString &serial, const QString &state,
                                    int timeoutMs = 10000) const;

    // Whether something accepts connections on 127.0.0.1:serverPort().
    [[nodiscard]] bool serverListening() const;

    // Linux: ids of the adb processes started with ANDROID_ADB_SERVER_PORT=serverPort;
    // empty elsewhere.
    [[nodiscard]] static QList<qint64> adbProcesses(quint16 serverPort);

    [[nodiscard]] static QString adbPath();

private:
    quint16 m_serverPort = 0;
    QByteArray m_previousPort;
    bool m_hadPreviousPort = false;
};

// A headunit-sim process with the given profile (see tools/headunit-sim/README.md),
// listening on a kernel-chosen port, logging to its own temporary directory.
// The destructor stops it: SIGTERM, then kill after 5 s; when the unit did not end by
// itself with status 0 it warns "headunit-sim (pid N) did not end cleanly on SIGTERM".
class SimulatedUnit
{
public:
    explicit SimulatedUnit(const QJsonObject &profile = {});
    ~SimulatedUnit();
    SimulatedUnit(const SimulatedUnit &) = delete;
    SimulatedUnit &operator=(const SimulatedUnit &) = delete;

    // True once the process runs and its port is known.
    [[nodiscard]] bool isRunning() const;
    [[nodiscard]] QString errorString() const { return m_error; }
    [[nodiscard]] quint16 port() const { return m_port; }
    // adb's serial for it: "127.0.0.1:PORT".
    [[nodiscard]] QString serial() const;
    [[nodiscard]] qint64 processId() const { return m_processId; }
    [[nodiscard]] QString logPath() const;
    // Every line of the service log parsed, in order.
    [[nodiscard]] QList<QJsonObject> logEntries() const;

    // SIGTERM (unless it has ended already) and wait; kill if it does not end within 5 s.
    // True when it ended by itself with status 0 (a clean shutdown). Safe to call again.
    bool stop();

    [[nodiscard]] static QString simPath();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_error;
    quint16 m_port = 0;
    qint64 m_processId = 0;
    bool m_stopped = false;
    bool m_cleanExit = false;
};
