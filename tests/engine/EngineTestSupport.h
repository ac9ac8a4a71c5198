// An engine for tests: it records every event, opens real input and output files, and runs a
// body of the test's choosing in place of the transcode.
#pragma once

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/CustomFFmpeg.h"

struct TLogLine {
    int level;
    std::string text;
};

// What the engine reported, from whatever thread; it outlives the engine it watched.
class TEventRecorder {
  public:
    void Attach(TCustomFFmpeg& engine);

    int TerminateCount() const;
    pid_t TerminateThread() const;      // the thread of the last terminate event
    bool CompletedAtTerminate() const;  // the engine's state as the last event saw it
    bool ErrorAtTerminate() const;
    std::string MessageAtTerminate() const;
    std::vector<TLogLine> Logs() const;
    // Waits (up to a generous limit, so a fault fails instead of hanging) for the n-th event.
    bool WaitForTerminates(int n) const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    int terminates_ = 0;
    pid_t terminateThread_ = 0;
    bool completed_ = false, error_ = false;
    std::string message_;
    std::vector<TLogLine> logs_;
};

class TTestEngine : public TCustomFFmpeg {
  public:
    ~TTestEngine() override { StopAndJoinThreads(); }

    // Runs in place of the transcode when set.
    std::function<void(TTestEngine&)> Body;

    using TCustomFFmpeg::Completed;
    using TCustomFFmpeg::HookBitmap;
    using TCustomFFmpeg::Log;
    using TCustomFFmpeg::OpenDecoders;
    using TCustomFFmpeg::OpenEncoders;
    using TCustomFFmpeg::PausePoint;
    using TCustomFFmpeg::StopRequested;
    using TCustomFFmpeg::ToRGBContext;

    // Opens an output file of the given format; with a header, it gets one audio stream and
    // its header is written (so the file is not empty once closed). Added to OutputFiles.
    void AddOutput(const std::string& path, const char* format = "wav", bool writeHeader = false);
    // Opens a short generated WAV clip as the next input file.
    void AddInput(const std::string& path);

  protected:
    void Transcode() override {
        if (Body)
            Body(*this);
        else
            TCustomFFmpeg::Transcode();
    }
};

// Writes the short WAV clip that AddInput opens (0.2 s, 8000 Hz, mono).
void WriteInputClip(const std::string& path);

// Waits for a condition that another thread makes true; false after a generous limit.
bool WaitUntil(const std::function<bool()>& condition);
