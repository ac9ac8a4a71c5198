#include "ComponentTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/TempDir.h"

void TTestMainLoop::RunLater(int delayMs, std::function<void()> callback) {
    std::lock_guard lock(mutex_);
    items_.push_back({TClock::now() + std::chrono::milliseconds(delayMs), std::move(callback)});
    delays_.push_back(delayMs);
}

bool TTestMainLoop::RunUntil(const std::function<bool()>& done) {
    const auto limit = TClock::now() + kTestPatience;
    while (!done()) {
        if (TClock::now() > limit) return false;
        std::function<void()> due;
        {
            std::lock_guard lock(mutex_);
            for (auto it = items_.begin(); it != items_.end(); ++it) {
                if (it->due > TClock::now()) continue;
                due = std::move(it->callback);
                items_.erase(it);
                break;
            }
        }
        if (due)
            due();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

size_t TTestMainLoop::Waiting() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

std::vector<int> TTestMainLoop::Delays() const {
    std::lock_guard lock(mutex_);
    return delays_;
}

void TEventRecorder::Attach(TFFmpegVCL& component) {
    component.OnTerminate = [this](int index, bool finished, bool exception,
                                   const std::string& message, const TTaskResult& result) {
        TRecordedEvent event;
        event.kind = 'T';
        event.index = index;
        event.finished = finished;
        event.exception = exception;
        event.text = message;
        event.result = result;
        Add(event);
        if (OnTerminateSeen) OnTerminateSeen(event);
    };
    component.OnLog = [this](int index, TLogLevel level, const std::string& text) {
        TRecordedEvent event;
        event.kind = 'L';
        event.index = index;
        event.level = level;
        event.text = text;
        Add(event);
    };
    component.OnProgress = [this](int index, int frameNumber, int, int, float, float, int64_t,
                                  int totalDuration) {
        TRecordedEvent event;
        event.kind = 'P';
        event.index = index;
        event.frameNumber = frameNumber;
        event.totalDuration = totalDuration;
        Add(event);
        if (OnProgressSeen) OnProgressSeen(event);
    };
}

void TEventRecorder::Add(TRecordedEvent event) {
    event.threadId = CurrentThreadId();
    std::lock_guard lock(mutex_);
    if (closed_) ++late_;
    events_.push_back(std::move(event));
    changed_.notify_all();
}

std::vector<TRecordedEvent> TEventRecorder::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<TRecordedEvent> TEventRecorder::Terminates() const {
    std::vector<TRecordedEvent> terminates;
    for (const auto& event : Events())
        if (event.kind == 'T') terminates.push_back(event);
    return terminates;
}

std::vector<TRecordedEvent> TEventRecorder::Logs() const {
    std::vector<TRecordedEvent> logs;
    for (const auto& event : Events())
        if (event.kind == 'L') logs.push_back(event);
    return logs;
}

bool TEventRecorder::WaitFor(
    const std::function<bool(const std::vector<TRecordedEvent>&)>& condition) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kTestPatience, [&] { return condition(events_); });
}

bool TEventRecorder::WaitForRunEnd(int count) const {
    return WaitFor([count](const std::vector<TRecordedEvent>& events) {
        int ends = 0;
        for (const auto& event : events) ends += event.kind == 'T' && event.index == -1;
        return ends >= count;
    });
}

void TEventRecorder::MarkClosed() {
    std::lock_guard lock(mutex_);
    closed_ = true;
}

int TEventRecorder::LateEvents() const {
    std::lock_guard lock(mutex_);
    return late_;
}

void LoadThroughComponent(TTestComponent& component) {
    RequireMediaLibraries();
    ASSERT_TRUE(component.LoadLibraries("", true)) << component.LastErrorText();
}

std::vector<THookTimeRange> HookTimeRangesOf(TFFmpeg& task) {
    // A member pointer taken in a derived class reaches the protected table of any engine.
    struct TAccess : TFFmpeg {
        static std::vector<THookTimeRange>& Ranges(TFFmpeg& engine) {
            return engine.*(&TAccess::HookTimeRanges);
        }
    };
    return TAccess::Ranges(task);
}
