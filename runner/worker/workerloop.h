#ifndef WORKERLOOP_H
#define WORKERLOOP_H

#include "runner/pagetask.h"
#include "runner/workerchannel.h"

#include <functional>

// The worker process's side of the pipes (runner/workerchannel.h): it reads
// its setup, confines itself, says it is ready, then takes one task at a time
// and answers each with its result until the task pipe closes.

// Called with each task, and the descriptor that came with it (-1: none),
// before it is carried out; test builds of the worker use it to misbehave on purpose.
using BeforeTask = std::function<void(const PageTask &, int givenDescriptor)>;

int runWorkerLoop(const BeforeTask &beforeTask = {});

#endif // WORKERLOOP_H
