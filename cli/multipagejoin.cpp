#include "cli/multipagejoin.h"

#include "engine/atomicfile.h"
#include "engine/nativepath.h"

#include <algorithm>

#include <unistd.h>

namespace {

// Refused before anything of the page was drawn: it is left out of its file.
bool refusedBeforeDrawing(const PageOutcome &outcome)
{
    return outcome.result == PageOutcome::NoPage || outcome.result == PageOutcome::TooLarge
           || outcome.result == PageOutcome::TooSmall;
}

} // namespace

MultipageJoin::MultipageJoin(const BatchPlan &plan)
    : plan(plan)
    , files(plan.files.size())
{
    for (int f = 0; f < plan.files.size(); ++f)
        files[f].pages.resize(plan.files.at(f).pages.size());
}

MultipageJoin::~MultipageJoin()
{
    for (File &file : files)
        removeHeld(file);
}

void MultipageJoin::add(const Page &page, const PageTask &task, PageOutcome outcome)
{
    if (!outcome.heldAt.isEmpty()) {
        QString why;
        outcome.heldAt = AtomicFile::adopt(outcome.heldAt, task.outputPath, &why);
        if (outcome.heldAt.isEmpty()) {
            outcome.result = PageOutcome::WriteFailed;
            outcome.detail = why;
        }
    }
    // A page written must be held: nothing else of it could be joined.
    if (outcome.result == PageOutcome::Written && outcome.heldAt.isEmpty()) {
        outcome.result = PageOutcome::WriteFailed;
        outcome.detail = QStringLiteral("the worker held no file of the page");
    }
    files[page.file].pages[page.slot] = std::move(outcome);
}

// Why the file cannot be made: the first of its pages that failed once it was
// being drawn; empty when every page was written or refused before drawing.
QString MultipageJoin::whyGivenUp(const File &file) const
{
    for (const std::optional<PageOutcome> &page : file.pages)
        if (page->result != PageOutcome::Written && !refusedBeforeDrawing(*page))
            return QStringLiteral("the file was given up when page %1 failed").arg(page->page + 1);
    return QString();
}

QList<std::pair<int, PageTask>> MultipageJoin::joinTasks() const
{
    QList<std::pair<int, PageTask>> tasks;
    for (int f = 0; f < files.size(); ++f) {
        const File &file = files.at(f);
        const bool allIn = std::all_of(file.pages.cbegin(), file.pages.cend(), [](const auto &page) {
            return page && page->result != PageOutcome::Stopped;
        });
        if (!allIn || !whyGivenUp(file).isEmpty())
            continue;
        PageTask join = plan.taskFor(f, 0);
        join.kind = PageTask::Join;
        join.heldBack = false;
        join.pageIndex = -1;
        for (const std::optional<PageOutcome> &page : file.pages) {
            if (page->result != PageOutcome::Written)
                continue;
            if (join.pageIndex < 0)
                join.pageIndex = page->page;
            join.pieces << page->heldAt;
        }
        if (!join.pieces.isEmpty())
            tasks.append({f, join});
    }
    return tasks;
}

QList<PageOutcome> MultipageJoin::finish(int index, const std::optional<TaskResult> &joined)
{
    File &file = files[index];
    const bool allIn = std::all_of(file.pages.cbegin(), file.pages.cend(), [](const auto &page) {
        return page && page->result != PageOutcome::Stopped;
    });
    QList<PageOutcome> outcomes;
    if (allIn && (!joined || joined->outcome.result != PageOutcome::Stopped)) {
        QString failed = whyGivenUp(file);
        if (failed.isEmpty() && joined && joined->outcome.result != PageOutcome::Written)
            failed = joined->outcome.result == PageOutcome::WriteFailed
                         ? joined->outcome.detail
                         : QStringLiteral("its pages could not be joined: %1").arg(joined->outcome.detail);
        for (const std::optional<PageOutcome> &page : std::as_const(file.pages)) {
            PageOutcome outcome = *page;
            outcome.heldAt.clear();
            if (outcome.result == PageOutcome::Written && !failed.isEmpty()) {
                outcome.result = PageOutcome::WriteFailed;
                outcome.detail = failed;
            }
            outcomes << outcome;
        }
    }
    removeHeld(file);
    return outcomes;
}

void MultipageJoin::removeHeld(File &file)
{
    for (std::optional<PageOutcome> &page : file.pages) {
        if (page && !page->heldAt.isEmpty()) {
            ::unlink(nativePath(page->heldAt).constData());
            page->heldAt.clear();
        }
    }
}
