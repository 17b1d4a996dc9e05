#pragma once

#include "deviceinfo.h"
#include "logrules.h"
#include "scanscheduler.h"
#include "timing.h"

#include <QColor>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <optional>

class InstallSession;
class NetworkConnector;
class QComboBox;
class QLabel;
class QMessageBox;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QWidget;

namespace adb {
struct ConnectAttempt;
struct PairAttempt;
}
namespace install {
struct InstallOutcome;
}

// Coordinates the window with the pieces that do the work: the scan scheduler, one install
// session at a time and the network connector. It holds the window and its widgets, the ready
// devices, the phase of the whole run and what the log holds; every other state belongs to
// the piece that does that work. Everything runs on the GUI thread.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    // What tests may set up in code. The shipped program uses none of it: it finds its
    // resources beside the executable, checks the APK against the digest compiled in and
    // keeps its time limits.
    struct TestSetup
    {
        QString resourceDir;
        std::optional<QString> expectedApkSha256;
        // The watcher over adb's listing is on in the shipped program; suites that count
        // adb's calls leave it off.
        bool watchDevices = false;
        adb::Timing timing;
    };

    // Where the run is: before an install, during it, or after one that succeeded.
    enum class Phase { Idle, Installing, Done };

    AppDelegate();
    explicit AppDelegate(const TestSetup &setup);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    [[nodiscard]] bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

    // Where adb, the carried APK and the logo live.
    [[nodiscard]] QString resourceDir() const;

    // The main window, for the entry point and for tests that drive it.
    [[nodiscard]] QWidget *mainWindow() const { return window.get(); }
    [[nodiscard]] const DeviceList &readyDevices() const { return devices; }
    [[nodiscard]] Phase phase() const { return m_phase; }

    // Actions of the controls.
    void refreshClicked();
    void deviceChanged();
    void installClicked();
    void closeClicked();
    void wifiClicked();

    void refreshDevices();
    void updateSteps(int completed, std::optional<int> current);

signals:
    // Emitted at the end of every refresh and install completion, for tests and tools
    // that wait for background work to come back.
    void refreshCompleted();
    void installCompleted();

protected:
    // Asks before the window closes while an install runs.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWindow();
    void makeWorkers();
    // The busy state: an install, the person's connect, or a scan the person asked for.
    void updateBusy();
    void showLog(const QString &text, LogKind kind, LogWriter writer);
    void askedScanStarted();
    void refreshCompletion(ScanKind kind, const adb::ScanResult &scan);
    void listingSeen(const DeviceList &listing);
    void pairingStarted(const QString &pairAddress);
    void pairingFailed(const QString &pairAddress, const adb::PairAttempt &attempt);
    void connectStarted(const QString &address);
    void connectEnded(const QString &address, bool quietly, const adb::ConnectAttempt &attempt);
    void finishInstall(const install::InstallOutcome &outcome, const DeviceInfo &device);
    // Whether the person, asked on closing the window, chose to let the install finish.
    [[nodiscard]] bool askToWaitForInstall();
    [[nodiscard]] std::optional<QString> apkSha256() const;
    [[nodiscard]] std::optional<qsizetype> selectedIndex() const;
    void showSelectedDevice();
    void showPanelText(QLabel *label, const QString &text);

    std::unique_ptr<QWidget> window;
    QPointer<QComboBox> devicePopup;
    QPointer<QLabel> statusBadge;
    QMap<QString, QLabel *> infoLabels;
    QPointer<QPushButton> installButton;
    QPointer<QPushButton> wifiButton;
    QPointer<QProgressBar> progress;
    QPointer<QPlainTextEdit> logView;
    DeviceList devices;
    QList<QLabel *> stepLabels;
    const QStringList stepTitles{QStringLiteral("Найдём экран"), QStringLiteral("Проверим систему"),
                                 QStringLiteral("Установим Zorvik App")};
    const QColor navy = QColor::fromRgbF(0.02f, 0.10f, 0.27f);
    const QColor blue = QColor::fromRgbF(0.04f, 0.43f, 1.0f);
    const QColor green = QColor::fromRgbF(0.08f, 0.68f, 0.38f);
    const QString expectedApkSha256;

    Phase m_phase = Phase::Idle;
    // After a success the window stays as it is until the person asks for a scan; from then
    // on scans keep the popup, the panel and the badge current again.
    bool m_doneRescanned = false;
    LogKind m_logKind = LogKind::ScanMessage;

    ScanScheduler *m_scans = nullptr;
    NetworkConnector *m_connector = nullptr;
    QPointer<InstallSession> m_install;
    // The question "Установка ещё идёт" while it is open; the install's end closes it.
    QPointer<QMessageBox> closeQuestion;
    // The text colour each panel label was built with; green belongs only to the texts
    // that report a finished install.
    QHash<const QLabel *, QColor> builtColours;

    const std::optional<QString> m_resourceDirForTests;
    const bool m_watchDevices = true;
    const adb::Timing m_timing;
};
