#pragma once

#include "deviceinfo.h"
#include "devicewatcher.h"
#include "installjob.h"
#include "networkunit.h"

#include <QColor>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QMessageBox;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class QWidget;

namespace adb {
struct ScanResult;
}

// The one object that holds the installer's state: the window and its widgets, the ready
// devices and the constants. Everything runs on the GUI thread; background work (a scan,
// an install) only hands its results back here.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    // How long an install runs before the log points at the car's screen.
    static constexpr std::chrono::seconds kLongInstallHint{30};

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
        // How long the unit being installed may be gone before the install is given up.
        int lostUnitLimitMs = kLostUnitLimitMs;
        // How long "adb connect" may take.
        int connectLimitMs = adb::kConnectLimitMs;
        std::chrono::milliseconds longInstallHint = kLongInstallHint;
    };

    static constexpr int kLostUnitLimitMs = 15000;

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

    // Actions of the three controls.
    void refreshClicked();
    void deviceChanged();
    void installClicked();
    void closeClicked();
    void wifiClicked();

    void refreshDevices();
    void setBusy(bool busy, const std::optional<QString> &text = std::nullopt);
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
    enum class ScanKind { Asked, Automatic };

    void buildWindow();
    void startWatching();
    void makeTimers();
    void startScan(ScanKind kind, std::function<void()> serverStarted = {});
    void startWantedAutomaticScan();
    void listingSeen(const DeviceList &listing, bool changed);
    void showLog(const QString &text, bool scanMessage);
    void refreshCompletion(ScanKind kind, const adb::ScanResult &scan);
    void finishInstall(const install::InstallResults &results, const DeviceInfo &device);
    void connectNetworkUnit(const QString &address, bool quietly);
    void connectionCompletion(const QString &address, bool quietly, const adb::ConnectAttempt &attempt);
    void updateWifiButton();
    [[nodiscard]] bool workRunning() const { return installRunning || connecting; }
    void showSelectedDevice();
    void installCompletion(const install::InstallResults &results, const DeviceInfo &device);
    // Whether the person, asked on closing the window, chose to let the install finish.
    [[nodiscard]] bool askToWaitForInstall();
    void showLongInstallHint();
    [[nodiscard]] std::optional<QString> apkSha256() const;
    [[nodiscard]] std::optional<qsizetype> selectedIndex() const;
    [[nodiscard]] bool installButtonCloses() const;
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

    // True from the confirmed install until its outcome is shown. A scan that finishes
    // meanwhile refreshes the panel but must not end the busy state: the unit is still
    // being changed.
    bool installRunning = false;

    // Scans the person asked for, and the one automatic scan that may run; changes seen
    // while any scan runs are joined into one more automatic scan after them.
    int askedScansRunning = 0;
    bool automaticScanRunning = false;
    bool automaticScanWanted = false;
    // Whether the log holds what a scan wrote; automatic scans replace only such a text,
    // never an install's outcome that the person has yet to read.
    bool logHoldsScanMessage = false;

    // adb's latest listing, from the watcher or from the last scan.
    DeviceList latestListing;
    adb::DeviceWatcher *watcher = nullptr;

    // A connection attempt the person started (busy), and the quiet one at launch.
    bool connecting = false;
    bool launchTryRunning = false;
    // The network unit just connected, to be shown once a scan finds it ready.
    QString unitToShow;

    // The unit being installed, as the listing showed it during the install.
    struct InstallWatch
    {
        QString serial;
        adb::StopFlag stop;
        bool wasMissing = false;
        bool cutOff = false;
        // A failed install waits for the next listing (at most two seconds) before it is
        // told: adb's USB scan needs up to a second to notice a pulled cable.
        std::optional<std::pair<install::InstallResults, DeviceInfo>> failureToTell;
    };
    InstallWatch installWatch;
    QTimer *lostUnitTimer = nullptr;
    QTimer *failureDecisionTimer = nullptr;
    QTimer *longInstallTimer = nullptr;
    // The question "Установка ещё идёт" while it is open; the install's end closes it.
    QPointer<QMessageBox> closeQuestion;
    // The text colour each panel label was built with; green belongs only to the texts
    // that report a finished install.
    QHash<const QLabel *, QColor> builtColours;

    const std::optional<QString> m_resourceDirForTests;
    const bool m_watchDevices = true;
    const int m_lostUnitLimitMs = kLostUnitLimitMs;
    const int m_connectLimitMs = adb::kConnectLimitMs;
    const std::chrono::milliseconds longInstallHint = kLongInstallHint;
};
