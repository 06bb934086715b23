#ifndef PNGENCODER_H
#define PNGENCODER_H

#include "engine/image/rowencoder.h"

#include <memory>
#include <vector>

// PNG (8-bit RGB, 8-bit gray, 1-bit gray or 8-bit RGBA, as the mode says),
// with the resolution in pHYs, rows unfiltered. The chunks are written here;
// the deflate stream comes from one of two compressors:
//
// - an image whose rows take at most wholeLimit bytes is held whole and
//   deflated in one call by libdeflate, several times zlib's speed for
//   fewer bytes at the same level;
// - a larger one (a poster) is streamed: its rows are cut into pieces of
//   pieceBytes, each deflated by zlib primed with the 32 KiB before it and
//   ended on a byte boundary (a sync flush), so that pieces can be deflated
//   on the settings' threads at once and joined in order, their Adler-32
//   checksums combined. The pieces do not depend on the number of threads,
//   so neither do the bytes.
//
// Quality chooses the deflate level: a higher value compresses less (and faster).
class PngEncoder : public RowEncoder
{
public:
    static constexpr qint64 defaultWholeLimit = qint64(32) << 20;
    static constexpr int defaultPieceBytes = 1 << 20;

    explicit PngEncoder(qint64 wholeLimit = defaultWholeLimit, int pieceBytes = defaultPieceBytes);
    ~PngEncoder() override;

    bool begin(QIODevice *device, const EncodeSettings &settings) override;
    bool writeRows(const uchar *rows, qsizetype bytesPerLine, int count) override;
    bool finish() override;
    qint64 bytesHeld(const EncodeSettings &settings) const override;

    // 1 (quality 100) to 9 (quality 1); the default 75 gives 3.
    static int levelFor(int quality);

private:
    struct Piece;
    struct Pieces;
    static void deflatePiece(Piece &piece, int level);
    static void deflateInto(Piece &piece, int level);

    bool writeChunk(const char type[4], const uchar *data, size_t size, const uchar *more = nullptr,
                    size_t moreSize = 0);
    bool writePiece(const std::vector<uchar> &deflated, bool last);
    void makeRow(const uchar *source, uchar *to) const; // its filter byte, then its pixels
    bool submitIfFull(); // hands the piece being filled on once it is full
    bool submitPiece(bool last);
    bool emitPiece(Piece &piece);
    bool fail(const QString &why);
    qint64 filteredBytes(const EncodeSettings &settings) const;

    const qint64 wholeLimit;
    const int pieceBytes;
    QIODevice *device = nullptr;
    PixelMode mode = PixelMode::Color;
    int width = 0;
    PixelLayout layout = PixelLayout::Pixels32;
    int level = 3;
    qint64 rowBytes = 0; // a row in the file: its filter byte, then the pixels
    bool whole = true;
    std::unique_ptr<uchar[]> image; // whole: every row
    size_t filled = 0;
    std::unique_ptr<uchar[]> rows; // streamed: the piece being filled, pieceBytes long
    size_t rowsFilled = 0;
    std::vector<uchar> row; // streamed: a row that is cut between pieces
    std::unique_ptr<Pieces> pieces;
};

#endif // PNGENCODER_H
