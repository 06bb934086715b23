#ifndef PIXELCONVERT_H
#define PIXELCONVERT_H

#include "engine/image/rowencoder.h"
#include "engine/pixelimage.h"

#include <QtGlobal>

// One row of PixelImage::Rgb32 pixels to 8-bit R, G, B.
void rgb32ToRgb888(const uchar *from, uchar *to, int width);

// The same in B, G, R order, as BMP stores it.
void rgb32ToBgr888(const uchar *from, uchar *to, int width);

// One row of Rgb32 pixels to 8-bit luminance (ITU-R BT.601 weights).
void rgb32ToGray8(const uchar *from, uchar *to, int width);

// One row of Rgb32 pixels to 1 bit a pixel, eight to a byte, the
// leftmost in the high bit: 1 where the luminance is at least half, else 0.
void rgb32ToMono1(const uchar *from, uchar *to, int width);

// One row of Argb32Premultiplied pixels to 8-bit R, G, B, A with the
// colour no longer multiplied by alpha, as PNG, TIFF and WebP store it.
void argb32PmToRgba8888(const uchar *from, uchar *to, int width);

// One row of 8-bit gray to 1 bit a pixel, with rgb32ToMono1's threshold.
void gray8ToMono1(const uchar *from, uchar *to, int width);

// One row of colour pixels (Rgb24, Bgr24 or Pixels32) made gray (tone
// Gray), or black and white (Mono), in place, with the luminance and the
// threshold of those modes: the pixels of that mode, stored in colour, as
// pdftoppm stores its PNG and JPEG pages with -gray or -mono. Color leaves it.
void toneRow(PixelMode tone, PixelLayout layout, uchar *row, int width);

// One row of 3-byte pixels with red and blue swapped: R, G, B to B, G, R and back.
void swapRedBlue24(const uchar *from, uchar *to, int width);

// One row in the layout given into the layout a file of the mode holds: RGB,
// gray, 1-bit, RGBA or CMYK. Rows in a packed layout are those the mode's
// packedLayout() names, or Bgr24 for Color; Pixels32 rows go with every mode.
void convertRow(PixelMode mode, PixelLayout layout, const uchar *from, uchar *to, int width);

// The layout that holds the mode's pixels with nothing to spare and that a
// renderer may draw straight: RGB for Color, gray for Gray and Mono (1-bit is
// cut from gray); Pixels32 for the modes with alpha or ink.
PixelLayout packedLayout(PixelMode mode);

// Bytes one row takes in that layout, without padding.
qint64 packedRowBytes(PixelMode mode, qint64 width);

// The image format a renderer is asked to draw in for rows of the layout.
PixelImage::Format imageFormatFor(PixelLayout layout);

// The layout of the rows of a drawn image: a packed one, or the 32-bit
// pixels a renderer that cannot draw it gives instead.
PixelLayout layoutOf(PixelImage::Format format);

#endif // PIXELCONVERT_H
