#ifndef JPEGENCODER_H
#define JPEGENCODER_H

#include "engine/rowencoder.h"

#include <memory>
#include <vector>

// Baseline JPEG through libjpeg(-turbo). Quality means what it means to Qt's
// writer (jpeg_set_quality, limited to baseline tables); the resolution goes
// into the JFIF density. Colour rows go in as drawn, without converting them;
// gray ones are made luminance first.
class JpegEncoder : public RowEncoder
{
public:
    JpegEncoder();
    ~JpegEncoder() override;

    bool begin(QIODevice *device, const EncodeSettings &settings) override;
    bool writeRows(const uchar *rows, qsizetype bytesPerLine, int count) override;
    bool finish() override;

private:
    struct State;
    std::unique_ptr<State> state;
    PixelMode mode = PixelMode::Color;
    int width = 0;
    std::vector<uchar> grayRow;
};

#endif // JPEGENCODER_H
