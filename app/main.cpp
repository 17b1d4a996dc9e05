#include "appdelegate.h"
#include "runinstaller.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zorvik App Installer"));
    // Lets Wayland desktops match the window to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("zorvik-installer"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/zorvik/icon.png")));
    AppDelegate delegate;
    runInstaller(delegate);
}
