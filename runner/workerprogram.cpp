#include "runner/workerprogram.h"

#include "engine/nativepath.h"

#include <unistd.h>

QString workerProgram()
{
    const QByteArray named = qgetenv("VELLORAN_WORKER");
    if (!named.isEmpty())
        return pathFromNative(named);
    const NativePath folder = NativePath::runningExecutable().folder();
    const NativePath beside = folder.joined("velloran-worker");
    if (::access(beside.bytes().constData(), X_OK) == 0)
        return beside.escaped();
    return folder.joined("../libexec/velloran/velloran-worker").escaped();
}
