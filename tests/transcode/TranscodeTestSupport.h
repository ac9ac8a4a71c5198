// An engine for transcode tests: it records its events and exposes the run state, and a cache
// of generated clips shared by the tests of one program.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "engine/CustomFFmpeg.h"
#include "support/EngineRecorder.h"
#include "support/Ffprobe.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

class TTranscodeEngine : public TCustomFFmpeg {
  public:
    // `pipeline`: the engine's mode for every job of this engine, kept across Reset.
    explicit TTranscodeEngine(bool pipeline = true);
    ~TTranscodeEngine() override { StopAndJoinThreads(); }

    void Reset() {
        TCustomFFmpeg::Reset();
        Pipeline = pipeline_;
    }

    using TCustomFFmpeg::DroppedFrames;
    using TCustomFFmpeg::DuplicatedFrames;
    using TCustomFFmpeg::EncoderOutputBufferSize;
    using TCustomFFmpeg::FreeRunState;
    using TCustomFFmpeg::OpenDecoders;
    using TCustomFFmpeg::OpenEncoders;
    using TCustomFFmpeg::RunState;
    using TCustomFFmpeg::SetUpTranscode;

    // The set-up alone, freeing the run state when it fails (as a run does); what it opened
    // stays open until Cleanup.
    void SetUpOnly();
    // Options as a task gives them: keyword and value, in order.
    void Apply(const std::vector<std::pair<std::string, std::string>>& options);
    // Runs the job on the calling thread; true when it finished (neither stopped nor failed).
    bool RunToEnd();

    // What the engine reported; the log, progress and terminate slots are the recorder's.
    std::vector<TLogLine> Logs() const { return recorder_.Logs(); }
    bool Logged(const std::string& text) const { return recorder_.Log().Has(text); }
    std::vector<TProgressInfo> Progress() const { return recorder_.Progress(); }
    int TerminateCount() const { return recorder_.TerminateCount(); }
    bool CompletedAtTerminate() const { return recorder_.CompletedAtTerminate(); }

  private:
    const bool pipeline_;
    TEngineRecorder recorder_;
};

// Clips made once per test program, in a folder that lives as long as the program.
class TClipCache {
  public:
    static TClipCache& Instance();
    // The path of a clip written with the clipSpec the first time the name is asked for.
    std::string Clip(const std::string& name, const TClipSpec& clipSpec);

  private:
    TClipCache() = default;
    std::mutex mutex_;
    TTempDir dir_;
    std::vector<std::string> made_;
};

// Common clips: MP4 (mpeg4 + aac, 320x240, 25 fps, 2 s), MPEG-PS (mpeg2video + mp2), a WAV
// tone of a given length, an MPEG-TS clip.
std::string Mp4Clip();
std::string MpegPsClip();
std::string MpegTsClip();
std::string MpegTsAudioClip();
std::string WavClip(double seconds, int sampleRate = 8000);

// The first bytes of a file.
std::string FileHead(const std::string& path, size_t bytes);
