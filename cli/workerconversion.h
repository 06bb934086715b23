#ifndef WORKERCONVERSION_H
#define WORKERCONVERSION_H

#include "cli/batchjob.h"
#include "runner/conversionsummary.h"
#include "runner/pagetask.h"

#include <atomic>
#include <functional>
#include <memory>

class MultipageJoin;
class PageRunner;

// Where the command line's worker processes may go and how many it runs.
struct WorkerLimits
{
    int jobs = 1;
    qint64 maxMemory = 0; // address space a worker may take; 0: none
};

// The worker processes of one velloran-cli run: they open the inputs while
// the batch is checked, then draw and write its pages. Nothing of a page is
// drawn in this process. Where the output folder is there already, the
// workers that checked the inputs go on to the pages, so that every core
// draws from the first page; a folder that the check is to make cannot be
// given to a worker before it exists, and new workers start once it does.
class BatchWorkers
{
public:
    // Called once per page that was written, failed or skipped (not for one
    // stopped midway), on the calling thread.
    using PageCallback = std::function<void(const QString &pdfPath, const PageOutcome &)>;

    BatchWorkers(const BatchOptions &options, const WorkerLimits &limits, const std::atomic<bool> &stop);
    ~BatchWorkers();

    // The run's checked plan (planBatch), its inputs opened by probe(). A
    // plan that writes nothing (refused, every input unusable, or stopped
    // while its inputs were opened) leaves no folder made for the opening.
    BatchPlan plan(const BatchOptions &options);

    // Opens every file in a worker to learn whether it is usable: a file that
    // crashes or hangs the renderer while it is opened is refused, and the run
    // goes on. In the order of paths. A DocumentProber. With infos, each file's
    // own account of itself (every page's boxes and rotation, read by Poppler's
    // parser) is read beside it by another worker, in the same order; a
    // status of Failed where it could not be.
    QList<DocumentProbe> probe(const QStringList &paths, const QByteArray &password, RendererKind renderer,
                               QList<PdfDocumentInfo> *infos = nullptr);

    // The plan's pages drawn and written by workers, as many at once as
    // limits.jobs: each to its own file; the one page of -o - onto this
    // process's standard output, which its worker is given; with --multipage
    // each page held whole, then a file's pages joined into it in page order.
    // Outputs already whole are skipped (--skip-existing). Each page's outcome
    // reaches onPage as it is known (a multi-page file's pages once the file
    // is), in the order they finish; a stop leaves the pages not finished
    // unreported. Returns the counts.
    ConversionSummary convert(const BatchPlan &plan, const PageCallback &onPage);

private:
    PageRunner &runnerFor(const QStringList &inputs, const QStringList &outputFolders);
    void joinFiles(const BatchPlan &plan, MultipageJoin &pages, PageRunner &runner,
                   const std::function<void(int file, const PageOutcome &)> &report);

    const WorkerLimits limits;
    const std::atomic<bool> &stop;
    PageTask sizeCheck; // the run's size, type and drawing, that the probes check each file's pages against
    QStringList knownFolders; // output folders that exist before the check
    QStringList madeFolders;  // made for the check, outermost first: removed again if the plan writes nothing
    int givenDescriptor = -1; // standard output, for -o -
    std::unique_ptr<PageRunner> runner;
    QStringList runnerInputs;
    QStringList runnerFolders;
};

#endif // WORKERCONVERSION_H
