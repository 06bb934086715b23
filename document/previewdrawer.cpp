#include "document/previewdrawer.h"

#include "runner/pagerunner.h"
#include "runner/workerprogram.h"

PreviewDrawer::PreviewDrawer(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<TaskResult>("TaskResult");
    // Workers end with the thread that started them, so one thread starts
    // them all and lives as long as the window.
    thread = std::thread([this] { drawLoop(); });
}

PreviewDrawer::~PreviewDrawer()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        quitting = true;
        pending.reset();
        supersede = true;
    }
    wanted.notify_all();
    thread.join();
}

void PreviewDrawer::request(quint64 id, const QString &path, int pageIndex, const QSize &area)
{
    PageTask task;
    task.kind = PageTask::Preview;
    task.path = path;
    task.renderer = RendererKind::Poppler;
    task.pageIndex = pageIndex;
    task.previewArea = area;
    task.timeLimitMs = timeLimitMs;
    ask(id, task);
}

void PreviewDrawer::requestOpening(quint64 id, const QString &path)
{
    PageTask task;
    task.kind = PageTask::Probe;
    task.path = path;
    task.renderer = RendererKind::Poppler;
    task.timeLimitMs = timeLimitMs;
    ask(id, task);
}

void PreviewDrawer::ask(quint64 id, const PageTask &task)
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        pending = Request{id, task};
        if (drawingId != 0)
            supersede = true;
    }
    wanted.notify_all();
}

void PreviewDrawer::cancel()
{
    const std::lock_guard<std::mutex> lock(mutex);
    pending.reset();
    if (drawingId != 0)
        supersede = true;
}

void PreviewDrawer::drawLoop()
{
    for (;;) {
        Request request;
        {
            std::unique_lock<std::mutex> lock(mutex);
            drawingId = 0;
            wanted.wait(lock, [this] { return quitting || pending; });
            if (quitting)
                break;
            request = *pending;
            pending.reset();
            drawingId = request.id;
            supersede = false;
        }
        // The workers may read the document alone, so each document has its own.
        // An opening is of the file as it is now and gets a worker of its own
        // too: a file saved again under its name is another file, which the
        // worker confined to the old one could not read (and it may still hold
        // the old one open).
        if (!runner || runnerDocument != request.task.path || request.task.kind == PageTask::Probe) {
            // A newer request or the window's end does not wait for the old worker to leave.
            if (runner)
                runner->endWorkers(&supersede);
            runner.reset();
            RunnerSettings settings;
            settings.program = workerProgram();
            settings.inputs = QStringList{request.task.path};
            settings.stopGraceMs = 0;
            runner = std::make_unique<PageRunner>(settings);
            runnerDocument = request.task.path;
        }
        const TaskResult result = runner->runOne(request.task, supersede);
        if (result.outcome.result == PageOutcome::Stopped)
            continue; // superseded: nobody waits for it
        const quint64 id = request.id;
        QMetaObject::invokeMethod(
            this, [this, id, result] { emit drawn(id, result); }, Qt::QueuedConnection);
    }
    // The window is going (supersede is set): its worker is killed, not waited for.
    if (runner)
        runner->endWorkers(&supersede);
    runner.reset();
}
