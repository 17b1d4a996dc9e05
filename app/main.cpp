#include "appdelegate.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zorvik App Installer"));

    AppDelegate delegate;
    QApplication::setQuitOnLastWindowClosed(delegate.applicationShouldTerminateAfterLastWindowClosed());
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    const int status = QApplication::exec();

    // A scan or an install may still be waiting for adb, and nobody waits for it: end the
    // process here instead of unwinding objects that a worker thread may still reach.
    std::fflush(nullptr);
    std::_Exit(status);
}
