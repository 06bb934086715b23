#ifndef IMAGEFORMAT_H
#define IMAGEFORMAT_H

#include <QString>

#include <optional>

enum class ImageFormat { Jpeg, Png, Bmp, Tiff };

// The format one of the output extensions "jpg", "png", "bmp", "tiff" stands for.
std::optional<ImageFormat> imageFormatForExtension(const QString &extension);

// Whether a file of the format can hold an image of width x height pixels.
// These are the formats' own limits; the renderer has none of its own.
bool formatHolds(ImageFormat format, qint64 width, qint64 height);

#endif // IMAGEFORMAT_H
