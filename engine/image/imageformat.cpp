#include "engine/image/imageformat.h"

#include "engine/image/bmpencoder.h"

#include <climits>
#include <cstdio>
#include <jpeglib.h>

std::optional<ImageFormat> imageFormatForExtension(const QString &extension)
{
    if (extension == QLatin1String("jpg"))
        return ImageFormat::Jpeg;
    if (extension == QLatin1String("png"))
        return ImageFormat::Png;
    if (extension == QLatin1String("bmp"))
        return ImageFormat::Bmp;
    if (extension == QLatin1String("tiff"))
        return ImageFormat::Tiff;
    if (extension == QLatin1String("webp"))
        return ImageFormat::WebP;
    return std::nullopt;
}

bool formatHolds(ImageFormat format, qint64 width, qint64 height)
{
    if (width < 1 || height < 1)
        return false;
    switch (format) {
    case ImageFormat::Jpeg:
        // The JPEG header has 16 bits a side; libjpeg stops a little short of that.
        return width <= JPEG_MAX_DIMENSION && height <= JPEG_MAX_DIMENSION;
    case ImageFormat::Bmp:
        return bmpFileSize(width, height) <= qint64(0xFFFFFFFFu);
    case ImageFormat::WebP:
        return width <= webpMaxSide && height <= webpMaxSide;
    case ImageFormat::Png:
    case ImageFormat::Tiff:
        // 31 bits a side in PNG; TIFF goes to BigTIFF past 4 GiB. Rows are counted in int.
        return width <= INT_MAX && height <= INT_MAX;
    }
    return false;
}

QString formatLimitText(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Jpeg:
        return QStringLiteral("a JPEG image has at most %1 pixels a side").arg(JPEG_MAX_DIMENSION);
    case ImageFormat::WebP:
        return QStringLiteral("a WebP image has at most %1 pixels a side").arg(webpMaxSide);
    case ImageFormat::Bmp:
        return QStringLiteral("a BMP file holds at most 4 GiB");
    case ImageFormat::Png:
    case ImageFormat::Tiff:
        break;
    }
    return QStringLiteral("more than an image can have");
}
