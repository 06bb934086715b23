#ifndef TASKEXECUTOR_H
#define TASKEXECUTOR_H

#include "engine/memorybudget.h"
#include "engine/pagepipeline.h"
#include "engine/workermemory.h"
#include "runner/pagetask.h"

#include <atomic>
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
    // (PageTask::toGivenDescriptor); -1 when nothing did.
    TaskResult run(const PageTask &task, const std::atomic<bool> &stop, int givenDescriptor = -1);

private:
    TaskResult convert(const PageTask &task, const std::atomic<bool> &stop, int givenDescriptor);
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
