#include "installerdriver.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>

QSettings installerSettings()
{
    static const QTemporaryDir settingsHome;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsHome.path());
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("zorvik"), QStringLiteral("zorvik-installer"));
}

InstallerDriver::InstallerDriver(bool withApk, std::optional<QString> expectedDigest, AppDelegate::TestSetup setup)
{
    (void)installerSettings();
    if (withApk)
        QFile::copy(QStringLiteral(ZORVIK_BUILT_APK), apkFile());
    setup.resourceDir = adb.resourceDir();
    setup.expectedApkSha256 = std::move(expectedDigest);
    app = std::make_unique<AppDelegate>(setup);
}

void InstallerDriver::launch()
{
    QSignalSpy done(app.get(), &AppDelegate::refreshCompleted);
    app->applicationDidFinishLaunching();
    QVERIFY(done.wait(20000));
}

void InstallerDriver::launchWithOneUnit(const QString &listing, const FakeAdb::Device &unit)
{
    adb.setListing(listing);
    adb.addDevice(unit);
    launch();
    adb.clearCalls();
}

void InstallerDriver::refresh()
{
    QSignalSpy done(app.get(), &AppDelegate::refreshCompleted);
    refreshButton()->click();
    QVERIFY(done.wait(20000));
}

void InstallerDriver::chooseDevice(int index)
{
    popup()->setCurrentIndex(index);
    emit popup()->activated(index);
}

QStringList InstallerDriver::popupItems() const
{
    QStringList items;
    for (int i = 0; i < popup()->count(); ++i)
        items << popup()->itemText(i);
    return items;
}

QStringList InstallerDriver::steps() const
{
    QStringList texts;
    for (int i = 1; i <= 3; ++i)
        texts << label(QStringLiteral("step%1").arg(i))->text();
    return texts;
}

QStringList InstallerDriver::answerAlerts(const QString &answer, const std::function<void()> &action)
{
    QStringList alerts;
    // An alert runs its own event loop inside `action`; a timer answers it from there.
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        alerts << box->text();
        // As a person reads it: in the window's font, its explanation in at most four lines.
        // A breach is told in the alert's text, which the caller compares.
        if (const auto *text = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))) {
            const QFontMetrics metrics(text->font());
            const QRect needed = metrics.boundingRect(QRect(0, 0, text->contentsRect().width(), 1 << 20), Qt::TextWordWrap, text->text());
            const int lines = qRound(double(needed.height()) / metrics.lineSpacing());
            const QFont font = text->font(), window = installButton()->font();
            if (lines > 4 || font.family() != window.family() || font.pixelSize() != window.pixelSize())
                alerts.last() += QStringLiteral(" (%1 lines of %2 %3 px)").arg(lines).arg(font.family()).arg(font.pixelSize());
        }
        const QList<QAbstractButton *> buttons = box->buttons();
        const auto chosen = std::ranges::find(buttons, answer, &QAbstractButton::text);
        if (chosen != buttons.end())
            (*chosen)->click();
        else
            QTest::keyClick(box, answer == u"\r" ? Qt::Key_Return : Qt::Key_Escape);
    });
    answerer.start(20);
    action();
    return alerts;
}

bool InstallerDriver::fillWifiDialog(bool pairing, const QList<std::pair<const char *, QString>> &fields)
{
    bool enabled = false;
    QTimer typist;
    QObject::connect(&typist, &QTimer::timeout, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        auto *way = dialog ? dialog->findChild<QCheckBox *>(QStringLiteral("pairingWay")) : nullptr;
        if (!way || !dialog->isVisible() || (pairing && !way->isEnabled()))
            return;
        typist.stop();
        if (pairing)
            way->click();
        QLineEdit *edit = nullptr;
        for (const auto &[name, text] : fields) {
            edit = dialog->findChild<QLineEdit *>(QLatin1String(name));
            edit->selectAll();
            QTest::keyClicks(edit, text);
        }
        enabled = dialog->findChild<QPushButton *>(QStringLiteral("connectButton"))->isEnabled();
        QTest::keyClick(edit, enabled ? Qt::Key_Return : Qt::Key_Escape);
    });
    typist.start(20);
    child<QPushButton>(QStringLiteral("wifiButton"))->click();
    return enabled;
}

QStringList InstallerDriver::pressInstall(const QString &answer)
{
    return answerAlerts(answer, [this] { installButton()->click(); });
}

bool InstallerDriver::installAndWait(const QString &answer, QStringList *alerts)
{
    QSignalSpy done(app.get(), &AppDelegate::installCompleted);
    const QStringList asked = pressInstall(answer);
    if (alerts)
        *alerts = asked;
    return !done.isEmpty() || done.wait(20000);
}

QStringList InstallerDriver::snapshot() const
{
    QStringList seen{badge(), log(), popupItems().join(u'|'), QString::number(popup()->currentIndex()),
                     installButton()->text(), QString::number(installButton()->isEnabled()),
                     QString::number(popup()->isEnabled()), QString::number(progressRunning()),
                     buttonFace(installButton()).name(), textColour(label(QStringLiteral("statusBadge"))).name()};
    seen += steps();
    for (int i = 1; i <= 3; ++i)
        seen << textColour(label(QStringLiteral("step%1").arg(i))).name();
    for (const char *key : {"model", "android", "build", "screen", "installed"})
        seen << info(QString::fromLatin1(key));
    return seen;
}
