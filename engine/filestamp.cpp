#include "engine/filestamp.h"

#include "engine/nativepath.h"

#include <sys/stat.h>

FileStamp fileStamp(const QString &path)
{
    struct stat status;
    if (::stat(nativePath(path).constData(), &status) != 0)
        return FileStamp();
    return FileStamp{qint64(status.st_dev), qint64(status.st_ino), qint64(status.st_size),
                     qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}
