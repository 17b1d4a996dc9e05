#pragma once

#include <QStringList>
#include <QTemporaryDir>

// A resource directory whose "adb" is a small shell script: it records every argv it is
// started with and answers from a table of canned replies, so tests can assert the exact
// commands, their order, and what the program made of the answers.
class FakeAdb
{
public:
    FakeAdb();

    [[nodiscard]] QString resourceDir() const { return m_dir.path(); }

    // When adb is started with exactly `arguments`, print `output` and exit with `status`.
    // A later reply for the same arguments replaces the earlier one.
    void reply(const QStringList &arguments, const QString &output, int status = 0);
    // When adb is started with exactly `arguments`, run `shellCode` (sh) instead.
    void replyWithScript(const QStringList &arguments, const QString &shellCode);
    // When adb is started with exactly `arguments`, read its stdin to the end, keep it for
    // receivedInput(), then run `shellCode`, which finds this run's input in "$R/input".
    void replyReadingInput(const QStringList &arguments, const QString &shellCode);
    // All that the runs of replyReadingInput were given on stdin, in order.
    [[nodiscard]] QByteArray receivedInput() const;
    // When adb is started with exactly `arguments`, it never answers, as adb does when the
    // unit or the server it talks to hangs: it notes its process id and sleeps for minutes.
    void hang(const QStringList &arguments);
    // The shell code hang() runs, for scripts that hang only on some of their arguments.
    [[nodiscard]] static QString hangingScript();
    // The process ids of the hung adb runs so far, in the order they were started.
    [[nodiscard]] QList<qint64> hungProcesses() const;
    // What any other command does; by default it prints nothing and exits 0.
    void setFallbackScript(const QString &shellCode);

    // Answers the eight read-only probes of a ready device; the probes not named here
    // answer as a LI_OS 5.2.1 unit on Android 11 (API 30), 1920x720 at 160 dpi.
    struct Device
    {
        Device(QString serial) : serial(std::move(serial)) {}   // NOLINT: reads well as {"SERIAL"}
        QString serial;
        QString manufacturer = QStringLiteral("LI_AUTO");
        QString model = QStringLiteral("HU_L9");
        QString pmPath;     // empty: not installed, and pm exits 1 as it does then
    };
    void addDevice(const Device &device);
    // The "devices" listing, as adb would print it.
    void setListing(const QString &output) { reply({QStringLiteral("devices")}, output); }
    // "track-devices" blocks until it is ended, as adb's does, and writes whatever this
    // appends to its stream: `rows` ("S1\tdevice\n...") as one message of adb's framing.
    void track(const QString &rows);
    // Appends `bytes` to the stream as they are, framing and all.
    void trackBytes(const QByteArray &bytes);

    // Every argv adb was started with, in order.
    [[nodiscard]] QList<QStringList> calls() const;
    void clearCalls();

private:
    void writeRules() const;

    QTemporaryDir m_dir;
    QStringList m_rules;    // newest first, as branches of the rule script's "case"
    QString m_fallback;
};

// Expected argv of the eight probes of `serial`, in the order the scan runs them.
[[nodiscard]] QList<QStringList> probeCalls(const QString &serial);
