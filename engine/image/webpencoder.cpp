#include "engine/image/webpencoder.h"

#include "engine/image/imageformat.h"
#include "engine/image/pixelconvert.h"

#include <QIODevice>

#include <webp/encode.h>

bool WebpEncoder::begin(QIODevice *device, const EncodeSettings &settings)
{
    if (settings.width > webpMaxSide || settings.height > webpMaxSide) {
        error = QStringLiteral("a WebP image cannot be more than %1 pixels a side").arg(webpMaxSide);
        return false;
    }
    if (settings.mode != PixelMode::Color && settings.mode != PixelMode::ColorAlpha) {
        error = QStringLiteral("WebP files are written in colour only");
        return false;
    }
    this->device = device;
    this->settings = settings;
    rowBytes = packedRowBytes(settings.mode, settings.width);
    pixels.resize(size_t(rowBytes * settings.height));
    nextRow = 0;
    return true;
}

qint64 WebpEncoder::bytesHeld(const EncodeSettings &settings) const
{
    return packedRowBytes(settings.mode, settings.width) * settings.height;
}

bool WebpEncoder::writeRows(const uchar *rows, qsizetype bytesPerLine, int count)
{
    if (nextRow + count > settings.height) {
        error = QStringLiteral("more rows than the image has");
        return false;
    }
    for (int i = 0; i < count; ++i, ++nextRow)
        convertRow(settings.mode, rows + i * bytesPerLine, pixels.data() + nextRow * rowBytes, settings.width);
    return true;
}

bool WebpEncoder::finish()
{
    if (nextRow != settings.height) {
        error = QStringLiteral("the image has fewer rows than it should");
        return false;
    }
    const bool alpha = settings.mode == PixelMode::ColorAlpha;
    const bool lossless = settings.quality >= 100;
    const int stride = int(rowBytes);
    uint8_t *output = nullptr;
    size_t size = 0;
    if (lossless)
        size = alpha ? WebPEncodeLosslessRGBA(pixels.data(), settings.width, settings.height, stride, &output)
                     : WebPEncodeLosslessRGB(pixels.data(), settings.width, settings.height, stride, &output);
    else
        size = alpha ? WebPEncodeRGBA(pixels.data(), settings.width, settings.height, stride, float(settings.quality),
                                      &output)
                     : WebPEncodeRGB(pixels.data(), settings.width, settings.height, stride, float(settings.quality),
                                     &output);
    std::vector<uchar>().swap(pixels);
    if (size == 0) {
        WebPFree(output);
        error = QStringLiteral("the WebP encoder failed");
        return false;
    }
    const bool written = device->write(reinterpret_cast<const char *>(output), qint64(size)) == qint64(size);
    WebPFree(output);
    if (!written)
        error = device->errorString();
    return written;
}
