#ifndef ROWENCODER_H
#define ROWENCODER_H

#include "engine/image/encoderoptions.h"
#include "engine/image/imageformat.h"

#include <QDeadlineTimer>
#include <QString>

#include <atomic>
#include <memory>

class QIODevice;

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
};

// Writes one image to a device, fed rows from top to bottom, a band at a time.
// Rows are 32-bit pixels as Poppler draws them: QImage::Format_RGB32 (bytes
// B, G, R, X on a little-endian machine), or Format_ARGB32_Premultiplied for
// PixelMode::ColorAlpha; for PixelMode::Cmyk the 4 bytes of a pixel are C,
// M, Y, K in memory order. The encoder stores them in the settings' mode.
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

// The format's encoder, as the format table makes it.
std::unique_ptr<RowEncoder> makeEncoder(ImageFormat format);

// Dots per inch as the dots per metre that BMP and PNG store.
int dotsPerMetre(double dpi);

#endif // ROWENCODER_H
