#ifndef IMAGECHECK_H
#define IMAGECHECK_H

#include "engine/image/imageformat.h"

#include <QString>

// Whether the file at path is a whole image of the format, by a cheap look
// that reads no pixels: the format's signature, and its end (PNG's IEND
// chunk, JPEG's EOI marker, the size BMP and WebP give in their headers,
// every TIFF directory readable with its strips inside the file). Returns
// why not in a few words ("cut short: no IEND chunk"), or an empty string
// when it is whole. A file left empty or cut short by a power cut, or
// another kind of file, fails it.
QString whyNotWholeImage(const QString &path, ImageFormat format);

#endif // IMAGECHECK_H
