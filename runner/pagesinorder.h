#ifndef PAGESINORDER_H
#define PAGESINORDER_H

#include "runner/pagetask.h"

#include <QMap>

#include <optional>

// Results of tasks drawn side by side, handed back in task order: a page
// finished early waits until every page before it has been taken. A page
// written held back (PageTask::heldBack) is taken over on arrival, so that
// its worker's leftovers are removed without it, and its file stays under a
// temporary name until the caller puts it in place; those never taken are
// removed with this object, so a run that ends early leaves no file of a
// page after the one that ended it.
class PagesInOrder
{
public:
    PagesInOrder() = default;
    ~PagesInOrder();
    PagesInOrder(const PagesInOrder &) = delete;
    PagesInOrder &operator=(const PagesInOrder &) = delete;

    // A task's result taken in its turn. Its held file is removed with it
    // unless it was put in place.
    class Taken
    {
    public:
        Taken(int index, TaskResult result);
        ~Taken();
        Taken(Taken &&other) noexcept;
        Taken(const Taken &) = delete;
        Taken &operator=(const Taken &) = delete;
        Taken &operator=(Taken &&) = delete;

        int index() const { return taskIndex; }
        const TaskResult &result() const { return taken; }
        // Its file under target, the name it was drawn for; false with the reason.
        bool place(const QString &target, QString *why);

    private:
        int taskIndex;
        TaskResult taken;
    };

    // A task's result, in any order; a held file that cannot be taken over
    // (or is not the task's own) turns its page into a write failure with the reason.
    void add(int index, const PageTask &task, TaskResult result);
    // The next task's result once it is in.
    std::optional<Taken> next();

private:
    QMap<int, TaskResult> waiting;
    int nextIndex = 0;
};

#endif // PAGESINORDER_H
