#include "simharness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char kServerPortVariable[] = "ANDROID_ADB_SERVER_PORT";

// 5037 is the default server; 5555-5585 are probed by every adb server as emulators.
bool isReservedAdbPort(quint16 port)
{
    return port == 5037 || (port >= 5555 && port <= 5585);
}

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port the kernel just handed out on 127.0.0.1 and that is free again.
quint16 freeLoopbackPort()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0)
            return 0;
        sockaddr_in address = loopback(0);
        socklen_t length = sizeof address;
        quint16 port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        ::close(fd);
        if (port != 0 && !isReservedAdbPort(port))
            return port;
    }
    return 0;
}

bool acceptsConnections(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    const sockaddr_in address = loopback(port);
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

// ---------------------------------------------------------------- AdbServerSandbox

AdbServerSandbox::AdbServerSandbox()
{
    m_hadPreviousPort = qEnvironmentVariableIsSet(kServerPortVariable);
    m_previousPort = qgetenv(kServerPortVariable);
    m_serverPort = freeLoopbackPort();
    qputenv(kServerPortVariable, QByteArray::number(m_serverPort));
    // Taking the port at once keeps a simulated unit from getting it.
    [[maybe_unused]] const AdbResult started = runAdb({QStringLiteral("start-server")});
}

AdbServerSandbox::~AdbServerSandbox()
{
    [[maybe_unused]] const AdbResult killed = runAdb({QStringLiteral("kill-server")}, 10000);
    QDeadlineTimer deadline(5000);
    while (serverListening() && !deadline.hasExpired())
        QThread::msleep(20);
    // The server leaves a marker file named after its port; ports are one-off here.
    QFile::remove(QDir::homePath() + QStringLiteral("/.android/adb.%1").arg(m_serverPort));
    if (m_hadPreviousPort)
        qputenv(kServerPortVariable, m_previousPort);
    else
        qunsetenv(kServerPortVariable);
}

QString AdbServerSandbox::adbPath()
{
    return QStringLiteral(ZORVIK_REAL_ADB);
}

AdbResult AdbServerSandbox::runAdb(const QStringList &arguments, int timeoutMs) const
{
    QProcess adb;
    adb.setProgram(adbPath());
    adb.setArguments(arguments);
    adb.setProcessChannelMode(QProcess::MergedChannels);
    adb.setStandardInputFile(QProcess::nullDevice());
    // Explicit as well as inherited, so two sandboxes can live side by side.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kServerPortVariable), QString::number(m_serverPort));
    adb.setProcessEnvironment(environment);
    adb.start();

    AdbResult result;
    if (!adb.waitForStarted()) {
        result.output = adb.errorString();
        return result;
    }
    if (!adb.waitForFinished(timeoutMs)) {
        adb.kill();
        adb.waitForFinished();
        result.output = QString::fromUtf8(adb.readAll()) + QStringLiteral("\n[adb timed out]");
        return result;
    }
    result.output = QString::fromUtf8(adb.readAll());
    if (adb.exitStatus() == QProcess::NormalExit)
        result.exitCode = adb.exitCode();
    return result;
}

bool AdbServerSandbox::connect(quint16 devicePort) const
{
    const AdbResult result =
        runAdb({QStringLiteral("connect"), QStringLiteral("127.0.0.1:%1").arg(devicePort)});
    return result.output.contains(QStringLiteral("connected to"));
}

QString AdbServerSandbox::deviceState(const QString &serial) const
{
    // "List of devices attached\n127.0.0.1:40745\tdevice\n\n"
    const AdbResult result = runAdb({QStringLiteral("devices")});
    const QStringList lines = result.output.split(u'\n');
    for (const QString &line : lines) {
        const QStringList fields = line.trimmed().split(u'\t');
        if (fields.size() == 2 && fields.at(0) == serial)
            return fields.at(1);
    }
    return {};
}

bool AdbServerSandbox::waitForState(const QString &serial, const QString &state,
                                    int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    while (deviceState(serial) != state) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

bool AdbServerSandbox::serverListening() const
{
    return acceptsConnections(m_serverPort);
}

QList<qint64> AdbServerSandbox::adbProcesses(quint16 serverPort)
{
    QList<qint64> found;
#ifdef Q_OS_LINUX
    const QByteArray wanted = QByteArray(kServerPortVariable) + '=' + QByteArray::number(serverPort);
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
        if (!exe.endsWith(QStringLiteral("/adb")))
            continue;
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        if (environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(wanted))
            found << pid;
    }
#else
    Q_UNUSED(serverPort);
#endif
    return found;
}

// ---------------------------------------------------------------- SimulatedUnit

SimulatedUnit::SimulatedUnit(const QJsonObject &profile)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory: %1").arg(m_dir.errorString());
        return;
    }
    QFile profileFile(m_dir.filePath(QStringLiteral("profile.json")));
    if (!profileFile.open(QIODevice::WriteOnly)
        || profileFile.write(QJsonDocument(profile).toJson()) < 0) {
        m_error = QStringLiteral("cannot write the profile: %1").arg(profileFile.errorString());
        return;
    }
    profileFile.close();

    const QString portFile = m_dir.filePath(QStringLiteral("port"));
    m_process.setProgram(simPath());
    m_process.setArguments({QStringLiteral("--port"), QStringLiteral("0"),
                            QStringLiteral("--port-file"), portFile,
                            QStringLiteral("--profile"), profileFile.fileName(),
                            QStringLiteral("--log"), logPath()});
    m_process.setStandardInputFile(QProcess::nullDevice());
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("stdout")));
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    if (!m_process.waitForStarted()) {
        m_error = QStringLiteral("cannot start %1: %2").arg(simPath(), m_process.errorString());
        return;
    }
    m_processId = m_process.processId();

    // The port file appears whole (written to a temporary name, then renamed).
    QDeadlineTimer deadline(10000);
    while (!QFile::exists(portFile)) {
        if (m_process.state() != QProcess::Running || deadline.hasExpired()) {
            m_error = QStringLiteral("headunit-sim did not report its port");
            return;
        }
        QThread::msleep(10);
    }
    QFile file(portFile);
    if (file.open(QIODevice::ReadOnly))
        m_port = static_cast<quint16>(file.readAll().trimmed().toUInt());
    if (m_port == 0)
        m_error = QStringLiteral("unreadable port file");
}

SimulatedUnit::~SimulatedUnit()
{
    // A test can turn this into a failure with QTest::failOnWarning (sanitizer reports
    // and crashes of the unit end up here).
    if (m_processId != 0 && !stop())
        qWarning("headunit-sim (pid %lld) did not end cleanly on SIGTERM", m_processId);
}

bool SimulatedUnit::isRunning() const
{
    return m_port != 0 && m_process.state() == QProcess::Running;
}

QString SimulatedUnit::serial() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

QString SimulatedUnit::logPath() const
{
    return m_dir.filePath(QStringLiteral("services.jsonl"));
}

QList<QJsonObject> SimulatedUnit::logEntries() const
{
    QList<QJsonObject> entries;
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (!line.isEmpty())
            entries << QJsonDocument::fromJson(line).object();
    }
    return entries;
}

bool SimulatedUnit::stop()
{
    if (m_stopped)
        return m_cleanExit;
    m_stopped = true;
    if (m_processId == 0)
        return false;
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
            return false;
        }
    }
    m_cleanExit = m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    return m_cleanExit;
}

QString SimulatedUnit::simPath()
{
    return QStringLiteral(HEADUNIT_SIM_PATH);
}
