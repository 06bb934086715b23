#ifndef PNGENCODER_H
#define PNGENCODER_H

#include "engine/image/rowencoder.h"

#include <memory>
#include <vector>

// PNG through libpng (8-bit RGB, 8-bit gray, 1-bit gray or 8-bit RGBA, as
// the mode says), with the resolution in pHYs. Quality chooses
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
    PixelMode mode = PixelMode::Color;
    int width = 0;
    std::vector<uchar> packed; // one row in the file's layout, when not colour
};

#endif // PNGENCODER_H
