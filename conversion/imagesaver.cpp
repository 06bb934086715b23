#include "conversion/imagesaver.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

void setError(QString *errorString, const QString &text)
{
    if (errorString)
        *errorString = text;
}

bool writeImage(const QImage &image, QIODevice *device, const QString &path, int quality, QString *errorString)
{
    QImageWriter writer(device, QFileInfo(path).suffix().toLower().toLatin1());
    writer.setQuality(quality);
    if (writer.write(image))
        return true;
    setError(errorString, writer.errorString());
    return false;
}

// A name beside the target that no other thread or process of ours is using.
// It does not repeat the target's name: that may already be near the 255
// bytes a file name can have.
QString temporaryPathFor(const QString &path)
{
    static std::atomic<quint64> counter{0};
    return QFileInfo(path).absolutePath() + QStringLiteral("/.velloran-")
           + QString::number(QCoreApplication::applicationPid(), 36) + QLatin1Char('-')
           + QString::number(counter.fetch_add(1), 36) + QStringLiteral(".tmp");
}

bool replaceFile(const QString &from, const QString &to, QString *errorString)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    // Windows does not rename over an existing file; there the old one goes first.
    const int renameError = errno;
    if (QFile::exists(to) && QFile::remove(to) && QFile::rename(from, to))
        return true;
    setError(errorString, QString::fromLocal8Bit(std::strerror(renameError)));
    QFile::remove(from);
    return false;
}

} // namespace

bool saveImageAtomically(const QImage &image, const QString &path, int quality, QString *errorString)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(errorString, file.errorString());
        return false;
    }
    if (!writeImage(image, &file, path, quality, errorString)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        setError(errorString, file.errorString());
        return false;
    }
    return true;
}

bool saveImageAtomicallyUnsynced(const QImage &image, const QString &path, int quality, QString *errorString)
{
    // As QSaveFile does: a link is followed, and a file replaced keeps its permissions.
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.symLinkTarget() : path;

    // A plain QFile, not QTemporaryFile: the file gets the usual permissions, not 0600.
    QFile file(temporaryPathFor(target));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        setError(errorString, file.errorString());
        return false;
    }
    if (info.isFile())
        file.setPermissions(QFile::permissions(target));
    const bool written = writeImage(image, &file, path, quality, errorString);
    file.close();
    if (written && file.error() != QFileDevice::NoError)
        setError(errorString, file.errorString());
    if (!written || file.error() != QFileDevice::NoError) {
        file.remove();
        return false;
    }
    return replaceFile(file.fileName(), target, errorString);
}
