// What an engine reported, from whatever thread: its log, its progress reports and its terminate
// events. It outlives the engine it watched. Header-only, so that only the tests of the engine's
// layers and above take the engine in.
#pragma once

#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "engine/CustomFFmpeg.h"
#include "support/LogRecorder.h"
#include "support/WaitUntil.h"

class TEngineRecorder {
  public:
    // Takes the engine's OnLog, OnProgress and OnTerminate.
    void Attach(TCustomFFmpeg& engine) {
        engine.OnLog = [this](TCustomFFmpeg*, int level, const std::string& text) {
            log_.Add(level, text);
        };
        engine.OnProgress = [this](TCustomFFmpeg*, const TProgressInfo& testInfo) {
            std::lock_guard lock(mutex_);
            progress_.push_back(testInfo);
        };
        engine.OnTerminate = [this](TCustomFFmpeg* sender) {
            std::lock_guard lock(mutex_);
            ++terminates_;
            terminateThread_ = gettid();
            completed_ = sender->IsCompleted();
            error_ = sender->HasError();
            message_ = sender->ErrorMessage();
            changed_.notify_all();
        };
    }

    const TLogRecorder& Log() const { return log_; }
    std::vector<TLogLine> Logs() const { return log_.Lines(); }
    std::vector<TProgressInfo> Progress() const { return Locked(progress_); }
    int TerminateCount() const { return Locked(terminates_); }
    pid_t TerminateThread() const { return Locked(terminateThread_); }  // of the last event
    // The engine's state as the last terminate event saw it.
    bool CompletedAtTerminate() const { return Locked(completed_); }
    bool ErrorAtTerminate() const { return Locked(error_); }
    std::string MessageAtTerminate() const { return Locked(message_); }
    // Waits (up to a generous limit, so a fault fails instead of hanging) for the n-th event.
    bool WaitForTerminates(int n) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kTestPatience, [&] { return terminates_ >= n; });
    }

  private:
    template <typename T>
    T Locked(const T& value) const {
        std::lock_guard lock(mutex_);
        return value;
    }

    TLogRecorder log_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<TProgressInfo> progress_;
    int terminates_ = 0;
    pid_t terminateThread_ = 0;
    bool completed_ = false, error_ = false;
    std::string message_;
};
