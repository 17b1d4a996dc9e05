#include "installerdriver.h"

#include "installerwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

QString builtApk()
{
    return QStringLiteral(ZORVIK_BUILT_APK);
}

InstallerDriver::InstallerDriver(bool withApk, std::optional<QString> expectedDigest)
{
    if (withApk)
        QFile::copy(builtApk(), apkFile());
    app = std::make_unique<AppDelegate>(AppDelegate::TestSetup{adb.resourceDir(), std::move(expectedDigest)});
}

InstallerDriver::~InstallerDriver() = default;

QString InstallerDriver::apkFile() const
{
    return QDir(adb.resourceDir()).filePath(QStringLiteral("ZorvikStore.apk"));
}

void InstallerDriver::launch()
{
    QSignalSpy done(app.get(), &AppDelegate::refreshCompleted);
    app->applicationDidFinishLaunching();
    QVERIFY(done.wait(20000));
}

void InstallerDriver::launchWithOneUnit(const QString &listing)
{
    adb.setListing(listing);
    adb.addDevice({QStringLiteral("S1")});
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

QComboBox *InstallerDriver::popup() const
{
    return app->mainWindow()->findChild<QComboBox *>(QStringLiteral("devicePopup"));
}

QPushButton *InstallerDriver::installButton() const
{
    return app->mainWindow()->findChild<QPushButton *>(QStringLiteral("installButton"));
}

QPushButton *InstallerDriver::refreshButton() const
{
    return app->mainWindow()->findChild<QPushButton *>(QStringLiteral("refreshButton"));
}

QLabel *InstallerDriver::label(const QString &objectName) const
{
    return app->mainWindow()->findChild<QLabel *>(objectName);
}

QStringList InstallerDriver::popupItems() const
{
    QStringList items;
    for (int i = 0; i < popup()->count(); ++i)
        items << popup()->itemText(i);
    return items;
}

QString InstallerDriver::badge() const
{
    return label(QStringLiteral("statusBadge"))->text();
}

QString InstallerDriver::log() const
{
    return app->mainWindow()->findChild<QPlainTextEdit *>(QStringLiteral("logView"))->toPlainText();
}

QString InstallerDriver::info(const QString &key) const
{
    return label(QStringLiteral("value_") + key)->text();
}

QStringList InstallerDriver::steps() const
{
    QStringList texts;
    for (int i = 1; i <= 3; ++i)
        texts << label(QStringLiteral("step%1").arg(i))->text();
    return texts;
}

QList<QColor> InstallerDriver::stepColours() const
{
    QList<QColor> colours;
    for (int i = 1; i <= 3; ++i)
        colours << textColour(label(QStringLiteral("step%1").arg(i)));
    return colours;
}

bool InstallerDriver::progressRunning() const
{
    return isProgressRunning(app->mainWindow()->findChild<QProgressBar *>(QStringLiteral("progress")));
}

QList<InstallerDriver::Alert> InstallerDriver::pressInstall(const QString &answer)
{
    QList<Alert> alerts;
    // The alert runs its own event loop inside the click; a timer answers it from there.
    QTimer answerer;
    answerer.setInterval(20);
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        Alert alert{box->text(), box->informativeText(), {}, {}};
        QAbstractButton *chosen = nullptr;
        for (QAbstractButton *button : box->buttons()) {
            alert.buttons << button->text();
            if (button->text() == answer)
                chosen = button;
        }
        if (box->defaultButton())
            alert.defaultButton = box->defaultButton()->text();
        alerts << alert;
        if (chosen)
            chosen->click();
        else
            QTest::keyClick(box, Qt::Key_Escape);
    });
    answerer.start();
    installButton()->click();
    answerer.stop();
    return alerts;
}

QStringList InstallerDriver::snapshot() const
{
    QStringList seen{badge(), log(), popupItems().join(u'|'), QString::number(popup()->currentIndex()),
                     installButton()->text(), QString::number(installButton()->isEnabled()),
                     QString::number(popup()->isEnabled()), QString::number(progressRunning()),
                     buttonFace(installButton()).name(), textColour(label(QStringLiteral("statusBadge"))).name()};
    seen += steps();
    for (const QColor &colour : stepColours())
        seen << colour.name();
    for (const char *key : {"model", "android", "build", "screen", "installed"})
        seen << info(QString::fromLatin1(key));
    return seen;
}
