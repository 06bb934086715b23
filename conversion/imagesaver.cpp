#include "conversion/imagesaver.h"

#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>

bool saveImageAtomically(const QImage &image, const QString &path, int quality, QString *errorString)
{
    const QByteArray format = QFileInfo(path).suffix().toLower().toLatin1();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (errorString)
            *errorString = file.errorString();
        return false;
    }

    QImageWriter writer(&file, format);
    writer.setQuality(quality);
    if (!writer.write(image)) {
        if (errorString)
            *errorString = writer.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (errorString)
            *errorString = file.errorString();
        return false;
    }
    return true;
}
