#include "engine/drawingnotes.h"

#include <mutex>

namespace DrawingNotes {

namespace {

std::mutex guard;
Notes gathered;

} // namespace

void add(Severity severity, const QString &text)
{
    const QString line = text.simplified();
    if (line.isEmpty())
        return;
    const std::lock_guard<std::mutex> lock(guard);
    ++gathered.count;
    gathered.errors = gathered.errors || severity == Severity::Error;
    if (gathered.first.size() < kept && !gathered.first.contains(line))
        gathered.first << line;
}

Notes take()
{
    const std::lock_guard<std::mutex> lock(guard);
    Notes taken = std::move(gathered);
    gathered = Notes();
    return taken;
}

} // namespace DrawingNotes
