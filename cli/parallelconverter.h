#ifndef PARALLELCONVERTER_H
#define PARALLELCONVERTER_H

#include "cli/batchjob.h"
#include "engine/memorybudget.h"
#include "engine/pageoutcome.h"
#include "engine/pagepipeline.h"
#include "runner/conversionsummary.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

// Converts the pages of a checked plan on several threads at once. Neither
// renderer may draw one document from two threads, so every thread opens its
// own copy of each file it takes pages from. Threads take the next page from a
// shared counter and convert it through the page pipeline; the bitmaps they
// hold together stay within one memory budget.
class RenderDocument;
class WorkerDocument;

class ParallelConverter
{
public:
    // Called once per page that was written, failed or skipped (not for one
    // stopped midway), from the worker threads but never two at a time.
    using PageCallback = std::function<void(const QString &pdfPath, const PageOutcome &)>;
    // Starts a thread running body and adds it to threads; false when the
    // system refuses one. Replaceable, so that a refusal can be tried.
    using ThreadStarter = std::function<bool(std::vector<std::thread> &threads, std::function<void()> body)>;
    static bool startThread(std::vector<std::thread> &threads, std::function<void()> body);

    struct Task
    {
        int fileIndex;
        int pageIndex; // wholeFile: every page of the file into one output
        QString redoneBecause; // its output was there, but not whole
    };
    static constexpr int wholeFile = -1;

    explicit ParallelConverter(const BatchPlan &plan);
    ~ParallelConverter();

    // The pages to convert, in order, and those left alone because their
    // outputs were whole already (--skip-existing).
    const QList<Task> &pendingTasks() const { return tasks; }
    void reportSkipped(const PageCallback &onPage);

    // Blocks until every page is done, or until stop is set: then the pages
    // in hand stop too, leaving no file, and no new one is started. The calling thread
    // converts pages too, so the run goes on with fewer threads, or none
    // besides it, when the system refuses to start them.
    ConversionSummary run(int jobs, const std::atomic<bool> &stop, const PageCallback &onPage);

    void setThreadStarter(ThreadStarter starter) { startThreadWith = std::move(starter); }

private:
    void work(const std::atomic<bool> &stop, const PageCallback &onPage);
    PageOutcome convertOne(const RenderDocument *document, const BatchFile &file, int pageIndex,
                           const std::atomic<bool> &stop, int bandThreads);
    void convertWholeFile(const RenderDocument *document, const BatchFile &file, const std::atomic<bool> &stop,
                          const PageCallback &onPage);
    PageJob jobFor(const RenderDocument *document, const BatchFile &file, int pageIndex);

    const BatchPlan plan;
    QList<Task> tasks;
    QList<Task> skippedTasks; // their outputs were there already
    std::atomic<int> nextTask{0};
    int jobsAsked = 1; // threads asked for, which may be more than pages
    MemoryBudget memory;
    ThreadStarter startThreadWith = startThread;
};

#endif // PARALLELCONVERTER_H
