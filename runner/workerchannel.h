#ifndef WORKERCHANNEL_H
#define WORKERCHANNEL_H

// What a program and its worker processes agree on besides the messages
// (runner/taskprotocol.h): the descriptors a worker is started with and what
// its exit status means. A PageRunner starts a worker with its task pipe as
// workerTaskFd and its result pipe as workerResultFd.
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

#endif // WORKERCHANNEL_H
