#ifndef OUTPUTFOLDER_H
#define OUTPUTFOLDER_H

#include <QString>

// Result of checking the output folder before a conversion.
enum class OutputFolderCheck {
    Ready,       // the folder exists (it may have been created just now)
    Empty,       // no folder was given
    CannotCreate // the folder is missing and could not be made
};

// Checks the folder as typed and creates it, with missing parents, when absent.
OutputFolderCheck prepareOutputFolder(const QString &folder);

#endif // OUTPUTFOLDER_H
