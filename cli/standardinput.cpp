#include "cli/standardinput.h"

#include "engine/nativepath.h"

#include <QFile>

#include <fcntl.h>

bool saveStandardInput(const QString &path)
{
    QFile file;
    const int fd = openNative(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd == -1 || !file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return false;
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return false;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty() || file.write(chunk) != chunk.size())
            return chunk.isEmpty() && in.atEnd();
    }
    return true;
}
