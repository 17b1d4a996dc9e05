#include "runinstaller.h"

#include "appdelegate.h"
#include "installerwindow.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

void identifyApplication()
{
    QApplication::setApplicationName(QStringLiteral("Zorvik App Installer"));
    // Lets Wayland desktops match the window to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("zorvik-installer"));
    // Not QIcon(fileName), which guesses the format (see readPng). A build without a logo
    // has no icon compiled in.
    const QImage icon = readPng(QStringLiteral(":/zorvik/icon.png"));
    if (!icon.isNull())
        QApplication::setWindowIcon(QIcon(QPixmap::fromImage(icon)));
}

void runInstaller(AppDelegate &delegate)
{
    QApplication::setQuitOnLastWindowClosed(delegate.applicationShouldTerminateAfterLastWindowClosed());
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    const int status = QApplication::exec();

    // Unwinding would destroy objects that a worker thread blocked in adb may still reach,
    // and Qt would wait for threads that may never end. Flush what we wrote and go.
    std::fflush(nullptr);
    std::_Exit(status);
}
