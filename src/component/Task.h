// One conversion task of the component, and the component's ordered list of them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "component/OptionRecords.h"
#include "engine/CustomFFmpeg.h"

// An index outside a task list.
class EListError : public std::out_of_range {
  public:
    explicit EListError(int index);
};

// How far an output's length may fall short of its source's and still count as whole:
// container and codec framing (an audio frame, a last picture's duration) make outputs differ by
// a few hundredths; a conversion cut short misses far more. The larger of the two applies.
inline constexpr int64_t kLengthToleranceUs = 500'000;
inline constexpr double kLengthToleranceShare = 0.02;
// The larger of kLengthToleranceUs and kLengthToleranceShare of `sourceUs`.
int64_t LengthToleranceUs(int64_t sourceUs);

// How a task's output came out, final once its terminate event is raised.
struct TTaskResult {
    // Where the output is now: its own name once the conversion is complete; for a stopped or
    // failed task whose output plays, the name with ".partial" before its extension; empty when
    // nothing was kept (an output that does not play is removed).
    std::string OutputFile;
    bool Partial = false;      // OutputFile holds only what was converted before the end
    int64_t SourceUs = -1;     // how long the output should last; -1 when that is not known
    int64_t ConvertedUs = -1;  // how long it lasts as written; -1 when not known
    int32_t DecodeErrors = 0;  // packets or pictures of the input the decoders refused or patched
    // Why a task that ran to its end did not convert the whole input, in words: "the input is
    // damaged after 00:10; 10.0 of 20.2 s converted". Empty when it did.
    std::string Problem;
    // Per range cut out of the input: how much earlier than asked the output starts it (a copied
    // video starts at the key frame at or before the range's start), µs; empty without ranges.
    std::vector<int64_t> CutLeadsUs;
    // With loudness normalisation: per sound stream what was measured and done, as the engine
    // logs it ("loudness: -34.8 LUFS, peak -12.1 dBTP; linear gain +18.8 dB").
    std::vector<std::string> LoudnessNotes;
};

// Names beside an output: ".NAME.ROLE.EXT" (hidden) for what is still being written, which is
// renamed to the output's own name once complete; "NAME.partial.EXT" for what a stopped or
// failed conversion kept. Numbered ("NAME.partial-1.EXT") past names already taken.
std::string WorkingNameBeside(const std::string& output, const std::string& role);
std::string PartialNameOf(const std::string& output);
// "the input is damaged after 00:10; 10.0 of 20.2 s converted", or empty when the conversion
// is whole: no damage met and no shorter than its source beyond LengthToleranceUs.
// `damageUs` is the input time of the first damage, -1 when none was met.
std::string ConversionProblem(int64_t sourceUs, int64_t convertedUs, int32_t decodeErrors,
                              bool readError, int64_t damageUs);

// A task: an engine plus its place in the list, the thread that runs it and copies of the
// option records it was given.
class TFFmpeg : public TCustomFFmpeg {
  public:
    TFFmpeg() = default;
    // The worker may be inside one of the component's events: it ends before anything goes.
    ~TFFmpeg() override;

    // Asks a running job to stop and waits for every thread of the task; its terminate event
    // (if the job ran) has been raised when this returns. Never call it on the task's own
    // threads.
    using TCustomFFmpeg::StopAndJoinThreads;

    // Read by events on any thread while the list renumbers: atomic.
    std::atomic<int32_t> Index{-1};     // position in the list, -1 outside one
    std::atomic<uint32_t> ThreadId{0};  // kernel id of the thread running the job, 0 before
    TInputOptions InputOptions;
    // The inputs opened after the first (subtitle files beside it), in order; the passes of a
    // fit open them again.
    std::vector<TInputOptions> MoreInputs;
    TOutputOptions OutputOptions;

    // A fitted output (OutputOptions.FitSizeBytes, see SizeFit.h): makes the task's temporary
    // folder for the pass files and returns the name its options are checked with there (the
    // output's extension, so the same muxer is checked; no file is written). The passes run in
    // Transcode. Throws std::runtime_error when no folder can be made.
    std::string PrepareFit();
    // An output that is a file of its own is written under a hidden working name beside
    // `fileName` (see WorkingNameBeside), which this returns; other outputs (a pattern of
    // numbered images, a device, a protocol) keep their name.
    std::string BeginOutput(const std::string& fileName);
    // Once the job's files are closed: a complete output takes its own name; a stopped or failed
    // one is kept as its partial name when it plays, else removed. Fills Result.
    void SettleOutput();
    // A message of the task's, naming the output by its own name rather than its working one;
    // ErrorText: the failure's.
    std::string WithOwnName(std::string text) const;
    std::string ErrorText() const { return WithOwnName(ErrorMessage()); }
    // Read once the terminate event is raised.
    const TTaskResult& Result() const { return result_; }
    // The streams' own bytes written so far, without the container's.
    int64_t VideoBytes() const { return VideoBytesWritten; }
    int64_t AudioBytes() const { return AudioBytesWritten; }

  protected:
    // A fitted output runs its passes, each on an engine of its own, on this task's thread, and
    // moves the result to OutputOptions.FileName once it is no larger than the target; any other
    // output runs as the engine's own job.
    void Transcode() override;

  private:
    // Runs one pass to `output` on the calling thread; the task's pause and stop reach it, its
    // log lines and progress (pass `number` of `passes`) go out as the task's. Returns the video
    // bytes it wrote, -1 when it was stopped; throws FFMpegException when it failed. A pass
    // that `writesOutput` shows its bytes and tells what the input let it convert.
    int64_t RunPass(const TOutputOptions& output, int number, int passes, bool writesOutput);
    void RunFit();
    // A pass's result beside the output that goes when the run ends early, unless Kept: a stop
    // in the last pass keeps what it made as the partial output when it plays.
    struct TUnfinishedOutput {
        TFFmpeg& Task;
        const std::string& Path;
        bool Kept = false;
        ~TUnfinishedOutput();
    };
    // A GIF (its palette first) or a format without bit rates fitted by stepping its picture
    // down (SteppedRun.cpp).
    void RunStepped();
    // One try of a stepped run into `unfinished`: the palette pass when the output has one, then
    // the pictures. Its bytes, or -1 when stopped.
    int64_t RunStep(const TOutputOptions& output, const std::string& unfinished, int number,
                    int passes);
    // The profile's quality encode to `unfinished` (pass 1 of `passes`): true when it is within
    // the target and became the output; false when the fit goes on or was stopped.
    bool KeepQualityEncode(const std::string& unfinished, int passes);

    // Notes the output's expected length (inputs open) and, after the run, what was written.
    void MeasureExpectedLength();
    void MeasureConvertedLength();
    // Whether a file opens and tells a positive length.
    bool Plays(const std::string& path);
    // An unfinished output that plays becomes the partial output (PartialNameOf); false, and
    // the file left as it is, when it does not play or cannot be renamed.
    bool KeepPartial(const std::string& unfinished);

    std::string fitFolder_;  // the pass files' temporary folder; removed once they end
    std::string finalName_;  // the output's own name
    std::string workName_;   // the name it is written under; empty: its own name
    TTaskResult result_;
    TProgressInfo lastProgress_;  // the fit's last report, across its passes
};

// Owns its tasks; each task's Index is its position.
class TFFmpegList {
  public:
    // Appends and returns the position.
    int Add(std::unique_ptr<TFFmpeg> task);
    // Throws EListError for a position outside the list.
    TFFmpeg& Get(int index) const;
    int Count() const { return static_cast<int>(tasks_.size()); }
    // Frees every task, then empties the list.
    void Clear();
    // Frees the task at the position and renumbers the later ones; throws EListError.
    void Delete(int index);
    // Takes the task at the position out of the list (renumbering the later ones) without
    // freeing it; throws EListError.
    std::unique_ptr<TFFmpeg> Extract(int index);
    // Takes every task out of the list, in order.
    std::vector<std::unique_ptr<TFFmpeg>> ExtractAll();
    // The first task whose ThreadId is the given id, or nullptr.
    TFFmpeg* FindByThreadId(uint32_t threadId) const;

  private:
    std::vector<std::unique_ptr<TFFmpeg>> tasks_;
};
