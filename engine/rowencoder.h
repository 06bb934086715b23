#ifndef ROWENCODER_H
#define ROWENCODER_H

#include "engine/imageformat.h"

#include <QString>

#include <memory>

class QIODevice;

struct EncodeSettings
{
    int width = 0;
    int height = 0;
    int resolution = 150; // dots per inch, stored in every file
    int quality = 75;     // 1 to 100: JPEG quality; for PNG higher compresses less
};

// Writes one image to a device, fed rows from top to bottom, a band at a time.
// Rows are 32-bit pixels as Poppler draws them (QImage::Format_RGB32: bytes
// B, G, R, X on a little-endian machine); files hold RGB without alpha.
class RowEncoder
{
public:
    virtual ~RowEncoder() = default;

    virtual bool begin(QIODevice *device, const EncodeSettings &settings) = 0;
    virtual bool writeRows(const uchar *rows, qsizetype bytesPerLine, int count) = 0;
    virtual bool finish() = 0;

    QString errorString() const { return error; }

protected:
    QString error;
};

std::unique_ptr<RowEncoder> makeEncoder(ImageFormat format);

// Dots per inch as the dots per metre that BMP and PNG store.
int dotsPerMetre(int dpi);

#endif // ROWENCODER_H
