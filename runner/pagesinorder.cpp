#include "runner/pagesinorder.h"

#include "engine/atomicfile.h"
#include "engine/nativepath.h"

#include <unistd.h>

PagesInOrder::~PagesInOrder()
{
    for (const TaskResult &result : std::as_const(waiting))
        if (!result.outcome.heldAt.isEmpty())
            ::unlink(nativePath(result.outcome.heldAt).constData());
}

void PagesInOrder::add(int index, const PageTask &task, TaskResult result)
{
    PageOutcome &outcome = result.outcome;
    if (!outcome.heldAt.isEmpty()) {
        QString why;
        outcome.heldAt = AtomicFile::adopt(outcome.heldAt, task.outputPath, &why);
        if (outcome.heldAt.isEmpty()) {
            outcome.result = PageOutcome::WriteFailed;
            outcome.detail = why;
        }
    }
    waiting.insert(index, std::move(result));
}

std::optional<PagesInOrder::Taken> PagesInOrder::next()
{
    const auto found = waiting.find(nextIndex);
    if (found == waiting.end())
        return std::nullopt;
    std::optional<Taken> taken(std::in_place, nextIndex++, std::move(found.value()));
    waiting.erase(found);
    return taken;
}

PagesInOrder::Taken::Taken(int index, TaskResult result)
    : taskIndex(index)
    , taken(std::move(result))
{
}

PagesInOrder::Taken::Taken(Taken &&other) noexcept
    : taskIndex(other.taskIndex)
    , taken(std::move(other.taken))
{
    other.taken.outcome.heldAt.clear();
}

PagesInOrder::Taken::~Taken()
{
    if (!taken.outcome.heldAt.isEmpty())
        ::unlink(nativePath(taken.outcome.heldAt).constData());
}

bool PagesInOrder::Taken::place(const QString &target, QString *why)
{
    PageOutcome &outcome = taken.outcome;
    if (outcome.heldAt.isEmpty()) {
        *why = QStringLiteral("nothing was written");
        return false;
    }
    const bool placed = AtomicFile::place(outcome.heldAt, target, why);
    outcome.heldAt.clear(); // put in place, or removed by place()
    return placed;
}
