#ifndef MULTIPAGEJOIN_H
#define MULTIPAGEJOIN_H

#include "cli/batchjob.h"
#include "runner/pagetask.h"

#include <QList>

#include <optional>

// The pages of a run's multi-page files (--multipage): each drawn by a worker
// as a whole single-page file, held under a temporary name, then joined into
// its file in page order by one more worker task, which copies the pages'
// compressed data and draws nothing. A file appears whole or not at all: a
// page that fails once drawing has begun (a crash, a time-out, a write)
// gives up its file, and a page refused before drawing (no such page, too
// large, too small) is left out of it and reported. Held pages still here
// are removed with this object.
class MultipageJoin
{
public:
    explicit MultipageJoin(const BatchPlan &plan);
    ~MultipageJoin();
    MultipageJoin(const MultipageJoin &) = delete;
    MultipageJoin &operator=(const MultipageJoin &) = delete;

    // A page of a file, to be drawn: its task, and its place among the file's pages.
    struct Page
    {
        int file;
        int slot;
    };
    // Its drawing's outcome; a held file is taken over from its worker on arrival.
    void add(const Page &page, const PageTask &task, PageOutcome outcome);

    // One task for each file whose pages are all in and of which some page is
    // to be joined, with its file's index; the others are done already.
    QList<std::pair<int, PageTask>> joinTasks() const;

    // The file's pages' outcomes once it is finished: joined is its join's
    // result, or none when it had no join. The pages' held files are removed.
    // Empty for a file with a page that never ended (the run was stopped).
    QList<PageOutcome> finish(int file, const std::optional<TaskResult> &joined);

private:
    struct File
    {
        QList<std::optional<PageOutcome>> pages; // in the order they go into the file
    };
    QString whyGivenUp(const File &file) const;
    void removeHeld(File &file);

    const BatchPlan &plan;
    QList<File> files;
};

#endif // MULTIPAGEJOIN_H
