#include "cli/workerpool.h"

#include "cli/pageworker.h"
#include "cli/workerprotocol.h"
#include "engine/atomicfile.h"
#include "engine/nativepath.h"

#include <QElapsedTimer>
#include <QHash>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

struct Worker
{
    pid_t pid = -1;
    int taskFd = -1;    // its tasks are written here
    int outcomeFd = -1; // its outcomes are read here
    QString token;
    QByteArray received; // bytes read that do not make a whole line yet
    bool ready = false;
    int task = -1; // the index of the page in hand, -1 when idle
    QElapsedTimer clock;
};

QString signalName(int number)
{
    const char *abbreviation = sigabbrev_np(number);
    return abbreviation ? QStringLiteral("SIG") + QLatin1String(abbreviation) : QStringLiteral("signal %1").arg(number);
}

// A pipe end for the worker, moved above the numbers it is given there
// (workerTaskFd, workerOutcomeFd) so that one dup2 cannot close the other.
int highDescriptor(int fd)
{
    const int high = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return high;
}

void closeDescriptor(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

QString randomToken()
{
    // Letters and digits only: the token ends in a '-' that a random name
    // cannot contain, so no worker's prefix is another's.
    return QString::number(QRandomGenerator::global()->generate64(), 36) + QLatin1Char('-');
}

} // namespace

WorkerPool::WorkerPool(const BatchPlan &plan, QString program, QStringList arguments)
    : plan(plan)
    , program(std::move(program))
    , arguments(std::move(arguments))
{
}

ConversionSummary WorkerPool::run(ParallelConverter &planned, int jobs, const std::atomic<bool> &stop,
                                  const ParallelConverter::PageCallback &onPage)
{
    ConversionSummary summary;
    const QList<ParallelConverter::Task> &tasks = planned.pendingTasks();
    const auto report = [&](const ParallelConverter::Task &task, PageOutcome outcome) {
        if (outcome.result == PageOutcome::Stopped)
            return; // counted with the pages never started
        outcome.redoneBecause = task.redoneBecause;
        if (outcome.result == PageOutcome::Skipped)
            ++summary.skipped;
        else
            ++(outcome.result == PageOutcome::Written ? summary.written : summary.failed);
        if (onPage)
            onPage(plan.files.at(task.fileIndex).path, outcome);
    };
    planned.reportSkipped([&](const QString &pdfPath, const PageOutcome &outcome) {
        ++summary.skipped;
        if (onPage)
            onPage(pdfPath, outcome);
    });

    const QStringList folders = plan.outputFolders();
    const auto removeTemporaries = [&](const Worker &worker) {
        // By the system's calls: a folder whose name is not UTF-8 is out of QDir's reach.
        const QByteArray prefix = QByteArray(AtomicFile::temporaryPrefix) + worker.token.toLatin1();
        for (const QString &folder : folders) {
            DIR *dir = ::opendir(nativePath(folder).constData());
            if (!dir)
                continue;
            while (const dirent *entry = ::readdir(dir)) {
                const QByteArray name(entry->d_name);
                if (name.startsWith(prefix) && name.endsWith(".tmp"))
                    ::unlinkat(::dirfd(dir), entry->d_name, 0);
            }
            ::closedir(dir);
        }
    };
    const auto failed = [&](const ParallelConverter::Task &task, PageOutcome::Result result, const QString &detail,
                            qint64 milliseconds) {
        PageOutcome outcome;
        outcome.page = task.pageIndex;
        outcome.outputPath = plan.outputPath(plan.files.at(task.fileIndex), task.pageIndex);
        outcome.result = result;
        outcome.detail = detail;
        outcome.milliseconds = milliseconds;
        return outcome;
    };

    std::vector<Worker> workers;
    QString startFailure;       // why the last worker could not start
    int startsFailedInARow = 0; // workers that ended before they were ready
    QHash<int, int> crashes;    // per file
    int next = 0;               // the next task to hand out

    const auto spawn = [&]() -> bool {
        int toWorker[2];
        int fromWorker[2];
        if (pipe2(toWorker, O_CLOEXEC) != 0) {
            startFailure = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        if (pipe2(fromWorker, O_CLOEXEC) != 0) {
            startFailure = QString::fromLocal8Bit(std::strerror(errno));
            ::close(toWorker[0]);
            ::close(toWorker[1]);
            return false;
        }
        const int taskEnd = highDescriptor(toWorker[0]);
        const int outcomeEnd = highDescriptor(fromWorker[1]);
        Worker worker;
        worker.token = randomToken();
        worker.taskFd = toWorker[1];
        worker.outcomeFd = fromWorker[0];
        fcntl(worker.outcomeFd, F_SETFL, O_NONBLOCK);

        // The arguments' own bytes: a file name that is not UTF-8 must reach the worker as it is.
        const QByteArray path = nativePath(program);
        QList<QByteArray> argv{path, QByteArrayLiteral("--worker"), worker.token.toLatin1()};
        for (const QString &argument : arguments)
            argv.append(nativePath(argument));
        std::vector<char *> pointers;
        for (QByteArray &argument : argv)
            pointers.push_back(argument.data());
        pointers.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, taskEnd, workerTaskFd);
        posix_spawn_file_actions_adddup2(&actions, outcomeEnd, workerOutcomeFd);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        // Whatever a library prints goes to stderr, never into the JSON on stdout.
        posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        const int error = posix_spawn(&worker.pid, path.constData(), &actions, &attributes, pointers.data(), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        ::close(taskEnd);
        ::close(outcomeEnd);
        if (error != 0) {
            startFailure = QString::fromLocal8Bit(std::strerror(error));
            closeDescriptor(worker.taskFd);
            closeDescriptor(worker.outcomeFd);
            return false;
        }
        workers.push_back(std::move(worker));
        return true;
    };
    // Reads what the worker sent and acts on each whole line; true when its
    // end of the pipe is closed: it has ended.
    const auto receive = [&](Worker &worker) -> bool {
        bool ended = false;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(worker.outcomeFd, buffer, sizeof buffer);
            if (n > 0) {
                worker.received.append(buffer, n);
                continue;
            }
            ended = n == 0 || (errno != EAGAIN && errno != EINTR);
            break;
        }
        qsizetype end;
        while ((end = worker.received.indexOf('\n')) >= 0) {
            const QByteArray line = worker.received.left(end);
            worker.received.remove(0, end + 1);
            if (const std::optional<QString> unconfinedBecause = WorkerProtocol::readReady(line)) {
                worker.ready = true;
                startsFailedInARow = 0;
                // One worker left unconfined is enough for the run to say so.
                if (!unconfinedBecause->isEmpty())
                    summary.confinement = QStringLiteral("none: ") + *unconfinedBecause;
                else if (summary.confinement.isEmpty())
                    summary.confinement = QStringLiteral("landlock");
            } else if (const std::optional<PageOutcome> outcome = WorkerProtocol::readOutcome(line);
                       outcome && worker.task >= 0) {
                report(tasks.at(worker.task), *outcome);
                worker.task = -1;
            }
        }
        return ended;
    };
    // Ends a worker that failed or is no longer wanted (kill: it may still be
    // drawing), reports what it sent before it ended and removes its
    // temporary file.
    const auto retire = [&](Worker &worker, bool kill) -> int {
        closeDescriptor(worker.taskFd);
        if (kill)
            ::kill(worker.pid, SIGKILL);
        int status = 0;
        while (waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
        }
        receive(worker);
        closeDescriptor(worker.outcomeFd);
        removeTemporaries(worker);
        worker.pid = -1;
        return status;
    };
    const auto inHand = [&] {
        return std::count_if(workers.cbegin(), workers.cend(), [](const Worker &w) { return w.task >= 0; });
    };

    const qint64 limitMs = plan.style.timeLimitMs;
    while (!stop.load(std::memory_order_relaxed)) {
        workers.erase(std::remove_if(workers.begin(), workers.end(), [](const Worker &w) { return w.pid < 0; }),
                      workers.end());
        // Pages of a document that keeps crashing workers are not tried again.
        while (next < tasks.size() && crashes.value(tasks.at(next).fileIndex) >= crashesPerDocument) {
            report(tasks.at(next), failed(tasks.at(next), PageOutcome::RenderFailed,
                                          QStringLiteral("not tried: the renderer crashed %1 times on this file")
                                              .arg(crashesPerDocument),
                                          0));
            ++next;
        }
        if (next >= tasks.size() && inHand() == 0)
            break;
        if (startsFailedInARow >= 3) {
            // No worker starts: the pages cannot be converted at all.
            for (; next < tasks.size(); ++next)
                report(tasks.at(next), failed(tasks.at(next), PageOutcome::RenderFailed,
                                              QStringLiteral("no worker process could be started: %1").arg(startFailure),
                                              0));
            if (inHand() == 0)
                break;
        }
        const qsizetype waitingWorkers = qsizetype(workers.size()) - inHand();
        if (waitingWorkers < tasks.size() - next && qsizetype(workers.size()) < jobs && startsFailedInARow < 3) {
            if (!spawn())
                ++startsFailedInARow;
            continue;
        }
        for (Worker &worker : workers) {
            if (!worker.ready || worker.task >= 0 || next >= tasks.size())
                continue;
            const ParallelConverter::Task &task = tasks.at(next);
            const int pagesLeft = int(tasks.size()) - next;
            const WorkerTask message{task.fileIndex, task.pageIndex, qMax(1, jobs / qMax(1, pagesLeft))};
            const QByteArray line = WorkerProtocol::taskLine(message);
            if (::write(worker.taskFd, line.constData(), size_t(line.size())) != line.size())
                continue; // it died: its end of the pipe says so below
            worker.task = next++;
            worker.clock.start();
        }

        std::vector<pollfd> watched;
        int timeout = 50;
        for (const Worker &worker : workers) {
            watched.push_back({worker.outcomeFd, POLLIN, 0});
            if (worker.task >= 0 && limitMs > 0)
                timeout = int(qBound<qint64>(0, limitMs + graceMs - worker.clock.elapsed(), qint64(timeout)));
        }
        if (poll(watched.data(), nfds_t(watched.size()), timeout) < 0 && errno != EINTR)
            break;

        for (size_t i = 0; i < workers.size(); ++i) {
            Worker &worker = workers[i];
            const bool ended = watched[i].revents != 0 && receive(worker);
            if (ended) {
                const int status = retire(worker, false);
                if (worker.task < 0) {
                    if (!worker.ready) {
                        ++startsFailedInARow;
                        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                        if (code == WorkerPlanFailed)
                            startFailure = QStringLiteral("the inputs changed since they were checked");
                        else if (code == WorkerOutOfMemory)
                            startFailure = QStringLiteral("over the memory limit before its first page");
                        else if (WIFSIGNALED(status))
                            startFailure = QStringLiteral("it crashed (%1)").arg(signalName(WTERMSIG(status)));
                        else
                            startFailure = QStringLiteral("it ended at once (exit status %1)").arg(code);
                    }
                    continue;
                }
                const ParallelConverter::Task &task = tasks.at(worker.task);
                QString why;
                if (WIFSIGNALED(status))
                    why = QStringLiteral("the renderer crashed (%1)").arg(signalName(WTERMSIG(status)));
                else if (WIFEXITED(status) && WEXITSTATUS(status) == WorkerOutOfMemory)
                    why = QStringLiteral("over the memory limit");
                else
                    why = QStringLiteral("the worker process ended unexpectedly (exit status %1)")
                              .arg(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
                if (WIFSIGNALED(status))
                    ++crashes[task.fileIndex];
                report(task, failed(task, PageOutcome::RenderFailed, why, worker.clock.elapsed()));
                continue;
            }
            if (worker.task >= 0 && limitMs > 0 && worker.clock.elapsed() >= limitMs + graceMs) {
                // The renderer did not give up in time: somewhere it never asks
                // whether to stop. Only ending its process stops it.
                const int task = worker.task;
                const qint64 took = worker.clock.elapsed();
                retire(worker, true);
                if (worker.task == task) // not finished in the meantime
                    report(tasks.at(task),
                           failed(tasks.at(task), PageOutcome::TimedOut,
                                  QStringLiteral("timed out after %1 s").arg(double(limitMs) / 1000.0), took));
            }
        }
    }
    // Every page done: the workers end when their tasks do. Stopped: they are
    // told to stop as this process was, and a page one of them finishes
    // meanwhile is reported as it would have been in this process; one that
    // does not answer within a quarter of a second (a page that never asks
    // whether to stop) is killed, so that the run ends within half a second.
    if (stop.load(std::memory_order_relaxed)) {
        for (Worker &worker : workers) {
            ::kill(worker.pid, SIGTERM);
            closeDescriptor(worker.taskFd);
        }
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            std::vector<pollfd> watched;
            for (const Worker &worker : workers)
                if (worker.pid >= 0)
                    watched.push_back({worker.outcomeFd, POLLIN, 0});
            const qint64 left = stopGraceMs - waited.elapsed();
            if (watched.empty() || left <= 0)
                break;
            poll(watched.data(), nfds_t(watched.size()), int(left));
            for (Worker &worker : workers)
                if (worker.pid >= 0 && receive(worker))
                    retire(worker, false);
        }
    }
    for (Worker &worker : workers)
        if (worker.pid >= 0)
            retire(worker, stop.load(std::memory_order_relaxed));

    summary.notStarted = plan.pageCount() - summary.written - summary.failed - summary.skipped;
    return summary;
}
