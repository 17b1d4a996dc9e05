#include "runinstaller.h"

#include "appdelegate.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

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
