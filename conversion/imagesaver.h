#ifndef IMAGESAVER_H
#define IMAGESAVER_H

#include <QString>

class QImage;

// Writes the image so that the file appears whole under its name or not at
// all: it goes to a temporary file in the same folder, which is renamed
// when complete. The format follows the path's suffix, as QImage::save does.
// On failure, errorString (when given) says why.
bool saveImageAtomically(const QImage &image, const QString &path, int quality,
                         QString *errorString = nullptr);

// The same without waiting for the data to reach the disk before the rename.
// For runs that write many files in a row, where a sync per file costs more
// than rendering the page: the program can still be stopped at any moment
// without leaving a partial file; only a crash of the whole system may.
bool saveImageAtomicallyUnsynced(const QImage &image, const QString &path, int quality,
                                 QString *errorString = nullptr);

#endif // IMAGESAVER_H
