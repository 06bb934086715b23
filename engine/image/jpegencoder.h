#ifndef JPEGENCODER_H
#define JPEGENCODER_H

#include "engine/image/rowencoder.h"

#include <memory>

// JPEG through libjpeg(-turbo): baseline, or progressive, with standard or
// optimised Huffman tables and the chroma subsampling asked for. Quality means
// what it means to Qt's writer (jpeg_set_quality, limited to baseline tables);
// the resolution goes into the JFIF density. Rows go in as drawn, without converting them, for
// gray files too: libjpeg makes the luminance.
class JpegEncoder : public RowEncoder
{
public:
    JpegEncoder();
    ~JpegEncoder() override;

    bool begin(QIODevice *device, const EncodeSettings &settings) override;
    bool writeRows(const uchar *rows, qsizetype bytesPerLine, int count) override;
    bool finish() override;

    // Progressive and optimised files are made from the whole image's
    // coefficients, which libjpeg keeps until the end.
    qint64 bytesHeld(const EncodeSettings &settings) const override;

private:
    struct State;
    std::unique_ptr<State> state;
    PixelMode mode = PixelMode::Color;
    int width = 0;
    PixelLayout layout = PixelLayout::Pixels32;
};

#endif // JPEGENCODER_H
