// Helpers for the component's tests: a main-thread loop standing in for a window system's
// timer, an event recorder, and a component whose task list a test can reach.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "component/FFmpegVCL.h"
#include "support/WaitUntil.h"

// The owner's main loop: callbacks scheduled with RunLater run on the thread that calls RunUntil
// (the test's main thread), once they are due.
class TTestMainLoop : public TMainThreadTimer {
  public:
    void RunLater(int delayMs, std::function<void()> callback) override;
    // Runs due callbacks until `done` holds; false when it does not within a generous limit.
    bool RunUntil(const std::function<bool()>& done);
    // Callbacks scheduled and not yet run.
    size_t Waiting() const;
    // The delays asked for, in order.
    std::vector<int> Delays() const;

  private:
    using TClock = std::chrono::steady_clock;
    struct TItem {
        TClock::time_point due;
        std::function<void()> callback;
    };
    mutable std::mutex mutex_;
    std::vector<TItem> items_;
    std::vector<int> delays_;
};

// One event as a handler saw it. Kind: 'T' terminate, 'L' log, 'P' progress, 'H' a hook.
struct TRecordedEvent {
    char kind = 0;
    int index = -1;
    uint32_t threadId = 0;                     // the thread the handler ran on
    bool finished = false, exception = false;  // terminate
    TLogLevel level = llQuiet;                 // log
    std::string text;                          // terminate message or log line
    int frameNumber = 0;                       // progress, hook
    int totalDuration = 0;                     // progress
    TTaskResult result;                        // terminate
};

// Records the events of one component, from whatever thread, in the order they ran.
class TEventRecorder {
  public:
    // Hooks OnLog, OnProgress and OnTerminate of the component (keeping handlers already there
    // for the hooks).
    void Attach(TFFmpegVCL& component);

    std::vector<TRecordedEvent> Events() const;
    std::vector<TRecordedEvent> Terminates() const;
    std::vector<TRecordedEvent> Logs() const;
    // Waits (up to a generous limit) until the run-end event (-1) has been seen `count` times.
    bool WaitForRunEnd(int count = 1) const;
    bool WaitFor(const std::function<bool(const std::vector<TRecordedEvent>&)>& condition) const;
    void Add(TRecordedEvent event);
    // From now on every event counts as late (see LateEvents).
    void MarkClosed();
    int LateEvents() const;

    // Called inside the terminate handler, on its thread, after the event was recorded.
    std::function<void(const TRecordedEvent&)> OnTerminateSeen;
    // Called inside the progress handler, on its thread.
    std::function<void(const TRecordedEvent&)> OnProgressSeen;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<TRecordedEvent> events_;
    bool closed_ = false;
    int late_ = 0;
};

// A component whose task list a test may look into.
class TTestComponent : public TFFmpegVCL {
  public:
    using TFFmpegVCL::TFFmpegVCL;
    ~TTestComponent() override { ShutDown(); }

    int TaskCount() const { return Tasks().Count(); }
    TFFmpeg& Task(int index) const { return Tasks().Get(index); }
};

// Loads the libraries through the component (the log capture is installed that way).
void LoadThroughComponent(TTestComponent& component);

// Waits for a condition another thread makes true; false after a generous limit.

// The hook time ranges an engine holds (they are protected).
std::vector<THookTimeRange> HookTimeRangesOf(TFFmpeg& task);
