#pragma once

#include "appdelegate.h"
#include "fakeadb.h"

#include "installerwindow.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>

#include <functional>

// A set-up with the watcher over adb's listing on, the lost-unit limit shortened if asked.
[[nodiscard]] inline AppDelegate::TestSetup watching(int lostUnitLimitMs = adb::Timing{}.lostUnitMs)
{
    AppDelegate::TestSetup setup;
    setup.watchDevices = true;
    setup.timing.lostUnitMs = lostUnitLimitMs;
    return setup;
}

// The installer's settings (the remembered Wi-Fi address), in a folder of the tests' own:
// every QSettings of the process points there from the first call on, never at the user's.
[[nodiscard]] QSettings installerSettings();

// Runs the real AppDelegate and its window against a fake adb, and reads back what a
// person would see.
class InstallerDriver
{
public:
    // The resource directory gets the carried APK unless told otherwise.
    // `setup` may switch the watcher on and shorten its limits; its other fields are the driver's.
    explicit InstallerDriver(bool withApk = true, std::optional<QString> expectedDigest = std::nullopt,
                             AppDelegate::TestSetup setup = {});

    FakeAdb adb;
    std::unique_ptr<AppDelegate> app;

    [[nodiscard]] QString apkFile() const { return adb.resourceDir() + QStringLiteral("/ZorvikStore.apk"); }
    // Puts the adb at `adbPath` where the installer carries its own, in place of the fake.
    bool carryAdb(const QString &adbPath) { return QFile::remove(adb.resourceDir() + "/adb") && QFile::link(adbPath, adb.resourceDir() + "/adb"); }

    // Builds the window, starts the first scan and waits for its completion.
    void launch();
    // Launches with `unit` (ready, by default not yet installed) listed as `listing` says,
    // then forgets the scan's adb calls, so a test sees only what comes after.
    void launchWithOneUnit(const QString &listing = QStringLiteral("List of devices attached\nS1\tdevice\n"),
                           const FakeAdb::Device &unit = FakeAdb::Device(QStringLiteral("S1")));
    // Presses "Обновить" and waits for that scan to come back.
    void refresh();
    void chooseDevice(int index);

    template <class Widget>
    [[nodiscard]] Widget *child(const QString &name) const { return app->mainWindow()->findChild<Widget *>(name); }
    [[nodiscard]] QComboBox *popup() const { return child<QComboBox>(QStringLiteral("devicePopup")); }
    [[nodiscard]] QPushButton *installButton() const { return child<QPushButton>(QStringLiteral("installButton")); }
    [[nodiscard]] QPushButton *refreshButton() const { return child<QPushButton>(QStringLiteral("refreshButton")); }
    [[nodiscard]] QLabel *label(const QString &objectName) const { return child<QLabel>(objectName); }

    [[nodiscard]] QStringList popupItems() const;
    [[nodiscard]] QString badge() const { return label(QStringLiteral("statusBadge"))->text(); }
    [[nodiscard]] QString log() const { return child<QPlainTextEdit>(QStringLiteral("logView"))->toPlainText(); }
    [[nodiscard]] QString info(const QString &key) const { return label(QStringLiteral("value_") + key)->text(); }
    [[nodiscard]] QStringList steps() const;
    [[nodiscard]] bool progressRunning() const { return isProgressRunning(child<QProgressBar>(QStringLiteral("progress"))); }

    // Runs `action` and answers every alert that comes up meanwhile: with the button titled
    // `answer`, with Return when it is "\r", or with Escape when it is empty. Returns the texts
    // of the alerts shown; an alert that wraps its explanation into more than four lines, or
    // is not in the window's font, says so after its text.
    QStringList answerAlerts(const QString &answer, const std::function<void()> &action);
    // Presses «Подключить по Wi-Fi…», types `address` into the dialog as a person would and
    // presses Return. Returns whether «Подключить» was enabled; if not, Escape closes it.
    bool connectByWifi(const QString &address) { return fillWifiDialog(false, {{"wifiAddress", address}}); }
    // The same by the pairing way: waits until adb's version has made it available, fills the
    // pairing address, the code and the connect address, and presses Return.
    bool pairByWifi(const QString &pairingAddress, const QString &code, const QString &address)
    {
        return fillWifiDialog(true, {{"pairingAddress", pairingAddress}, {"pairingCode", code}, {"connectAddress", address}});
    }
    // Presses the install button and answers its alerts so.
    QStringList pressInstall(const QString &answer);
    // The same, then waits for the install to end; whether it did. `alerts` gets what was asked.
    [[nodiscard]] bool installAndWait(const QString &answer = QStringLiteral("Продолжить"), QStringList *alerts = nullptr);

    // Everything a person sees on the window, for "nothing changed" checks.
    [[nodiscard]] QStringList snapshot() const;

private:
    // Waits for the Wi-Fi dialog (for its pairing way to be choosable, and chooses it, when
    // `pairing`), types into the fields named, then Return, or Escape if «Подключить» is off.
    bool fillWifiDialog(bool pairing, const QList<std::pair<const char *, QString>> &fields);
};
