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
    // memoryShare: this worker's share of the machine's bitmap budget;
    // maxMemory: the memory the worker may hold, 0 for no ceiling: its
    // bitmaps are kept to what is left of it past the worker's own needs, so
    // that a large page is drawn in bands under the ceiling.
    explicit TaskExecutor(int memoryShare = 1, qint64 maxMemory = 0);
    ~TaskExecutor();

    TaskResult run(const PageTask &task, const std::atomic<bool> &stop);

private:
    TaskResult convert(const PageTask &task, const std::atomic<bool> &stop);
    TaskResult preview(const PageTask &task);
    void checkSizes(const PageTask &task, TaskResult &result);

    struct OpenDocuments;
    std::unique_ptr<OpenDocuments> open;
    MemoryBudget memory;
    qint64 maxMemory = 0;
    bool preparedForThreads = false;
};

// The page pipeline's job for a convert task on the open document; the
// caller adds the memory budget and how to open copies for band threads.
PageJob pageJobFor(const PageTask &task, const RenderDocument &document);

// The memory a worker holds besides its page's bitmaps and what its renderer
// decodes: its libraries and fonts (about 24 MiB resident), and room for a
// document's objects.
constexpr qint64 workerBaseBytes = qint64(40) << 20;

// Under a ceiling, the most MuPDF's store (fonts, decoded images kept across
// bands and pages) may hold: a quarter of what is past the base, at most its
// usual size. A page's bands are sized from what is left past its images.
qint64 rendererStoreBytes(qint64 maxMemory);

// The smallest ceiling under which an ordinary page (A4) is drawn at this
// resolution, images and all: its bitmap twice over (or bands of 64 MiB at
// most) and an image covering it at three bytes a pixel; in whole MiB, 64
// MiB at least.
qint64 smallestWorkerMemory(double resolution);

// Poppler decides whether a file is usable and how many pages it has,
// whichever library draws; the drawing library must open it too. For a probe
// task, and for a program that opens its inputs itself.
TaskResult probeDocument(const QString &path, const QByteArray &password, RendererKind renderer);

#endif // TASKEXECUTOR_H
