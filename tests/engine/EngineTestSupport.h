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
#include "support/EngineRecorder.h"
#include "support/WaitUntil.h"

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
