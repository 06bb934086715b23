#include "cli/parallelconverter.h"

#include "cli/standardoutput.h"
#include "engine/atomicfile.h"
#include "engine/image/tiffencoder.h"
#include "engine/pagepipeline.h"
#include "engine/pixelsize.h"
#include "engine/render/pagerenderer.h"
#include "engine/render/pdfdocument.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Opening and closing documents touches Poppler's process-wide state (its
// global parameters are made with the first document and dropped with the
// last), so those steps are taken one thread at a time.
std::mutex documentLifetimeMutex;

// Poppler sets up a process-wide colour profile the first time any page is
// drawn, without a lock, so two threads drawing their first pages at once race
// on it. One pixel drawn before the threads start sets it up.
void preparePopplerForThreads(const QString &path, const QByteArray &password, int pageIndex)
{
    const std::lock_guard<std::mutex> lock(documentLifetimeMutex);
    const PdfLoadResult loaded = loadPdf(path, password);
    drawOnePixel(loaded.document.get(), pageIndex);
}

// The copy of one input file that a worker thread renders from.
class WorkerDocument
{
public:
    ~WorkerDocument() { close(); }

    // withoutPaper: drawn on nothing, so that what the page leaves blank stays transparent.
    const Poppler::Document *open(int fileIndex, const QString &path, const QByteArray &password, bool withoutPaper)
    {
        if (fileIndex == openIndex)
            return loaded.document.get();
        close();
        const std::lock_guard<std::mutex> lock(documentLifetimeMutex);
        loaded = loadPdf(path, password);
        if (loaded.document && withoutPaper)
            drawWithoutPaper(loaded.document.get());
        openIndex = fileIndex;
        return loaded.document.get();
    }

private:
    void close()
    {
        const std::lock_guard<std::mutex> lock(documentLifetimeMutex);
        loaded = PdfLoadResult();
        openIndex = -1;
    }

    PdfLoadResult loaded;
    int openIndex = -1;
};

} // namespace

ParallelConverter::ParallelConverter(const BatchPlan &plan)
    : plan(plan)
{
    // An output already there is a whole one (outputs appear only whole), so
    // a run started again after an interruption only does the rest.
    const auto done = [&plan](const BatchFile &file, int page) {
        return plan.style.skipExisting && QFileInfo::exists(plan.outputPath(file, page));
    };
    for (int f = 0; f < plan.files.size(); ++f) {
        const BatchFile &file = plan.files.at(f);
        if (plan.style.multipage) {
            (done(file, 0) ? skippedTasks : tasks).append(Task{f, wholeFile});
            continue;
        }
        for (int page : file.pages)
            (done(file, page) ? skippedTasks : tasks).append(Task{f, page});
    }
}

PageJob ParallelConverter::jobFor(const Poppler::Document *document, const BatchFile &file, int pageIndex)
{
    PageJob job;
    job.pageIndex = pageIndex;
    job.outputPath = plan.outputPath(file, pageIndex);
    job.format = imageFormatForExtension(plan.extension).value_or(ImageFormat::Jpeg); // checked by the plan
    job.resolution = plan.resolution;
    const OutputStyle &style = plan.style;
    if (style.sizedInPixels()) {
        const QSizeF points = PageRenderer(document, pageIndex).sizeInPoints();
        job.resolution = style.longestSide > 0 ? resolutionForLongestSide(points, style.longestSide)
                                               : resolutionToFit(points, style.width, style.height);
    }
    job.quality = plan.quality;
    job.mode = style.mode;
    job.encoder = style.encoder;
    job.timeLimitMs = style.timeLimitMs;
    job.memory = &memory;
    return job;
}

PageOutcome ParallelConverter::convertOne(const Poppler::Document *document, const BatchFile &file, int pageIndex,
                                          const std::atomic<bool> &stop)
{
    QElapsedTimer timer;
    timer.start();
    const PageJob job = jobFor(document, file, pageIndex);
    PageOutcome outcome = plan.toStandardOutput() ? convertPageToStandardOutput(document, job, stop)
                                                  : convertPage(document, job, stop);
    outcome.milliseconds = timer.elapsed();
    return outcome;
}

// Every page of the file into one TIFF, page by page, so that memory stays
// that of one page. The file appears whole once all its pages are in, or not
// at all: a page refused before drawing is left out and reported, but one that
// fails once its rows have begun leaves the file unusable, and a stop leaves
// no file either.
void ParallelConverter::convertWholeFile(const Poppler::Document *document, const BatchFile &file,
                                         const std::atomic<bool> &stop, const PageCallback &onPage)
{
    const QString path = plan.outputPath(file, 0);
    qint64 bytes = 0;
    for (int page : file.pages) {
        const PageJob job = jobFor(document, file, page);
        const PixelSize size = pixelSizeAt(PageRenderer(document, page).sizeInPoints(), job.resolution);
        bytes += TiffEncoder::pixelBytes(size.width, size.height, job.mode, job.encoder.tiffCompression);
    }
    AtomicFile out(path);
    TiffEncoder encoder;
    encoder.startMultiPage(int(file.pages.size()), TiffEncoder::needsBigTiff(bytes));
    QString fileError = out.open(true) ? QString() : out.errorString();

    QList<PageOutcome> outcomes;
    for (int page : file.pages) {
        QElapsedTimer timer;
        timer.start();
        PageOutcome outcome;
        outcome.page = page;
        outcome.outputPath = path;
        if (fileError.isEmpty()) {
            outcome = appendPage(document, jobFor(document, file, page), encoder, out.device(), stop);
            if (outcome.result == PageOutcome::Stopped)
                return; // the file goes with out
            const bool refusedBeforeDrawing = outcome.result == PageOutcome::NoPage
                                              || outcome.result == PageOutcome::TooLarge
                                              || outcome.result == PageOutcome::TooSmall;
            if (outcome.result != PageOutcome::Written && !refusedBeforeDrawing)
                fileError = QStringLiteral("the file was given up when page %1 failed").arg(page + 1);
        } else {
            outcome.result = PageOutcome::WriteFailed;
            outcome.detail = fileError;
        }
        outcome.milliseconds = timer.elapsed();
        outcomes.append(outcome);
    }
    const bool anyWritten = std::any_of(outcomes.cbegin(), outcomes.cend(), [](const PageOutcome &outcome) {
        return outcome.result == PageOutcome::Written;
    });
    if (anyWritten && fileError.isEmpty() && !encoder.close())
        fileError = encoder.errorString();
    if (anyWritten && fileError.isEmpty() && !out.commit())
        fileError = out.errorString();
    for (PageOutcome &outcome : outcomes) {
        if (outcome.result == PageOutcome::Written && !fileError.isEmpty()) {
            outcome.result = PageOutcome::WriteFailed;
            outcome.detail = fileError;
        }
        onPage(file.path, outcome);
    }
}

void ParallelConverter::reportSkipped(const PageCallback &onPage)
{
    for (const Task &task : std::as_const(skippedTasks)) {
        const BatchFile &file = plan.files.at(task.fileIndex);
        const QList<int> pages = task.pageIndex == wholeFile ? file.pages : QList<int>{task.pageIndex};
        for (int page : pages) {
            PageOutcome outcome;
            outcome.page = page;
            outcome.outputPath = plan.outputPath(file, page);
            outcome.result = PageOutcome::Skipped;
            onPage(file.path, outcome);
        }
    }
}

ConversionSummary ParallelConverter::run(int jobs, const std::atomic<bool> &stop, const PageCallback &onPage)
{
    ConversionSummary summary;
    std::mutex reportMutex;
    const PageCallback report = [&](const QString &pdfPath, const PageOutcome &outcome) {
        if (outcome.result == PageOutcome::Stopped)
            return; // counted with the pages never started
        const std::lock_guard<std::mutex> lock(reportMutex);
        if (outcome.result == PageOutcome::Skipped)
            ++summary.skipped;
        else
            ++(outcome.result == PageOutcome::Written ? summary.written : summary.failed);
        if (onPage)
            onPage(pdfPath, outcome);
    };

    nextTask = 0;
    reportSkipped(report);
    if (!tasks.isEmpty()) {
        const Task &first = tasks.first();
        const BatchFile &file = plan.files.at(first.fileIndex);
        preparePopplerForThreads(file.path, plan.password, first.pageIndex == wholeFile ? file.pages.first() : first.pageIndex);
    }
    const int threadCount = qBound(1, jobs, qMax(1, int(tasks.size())));
    std::vector<std::thread> threads;
    threads.reserve(size_t(threadCount));
    for (int i = 1; i < threadCount; ++i) {
        if (!startThreadWith(threads, [&] { work(stop, report); })) {
            summary.threadsRefused = threadCount - i;
            break;
        }
    }
    work(stop, report);
    for (std::thread &thread : threads)
        thread.join();

    summary.notStarted = plan.pageCount() - summary.written - summary.failed - summary.skipped;
    return summary;
}

bool ParallelConverter::startThread(std::vector<std::thread> &threads, std::function<void()> body)
{
    // std::thread reports a refusal (no memory for a stack, a process limit)
    // only by throwing; left alone that ends the process mid-run.
    try {
        threads.emplace_back(std::move(body));
        return true;
    } catch (const std::system_error &) {
        return false;
    }
}

void ParallelConverter::work(const std::atomic<bool> &stop, const PageCallback &onPage)
{
    WorkerDocument document;
    while (!stop.load(std::memory_order_relaxed)) {
        const int index = nextTask.fetch_add(1);
        if (index >= tasks.size())
            return;
        const Task &task = tasks.at(index);
        const BatchFile &file = plan.files.at(task.fileIndex);
        const bool withoutPaper = plan.style.mode == PixelMode::ColorAlpha;
        const Poppler::Document *opened = document.open(task.fileIndex, file.path, plan.password, withoutPaper);
        if (opened && task.pageIndex == wholeFile) {
            convertWholeFile(opened, file, stop, onPage);
            continue;
        }
        PageOutcome outcome;
        if (opened) {
            outcome = convertOne(opened, file, task.pageIndex, stop);
        } else {
            outcome.page = task.pageIndex;
            outcome.result = PageOutcome::RenderFailed;
            outcome.detail = QStringLiteral("the file could not be opened again");
        }
        onPage(file.path, outcome);
    }
}
