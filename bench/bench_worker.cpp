// Converts every page of a PDF with the conversion worker and prints what it took.
//   bench_worker make <pdf> <pages>
//   bench_worker run <pdf> <output folder> <extension> <dpi> [quality]
//   bench_worker abort <pdf> <output folder> <dpi>
//     converts page 1 as PNG, aborts once its first band is on disk (or after
//     a second) and prints how long the run took to end after the abort
//   bench_worker preview <pdf>
//     draws every page's preview in this process and in the preview's worker,
//     taking turns, and prints the median of each
#include "document/opendocument.h"
#include "benchpdf.h"
#include "conversion/process.h"
#include "document/previewdrawer.h"
#include "engine/render/pdfdocument.h"

#include <poppler-qt6.h>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>


// What the window hands its worker thread along with the path; the thread
// draws from the path alone.
static const OpenDocument openedDocument;
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
    process.pdfDoc = &openedDocument; // the window's, as it would be
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

    // The run as the window's user waits for it, the pauses between reported
    // pages included: they pass while the workers draw the next pages.
    const double workMs = double(ms);
    const QSize size = pagePixelSize(loaded.document.get(), 0, process.resolution);
    std::printf("pages=%d ms=%lld work_ms=%.0f cpu_ms=%.0f idle_kib=%ld peak_kib=%ld worker_peak_kib=%ld "
                "page_image_kib=%lld\n",
                pages, ms, workMs, cpuMs(after) - cpuMs(before) + cpuMs(workersAfter) - cpuMs(workersBefore),
                before.ru_maxrss, after.ru_maxrss, workersAfter.ru_maxrss,
                qint64(size.width()) * size.height() * 4 / 1024);
    return 0;
}

int abortRun(const QStringList &args)
{
    Process process;
    process.qsPdfFile = args.at(0);
    process.qsOutputDir = args.at(1);
    process.qsExtension = QStringLiteral("png");
    process.resolution = args.at(2).toInt();
    process.pageList = {0};
    QDir().mkpath(process.qsOutputDir);
    process.start();
    QElapsedTimer started;
    started.start();
    const QDir out(process.qsOutputDir);
    while (started.elapsed() < 1000 && out.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        QThread::msleep(2);
    QElapsedTimer sinceAbort;
    sinceAbort.start();
    process.canceled.store(true);
    process.wait();
    std::printf("abort_ms=%lld files_left=%lld\n", sinceAbort.elapsed(),
                qint64(out.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size()));
    return 0;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

int previews(const QStringList &args)
{
    const QString pdf = args.at(0);
    PdfLoadResult loaded = loadPdf(pdf);
    if (loaded.status != PdfLoadStatus::Loaded)
        return 1;
    const QSize area(261, 281); // the preview label's fit area
    PreviewDrawer drawer;
    quint64 id = 0;
    QList<double> inProcess, inWorker;
    const int pages = pdfPageCount(loaded.document.get());
    for (int round = 0; round < 3; ++round) {
        for (int page = 0; page < pages; ++page) {
            QElapsedTimer timer;
            timer.start();
            const QSize size = pagePixelSize(loaded.document.get(), page, 72);
            const PageRenderResult here = renderPage(loaded.document.get(), page, previewResolution(size, area));
            inProcess << timer.nsecsElapsed() / 1e6;

            timer.start();
            QEventLoop wait;
            QImage drawn;
            const quint64 asked = ++id;
            QObject::connect(&drawer, &PreviewDrawer::drawn, &wait, [&](quint64 got, const TaskResult &result) {
                if (got == asked) {
                    drawn = result.image;
                    wait.quit();
                }
            });
            drawer.request(asked, pdf, page, area);
            wait.exec();
            if (round > 0 || page > 0) // the first pays the worker's start
                inWorker << timer.nsecsElapsed() / 1e6;
            if (drawn != here.image) {
                std::fprintf(stderr, "page %d: the worker's preview differs\n", page + 1);
                return 1;
            }
        }
    }
    std::printf("pages=%d in_process_ms=%.2f in_worker_ms=%.2f extra_ms=%.2f\n", pages, median(inProcess),
                median(inWorker), median(inWorker) - median(inProcess));
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
    if (mode == QLatin1String("abort") && args.size() == 3)
        return abortRun(args);
    if (mode == QLatin1String("preview") && args.size() == 1)
        return previews(args);
    std::fprintf(stderr, "usage: bench_worker make <pdf> <pages>\n"
                         "       bench_worker run <pdf> <folder> <extension> <dpi> [quality]\n"
                         "       bench_worker abort <pdf> <folder> <dpi>\n"
                         "       bench_worker preview <pdf>\n");
    return 2;
}
