#include "engine/atomicfile.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The name must not grow with the target's: a name near the file system's
// limit (240 bytes of CJK characters) must still leave room for it.
QString temporaryName()
{
    static std::atomic<quint64> counter{0};
    return QStringLiteral(".vl") + QString::number(QCoreApplication::applicationPid(), 36) + QLatin1Char('-')
           + QString::number(counter.fetch_add(1), 36) + QStringLiteral(".tmp");
}

QString resolvedTarget(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isSymLink())
        return info.absoluteFilePath();
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.symLinkTarget() : canonical; // a dangling link names the file to make
}

} // namespace

AtomicFile::AtomicFile(const QString &path)
    : target(resolvedTarget(path))
{
}

AtomicFile::~AtomicFile()
{
    discard();
}

bool AtomicFile::open(bool readable)
{
    const QFileInfo info(target);
    // Not QTemporaryFile: the file gets the usual permissions rather than 0600.
    file.setFileName(info.absolutePath() + QLatin1Char('/') + temporaryName());
    if (!file.open((readable ? QIODevice::ReadWrite : QIODevice::WriteOnly) | QIODevice::NewOnly)) {
        error = file.errorString();
        file.setFileName(QString()); // not ours to remove
        return false;
    }
    if (info.isFile())
        file.setPermissions(QFile::permissions(target));
    return true;
}

bool AtomicFile::commit()
{
    if (!file.isOpen()) {
        error = QStringLiteral("the file is not open");
        return false;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        discard();
        return false;
    }
    const QByteArray from = QFile::encodeName(file.fileName());
    if (std::rename(from.constData(), QFile::encodeName(target).constData()) == 0) {
        file.setFileName(QString());
        return true;
    }
    // Windows does not rename over an existing file; there the old one goes first.
    const int renameError = errno;
    if (QFile::exists(target) && QFile::remove(target) && QFile::rename(file.fileName(), target)) {
        file.setFileName(QString());
        return true;
    }
    error = QString::fromLocal8Bit(std::strerror(renameError));
    discard();
    return false;
}

void AtomicFile::discard()
{
    if (file.fileName().isEmpty())
        return;
    file.close();
    file.remove();
    file.setFileName(QString());
}
