#include "engine/image/pixelconvert.h"

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

namespace {

// BT.601 luminance, 0.299 R + 0.587 G + 0.114 B, in eighths of a per cent:
// the sums stay within 16 bits, which vector units multiply fastest.
inline uchar luminance(quint32 pixel)
{
    const quint16 r = quint16((pixel >> 16) & 0xff);
    const quint16 g = quint16((pixel >> 8) & 0xff);
    const quint16 b = quint16(pixel & 0xff);
    return uchar(quint16(r * 77 + g * 150 + b * 29 + 128) >> 8);
}

} // namespace

void rgb32ToGray8(const uchar *from, uchar *to, int width)
{
    // Rows of a drawn image are 32-bit aligned; a plain loop over words lets the
    // compiler use vector instructions.
    const auto *pixels = reinterpret_cast<const quint32 *>(from);
    for (int x = 0; x < width; ++x)
        to[x] = luminance(pixels[x]);
}

void toneRow(PixelMode tone, PixelLayout layout, uchar *row, int width)
{
    if ((tone != PixelMode::Gray && tone != PixelMode::Mono) || layout == PixelLayout::Gray8)
        return;
    const auto toned = [tone](quint32 pixel) {
        const uchar y = luminance(pixel);
        return tone == PixelMode::Mono ? uchar(y >> 7 ? 255 : 0) : y;
    };
    if (layout == PixelLayout::Pixels32) {
        for (int x = 0; x < width; ++x, row += 4) {
            quint32 pixel;
            std::memcpy(&pixel, row, 4);
            const quint32 y = toned(pixel);
            pixel = (pixel & 0xff000000u) | (y << 16) | (y << 8) | y;
            std::memcpy(row, &pixel, 4);
        }
        return;
    }
    const bool rgb = layout == PixelLayout::Rgb24;
    for (int x = 0; x < width; ++x, row += 3) {
        const quint32 r = rgb ? row[0] : row[2];
        const quint32 b = rgb ? row[2] : row[0];
        row[0] = row[1] = row[2] = toned((r << 16) | (quint32(row[1]) << 8) | b);
    }
}

void gray8ToMono1(const uchar *from, uchar *to, int width)
{
    for (int x = 0; x < width; x += 8) {
        uchar bits = 0;
        const int m = qMin(8, width - x);
        for (int i = 0; i < m; ++i)
            bits |= uchar((from[x + i] >> 7) << (7 - i));
        *to++ = bits;
    }
}

void rgb32ToMono1(const uchar *from, uchar *to, int width)
{
    // Luminance for a run of pixels first (vectorised), then eight to a byte.
    constexpr int run = 256;
    uchar gray[run];
    for (int start = 0; start < width; start += run) {
        const int n = qMin(run, width - start);
        rgb32ToGray8(from + qsizetype(start) * 4, gray, n);
        gray8ToMono1(gray, to, n);
        to += n / 8;
    }
}

void swapRedBlue24(const uchar *from, uchar *to, int width)
{
    for (int x = 0; x < width; ++x, from += 3, to += 3) {
        const uchar first = from[0];
        to[0] = from[2];
        to[1] = from[1];
        to[2] = first;
    }
}

void argb32PmToRgba8888(const uchar *from, uchar *to, int width)
{
    for (int x = 0; x < width; ++x, from += 4, to += 4) {
        quint32 pixel;
        std::memcpy(&pixel, from, 4);
        const quint32 a = pixel >> 24;
        quint32 r = (pixel >> 16) & 0xff;
        quint32 g = (pixel >> 8) & 0xff;
        quint32 b = pixel & 0xff;
        if (a != 0 && a != 255) {
            r = qMin<quint32>(255, (r * 255 + a / 2) / a);
            g = qMin<quint32>(255, (g * 255 + a / 2) / a);
            b = qMin<quint32>(255, (b * 255 + a / 2) / a);
        }
        to[0] = uchar(r);
        to[1] = uchar(g);
        to[2] = uchar(b);
        to[3] = uchar(a);
    }
}

void convertRow(PixelMode mode, PixelLayout layout, const uchar *from, uchar *to, int width)
{
    switch (layout) {
    case PixelLayout::Pixels32:
        break;
    case PixelLayout::Rgb24:
        std::memcpy(to, from, size_t(width) * 3);
        return;
    case PixelLayout::Bgr24:
        swapRedBlue24(from, to, width);
        return;
    case PixelLayout::Gray8:
        if (mode == PixelMode::Mono)
            gray8ToMono1(from, to, width);
        else
            std::memcpy(to, from, size_t(width));
        return;
    }
    switch (mode) {
    case PixelMode::Color:
        rgb32ToRgb888(from, to, width);
        return;
    case PixelMode::Gray:
        rgb32ToGray8(from, to, width);
        return;
    case PixelMode::Mono:
        rgb32ToMono1(from, to, width);
        return;
    case PixelMode::ColorAlpha:
        argb32PmToRgba8888(from, to, width);
        return;
    case PixelMode::Cmyk:
        std::memcpy(to, from, size_t(width) * 4);
        return;
    }
}

qint64 packedRowBytes(PixelMode mode, qint64 width)
{
    switch (mode) {
    case PixelMode::Color:
        return width * 3;
    case PixelMode::Gray:
        return width;
    case PixelMode::Mono:
        return (width + 7) / 8;
    case PixelMode::ColorAlpha:
    case PixelMode::Cmyk:
        return width * 4;
    }
    return width * 4;
}

PixelLayout packedLayout(PixelMode mode)
{
    switch (mode) {
    case PixelMode::Color:
        return PixelLayout::Rgb24;
    case PixelMode::Gray:
    case PixelMode::Mono:
        return PixelLayout::Gray8;
    case PixelMode::ColorAlpha:
    case PixelMode::Cmyk:
        break;
    }
    return PixelLayout::Pixels32;
}

namespace {

// The packed layouts and the image formats that hold them.
constexpr struct
{
    PixelLayout layout;
    PixelImage::Format format;
} packedFormats[] = {{PixelLayout::Rgb24, PixelImage::Rgb888},
                     {PixelLayout::Bgr24, PixelImage::Bgr888},
                     {PixelLayout::Gray8, PixelImage::Grayscale8}};

} // namespace

PixelImage::Format imageFormatFor(PixelLayout layout)
{
    for (const auto &packed : packedFormats) {
        if (packed.layout == layout)
            return packed.format;
    }
    return PixelImage::Rgb32;
}

PixelLayout layoutOf(PixelImage::Format format)
{
    for (const auto &packed : packedFormats) {
        if (packed.format == format)
            return packed.layout;
    }
    return PixelLayout::Pixels32;
}
