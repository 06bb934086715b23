#ifndef WORKERCONVERSION_H
#define WORKERCONVERSION_H

#include "cli/batchjob.h"
#include "cli/parallelconverter.h"
#include "runner/pagetask.h"

#include <atomic>

// Where the command line's worker processes may go and how many it runs.
struct WorkerLimits
{
    int jobs = 1;
    qint64 maxMemory = 0; // address space a worker may take; 0: none
};

// Opens every file in worker processes to learn whether it is usable: a file
// that crashes or hangs the renderer while it is opened is refused, and the
// run goes on. In the order of paths.
QList<DocumentProbe> probeInWorkers(const QStringList &paths, const QByteArray &password, RendererKind renderer,
                                    const WorkerLimits &limits, const std::atomic<bool> &stop);

// The plan's pages drawn and written in worker processes, as many at once as
// limits.jobs; reports reach onPage in the order pages finish, on the calling thread.
ConversionSummary convertInWorkers(const BatchPlan &plan, const WorkerLimits &limits, const std::atomic<bool> &stop,
                                   const ParallelConverter::PageCallback &onPage);

// Everything a worker needs to draw and write one page of the plan.
PageTask pageTaskFor(const BatchPlan &plan, int fileIndex, int pageIndex);

#endif // WORKERCONVERSION_H
