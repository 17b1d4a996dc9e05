#include "appdelegate.h"

#include "alerts.h"
#include "apkcheck.h"
#include "devicepanel.h"
#include "expecteddigest.h"
#include "installerwindow.h"
#include "installsession.h"
#include "networkconnector.h"
#include "steprules.h"
#include "trackdevices.h"
#include "wifidialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include <algorithm>

namespace {

const QString kCloseTitle = QStringLiteral("Готово — закрыть установщик");

bool runAlert(QWidget *parent, const install::AlertText &text, const QStringList &buttons, bool escapeIsDefault = false,
              QPointer<QMessageBox> *shown = nullptr)
{
    return runAlert(parent, text.message, text.informative, buttons, escapeIsDefault, shown);
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
      m_timing(setup.timing)
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
    makeWorkers();
    // The launch scan starts before the window is built, so that its adb commands, most of
    // the wait for a filled panel, run while the widgets are made; its results come back
    // through the event loop, after the window is up. The remembered address is tried once
    // adb's server runs, as the watcher is started.
    m_scans->launch([this] {
        if (const std::optional<QString> address = rememberedAddress())
            m_connector->tryQuietly(*address);
    });
    buildWindow();
    connect(m_scans, &ScanScheduler::askedScanStarted, this, &AppDelegate::askedScanStarted);
    askedScanStarted();
}

void AppDelegate::makeWorkers()
{
    m_scans = new ScanScheduler(resourceDir(), m_timing, m_watchDevices, this);
    connect(m_scans, &ScanScheduler::scanFinished, this, &AppDelegate::refreshCompletion);
    connect(m_scans, &ScanScheduler::listingSeen, this, &AppDelegate::listingSeen);
    m_connector = new NetworkConnector(resourceDir(), m_timing, this);
    connect(m_connector, &NetworkConnector::pairingStarted, this, &AppDelegate::pairingStarted);
    connect(m_connector, &NetworkConnector::pairingFailed, this, &AppDelegate::pairingFailed);
    connect(m_connector, &NetworkConnector::attemptStarted, this, &AppDelegate::connectStarted);
    connect(m_connector, &NetworkConnector::attemptEnded, this, &AppDelegate::connectEnded);
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
        if (m_phase == Phase::Done)
            closeClicked();
        else
            installClicked();
    });

    window->show();
    window->raise();
    window->activateWindow();
}

void AppDelegate::updateBusy()
{
    const bool busy = m_phase == Phase::Installing || m_connector->personConnecting() || m_scans->askedRunning();
    const BusyLook look = busyLook(busy, devices.size());
    // After a success the button closes the installer, and closing is never refused.
    installButton->setEnabled(m_phase == Phase::Done || look.installEnabled);
    devicePopup->setEnabled(look.popupEnabled);
    setProgressRunning(progress, look.progressRunning);
    wifiButton->setEnabled(m_phase != Phase::Installing && !m_connector->personConnecting());
}

void AppDelegate::showLog(const QString &text, LogKind kind, LogWriter writer)
{
    if (!mayReplaceLog(m_logKind, writer))
        return;
    replaceLogText(logView, text, logFollowsEnd(kind));
    m_logKind = kind;
}

void AppDelegate::wifiClicked()
{
    if (m_phase == Phase::Installing || m_connector->personConnecting())
        return;
    WifiDialog dialog(window.get());
    if (const std::optional<QString> address = rememberedAddress())
        dialog.setRememberedAddress(*address);
    dialog.setPairingSupport(m_connector->pairingSupport());
    connect(m_connector, &NetworkConnector::pairingSupportKnown, &dialog, &WifiDialog::setPairingSupport);
    connect(&dialog, &WifiDialog::forgetRequested, this, [] { forgetAddress(); });
    m_connector->learnPairingSupport();
    if (dialog.exec() != QDialog::Accepted)
        return;
    const std::optional<WifiRequest> request = dialog.request();
    if (request && m_phase != Phase::Installing)
        m_connector->connectAsked(*request);
}

void AppDelegate::pairingStarted(const QString &pairAddress)
{
    showLog(QStringLiteral("Сопряжение с %1…").arg(pairAddress), LogKind::ConnectProgress, LogWriter::PersonAction);
    updateBusy();
}

void AppDelegate::pairingFailed(const QString &pairAddress, const adb::PairAttempt &attempt)
{
    showLog(adb::pairLogText(attempt, pairAddress), LogKind::Outcome, LogWriter::PersonAction);
    updateBusy();
}

void AppDelegate::connectStarted(const QString &address)
{
    showLog(QStringLiteral("Подключаемся к %1…").arg(address), LogKind::ConnectProgress, LogWriter::PersonAction);
    updateBusy();
}

void AppDelegate::connectEnded(const QString &address, bool quietly, const adb::ConnectAttempt &attempt)
{
    updateBusy();
    // The address's entry in adb's listing counts again; the unit just reached is shown.
    m_scans->scanWanted();
    // A launch try says nothing: the log keeps what the scan found.
    if (quietly)
        return;
    if (attempt.verdict == adb::ConnectVerdict::Connected) {
        showLog(adb::connectedText(address), LogKind::ConnectProgress, LogWriter::PersonAction);
        return;
    }
    // Waiting for "Allow" is what the scans will say too, until the person taps it.
    const bool waits = attempt.verdict == adb::ConnectVerdict::NeedsAuthorization;
    showLog(adb::connectLogText(attempt, address), waits ? LogKind::ScanMessage : LogKind::Outcome,
            LogWriter::PersonAction);
}

void AppDelegate::refreshClicked()
{
    m_scans->restartWatcher();
    refreshDevices();
}

void AppDelegate::refreshDevices()
{
    m_scans->scanAsked();
}

void AppDelegate::closeClicked()
{
    QCoreApplication::exit(0);
}

bool AppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    // The title-bar button and the window manager's close keys arrive here; so does Cmd+Q on
    // macOS, as Qt closes every window before it quits and quits only if all of them agreed.
    if (watched == window.get() && event->type() == QEvent::Close && m_phase == Phase::Installing) {
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

void AppDelegate::askedScanStarted()
{
    showLog(QStringLiteral("Ищем подключённые экраны…"), LogKind::ScanMessage, LogWriter::AskedScan);
    updateBusy();
}

void AppDelegate::listingSeen(const DeviceList &listing)
{
    if (m_install)
        m_install->listingSeen(listing);
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
    const std::optional<QString> reached = m_connector->unitReady(scan.ready);
    // After a successful install the window stays as it is until the person asks: they are
    // likely to unplug the car now, and the success is what they must still see.
    if (m_phase == Phase::Done && kind == ScanKind::Automatic && !m_doneRescanned) {
        updateBusy();
        emit refreshCompleted();
        return;
    }
    if (m_phase == Phase::Done && kind == ScanKind::Asked)
        m_doneRescanned = true;

    // The unit on show stays on show while it is ready: a scan the person did not ask for
    // must not move the choice to another unit just before they press install. A unit just
    // reached by address takes its place.
    const std::optional<qsizetype> shownIndex = selectedIndex();
    const QString shownSerial = reached ? *reached : shownIndex ? devices.at(*shownIndex).serial() : QString();
    devices = scan.ready;
    const ScanView view =
        scanView(scan, runsFromPackage(QCoreApplication::applicationDirPath()), m_connector->addressesInFlight());
    devicePopup->clear();
    // While an install runs, and after one succeeded, the steps tell about the install.
    if (m_phase == Phase::Idle)
        updateSteps(view.anyReady ? 2 : 0, view.anyReady ? 2 : 0);
    devicePopup->addItems(view.popupItems);
    const auto stillShown = std::find_if(devices.cbegin(), devices.cend(), [&](const DeviceInfo &device) {
        return device.serial() == shownSerial;
    });
    if (stillShown != devices.cend())
        devicePopup->setCurrentIndex(int(stillShown - devices.cbegin()));
    if (!view.anyReady) {
        for (QLabel *label : std::as_const(infoLabels))
            showPanelText(label, kNoValue);
    }
    showPanelText(statusBadge, view.badge);
    showLog(view.logText, LogKind::ScanMessage,
            kind == ScanKind::Asked ? LogWriter::AskedScan : LogWriter::AutomaticScan);
    if (view.anyReady)
        showSelectedDevice();
    updateBusy();
    emit refreshCompleted();
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
    if (m_phase != Phase::Done)
        installButton->setText(view.installTitle);
}

void AppDelegate::deviceChanged()
{
    m_connector->forgetUnitToShow();
    showSelectedDevice();
    updateBusy();
}

std::optional<QString> AppDelegate::apkSha256() const
{
    return install::fileSha256(install::apkPath(resourceDir()));
}

void AppDelegate::installClicked()
{
    if (m_phase != Phase::Idle)
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
    if (m_phase != Phase::Idle)
        return;
    if (!adb::listedAsDevice(m_scans->latestListing(), device.serial())) {
        showLog(QStringLiteral("Автомобиль отключён — установка не начата. Подключите его снова."), LogKind::Outcome,
                LogWriter::PersonAction);
        return;
    }

    m_phase = Phase::Installing;
    m_scans->setInstalling(true);
    m_install = new InstallSession(device, m_scans->latestListing(), m_timing, m_watchDevices, this);
    connect(m_install, &InstallSession::runsLong, this, [this] {
        showLog(QStringLiteral("Устанавливаем Zorvik App…\nУстановка идёт дольше обычного. "
                               "Посмотрите на экран автомобиля: он может ждать подтверждения."),
                LogKind::InstallProgress, LogWriter::PersonAction);
    });
    connect(m_install, &InstallSession::finished, this, &AppDelegate::finishInstall);
    showLog(QStringLiteral("Устанавливаем Zorvik App…"), LogKind::InstallProgress, LogWriter::PersonAction);
    updateBusy();
    updateSteps(2, 2);
    m_install->start(resourceDir());
}

void AppDelegate::finishInstall(const install::InstallOutcome &outcome, const DeviceInfo &device)
{
    // The session is done with its clocks; it goes once this call, which it made, returns.
    m_install->deleteLater();
    m_install = nullptr;
    m_scans->setInstalling(false);
    // The question whether to close is moot now; the person reads the outcome instead.
    if (closeQuestion)
        closeQuestion->close();
    showLog(outcome.logText, LogKind::Outcome, LogWriter::PersonAction);
    showPanelText(statusBadge, outcome.badge);
    if (!outcome.installed) {
        m_phase = Phase::Idle;
        updateBusy();
        emit installCompleted();
        return;
    }

    m_phase = Phase::Done;
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
    setButtonFace(installButton, green);
    statusBadge->setText(QStringLiteral("●  УСТАНОВКА ЗАВЕРШЕНА — МОЖНО ЗАКРЫТЬ"));
    setTextColour(statusBadge, green);
    updateSteps(3, std::nullopt);
    updateBusy();
    emit installCompleted();
}
