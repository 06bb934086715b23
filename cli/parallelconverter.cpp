#include "cli/parallelconverter.h"

#include "cli/standardoutput.h"
#include "cli/workerconversion.h"
#include "runner/worker/taskexecutor.h"
#include "engine/atomicfile.h"
#include "engine/image/imagecheck.h"
#include "engine/image/tiffencoder.h"
#include "engine/nativepath.h"
#include "engine/pagepipeline.h"
#include "engine/pixelsize.h"
#include "engine/parallelbands.h"
#include "engine/render/renderer.h"
#include "engine/render/sharedopening.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

// The copy of one input file that a thread renders from.
class WorkerDocument
{
public:
    ~WorkerDocument() { closeShared(loaded); }

    const RenderDocument *open(RendererKind renderer, int fileIndex, const QString &path, const QByteArray &password,
                               const RenderOptions &options)
    {
        if (fileIndex == openIndex)
            return loaded.document.get();
        closeShared(loaded);
        loaded = openShared(renderer, path, password, options);
        openIndex = fileIndex;
        return loaded.document.get();
    }

private:
    RenderOpenResult loaded;
    int openIndex = -1;
};

ParallelConverter::ParallelConverter(const BatchPlan &plan)
    : plan(plan)
    , memory(MemoryBudget::defaultTotal() - rendererCacheBytes(plan.renderer))
{
    // With --skip-existing, an output already there counts as done when it is
    // a whole image of the type asked for; one left empty or cut short (a
    // power cut, a copy that failed) or of another kind is made again.
    const ImageFormat format = imageFormatForExtension(plan.extension).value_or(ImageFormat::Jpeg);
    const auto addTask = [&](int f, const BatchFile &file, int page) {
        Task task{f, page, QString()};
        const QString path = plan.outputPath(file, page == wholeFile ? 0 : page);
        if (plan.style.skipExisting && nativeExists(path)) {
            task.redoneBecause = whyNotWholeImage(path, format);
            if (task.redoneBecause.isEmpty()) {
                skippedTasks.append(task);
                return;
            }
        }
        tasks.append(task);
    };
    for (int f = 0; f < plan.files.size(); ++f) {
        const BatchFile &file = plan.files.at(f);
        if (plan.style.multipage) {
            addTask(f, file, wholeFile);
            continue;
        }
        for (int page : file.pages)
            addTask(f, file, page);
    }
}

ParallelConverter::~ParallelConverter() = default;

PageJob ParallelConverter::jobFor(const RenderDocument *document, const BatchFile &file, int pageIndex)
{
    // The same job a worker process makes of the page's task.
    const int fileIndex = int(&file - plan.files.constData());
    PageJob job = pageJobFor(pageTaskFor(plan, fileIndex, pageIndex), *document);
    job.memory = &memory;
    return job;
}

PageOutcome ParallelConverter::convertOne(const RenderDocument *document, const BatchFile &file, int pageIndex,
                                          const std::atomic<bool> &stop, int bandThreads)
{
    QElapsedTimer timer;
    timer.start();
    PageJob job = jobFor(document, file, pageIndex);
    job.bandThreads = bandThreads;
    job.openCopy = [this, &file] {
        return openBandCopy(file.renderer, file.path, plan.password, plan.style.renderOptions());
    };
    PageOutcome outcome = plan.toStandardOutput() ? convertPageToStandardOutput(*document, job, stop)
                                                  : convertPage(*document, job, stop);
    outcome.milliseconds = timer.elapsed();
    return outcome;
}

// Every page of the file into one TIFF, page by page, so that memory stays
// that of one page. The file appears whole once all its pages are in, or not
// at all: a page refused before drawing is left out and reported, but one that
// fails once its rows have begun leaves the file unusable, and a stop leaves
// no file either.
void ParallelConverter::convertWholeFile(const RenderDocument *document, const BatchFile &file,
                                         const std::atomic<bool> &stop, const PageCallback &onPage)
{
    const QString path = plan.outputPath(file, 0);
    qint64 bytes = 0;
    for (int page : file.pages) {
        const PageJob job = jobFor(document, file, page);
        const PixelSize size = pixelSizeAt(document->page(page)->sizeInPoints(), job.resolution);
        bytes += TiffEncoder::pixelBytes(size.width, size.height, job.mode, job.encoder.tiffCompression);
    }
    AtomicFile out(path);
    out.setSynced(plan.style.skipExisting);
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
            outcome = appendPage(*document, jobFor(document, file, page), encoder, out.device(), stop);
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
        const std::lock_guard<std::mutex> lock(reportMutex);
        if (summary.count(outcome) && onPage)
            onPage(pdfPath, outcome);
    };

    nextTask = 0;
    reportSkipped(report);
    if (!tasks.isEmpty() && plan.files.at(tasks.first().fileIndex).renderer == RendererKind::Poppler) {
        const Task &first = tasks.first();
        const BatchFile &file = plan.files.at(first.fileIndex);
        prepareForThreads(file.renderer, file.path, plan.password,
                          first.pageIndex == wholeFile ? file.pages.first() : first.pageIndex, stop,
                          plan.style.timeLimitMs);
    }
    jobsAsked = qMax(1, jobs);
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

    summary.finish(plan.pageCount());
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
        const RenderDocument *opened = document.open(file.renderer, task.fileIndex, file.path, plan.password,
                                                     plan.style.renderOptions());
        if (opened && task.pageIndex == wholeFile) {
            convertWholeFile(opened, file, stop, [&](const QString &pdfPath, const PageOutcome &outcome) {
                PageOutcome noted = outcome;
                noted.redoneBecause = task.redoneBecause;
                noted.renderer = rendererName(file.renderer);
                onPage(pdfPath, noted);
            });
            continue;
        }
        PageOutcome outcome;
        if (opened) {
            // Fewer pages left than threads: the threads without a page of
            // their own draw bands of the last ones.
            outcome = convertOne(opened, file, task.pageIndex, stop,
                                 bandThreadShare(jobsAsked, int(tasks.size()) - index));
        } else {
            outcome.page = task.pageIndex;
            outcome.result = PageOutcome::RenderFailed;
            outcome.detail = QStringLiteral("the file could not be opened again");
        }
        outcome.redoneBecause = task.redoneBecause;
        outcome.renderer = rendererName(file.renderer);
        onPage(file.path, outcome);
    }
}
