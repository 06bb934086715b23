#ifndef IMAGEFORMAT_H
#define IMAGEFORMAT_H

#include <QString>

#include <optional>

enum class ImageFormat { Jpeg, Png, Bmp, Tiff, WebP };

// The format an output extension ("jpg", "png", "bmp", "tiff", "webp") stands for.
std::optional<ImageFormat> imageFormatForExtension(const QString &extension);

// WebP keeps each side in 14 bits.
constexpr qint64 webpMaxSide = 16383;

// Whether a file of the format can hold an image of width x height pixels.
// These are the formats' own limits; the renderer has none of its own.
bool formatHolds(ImageFormat format, qint64 width, qint64 height);

// What the format can hold, for telling why a page was refused.
QString formatLimitText(ImageFormat format);

#endif // IMAGEFORMAT_H
