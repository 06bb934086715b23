#include "runner/interruptflag.h"

#include <csignal>
#include <initializer_list>

namespace {

std::atomic<bool> interrupted{false};
std::atomic<int> signalNumber{0};
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onInterrupt(int number)
{
    int none = 0;
    signalNumber.compare_exchange_strong(none, number, std::memory_order_relaxed); // the first one counts
    interrupted.store(true, std::memory_order_relaxed);
}

} // namespace

std::atomic<bool> &interruptFlag()
{
    return interrupted;
}

int interruptSignal()
{
    return signalNumber.load(std::memory_order_relaxed);
}

void installInterruptHandler()
{
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}
