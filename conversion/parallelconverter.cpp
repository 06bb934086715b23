#include "conversion/parallelconverter.h"

#include "conversion/imagesaver.h"
#include "conversion/outputname.h"
#include "document/pdfdocument.h"

#include <poppler-qt6.h>

#include <QDir>

#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Opening and closing documents touches Poppler's process-wide state (its
// global parameters are made with the first document and dropped with the
// last), so those steps are taken one thread at a time.
std::mutex documentLifetimeMutex;

QString renderError(const PageRenderResult &result, int resolution)
{
    switch (result.status) {
    case PageRenderStatus::NoPage:
        return QStringLiteral("no such page");
    case PageRenderStatus::TooLarge:
        return QStringLiteral("page too large to render at %1 dpi (%2 x %3 pixels)")
            .arg(resolution)
            .arg(result.expectedSize.width())
            .arg(result.expectedSize.height());
    case PageRenderStatus::TooSmall:
        return QStringLiteral("page smaller than one pixel at %1 dpi").arg(resolution);
    case PageRenderStatus::Failed:
    case PageRenderStatus::Rendered:
        break;
    }
    return QStringLiteral("the page could not be rendered");
}

// Poppler sets up a process-wide colour profile the first time any page is
// drawn, without a lock, so two threads drawing their first pages at once race
// on it. One pixel drawn before the threads start sets it up.
void preparePopplerForThreads(const QString &path, const QByteArray &password, int pageIndex)
{
    const std::lock_guard<std::mutex> lock(documentLifetimeMutex);
    const PdfLoadResult loaded = loadPdf(path, password);
    drawOnePixel(loaded.document.get(), pageIndex);
}

PageOutcome convertPage(const Poppler::Document *document, const BatchPlan &plan, const QString &pdfPath,
                        int pageIndex)
{
    PageOutcome outcome;
    outcome.pdfPath = pdfPath;
    outcome.pageIndex = pageIndex;
    outcome.outputPath = outputFilePath(QDir(plan.outputDir), outputFileName(pdfPath, pageIndex, plan.extension));
    if (!document) {
        outcome.error = QStringLiteral("the file could not be opened again");
        return outcome;
    }
    const PageRenderResult rendered = renderPage(document, pageIndex, plan.resolution);
    if (rendered.status != PageRenderStatus::Rendered) {
        outcome.error = renderError(rendered, plan.resolution);
        return outcome;
    }
    QString saveError;
    outcome.written = saveImageAtomicallyUnsynced(rendered.image, outcome.outputPath, plan.quality, &saveError);
    if (!outcome.written)
        outcome.error = QStringLiteral("cannot write %1: %2").arg(outcome.outputPath, saveError);
    return outcome;
}

// The copy of one input file that a worker thread renders from.
class WorkerDocument
{
public:
    ~WorkerDocument() { close(); }

    const Poppler::Document *open(int fileIndex, const QString &path, const QByteArray &password)
    {
        if (fileIndex == openIndex)
            return loaded.document.get();
        close();
        const std::lock_guard<std::mutex> lock(documentLifetimeMutex);
        loaded = loadPdf(path, password);
        openIndex = fileIndex;
        return loaded.document.get();
    }

private:
    void close()
    {
        const std::lock_guard<std::mutex> lock(documentLifetimeMutex);
        loaded.document.reset();
        openIndex = -1;
    }

    PdfLoadResult loaded;
    int openIndex = -1;
};

} // namespace

ParallelConverter::ParallelConverter(const BatchPlan &plan)
    : plan(plan)
{
    for (int f = 0; f < plan.files.size(); ++f) {
        for (int page : plan.files.at(f).pages)
            tasks.append(Task{f, page});
    }
}

ConversionSummary ParallelConverter::run(int jobs, const std::atomic<bool> &stop, const PageCallback &onPage)
{
    ConversionSummary summary;
    std::mutex reportMutex;
    const PageCallback report = [&](const PageOutcome &outcome) {
        const std::lock_guard<std::mutex> lock(reportMutex);
        ++(outcome.written ? summary.written : summary.failed);
        if (onPage)
            onPage(outcome);
    };

    nextTask = 0;
    if (!tasks.isEmpty()) {
        const Task &first = tasks.first();
        preparePopplerForThreads(plan.files.at(first.fileIndex).path, plan.password, first.pageIndex);
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

    summary.notStarted = int(tasks.size()) - summary.written - summary.failed;
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
        onPage(convertPage(document.open(task.fileIndex, file.path, plan.password), plan, file.path,
                           task.pageIndex));
    }
}
