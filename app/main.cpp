#include "appdelegate.h"
#include "runinstaller.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    identifyApplication();
    AppDelegate delegate;
    runInstaller(delegate);
}
