#ifndef WEBPENCODER_H
#define WEBPENCODER_H

#include "engine/image/rowencoder.h"

#include <vector>

// WebP through libwebp: lossy at the quality, lossless at quality 100; RGB,
// or RGBA for pages drawn without paper. libwebp encodes a whole picture at
// once, so the rows are gathered until finish() (WebP keeps a side under
// 16384 pixels, so at most 1 GiB). WebP has no field for the resolution.
class WebpEncoder : public RowEncoder
{
public:
    bool begin(QIODevice *device, const EncodeSettings &settings) override;
    bool writeRows(const uchar *rows, qsizetype bytesPerLine, int count) override;
    bool finish() override;
    qint64 bytesHeld(const EncodeSettings &settings) const override;

private:
    QIODevice *device = nullptr;
    EncodeSettings settings;
    qint64 rowBytes = 0;
    int nextRow = 0;
    std::vector<uchar> pixels;
};

#endif // WEBPENCODER_H
