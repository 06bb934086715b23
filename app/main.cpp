#include "app/mainwindow.h"
#include "app/readtextfile.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    auto *app = new QApplication(argc, argv);
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() + "/plugins");
    app->setStyleSheet(readTextFile(QStringLiteral(":/skin/skin/style.qss")));

    auto *window = new MainWindow;
    window->show();
    return app->exec();
}
