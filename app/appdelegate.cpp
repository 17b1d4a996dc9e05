#include "appdelegate.h"

#include "apkcheck.h"
#include "backgroundwork.h"
#include "devicepanel.h"
#include "discovery.h"
#include "expecteddigest.h"
#include "installerwindow.h"
#include "steprules.h"
#include "wifidialog.h"
#include "trackdevices.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace {

const QString kInstallTitle = QStringLiteral("Установить Zorvik App");
const QString kCloseTitle = QStringLiteral("Готово — закрыть установщик");
const char *const kClosesProperty = "closesInstaller";
const QString kLastAddressKey = QStringLiteral("wifi/lastAddress");

// The one thing the installer keeps between runs: the last network address that connected.
QSettings settings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("zorvik"),
                     QStringLiteral("zorvik-installer"));
}

// The remembered address, if it still passes the address rule: the file is the person's to edit.
std::optional<QString> rememberedAddress()
{
    return adb::normalisedAddress(settings().value(kLastAddressKey).toString());
}

// QMessageBox sizes itself on every show from its layout's minimum width, ignoring resize()
// and setMinimumWidth(), and on its own keeps an informative text to a narrow column of many
// short lines. A spacer under that text, as wide as a third of the text's length in the
// alert's own font, makes the column wide enough for the text to wrap into three or four
// lines, whatever the font and the screen's scale.
void widenForInformativeText(QMessageBox &box)
{
    auto *grid = qobject_cast<QGridLayout *>(box.layout());
    const auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
    const int index = grid && label ? grid->indexOf(label) : -1;
    if (index < 0)
        return;
    int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
    grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
    const int textWidth = QFontMetrics(label->font()).horizontalAdvance(label->text());
    const int width = std::clamp(textWidth / 3, 360, 640);
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), column,
                  1, columnSpan);
}

// Shows an application-modal alert made afresh for this one question. The first button is
// the default; Escape and the window's close button answer with the last one, or with the
// first when `escapeIsDefault`. Returns whether the first button was pressed. While the
// alert is open, `*shown` points at it.
bool runAlert(QWidget *parent, const install::AlertText &text, const QStringList &buttons,
              bool escapeIsDefault = false, QPointer<QMessageBox> *shown = nullptr)
{
    QMessageBox box(parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowTitle(QStringLiteral("Zorvik App Installer"));
    box.setText(text.message);
    box.setInformativeText(text.informative);
    QList<QPushButton *> added;
    for (qsizetype i = 0; i < buttons.size(); ++i) {
        const auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        added << box.addButton(buttons.at(i), role);
    }
    box.setDefaultButton(added.first());
    box.setEscapeButton(escapeIsDefault ? added.first() : added.last());
    // Last: the setters above rebuild the box's layout.
    widenForInformativeText(box);
    if (shown)
        *shown = &box;
    box.exec();
    return box.clickedButton() == added.first();
}

} // namespace

AppDelegate::AppDelegate()
    : expectedApkSha256(QStringLiteral(ZORVIK_EXPECTED_APK_SHA256))
{
}

AppDelegate::AppDelegate(const TestSetup &setup)
    : expectedApkSha256(setup.expectedApkSha256.value_or(QStringLiteral(ZORVIK_EXPECTED_APK_SHA256))),
      m_resourceDirForTests(setup.resourceDir),
      m_watchDevices(setup.watchDevices),
      m_lostUnitLimitMs(setup.lostUnitLimitMs),
      m_connectLimitMs(setup.connectLimitMs),
      longInstallHint(setup.longInstallHint)
{
}

AppDelegate::~AppDelegate() = default;

QString AppDelegate::resourceDir() const
{
    if (m_resourceDirForTests)
        return *m_resourceDirForTests;
#ifdef Q_OS_MACOS
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../Resources"));
#else
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("resources"));
#endif
}

void AppDelegate::applicationDidFinishLaunching()
{
    buildWindow();
    makeTimers();
    // The watcher starts once this scan's "start-server" has returned, so that two adb
    // clients never race to start the server; so does the try of a remembered address.
    startScan(ScanKind::Asked, [this] {
        startWatching();
        if (const std::optional<QString> address = rememberedAddress())
            connectNetworkUnit(*address, true);
    });
}

void AppDelegate::makeTimers()
{
    longInstallTimer = new QTimer(this);
    longInstallTimer->setSingleShot(true);
    connect(longInstallTimer, &QTimer::timeout, this, &AppDelegate::showLongInstallHint);
    lostUnitTimer = new QTimer(this);
    lostUnitTimer->setSingleShot(true);
    connect(lostUnitTimer, &QTimer::timeout, this, [this] {
        // Gone too long: end the job's adb; its completion tells the lost connection.
        installWatch.cutOff = true;
        if (installWatch.stop)
            installWatch.stop->store(true);
    });
    failureDecisionTimer = new QTimer(this);
    failureDecisionTimer->setSingleShot(true);
    failureDecisionTimer->setInterval(2000);
    connect(failureDecisionTimer, &QTimer::timeout, this, [this] {
        if (installWatch.failureToTell) {
            const auto [results, device] = *std::exchange(installWatch.failureToTell, std::nullopt);
            finishInstall(results, device);
        }
    });
}

void AppDelegate::startWatching()
{
    if (!m_watchDevices || watcher)
        return;
    watcher = new adb::DeviceWatcher(resourceDir(), this);
    connect(watcher, &adb::DeviceWatcher::listingSeen, this, &AppDelegate::listingSeen);
    watcher->start();
}

void AppDelegate::buildWindow()
{
    InstallerWidgets widgets = buildInstallerWindow(resourceDir(), stepTitles, {navy, blue, green});
    window.reset(widgets.window);
    devicePopup = widgets.devicePopup;
    statusBadge = widgets.statusBadge;
    infoLabels = widgets.infoLabels;
    installButton = widgets.installButton;
    wifiButton = widgets.wifiButton;
    progress = widgets.progress;
    logView = widgets.logView;
    stepLabels = widgets.stepLabels;
    builtColours.insert(statusBadge, textColour(statusBadge));
    for (const QLabel *label : std::as_const(infoLabels))
        builtColours.insert(label, textColour(label));

    window->installEventFilter(this);

    connect(devicePopup, &QComboBox::activated, this, &AppDelegate::deviceChanged);
    connect(widgets.refreshButton, &QPushButton::clicked, this, &AppDelegate::refreshClicked);
    connect(wifiButton, &QPushButton::clicked, this, &AppDelegate::wifiClicked);
    // One connection serves both jobs of the button: it installs until an install has
    // succeeded, and from then on it closes the installer.
    connect(installButton, &QPushButton::clicked, this, [this] {
        if (installButtonCloses())
            closeClicked();
        else
            installClicked();
    });

    window->show();
    window->raise();
    window->activateWindow();
}

void AppDelegate::wifiClicked()
{
    if (workRunning() || launchTryRunning)
        return;
    const std::optional<QString> address = askNetworkAddress(window.get(), rememberedAddress().value_or(QString()));
    if (address && !workRunning())
        connectNetworkUnit(*address, false);
}

void AppDelegate::connectNetworkUnit(const QString &address, bool quietly)
{
    if (quietly) {
        launchTryRunning = true;
    } else {
        connecting = true;
        setBusy(true, QStringLiteral("Подключаемся к %1…").arg(address));
        logHoldsScanMessage = false;
    }
    updateWifiButton();
    runInBackground(
        this, [dir = resourceDir(), address, limit = m_connectLimitMs] { return adb::connectNetworkUnit(dir, address, limit); },
        [this, address, quietly](const adb::ConnectAttempt &attempt) { connectionCompletion(address, quietly, attempt); });
}

void AppDelegate::connectionCompletion(const QString &address, bool quietly, const adb::ConnectAttempt &attempt)
{
    (quietly ? launchTryRunning : connecting) = false;
    updateWifiButton();
    if (!quietly)
        setBusy(workRunning());
    if (attempt.verdict == adb::ConnectVerdict::Connected) {
        settings().setValue(kLastAddressKey, address);
        unitToShow = address;
        automaticScanWanted = true;
        startWantedAutomaticScan();
        return;
    }
    // A launch try that fails says nothing: the log keeps what the scan found.
    if (!quietly)
        showLog(adb::connectLogText(attempt, address), attempt.verdict == adb::ConnectVerdict::NeedsAuthorization);
}

void AppDelegate::updateWifiButton()
{
    if (wifiButton)
        wifiButton->setEnabled(!installRunning && !connecting && !launchTryRunning);
}

void AppDelegate::refreshClicked()
{
    if (watcher)
        watcher->restartNow();
    refreshDevices();
}

void AppDelegate::closeClicked()
{
    QCoreApplication::exit(0);
}

bool AppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    // The title-bar button and the window manager's close keys arrive here; so does Cmd+Q on
    // macOS, as Qt closes every window before it quits and quits only if all of them agreed.
    if (watched == window.get() && event->type() == QEvent::Close && installRunning) {
        event->ignore();
        if (!closeQuestion && !askToWaitForInstall())
            closeClicked();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool AppDelegate::askToWaitForInstall()
{
    // An install left running would go on without the installer, and the permission and
    // the launch that follow it would never run.
    return runAlert(window.get(), install::closeDuringInstallAlert(),
                    {QStringLiteral("Подождать"), QStringLiteral("Закрыть")}, true, &closeQuestion);
}

void AppDelegate::showLongInstallHint()
{
    // A unit may be waiting for a prompt on its own screen ("verify apps", "install via
    // USB"). A unit that is not listed as ready can't show one.
    if (installRunning && adb::listedAsDevice(latestListing, installWatch.serial))
        replaceLogText(logView, QStringLiteral("Устанавливаем Zorvik App…\nУстановка идёт дольше обычного. "
                                               "Посмотрите на экран автомобиля: он может ждать подтверждения."));
}

void AppDelegate::refreshDevices()
{
    startScan(ScanKind::Asked);
}

void AppDelegate::startScan(ScanKind kind, std::function<void()> serverStarted)
{
    if (kind == ScanKind::Asked) {
        ++askedScansRunning;
        // During an install the log keeps saying that the unit is being changed.
        if (installRunning) {
            setBusy(true);
        } else {
            setBusy(true, QStringLiteral("Ищем подключённые экраны…"));
            logHoldsScanMessage = true;
        }
    } else {
        // A scan nobody asked for shows nothing until it has something to show.
        automaticScanWanted = false;
        automaticScanRunning = true;
    }
    adb::startScan(
        this, resourceDir(), [this, kind](const adb::ScanResult &scan) { refreshCompletion(kind, scan); },
        std::move(serverStarted));
}

void AppDelegate::startWantedAutomaticScan()
{
    if (automaticScanWanted && !automaticScanRunning && askedScansRunning == 0)
        startScan(ScanKind::Automatic);
}

void AppDelegate::listingSeen(const DeviceList &listing, bool changed)
{
    latestListing = listing;
    if (changed) {
        automaticScanWanted = true;
        startWantedAutomaticScan();
    }
    if (!installRunning)
        return;
    if (installWatch.failureToTell) {
        failureDecisionTimer->stop();
        const auto [results, device] = *std::exchange(installWatch.failureToTell, std::nullopt);
        finishInstall(results, device);
        return;
    }
    // The unit must be back as "device" within the limit, or the install is given up.
    if (adb::listedAsDevice(listing, installWatch.serial)) {
        lostUnitTimer->stop();
    } else {
        installWatch.wasMissing = true;
        if (!lostUnitTimer->isActive() && !installWatch.cutOff)
            lostUnitTimer->start(m_lostUnitLimitMs);
    }
}

void AppDelegate::showLog(const QString &text, bool scanMessage)
{
    replaceLogText(logView, text);
    logHoldsScanMessage = scanMessage;
}

void AppDelegate::setBusy(bool busy, const std::optional<QString> &text)
{
    const BusyLook look = busyLook(busy, devices.size());
    if (installButton)
        installButton->setEnabled(look.installEnabled);
    if (devicePopup)
        devicePopup->setEnabled(look.popupEnabled);
    if (progress)
        setProgressRunning(progress, look.progressRunning);
    if (text && logView)
        replaceLogText(logView, *text);
}

void AppDelegate::updateSteps(int completed, std::optional<int> current)
{
    const QList<StepLook> looks = stepLooks(stepTitles, completed, current);
    for (qsizetype i = 0; i < stepLabels.size() && i < looks.size(); ++i) {
        stepLabels[i]->setText(looks[i].text);
        switch (looks[i].colour) {
        case StepColour::White: setTextColour(stepLabels[i], Qt::white); break;
        case StepColour::Pending: setTextColour(stepLabels[i], QColor::fromRgbF(0.62f, 0.62f, 0.62f)); break;
        case StepColour::Green: setTextColour(stepLabels[i], green); break;
        }
    }
}

void AppDelegate::refreshCompletion(ScanKind kind, const adb::ScanResult &scan)
{
    const DeviceList &ready = scan.ready;
    const DeviceList &listed = scan.listed;
    if (kind == ScanKind::Asked)
        askedScansRunning = std::max(0, askedScansRunning - 1);
    else
        automaticScanRunning = false;
    // What the scan saw counts as a listing seen, once the window shows the scan.
    const auto noteListing = [this, listed] {
        if (watcher)
            watcher->noteListing(listed);
        else
            listingSeen(listed, false);
    };
    // After a successful install the window stays as it is until the person asks: they are
    // likely to unplug the car now, and the success is what they must still see.
    if (kind == ScanKind::Automatic && installButtonCloses()) {
        noteListing();
        emit refreshCompleted();
        startWantedAutomaticScan();
        return;
    }

    // The unit on show stays on show while it is ready: a scan the person did not ask for
    // must not move the choice to another unit just before they press install.
    const std::optional<qsizetype> shownIndex = selectedIndex();
    QString shownSerial = shownIndex ? devices.at(*shownIndex).serial() : QString();
    // A unit just connected by address is put on show once a scan finds it ready.
    if (!unitToShow.isEmpty() && adb::listedAsDevice(ready, unitToShow))
        shownSerial = std::exchange(unitToShow, QString());
    devices = ready;
    const ScanView view = scanView(scan, runsFromPackage(QCoreApplication::applicationDirPath()));
    devicePopup->clear();
    // While an install runs, the steps and the log go on telling about it; the panel
    // itself shows what this scan found.
    if (!installRunning && view.anyReady)
        updateSteps(2, 2);
    else if (!installRunning)
        updateSteps(0, 0);
    devicePopup->addItems(view.popupItems);
    const auto stillShown = std::find_if(devices.cbegin(), devices.cend(), [&](const DeviceInfo &device) {
        return device.serial() == shownSerial;
    });
    if (stillShown != devices.cend())
        devicePopup->setCurrentIndex(int(stillShown - devices.cbegin()));
    if (!view.anyReady) {
        for (QLabel *label : std::as_const(infoLabels))
            showPanelText(label, kNoValue);
        installButton->setEnabled(false);
    }
    showPanelText(statusBadge, view.badge);
    if (!installRunning && (kind == ScanKind::Asked || logHoldsScanMessage))
        showLog(view.logText, true);
    if (view.anyReady)
        showSelectedDevice();
    // An automatic scan leaves the busy state of a scan the person asked for to that scan.
    setBusy(workRunning() || (kind == ScanKind::Automatic && askedScansRunning > 0));
    noteListing();
    emit refreshCompleted();
    startWantedAutomaticScan();
}

std::optional<qsizetype> AppDelegate::selectedIndex() const
{
    const int index = devicePopup ? devicePopup->currentIndex() : -1;
    if (index < 0 || index >= devices.size())
        return std::nullopt;
    return index;
}

void AppDelegate::showPanelText(QLabel *label, const QString &text)
{
    label->setText(text);
    setTextColour(label, builtColours.value(label, textColour(label)));
}

bool AppDelegate::installButtonCloses() const
{
    return installButton && installButton->property(kClosesProperty).toBool();
}

void AppDelegate::showSelectedDevice()
{
    const std::optional<qsizetype> index = selectedIndex();
    if (!index)
        return;
    const DeviceView view = deviceView(devices.at(*index));
    for (const QString &key : infoKeys()) {
        if (QLabel *label = infoLabels.value(key))
            showPanelText(label, view.infoTexts.value(key));
    }
    showPanelText(statusBadge, view.badge);
    // Once the button closes the installer it keeps saying so: a title that promises an
    // install on a button that quits would mislead.
    if (!installButtonCloses())
        installButton->setText(view.installTitle);
    installButton->setEnabled(true);
}

void AppDelegate::deviceChanged()
{
    unitToShow.clear();
    showSelectedDevice();
}

std::optional<QString> AppDelegate::apkSha256() const
{
    return install::fileSha256(install::apkPath(resourceDir()));
}

void AppDelegate::installClicked()
{
    if (installRunning)
        return;
    const std::optional<qsizetype> index = selectedIndex();
    if (!index)
        return;
    const DeviceInfo device = devices.at(*index);

    if (!install::digestMatches(apkSha256(), expectedApkSha256)) {
        (void)runAlert(window.get(), install::verificationFailedAlert(), {QStringLiteral("Закрыть")});
        return;
    }
    if (!runAlert(window.get(), install::confirmationAlert(device.installed),
                  {QStringLiteral("Продолжить"), QStringLiteral("Отмена")}))
        return;
    // Scans may have run while the question was open: install only on the unit asked about,
    // and only while adb still lists it as ready.
    if (installRunning || installButtonCloses())
        return;
    if (!adb::listedAsDevice(latestListing, device.serial())) {
        showLog(QStringLiteral("Автомобиль отключён — установка не начата. Подключите его снова."), false);
        return;
    }

    installRunning = true;
    updateWifiButton();
    installWatch = InstallWatch{device.serial(), adb::makeStopFlag(), false, false, std::nullopt};
    if (watcher)
        watcher->setInstalling(true);
    longInstallTimer->start(longInstallHint);
    setBusy(true, QStringLiteral("Устанавливаем Zorvik App…"));
    logHoldsScanMessage = false;
    updateSteps(2, 2);
    install::startInstall(
        this, resourceDir(), device,
        [this](const install::InstallResults &results, const DeviceInfo &copy) { installCompletion(results, copy); },
        installWatch.stop);
}

void AppDelegate::installCompletion(const install::InstallResults &results, const DeviceInfo &device)
{
    lostUnitTimer->stop();
    // A failure while the unit still looks ready may be a cable pulled a moment ago: wait
    // for the watcher's next listing, or two seconds, before telling it.
    const bool mayBeUnplugged = watcher && !installWatch.cutOff && !install::installSucceeded(results.install)
                                && adb::listedAsDevice(latestListing, device.serial());
    if (mayBeUnplugged) {
        installWatch.failureToTell = std::make_pair(results, device);
        failureDecisionTimer->start();
        return;
    }
    finishInstall(results, device);
}

void AppDelegate::finishInstall(const install::InstallResults &results, const DeviceInfo &device)
{
    installRunning = false;
    if (watcher)
        watcher->setInstalling(false);
    updateWifiButton();
    longInstallTimer->stop();
    // The question whether to close is moot now; the person reads the outcome instead.
    if (closeQuestion)
        closeQuestion->close();
    setBusy(workRunning());
    const install::ConnectionFacts facts{installWatch.cutOff, installWatch.wasMissing,
                                         adb::listedAsDevice(latestListing, device.serial())};
    const install::InstallOutcome outcome = install::connectionLost(results, facts)
                                                ? install::lostConnectionOutcome()
                                                : install::installOutcome(results, device.sdk);
    showLog(outcome.logText, false);
    showPanelText(statusBadge, outcome.badge);
    if (!outcome.installed) {
        startWantedAutomaticScan();
        emit installCompleted();
        return;
    }

    const auto it = std::find_if(devices.begin(), devices.end(), [&](const DeviceInfo &entry) {
        return entry.serial() == device.serial();
    });
    if (it != devices.end())
        it->installed = true;
    // A scan during the install may have put another unit on show; its label must not
    // claim this install.
    const std::optional<qsizetype> shown = selectedIndex();
    const bool installedUnitShown = shown && devices.at(*shown).serial() == device.serial();
    QLabel *label = infoLabels.value(QStringLiteral("installed"));
    if (label && installedUnitShown) {
        label->setText(QStringLiteral("Установлен успешно"));
        setTextColour(label, green);
    }
    installButton->setText(kCloseTitle);
    installButton->setProperty(kClosesProperty, true);
    setButtonFace(installButton, green);
    installButton->setEnabled(true);
    statusBadge->setText(QStringLiteral("●  УСТАНОВКА ЗАВЕРШЕНА — МОЖНО ЗАКРЫТЬ"));
    setTextColour(statusBadge, green);
    updateSteps(3, std::nullopt);
    emit installCompleted();
}
