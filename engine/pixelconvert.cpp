#include "engine/pixelconvert.h"

#include <cstring>

// Pixels are read as 32-bit words, so the byte order of the machine does not matter.
void rgb32ToRgb888(const uchar *from, uchar *to, int width)
{
    for (int x = 0; x < width; ++x, from += 4, to += 3) {
        quint32 pixel;
        std::memcpy(&pixel, from, 4);
        to[0] = uchar(pixel >> 16);
        to[1] = uchar(pixel >> 8);
        to[2] = uchar(pixel);
    }
}

void rgb32ToBgr888(const uchar *from, uchar *to, int width)
{
    for (int x = 0; x < width; ++x, from += 4, to += 3) {
        quint32 pixel;
        std::memcpy(&pixel, from, 4);
        to[0] = uchar(pixel);
        to[1] = uchar(pixel >> 8);
        to[2] = uchar(pixel >> 16);
    }
}
