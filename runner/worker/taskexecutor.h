#ifndef TASKEXECUTOR_H
#define TASKEXECUTOR_H

#include "engine/memorybudget.h"
#include "engine/pagepipeline.h"
#include "engine/workermemory.h"
#include "runner/pagetask.h"

#include <atomic>
#include <functional>
#include <memory>

// A worker process's side of a task: the document it names is opened (and
// kept open for the next task on it), the page drawn, and written or handed
// back. Runs on the worker's one thread; a page's bands may take more.
class TaskExecutor
{
public:
    // memoryShare: this worker's share of the machine's bitmap budget;
    // maxMemory: the memory the worker may hold, 0 for no ceiling: its
    // bitmaps are kept to what is left of it past the worker's own needs, so
    // that a large page is drawn in bands under the ceiling.
    explicit TaskExecutor(int memoryShare = 1, qint64 maxMemory = 0);
    ~TaskExecutor();

    // givenDescriptor: what came with the task, for one that writes to it
    // (PageTask::toGivenDescriptor); -1 when nothing did. waitForTurn: asks
    // the program whether a page that shares it (PageTask::inTurn) may be
    // written now; false: never.
    TaskResult run(const PageTask &task, const std::atomic<bool> &stop, int givenDescriptor = -1,
                   const std::function<bool()> &waitForTurn = {});

    // The most of a page waiting for its turn that is held in memory.
    static constexpr qint64 holdForTurnBytes = qint64(32) << 20;

private:
    TaskResult convert(const PageTask &task, const std::atomic<bool> &stop, int givenDescriptor,
                       const std::function<bool()> &waitForTurn);
    static TaskResult join(const PageTask &task);
    TaskResult preview(const PageTask &task);
    void checkSizes(const PageTask &task, TaskResult &result);

    struct OpenDocuments;
    std::unique_ptr<OpenDocuments> open;
    MemoryBudget memory;
    qint64 maxMemory = 0;
};

// The page pipeline's job for a convert task on the open document; the
// caller adds the memory budget and how to open copies for band threads.
PageJob pageJobFor(const PageTask &task, const RenderDocument &document);

// Under a ceiling, the most a library's store (fonts, decoded images kept
// across bands and pages) may hold: a quarter of what is past the base, at
// most its usual size. A page's bands are sized from what is left past its
// images.
qint64 rendererStoreBytes(qint64 maxMemory);


#endif // TASKEXECUTOR_H
