#ifndef TIFFENCODER_H
#define TIFFENCODER_H

#include "engine/image/rowencoder.h"
#include "engine/image/tiffdevice.h"

#include <QByteArray>

struct tiff;

// TIFF in strips through libtiff, with X/YResolution in dots per inch:
// 8-bit RGB, gray or RGBA, uncompressed or compressed as asked (PackBits, LZW
// or Deflate with the horizontal predictor, JPEG as YCbCr), or 1-bit
// compressed as CCITT Group 4.
// A file that would pass 4 GiB is written as BigTIFF. Several pages can go
// into one file: each begin() and finish() then makes a page of it.
class TiffEncoder : public RowEncoder
{
public:
    ~TiffEncoder() override;

    bool begin(QIODevice *device, const EncodeSettings &settings) override;
    bool writeRows(const uchar *rows, qsizetype bytesPerLine, int count) override;
    bool finish() override;

    // Whether an image of this size needs BigTIFF's 64-bit offsets.
    static bool needsBigTiff(int width, int height, PixelMode mode = PixelMode::Color,
                             TiffCompression compression = TiffCompression::None);
    static bool needsBigTiff(qint64 pixelBytes);
    // Bytes of pixels an image of this size may take in the file, for adding
    // up pages: compressed, at worst what LZW makes of noise.
    static qint64 pixelBytes(int width, int height, PixelMode mode,
                             TiffCompression compression = TiffCompression::None);

    // Keeps the file open after finish() for further pages, pageCount in all;
    // close() ends it. bigTiff: the caller knows the total size in advance.
    void startMultiPage(int pageCount, bool bigTiff);
    bool close();

private:
    bool fail(const QString &fallback);

    bool open(QIODevice *device, bool bigTiff);

    tiff *tif = nullptr;
    TiffDevice output;
    QByteArray rowBuffer;
    int width = 0;
    PixelLayout layout = PixelLayout::Pixels32;
    int nextRow = 0;
    PixelMode mode = PixelMode::Color;
    int pagesInFile = 0; // 0: one page, closed by finish()
    bool bigTiffForAll = false;
    int pagesBegun = 0;
};

#endif // TIFFENCODER_H
