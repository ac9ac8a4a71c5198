// The passes of a task whose output is fitted to a size.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "component/SizeFit.h"
#include "component/Task.h"
#include "engine/EngineTypes.h"
#include "engine/LibraryErrors.h"

namespace fs = std::filesystem;

namespace {

// Corrected second passes after the first one, before the fit gives up.
constexpr int kMaxRetries = 3;

int64_t FileBytes(const std::string& path) {
    std::error_code error;
    const auto bytes = fs::file_size(path, error);
    return error ? -1 : static_cast<int64_t>(bytes);
}

std::string Kbits(int64_t bitsPerSecond) {
    return std::to_string((bitsPerSecond + 500) / 1000) + " kbit/s";
}

}  // namespace

TFFmpeg::~TFFmpeg() {
    StopAndJoinThreads();
    if (!fitFolder_.empty()) {
        std::error_code ignored;
        fs::remove_all(fitFolder_, ignored);
    }
}

std::string TFFmpeg::PrepareFit() {
    finalName_ = OutputOptions.FileName;  // the passes write beside it themselves
    workName_.clear();
    if (fitFolder_.empty()) {
        std::error_code error;
        fs::path base = fs::temp_directory_path(error);
        if (error) base = "/tmp";
        std::string pattern = (base / "daziziz-fit-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("Cannot make a folder for the pass files in " + base.string());
        fitFolder_ = pattern;
    }
    return (fs::path(fitFolder_) /
            ("check" + fs::path(OutputOptions.FileName).extension().string()))
        .string();
}

void TFFmpeg::Transcode() {
    if (!fitFolder_.empty() &&
        (OutputOptions.PaletteColours > 0 || OutputOptions.StepQuality >= 0)) {
        RunStepped();
        return;
    }
    if (OutputOptions.FitSizeBytes <= 0 || fitFolder_.empty()) {
        MeasureExpectedLength();
        TCustomFFmpeg::Transcode();
        // Ranges cut out of the input make an output of their own length.
        if (CutLengthUs() > 0) result_.SourceUs = CutLengthUs();
        result_.CutLeadsUs = CutLeadsUs();
        result_.LoudnessNotes = LoudnessNotes();
        MeasureConvertedLength();
        return;
    }
    // The pass files go before the end is reported: a stopped process may end without freeing
    // its tasks.
    struct TPassFilesGone {
        std::string& folder;
        ~TPassFilesGone() {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
            folder.clear();
        }
    } passFilesGone{fitFolder_};
    RunFit();
}

int64_t TFFmpeg::RunPass(const TOutputOptions& output, int number, int passes, bool writesOutput) {
    if (StopRequested.load()) return -1;
    // A task of its own kind, so that its byte counts can be read; without a fit of its own it
    // runs the engine's job.
    TFFmpeg pass;
    pass.Reset();
    pass.ThreadCount = ThreadCount;
    pass.Pipeline = Pipeline;
    pass.Verbose = Verbose;
    pass.ProgressIntervalUs = ProgressIntervalUs;
    pass.OnLog = [this](TCustomFFmpeg*, int level, const std::string& text) { DoLog(level, text); };
    pass.OnProgress = [this, &pass, number, passes, writesOutput](TCustomFFmpeg*,
                                                                  const TProgressInfo& info) {
        // The task's own pause and stop, at each report of the pass.
        if (PausePoint()) pass.Stop();
        TProgressInfo whole = info;
        if (info.TotalOutputDuration > 0) {
            // One bar across every pass: pass n of m covers its m-th of it.
            whole.CurrentDuration = (number - 1) * info.TotalOutputDuration + info.CurrentDuration;
            whole.TotalOutputDuration = passes * info.TotalOutputDuration;
        }
        if (!writesOutput) whole.CurrentSize = 0;  // nothing of the output written yet
        lastProgress_ = whole;
        if (OnProgress) OnProgress(this, whole);
    };
    pass.InputOptions = InputOptions;  // its start, for the length the output should have
    ApplyInputOptions(pass, InputOptions);
    if (!pass.OpenInputFile(InputOptions.FileName)) throw FFMpegException(pass.LastError);
    for (const TInputOptions& more : MoreInputs) {
        ApplyInputOptions(pass, more);
        if (!pass.OpenInputFile(more.FileName)) throw FFMpegException(pass.LastError);
    }
    ApplyOutputOptions(pass, output);
    if (!pass.OpenOutputFile(output.FileName)) throw FFMpegException(pass.LastError);
    // The streams added after the opening (further sound and subtitle tracks), as the task's.
    ApplyOutputStreamOptions(pass, output);
    pass.Start(false, tpNormal);
    if (writesOutput) {
        // The pass that makes the output tells what the input let it convert.
        result_.SourceUs = pass.result_.SourceUs;
        result_.ConvertedUs = pass.result_.ConvertedUs;
        result_.LoudnessNotes = pass.LoudnessNotes();
        DecodeErrors = pass.DecodeErrors;
        ReadError = pass.ReadError;
        FirstDamageUs = pass.FirstDamageUs;
    }
    if (pass.HasError()) throw FFMpegException(pass.ErrorMessage());
    if (!pass.IsCompleted() || StopRequested.load()) return -1;
    return pass.VideoBytesWritten;
}

bool TFFmpeg::KeepQualityEncode(const std::string& unfinished, int passes) {
    const TOutputOptions& asked = OutputOptions;
    TOutputOptions quality = *asked.Unfitted;
    quality.FileName = unfinished;
    quality.FitSizeBytes = -1;
    quality.Unfitted.reset();
    const char* what = quality.VideoCodec == "copy" ? "copy" : "quality encode";
    Log(1, "Fit to size: pass 1 of %d, the profile's %s", passes, what);
    std::error_code ignored;
    fs::remove(unfinished, ignored);
    if (RunPass(quality, 1, passes, true) < 0) return false;
    const int64_t bytes = FileBytes(unfinished);
    if (bytes < 0) throw FFMpegException("Fit to size: the pass wrote no file " + unfinished);
    if (bytes > asked.FitSizeBytes) {
        Log(1, "Fit to size: the %s is %s, over the %s target: fitting", what,
            MegabytesText(bytes).c_str(), MegabytesText(asked.FitSizeBytes).c_str());
        fs::remove(unfinished, ignored);  // not a partial output of the fit
        return false;
    }
    fs::rename(unfinished, asked.FileName);
    Log(1, "Fit to size: the %s is %s, within the %s target: kept", what,
        MegabytesText(bytes).c_str(), MegabytesText(asked.FitSizeBytes).c_str());
    // The passes it spared count as done.
    if (OnProgress && lastProgress_.TotalOutputDuration > 0) {
        TProgressInfo done = lastProgress_;
        done.CurrentDuration = done.TotalOutputDuration;
        done.CurrentSize = bytes;
        OnProgress(this, done);
    }
    Completed = true;
    return true;
}

TFFmpeg::TUnfinishedOutput::~TUnfinishedOutput() {
    if (Kept) return;
    if (Task.StopRequested.load() && FileSize(Path) > 0 && Task.KeepPartial(Path)) return;
    std::error_code error;
    if (fs::remove(Path, error)) Task.DoLog(1, "The unfinished output " + Path + " was removed");
}

void TFFmpeg::RunFit() {
    const TOutputOptions& asked = OutputOptions;
    const int64_t target = asked.FitSizeBytes;
    const bool twoPasses = EncoderHasTwoPasses(asked.VideoCodec);
    // A quality profile's own encode comes first: a fit is a ceiling, never a larger file.
    const int passes = (twoPasses ? 2 : 1) + (asked.Unfitted ? 1 : 0);
    const std::string passLog = (fs::path(fitFolder_) / "pass").string();
    // A name beside the output for the pass that may still be thrown away: the output is only
    // touched once a result fits.
    const std::string unfinished = WorkingNameBeside(asked.FileName, "fitting");
    // Whatever ends the fit early, no unfinished result is left behind unsaid.
    TUnfinishedOutput cleanup{*this, unfinished};

    lastProgress_ = TProgressInfo{};
    int64_t rate = asked.VideoBitrate;
    Log(1, "Fit to size %s: video %s, %s%s", MegabytesText(target).c_str(), Kbits(rate).c_str(),
        asked.Unfitted ? "after the profile's quality encode, " : "",
        twoPasses ? "two passes" : "one pass (the encoder keeps no first-pass statistics)");
    if (asked.Unfitted) {
        if (KeepQualityEncode(unfinished, passes)) {
            cleanup.Kept = true;
            return;
        }
        if (StopRequested.load()) return;
    }
    if (twoPasses) {
        TOutputOptions first = asked;
        first.FileName = (fs::path(fitFolder_) / "pass1").string();
        first.OutputFormat = "null";
        first.DisableAudio = true;
        first.DisableSubtitle = true;
        first.OptionText += "pass=1\npasslogfile=" + passLog + "\n";
        Log(1, "Fit to size: pass %d of %d", passes - 1, passes);
        if (RunPass(first, passes - 1, passes, false) < 0) return;
    }
    for (int attempt = 0; attempt <= kMaxRetries; ++attempt) {
        TOutputOptions last = asked;
        last.FileName = unfinished;
        last.VideoBitrate = static_cast<int32_t>(rate);
        if (twoPasses) last.OptionText += "pass=2\npasslogfile=" + passLog + "\n";
        Log(1, "Fit to size: pass %d of %d%s", passes, passes,
            attempt ? (" again at " + Kbits(rate)).c_str() : "");
        std::error_code ignored;
        fs::remove(unfinished, ignored);
        const int64_t videoBytes = RunPass(last, passes, passes, true);
        if (videoBytes < 0) return;
        const int64_t bytes = FileBytes(unfinished);
        if (bytes < 0) throw FFMpegException("Fit to size: the pass wrote no file " + unfinished);
        const double share = double(bytes) / double(target);
        if (bytes <= target) {
            fs::rename(unfinished, asked.FileName);
            cleanup.Kept = true;
            Log(1, "Fit to size: %lld bytes, %.1f%% of the target, after %d pass%s",
                static_cast<long long>(bytes), share * 100, passes + attempt,
                passes + attempt > 1 ? "es" : "");
            if (share < kFitLeast)
                Log(1,
                    "Fit to size: the result is below 90%% of the target: the encoder needed "
                    "fewer bits than allowed at %s (its finest quantiser or a simple picture)",
                    Kbits(rate).c_str());
            Completed = true;
            return;
        }
        const int64_t corrected =
            CorrectedVideoBitrate(rate, bytes, target, std::max<int64_t>(bytes - videoBytes, 0));
        Log(1, "Fit to size: %lld bytes is %.1f%% over the target", static_cast<long long>(bytes),
            (share - 1) * 100);
        if (corrected < 1000) break;
        rate = corrected;
    }
    throw FFMpegException("Fit to size: the output stays larger than " + MegabytesText(target) +
                          " even at " + Kbits(rate));
}
