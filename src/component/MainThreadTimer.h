// What a component needs from its owner to run tasks on the owner's main thread: a way to run a
// callback there after a delay. A window program gives it a single-shot timer of its toolkit; a
// program without one gives its own event loop.
#pragma once

#include <functional>

class TMainThreadTimer {
  public:
    virtual ~TMainThreadTimer() = default;

    // Runs `callback` once, on the owner's main thread, no sooner than `delayMs` milliseconds
    // from now. Called on the main thread. The callback checks for itself whether what it was
    // scheduled for still exists, so a timer may run it late but must run it at most once.
    virtual void RunLater(int delayMs, std::function<void()> callback) = 0;
};
