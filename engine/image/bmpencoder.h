#ifndef BMPENCODER_H
#define BMPENCODER_H

#include "engine/image/rowencoder.h"

#include <QByteArray>

// Size of a BMP file of width x height pixels in the mode.
qint64 bmpFileSize(qint64 width, qint64 height, PixelMode mode = PixelMode::Color);

// BMP: the 54-byte header, a palette for gray (256 levels) and 1-bit (black,
// white), and rows from the bottom up, each padded to four bytes, with the
// resolution in pixels per metre. Rows arrive from the
// top, so each band is written at the place its rows take in the file; the
// page never has to be held whole.
class BmpEncoder : public RowEncoder
{
public:
    bool begin(QIODevice *device, const EncodeSettings &settings) override;
    bool writeRows(const uchar *rows, qsizetype bytesPerLine, int count) override;
    bool finish() override;
    // B, G, R rows for colour, as the file holds them.
    PixelLayout layoutFor(PixelMode mode) const override;

private:
    bool writeAt(qint64 offset, const char *data, qint64 size);

    QIODevice *device = nullptr;
    int width = 0;
    PixelLayout layout = PixelLayout::Pixels32;
    int height = 0;
    int nextRow = 0;
    qint64 rowBytes = 0;
    qint64 pixelsAt = 0; // offset of the pixel rows
    PixelMode mode = PixelMode::Color;
    QByteArray buffer;
};

#endif // BMPENCODER_H
