#include "engine/outputfolder.h"

#include "engine/nativepath.h"


OutputFolderCheck prepareOutputFolder(const QString &folder)
{
    if (folder.isEmpty())
        return OutputFolderCheck::Empty;
    // Not QDir::mkpath, which cannot make a folder whose name is not UTF-8.
    if (!makeFolders(absolutePathOf(folder)))
        return OutputFolderCheck::CannotCreate;
    return OutputFolderCheck::Ready;
}
