// Converts every page of a PDF with the conversion worker and prints what it took.
//   bench_worker make <pdf> <pages>
//   bench_worker run <pdf> <output folder> <extension> <dpi> [quality]
#include "benchpdf.h"
#include "conversion/process.h"
#include "engine/render/pdfdocument.h"

#include <poppler-qt6.h>

#include <QElapsedTimer>
#include <QGuiApplication>

#include <sys/resource.h>

#include <cstdio>

namespace {

rusage usageNow(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage;
}

double cpuMs(const rusage &u)
{
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

int run(const QStringList &args)
{
    const QString pdf = args.at(0);
    PdfLoadResult loaded = loadPdf(pdf);
    if (loaded.status != PdfLoadStatus::Loaded) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(pdf));
        return 1;
    }
    // Idle as the window is idle: document open, first page in the preview
    // (at 72 dpi, or for a poster at the preview label's size).
    const QSize sizeAt72Dpi = pagePixelSize(loaded.document.get(), 0, 72);
    renderPage(loaded.document.get(), 0, previewResolution(sizeAt72Dpi, QSize(258, 278)));

    Process process;
    process.pdfDoc = loaded.document.get();
    process.qsPdfFile = pdf;
    process.qsOutputDir = args.at(1);
    process.qsExtension = args.at(2);
    process.resolution = args.at(3).toInt();
    if (args.size() > 4)
        process.quality = args.at(4).toInt();
    const int pages = pdfPageCount(loaded.document.get());
    for (int i = 0; i < pages; ++i)
        process.pageList.append(i);

    QString last;
    QObject::connect(&process, &Process::LogStatusBar, &process,
                     [&last](const QString &msg) { last = msg; }, Qt::DirectConnection);
    const rusage before = usageNow();
    const rusage workersBefore = usageNow(RUSAGE_CHILDREN);
    QElapsedTimer timer;
    timer.start();
    process.start();
    process.wait();
    const qint64 ms = timer.elapsed();
    const rusage after = usageNow();
    const rusage workersAfter = usageNow(RUSAGE_CHILDREN); // the pages are drawn in worker processes
    if (last != QLatin1String("All converted")) {
        std::fprintf(stderr, "run failed: %s\n", qPrintable(last));
        return 1;
    }

    // The worker rests 15 ms after every page but the last; that is not work.
    const double workMs = double(ms) - 15.0 * (pages - 1);
    const QSize size = pagePixelSize(loaded.document.get(), 0, process.resolution);
    std::printf("pages=%d ms=%lld work_ms=%.0f cpu_ms=%.0f idle_kib=%ld peak_kib=%ld worker_peak_kib=%ld "
                "page_image_kib=%lld\n",
                pages, ms, workMs, cpuMs(after) - cpuMs(before) + cpuMs(workersAfter) - cpuMs(workersBefore),
                before.ru_maxrss, after.ru_maxrss, workersAfter.ru_maxrss,
                qint64(size.width()) * size.height() * 4 / 1024);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    // The worker of this build tree, unless told otherwise.
    if (qEnvironmentVariableIsEmpty("VELLORAN_WORKER"))
        qputenv("VELLORAN_WORKER", VELLORAN_WORKER_PATH);
    QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0);
    args.removeFirst();
    if (mode == QLatin1String("make") && args.size() == 2)
        return makeBenchPdf(args.at(0), args.at(1).toInt()) ? 0 : 1;
    if (mode == QLatin1String("run") && args.size() >= 4)
        return run(args);
    std::fprintf(stderr, "usage: bench_worker make <pdf> <pages>\n"
                         "       bench_worker run <pdf> <folder> <extension> <dpi> [quality]\n");
    return 2;
}
