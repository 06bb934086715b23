#include "runner/workerprogram.h"

#include "engine/nativepath.h"

#include <climits>
#include <unistd.h>

namespace {

// The running executable's folder as the system names it.
QByteArray executableFolder()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || n >= ssize_t(sizeof buffer))
        return QByteArray();
    const QByteArray path(buffer, n);
    return path.left(path.lastIndexOf('/'));
}

} // namespace

QString workerProgram()
{
    const QByteArray named = qgetenv("VELLORAN_WORKER");
    if (!named.isEmpty())
        return pathFromNative(named);
    const QByteArray folder = executableFolder();
    const QByteArray beside = folder + "/velloran-worker";
    if (::access(beside.constData(), X_OK) == 0)
        return pathFromNative(beside);
    return pathFromNative(folder + "/../libexec/velloran/velloran-worker");
}
