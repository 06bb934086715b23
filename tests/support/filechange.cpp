#include "support/filechange.h"

#include <QFile>

bool replaceFile(const QString &path, const QString &with)
{
    const QString fresh = path + QStringLiteral(".new");
    return QFile::copy(with, fresh) && QFile::remove(path) && QFile::rename(fresh, path);
}

bool rewriteInPlace(const QString &path, const QString &with)
{
    QFile from(with);
    QFile to(path);
    if (!from.open(QIODevice::ReadOnly) || !to.open(QIODevice::ReadWrite | QIODevice::Truncate))
        return false;
    const QByteArray bytes = from.readAll();
    return to.write(bytes) == bytes.size();
}
