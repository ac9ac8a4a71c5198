// The converter as the main window uses it: the job builder's task operations, loading the
// media libraries, pausing and resuming, and the three events of a running task. The converter
// component stands behind this interface; the window knows nothing else of it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/core/JobBuilder.h"
#include "engine/EngineTypes.h"

// One progress report of the running task, in the engine's record.
struct TTaskProgressEvent {
    int Index = -1;  // the task's position in the component's list
    TProgressInfo Progress;
};

// One line of the task's log; Level -1 is the error that ended a run, 0 an error survived,
// 1 information, 2 debug.
struct TTaskLogEvent {
    int Index = -1;
    int Level = 1;
    std::string Message;
};

// The end of a task (Index >= 0), or of the whole run (Index -1).
struct TTaskTerminateEvent {
    int Index = -1;
    bool Finished = false;   // the task ran to its end
    bool Exception = false;  // the task failed; Message says why
    std::string Message;
    // A task that ran to its end without converting the whole input: why, in words.
    std::string Problem;
    // What a stopped or failed task kept of its output ("NAME.partial.EXT"); empty for none.
    std::string PartialFile;
};

// The handlers run on whichever thread raised the event, normally the task's worker thread,
// one at a time and in the order raised.
struct TConversionEvents {
    std::function<void(const TTaskProgressEvent&)> OnProgress;
    std::function<void(const TTaskLogEvent&)> OnLog;
    std::function<void(const TTaskTerminateEvent&)> OnTerminate;
};

// ClearTasks, DeleteTask and StopTasks work as the component's (see component/FFmpegVCL.h): in
// particular, once ClearTasks has returned no event of the cleared tasks runs any more, while
// StopTasks returns at once and the stopped task reports its end later.
class TConversionBackend : public TTaskRunner {
  public:
    // Loads the media libraries from the folder (or the system's) by their versioned names.
    // False when a library or an entry point is missing; LastErrorText says which.
    virtual bool LoadLibraries(const std::string& folder, bool useVersionedNames) = 0;
    virtual void PauseTasks() = 0;
    // Stops the task at `index` alone; it reports its end as StopTasks' do, the others go on.
    virtual void StopTask(int index) = 0;
    virtual void ResumeTasks() = 0;
    // Replaces the event handlers; empty handlers detach the window. After the call returns no
    // handler given before runs any more.
    virtual void SetEvents(TConversionEvents events) = 0;
    // The tasks added from now on run `parallelFiles` at once: their codecs share the cores, and
    // each runs its stages on threads of its own while it has two cores or more, and the last
    // ones always.
    virtual void ShareCoresAmong(int parallelFiles) { (void)parallelFiles; }
};

// A subscription to a backend's events, which ends itself: the handlers run until it goes out
// of scope or is reset, and none runs once that has returned.
class TEventSubscription {
  public:
    TEventSubscription() = default;
    TEventSubscription(TConversionBackend* backend, TConversionEvents events) : backend_(backend) {
        if (backend_) backend_->SetEvents(std::move(events));
    }
    ~TEventSubscription() { Reset(); }
    TEventSubscription(const TEventSubscription&) = delete;
    TEventSubscription& operator=(const TEventSubscription&) = delete;
    TEventSubscription& operator=(TEventSubscription&& other) noexcept {
        if (this != &other) {
            Reset();
            backend_ = other.backend_;
            other.backend_ = nullptr;
        }
        return *this;
    }

    void Reset() {
        if (backend_) backend_->SetEvents({});
        backend_ = nullptr;
    }

  private:
    TConversionBackend* backend_ = nullptr;
};
