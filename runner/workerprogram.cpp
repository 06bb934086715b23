#include "runner/workerprogram.h"

#include "engine/helperfolder.h"

QString workerProgram()
{
    const QByteArray named = qgetenv("VELLORAN_WORKER");
    if (!named.isEmpty())
        return pathFromNative(named);
    return helperFolder().joined("velloran-worker").escaped();
}
