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
#include "engine/JobStages.h"
#include "engine/Loudness.h"
#include "engine/MediaFiles.h"
#include "engine/RangeCut.h"
#include "engine/RunControl.h"
#include "engine/RunScheduler.h"
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
    bool IsStopRequested() const { return RunControl.StopRequested(); }
    // After the terminate event: true for a job that ran to its end, false for a stopped or
    // failed one.
    bool IsCompleted() const { return Completed.load(); }
    bool IsTerminated() const { return Terminated.load(); }
    bool HasError() const { return ErrorFlag.load(); }
    std::string ErrorMessage() const;
    // True while the worker waits at a pause point.
    bool IsPaused() const;
    // After a job: whether its stages ran on threads of their own (the Pipeline option was on
    // and the job could keep the one loop's output that way) or in the one loop.
    bool RanPipelined() const { return ranPipelined_.load(); }
    // Whether the kernel's thread `threadId` is one of the running job's own besides its worker
    // (a stage or the writer of a pipelined run), so that library log lines from it can be told
    // to belong to this job.
    bool RunsOnThread(pid_t threadId) const;

    // After a job with ranges ("trim"): the output's length they make, µs; -1 without ranges
    // or when the input's length is not known.
    int64_t CutLengthUs() const { return Cut && Cut->LengthUs > 0 ? Cut->LengthUs : -1; }
    // Per range: how much earlier than asked the output starts it (a copied video starts at a
    // key frame), µs; empty without ranges.
    std::vector<int64_t> CutLeadsUs() const { return Cut ? Cut->LeadsUs : std::vector<int64_t>{}; }
    // After a job with "loudness": per re-encoded sound stream what was measured and done
    // ("loudness: -34.8 LUFS, peak -12.1 dBTP; linear gain +18.8 dB"), or a line saying there
    // was no sound to normalise.
    const std::vector<std::string>& LoudnessNotes() const { return loudnessNotes_; }

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

    // Whether the job goes on, waits or stops: the one loop and the pipeline both honour it.
    TRunControl RunControl;
    // Run flags; the owner's thread and the worker share them.
    std::atomic<bool> Running{false};
    const TStopRequest StopRequested{RunControl};  // the stopping phase of RunControl
    std::atomic<bool> Completed{false};
    std::atomic<bool> Terminated{false};
    std::atomic<bool> ErrorFlag{false};
    std::atomic<bool> ranPipelined_{false};
    std::vector<std::string> loudnessNotes_;
    // The threads of a pipelined run while they run; any thread asks RunsOnThread.
    void NoteRunThread(pid_t threadId, bool running);
    mutable std::mutex runThreadsMutex_;
    std::vector<pid_t> runThreads_;

    // Codecs the run has open, closed by the end of Run at the latest.
    TOpenCodecList OpenEncoders;
    TOpenCodecList OpenDecoders;

    // Transcode statistics, reset by the defaults.
    int64_t VideoBytesWritten = 0;
    int64_t AudioBytesWritten = 0;
    int64_t GlobalHeaderBytes = 0;
    std::atomic<int32_t> DuplicatedFrames{0};  // counted by the video outputs, on any thread
    std::atomic<int32_t> DroppedFrames{0};
    // What the run met in its inputs, written on the job's thread and read after its end:
    // packets or pictures the decoders refused or patched up, the error that ended reading
    // early (0 when the inputs ended normally) and the input time (µs) of the first of either
    // (-1 when none).
    int32_t DecodeErrors = 0;
    int32_t ReadError = 0;
    int64_t FirstDamageUs = -1;
    void NoteInputDamage(int64_t inputTimeUs);

    // Frame-hook state: the custom hook's picture and its converters, the frame counter, the
    // before-hook's current answer and the hook time ranges (sorted by end).
    std::unique_ptr<THookBitmap> HookBitmap;
    TSwsPtr ToRGBContext;    // decoded picture -> BGR 24-bit
    TSwsPtr FromRGBContext;  // BGR 24-bit -> picture
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
    // The steps of OpenInputFile, which raise FFMpegException with the reason: the demuxer
    // opened and probed, the seek to the start time (the start of the media returned), a
    // decoder context per stream, what a raw input cannot tell by itself (size, rate, format,
    // channel, standard, loop), and the facts of the opened streams that the options take over
    // (frame size, aspect, pixel format and rate; sample rate and channels; discarding).
    TInputPtr OpenDemuxer(const std::string& fileName);
    int64_t SeekToStart(AVFormatContext* context);
    // In a file of several programs, only the chosen one's packets are read (StreamChoice.h).
    void KeepChosenProgram(AVFormatContext* context);
    TCodecContextPtr MakeDecoder(AVStream* stream, const std::string& fileName);
    void FillRawInputParameters(TDictionary& rawParameters) const;
    void TakeInputFacts(const TInputFile& input, const std::string& fileName);
    // Only the chosen stream of its type gives the facts (see StreamChoice.h).
    void TakeInputStreamFacts(AVStream* stream, AVCodecContext* codec, const std::string& fileName,
                              bool chosen);
    // The steps of OpenOutputFile, which raise FFMpegException with the reason: the whole
    // creation (on failure nothing of the file is left), the context for the format, the streams
    // the options and inputs ask for, the byte stream.
    void CreateOutputFile(const std::string& fileName);
    TOutputPtr AllocateOutput(const std::string& fileName);
    void AddOutputStreams(AVFormatContext* context);
    void OpenOutputByteStream(AVFormatContext* context, const std::string& fileName);
    // Which media types the open inputs hold. Raises "invalid codec_type of input file".
    void check_audio_video_sub_inputs(bool& hasVideo, bool& hasAudio, bool& hasSubtitle);
    // Codec id by encoder or decoder name; an empty name gives AV_CODEC_ID_NONE. False leaves
    // "Unknown %s '%s'" or "Invalid %s type '%s'" in LastError.
    bool FindCodec(const std::string& name, AVMediaType type, bool encoder, AVCodecID& id);
    void SetTarget(const std::string& targetType, const std::string& norm,
                   const std::string& fallbackNorm) override;
    void ParseTarget(const std::string& text) override;

    // The open files, in the order opened (InputFileCount and OutputFileCount of them), with
    // their streams; freed by Cleanup.
    TInputFile InputFiles[MAX_FILES];
    TOutputFile OutputFiles[MAX_FILES];

  protected:
    void NewVideoStream() override;
    void NewAudioStream() override;
    void NewSubtitleStream() override;
    // Add one stream to an output file; raise FFMpegException on failure.
    void new_video_stream(AVFormatContext* file);
    void new_audio_stream(AVFormatContext* file);
    void new_subtitle_stream(AVFormatContext* file);
    // The encoder of a stream: by name, or without one the format's own codec of the kind.
    // Raises what FindCodec refuses.
    const AVCodec* ChooseEncoder(const AVFormatContext* file, AVMediaType type,
                                 const std::string& name, AVCodecID& codecId);
    // The steps of new_video_stream: the context with its threads, tag and header flags; the
    // picture (rate, size, aspect, format); the rate control (returns the fixed quality).
    TCodecContextPtr MakeVideoContext(const AVFormatContext* file, const AVCodec* encoder);
    void SetVideoPicture(AVCodecContext* codec, const AVCodec* encoder);
    float SetVideoRateControl(AVCodecContext* codec, const std::vector<RcOverride>& overrides);
    // Without a video stream of its own, a format that holds a cover gets the first input's
    // cover picture, copied; false when it holds none or the input has none (TagsAndCover.cpp).
    bool new_cover_stream(AVFormatContext* file);
    // The recording's tags (title, artist, album, date, track, comment, ...) of the first input
    // that the output does not set itself; a Matroska file without pictures also gets the
    // input's cover as an attached file.
    void CarryTags(AVFormatContext* output);
    // The first input's chapters, moved and cut as the job cuts the input (its start and length,
    // or its ranges), to an output without chapters of its own; muxers that hold none ignore them.
    void CarryChapters(AVFormatContext* output);
    // The index of an output file in OutputFiles, or OutputFileCount for the file that
    // OpenOutputFile is still building.
    int OutputFileIndexOf(const AVFormatContext* file) const;
    // Adds a stream with its codec context (taken over when it succeeds) to an output file; none
    // when the file holds MAX_STREAMS streams or the library cannot add one.
    AVStream* AddOutputStream(AVFormatContext* file, TCodecContextPtr& codec, bool streamCopy,
                              float quality);
    // Frees the codec context and filter chain of one output stream slot.
    void FreeOutputStreamSlot(int fileIndex, int streamIndex);

    // ---- The run (TranscodeSetup.cpp, PacketPath.cpp, WriteFrame.cpp, ProgressReport.cpp,
    // MainLoop.cpp). The run state exists from the set-up to the end of the shutdown.
    TRunState RunState;
    // What the pipeline asks of the job's stages (JobStages.cpp).
    class TStages final : public TJobStages {
      public:
        explicit TStages(TCustomFFmpeg& engine) : engine_(engine) {}
        TRunState& Records() override;
        void EncodePicture(TOutputStreamState& ost, TInputStreamState& clock, AVFrame* picture,
                           const TRunPhaseSource& handedOn) override;
        void EncodeSamples(TOutputStreamState& ost, TInputStreamState& clock, uint8_t* samples,
                           int size) override;
        void EncodeSubtitle(TOutputStreamState& ost, TInputStreamState& ist, AVSubtitle* subtitle,
                            int64_t pts) override;
        void DrainOutput(TOutputStreamState& ost) override;
        void WriteEncoded(TOutputStreamState& ost, AVPacket* packet) override;
        void WriteAsIs(TOutputStreamState& ost, AVPacket* packet) override;
        void WriteCopied(TOutputStreamState& ost, AVRational from, int64_t sourcePts,
                         const AVPacket* packet) override;
        void ReportProgressAtInterval() override;
        void NoteRunThread(pid_t threadId, bool running) override;

      private:
        AVFormatContext* FileOf(const TOutputStreamState& ost) const;
        TCustomFFmpeg& engine_;
    };
    TStages Stages{*this};
    // The one loop: every stage's work done on the job's thread as it is handed on
    // (PacketPath.cpp, MainLoop.cpp, WriteFrame.cpp).
    class TOneLoop final : public TRunScheduler {
      public:
        explicit TOneLoop(TCustomFFmpeg& engine) : engine_(engine) {}
        int NextInputFile() override;
        void Deliver(TInputStreamState& ist, int istIndex, const AVPacket* packet, uint8_t* samples,
                     int samplesSize, AVFrame* picture, AVSubtitle* subtitle) override;
        void Drain(int istIndex) override;
        void PacketDone() override;
        void Write(AVFormatContext* file, TOutputStreamState& ost, AVPacket* packet,
                   bool encoder) override;
        int32_t FramesWritten(const TOutputStreamState& ost) const override;
        void Raise(std::function<void()> event) override;

      private:
        TCustomFFmpeg& engine_;
    };
    TOneLoop OneLoop{*this};
    // Whoever schedules the running job's stages: the one loop, or the pipeline while the job
    // runs pipelined (set on the job's thread before the pipeline's threads start, back to the
    // one loop once they are joined).
    TRunScheduler* Scheduler = &OneLoop;
    // The size of the encoder output buffer of 2008, bytes: at least 4 bytes per pixel of the
    // largest picture. Today's encoders hand out their own packets; the audio output still cuts
    // sample-per-frame blocks into pieces whose coded size fits it.
    int32_t EncoderOutputBufferSize = 262144;
    // Quantisers of the coded pictures reported so far (0 to 51), kept for the engine's life.
    int32_t QpHistogramCounts[52] = {};
    // Wall-clock start of the packet loop, microseconds.
    int64_t TimerStart = 0;

    // The set-up of a run, in the steps below; throws FFMpegException on failure.
    void SetUpTranscode();
    // A record per input stream, numbered across files in file order.
    void BuildInputStreamTable();
    // Output streams of all files; throws for a file without any.
    int CountOutputStreams() const;
    // Stream maps: one per output stream, each naming streams that exist.
    void CheckStreamMaps(int outputStreamCount) const;
    // A record per output stream with the codec, filters and quality its creation made.
    void BuildOutputStreamTable();
    // The input stream output stream number n takes its content from, and the one it keeps in
    // step with: the map's, or the first input stream of its type no output takes yet.
    void ChooseSource(TOutputStreamState& ost, int n);
    int FindUnmappedSource(AVMediaType type) const;
    // Codec parameters of one output stream: copied from the source, or an encoder set-up
    // with its picture conversion, sample FIFO and two-pass statistics.
    void SetUpStreamParameters(TOutputStreamState& ost, int n);
    void SetUpStreamCopy(TOutputStreamState& ost, const TInputStreamState& ist);
    void SetUpEncoding(TOutputStreamState& ost, TInputStreamState& ist, int n);
    // An audio output's sound graph, once its encoder is open (its frame size known).
    void SetUpSound(TOutputStreamState& ost);
    // The first pass of loudness normalisation for a sound output and what the second does.
    TLoudnessPlan PlanStreamLoudness(const TOutputStreamState& ost, const TInputStreamState& ist);
    // A lossy encoder's decoded peaks overshoot the ones it was given: the plan keeps this much
    // (dB) below the ceiling for them.
    static constexpr double kLossyPeakHeadroom = 1.0;
    void SetUpVideoConversion(TOutputStreamState& ost, TInputStreamState& ist);
    // The output's part of the picture graph, for the shape SetUpVideoConversion gave it.
    void BuildOutputPictureGraph(TOutputStreamState& ost, const TInputStreamState& ist);
    void LogStreamMapping();
    void OpenEncoder(TOutputStreamState& ost);
    // Encoders that print to standard error past the libraries' log are asked for errors only.
    static void QuietEncoderBanner(AVCodecContext* codec, const AVCodec* encoder);
    void ApplyMetaDataMaps();
    void WriteHeaders();
    // The packet loop and the shutdown: in the one loop, or with the stages on threads of their
    // own (Pipeline.cpp) when the option is on and the job keeps its output that way.
    void RunTranscodeLoop();
    // Whether the pipeline gives exactly the one loop's output for this job: one input, no
    // frame, time or size limit, no statistics file, each input's audio re-encoded at most once,
    // and something re-encoded.
    bool PipelineKeepsOutput() const;
    // Reads every packet and hands it to the packet path, until the inputs end, a limit is
    // reached or the job is stopped; then drains the decoders. The scheduler in place takes the
    // work.
    void ReadAndDeliver();
    // The same with the pipeline as the scheduler; returns once everything is written and the
    // pipeline's threads are joined.
    void ReadAndDeliverPipelined();
    // The input file to read next: the one whose outputs lag furthest behind (by input time
    // with InputSync); -1 when every input has ended or an output reached its frame limit.
    // optsMin is the earliest output time, seconds.
    int LaggingInputFile(double& optsMin) const;
    // Whether the recording time or the file size limit is reached, optsMin being the earliest
    // output time, seconds.
    bool OutputLimitReached(double optsMin) const;
    // The run's index of the input stream a packet of input file `fileIndex` belongs to; -1 for
    // a stream that appeared after the set-up or that is discarded.
    int InputStreamOfPacket(int fileIndex, const AVPacket* packet) const;
    // How far the streams of input file `fileIndex` that the run uses have got, µs.
    int64_t InputReachedUs(int fileIndex) const;
    // The file's offset and the stream's scale applied to a packet's timestamps; a jump beyond
    // the threshold moves the file's offset so that the stream goes on.
    void AdjustPacketTimes(const TInputStreamState& ist, int fileIndex, AVPacket* packet);
    // Drains the decoders (and through them the encoders).
    void DrainDecoders();
    // Writes the trailers, reports for the last time, closes the codecs and frees the run state.
    void FinishOutputs();
    // Frees the run-state tables and the packets of the run.
    void FreeRunState();
    // Opens an input stream's decoder unless it is open already.
    void OpenDecoder(TInputStreamState& ist);
    // The source's part of the picture graph of a video input (once, for its first re-encoding
    // output `encoder`): upright from the display matrix unless "noautorotate", tone-mapped when
    // HDR meets an 8-bit encoder, deinterlaced when asked; and the encoder's colour tags for
    // what it will hold (UprightPictures.cpp).
    void PreparePictureFilter(TInputStreamState& ist, AVCodecContext* encoder);
    // Reads the first-pass statistics into the encoder (stats_in).
    void ReadFirstPassStatistics(AVCodecContext* codec, const std::string& name);
    // One demuxed packet (or none, at the end of the input) of input stream `istIndex`: decodes
    // it when some output re-encodes from it, keeps the stream's clock and hands the content to
    // every output stream it feeds. 0 done, -1 the packet could not be decoded.
    int OutputPacket(TInputStreamState& ist, int istIndex, const AVPacket* packet);
    // Encodes one subtitle for an output stream; `pts` is in the input stream's time base.
    void WriteSubtitle(AVFormatContext* file, TOutputStreamState& ost, TInputStreamState& ist,
                       AVSubtitle* subtitle, int64_t pts);
    // The progress event (or line), at most once per interval and once more at the end.
    void ReportProgress(bool lastReport);
    // The output time an output stream has reached, seconds.
    double MuxedSeconds(const TOutputStreamState& ost) const;

  private:
    // The packet path's helpers and work objects (allocated by the set-up, freed with the run
    // state; the sample buffer only grows and lives as long as the engine).
    void ConvertToS16(TInputStreamState& ist, const AVFrame* frame, int& size);
    void EmulateRate(TInputStreamState& ist);
    void Deliver(TInputStreamState& ist, int istIndex, const AVPacket* packet, uint8_t* samples,
                 int samplesSize, AVFrame* picture, AVSubtitle* subtitle);
    void DeliverToOutputs(TInputStreamState& ist, int istIndex, const AVPacket* packet,
                          uint8_t* samples, int samplesSize, AVFrame* picture,
                          AVSubtitle* subtitle);
    // Cutting ranges out of the input (RangeCut.cpp). SetUpCut resolves the pieces (a copied
    // video starts each at the key frame at or before its start, logged) and seeks the first;
    // DeliverCut keeps what lies in the piece being read, trimmed and moved to the output's
    // clock; CutPieceRead tells when every stream an output takes has passed the piece's end;
    // AdvanceCut seeks the next piece (false when none is left: the run ends).
    void SetUpCut();
    void DeliverCut(TInputStreamState& ist, int istIndex, const AVPacket* packet, uint8_t* samples,
                    int samplesSize, AVFrame* picture, AVSubtitle* subtitle);
    bool CutPieceRead() const;
    bool AdvanceCut();
    // The input video stream (index in the first input) an output takes, preferring one that
    // is copied (`copied` tells), -1 for none.
    int CutVideoSource(bool& copied) const;
    // Seeks the first input to the key frame at or before a time on its clock (µs); INT64_MIN:
    // to the start of the file.
    void SeekInputClock(int64_t clock);
    // The time (on the input's clock) of the key frame of a stream at or before `clock`, no
    // earlier than `mediaStart`; of the first key frame when none is before; `clock` when none
    // is found. FirstKeyFrame reads on from where the input is to the first key frame (none:
    // AV_NOPTS_VALUE).
    TKeyFrameSeek KeyFrameAtOrBefore(int streamIndex, int64_t clock, int64_t mediaStart);
    int64_t FirstKeyFrame(int streamIndex);
    std::unique_ptr<TRangeCut> Cut;  // the job's ranges; none without
    TPacketPtr CutPacket;            // a copied packet moved to the output's clock
    int64_t PictureTime = 0;         // when the picture being delivered is shown, input's µs
    // The steps of OutputPacket: a packet that no output decodes (the clock moves on by its
    // duration); a subtitle packet decoded; an audio or video packet decoded (-1 when the
    // decoder refuses it) and each of its frames delivered as s16 samples or as a picture.
    void PassUndecodedPacket(TInputStreamState& ist, int istIndex, const AVPacket* packet);
    int DecodeSubtitlePacket(TInputStreamState& ist, int istIndex, const AVPacket* packet);
    int DecodeMediaPacket(TInputStreamState& ist, int istIndex, const AVPacket* packet);
    void DeliverDecodedSamples(TInputStreamState& ist, int istIndex, const AVPacket* packet,
                               const AVFrame* frame);
    void DeliverDecodedPicture(TInputStreamState& ist, int istIndex, const AVPacket* packet,
                               AVFrame* frame);
    // A stream copy's packet (from the first key frame on), its timestamps from the input
    // stream's time base `from` to the output stream's; `sourcePts` is the input stream's clock
    // (µs), the dts of a packet without one.
    void WriteCopiedPacket(AVFormatContext* file, TOutputStreamState& ost, AVRational from,
                           int64_t sourcePts, const AVPacket* packet);
    void DrainEncoders(int istIndex);
    // What a re-encoding audio or video output still holds at the end of its input: the FIFO's
    // last samples, then the encoder drained.
    void DrainEncoder(TOutputStreamState& ost);
    void ReportProgressAtInterval();
    // The steps of ReportProgress: the bytes of the first output file so far; the frame count,
    // speed and quantiser of the first video output (false before its first picture); the
    // report sent, `seconds` being the output time reached (-1 when none is known yet).
    int64_t FirstOutputSize() const;
    bool DescribeFirstVideoOutput(const TOutputStreamState& ost, bool lastReport,
                                  TProgressInfo& info, std::string& line);
    void SendProgress(TProgressInfo& info, std::string& line, int64_t totalSize, double seconds);
    std::vector<uint8_t> DecodedSamples;  // interleaved s16 handed to AudioOutput
    std::vector<uint8_t> SubtitleBuffer;  // encoded subtitles, 65536 bytes once used
    TPacketPtr CopyPacket;                // the packet a stream copy writes
    int32_t LastReportedDurationMs = -1;  // the progress never goes backwards
    int64_t LastReportTime = 0;           // wall clock of the last progress report, µs

  protected:
    // Writes one packet of an output stream: through the filter chain, then interleaved. The
    // packet is blank afterwards (the muxer took its contents). Raises FFMpegException with the
    // wording of the libraries' error for "av_interleaved_write_frame()" on a muxing error.
    void WriteFrame(AVFormatContext* file, AVPacket* packet, TBitstreamFilterChain& filters,
                    AVCodecContext* codec);
    // Sends one frame to an output stream's encoder (nullptr: end of stream, the encoder is
    // drained) and writes every packet it gives back: timestamps rescaled from the encoder's to
    // the stream's time base, key flag, byte counts (video or audio), ost.Coded, the first-pass
    // statistics text into ost.LogFile. Returns the size of the last packet written (0 when the
    // encoder gave none yet). Raises FFMpegException with `failure` when the encoder refuses the
    // frame or fails to give a packet.
    int EncodeAndWrite(AVFormatContext* file, TOutputStreamState& ost, const AVFrame* frame,
                       const char* failure);
    // An encoded packet written: ost.Coded and the byte counts taken from it, then WriteFrame.
    void WriteEncodedPacket(AVFormatContext* file, TOutputStreamState& ost, AVPacket* packet);

    // ---- Re-encoding outputs (AudioOutput.cpp, VideoOutput.cpp, PictureHooks.cpp). Called by
    // the packet path on the worker thread. Members these files need may be added in this block.

    // Encodes a block of decoded samples for one output stream. `samples` is interleaved s16
    // with ist.SampleChannels channels at ist.SampleRate; `size` is in bytes. The stream's sound
    // graph applies the volume and converts them. Packets go out through EncodeAndWrite.
    void AudioOutput(AVFormatContext* file, TOutputStreamState& ost, TInputStreamState& ist,
                     uint8_t* samples, int size);
    // The steps of AudioOutput: the block kept in step with the input's clock (samples dropped
    // from its front or silence put before it, or the resampler told to absorb the drift; false
    // when nothing is left to encode); the frames the sound graph has ready, encoded.
    bool SyncAudioBlock(TOutputStreamState& ost, TInputStreamState& ist, uint8_t*& samples,
                        int& size);
    void EncodeReadyAudio(AVFormatContext* file, TOutputStreamState& ost);
    // The sound graph's settings for an output stream with encoder `enc`, from the options.
    TSoundGraph::TSettings SoundSettings(const AVCodecContext* enc) const;
    // At the end of the input, before the encoder is drained: encodes what the sound graph
    // still holds, the last frame shorter when the encoder takes one.
    void FlushAudioOutput(AVFormatContext* file, TOutputStreamState& ost);
    // Encodes one decoded picture (after PreprocessPicture) for one output stream, dropping or
    // duplicating for the frame rate; returns the byte size of the last packet written, 0 when
    // none. Checks PausePoint() before each emitted frame: the picture is left out when the job
    // was stopping as it was handed on (`handedOn`), its further copies once the job stops.
    int VideoOutput(AVFormatContext* file, TOutputStreamState& ost, TInputStreamState& ist,
                    AVFrame* picture, const TRunPhaseSource& handedOn);
    // The steps of VideoOutput: how many times the picture goes out (drops and duplicates
    // counted, cut at the frame limit); the picture through the output's picture graph, in the
    // output's format, cropped, scaled and padded (false drops it); the copies encoded and
    // written.
    int64_t VideoFramesToEmit(TOutputStreamState& ost, const TInputStreamState& ist);
    // The input's clock for the output, seconds after the start, without its jumps: where it
    // runs more than a second behind the output's own position (`outputTime`), or further
    // ahead than the jump threshold ("dts_delta_threshold") and than the source meant its last
    // picture to show (`shownUntil`), the difference is added to ost.ClockShift and the output
    // goes on from where it is. A smaller gap ahead is a pause the output keeps: VideoOutput
    // lets the next picture wait for its time rather than copy one for more than a second.
    double SkipClockJump(TOutputStreamState& ost, double syncTime, double outputTime,
                         double shownUntil);
    bool ConvertPictureForOutput(TOutputStreamState& ost, const AVFrame* picture,
                                 TFrameHookPicture& output);
    int EmitVideoFrames(AVFormatContext* file, TOutputStreamState& ost,
                        const TInputStreamState& ist, const AVFrame* picture,
                        const TFrameHookPicture& output, int64_t frames,
                        const TRunPhaseSource& handedOn);
    // Once per decoded picture, after the source's picture graph and before the outputs see it:
    // the custom hook or the frame-hook modules, each with its own colour conversion. May point
    // the picture's data and linesize at a working copy the engine owns; the packet path unrefs
    // the frame afterwards (its buf references stay the decoder's).
    void PreprocessPicture(TInputStreamState& ist, AVFrame* picture);
    // One line per encoded picture into the video statistics file.
    void WriteVideoStats(AVFormatContext* file, TOutputStreamState& ost, int frameSize);

    // What the pre-processing keeps between pictures; each engine has its own (the outputs'
    // work buffers are in their records).
    TGrowingBuffer HookWorkBuffer;  // the copy of the picture the hooks work on
    TGrowingBuffer HookRGBBuffer;   // BGR 24 copy of the picture for the custom hook

    // Decides whether the frame-hook modules work on the picture at `pts` (microseconds): asks
    // the before-hook, or else looks the time up in the hook time ranges. Leaves the answer in
    // HookAction; haStop also switches FrameHooksInUse off for the rest of the run.
    void GateFrameHooks(int64_t pts);
    // Hands the picture (`format`, width × height, planes as given) to the custom hook as a BGR
    // bitmap and takes its changes back; switches the hook off when it fails or asks to stop.
    void RunCustomHook(TFrameHookPicture& picture, AVPixelFormat format, int width, int height,
                       int64_t pts);
    // The steps of RunCustomHook: the picture converted into HookRGBBuffer as BGR 24; the
    // bitmap filled, handed to the hook and, when the hook says so (the result), copied back;
    // the BGR copy converted back into the picture. False when a conversion cannot be made.
    bool ConvertToHookRGB(const TFrameHookPicture& picture, AVPixelFormat format, int width,
                          int height, TFrameHookPicture& rgb);
    bool CallCustomHook(const TFrameHookPicture& rgb, int width, int height, int64_t pts,
                        bool& stopHook);
    bool ConvertFromHookRGB(const TFrameHookPicture& rgb, AVPixelFormat format, int width,
                            int height, TFrameHookPicture& picture);

    // How many times a picture is emitted by an output running at `timeBase` (seconds per
    // frame) whose next frame is number `syncOpts`, for a picture `syncTime` seconds after the
    // start; 0 drops it. Re-stamping (method 2) and no synchronisation move `syncOpts` to the
    // picture's time instead.
    static int VideoSyncFrames(int method, double syncTime, AVRational timeBase, int64_t& syncOpts);
    // Whether the scaler converts pictures of format `from` into `to`. A format it does not
    // know (an input whose format is unknown, say) makes the library abort the program.
    static bool ScalerConverts(AVPixelFormat from, AVPixelFormat to);
    // What the audio output does about the distance between the input's clock and the samples
    // it has sent, for one block.
    struct TAudioSyncPlan {
        enum TKind { Keep, Discard, Silence, Compensate } Kind = Keep;
        double Delta = 0;         // sample frames (output rate) the output lags (+) or leads
        int64_t Bytes = 0;        // Discard: bytes dropped from the front; Silence: bytes added
        bool ClearStart = false;  // the input is in step: clear its start flag
        int Compensation = 0;     // Compensate: sample frames for the resampler to absorb
    };
    // The synchronisation of one block of `blockBytes` bytes of s16 at `decRate` Hz with
    // `decChannels` channels, for sync methods of 1 and more; `fifoFrames` sample frames wait in
    // the FIFO and `syncOpts` have been sent.
    static TAudioSyncPlan PlanAudioSync(double syncTime, int encRate, int64_t syncOpts,
                                        int64_t fifoFrames, int decRate, int decChannels,
                                        int64_t blockBytes, bool isStart, int method,
                                        double driftThreshold);
    // Bytes a sample-per-frame (PCM-like) encoder makes of `s16Bytes` bytes of s16 samples.
    static int64_t SamplePerFrameCodedBytes(AVCodecID codec, int64_t s16Bytes);

  private:
    void ApplyEngineDefaults();
    void CloseOutputFiles();
    void CloseInputFiles();
    void FreeHookState();
    void FailStart(const char* message);
    // Ends a run whatever way Transcode left: closes what is open, cleans up, terminates.
    void FinishRun();
    // Takes the encoders still open off their streams (and off OpenEncoders), unclosed.
    std::vector<TCodecContextPtr> TakeUndrainedEncoders();
    // Joins every thread of the engine except the calling one.
    void JoinThreads();
    // Takes ownership of a new thread after joining those that have finished.
    template <typename Thread>
    Thread* AddThread(std::unique_ptr<Thread> thread);

    mutable std::mutex errorMutex_;
    std::string errorMessage_;

    // Guards worker_.
    mutable std::mutex stateMutex_;
    TFFmpegThread* worker_ = nullptr;  // the running job's worker; forgotten by Terminate

    // A TDoTerminateThread is on its way: the job counts as terminated for Start and Stop.
    std::atomic<bool> terminatePending_{false};

    // Every thread the engine made and has not joined yet.
    std::mutex threadsMutex_;
    std::vector<std::unique_ptr<TEngineThread>> threads_;
};
