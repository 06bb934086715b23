#include "engine/image/pnmencoder.h"

#include "engine/image/pixelconvert.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>

namespace {

// Rows are gathered into writes of about this size.
constexpr qint64 chunkBytes = 1024 * 1024;

} // namespace

QByteArray pnmHeader(PixelMode mode, qint64 width, qint64 height)
{
    const char *magic = mode == PixelMode::Gray ? "P5" : mode == PixelMode::Mono ? "P4" : "P6";
    QByteArray header = QByteArray(magic) + '\n' + QByteArray::number(width) + ' ' + QByteArray::number(height) + '\n';
    if (mode != PixelMode::Mono)
        header += "255\n";
    return header;
}

qint64 pnmRowBytes(PixelMode mode, qint64 width)
{
    return packedRowBytes(mode, width);
}

bool PnmEncoder::begin(QIODevice *device, const EncodeSettings &settings)
{
    this->device = device;
    width = settings.width;
    height = settings.height;
    mode = settings.mode;
    layout = settings.layout;
    nextRow = 0;
    if (mode != PixelMode::Color && mode != PixelMode::Gray && mode != PixelMode::Mono) {
        error = QStringLiteral("a netpbm file holds colour, gray or 1-bit pixels only");
        return false;
    }
    rowBytes = pnmRowBytes(mode, width);
    const QByteArray header = pnmHeader(mode, width, height);
    if (device->write(header) != header.size()) {
        error = device->errorString();
        return false;
    }
    return true;
}

bool PnmEncoder::writeRows(const uchar *rows, qsizetype bytesPerLine, int count)
{
    if (count > height - nextRow) {
        error = QStringLiteral("more rows than the image has");
        return false;
    }
    // Rows already as the file holds them, one after another, go out as they are.
    const bool asStored = (mode == PixelMode::Color && layout == PixelLayout::Rgb24)
                          || (mode == PixelMode::Gray && layout == PixelLayout::Gray8);
    if (asStored && bytesPerLine == rowBytes) {
        const qint64 size = count * rowBytes;
        if (device->write(reinterpret_cast<const char *>(rows), size) != size) {
            error = device->errorString();
            return false;
        }
        nextRow += count;
        return true;
    }
    const int rowsPerChunk = int(std::clamp<qint64>(chunkBytes / qMax<qint64>(rowBytes, 1), 1, count));
    buffer.resize(qsizetype(rowsPerChunk * rowBytes));
    for (int done = 0; done < count;) {
        const int n = qMin(rowsPerChunk, count - done);
        auto *out = reinterpret_cast<uchar *>(buffer.data());
        for (int i = 0; i < n; ++i, out += rowBytes) {
            const uchar *row = rows + qsizetype(done + i) * bytesPerLine;
            if (asStored)
                std::memcpy(out, row, size_t(rowBytes));
            else
                convertRow(mode, layout, row, out, width);
            if (mode == PixelMode::Mono) {
                // 1 is white in the converted row, black in PBM; the bits
                // past the last pixel stay 0.
                for (qint64 b = 0; b < rowBytes; ++b)
                    out[b] = uchar(~out[b]);
                if (const int spare = int(rowBytes * 8 - width))
                    out[rowBytes - 1] &= uchar(0xFF << spare);
            }
        }
        const qint64 size = n * rowBytes;
        if (device->write(buffer.constData(), size) != size) {
            error = device->errorString();
            return false;
        }
        done += n;
    }
    nextRow += count;
    return true;
}

bool PnmEncoder::finish()
{
    if (nextRow == height)
        return true;
    error = QStringLiteral("the image has fewer rows than its header says");
    return false;
}
