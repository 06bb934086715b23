#ifndef PNGENCODER_H
#define PNGENCODER_H

#include "engine/rowencoder.h"

#include <memory>

// 8-bit RGB PNG through libpng, with the resolution in pHYs. Quality chooses
// the deflate effort: a higher value compresses less (and faster).
class PngEncoder : public RowEncoder
{
public:
    PngEncoder();
    ~PngEncoder() override;

    bool begin(QIODevice *device, const EncodeSettings &settings) override;
    bool writeRows(const uchar *rows, qsizetype bytesPerLine, int count) override;
    bool finish() override;

    struct Compression
    {
        int zlibLevel;
        int filters; // PNG_FILTER_* mask
        int strategy; // zlib strategy
    };
    static Compression compressionFor(int quality);

private:
    struct State;
    std::unique_ptr<State> state;
};

#endif // PNGENCODER_H
