#ifndef INTERRUPTFLAG_H
#define INTERRUPTFLAG_H

#include <atomic>

// Set by SIGINT, SIGTERM and SIGHUP once installInterruptHandler() has run.
// The handler only stores to lock-free atomics, which is async-signal-safe.
std::atomic<bool> &interruptFlag();

// The signal that set the flag, 0 while it is not set.
int interruptSignal();

// Also ignores SIGPIPE: a report written to a closed pipe or connection
// (ssh turns Ctrl-C into SIGTERM and closes the job's stderr) fails with
// EPIPE instead of ending the program before its summary.
void installInterruptHandler();

#endif // INTERRUPTFLAG_H
