#include "appdelegate.h"

#include "apkcheck.h"
#include "devicepanel.h"
#include "discovery.h"
#include "expecteddigest.h"
#include "installerwindow.h"
#include "steprules.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include <algorithm>

namespace {

const QString kInstallTitle = QStringLiteral("Установить Zorvik App");
const QString kCloseTitle = QStringLiteral("Готово — закрыть установщик");
const char *const kClosesProperty = "closesInstaller";

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
// the default; Escape and the window's close button answer with the last one. Returns
// whether the first button was pressed.
bool runAlert(QWidget *parent, const install::AlertText &text, const QStringList &buttons)
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
    box.setEscapeButton(added.last());
    // Last: the setters above rebuild the box's layout.
    widenForInformativeText(box);
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
      m_resourceDirForTests(setup.resourceDir)
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
    refreshDevices();
}

void AppDelegate::buildWindow()
{
    InstallerWidgets widgets = buildInstallerWindow(resourceDir(), stepTitles, {navy, blue, green});
    window.reset(widgets.window);
    devicePopup = widgets.devicePopup;
    statusBadge = widgets.statusBadge;
    infoLabels = widgets.infoLabels;
    installButton = widgets.installButton;
    progress = widgets.progress;
    logView = widgets.logView;
    stepLabels = widgets.stepLabels;
    builtColours.insert(statusBadge, textColour(statusBadge));
    for (const QLabel *label : std::as_const(infoLabels))
        builtColours.insert(label, textColour(label));

    connect(devicePopup, &QComboBox::activated, this, &AppDelegate::deviceChanged);
    connect(widgets.refreshButton, &QPushButton::clicked, this, &AppDelegate::refreshClicked);
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

void AppDelegate::refreshClicked()
{
    refreshDevices();
}

void AppDelegate::closeClicked()
{
    QCoreApplication::exit(0);
}

void AppDelegate::refreshDevices()
{
    // During an install the log keeps saying that the unit is being changed.
    if (installRunning)
        setBusy(true);
    else
        setBusy(true, QStringLiteral("Ищем подключённые экраны…"));
    adb::startScan(this, resourceDir(), [this](const DeviceList &ready, const DeviceList &listed) {
        refreshCompletion(ready, listed);
    });
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

void AppDelegate::refreshCompletion(const DeviceList &ready, const DeviceList &listed)
{
    devices = ready;
    const ScanView view = scanView(ready, listed, runsFromPackage(QCoreApplication::applicationDirPath()));
    devicePopup->clear();
    // While an install runs, the steps and the log go on telling about it; the panel
    // itself shows what this scan found.
    if (!installRunning && view.anyReady)
        updateSteps(2, 2);
    else if (!installRunning)
        updateSteps(0, 0);
    devicePopup->addItems(view.popupItems);
    if (!view.anyReady) {
        for (QLabel *label : std::as_const(infoLabels))
            showPanelText(label, kNoValue);
        installButton->setEnabled(false);
    }
    showPanelText(statusBadge, view.badge);
    if (!installRunning)
        replaceLogText(logView, view.logText);
    if (view.anyReady)
        showSelectedDevice();
    setBusy(installRunning);
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

    installRunning = true;
    setBusy(true, QStringLiteral("Устанавливаем Zorvik App…"));
    updateSteps(2, 2);
    install::startInstall(this, resourceDir(), device,
                          [this](const install::InstallResults &results, const DeviceInfo &copy) {
                              installCompletion(results, copy);
                          });
}

void AppDelegate::installCompletion(const install::InstallResults &results, const DeviceInfo &device)
{
    installRunning = false;
    setBusy(false);
    const install::InstallOutcome outcome = install::installOutcome(results);
    replaceLogText(logView, outcome.logText);
    showPanelText(statusBadge, outcome.badge);
    if (!outcome.installed) {
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
