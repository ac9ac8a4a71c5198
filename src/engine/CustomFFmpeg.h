// The transcoding engine: one job's option state (inherited), its run flags, its worker thread
// and the events through which it reports to its owner.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/CodecLock.h"
#include "engine/EngineTypes.h"
#include "engine/FFmpegOptions.h"
#include "engine/HookBitmap.h"
#include "engine/RunState.h"

class TCustomFFmpeg;

// A thread of the engine. It is created held: the operating-system thread exists (so its id
// is known) but its body waits until Resume. The engine that made it owns it and joins it.
class TEngineThread {
  public:
    virtual ~TEngineThread();
    TEngineThread(const TEngineThread&) = delete;
    TEngineThread& operator=(const TEngineThread&) = delete;

    // Lets a held thread run its body; later calls do nothing.
    void Resume();
    // The kernel's id of the thread (gettid), known from creation on.
    pid_t ThreadId() const;
    // Stored only: the thread runs at the process's priority.
    TThreadPriority Priority() const { return priority_; }
    void SetPriority(TThreadPriority priority) { priority_ = priority; }
    // True once the body has returned (or was skipped).
    bool Finished() const { return finished_.load(); }
    bool IsCurrentThread() const { return thread_.get_id() == std::this_thread::get_id(); }
    // Waits for the thread to end; a thread still held ends without running its body.
    void Join();

  protected:
    explicit TEngineThread(std::function<void()> body);

  private:
    enum class TGate { Held, Released, Cancelled };
    void Main();

    std::function<void()> body_;
    std::atomic<TThreadPriority> priority_{tpNormal};
    std::atomic<bool> finished_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    TGate gate_ = TGate::Held;
    pid_t threadId_ = 0;
    std::thread thread_;  // last: it starts once everything above exists
};

// The worker of a threaded run: its body calls Run on its engine.
class TFFmpegThread : public TEngineThread {
  public:
    explicit TFFmpegThread(TCustomFFmpeg& engine);
};

// Raises the terminate event of a job that was stopped before it ever started.
class TDoTerminateThread : public TEngineThread {
  public:
    explicit TDoTerminateThread(TCustomFFmpeg& engine);
};

// A time range in which frame hooks work, microseconds.
struct THookTimeRange {
    int64_t StartUs = 0;
    int64_t EndUs = 0;
};

// The five events. Each runs on the thread that raised it (see Start, Stop); an unassigned
// slot is skipped. Assign them before Start.
using TBeforeHookEvent =
    std::function<void(TCustomFFmpeg* Sender, int64_t APTS, THookAction& AHookAction)>;
using TCustomHookEvent =
    std::function<void(TCustomFFmpeg* Sender, THookBitmap& ABitmap, int32_t AFrameNumber,
                       int64_t APTS, bool& AUpdate, bool& AStopHook)>;
using TLogEvent = std::function<void(TCustomFFmpeg* Sender, int ALevel, const std::string& AText)>;
using TProgressEvent = std::function<void(TCustomFFmpeg* Sender, const TProgressInfo& AInfo)>;
using TTerminateEvent = std::function<void(TCustomFFmpeg* Sender)>;

class TCustomFFmpeg : public TFFmpegOptions {
  public:
    TCustomFFmpeg();
    // Stops a running job, waits for its worker (however long the job takes to see the stop)
    // and frees everything the job holds. A derived class whose code the events reach calls
    // StopAndJoinThreads first in its own destructor. Never destroy an engine from one of its
    // own event handlers: its thread cannot wait for itself (the program aborts).
    ~TCustomFFmpeg() override;

    // Frees what the last job held and gives every option and flag its default, ready for a
    // new job. Does nothing when the libraries are not loaded or while a job runs.
    void Reset();

    // Starts the job. Refused (none, nothing changes) while running, once terminated (until
    // Reset) and while the termination of a never-started job is on its way. Without an output
    // or an input file the job fails on the spot: level -1 log line, error flag, terminate event
    // on the calling thread, result none. Not threaded: runs the whole job on the calling thread
    // and returns none. Threaded: returns the worker, created held; the caller resumes it. The
    // engine owns the worker; the pointer is valid until the job has ended.
    TFFmpegThread* Start(bool threaded, TThreadPriority priority);
    // Runs the job on the calling thread; whatever happens, it ends with every codec closed,
    // every file freed (empty outputs deleted) and exactly one terminate event.
    void Run();
    // Running: asks the job to stop at its next check and wakes a paused or held worker. Never
    // started: raises the terminate event from a TDoTerminateThread. Terminated: nothing.
    void Stop();
    // The worker stops at its next pause point and waits there until Resume or Stop.
    void Pause();
    // Lets a paused worker go on (and a worker still held at creation start).
    void Resume();
    // Ends the job's running state and raises the terminate event, once per job.
    void Terminate();
    // Frees everything a job holds: the option state, the output files (deleting those left
    // empty), the input files and the frame-hook state. Does nothing when the libraries are not
    // loaded.
    void Cleanup();

    bool IsRunning() const { return Running.load(); }
    bool IsStopRequested() const { return StopRequested.load(); }
    // After the terminate event: true for a job that ran to its end, false for a stopped or
    // failed one.
    bool IsCompleted() const { return Completed.load(); }
    bool IsTerminated() const { return Terminated.load(); }
    bool HasError() const { return ErrorFlag.load(); }
    std::string ErrorMessage() const;
    // True while the worker waits at a pause point.
    bool IsPaused() const;

    // The hook time ranges; they are kept sorted by their end.
    void SetHookTimeRanges(std::vector<THookTimeRange> ranges);

    int64_t ProgressIntervalUs = 500000;  // at most one progress report per interval

    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TLogEvent OnLog;
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;

  protected:
    void DoLog(int level, const std::string& text) override;
    // Logs a printf-style text, cut at 4095 characters.
    void Log(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // The body of a run: set-up, packet loop and shutdown. Returns when the job is done or
    // stopped; throws FFMpegException when it fails.
    virtual void Transcode();

    // Where the run's loop checks in: once per packet and before each emitted picture. Waits
    // while the job is paused (never while this thread holds CodecLock) and returns true when
    // the job is asked to stop.
    bool PausePoint();

    // Asks a running job to stop, wakes its worker and waits for every thread of the engine.
    // Must not be called on one of those threads (e.g. from an event handler).
    void StopAndJoinThreads();

    // Run flags; the owner's thread and the worker share them.
    std::atomic<bool> Running{false};
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> Completed{false};
    std::atomic<bool> Terminated{false};
    std::atomic<bool> ErrorFlag{false};

    // Codecs the run has open, closed by the end of Run at the latest.
    TOpenCodecList OpenEncoders;
    TOpenCodecList OpenDecoders;

    // Transcode statistics, reset by the defaults.
    int64_t VideoBytesWritten = 0;
    int64_t AudioBytesWritten = 0;
    int64_t GlobalHeaderBytes = 0;
    int32_t DuplicatedFrames = 0;
    int32_t DroppedFrames = 0;

    // Frame-hook state: the custom hook's picture and its converters, the frame counter, the
    // before-hook's current answer and the hook time ranges (sorted by end).
    std::unique_ptr<THookBitmap> HookBitmap;
    SwsContext* ToRGBContext = nullptr;    // decoded picture -> BGR 24-bit
    SwsContext* FromRGBContext = nullptr;  // BGR 24-bit -> picture
    int32_t HookFrameNumber = 0;
    THookAction HookAction = haContinue;
    std::vector<THookTimeRange> HookTimeRanges;
    int32_t HookRangeIndex = 0;

    // Reports a failure that ends the job: level -1 log line, error flag, stored message.
    void SetError(const std::string& message);

    // ---- Set-up of inputs and outputs (InputOutput.cpp, TargetPresets.cpp).
  public:
    // Opens and probes an input file and adds it to InputFiles; the input-scoped options are
    // consumed. False leaves the reason in LastError. Raises FFMpegException only for "invalid
    // codec_type" and "Incorrect aspect ratio specification.".
    bool OpenInputFile(const std::string& fileName);
    // Creates an output file with its streams and opens its byte stream; the output-scoped
    // options are consumed. False leaves the reason in LastError (and creates no file).
    bool OpenOutputFile(const std::string& fileName);
    // Which media types the open inputs hold. Raises "invalid codec_type of input file".
    void check_audio_video_sub_inputs(bool& hasVideo, bool& hasAudio, bool& hasSubtitle);
    // Codec id by encoder or decoder name; an empty name gives AV_CODEC_ID_NONE. False leaves
    // "Unknown %s '%s'" or "Invalid %s type '%s'" in LastError.
    bool FindCodec(const std::string& name, AVMediaType type, bool encoder, AVCodecID& id);

    // Per output file and stream, made by the stream creations, consumed by the transcode and
    // freed by Cleanup: the codec context (the encoder, or the copied parameters), whether the
    // stream is copied, its fixed quality (lambda units, 0 = none) and its filter chain.
    AVCodecContext* OutputCodecs[MAX_FILES][MAX_STREAMS] = {};
    bool OutputStreamCopy[MAX_FILES][MAX_STREAMS] = {};
    float OutputStreamQuality[MAX_FILES][MAX_STREAMS] = {};
    TBitstreamFilterChain OutputFilters[MAX_FILES][MAX_STREAMS];
    // Per input file: a decoder context per stream (made from the demuxer's parameters when the
    // file is opened; opened by the transcode only when needed) and the rate-emulation flag.
    std::vector<AVCodecContext*> InputCodecs[MAX_FILES];
    bool InputRateEmulation[MAX_FILES] = {};

  protected:
    // Add one stream to an output file; raise FFMpegException on failure.
    void new_video_stream(AVFormatContext* file);
    void new_audio_stream(AVFormatContext* file);
    void new_subtitle_stream(AVFormatContext* file);

    // ---- The run (TranscodeSetup.cpp, PacketPath.cpp, WriteFrame.cpp, ProgressReport.cpp,
    // MainLoop.cpp). The run state exists from the set-up to the end of the shutdown.
    TRunState RunState;
    // The encoder output buffer of the set-up (av_malloc, freed with the run state). Today's
    // encoders hand out their own packets; it is kept at its size for any output that wants it.
    int32_t EncoderOutputBufferSize = 262144;
    uint8_t* EncoderOutputBuffer = nullptr;

    // Writes one packet of an output stream: through the filter chain, then interleaved. The
    // packet is blank afterwards (the muxer took its contents). Raises FFMpegException with the
    // wording of the libraries' error for "av_interleaved_write_frame()" on a muxing error.
    void WriteFrame(AVFormatContext* file, AVPacket* packet, TBitstreamFilterChain& filters,
                    AVCodecContext* codec);
    // Sends one frame to an output stream's encoder (nullptr: end of stream, the encoder is
    // drained) and writes every packet it gives back: timestamps rescaled from the encoder's to
    // the stream's time base, key flag, byte counts (video or audio), ost.Coded, the first-pass
    // statistics text into ost.LogFile. Returns the size of the last packet written (0 when the
    // encoder gave none yet) or a negative library error code when sending or receiving failed
    // (nothing written then for that call; the caller words the error).
    int EncodeAndWrite(AVFormatContext* file, TOutputStreamState& ost, const AVFrame* frame);

    // ---- Re-encoding outputs (AudioOutput.cpp, VideoOutput.cpp, PictureHooks.cpp). Called by
    // the packet path on the worker thread. Members these files need may be added in this block.

    // Encodes a block of decoded samples for one output stream. `samples` is interleaved s16
    // with ist.SampleChannels channels at ist.SampleRate (volume already applied); `size` is in
    // bytes. Packets go out through EncodeAndWrite (or WriteFrame).
    void AudioOutput(AVFormatContext* file, TOutputStreamState& ost, TInputStreamState& ist,
                     uint8_t* samples, int size);
    // At the end of the input, before the encoder is drained: encodes what the FIFO still holds
    // as one last, shorter frame when the encoder takes one.
    void FlushAudioOutput(AVFormatContext* file, TOutputStreamState& ost);
    // Encodes one decoded picture (after PreprocessPicture) for one output stream, dropping or
    // duplicating for the frame rate; returns the byte size of the last packet written, 0 when
    // none. Checks PausePoint() before each emitted frame.
    int VideoOutput(AVFormatContext* file, TOutputStreamState& ost, TInputStreamState& ist,
                    AVFrame* picture);
    // Once per decoded picture, before the outputs see it: deinterlacing and hooks. May point
    // the picture's data and linesize at a working copy the engine owns; the packet path unrefs
    // the frame afterwards (its buf references stay the decoder's).
    void PreprocessPicture(TInputStreamState& ist, AVFrame* picture);
    // One line per encoded picture into the video statistics file.
    void WriteVideoStats(AVFormatContext* file, TOutputStreamState& ost, int frameSize);

  private:
    void ApplyEngineDefaults();
    void CloseOutputFiles();
    void CloseInputFiles();
    void FreeHookState();
    void FailStart(const char* message);
    // Ends a run whatever way Transcode left: closes what is open, cleans up, terminates.
    void FinishRun();
    // Joins every thread of the engine except the calling one.
    void JoinThreads();
    // Takes ownership of a new thread after joining those that have finished.
    template <typename Thread>
    Thread* AddThread(std::unique_ptr<Thread> thread);

    mutable std::mutex errorMutex_;
    std::string errorMessage_;

    // Guards worker_, paused_ and waitingInPause_; pauseChanged_ wakes a paused worker.
    mutable std::mutex stateMutex_;
    std::condition_variable pauseChanged_;
    TFFmpegThread* worker_ = nullptr;  // the running job's worker; forgotten by Terminate
    bool paused_ = false;
    bool waitingInPause_ = false;

    // A TDoTerminateThread is on its way: the job counts as terminated for Start and Stop.
    std::atomic<bool> terminatePending_{false};

    // Every thread the engine made and has not joined yet.
    std::mutex threadsMutex_;
    std::vector<std::unique_ptr<TEngineThread>> threads_;
};
