#ifndef TIFFENCODER_H
#define TIFFENCODER_H

#include "engine/rowencoder.h"

#include <QByteArray>

struct tiff;

// Uncompressed 8-bit RGB TIFF in strips through libtiff, with X/YResolution
// in dots per inch. A file that would pass 4 GiB is written as BigTIFF.
class TiffEncoder : public RowEncoder
{
public:
    ~TiffEncoder() override;

    bool begin(QIODevice *device, const EncodeSettings &settings) override;
    bool writeRows(const uchar *rows, qsizetype bytesPerLine, int count) override;
    bool finish() override;

    // Whether an image of this size needs BigTIFF's 64-bit offsets.
    static bool needsBigTiff(int width, int height);

    // Called by libtiff's error handler.
    void setLibraryError(const QString &text) { libraryError = text; }

private:
    bool fail(const QString &fallback);

    tiff *tif = nullptr;
    QByteArray rowBuffer;
    int width = 0;
    int nextRow = 0;
    QString libraryError;
};

#endif // TIFFENCODER_H
