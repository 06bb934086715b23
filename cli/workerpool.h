#ifndef WORKERPOOL_H
#define WORKERPOOL_H

#include "cli/parallelconverter.h"

#include <QString>
#include <QStringList>

#include <atomic>

// Converts a plan's pages in worker processes: the converter's own executable
// started again (posix_spawn) with the run's options and --worker, each
// drawing one page at a time. A worker that crashes costs its page, one that
// passes the page time limit (plus a grace) is killed and its page counted as
// timed out; either way its temporary file is removed and a new worker takes
// the next page. Reports reach onPage in the order pages finish, on the
// calling thread.
class WorkerPool
{
public:
    // program and arguments: what starts one worker (the arguments after the
    // program's name, --worker and its token added per worker).
    WorkerPool(const BatchPlan &plan, QString program, QStringList arguments);

    ConversionSummary run(ParallelConverter &planned, int jobs, const std::atomic<bool> &stop,
                          const ParallelConverter::PageCallback &onPage);

    // How long past --page-timeout a worker is given before it is killed:
    // the worker gives the page up itself where the renderer lets it.
    static constexpr qint64 graceMs = 1000;
    // How long stopped workers may take to give up their pages before they are killed.
    static constexpr qint64 stopGraceMs = 250;
    // A document that crashed this many workers has its other pages failed untried.
    static constexpr int crashesPerDocument = 3;

private:
    const BatchPlan &plan;
    const QString program;
    const QStringList arguments;
};

#endif // WORKERPOOL_H
