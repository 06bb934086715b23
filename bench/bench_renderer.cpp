// The floor under a conversion: the renderer's drawing and the encoder's
// writing of the same pages, each measured alone in CPU seconds, on one thread.
//   bench_renderer split <pdf> <dpi> <jpg|png|tiff|bmp> [mupdf|poppler]
// prints "pages draw_s encode_s". bench_cli.sh sets their sum beside the CPU
// time of a whole velloran-cli run.
#include "engine/image/imageformat.h"
#include "engine/image/pixelconvert.h"
#include "engine/image/rowencoder.h"
#include "engine/pixelsize.h"
#include "engine/render/renderdocument.h"

#include <QBuffer>
#include <QCoreApplication>

#include <cstdio>
#include <ctime>

namespace {

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The back-ends' modules beside the build tree's worker.
    if (qEnvironmentVariableIsEmpty("VELLORAN_WORKER"))
        qputenv("VELLORAN_WORKER", VELLORAN_WORKER_PATH);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 4 || args.at(0) != QLatin1String("split")) {
        std::fprintf(stderr, "usage: bench_renderer split <pdf> <dpi> <jpg|png|tiff|bmp> [mupdf|poppler]\n");
        return 2;
    }
    const RendererKind kind = rendererForName(args.value(4)).value_or(defaultRenderer());
    const std::optional<ImageFormat> format = imageFormatForExtension(args.at(3));
    const double dpi = args.at(2).toDouble();
    const RenderOpenResult opened = openForRendering(kind, args.at(1), QByteArray());
    if (!opened.document || !format) {
        std::fprintf(stderr, "cannot open %s, or unknown type\n", qPrintable(args.at(1)));
        return 1;
    }
    const std::atomic<bool> notStopped{false};
    double drawing = 0;
    double encoding = 0;
    for (int i = 0; i < opened.document->pageCount(); ++i) {
        const std::unique_ptr<RenderPage> page = opened.document->page(i);
        const PixelSize size = pixelSizeAt(page->sizeInPoints(), dpi);
        const std::unique_ptr<RowEncoder> encoder = makeEncoder(*format);
        double start = cpuSeconds();
        // Drawn in the layout the encoder takes, as a run draws it.
        const PixelImage image = page->render(dpi, QRect(0, 0, size.width, size.height), notStopped,
                                          QDeadlineTimer(QDeadlineTimer::Forever),
                                          imageFormatFor(encoder->layoutFor(PixelMode::Color)));
        drawing += cpuSeconds() - start;
        if (image.isNull())
            return 1;
        start = cpuSeconds();
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        EncodeSettings settings{size.width, size.height, dpi, 75, PixelMode::Color, {}, 1};
        settings.layout = layoutOf(image.format());
        if (!encoder->begin(&buffer, settings) || !encoder->writeRows(image.constBits(), image.bytesPerLine(), size.height)
            || !encoder->finish())
            return 1;
        encoding += cpuSeconds() - start;
    }
    std::printf("%d %.3f %.3f\n", opened.document->pageCount(), drawing, encoding);
    return 0;
}
