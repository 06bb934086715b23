#include "cli/cliapp.h"
#include "engine/nativepath.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() + "/plugins");
    // Not QCoreApplication::arguments(): a file name that is not UTF-8 keeps its bytes.
    // The engine's paths keep those bytes in their QStrings (escaped()).
    QStringList arguments;
    for (const NativePath &argument : NativePath::fromArguments(argc, argv))
        arguments << argument.escaped();
    return CliApp().run(arguments);
}
