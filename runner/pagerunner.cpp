#include "runner/pagerunner.h"

#include "engine/nativepath.h"
#include "engine/bandplan.h"
#include "runner/worker.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/wait.h>

struct PageRunner::Run
{
    const QList<PageTask> &tasks;
    const std::atomic<bool> &stop;
    const ResultCallback &onResult;
    int next = 0; // the next task to hand out
    // Turns (PageTask::inTurn): how each task ended, the first task without
    // its result, and whether every one before it was written whole.
    enum Ended : char { Open, Written, NotWritten };
    std::vector<Ended> ended = std::vector<Ended>(size_t(tasks.size()), Open);
    int firstOpen = 0;
    bool allWritten = true;

    bool stopped() const { return stop.load(std::memory_order_relaxed); }
    void report(int index, const TaskResult &result)
    {
        if (index >= 0 && index < tasks.size()) {
            ended[size_t(index)] = result.outcome.result == PageOutcome::Written ? Written : NotWritten;
            for (; firstOpen < tasks.size() && ended[size_t(firstOpen)] != Open; ++firstOpen)
                allWritten = allWritten && ended[size_t(firstOpen)] == Written;
        }
        if (onResult)
            onResult(index, result);
    }
};

namespace {

// When a worker's task has run too long. A page being converted gives up by
// itself at its time limit where the renderer lets it, so its worker is given
// a grace beyond. A preview, or the opening of a document, counts the
// processor time its worker used, so that a busy machine does not cost the
// user a page that draws slowly; a worker that does not get to run at all is
// still ended at three times the limit.
bool pastTimeLimit(const Worker &worker)
{
    const PageTask &task = worker.taskInHand();
    if (!worker.busy() || task.timeLimitMs <= 0)
        return false;
    if (task.kind != PageTask::Convert)
        return worker.cpuElapsed() >= task.timeLimitMs || worker.elapsed() >= 3 * task.timeLimitMs;
    return worker.elapsed() >= task.timeLimitMs + PageRunner::graceMs;
}

} // namespace

TaskResult failedTask(const PageTask &task, PageOutcome::Result result, const QString &detail)
{
    TaskResult failed;
    failed.outcome.page = task.pageIndex;
    failed.outcome.outputPath = task.outputPath;
    failed.outcome.result = result;
    failed.outcome.detail = detail;
    failed.workerLost = result != PageOutcome::Stopped;
    return failed;
}

PageRunner::PageRunner(RunnerSettings settings)
    : settings(std::move(settings))
{
}

PageRunner::~PageRunner()
{
    endWorkers();
}

void PageRunner::endWorkers(const std::atomic<bool> *stop)
{
    const auto stopped = [stop] { return stop && stop->load(std::memory_order_relaxed); };
    // All are told first, so that they end side by side rather than one after another.
    for (const std::unique_ptr<Worker> &worker : workers)
        worker->dismiss();
    // An idle worker leaves by itself once dismissed; those that have not
    // within the grace, or when a stop comes first, are killed.
    const auto mayLeave = [](const Worker &worker) { return worker.ready() && !worker.busy(); };
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const auto waiting = std::find_if(workers.cbegin(), workers.cend(), [&](const auto &worker) {
            return mayLeave(*worker) && !worker->hasEnded();
        });
        if (waiting == workers.cend() || stopped() || waited.elapsed() >= dismissGraceMs)
            break;
        // Woken as soon as it ends; the stop is looked at every 5 ms.
        (*waiting)->endsWithin(5);
    }
    for (const std::unique_ptr<Worker> &worker : workers)
        if (!mayLeave(*worker) || !worker->hasEnded())
            worker->killNow();
    for (const std::unique_ptr<Worker> &worker : workers)
        worker->retire(true, settings.outputFolders);
    workers.clear();
}

TaskResult PageRunner::runOne(const PageTask &task, const std::atomic<bool> &stop)
{
    TaskResult answer = failedTask(task, PageOutcome::Stopped, QString());
    run({task}, stop, [&answer](int, const TaskResult &result) { answer = result; });
    return answer;
}

void PageRunner::run(const QList<PageTask> &tasks, const std::atomic<bool> &stop, const ResultCallback &onResult)
{
    Run run{tasks, stop, onResult};
    handingOut = true;
    const auto busyCount = [this] {
        return std::count_if(workers.cbegin(), workers.cend(), [](const auto &w) { return w->busy(); });
    };
    while (!run.stopped()) {
        if (handingOut)
            failUntried(run);
        if ((run.next >= tasks.size() || !handingOut) && busyCount() == 0)
            break;
        if (startsFailedInARow >= 3) {
            // No worker starts: the tasks cannot be carried out at all.
            for (; handingOut && run.next < tasks.size(); ++run.next)
                run.report(run.next, failedTask(tasks.at(run.next), PageOutcome::RenderFailed,
                                                QStringLiteral("no worker process could be started: %1").arg(startFailure)));
            if (busyCount() == 0)
                break;
        }
        const qsizetype waiting = qsizetype(workers.size()) - busyCount();
        if (handingOut && waiting < tasks.size() - run.next && int(workers.size()) < qMax(1, settings.workers)
            && startsFailedInARow < 3) {
            startWorker();
            continue;
        }
        assign(run);
        watch(run);
        giveTurns(run);
        enforceTimeLimits(run);
        enforceMemoryLimit(run);
    }
    if (run.stopped())
        stopAll(run);
}

void PageRunner::startWorker()
{
    TaskProtocol::Setup setup;
    setup.maxMemory = settings.maxMemory;
    setup.memoryShare = qMax(1, settings.workers);
    setup.inputs = settings.inputs;
    setup.outputFolders = settings.outputFolders;
    auto worker = std::make_unique<Worker>();
    if (!worker->start(settings.program, setup)) {
        startFailure = worker->startFailure();
        ++startsFailedInARow;
        return;
    }
    workers.push_back(std::move(worker));
}

// Pages of a document that keeps crashing workers are not tried again.
void PageRunner::failUntried(Run &run)
{
    while (run.next < run.tasks.size() && crashes.value(run.tasks.at(run.next).path) >= crashesPerDocument) {
        run.report(run.next, failedTask(run.tasks.at(run.next), PageOutcome::RenderFailed,
                                        QStringLiteral("not tried: the renderer crashed %1 times on this file")
                                            .arg(crashesPerDocument)));
        ++run.next;
    }
}

void PageRunner::assign(Run &run)
{
    for (const std::unique_ptr<Worker> &worker : workers) {
        if (!handingOut)
            return;
        failUntried(run);
        if (run.next >= run.tasks.size())
            return;
        if (!worker->ready() || worker->busy())
            continue;
        PageTask task = run.tasks.at(run.next);
        // Past a page that was not written, no page in turn would be: none is drawn.
        if (task.inTurn && !run.allWritten) {
            handingOut = false;
            return;
        }
        if (task.kind == PageTask::Convert)
            task.bandThreads = bandThreadShare(qMax(1, settings.workers), int(run.tasks.size()) - run.next);
        if (worker->send(task, run.next, task.toGivenDescriptor ? settings.givenDescriptor : -1))
            ++run.next;
        // A worker that cannot take it has ended: its end of the pipe says so in watch().
    }
}

// A page waiting for its turn writes once every page before it is in, and
// only if each of those was written whole: a page after a gap would be taken
// for the one missing.
void PageRunner::giveTurns(Run &run)
{
    for (const std::unique_ptr<Worker> &worker : workers)
        if (worker->wantsTurn() && worker->task() <= run.firstOpen)
            worker->giveTurn(run.allWritten && !run.stopped());
    // One that has ended meanwhile shows as the end of its pipe in watch().
}

void PageRunner::watch(Run &run)
{
    std::vector<pollfd> watched;
    int timeout = 50;
    for (const std::unique_ptr<Worker> &worker : workers) {
        watched.push_back({worker->descriptor(), POLLIN, 0});
        const PageTask &task = worker->taskInHand();
        if (worker->busy() && task.kind == PageTask::Convert && task.timeLimitMs > 0)
            timeout = int(qBound<qint64>(0, task.timeLimitMs + graceMs - worker->elapsed(), qint64(timeout)));
    }
    if (poll(watched.data(), nfds_t(watched.size()), timeout) < 0 && errno != EINTR)
        return;
    for (size_t i = 0; i < watched.size(); ++i) {
        Worker &worker = *workers[i];
        if (watched[i].revents == 0)
            continue;
        const bool wasReady = worker.ready();
        const bool ended = worker.receive();
        if (!wasReady && worker.ready()) {
            startsFailedInARow = 0;
            // One worker left unconfined is enough for the run to say so.
            if (!worker.unconfinedBecause().isEmpty())
                confinedAs = QStringLiteral("none: ") + worker.unconfinedBecause();
            else if (confinedAs.isEmpty())
                confinedAs = QStringLiteral("landlock");
        }
        while (const auto result = worker.takeResult())
            run.report(result->first, result->second);
        if (ended)
            handleEnd(run, worker);
    }
    dropEnded();
}

void PageRunner::handleEnd(Run &run, Worker &worker)
{
    const bool wasReady = worker.ready();
    const PageTask task = worker.taskInHand();
    const qint64 took = worker.elapsed();
    // One that broke the protocol is killed, one that only closed its pipe
    // given a moment to be gone: nothing here waits on a worker that lives on.
    const int status = worker.retire(false, settings.outputFolders);
    while (const auto result = worker.takeResult())
        run.report(result->first, result->second);
    if (!wasReady) {
        ++startsFailedInARow;
        startFailure = QStringLiteral("%1: %2").arg(displayPath(settings.program),
                                                    worker.fault().isEmpty() ? Worker::whyNotStarted(status)
                                                                             : worker.fault());
        return;
    }
    if (!worker.busy())
        return; // it ended between tasks
    const QStringList printed = worker.printedAtEnd();
    // An allocation refused under the address-space backstop aborts some
    // libraries (Poppler prints "Out of memory" and aborts): that is the
    // ceiling, not a crash.
    const bool outOfMemory = settings.maxMemory > 0 && std::any_of(printed.cbegin(), printed.cend(), [](const QString &line) {
        return line.contains(QLatin1String("Out of memory"), Qt::CaseInsensitive)
               || line.contains(QLatin1String("bad_alloc")) || line.contains(QLatin1String("Cannot allocate memory"));
    });
    if (WIFSIGNALED(status) && !outOfMemory)
        ++crashes[task.path];
    const QString why = !worker.fault().isEmpty() ? worker.fault()
                        : outOfMemory             ? QStringLiteral("over the memory limit")
                                                  : Worker::whyEnded(status);
    TaskResult failed = failedTask(task, PageOutcome::RenderFailed, why);
    failed.outcome.milliseconds = took;
    Worker::addPrinted(failed.outcome, printed);
    run.report(worker.task(), failed);
}

// Resident memory rather than address space: libraries, thread stacks and
// the allocator's reservations take address space that holds nothing, so a
// ceiling on it refuses pages that fit in memory with room to spare.
void PageRunner::enforceMemoryLimit(Run &run)
{
    if (settings.maxMemory <= 0)
        return;
    for (const std::unique_ptr<Worker> &worker : workers)
        if (worker->busy() && worker->residentBytes() > settings.maxMemory)
            endOverLimit(run, *worker, PageOutcome::RenderFailed, QStringLiteral("over the memory limit"));
    dropEnded();
}

void PageRunner::enforceTimeLimits(Run &run)
{
    for (const std::unique_ptr<Worker> &worker : workers) {
        if (!worker->ready() && worker->sinceStart() >= startTimeoutMs) {
            // Not worth trying again: a worker starts in milliseconds.
            worker->retire(true, settings.outputFolders);
            startsFailedInARow = 3;
            startFailure = QStringLiteral("%1: it did not answer within %2 s")
                               .arg(displayPath(settings.program))
                               .arg(startTimeoutMs / 1000);
            continue;
        }
        // The renderer did not give up in time: somewhere it never asks
        // whether to stop. Only ending its process stops it.
        if (pastTimeLimit(*worker))
            endOverLimit(run, *worker, PageOutcome::TimedOut,
                         QStringLiteral("timed out after %1 s").arg(double(worker->taskInHand().timeLimitMs) / 1000.0));
    }
    dropEnded();
}

// Kills a worker whose task passed a limit and reports the task failed,
// unless its result came in the meantime after all.
void PageRunner::endOverLimit(Run &run, Worker &worker, PageOutcome::Result result, const QString &detail)
{
    const int index = worker.task();
    const PageTask given = worker.taskInHand();
    const qint64 took = worker.elapsed();
    worker.retire(true, settings.outputFolders);
    if (const auto finished = worker.takeResult()) {
        run.report(finished->first, finished->second);
        return;
    }
    TaskResult failed = failedTask(given, result, detail);
    failed.outcome.milliseconds = took;
    Worker::addPrinted(failed.outcome, worker.printedAtEnd());
    run.report(index, failed);
}

void PageRunner::dropEnded()
{
    workers.erase(std::remove_if(workers.begin(), workers.end(), [](const auto &w) { return !w->running(); }),
                  workers.end());
}

// Stopped: the workers are told to stop as the program was, and a page one
// of them finishes meanwhile is reported as it is; one that does not answer
// within a quarter of a second (a page that never asks whether to stop) is
// killed and its page reported stopped, so that the run ends within half a
// second. The workers end with the run.
void PageRunner::stopAll(Run &run)
{
    // A page waiting for its turn is not written: its worker answers at once.
    if (settings.stopGraceMs > 0)
        for (const std::unique_ptr<Worker> &worker : workers)
            if (worker->busy() && !(worker->wantsTurn() && worker->giveTurn(false)))
                worker->askToStop();
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        std::vector<pollfd> watched;
        std::vector<Worker *> busy;
        for (const std::unique_ptr<Worker> &worker : workers)
            if (worker->running() && worker->busy()) {
                watched.push_back({worker->descriptor(), POLLIN, 0});
                busy.push_back(worker.get());
            }
        const qint64 left = settings.stopGraceMs - waited.elapsed();
        if (watched.empty() || left <= 0)
            break;
        poll(watched.data(), nfds_t(watched.size()), int(left));
        for (size_t i = 0; i < busy.size(); ++i) {
            if (watched[i].revents == 0)
                continue;
            const bool ended = busy[i]->receive();
            if (busy[i]->wantsTurn())
                busy[i]->giveTurn(false);
            while (const auto result = busy[i]->takeResult())
                run.report(result->first, result->second);
            if (ended)
                busy[i]->retire(false, settings.outputFolders);
        }
    }
    // Killed all at once: each takes its time to give back its memory (hundreds
    // of megabytes inside a page at a high resolution), side by side.
    for (const std::unique_ptr<Worker> &worker : workers)
        worker->killNow();
    for (const std::unique_ptr<Worker> &worker : workers) {
        const int index = worker->task();
        const PageTask task = worker->taskInHand();
        worker->retire(true, settings.outputFolders);
        while (const auto result = worker->takeResult())
            run.report(result->first, result->second);
        if (index >= 0 && worker->busy())
            run.report(index, failedTask(task, PageOutcome::Stopped, QString()));
    }
    workers.clear();
}
