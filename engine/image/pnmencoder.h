#ifndef PNMENCODER_H
#define PNMENCODER_H

#include "engine/image/rowencoder.h"

#include <QByteArray>

// The header of a binary netpbm file of width x height in the mode, as
// pdftoppm writes it: "P6\n<w> <h>\n255\n" for colour, P5 for gray, and
// "P4\n<w> <h>\n" for 1-bit, which has no maximum value.
QByteArray pnmHeader(PixelMode mode, qint64 width, qint64 height);

// Bytes one row of the mode takes in the file: 3 a pixel, 1, or 8 pixels a byte.
qint64 pnmRowBytes(PixelMode mode, qint64 width);

// Binary PPM (P6), PGM (P5) and PBM (P4): a short text header, then the rows
// from the top with no padding but PBM's to a whole byte, written as they
// come. In PBM a set bit is black, the reverse of the other 1-bit files.
class PnmEncoder : public RowEncoder
{
public:
    bool begin(QIODevice *device, const EncodeSettings &settings) override;
    bool writeRows(const uchar *rows, qsizetype bytesPerLine, int count) override;
    bool finish() override;

private:
    QIODevice *device = nullptr;
    int width = 0;
    int height = 0;
    int nextRow = 0;
    qint64 rowBytes = 0;
    PixelMode mode = PixelMode::Color;
    PixelLayout layout = PixelLayout::Pixels32;
    QByteArray buffer;
};

#endif // PNMENCODER_H
