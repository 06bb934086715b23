#ifndef WORKERLOOP_H
#define WORKERLOOP_H

#include "runner/pagetask.h"

#include <functional>

// The worker process's side of the pipe. It is started by a PageRunner with
// its task pipe as descriptor workerTaskFd and its result pipe as
// workerResultFd; it reads its setup, confines itself, says it is ready, then
// takes one task at a time and answers each with its result until the task
// pipe closes.
constexpr int workerTaskFd = 3;
constexpr int workerResultFd = 4;
// Sanitizer builds only: the program's own stderr, where the sanitizers'
// reports go, since the worker's stderr is kept off the terminal.
constexpr int workerReportFd = 5;

// Exit statuses of a worker beside 0 (its task pipe closed).
enum WorkerExit {
    WorkerSetupFailed = 70, // no setup it could read
    WorkerOutOfMemory = 71, // an allocation failed under the memory ceiling
    WorkerPipeBroken = 72,  // what came down the pipe was not a task, or the program went away
};

// Called with each task before it is carried out; test builds of the worker
// use it to misbehave on purpose.
using BeforeTask = std::function<void(const PageTask &)>;

int runWorkerLoop(const BeforeTask &beforeTask = {});

#endif // WORKERLOOP_H
