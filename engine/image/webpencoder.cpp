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
        convertRow(settings.mode, settings.layout, rows + i * bytesPerLine, pixels.data() + nextRow * rowBytes,
                   settings.width);
    return true;
}

bool WebpEncoder::finish()
{
    if (nextRow != settings.height) {
        error = QStringLiteral("the image has fewer rows than it should");
        return false;
    }
    // What WebPEncodeRGB() and WebPEncodeLosslessRGB() do, with a progress
    // hook: libwebp asks it between rows of blocks, and stops when it says so.
    const bool alpha = settings.mode == PixelMode::ColorAlpha;
    const bool lossless = settings.quality >= 100;
    WebPConfig config;
    WebPPicture picture;
    WebPMemoryWriter memory;
    if (!WebPConfigPreset(&config, WEBP_PRESET_DEFAULT, lossless ? 70.f : float(settings.quality))
        || !WebPPictureInit(&picture)) {
        error = QStringLiteral("the WebP encoder failed");
        return false;
    }
    config.lossless = lossless ? 1 : 0;
    picture.use_argb = lossless ? 1 : 0;
    picture.width = settings.width;
    picture.height = settings.height;
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &memory;
    picture.user_data = this;
    picture.progress_hook = [](int, const WebPPicture *picture) -> int {
        return static_cast<const WebpEncoder *>(picture->user_data)->stopRequested() ? 0 : 1;
    };
    WebPMemoryWriterInit(&memory);
    const int stride = int(rowBytes);
    const bool imported = alpha ? WebPPictureImportRGBA(&picture, pixels.data(), stride)
                                : WebPPictureImportRGB(&picture, pixels.data(), stride);
    std::vector<uchar>().swap(pixels);
    const bool encoded = imported && WebPEncode(&config, &picture);
    const bool aborted = picture.error_code == VP8_ENC_ERROR_USER_ABORT;
    WebPPictureFree(&picture);
    if (!encoded) {
        WebPMemoryWriterClear(&memory);
        error = aborted ? QStringLiteral("stopped while encoding") : QStringLiteral("the WebP encoder failed");
        return false;
    }
    const bool written = device->write(reinterpret_cast<const char *>(memory.mem), qint64(memory.size))
                         == qint64(memory.size);
    WebPMemoryWriterClear(&memory);
    if (!written)
        error = device->errorString();
    return written;
}
