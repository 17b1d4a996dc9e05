#include "runinstaller.h"

#include "appdelegate.h"

#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

void identifyApplication()
{
    QApplication::setApplicationName(QStringLiteral("Zorvik App Installer"));
    // Lets Wayland desktops match the window to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("zorvik-installer"));
    // Read as PNG outright: an icon made from a file name loads every image plug-in to
    // guess the format, which costs the launch more than the decoding. A build without a
    // logo has no icon compiled in.
    QImageReader reader(QStringLiteral(":/zorvik/icon.png"), "png");
    reader.setAutoDetectImageFormat(false);
    const QImage icon = reader.read();
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
