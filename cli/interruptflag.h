#ifndef INTERRUPTFLAG_H
#define INTERRUPTFLAG_H

#include <atomic>

// Set by SIGINT and SIGTERM once installInterruptHandler() has run. The
// handler only stores to this lock-free atomic, which is async-signal-safe.
std::atomic<bool> &interruptFlag();

void installInterruptHandler();

#endif // INTERRUPTFLAG_H
