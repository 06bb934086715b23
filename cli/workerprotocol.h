#ifndef WORKERPROTOCOL_H
#define WORKERPROTOCOL_H

#include "engine/pageoutcome.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The messages between velloran-cli and its worker processes, one line each.
// Both sides build the same checked plan from the same options, so a task
// names a page by its file's place in the plan and the page's index; the
// worker answers with the page's outcome. Strings travel in base64, so that
// no path or message can break a line.
struct WorkerTask
{
    int fileIndex = 0;
    int pageIndex = 0;
    int bandThreads = 1; // threads that may draw this page's bands
};

namespace WorkerProtocol {

// Sent once by a worker when its plan is built and it takes tasks, with why
// it could not be confined (empty when it is).
QByteArray readyLine(const QString &unconfinedBecause);
std::optional<QString> readReady(const QByteArray &line);

QByteArray taskLine(const WorkerTask &task);
std::optional<WorkerTask> readTask(const QByteArray &line);

QByteArray outcomeLine(const PageOutcome &outcome);
std::optional<PageOutcome> readOutcome(const QByteArray &line);

} // namespace WorkerProtocol

#endif // WORKERPROTOCOL_H
