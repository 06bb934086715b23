#include "engine/image/bmpencoder.h"

#include "engine/image/pixelconvert.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>

namespace {

constexpr qint64 headerBytes = 14 + 40;
// Rows are gathered into writes of about this size.
constexpr qint64 chunkBytes = 4 * 1024 * 1024;

qint64 paddedRowBytes(qint64 width, PixelMode mode)
{
    return (packedRowBytes(mode, width) + 3) & ~qint64(3);
}

int paletteEntries(PixelMode mode)
{
    return mode == PixelMode::Gray ? 256 : mode == PixelMode::Mono ? 2 : 0;
}

int bitsPerPixel(PixelMode mode)
{
    return mode == PixelMode::Gray ? 8 : mode == PixelMode::Mono ? 1 : 24;
}

void put16(uchar *&at, quint16 value)
{
    *at++ = uchar(value);
    *at++ = uchar(value >> 8);
}

void put32(uchar *&at, quint32 value)
{
    put16(at, quint16(value));
    put16(at, quint16(value >> 16));
}

} // namespace

qint64 bmpFileSize(qint64 width, qint64 height, PixelMode mode)
{
    return headerBytes + 4 * paletteEntries(mode) + paddedRowBytes(width, mode) * height;
}

bool BmpEncoder::writeAt(qint64 offset, const char *data, qint64 size)
{
    if (device->seek(offset) && device->write(data, size) == size)
        return true;
    error = device->errorString();
    return false;
}

bool BmpEncoder::begin(QIODevice *device, const EncodeSettings &settings)
{
    this->device = device;
    width = settings.width;
    height = settings.height;
    mode = settings.mode;
    layout = settings.layout;
    rowBytes = paddedRowBytes(width, mode);
    const int colours = paletteEntries(mode);
    pixelsAt = headerBytes + 4 * colours;
    const qint64 fileSize = bmpFileSize(width, height, mode);
    if (fileSize > qint64(0xFFFFFFFFu)) {
        error = QStringLiteral("a BMP file cannot hold more than 4 GiB");
        return false;
    }
    const quint32 dpm = quint32(dotsPerMetre(settings.resolution));

    QByteArray headerData(qsizetype(pixelsAt), '\0');
    uchar *header = reinterpret_cast<uchar *>(headerData.data());
    uchar *at = header;
    *at++ = 'B';
    *at++ = 'M';
    put32(at, quint32(fileSize));
    put32(at, 0); // reserved
    put32(at, quint32(pixelsAt));
    put32(at, 40); // BITMAPINFOHEADER
    put32(at, quint32(width));
    put32(at, quint32(height)); // positive: rows from the bottom up
    put16(at, 1);               // planes
    put16(at, quint16(bitsPerPixel(mode)));
    put32(at, 0);               // no compression
    put32(at, quint32(rowBytes * height));
    put32(at, dpm);
    put32(at, dpm);
    put32(at, quint32(colours)); // colours used
    put32(at, 0);                // important colours
    // Gray levels from black to white; for 1 bit that is black, then white.
    for (int i = 0; i < colours; ++i) {
        const quint32 level = quint32(i * 255 / (colours - 1));
        put32(at, level << 16 | level << 8 | level);
    }
    return writeAt(0, headerData.constData(), pixelsAt);
}

bool BmpEncoder::writeRows(const uchar *rows, qsizetype bytesPerLine, int count)
{
    const int rowsPerChunk = int(std::clamp<qint64>(chunkBytes / rowBytes, 1, count));
    buffer.resize(qsizetype(rowsPerChunk * rowBytes));
    for (int done = 0; done < count;) {
        const int n = qMin(rowsPerChunk, count - done);
        // The chunk's last row is the lowest in the file: it goes first.
        auto *out = reinterpret_cast<uchar *>(buffer.data());
        const qint64 used = packedRowBytes(mode, width);
        for (int i = n - 1; i >= 0; --i, out += rowBytes) {
            const uchar *row = rows + qsizetype(done + i) * bytesPerLine;
            if (mode != PixelMode::Color)
                convertRow(mode, layout, row, out, width);
            else if (layout == PixelLayout::Bgr24)
                std::memcpy(out, row, size_t(width) * 3);
            else if (layout == PixelLayout::Rgb24)
                swapRedBlue24(row, out, width);
            else
                rgb32ToBgr888(row, out, width);
            std::fill(out + used, out + rowBytes, uchar(0));
        }
        const int lowestRow = nextRow + done + n - 1;
        const qint64 offset = pixelsAt + qint64(height - 1 - lowestRow) * rowBytes;
        if (!writeAt(offset, buffer.constData(), n * rowBytes))
            return false;
        done += n;
    }
    nextRow += count;
    return true;
}

PixelLayout BmpEncoder::layoutFor(PixelMode mode) const
{
    return mode == PixelMode::Color ? PixelLayout::Bgr24 : packedLayout(mode);
}

bool BmpEncoder::finish()
{
    if (nextRow == height)
        return true;
    error = QStringLiteral("the image has fewer rows than its header says");
    return false;
}
