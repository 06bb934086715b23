#include "engine/memorybudget.h"

#include <algorithm>
#include <chrono>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

MemoryBudget::MemoryBudget(qint64 totalBytes)
    : totalBytes(qMax<qint64>(1, totalBytes))
{
}

qint64 MemoryBudget::defaultTotal()
{
#ifdef Q_OS_UNIX
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && pageSize > 0)
        return qint64(pages) * pageSize / 4;
#endif
    return qint64(1) << 30;
}

qint64 MemoryBudget::acquire(qint64 bytes, const std::atomic<bool> &stop)
{
    const qint64 wanted = std::clamp<qint64>(bytes, 1, totalBytes);
    std::unique_lock<std::mutex> lock(mutex);
    // The stop flag has no way to wake this wait, so it is looked at every few
    // milliseconds; a stop must end a run within a fraction of a second.
    while (used + wanted > totalBytes) {
        if (stop.load(std::memory_order_relaxed))
            return 0;
        released.wait_for(lock, std::chrono::milliseconds(20));
    }
    used += wanted;
    return wanted;
}

void MemoryBudget::release(qint64 bytes)
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        used -= bytes;
    }
    released.notify_all();
}

BudgetLease::BudgetLease(MemoryBudget *budget, qint64 bytes, const std::atomic<bool> &stop)
    : budget(budget)
{
    if (budget)
        this->bytes = budget->acquire(bytes, stop);
}

BudgetLease::~BudgetLease()
{
    if (budget && bytes > 0)
        budget->release(bytes);
}

void keepPageBuffersInHeap()
{
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 512 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
    mallopt(M_ARENA_MAX, 1);
#endif
}
