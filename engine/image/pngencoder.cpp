#include "engine/image/pngencoder.h"

#include "engine/image/pixelconvert.h"

#include <QIODevice>

#include <climits>
#include <png.h>
#include <zlib.h>

// libpng reports errors by a jump out of the failing call (its documented
// way); everything the jump passes over is plain data.
struct PngEncoder::State
{
    png_structp png = nullptr;
    png_infop info = nullptr;
    QIODevice *device = nullptr;
    bool writeFailed = false;
    char message[256] = {};

    static State *of(png_structp png) { return static_cast<State *>(png_get_io_ptr(png)); }

    static void onError(png_structp png, png_const_charp text)
    {
        auto *state = static_cast<State *>(png_get_error_ptr(png));
        qstrncpy(state->message, text, sizeof state->message);
        png_longjmp(png, 1);
    }

    static void onWarning(png_structp, png_const_charp) {}

    static void write(png_structp png, png_bytep data, size_t length)
    {
        State *state = of(png);
        if (!state->writeFailed && state->device->write(reinterpret_cast<const char *>(data), qint64(length)) != qint64(length))
            state->writeFailed = true;
    }

    static void flush(png_structp) {}
};

PngEncoder::Compression PngEncoder::compressionFor(int quality)
{
    // Measured on rendered document pages at 150 dpi (bench_engine png): rows
    // left unfiltered deflate as well as filtered ones for text and line art
    // and cost nothing to prepare; Deflate's fast levels (1 to 3) take half
    // the time of libpng's defaults. The default quality 75 gives level 3,
    // within 15 per cent of the size of mutool's files (level 6, unfiltered)
    // on the report, the text and the manual. libspng was slower than libpng
    // at every setting with the same zlib underneath.
    const int q = qBound(1, quality, 100);
    return {1 + (100 - q) * 8 / 99, PNG_FILTER_NONE, Z_DEFAULT_STRATEGY};
}

PngEncoder::PngEncoder()
    : state(std::make_unique<State>())
{
}

PngEncoder::~PngEncoder()
{
    if (state->png)
        png_destroy_write_struct(&state->png, &state->info);
}

bool PngEncoder::begin(QIODevice *device, const EncodeSettings &settings)
{
    State &s = *state;
    s.device = device;
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &s, State::onError, State::onWarning);
    if (!s.png) {
        error = QStringLiteral("out of memory");
        return false;
    }
    s.info = png_create_info_struct(s.png);
    if (!s.info) {
        error = QStringLiteral("out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(s.png))) {
        error = QString::fromLatin1(s.message);
        return false;
    }
    png_set_write_fn(s.png, &s, State::write, State::flush);
    // libpng refuses sides over a million pixels unless told otherwise.
    png_set_user_limits(s.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    const Compression compression = compressionFor(settings.quality);
    png_set_compression_level(s.png, compression.zlibLevel);
    png_set_compression_strategy(s.png, compression.strategy);
    png_set_filter(s.png, PNG_FILTER_TYPE_BASE, compression.filters);
    png_set_compression_buffer_size(s.png, 256 * 1024);

    mode = settings.mode;
    width = settings.width;
    const int bitDepth = mode == PixelMode::Mono ? 1 : 8;
    const int colorType = mode == PixelMode::Gray || mode == PixelMode::Mono ? PNG_COLOR_TYPE_GRAY
                          : mode == PixelMode::ColorAlpha                   ? PNG_COLOR_TYPE_RGB_ALPHA
                                                                            : PNG_COLOR_TYPE_RGB;
    png_set_IHDR(s.png, s.info, png_uint_32(settings.width), png_uint_32(settings.height), bitDepth, colorType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    const png_uint_32 dpm = png_uint_32(dotsPerMetre(settings.resolution));
    png_set_pHYs(s.png, s.info, dpm, dpm, PNG_RESOLUTION_METER);
    png_write_info(s.png, s.info);
    if (mode != PixelMode::Color) {
        // Other layouts are packed by us; libpng takes colour rows as drawn.
        packed.resize(size_t(packedRowBytes(mode, width)));
        return true;
    }
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    png_set_bgr(s.png);
    png_set_filler(s.png, 0, PNG_FILLER_AFTER);
#else
    png_set_filler(s.png, 0, PNG_FILLER_BEFORE);
#endif
    return true;
}

bool PngEncoder::writeRows(const uchar *rows, qsizetype bytesPerLine, int count)
{
    State &s = *state;
    if (setjmp(png_jmpbuf(s.png))) {
        error = QString::fromLatin1(s.message);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        const uchar *row = rows + i * bytesPerLine;
        if (mode != PixelMode::Color) {
            convertRow(mode, row, packed.data(), width);
            row = packed.data();
        }
        png_write_row(s.png, row);
    }
    if (s.writeFailed) {
        error = s.device->errorString();
        return false;
    }
    return true;
}

bool PngEncoder::finish()
{
    State &s = *state;
    if (setjmp(png_jmpbuf(s.png))) {
        error = QString::fromLatin1(s.message);
        return false;
    }
    png_write_end(s.png, nullptr);
    if (s.writeFailed) {
        error = s.device->errorString();
        return false;
    }
    return true;
}
