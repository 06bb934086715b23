#ifndef ROWENCODER_H
#define ROWENCODER_H

#include "engine/image/encoderoptions.h"
#include "engine/image/imageformat.h"

#include <QDeadlineTimer>
#include <QString>

#include <atomic>
#include <memory>

class QIODevice;

// How the rows given to an encoder lie in memory: 32-bit pixels as both
// renderers draw them (below), or the bytes of each pixel packed, as MuPDF
// draws them when asked: R, G, B; B, G, R; or gray. Drawing in the layout
// the file holds saves a conversion and a quarter or more of the memory
// each page's pixels go through.
enum class PixelLayout { Pixels32, Rgb24, Bgr24, Gray8 };

struct EncodeSettings
{
    int width = 0;
    int height = 0;
    double resolution = 150; // dots per inch, stored in every file that has a place for it
    int quality = 75;        // 1 to 100: JPEG and WebP quality; for PNG higher compresses less
    PixelMode mode = PixelMode::Color;
    EncoderOptions options;
    // Threads the encoder may compress on besides the caller's (PNG's pieces
    // of a large image); the bytes written are the same for any number.
    int threads = 1;
    PixelLayout layout = PixelLayout::Pixels32; // of the rows writeRows() is given
};

// Writes one image to a device, fed rows from top to bottom, a band at a time.
// Rows in PixelLayout::Pixels32 are 32-bit pixels as Poppler draws them:
// PixelImage::Rgb32 (bytes B, G, R, X on a little-endian machine), or
// Argb32Premultiplied for PixelMode::ColorAlpha; for PixelMode::Cmyk
// the 4 bytes of a pixel are C, M, Y, K in memory order. Rows may also come
// in the packed layout layoutFor() names. The encoder stores them in the
// settings' mode.
class RowEncoder
{
public:
    virtual ~RowEncoder() = default;

    virtual bool begin(QIODevice *device, const EncodeSettings &settings) = 0;
    virtual bool writeRows(const uchar *rows, qsizetype bytesPerLine, int count) = 0;
    virtual bool finish() = 0;

    QString errorString() const { return error; }

    // The page's stop flag and deadline, for an encoder that spends long in
    // one library call (WebP encodes the whole picture at once): it gives up
    // once either is reached, and its finish() fails.
    void stopWhen(const std::atomic<bool> *stop, QDeadlineTimer deadline)
    {
        this->stop = stop;
        this->deadline = deadline;
    }

    // Memory the encoder itself holds for an image of the settings' size, for
    // the run's memory budget: nothing for those that stream their rows out.
    virtual qint64 bytesHeld(const EncodeSettings &) const { return 0; }

    // The layout of rows the encoder takes with the least work for a mode;
    // it takes Pixels32 rows as well.
    virtual PixelLayout layoutFor(PixelMode mode) const;

protected:
    bool stopRequested() const
    {
        return (stop && stop->load(std::memory_order_relaxed)) || deadline.hasExpired();
    }

    QString error;

private:
    const std::atomic<bool> *stop = nullptr;
    QDeadlineTimer deadline{QDeadlineTimer::Forever};
};

// The format's encoder (its facts are imageformat.h's table).
std::unique_ptr<RowEncoder> makeEncoder(ImageFormat format);

// Dots per inch as the dots per metre that BMP and PNG store.
int dotsPerMetre(double dpi);

#endif // ROWENCODER_H
