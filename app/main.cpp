#include "app/mainwindow.h"
#include "app/readtextfile.h"
#include "engine/nativepath.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    auto *app = new QApplication(argc, argv);
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() + "/plugins");
    app->setStyleSheet(readTextFile(QStringLiteral(":/skin/skin/style.qss")));
    // Lets the desktop match the window to velloran.desktop and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("velloran"));

    auto *window = new MainWindow;
    window->show();
    // Not QCoreApplication::arguments(): a file name that is not UTF-8 keeps its bytes.
    window->openFromCommandLine(NativePath::fromArguments(argc, argv));
    return app->exec();
}
