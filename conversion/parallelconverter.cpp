#include "conversion/parallelconverter.h"

#include "engine/outputname.h"
#include "engine/pagepipeline.h"
#include "engine/pdfdocument.h"

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

// Poppler sets up a process-wide colour profile the first time any page is
// drawn, without a lock, so two threads drawing their first pages at once race
// on it. One pixel drawn before the threads start sets it up.
void preparePopplerForThreads(const QString &path, const QByteArray &password, int pageIndex)
{
    const std::lock_guard<std::mutex> lock(documentLifetimeMutex);
    const PdfLoadResult loaded = loadPdf(path, password);
    drawOnePixel(loaded.document.get(), pageIndex);
}

PageOutcome convertBatchPage(const Poppler::Document *document, const BatchPlan &plan, const QString &pdfPath,
                             int pageIndex, MemoryBudget &memory, const std::atomic<bool> &stop)
{
    PageJob job;
    job.pageIndex = pageIndex;
    job.outputPath = outputFilePath(QDir(plan.outputDir), outputFileName(pdfPath, pageIndex, plan.extension));
    job.format = imageFormatForExtension(plan.extension).value_or(ImageFormat::Jpeg); // checked by the plan
    job.resolution = plan.resolution;
    job.quality = plan.quality;
    job.memory = &memory;
    return convertPage(document, job, stop);
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
    const PageCallback report = [&](const QString &pdfPath, const PageOutcome &outcome) {
        if (outcome.result == PageOutcome::Stopped)
            return; // counted with the pages never started
        const std::lock_guard<std::mutex> lock(reportMutex);
        ++(outcome.result == PageOutcome::Written ? summary.written : summary.failed);
        if (onPage)
            onPage(pdfPath, outcome);
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
        const Poppler::Document *opened = document.open(task.fileIndex, file.path, plan.password);
        PageOutcome outcome;
        if (opened) {
            outcome = convertBatchPage(opened, plan, file.path, task.pageIndex, memory, stop);
        } else {
            outcome.page = task.pageIndex;
            outcome.result = PageOutcome::RenderFailed;
            outcome.detail = QStringLiteral("the file could not be opened again");
        }
        onPage(file.path, outcome);
    }
}
