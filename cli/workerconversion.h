#ifndef WORKERCONVERSION_H
#define WORKERCONVERSION_H

#include "cli/batchjob.h"
#include "cli/parallelconverter.h"
#include "runner/pagetask.h"

#include <atomic>
#include <memory>

class PageRunner;

// Where the command line's worker processes may go and how many it runs.
struct WorkerLimits
{
    int jobs = 1;
    qint64 maxMemory = 0; // address space a worker may take; 0: none
};

// The worker processes of one velloran-cli run: they open the inputs while
// the batch is checked, then draw and write its pages. Where the output folder
// is there already, the workers that checked the inputs go on to the pages, so
// that every core draws from the first page; a folder that the check is to
// make cannot be given to a worker before it exists, and new workers start
// once it does.
class BatchWorkers
{
public:
    BatchWorkers(const BatchOptions &options, const WorkerLimits &limits, const std::atomic<bool> &stop);
    ~BatchWorkers();

    // Opens every file in a worker to learn whether it is usable: a file that
    // crashes or hangs the renderer while it is opened is refused, and the run
    // goes on. In the order of paths. A DocumentProber.
    QList<DocumentProbe> probe(const QStringList &paths, const QByteArray &password, RendererKind renderer);

    // The plan's pages drawn and written, as many at once as limits.jobs;
    // reports reach onPage in the order pages finish, on the calling thread.
    ConversionSummary convert(const BatchPlan &plan, const ParallelConverter::PageCallback &onPage);

private:
    PageRunner &runnerFor(const QStringList &inputs, const QStringList &outputFolders);

    const WorkerLimits limits;
    const std::atomic<bool> &stop;
    PageTask sizeCheck; // the run's size, type and drawing, that the probes check each file's pages against
    QStringList knownFolders; // output folders that exist before the check
    std::unique_ptr<PageRunner> runner;
    QStringList runnerInputs;
    QStringList runnerFolders;
};

// Everything a worker needs to draw and write one page of the plan.
PageTask pageTaskFor(const BatchPlan &plan, int fileIndex, int pageIndex);

#endif // WORKERCONVERSION_H
