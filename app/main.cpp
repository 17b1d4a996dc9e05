#include "appdelegate.h"
#include "runinstaller.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zorvik App Installer"));
    AppDelegate delegate;
    runInstaller(delegate);
}
