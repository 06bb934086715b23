#include "cli/cliapp.h"
#include "cli/pdfinfoapp.h"
#include "cli/pdftocairoapp.h"
#include "cli/pdftoppmapp.h"
#include "engine/nativepath.h"

#include <QCoreApplication>

#include <cstring>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() + "/plugins");
    // Not QCoreApplication::arguments(): a file name that is not UTF-8 keeps its bytes.
    // The engine's paths keep those bytes in their QStrings (escaped()).
    QStringList arguments;
    for (const NativePath &argument : NativePath::fromArguments(argc, argv))
        arguments << argument.escaped();
    // Run as pdftoppm, pdftocairo or pdfinfo (the links in poppler-compat/), it reads their arguments.
    const char *slash = std::strrchr(argv[0], '/');
    const char *name = slash ? slash + 1 : argv[0];
    if (std::strcmp(name, "pdftoppm") == 0)
        return runPdftoppm(arguments);
    if (std::strcmp(name, "pdftocairo") == 0)
        return runPdftocairo(arguments);
    if (std::strcmp(name, "pdfinfo") == 0)
        return runPdfinfo(arguments);
    return CliApp().run(arguments);
}
