#ifndef WORKER_H
#define WORKER_H

#include "runner/pagetask.h"
#include "runner/taskprotocol.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

#include <sys/types.h>

// One worker process as its program sees it: started with its setup, sent
// one task at a time, its results read as they come, and ended. Not
// thread-safe: one thread (a PageRunner's) does all of it.
class Worker
{
public:
    Worker() = default;
    ~Worker(); // a worker still running is killed
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    // Starts program as a worker and sends it its setup; false, with
    // startFailure() saying why, when it cannot be started at all.
    bool start(const QString &program, const TaskProtocol::Setup &setup);
    QString startFailure() const { return failure; }

    bool running() const { return pid > 0; }
    qint64 sinceStart() const { return started.elapsed(); }
    bool ready() const { return isReady; }
    QString unconfinedBecause() const { return unconfined; }
    int descriptor() const { return fd; }

    // Hands it a task; false when it can no longer take one (it has ended).
    // A descriptor of this process's (0 or more) goes with it, a copy of which
    // the worker receives: a task that writes to it (PageTask::toGivenDescriptor)
    // needs no path the worker could open.
    bool send(const PageTask &task, int index, int descriptor = -1);
    bool busy() const { return taskIndex >= 0; }
    int task() const { return taskIndex; }       // the index of the task in hand; -1 when idle
    const PageTask &taskInHand() const { return inHand; }
    // How long it has had the task in hand, less the time it waited for its turn.
    qint64 elapsed() const;
    // Its page (PageTask::inTurn) waits to be written: giveTurn() answers it.
    bool wantsTurn() const { return turnAskedAt >= 0; }
    // Lets it write its page now, or never; false when it has ended.
    bool giveTurn(bool write);
    // Processor time it has used since it took the task in hand.
    qint64 cpuElapsed() const { return cpuMs() - cpuAtStart; }
    // The memory it holds now (resident: in RAM, its own and what it shares);
    // 0 once it has ended.
    qint64 residentBytes() const;
    // What it printed (on its standard output or error, which never reach the
    // terminal) since the last call, a line each.
    QStringList takePrinted();

    // Reads what it has sent; true once its end of the pipe has closed (it
    // has ended) or it has sent what is not a message it owes (a frame that
    // does not parse, another version, a value out of range, a message
    // nobody asked for): then fault() says which, and retire() kills it.
    bool receive();
    // Why it is no longer trusted, as a page's failure reads; empty while it is.
    QString fault() const { return brokenBecause; }
    // Results read, in the order they came, each with its task's index.
    std::optional<std::pair<int, TaskResult>> takeResult();

    // Tells an idle worker that no task will come: it ends by itself.
    void dismiss();
    // Asks the page in hand to stop, as Ctrl-C would.
    void askToStop();
    // Kills it without waiting for it to be gone, so that several end side
    // by side; retire() then reaps it.
    void killNow();
    // Whether it has ended (it is not reaped: retire() still does that).
    bool hasEnded() const { return pid <= 0 || endsWithin(0); }
    // Whether it has ended by the time ms have passed, woken as it does.
    bool endsWithin(qint64 ms) const;
    // Ends it (kill: at once, even inside a page that never asks whether to
    // stop), reads what it sent before it ended, and removes the temporary
    // files it left in folders. Returns its wait status. Never waits on a
    // worker that lives on: one that broke the protocol is killed at once,
    // and one not killed that has not ended within graceMs (its pipe closed
    // but it runs on, or dismissed it does not leave) is killed then, with
    // fault() saying so.
    int retire(bool kill, const QStringList &folders, qint64 graceMs = endGraceMs);
    // How long a worker whose pipe has closed is given to be gone: the
    // kernel closes a process's descriptors as it ends, so a worker that
    // really ended is gone in microseconds.
    static constexpr qint64 endGraceMs = 100;

    // Why a worker with a task in hand ended, from its wait status.
    static QString whyEnded(int status);
    // Why a worker ended before it was ready.
    static QString whyNotStarted(int status);
    // What it printed up to its end, once retired.
    QStringList printedAtEnd() const { return lastPrinted; }
    // Adds lines it printed to a page's warnings.
    static void addPrinted(PageOutcome &outcome, const QStringList &lines);
    // The mark in its temporaries' names.
    QString mark() const { return temporaryMark; }

private:
    pid_t pid = -1;
    int fd = -1; // tasks are written here, results read from here
    int printed = -1; // an unnamed file that its stdout and stderr go to
    qint64 printedRead = 0;
    QStringList lastPrinted;
    bool isReady = false;
    QString unconfined;
    QString failure;
    QString temporaryMark;
    QString brokenBecause;
    TaskProtocol::FrameReader reader;
    std::deque<std::pair<int, TaskResult>> results;
    int taskIndex = -1;
    PageTask inHand;
    QElapsedTimer clock;
    QElapsedTimer started;
    qint64 cpuAtStart = 0;
    qint64 turnAskedAt = -1; // on clock, while it waits for its turn
    qint64 waitedMs = 0;
    bool turnAsked = false; // for the task in hand: a page asks once
    qint64 cpuMs() const;
    bool breaks(const QString &why);
};

#endif // WORKER_H
