#ifndef PREVIEWDRAWER_H
#define PREVIEWDRAWER_H

#include "runner/pagetask.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class PageRunner;

// Draws the window's previews in a worker process, off the GUI thread: a
// page that crashes the renderer or never ends costs that preview, not the
// window. One preview at a time; a new request supersedes the one being
// drawn, whose worker is killed and whose result is dropped.
class PreviewDrawer : public QObject
{
    Q_OBJECT

public:
    // How much processor time a preview may take before its worker is killed.
    static constexpr qint64 timeLimitMs = 20000;

    explicit PreviewDrawer(QObject *parent = nullptr);
    ~PreviewDrawer() override;

    // Starts drawing the page; the answer comes through drawn() with this id.
    void request(quint64 id, const QString &path, int pageIndex, const QSize &area);
    // Starts opening the document in the worker, to learn whether it loads
    // (a probe task); the answer comes the same way.
    void requestOpening(quint64 id, const QString &path);
    // Drops the preview being drawn, if any.
    void cancel();

signals:
    // On the GUI thread. A superseded request gets no answer.
    void drawn(quint64 id, const TaskResult &result);

private:
    void drawLoop();
    void ask(quint64 id, const PageTask &task);

    struct Request
    {
        quint64 id = 0;
        PageTask task;
    };
    std::mutex mutex;
    std::condition_variable wanted;
    std::optional<Request> pending;
    bool quitting = false;
    quint64 drawingId = 0;                 // under mutex
    std::atomic<bool> supersede{false};    // stops the preview in hand
    std::unique_ptr<PageRunner> runner;    // the drawing thread's alone
    QString runnerDocument;
    std::thread thread;
};

#endif // PREVIEWDRAWER_H
