#pragma once

#include "deviceinfo.h"
#include "installjob.h"

#include <QColor>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <chrono>
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
        std::chrono::milliseconds longInstallHint = kLongInstallHint;
    };

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
    void buildWindow();
    void refreshCompletion(const adb::ScanResult &scan);
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

    // True from the confirmed install until its completion. A scan that finishes meanwhile
    // refreshes the panel but must not end the busy state: the unit is still being changed.
    bool installRunning = false;
    // The unit the running install changes, and the latest listing adb gave (each scan's
    // rows, whatever their state): whether the unit is still there as "device".
    QString installSerial;
    DeviceList latestListing;
    QTimer *longInstallTimer = nullptr;
    // The question "Установка ещё идёт" while it is open; the install's end closes it.
    QPointer<QMessageBox> closeQuestion;
    // The text colour each panel label was built with; green belongs only to the texts
    // that report a finished install.
    QHash<const QLabel *, QColor> builtColours;

    const std::optional<QString> m_resourceDirForTests;
    const std::chrono::milliseconds longInstallHint = kLongInstallHint;
};
