#pragma once

#include "appdelegate.h"
#include "fakeadb.h"

#include <QColor>
#include <QStringList>

#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QPushButton;

// Runs the real AppDelegate and its window against a fake adb, and reads back what a
// person would see.
class InstallerDriver
{
public:
    // The resource directory gets the carried APK unless told otherwise.
    explicit InstallerDriver(bool withApk = true, std::optional<QString> expectedDigest = std::nullopt);
    ~InstallerDriver();

    FakeAdb adb;
    std::unique_ptr<AppDelegate> app;

    [[nodiscard]] QString apkFile() const;

    // Builds the window, starts the first scan and waits for its completion.
    void launch();
    // Launches with one ready, not yet installed head unit S1 listed (or `listing`), then
    // forgets the scan's adb calls, so a test sees only what comes after.
    void launchWithOneUnit(const QString &listing = QStringLiteral("List of devices attached\nS1\tdevice\n"));
    // Presses "Обновить" and waits for that scan to come back.
    void refresh();
    void chooseDevice(int index);

    [[nodiscard]] QComboBox *popup() const;
    [[nodiscard]] QPushButton *installButton() const;
    [[nodiscard]] QPushButton *refreshButton() const;
    [[nodiscard]] QLabel *label(const QString &objectName) const;

    [[nodiscard]] QStringList popupItems() const;
    [[nodiscard]] QString badge() const;
    [[nodiscard]] QString log() const;
    [[nodiscard]] QString info(const QString &key) const;
    [[nodiscard]] QStringList steps() const;
    [[nodiscard]] QList<QColor> stepColours() const;
    [[nodiscard]] bool progressRunning() const;

    // One alert as the user saw it.
    struct Alert
    {
        QString text;
        QString informative;
        QStringList buttons;
        QString defaultButton;
    };
    // Presses the install button and answers every alert that comes up: with the button
    // titled `answer`, or with Escape when `answer` is empty. Returns the alerts shown.
    QList<Alert> pressInstall(const QString &answer);

    // Everything a person sees on the window, for "nothing changed" checks.
    [[nodiscard]] QStringList snapshot() const;
};

// The carried APK that the build put into its resource directory.
[[nodiscard]] QString builtApk();
