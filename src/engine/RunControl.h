// Whether a job goes on, waits or ends, as its owner asks and as its reading finds: one state
// that both schedulers honour. The owner's thread pauses, resumes and stops it, the job's thread
// marks the end of the inputs; the loop's thread and the pipeline's stages read it at their
// check points, and a stage's job carries the phase the job's thread saw when it handed it on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

enum class TRunPhase {
    kRunning,   // reading, converting and writing
    kPaused,    // the job's threads wait at their next check point until resumed or stopped
    kDraining,  // the inputs have ended: everything held is converted and written
    kStopping,  // the owner asked to stop: reading ends, what is in hand is finished, and the
                // pictures a video encoder still holds for its look-ahead are left out
};

// The phase a job was in as a piece of its work was handed on, as the thread that does the work
// reads it: the job's own phase where the work is done as it is handed on (the one loop), the
// phase kept with the work where another thread does it later (a stage of the pipeline).
class TRunPhaseSource {
  public:
    virtual TRunPhase Phase() const = 0;

  protected:
    ~TRunPhaseSource() = default;
};

// A phase kept with a piece of work.
class TKeptPhase final : public TRunPhaseSource {
  public:
    explicit TKeptPhase(TRunPhase phase) : phase_(phase) {}
    TRunPhase Phase() const override { return phase_; }

  private:
    TRunPhase phase_;
};

class TRunControl final : public TRunPhaseSource {
  public:
    TRunControl() = default;
    TRunControl(const TRunControl&) = delete;
    TRunControl& operator=(const TRunControl&) = delete;

    // A new job: running.
    void Begin();
    // Running or draining: paused, until Resume or Stop.
    void Pause();
    // Paused: back to what it was before the pause.
    void Resume();
    // Stopping, from any phase; wakes every thread that waits at a check point.
    void Stop();
    // The inputs have ended: draining, unless stopping (a pause stays, and drains once resumed).
    void Drain();

    TRunPhase Phase() const override { return phase_.load(); }
    bool StopRequested() const { return Phase() == TRunPhase::kStopping; }
    // Where a job's thread checks in: waits while paused, unless it may not (it holds a lock
    // others need); true once the job is to stop.
    bool CheckPoint(bool mayWait);
    // Whether some thread of the job waits at a check point.
    bool IsWaiting() const;

  private:
    void Set(TRunPhase phase);

    mutable std::mutex mutex_;  // the phase's changes and waiting_
    std::condition_variable changed_;
    std::atomic<TRunPhase> phase_{TRunPhase::kRunning};
    TRunPhase beforePause_ = TRunPhase::kRunning;
    int waiting_ = 0;
};

// The stop part of a run control, read as the job's stop flag (`StopRequested.load()`).
class TStopRequest {
  public:
    explicit TStopRequest(const TRunControl& control) : control_(control) {}
    bool load() const { return control_.StopRequested(); }
    explicit operator bool() const { return load(); }

  private:
    const TRunControl& control_;
};
