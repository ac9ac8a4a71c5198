// An engine whose re-encoding pieces tests can reach, pictures to feed it, and a log recorder.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "binding/LibHandles.h"
#include "engine/CustomFFmpeg.h"
#include "support/LogRecorder.h"

class TReencodeEngine : public TCustomFFmpeg {
  public:
    // `pipeline`: the engine's mode for every job of this engine, kept across Reset.
    explicit TReencodeEngine(bool pipeline = true);
    ~TReencodeEngine() override { StopAndJoinThreads(); }

    void Reset() {
        TCustomFFmpeg::Reset();
        Pipeline = pipeline_;
    }

    using TCustomFFmpeg::DroppedFrames;
    using TCustomFFmpeg::DuplicatedFrames;
    using TCustomFFmpeg::HookAction;
    using TCustomFFmpeg::HookBitmap;
    using TCustomFFmpeg::HookFrameNumber;
    using TCustomFFmpeg::HookRangeIndex;
    using TCustomFFmpeg::PlanAudioSync;
    using TCustomFFmpeg::PreprocessPicture;
    using TCustomFFmpeg::SamplePerFrameCodedBytes;
    using TCustomFFmpeg::TAudioSyncPlan;
    using TCustomFFmpeg::VideoSyncFrames;

    // Every log line so far, and those containing a text.
    std::vector<std::string> Logs() const;
    int CountLogs(const std::string& text) const;

  private:
    const bool pipeline_;
    TLogRecorder log_;
};

// A picture with its own buffers, every sample of plane p set to fill[p].
TFramePtr MakePicture(AVPixelFormat format, int width, int height,
                      std::vector<uint8_t> fill = {16, 128, 128, 255});
// Sample (x, y) of a plane as the picture's data pointers currently say.
uint8_t Sample(const AVFrame* picture, int plane, int x, int y);
// A copy of a plane's visible bytes, row by row.
std::vector<uint8_t> PlaneBytes(const AVFrame* picture, int plane, int width, int height);

// One conversion as the component drives it: reset, input options, the input, output options,
// the output, then the run on the calling thread. `prepare` runs right after the reset (hook
// ranges, events). Empty when the job completed without error; otherwise what went wrong (the
// open error or the run's message).
using TOptionList = std::vector<std::pair<std::string, std::string>>;
std::string Convert(TReencodeEngine& engine, const std::string& input,
                    const TOptionList& inputOptions, const std::string& output,
                    const TOptionList& outputOptions,
                    const std::function<void(TReencodeEngine&)>& prepare = {});
// The same with several inputs, each opened after its own options.
using TInputList = std::vector<std::pair<std::string, TOptionList>>;
std::string Convert(TReencodeEngine& engine, const TInputList& inputs, const std::string& output,
                    const TOptionList& outputOptions,
                    const std::function<void(TReencodeEngine&)>& prepare = {});

// Bytes of all packets of the first stream of a type in a file, read through the libraries.
int64_t StreamBytes(const std::string& path, AVMediaType type);
