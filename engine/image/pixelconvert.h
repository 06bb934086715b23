#ifndef PIXELCONVERT_H
#define PIXELCONVERT_H

#include "engine/image/rowencoder.h"

#include <QtGlobal>

// One row of QImage::Format_RGB32 pixels to 8-bit R, G, B.
void rgb32ToRgb888(const uchar *from, uchar *to, int width);

// The same in B, G, R order, as BMP stores it.
void rgb32ToBgr888(const uchar *from, uchar *to, int width);

// One row of Format_RGB32 pixels to 8-bit luminance (ITU-R BT.601 weights).
void rgb32ToGray8(const uchar *from, uchar *to, int width);

// One row of Format_RGB32 pixels to 1 bit a pixel, eight to a byte, the
// leftmost in the high bit: 1 where the luminance is at least half, else 0.
void rgb32ToMono1(const uchar *from, uchar *to, int width);

// One row of Format_ARGB32_Premultiplied pixels to 8-bit R, G, B, A with the
// colour no longer multiplied by alpha, as PNG, TIFF and WebP store it.
void argb32PmToRgba8888(const uchar *from, uchar *to, int width);

// One row into the layout a file of the mode holds: RGB, gray, 1-bit, RGBA or CMYK.
void convertRow(PixelMode mode, const uchar *from, uchar *to, int width);

// Bytes one row takes in that layout, without padding.
qint64 packedRowBytes(PixelMode mode, qint64 width);

#endif // PIXELCONVERT_H
