#ifndef PAGERUNNER_H
#define PAGERUNNER_H

#include "runner/pagetask.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class Worker;

// Where the runner's workers may go and how many it keeps.
struct RunnerSettings
{
    QString program;        // the worker executable (workerProgram())
    int workers = 1;        // at most this many tasks at once
    // The memory a worker may hold (resident, measured each time the
    // runner looks, every 50 ms at most); one past it is killed and its page
    // fails "over the memory limit". 0: none.
    qint64 maxMemory = 0;
    QStringList inputs;     // the documents its workers may read
    QStringList outputFolders; // the folders they may write in
    // How long stopped workers may take to give up their tasks before they
    // are killed; a preview that is no longer wanted is killed at once.
    qint64 stopGraceMs = 250;
    // Sent with each task that writes to a descriptor rather than a file
    // (PageTask::toGivenDescriptor): the program's standard output, say. -1: none.
    int givenDescriptor = -1;
};

// Carries out page tasks in worker processes, so that nothing in the calling
// program draws a page: a task that crashes its worker costs that task, one
// past its time limit has its worker killed, the temporary files of a worker
// that ended are removed, a document that crashed three workers has its
// other tasks failed untried, and a stop ends every task in hand within half
// a second, even one inside a page that never asks whether to stop. Pages
// that share a descriptor are written onto it in the order of their tasks. Workers
// are started as they are needed and kept for the next run; a stopped run
// ends them. Used by one thread at a time.
class PageRunner
{
public:
    explicit PageRunner(RunnerSettings settings);
    ~PageRunner();
    PageRunner(const PageRunner &) = delete;
    PageRunner &operator=(const PageRunner &) = delete;

    // Called on the calling thread with each task's index and result, in the
    // order they finish. A task stopped midway has a Stopped outcome; one
    // never started because of the stop has no result.
    using ResultCallback = std::function<void(int index, const TaskResult &)>;

    // Blocks until every task has its result or stop is set. A convert task's
    // bandThreads is set from the workers left over when fewer tasks than
    // workers remain.
    void run(const QList<PageTask> &tasks, const std::atomic<bool> &stop, const ResultCallback &onResult);
    // From inside the result callback: no further task is started, those in
    // hand finish as usual and run() returns once they have; the tasks never
    // started have no result. For a failure that every later task would meet
    // too, such as a full disk. Holds until the next run().
    void stopHandingOut() { handingOut = false; }

    // One task; a Stopped outcome when stop was set before it finished.
    TaskResult runOne(const PageTask &task, const std::atomic<bool> &stop);

    // How far the workers were confined: "landlock", or "none: <why>"; empty
    // when no worker has been ready yet.
    QString confinement() const { return confinedAs; }

    // Ends the workers now (those inside a page too) and removes what they
    // left. An idle worker is given dismissGraceMs to leave by itself, unless
    // stop is or becomes set: then it is killed at once, as is one that has a
    // task in hand or is not ready yet, so that a program that is ending
    // waits for no worker's clean-up.
    void endWorkers(const std::atomic<bool> *stop = nullptr);

    // How long past a page's own time limit its worker is given before it is
    // killed: the pipeline gives the page up itself where the renderer lets it.
    static constexpr qint64 graceMs = 1000;
    // A worker that has not said it is ready by then is taken for broken.
    static constexpr qint64 startTimeoutMs = 30000;
    // How long endWorkers() gives the idle workers, all of them together, to
    // leave by themselves (their libraries' clean-up, a sanitizer's leak
    // check) before they are killed.
    static constexpr qint64 dismissGraceMs = 2000;
    // A document that crashed this many workers has its other tasks failed untried.
    static constexpr int crashesPerDocument = 3;

private:
    struct Run;
    void startWorker();
    void assign(Run &run);
    void watch(Run &run);
    void giveTurns(Run &run);
    void handleEnd(Run &run, Worker &worker);
    void enforceTimeLimits(Run &run);
    void endOverLimit(Run &run, Worker &worker, PageOutcome::Result result, const QString &detail);
    void dropEnded();
    void enforceMemoryLimit(Run &run);
    void stopAll(Run &run);
    void failUntried(Run &run);

    RunnerSettings settings;
    std::vector<std::unique_ptr<Worker>> workers;
    QHash<QString, int> crashes; // per document path
    QString confinedAs;
    QString startFailure;
    int startsFailedInARow = 0;
    bool handingOut = true;
};

// What a task that no worker carried out gives back.
TaskResult failedTask(const PageTask &task, PageOutcome::Result result, const QString &detail);

#endif // PAGERUNNER_H
