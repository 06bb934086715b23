// Measurements behind the engine's choices.
//   bench_engine png <pdf> <dpi> <pages>
//       renders the pages once, then encodes them with libpng and libspng at
//       several deflate levels, filters and strategies, and with the engine's
//       own encoder (libdeflate, or zlib in pieces): ms per page and size.
//   bench_engine bands <pdf> <dpi> <bands>
//       converts every page whole and in the given number of bands and
//       reports the pages and rows where the two differ.
//   bench_engine convert <pdf> <dpi> <jpg|png|bmp|tiff> [output folder]
//       converts every page on one thread and prints pages per second.
#include "engine/image/imageformat.h"
#include "engine/image/pngencoder.h"
#include "engine/pagepipeline.h"
#include "engine/render/popplerview.h"
#include "engine/pixelsize.h"
#include "engine/render/pagerenderer.h"
#include "engine/render/pdfdocument.h"

#include <poppler-qt6.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

#include <png.h>
#include <spng.h>
#include <zlib.h>

namespace {

struct PngConfig
{
    bool spng;
    int level;
    int filter; // PNG_FILTER_* for libpng; mapped for libspng
    int strategy;
    const char *name;
};

void appendBytes(png_structp png, png_bytep data, size_t length)
{
    static_cast<QByteArray *>(png_get_io_ptr(png))->append(reinterpret_cast<const char *>(data), qsizetype(length));
}

void noFlush(png_structp) {}

qsizetype encodeLibpng(const QImage &image, const PngConfig &config)
{
    QByteArray out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return -1;
    }
    png_set_write_fn(png, &out, appendBytes, noFlush);
    png_set_compression_level(png, config.level);
    png_set_compression_strategy(png, config.strategy);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, config.filter);
    png_set_compression_buffer_size(png, 256 * 1024);
    png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < image.height(); ++y)
        png_write_row(png, image.constScanLine(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out.size();
}

int appendSpng(spng_ctx *, void *user, void *data, size_t length)
{
    static_cast<QByteArray *>(user)->append(static_cast<const char *>(data), qsizetype(length));
    return 0;
}

int spngFilter(int pngFilter)
{
    int choice = 0;
    if (pngFilter & PNG_FILTER_NONE)
        choice |= SPNG_FILTER_CHOICE_NONE;
    if (pngFilter & PNG_FILTER_SUB)
        choice |= SPNG_FILTER_CHOICE_SUB;
    if (pngFilter & PNG_FILTER_UP)
        choice |= SPNG_FILTER_CHOICE_UP;
    if (pngFilter & PNG_FILTER_AVG)
        choice |= SPNG_FILTER_CHOICE_AVG;
    if (pngFilter & PNG_FILTER_PAETH)
        choice |= SPNG_FILTER_CHOICE_PAETH;
    return choice;
}

qsizetype encodeSpng(const QImage &image, const PngConfig &config)
{
    QByteArray out;
    spng_ctx *ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_png_stream(ctx, appendSpng, &out);
    spng_ihdr ihdr{};
    ihdr.width = uint32_t(image.width());
    ihdr.height = uint32_t(image.height());
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx, &ihdr);
    spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, config.level);
    spng_set_option(ctx, SPNG_IMG_COMPRESSION_STRATEGY, config.strategy);
    spng_set_option(ctx, SPNG_FILTER_CHOICE, spngFilter(config.filter));
    int error = spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
    std::vector<uchar> row(size_t(image.width()) * 3);
    for (int y = 0; y < image.height() && !error; ++y) {
        const auto *from = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            row[size_t(x) * 3] = uchar(qRed(from[x]));
            row[size_t(x) * 3 + 1] = uchar(qGreen(from[x]));
            row[size_t(x) * 3 + 2] = uchar(qBlue(from[x]));
        }
        error = spng_encode_row(ctx, row.data(), row.size());
        if (error == SPNG_EOI)
            error = 0;
    }
    spng_ctx_free(ctx);
    return error ? -1 : out.size();
}

int pngSweep(const Poppler::Document *document, int dpi, int pages)
{
    const std::atomic<bool> stop{false};
    std::vector<QImage> images;
    QElapsedTimer renderTimer;
    renderTimer.start();
    for (int i = 0; i < pages; ++i) {
        const PageRenderer page(document, i);
        const PixelSize size = pixelSizeAt(page.sizeInPoints(), dpi);
        images.push_back(page.render(dpi, QRect(0, 0, size.width, size.height), stop));
    }
    std::printf("drawing alone: %.1f ms/page\n", double(renderTimer.elapsed()) / pages);
    const PngConfig configs[] = {
        {false, 6, PNG_ALL_FILTERS, Z_DEFAULT_STRATEGY, "libpng defaults"},
        {false, 2, PNG_ALL_FILTERS, Z_DEFAULT_STRATEGY, "level 2, all filters (Qt at quality 75)"},
        {false, 1, PNG_FILTER_NONE, Z_DEFAULT_STRATEGY, "level 1, none"},
        {false, 2, PNG_FILTER_NONE, Z_DEFAULT_STRATEGY, "level 2, none"},
        {false, 3, PNG_FILTER_NONE, Z_DEFAULT_STRATEGY, "level 3, none"},
        {false, 4, PNG_FILTER_NONE, Z_DEFAULT_STRATEGY, "level 4, none"},
        {false, 6, PNG_FILTER_NONE, Z_DEFAULT_STRATEGY, "level 6, none (mutool)"},
        {false, 1, PNG_FILTER_NONE | PNG_FILTER_UP, Z_DEFAULT_STRATEGY, "level 1, none+up"},
        {false, 2, PNG_FILTER_NONE | PNG_FILTER_UP, Z_DEFAULT_STRATEGY, "level 2, none+up"},
        {false, 1, PNG_FILTER_SUB, Z_DEFAULT_STRATEGY, "level 1, sub"},
        {false, 1, PNG_FILTER_UP, Z_DEFAULT_STRATEGY, "level 1, up"},
        {false, 1, PNG_FILTER_PAETH, Z_DEFAULT_STRATEGY, "level 1, paeth"},
        {false, 1, PNG_FILTER_UP, Z_RLE, "level 1, up, rle"},
        {false, 1, PNG_FILTER_SUB, Z_RLE, "level 1, sub, rle"},
        {false, 1, PNG_FILTER_PAETH, Z_RLE, "level 1, paeth, rle"},
        {false, 3, PNG_FILTER_UP, Z_DEFAULT_STRATEGY, "level 3, up"},
        {false, 3, PNG_FILTER_UP, Z_RLE, "level 3, up, rle"},
        {false, 3, PNG_FILTER_PAETH, Z_DEFAULT_STRATEGY, "level 3, paeth"},
        {false, 6, PNG_FILTER_UP, Z_DEFAULT_STRATEGY, "level 6, up"},
        {false, 6, PNG_FILTER_PAETH, Z_DEFAULT_STRATEGY, "level 6, paeth"},
        {false, 9, PNG_FILTER_UP, Z_DEFAULT_STRATEGY, "level 9, up"},
        {true, 6, PNG_ALL_FILTERS, Z_DEFAULT_STRATEGY, "libspng defaults"},
        {true, 1, PNG_FILTER_UP, Z_RLE, "libspng level 1, up, rle"},
        {true, 1, PNG_FILTER_UP, Z_DEFAULT_STRATEGY, "libspng level 1, up"},
        {true, 3, PNG_FILTER_UP, Z_DEFAULT_STRATEGY, "libspng level 3, up"},
    };
    std::printf("%-42s %10s %12s\n", "encoder", "ms/page", "KiB/page");
    for (const PngConfig &config : configs) {
        QElapsedTimer timer;
        timer.start();
        qint64 bytes = 0;
        for (const QImage &image : images)
            bytes += config.spng ? encodeSpng(image, config) : encodeLibpng(image, config);
        std::printf("%-42s %10.1f %12.1f\n", config.name, double(timer.elapsed()) / pages,
                    double(bytes) / 1024 / pages);
    }
    // The engine's own encoder: a page held whole for libdeflate, or streamed
    // in pieces through zlib as a poster is, at the levels quality gives.
    const struct
    {
        int quality;
        qint64 wholeLimit;
        int threads;
        const char *name;
    } ours[] = {
        {100, PngEncoder::defaultWholeLimit, 1, "ours, libdeflate level 1 (-Q 100)"},
        {87, PngEncoder::defaultWholeLimit, 1, "ours, libdeflate level 2 (-Q 87)"},
        {75, PngEncoder::defaultWholeLimit, 1, "ours, libdeflate level 3 (-Q 75)"},
        {62, PngEncoder::defaultWholeLimit, 1, "ours, libdeflate level 4 (-Q 62)"},
        {38, PngEncoder::defaultWholeLimit, 1, "ours, libdeflate level 6 (-Q 38)"},
        {75, 0, 1, "ours, zlib level 3 in 1 MiB pieces"},
        {75, 0, 2, "ours, zlib level 3 in pieces, 2 threads"},
    };
    for (const auto &config : ours) {
        QElapsedTimer timer;
        timer.start();
        qint64 bytes = 0;
        for (const QImage &image : images) {
            QBuffer buffer;
            buffer.open(QIODevice::WriteOnly);
            PngEncoder encoder(config.wholeLimit);
            const EncodeSettings settings{image.width(), image.height(), double(dpi), config.quality, PixelMode::Color,
                                          {}, config.threads};
            if (encoder.begin(&buffer, settings) && encoder.writeRows(image.constBits(), image.bytesPerLine(), image.height())
                && encoder.finish())
                bytes += buffer.size();
        }
        std::printf("%-42s %10.1f %12.1f\n", config.name, double(timer.elapsed()) / pages,
                    double(bytes) / 1024 / pages);
    }
    return 0;
}

int bandSweep(const Poppler::Document *document, int dpi, int bands)
{
    const std::atomic<bool> stop{false};
    QTemporaryDir dir;
    int differing = 0;
    const int pages = pdfPageCount(document);
    for (int i = 0; i < pages; ++i) {
        PageJob job;
        job.pageIndex = i;
        job.format = ImageFormat::Bmp;
        job.resolution = dpi;
        job.outputPath = dir.filePath(QStringLiteral("whole.bmp"));
        job.bandBudget = qint64(1) << 40;
        const PageOutcome whole = convertPage(*popplerView(document), job, stop);
        const int rows = (whole.height + bands - 1) / bands;
        job.outputPath = dir.filePath(QStringLiteral("banded.bmp"));
        job.bandBudget = qint64(whole.width) * 4 * rows;
        convertPage(*popplerView(document), job, stop);
        const QImage a(dir.filePath(QStringLiteral("whole.bmp")));
        const QImage b(dir.filePath(QStringLiteral("banded.bmp")));
        if (a == b)
            continue;
        ++differing;
        QStringList rowsDiffering;
        for (int y = 0; y < a.height(); ++y) {
            if (std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(a.bytesPerLine())) != 0)
                rowsDiffering << QString::number(y);
        }
        std::printf("page %d (%d x %d, bands of %d rows): rows %s\n", i + 1, whole.width, whole.height, rows,
                    qPrintable(rowsDiffering.mid(0, 30).join(QLatin1Char(','))));
    }
    std::printf("%d of %d pages differ at %d dpi in %d bands\n", differing, pages, dpi, bands);
    return 0;
}

int convertAll(const Poppler::Document *document, int dpi, const QString &extension, const QString &folder)
{
    const std::atomic<bool> stop{false};
    QTemporaryDir dir;
    const QString out = folder.isEmpty() ? dir.path() : folder;
    const int pages = pdfPageCount(document);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < pages; ++i) {
        PageJob job;
        job.pageIndex = i;
        job.format = *imageFormatForExtension(extension);
        job.resolution = dpi;
        job.outputPath = out + QStringLiteral("/p%1.").arg(i + 1) + extension;
        const PageOutcome outcome = convertPage(*popplerView(document), job, stop);
        if (outcome.result != PageOutcome::Written) {
            std::fprintf(stderr, "page %d: %s\n", i + 1, qPrintable(outcome.detail));
            return 1;
        }
    }
    std::printf("%s %d dpi: %d pages in %lld ms, %.1f pages/s\n", qPrintable(extension), dpi, pages, timer.elapsed(),
                pages * 1000.0 / double(timer.elapsed()));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // The back-ends' modules beside the build tree's worker.
    if (qEnvironmentVariableIsEmpty("VELLORAN_WORKER"))
        qputenv("VELLORAN_WORKER", VELLORAN_WORKER_PATH);
    QGuiApplication app(argc, argv);
    QImageReader::setAllocationLimit(0);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: bench_engine png|bands <pdf> <dpi> <pages|bands>\n");
        return 2;
    }
    const PdfLoadResult loaded = loadPdf(args.at(1));
    if (loaded.status != PdfLoadStatus::Loaded) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(args.at(1)));
        return 1;
    }
    const int dpi = args.at(2).toInt();
    const int count = args.at(3).toInt();
    if (args.at(0) == QLatin1String("convert"))
        return convertAll(loaded.document.get(), dpi, args.at(3), args.value(4));
    if (args.at(0) == QLatin1String("png"))
        return pngSweep(loaded.document.get(), dpi, qMin(count, pdfPageCount(loaded.document.get())));
    return bandSweep(loaded.document.get(), dpi, count);
}
