#include "engine/outputfolder.h"

#include <QDir>

OutputFolderCheck prepareOutputFolder(const QString &folder)
{
    if (folder.isEmpty())
        return OutputFolderCheck::Empty;
    QDir dir(folder);
    if (!dir.exists() && !dir.mkpath(QStringLiteral(".")))
        return OutputFolderCheck::CannotCreate;
    return OutputFolderCheck::Ready;
}
