#ifndef TIFFJOIN_H
#define TIFFJOIN_H

#include <QString>
#include <QStringList>

class QIODevice;

// Joins single-page TIFF files into one TIFF of many pages without decoding
// them: each page's strips are copied as they were compressed, with the tags
// that say how to read them, so that every page holds the pixels of the file
// it came from. Pages are marked as a multi-page TiffEncoder marks them (a
// page of a document, its number and the count); the file is BigTIFF when
// the pieces together come near 4 GiB. device is open for reading and
// writing (libtiff reads back what it wrote). False with the reason.
bool joinTiffPages(const QStringList &pieces, QIODevice &device, QString *why);

#endif // TIFFJOIN_H
