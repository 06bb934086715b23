#include "engine/helperfolder.h"

#include <unistd.h>

NativePath helperFolder()
{
    const QByteArray named = qgetenv("VELLORAN_WORKER");
    if (!named.isEmpty())
        return NativePath(named).absolute().folder();
    const NativePath folder = NativePath::runningExecutable().folder();
    if (::access(folder.joined("velloran-worker").bytes().constData(), X_OK) == 0)
        return folder;
    return folder.joined("../libexec/velloran");
}
