#include "cli/StopSignal.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

// Written by the handler, on whichever thread the signal reaches, and read by the main loop.
// A lock-free atomic is safe in a handler and between threads.
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int number) {
    int none = 0;
    stopSignal.compare_exchange_strong(none, number);
}

}  // namespace

void InstallStopSignalHandlers() {
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // One-shot: the default action is back for the next signal of the same kind.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int StopSignalNumber() {
    return stopSignal.load();
}

int EndOfCommand(int code) {
    if (StopSignalNumber() == 0) return code;
    std::fflush(nullptr);
    std::_Exit(code);
}
