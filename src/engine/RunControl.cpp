#include "engine/RunControl.h"

void TRunControl::Set(TRunPhase phase) {
    phase_ = phase;
    changed_.notify_all();
}

void TRunControl::Begin() {
    std::lock_guard lock(mutex_);
    beforePause_ = TRunPhase::kRunning;
    Set(TRunPhase::kRunning);
}

void TRunControl::Pause() {
    std::lock_guard lock(mutex_);
    const TRunPhase phase = phase_.load();
    if (phase != TRunPhase::kRunning && phase != TRunPhase::kDraining) return;
    beforePause_ = phase;
    Set(TRunPhase::kPaused);
}

void TRunControl::Resume() {
    std::lock_guard lock(mutex_);
    if (phase_.load() == TRunPhase::kPaused) Set(beforePause_);
}

void TRunControl::Stop() {
    std::lock_guard lock(mutex_);
    Set(TRunPhase::kStopping);
}

void TRunControl::Drain() {
    std::lock_guard lock(mutex_);
    if (phase_.load() == TRunPhase::kPaused)
        beforePause_ = TRunPhase::kDraining;
    else if (phase_.load() == TRunPhase::kRunning)
        Set(TRunPhase::kDraining);
}

bool TRunControl::CheckPoint(bool mayWait) {
    if (mayWait && phase_.load() == TRunPhase::kPaused) {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.wait(lock, [this] { return phase_.load() != TRunPhase::kPaused; });
        --waiting_;
    }
    return StopRequested();
}

bool TRunControl::IsWaiting() const {
    std::lock_guard lock(mutex_);
    return waiting_ > 0;
}
