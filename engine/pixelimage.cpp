#include "engine/pixelimage.h"

#include <cstdlib>
#include <limits>

bool PixelImage::knownFormat(int format)
{
    switch (format) {
    case Rgb32:
    case Argb32Premultiplied:
    case Rgb888:
    case Grayscale8:
    case Bgr888:
        return true;
    default:
        return false;
    }
}

int PixelImage::bytesPerPixel(Format format)
{
    switch (format) {
    case Rgb32:
    case Argb32Premultiplied:
        return 4;
    case Rgb888:
    case Bgr888:
        return 3;
    case Grayscale8:
        return 1;
    case Invalid:
        break;
    }
    return 0;
}

PixelImage::PixelImage(int width, int height, Format format)
{
    const int pixelBytes = bytesPerPixel(format);
    if (width <= 0 || height <= 0 || pixelBytes == 0)
        return;
    // Rows as QImage lays them out: whole 32-bit words, a row's bytes in an int.
    const qint64 row = (qint64(width) * pixelBytes + 3) / 4 * 4;
    if (row > std::numeric_limits<int>::max() || row > std::numeric_limits<qsizetype>::max() / height)
        return;
    auto *data = static_cast<uchar *>(std::malloc(size_t(row) * size_t(height)));
    if (!data)
        return;
    pixels.reset(data, std::free);
    w = width;
    h = height;
    rowBytes = qsizetype(row);
    f = format;
}

PixelImage::PixelImage(uchar *data, int width, int height, qsizetype bytesPerLine, Format format,
                       void (*release)(void *), void *info)
{
    if (!data || width <= 0 || height <= 0 || bytesPerPixel(format) == 0
        || bytesPerLine < qint64(width) * bytesPerPixel(format)) {
        if (release)
            release(info);
        return;
    }
    pixels.reset(data, [release, info](uchar *) {
        if (release)
            release(info);
    });
    w = width;
    h = height;
    rowBytes = bytesPerLine;
    f = format;
}
