#ifndef MEMORYBUDGET_H
#define MEMORYBUDGET_H

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <mutex>

// A worker's bitmap memory, shared by the threads drawing a page's bands. A thread asks for what its
// page or band needs before rendering and waits while others hold too much,
// so that N threads on huge pages never hold more than the total together.
// The pipeline takes grants through a pointer (PageJob::memory) and nothing
// else: acquire() and release() are virtual, so that a caller may hand it a
// budget that also keeps account of the grants for itself.
class MemoryBudget
{
public:
    explicit MemoryBudget(qint64 totalBytes = defaultTotal());
    virtual ~MemoryBudget() = default;
    MemoryBudget(const MemoryBudget &) = delete;
    MemoryBudget &operator=(const MemoryBudget &) = delete;

    // About a quarter of the machine's physical memory.
    static qint64 defaultTotal();

    // Waits until bytes fit beside what the others hold. A request above the
    // total is cut to the total, so that it runs alone rather than never.
    // Returns the bytes granted, or 0 when stop was set while waiting.
    virtual qint64 acquire(qint64 bytes, const std::atomic<bool> &stop);
    // bytes: what acquire() returned.
    virtual void release(qint64 bytes);

    qint64 total() const { return totalBytes; }

private:
    const qint64 totalBytes;
    mutable std::mutex mutex;
    std::condition_variable released;
    qint64 used = 0;
};

// Every page allocates bitmaps of about the same large size. By default glibc
// maps each one afresh and returns it on release, so the kernel zeroes the
// memory again for every page; kept in the heap it is reused. The peak stays
// what it was: one page's buffers per thread. For a process that draws pages.
// Every thread takes its memory from the one heap: glibc's arenas for other
// threads are heaps of at most 64 MiB, so a band drawn on a helper thread
// (up to 64 MiB with its margins) was mapped afresh each time all the same.
void keepPageBuffersInHeap();

// Holds a grant for as long as it lives.
class BudgetLease
{
public:
    BudgetLease(MemoryBudget *budget, qint64 bytes, const std::atomic<bool> &stop);
    ~BudgetLease();
    BudgetLease(const BudgetLease &) = delete;
    BudgetLease &operator=(const BudgetLease &) = delete;

    // False when the wait was ended by stop; true without a budget.
    bool granted() const { return !budget || bytes > 0; }

private:
    MemoryBudget *budget;
    qint64 bytes = 0;
};

#endif // MEMORYBUDGET_H
