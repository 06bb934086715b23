#ifndef PIXELCONVERT_H
#define PIXELCONVERT_H

#include <QtGlobal>

// One row of QImage::Format_RGB32 pixels to 8-bit R, G, B.
void rgb32ToRgb888(const uchar *from, uchar *to, int width);

// The same in B, G, R order, as BMP stores it.
void rgb32ToBgr888(const uchar *from, uchar *to, int width);

#endif // PIXELCONVERT_H
