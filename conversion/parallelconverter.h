#ifndef PARALLELCONVERTER_H
#define PARALLELCONVERTER_H

#include "conversion/batchjob.h"

#include <QString>

#include <atomic>
#include <functional>

// What became of one page.
struct PageOutcome
{
    QString pdfPath;
    int pageIndex = 0;
    QString outputPath;
    bool written = false;
    QString error; // why the page was not written
};

struct ConversionSummary
{
    int written = 0;
    int failed = 0;
    int notStarted = 0; // left when the run was stopped
};

// Converts the pages of a checked plan on several threads at once. Poppler
// may not render one document from two threads, so every thread opens its own
// copy of each file it takes pages from. Threads take the next page from a
// shared counter; a thread holds one page image at a time.
class ParallelConverter
{
public:
    // Called once per page, from the worker threads but never two at a time.
    using PageCallback = std::function<void(const PageOutcome &)>;

    explicit ParallelConverter(const BatchPlan &plan);

    // Blocks until every page is done, or until stop is set: then the pages
    // in hand are finished and no new one is started.
    ConversionSummary run(int jobs, const std::atomic<bool> &stop, const PageCallback &onPage);

private:
    struct Task
    {
        int fileIndex;
        int pageIndex;
    };

    void work(const std::atomic<bool> &stop, const PageCallback &onPage);

    const BatchPlan plan;
    QList<Task> tasks;
    std::atomic<int> nextTask{0};
};

#endif // PARALLELCONVERTER_H
