#ifndef PAGEWORKER_H
#define PAGEWORKER_H

#include "cli/batchjob.h"

#include <QString>

// The worker side of velloran-cli's worker processes. A worker is started by
// the converter itself (WorkerPool) with the run's own options and a token;
// it builds the same checked plan, reads tasks from workerTaskFd and writes
// each page's outcome to workerOutcomeFd until its tasks end.
constexpr int workerTaskFd = 3;
constexpr int workerOutcomeFd = 4;

struct WorkerSettings
{
    QString token;          // in the names of its temporary files: .vl<token>...tmp
    int jobs = 1;           // workers in the run, which share the machine's memory
    qint64 maxMemory = 0;   // bytes of address space; 0: no ceiling
};

// Exit statuses of a worker beside 0 (its tasks ended).
enum WorkerExit {
    WorkerPlanFailed = 70,   // the plan was refused: the inputs changed since the converter checked them
    WorkerOutOfMemory = 71,  // an allocation failed under the memory ceiling
    WorkerPipeBroken = 72,   // the converter went away
};

int runWorker(const BatchPlan &plan, const WorkerSettings &settings);

#endif // PAGEWORKER_H
