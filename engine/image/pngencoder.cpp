#include "engine/image/pngencoder.h"

#include "engine/image/pixelconvert.h"

#include <QIODevice>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <libdeflate.h>
#include <mutex>
#include <new>
#include <thread>
#include <zlib.h>

namespace {

constexpr uchar signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// Deflate looks back at most 32 KiB: a piece primed with that much of what
// came before it compresses as if the stream had never been cut.
constexpr size_t window = 32768;
// IDAT chunks of the whole image's deflate stream; any size reads alike.
constexpr size_t idatBytes = 1 << 20;

void put32(uchar *to, quint32 value)
{
    to[0] = uchar(value >> 24);
    to[1] = uchar(value >> 16);
    to[2] = uchar(value >> 8);
    to[3] = uchar(value);
}

} // namespace

// One piece of a streamed image: its rows' bytes, the 32 KiB before them, and
// once deflated, raw deflate data that ends on a byte boundary (the last: the
// final block) and the Adler-32 of its bytes.
struct PngEncoder::Piece
{
    std::unique_ptr<uchar[]> input;
    std::vector<uchar> dictionary;
    size_t length = 0; // of the input
    bool last = false;
    std::vector<uchar> output;
    quint32 adler = 1;
    bool failed = false;
    bool done = false;
};

void PngEncoder::deflatePiece(Piece &piece, int level)
{
    try {
        deflateInto(piece, level);
    } catch (const std::bad_alloc &) {
        piece.failed = true; // said as zlib's failure; the piece's thread lives on
    }
}

void PngEncoder::deflateInto(Piece &piece, int level)
{
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        piece.failed = true;
        return;
    }
    const struct Ended
    {
        z_stream *stream;
        ~Ended() { deflateEnd(stream); }
    } ended{&z};
    if (!piece.dictionary.empty())
        deflateSetDictionary(&z, piece.dictionary.data(), uInt(piece.dictionary.size()));
    // Deflated into a buffer the thread keeps, so that a piece's output holds
    // its own bytes only: the bound is a whole piece, a poster's output a few
    // hundredths of it. The bound, and a sync flush's empty stored block and
    // its header besides.
    thread_local std::vector<uchar> scratch;
    const size_t bound = deflateBound(&z, uLong(piece.length)) + 64;
    if (scratch.size() < bound)
        scratch.resize(bound);
    z.next_in = piece.input.get();
    z.avail_in = uInt(piece.length);
    const int flush = piece.last ? Z_FINISH : Z_SYNC_FLUSH;
    int result = Z_OK;
    do {
        if (z.total_out == scratch.size())
            scratch.resize(scratch.size() * 2);
        z.next_out = scratch.data() + z.total_out;
        z.avail_out = uInt(scratch.size() - z.total_out);
        result = deflate(&z, flush);
    } while (result == Z_OK && (z.avail_out == 0 || (piece.last && result != Z_STREAM_END)));
    piece.failed = piece.last ? result != Z_STREAM_END : (result != Z_OK || z.avail_in != 0);
    piece.output.assign(scratch.begin(), scratch.begin() + qsizetype(z.total_out));
    piece.adler = libdeflate_adler32(1, piece.input.get(), piece.length);
    piece.input.reset();
    piece.dictionary = std::vector<uchar>();
}

// The streamed image's pieces: deflated on the calling thread, or handed to
// threads of their own and written in order as they come back.
struct PngEncoder::Pieces
{
    int level = 3;
    std::vector<uchar> history; // the last 32 KiB of the rows so far
    uLong adler = 1;           // of every row so far
    bool headerWritten = false;

    std::mutex mutex;
    std::condition_variable work;
    std::condition_variable finished;
    std::deque<std::shared_ptr<Piece>> queue;    // waiting for a thread
    std::deque<std::shared_ptr<Piece>> inFlight; // handed out, in the file's order
    bool quitting = false;
    std::vector<std::thread> threads;

    ~Pieces()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            quitting = true;
        }
        work.notify_all();
        for (std::thread &thread : threads)
            thread.join();
    }

    void start(int count)
    {
        for (int i = 0; i < count; ++i) {
            threads.emplace_back([this] {
                std::unique_lock<std::mutex> lock(mutex);
                for (;;) {
                    work.wait(lock, [this] { return quitting || !queue.empty(); });
                    if (quitting)
                        return;
                    const std::shared_ptr<Piece> piece = queue.front();
                    queue.pop_front();
                    lock.unlock();
                    deflatePiece(*piece, level);
                    lock.lock();
                    piece->done = true;
                    finished.notify_all();
                }
            });
        }
    }
};

PngEncoder::PngEncoder(qint64 wholeLimit, int pieceBytes)
    : wholeLimit(wholeLimit)
    , pieceBytes(qMax(1, pieceBytes))
{
}

PngEncoder::~PngEncoder() = default;

int PngEncoder::levelFor(int quality)
{
    // Measured on rendered document pages at 150 dpi (bench_engine png): rows
    // left unfiltered deflate as well as filtered ones for text and line art
    // and cost nothing to prepare. libdeflate's level 3 gives files 2 to 3 per
    // cent over mutool's (zlib's level 6, unfiltered) on the report and the
    // text, in 0.42 of its time and 0.7 of zlib's level 3 (CPU time).
    const int q = qBound(1, quality, 100);
    return 1 + (100 - q) * 8 / 99;
}

qint64 PngEncoder::filteredBytes(const EncodeSettings &settings) const
{
    return (1 + packedRowBytes(settings.mode, settings.width)) * qint64(settings.height);
}

qint64 PngEncoder::bytesHeld(const EncodeSettings &settings) const
{
    const qint64 size = filteredBytes(settings);
    if (size <= wholeLimit)
        return size + qint64(libdeflate_zlib_compress_bound(nullptr, size_t(size)));
    // The piece being filled and the 32 KiB before it, and a piece a thread
    // in hand with its output and zlib's state.
    return qint64(pieceBytes) + qint64(window) + (2 * qint64(pieceBytes) + (qint64(1) << 19)) * qMax(1, settings.threads);
}

bool PngEncoder::fail(const QString &why)
{
    if (error.isEmpty())
        error = why;
    return false;
}

bool PngEncoder::writeChunk(const char type[4], const uchar *data, size_t size, const uchar *more, size_t moreSize)
{
    uchar head[8];
    put32(head, quint32(size + moreSize));
    std::memcpy(head + 4, type, 4);
    quint32 crc = libdeflate_crc32(0, head + 4, 4);
    if (size) // with no bytes, libdeflate's CRC-32 starts afresh, as zlib's does
        crc = libdeflate_crc32(crc, data, size);
    if (moreSize)
        crc = libdeflate_crc32(crc, more, moreSize);
    uchar tail[4];
    put32(tail, crc);
    const auto out = [this](const uchar *bytes, size_t count) {
        return count == 0 || device->write(reinterpret_cast<const char *>(bytes), qint64(count)) == qint64(count);
    };
    if (!out(head, 8) || !out(data, size) || !out(more, moreSize) || !out(tail, 4))
        return fail(device->errorString());
    return true;
}

bool PngEncoder::begin(QIODevice *device, const EncodeSettings &settings)
{
    this->device = device;
    mode = settings.mode;
    layout = settings.layout;
    width = settings.width;
    level = levelFor(settings.quality);
    rowBytes = 1 + packedRowBytes(mode, width);
    if (mode == PixelMode::Cmyk)
        return fail(QStringLiteral("PNG has no CMYK"));

    const qint64 size = filteredBytes(settings);
    whole = size <= wholeLimit;
    rows.reset();
    rowsFilled = 0;
    pieces.reset();
    image.reset();
    filled = 0;
    try {
        if (whole) {
            // Left uninitialised: every byte is written before it is read.
            image.reset(new uchar[size_t(size)]);
        } else {
            rows.reset(new uchar[size_t(pieceBytes)]); // written before it is read
            row.resize(size_t(rowBytes));
            pieces = std::make_unique<Pieces>();
            pieces->level = level;
            if (settings.threads > 1)
                pieces->start(settings.threads);
        }
    } catch (const std::bad_alloc &) {
        return fail(QStringLiteral("out of memory"));
    }

    if (device->write(reinterpret_cast<const char *>(signature), 8) != 8)
        return fail(device->errorString());
    uchar header[13];
    put32(header, quint32(settings.width));
    put32(header + 4, quint32(settings.height));
    header[8] = mode == PixelMode::Mono ? 1 : 8;
    header[9] = mode == PixelMode::Gray || mode == PixelMode::Mono ? 0 : mode == PixelMode::ColorAlpha ? 6 : 2;
    header[10] = 0; // deflate
    header[11] = 0; // the five filters, each row's first byte naming its own
    header[12] = 0; // not interlaced
    uchar physical[9];
    const quint32 dpm = quint32(dotsPerMetre(settings.resolution));
    put32(physical, dpm);
    put32(physical + 4, dpm);
    physical[8] = 1; // per metre
    return writeChunk("IHDR", header, sizeof header) && writeChunk("pHYs", physical, sizeof physical);
}

void PngEncoder::makeRow(const uchar *source, uchar *to) const
{
    to[0] = 0; // no filter
    convertRow(mode, layout, source, to + 1, width);
}

bool PngEncoder::submitIfFull()
{
    if (rowsFilled < size_t(pieceBytes))
        return true;
    // A band of a poster is tens of pieces: a stop need not wait for all of them.
    if (stopRequested())
        return fail(QStringLiteral("stopped while encoding"));
    return submitPiece(false);
}

bool PngEncoder::writeRows(const uchar *from, qsizetype bytesPerLine, int count)
{
    if (!error.isEmpty())
        return false;
    for (int i = 0; i < count; ++i) {
        const uchar *source = from + i * bytesPerLine;
        if (whole) {
            makeRow(source, image.get() + filled); // sized in begin()
            filled += size_t(rowBytes);
            continue;
        }
        if (size_t(rowBytes) <= size_t(pieceBytes) - rowsFilled) {
            // The whole row fits the piece being filled: made there, with no
            // copy between (a poster's rows are gigabytes, on one thread).
            makeRow(source, rows.get() + rowsFilled);
            rowsFilled += size_t(rowBytes);
            if (!submitIfFull())
                return false;
            continue;
        }
        makeRow(source, row.data());
        for (size_t done = 0; done < row.size();) {
            const size_t take = qMin(row.size() - done, size_t(pieceBytes) - rowsFilled);
            std::memcpy(rows.get() + rowsFilled, row.data() + done, take);
            rowsFilled += take;
            done += take;
            if (!submitIfFull())
                return false;
        }
    }
    return true;
}

bool PngEncoder::writePiece(const std::vector<uchar> &deflated, bool last)
{
    Pieces &p = *pieces;
    std::vector<uchar> stream;
    if (!p.headerWritten) {
        // CMF: deflate with a 32 KiB window; FLG: zlib's level class, and a
        // check that makes the pair a multiple of 31.
        const int levelClass = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
        int header = 0x78 << 8 | levelClass << 6;
        header += 31 - header % 31;
        stream = {uchar(header >> 8), uchar(header)};
        p.headerWritten = true;
    }
    stream.insert(stream.end(), deflated.begin(), deflated.end());
    uchar trailer[4];
    put32(trailer, quint32(p.adler));
    return writeChunk("IDAT", stream.data(), stream.size(), last ? trailer : nullptr, last ? 4 : 0);
}

bool PngEncoder::emitPiece(Piece &piece)
{
    if (piece.failed)
        return fail(QStringLiteral("zlib could not compress the image"));
    Pieces &p = *pieces;
    p.adler = adler32_combine(p.adler, piece.adler, z_off_t(piece.length));
    const bool written = writePiece(piece.output, piece.last);
    piece.output = std::vector<uchar>();
    return written;
}

bool PngEncoder::submitPiece(bool last)
{
    Pieces &p = *pieces;
    auto piece = std::make_shared<Piece>();
    piece->last = last;
    piece->length = rowsFilled;
    piece->dictionary = p.history;
    p.history.insert(p.history.end(), rows.get() + rowsFilled - qMin(rowsFilled, window), rows.get() + rowsFilled);
    if (p.history.size() > window)
        p.history.erase(p.history.begin(), p.history.end() - qsizetype(window));
    piece->input = std::move(rows);
    rowsFilled = 0;
    if (!last) {
        rows.reset(new (std::nothrow) uchar[size_t(pieceBytes)]);
        if (!rows)
            return fail(QStringLiteral("out of memory"));
    }

    if (p.threads.empty()) {
        deflatePiece(*piece, level);
        return emitPiece(*piece);
    }
    std::unique_lock<std::mutex> lock(p.mutex);
    p.queue.push_back(piece);
    p.inFlight.push_back(piece);
    p.work.notify_one();
    // A piece a thread may be in hand besides the one being filled; the last
    // waits for all of them.
    const size_t inHand = last ? 0 : p.threads.size();
    for (;;) {
        while (!p.inFlight.empty() && p.inFlight.front()->done) {
            const std::shared_ptr<Piece> done = p.inFlight.front();
            p.inFlight.pop_front();
            lock.unlock();
            if (!emitPiece(*done))
                return false;
            lock.lock();
        }
        if (p.inFlight.size() <= inHand)
            return true;
        p.finished.wait(lock, [&p] { return p.inFlight.front()->done; });
    }
}

bool PngEncoder::finish()
{
    if (!error.isEmpty())
        return false;
    if (whole) {
        libdeflate_compressor *compressor = libdeflate_alloc_compressor(level);
        if (!compressor)
            return fail(QStringLiteral("out of memory"));
        const size_t bound = libdeflate_zlib_compress_bound(compressor, filled);
        const std::unique_ptr<uchar[]> deflated(new (std::nothrow) uchar[bound]);
        const size_t size = deflated ? libdeflate_zlib_compress(compressor, image.get(), filled, deflated.get(), bound) : 0;
        libdeflate_free_compressor(compressor);
        image.reset();
        if (!deflated)
            return fail(QStringLiteral("out of memory"));
        if (size == 0)
            return fail(QStringLiteral("libdeflate could not compress the image"));
        for (size_t at = 0; at < size; at += idatBytes) {
            if (!writeChunk("IDAT", deflated.get() + at, qMin(idatBytes, size - at)))
                return false;
        }
    } else if (!submitPiece(true)) {
        return false;
    }
    return writeChunk("IEND", nullptr, 0);
}
