#ifndef PIXELIMAGE_H
#define PIXELIMAGE_H

#include <QSize>
#include <QtGlobal>

#include <memory>

// A drawn page or band: rows of pixels in one of the layouts the renderers
// draw and the encoders read, and the window's preview as it crosses from
// its worker. It needs nothing but Qt Core, so that the worker and the
// programs load no graphics library; the window turns it into a QImage.
// Copies share their pixels: an image is written by whoever made it, before
// it is handed on, and only read after that.
class PixelImage
{
public:
    // Numbered as QImage numbers the same layouts, so that the window's
    // QImage is made over these pixels as they are (operator Image below).
    enum Format : int {
        Invalid = 0,
        Rgb32 = 4,               // 32-bit words 0xffRRGGBB: bytes B, G, R, 255 on a little-endian machine
        Argb32Premultiplied = 6, // 32-bit words 0xAARRGGBB, the colour multiplied by alpha
        Rgb888 = 13,             // bytes R, G, B
        Grayscale8 = 24,         // one byte of luminance
        Bgr888 = 29              // bytes B, G, R, as BMP stores them
    };

    // Whether a number read from elsewhere (a worker's message) is one of the formats.
    static bool knownFormat(int format);
    static int bytesPerPixel(Format format);

    PixelImage() = default;
    // Width x height pixels, each row padded to 4 bytes as QImage pads them,
    // their bytes not yet set; a null image when that much memory cannot be had.
    PixelImage(int width, int height, Format format);
    PixelImage(const QSize &size, Format format)
        : PixelImage(size.width(), size.height(), format)
    {
    }
    // Pixels allocated elsewhere (a library's bitmap), freed by release(info)
    // when the last copy goes.
    PixelImage(uchar *data, int width, int height, qsizetype bytesPerLine, Format format, void (*release)(void *),
               void *info);

    bool isNull() const { return !pixels; }
    int width() const { return w; }
    int height() const { return h; }
    QSize size() const { return QSize(w, h); }
    Format format() const { return f; }
    qsizetype bytesPerLine() const { return rowBytes; }
    qsizetype sizeInBytes() const { return rowBytes * h; }

    uchar *bits() { return pixels.get(); }
    const uchar *constBits() const { return pixels.get(); }
    uchar *scanLine(int y) { return pixels.get() + y * rowBytes; }
    const uchar *constScanLine(int y) const { return pixels.get() + y * rowBytes; }

    // The same pixels as a QImage, for the window and the tests, which link
    // Qt's graphics library: a template, so that this header names no type of
    // it and only code that converts needs it. The QImage holds a share of the
    // pixels and copies them before any change.
    template<typename Image, typename = decltype(Image::Format_RGB32)>
    operator Image() const
    {
        static_assert(int(Image::Format_RGB32) == Rgb32 && int(Image::Format_ARGB32_Premultiplied) == Argb32Premultiplied
                          && int(Image::Format_RGB888) == Rgb888 && int(Image::Format_Grayscale8) == Grayscale8
                          && int(Image::Format_BGR888) == Bgr888,
                      "PixelImage's formats are numbered as QImage's");
        if (isNull())
            return Image();
        auto *share = new std::shared_ptr<uchar>(pixels);
        return Image(static_cast<const uchar *>(share->get()), w, h, rowBytes, typename Image::Format(f),
                     [](void *held) { delete static_cast<std::shared_ptr<uchar> *>(held); }, share);
    }

private:
    std::shared_ptr<uchar> pixels;
    int w = 0;
    int h = 0;
    qsizetype rowBytes = 0;
    Format f = Invalid;
};

#endif // PIXELIMAGE_H
