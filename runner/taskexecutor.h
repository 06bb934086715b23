#ifndef TASKEXECUTOR_H
#define TASKEXECUTOR_H

#include "engine/memorybudget.h"
#include "engine/pagepipeline.h"
#include "runner/pagetask.h"

#include <atomic>
#include <memory>

// A worker process's side of a task: the document it names is opened (and
// kept open for the next task on it), the page drawn, and written or handed
// back. Runs on the worker's one thread; a page's bands may take more.
class TaskExecutor
{
public:
    // memoryShare: this worker's share of the machine's bitmap budget.
    explicit TaskExecutor(int memoryShare = 1);
    ~TaskExecutor();

    TaskResult run(const PageTask &task, const std::atomic<bool> &stop);

private:
    TaskResult convert(const PageTask &task, const std::atomic<bool> &stop);
    TaskResult preview(const PageTask &task);

    struct OpenDocuments;
    std::unique_ptr<OpenDocuments> open;
    MemoryBudget memory;
    bool preparedForThreads = false;
};

// The page pipeline's job for a convert task on the open document; the
// caller adds the memory budget and how to open copies for band threads.
PageJob pageJobFor(const PageTask &task, const RenderDocument &document);

// Poppler decides whether a file is usable and how many pages it has,
// whichever library draws; the drawing library must open it too. For a probe
// task, and for a program that opens its inputs itself.
TaskResult probeDocument(const QString &path, const QByteArray &password, RendererKind renderer);

#endif // TASKEXECUTOR_H
