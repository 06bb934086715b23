#include "cli/cliapp.h"
#include "engine/nativepath.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() + "/plugins");
    // Not QCoreApplication::arguments(): a file name that is not UTF-8 keeps its bytes.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << pathFromNative(QByteArray(argv[i]));
    return CliApp().run(arguments);
}
