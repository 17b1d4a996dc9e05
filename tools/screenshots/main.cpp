// Renders the installer window in each of its main states to PNG files.
//
// Usage: zorvik-screenshots OUTPUT_DIR   (run with QT_QPA_PLATFORM=offscreen)
//
// Each state gets its own AppDelegate and its own scripted adb in a temporary resource
// directory (with copies of the carried APK and logo), so one picture can't leak into the next.

#include "appdelegate.h"
#include "fakeadb.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

const QString kSerial = QStringLiteral("LI9A2C47F0");

QStringList installArgs(const FakeAdb &adb)
{
    return {QStringLiteral("-s"), kSerial, QStringLiteral("install"), QStringLiteral("-r"),
            QDir(adb.resourceDir()).filePath(QStringLiteral("ZorvikStore.apk"))};
}

// One state: a fresh resource dir, an AppDelegate on it, and the window once shown.
struct Scene
{
    FakeAdb adb;
    std::unique_ptr<AppDelegate> app;

    Scene()
    {
        QFile::copy(QStringLiteral(ZORVIK_BUILT_APK), QDir(adb.resourceDir()).filePath(QStringLiteral("ZorvikStore.apk")));
        QFile::copy(QStringLiteral(ZORVIK_BUILT_LOGO), QDir(adb.resourceDir()).filePath(QStringLiteral("logo.png")));
    }

    void addHeadUnit()
    {
        adb.setListing(QStringLiteral("List of devices attached\n%1\tdevice\n\n").arg(kSerial));
        FakeAdb::Device unit{kSerial};
        unit.manufacturer = QStringLiteral("LI_AUTO");
        unit.model = QStringLiteral("LI L9 HU");
        adb.addDevice(unit);
        // The build number the screenshots have always shown (a later reply replaces the fake's).
        adb.reply(probeCalls(kSerial).at(4), QStringLiteral("LI_OS_5.2.1.2310\n"));
    }

    bool launch(bool waitForScan = true, AppDelegate::TestSetup setup = {})
    {
        setup.resourceDir = adb.resourceDir();
        app = std::make_unique<AppDelegate>(setup);
        QSignalSpy done(app.get(), &AppDelegate::refreshCompleted);
        app->applicationDidFinishLaunching();
        return !waitForScan || done.wait(20000);
    }

    // Answers the confirmation with "Продолжить" from inside the alert's own event loop.
    void pressInstall()
    {
        QTimer answerer;
        answerer.setInterval(20);
        QObject::connect(&answerer, &QTimer::timeout, [] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            for (QAbstractButton *button : box->buttons()) {
                if (button->text() == QStringLiteral("Продолжить"))
                    button->click();
            }
        });
        answerer.start();
        app->mainWindow()->findChild<QPushButton *>(QStringLiteral("installButton"))->click();
        answerer.stop();
    }

    bool save(const QDir &out, const QString &name, QWidget *shown = nullptr) const
    {
        QApplication::processEvents();
        const QString path = out.filePath(name + QStringLiteral(".png"));
        const bool ok = (shown ? shown : app->mainWindow())->grab().save(path);
        std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
        return ok;
    }
};

bool searching(const QDir &out)
{
    Scene scene;
    // The scan hangs in "devices" long enough for the picture, then finds nothing.
    scene.adb.replyWithScript({QStringLiteral("devices")},
                              QStringLiteral("sleep 1; printf 'List of devices attached\\n\\n'"));
    if (!scene.launch(false))
        return false;
    QSignalSpy done(scene.app.get(), &AppDelegate::refreshCompleted);
    const bool ok = scene.save(out, QStringLiteral("searching"));
    return done.wait(20000) && ok;
}

bool noDevice(const QDir &out)
{
    Scene scene;
    scene.adb.setListing(QStringLiteral("List of devices attached\n\n"));
    return scene.launch() && scene.save(out, QStringLiteral("no-device"));
}

bool unauthorized(const QDir &out)
{
    Scene scene;
    scene.adb.setListing(QStringLiteral("List of devices attached\n%1\tunauthorized\n\n").arg(kSerial));
    return scene.launch() && scene.save(out, QStringLiteral("unauthorized"));
}

// Linux, when this user may not open the unit's USB device.
bool noPermission(const QDir &out)
{
    Scene scene;
    scene.adb.setListing(QStringLiteral("List of devices attached\n%1\tno permissions (missing udev rules? user is in "
                                        "the plugdev group); see [http://developer.android.com/tools/device.html]\n\n")
                             .arg(kSerial));
    return scene.launch() && scene.save(out, QStringLiteral("no-permission"));
}

bool found(const QDir &out)
{
    Scene scene;
    scene.addHeadUnit();
    return scene.launch() && scene.save(out, QStringLiteral("head-unit-found"));
}

// Busy and done come from one install: the picture of the busy state is taken while the
// scripted "install" is still running.
bool installing(const QDir &out)
{
    Scene scene;
    scene.addHeadUnit();
    scene.adb.replyWithScript(installArgs(scene.adb),
                              QStringLiteral("sleep 1; echo 'Performing Streamed Install'; echo Success"));
    if (!scene.launch())
        return false;
    QSignalSpy done(scene.app.get(), &AppDelegate::installCompleted);
    bool busyShot = false;
    QTimer::singleShot(300, [&] { busyShot = scene.save(out, QStringLiteral("installing")); });
    scene.pressInstall();
    return done.wait(20000) && busyShot && scene.save(out, QStringLiteral("install-done"));
}

// An older unit refuses the APK; adb still exits 0.
bool installFailed(const QDir &out)
{
    Scene scene;
    scene.addHeadUnit();
    scene.adb.replyWithScript(installArgs(scene.adb),
                              QStringLiteral("echo 'Performing Push Install'; echo '/opt/zorvik-installer/resources/"
                                             "ZorvikStore.apk: 1 file pushed, 0 skipped. 16.3 MB/s (12761 bytes in "
                                             "0.001s)'; echo 'Failure [INSTALL_FAILED_INSUFFICIENT_STORAGE]'"));
    if (!scene.launch())
        return false;
    QSignalSpy done(scene.app.get(), &AppDelegate::installCompleted);
    scene.pressInstall();
    return done.wait(20000) && scene.save(out, QStringLiteral("install-failed"));
}

// The unit goes away for good while the install runs; the watcher tells it.
bool connectionLost(const QDir &out)
{
    Scene scene;
    scene.addHeadUnit();
    scene.adb.track(QStringLiteral("%1\tdevice\n").arg(kSerial));
    scene.adb.replyWithScript(installArgs(scene.adb), QStringLiteral("sleep 30"));
    AppDelegate::TestSetup setup;
    setup.watchDevices = true;
    setup.timing.lostUnitMs = 500;
    if (!scene.launch(true, setup))
        return false;
    QSignalSpy done(scene.app.get(), &AppDelegate::installCompleted);
    QTimer::singleShot(300, [&] {
        scene.adb.setListing(QStringLiteral("List of devices attached\n\n"));
        scene.adb.track(QString());
    });
    scene.pressInstall();
    return done.wait(20000) && scene.save(out, QStringLiteral("connection-lost"));
}

// The Wi-Fi dialog as the person types into it: an address from a Russian numeric pad, which
// the dialog offers to mend; or the pairing way of Android 11 and newer, with an adb that pairs.
bool wifiDialog(const QDir &out, bool pairing)
{
    Scene scene;
    scene.adb.setListing(QStringLiteral("List of devices attached\n\n"));
    if (pairing)
        scene.adb.reply({QStringLiteral("version")}, QStringLiteral("Android Debug Bridge version 1.0.41\nVersion 34.0.5-debian\n"));
    if (!scene.launch())
        return false;
    bool ok = false;
    QTimer::singleShot(600, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog)
            return;
        const auto type = [&](const char *name, const QString &text) {
            if (auto *edit = dialog->findChild<QLineEdit *>(QLatin1String(name)))
                edit->setText(text);
        };
        if (pairing) {
            if (auto *way = dialog->findChild<QCheckBox *>(QStringLiteral("pairingWay")))
                way->click();
            type("pairingAddress", QStringLiteral("192.168.1.50:37123"));
            type("pairingCode", QStringLiteral("482915"));
            type("connectAddress", QStringLiteral("192.168.1.50:41235"));
        } else {
            type("wifiAddress", QStringLiteral("192,168,1,50"));
        }
        ok = scene.save(out, pairing ? QStringLiteral("wifi-pairing") : QStringLiteral("wifi-dialog"), dialog);
        dialog->close();
    });
    scene.app->mainWindow()->findChild<QPushButton *>(QStringLiteral("wifiButton"))->click();
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zorvik App Installer"));
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    // The one remembered setting stays out of the pictures, and the pictures out of it.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());

    const std::function<bool(const QDir &)> states[] = {searching, noDevice,   unauthorized,   noPermission, found,
                                                        installing, installFailed, connectionLost,
                                                        [](const QDir &dir) { return wifiDialog(dir, false); },
                                                        [](const QDir &dir) { return wifiDialog(dir, true); }};
    bool ok = true;
    for (const auto &state : states)
        ok = state(out) && ok;
    return ok ? 0 : 1;
}
