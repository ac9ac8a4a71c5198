#include "app/core/JobBuilder.h"

#include "app/core/BlackBars.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <set>

#include "app/core/EncoderFit.h"
#include "app/core/FileListTexts.h"
#include "app/core/FitToSize.h"
#include "app/core/OutputNames.h"
#include "app/core/StreamCopy.h"
#include "app/core/TodaysEncoding.h"
#include "binding/FFmpegLibs.h"
#include "component/SizeFit.h"

namespace {

struct TVolumeStep {
    int Value;
    const char* Label;
};
constexpr std::array<TVolumeStep, 11> kVolumeSteps = {{
    {1, "0%"},
    {50, "20%"},
    {100, "40%"},
    {150, "60%"},
    {200, "80%"},
    {255, "100%"},
    {300, "120%"},
    {350, "140%"},
    {400, "160%"},
    {450, "180%"},
    {600, "200%"},
}};

const TVolumeStep& VolumeStep(int position) {
    if (position < 0) position = 0;
    if (position >= static_cast<int>(kVolumeSteps.size())) position = kVolumeSteps.size() - 1;
    return kVolumeSteps[position];
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// A whole text as a number ("640"), or none.
std::optional<double> NumberOf(const std::string& text) {
    if (text.empty() || text.front() == ' ') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

struct TSize {
    int Width = 0;
    int Height = 0;
};

// "640x480" split at its first "x", both whole positive numbers.
std::optional<TSize> SizeOf(const std::string& text) {
    const auto x = text.find('x');
    if (x == std::string::npos) return std::nullopt;
    const auto width = NumberOf(text.substr(0, x));
    const auto height = NumberOf(text.substr(x + 1));
    if (!width || !height || *width < 1 || *height < 1 || *width > 1e6 || *height > 1e6 ||
        *width != std::floor(*width) || *height != std::floor(*height)) {
        return std::nullopt;
    }
    return TSize{static_cast<int>(*width), static_cast<int>(*height)};
}

// x rounded to the nearest even whole number, kept within 2 ... limit.
int EvenWithin(double x, int limit) {
    const int even = 2 * static_cast<int>(std::lround(x / 2));
    return std::clamp(even, 2, limit);
}

}  // namespace

int VolumeForPosition(int position) {
    return VolumeStep(position).Value;
}

std::string VolumeLabel(int position) {
    return VolumeStep(position).Label;
}

std::string AspectText(int aspectIndex, const std::string& sizeText) {
    if (aspectIndex == 1) return "4:3";
    if (aspectIndex == 2) return "16:9";
    if (aspectIndex != 0) return {};
    std::string size = Trimmed(sizeText);
    if (size.empty()) size = "640x480";
    const auto x = size.find('x');
    const auto width = NumberOf(size.substr(0, x));
    const auto height = x == std::string::npos ? std::nullopt : NumberOf(size.substr(x + 1));
    if (!width || !height || *height == 0 || std::fabs(*width / *height) > 1e9) return "1.3333";
    // Ten-thousandths, rounded half to even (the default rounding mode).
    const auto units = static_cast<long long>(std::nearbyint(*width / *height * 10000));
    const unsigned long long magnitude = std::llabs(units);
    std::string text = (units < 0 ? "-" : "") + std::to_string(magnitude / 10000);
    std::string decimals = std::to_string(10000 + magnitude % 10000).substr(1);
    while (!decimals.empty() && decimals.back() == '0') decimals.pop_back();
    if (!decimals.empty()) text += "." + decimals;
    return text;
}

std::optional<TLetterBox> LetterBoxFor(int inputWidth, int inputHeight, int frameWidth,
                                       int frameHeight) {
    if (inputWidth <= 0 || inputHeight <= 0 || frameWidth <= 0 || frameHeight <= 0) {
        return std::nullopt;
    }
    if (frameWidth % 2 != 0 || frameHeight % 2 != 0) return std::nullopt;
    const long long inputShape = static_cast<long long>(inputWidth) * frameHeight;
    const long long frameShape = static_cast<long long>(inputHeight) * frameWidth;
    if (inputShape == frameShape) return std::nullopt;

    TLetterBox box{frameWidth, frameHeight};
    if (inputShape > frameShape) {
        // Wider than the frame: full width, bands above and below.
        box.PictureHeight =
            EvenWithin(static_cast<double>(frameWidth) * inputHeight / inputWidth, frameHeight);
        const int bands = frameHeight - box.PictureHeight;
        box.Top = bands / 4 * 2;
        box.Bottom = bands - box.Top;
    } else {
        // Narrower: full height, bands left and right.
        box.PictureWidth =
            EvenWithin(static_cast<double>(frameHeight) * inputWidth / inputHeight, frameWidth);
        const int bands = frameWidth - box.PictureWidth;
        box.Left = bands / 4 * 2;
        box.Right = bands - box.Left;
    }
    if (box.PictureWidth == frameWidth && box.PictureHeight == frameHeight) return std::nullopt;
    return box;
}

namespace {

// The catalogue's HD sizes (its 720p and 1080p profiles' "1280 x 720" and "1920 x 1072") make
// no picture larger: a picture that fits inside them keeps its own size.
constexpr int kLeastHdHeight = 720;

void KeepSmallerPictureThanHd(TJobDescription& job, const std::string& inputSize,
                              std::vector<std::string>& logLines) {
    const auto frame = SizeOf(job.FrameSize);
    const auto input = SizeOf(inputSize);
    if (!frame || !input || frame->Height < kLeastHdHeight) return;
    if (input->Width > frame->Width || input->Height > frame->Height) return;
    logLines.push_back("The picture (" + inputSize + ") keeps its size: " + job.FrameSize +
                       " would enlarge it");
    job.FrameSize.clear();
}

}  // namespace

namespace {

// The engine's crop options for the file's black bars when `asked`, and a line for the row's log
// saying what was found; none when nothing is cropped.
std::optional<std::vector<std::string>> BlackBarCropLines(const TJobDescription& job, bool asked,
                                                          std::vector<std::string>& logLines) {
    if (!asked || job.DisableVideo) return std::nullopt;
    const TBlackBarSearch search = FindBlackBars(job.InputFile);
    if (!search.Crop) {
        logLines.push_back("Black bars: none cropped (" + search.Reason + ")");
        return std::nullopt;
    }
    const TBlackBarCrop& crop = *search.Crop;
    logLines.push_back("Black bars: " + crop.Text() + " of " + std::to_string(crop.SourceWidth) +
                       "x" + std::to_string(crop.SourceHeight) + " (from " +
                       std::to_string(search.Pictures) + " pictures)");
    if (!crop.Crops()) return std::nullopt;
    return std::vector<std::string>{
        "croptop=" + std::to_string(crop.Top()), "cropbottom=" + std::to_string(crop.Bottom()),
        "cropleft=" + std::to_string(crop.Left()), "cropright=" + std::to_string(crop.Right())};
}

void AddCropLines(TJobDescription& job, const std::vector<std::string>& lines) {
    job.OptionLines.insert(job.OptionLines.begin(), lines.begin(), lines.end());
}

// The rate Fit to size would give the video: the ceiling of a quality encode whose source takes
// more than half the target. 0 when no plan can be made (no length known).
int64_t FittedVideoRate(const TJobDescription& job, const TFileListRow& row, int64_t targetBytes) {
    TJobDescription planned = job;
    std::vector<std::string> planLines;
    try {
        if (FitJobToSize(planned, row, targetBytes, planLines)) return planned.VideoBitrate;
    } catch (const TFitError&) {
        // No plan: the quality encode goes uncapped.
    }
    return 0;
}

// The letter box: the picture scaled into the chosen frame with bands around it. Nothing when
// no frame size is chosen or the shapes agree.
void ApplyLetterBox(TJobDescription& job, const std::string& inputSize, int aspectIndex) {
    if (job.FrameSize.empty()) return;
    const auto input = SizeOf(inputSize);
    const auto frame = SizeOf(job.FrameSize);
    const auto box = input && frame
                         ? LetterBoxFor(input->Width, input->Height, frame->Width, frame->Height)
                         : std::nullopt;
    if (box) {
        job.FrameSize =
            std::to_string(box->PictureWidth) + "x" + std::to_string(box->PictureHeight);
        job.PadTop = box->Top;
        job.PadBottom = box->Bottom;
        job.PadLeft = box->Left;
        job.PadRight = box->Right;
        job.PadColor = 0;
        // The picture keeps its shape inside the bands, so the frame shows at its own
        // shape; the input's would stretch the bands and the picture with them.
        if (aspectIndex == 0) {
            job.FrameAspect =
                AspectText(0, std::to_string(frame->Width) + "x" + std::to_string(frame->Height));
        }
    }
}

// The ranges of the file the job keeps, checked against its length (TRangeError names the file
// and the range), for the engine.
void CutRanges(TJobDescription& job, const TFileListRow& row, const TJobSettings& settings) {
    if (settings.Ranges.empty()) return;
    const int64_t durationUs = row.DurationMs >= 0 ? row.DurationMs * 1000 : -1;
    const std::string problem = RangesProblem(settings.Ranges, durationUs, job.InputFile);
    if (!problem.empty()) throw TRangeError(problem);
    job.OptionLines.push_back(TrimOptionLine(settings.Ranges));
}

// A fitted job of a quality profile (crf) carries the profile's own job as it would run
// without the fit (its quality encode, or a stream copy where it would copy), for the fitted
// run to try first: a fit never makes a file larger than that would be.
// `fitting` is the source as far as the copy of the video and the job's own sound stream go; the
// tracks are kept as the fitted job keeps them.
std::optional<TJobDescription> UnfittedRun(const TJobDescription& job, TJobDescription unfitted,
                                           const TJobSettings& settings,
                                           const std::optional<TSourceStreams>& fitting,
                                           const TTrackPlan& tracks) {
    const std::string& quality = settings.Parameters.Quality;
    const bool copyable =
        !settings.Reencode && settings.LetterBoxIndex == 0 && settings.AspectIndex == 0;
    if (copyable && fitting) {
        std::vector<std::string> copyLines;  // the fitted job's log tells what runs
        CopyStreamsThatFit(unfitted, *fitting, copyLines);
    }
    const bool qualityEncode =
        unfitted.VideoBitrate <= 0 &&
        !QualitySettingFor(unfitted.VideoCodec, quality.empty() ? "Standard" : quality)
             .OptionLines.empty();
    if (job.DisableVideo || (!qualityEncode && unfitted.VideoCodec != "copy")) return {};
    ApplyTodaysEncoding(unfitted, quality);
    std::vector<std::string> trackLines;  // the fitted job's log tells what runs
    if (fitting) ApplyTrackPlan(unfitted, *fitting, tracks, copyable, trackLines);
    return unfitted;
}

// A source the target holds whole keeps the profile's copy or quality encode, capped at
// `qualityCap` (bit/s; 0 none), and the log says so.
void KeepWithinTarget(TJobDescription& job, int64_t targetBytes, int64_t sourceBytes,
                      int64_t qualityCap, std::vector<std::string>& logLines) {
    const std::vector<std::string> cap = QualityCapLines(job.VideoCodec, qualityCap);
    job.OptionLines.insert(job.OptionLines.end(), cap.begin(), cap.end());
    const bool copied = job.VideoCodec == "copy";
    logLines.push_back(
        "Fit to size " + MegabytesText(targetBytes) + ": the source is " +
        MegabytesText(sourceBytes) + ", less than the target; kept " +
        (copied
             ? std::string("the copy")
             : "the profile's quality encode" +
                   (cap.empty() ? std::string()
                                : ", at most " + std::to_string(qualityCap / 1000) + " kbit/s")) +
        " rather than filling the target");
}

// The tracks asked for; a job that cuts ranges leaves out the subtitle files beside its input.
TTrackRequest TracksAsked(const TJobSettings& settings) {
    TTrackRequest asked = settings.Tracks;
    asked.SubtitleFiles = settings.Ranges.empty();
    return asked;
}

// The job as the profile and the row give it, before fit, copies, tracks and letterbox: where
// it goes, the profile's parameters, the ranges, the picture size, volume and aspect.
TJobDescription ProfileJob(const TFileListRow& row, const TJobSettings& settings,
                           std::vector<std::string>& logLines) {
    TJobDescription job;
    job.InputFile = Trimmed(row.FileName);
    const std::string folder = settings.SameFolderAsInput
                                   ? std::filesystem::path(job.InputFile).parent_path().string()
                                   : Trimmed(settings.OutputFolder);
    const TOutputName output =
        ChooseOutputName(job.InputFile, folder, settings.FormatKey, settings.Overwrite);
    job.OutputFile = output.Path;
    if (!output.LogLine.empty()) logLines.push_back(output.LogLine);
    job.FormatKey = settings.FormatKey;

    ReadParameters(settings.Reader, settings.Parameters, settings.FormatKey, job);
    CutRanges(job, row, settings);
    // The profile, not a list of keys, says whether video is written: "OGG" writes none,
    // "ASF" writes video.
    job.DisableVideo = IsAudioFormatKey(settings.FormatKey);
    const bool today = settings.Reader == TParameterReader::prToday;
    if (const auto height = HeightOfEntry(settings.Parameters.VideoSize); today && height)
        job.FrameSize = SizeForHeight(Trimmed(row.VideoSize), *height);
    else if (const auto width = WidthOfEntry(settings.Parameters.VideoSize); today && width)
        job.FrameSize = SizeForWidth(Trimmed(row.VideoSize), *width);
    else if (!today)
        KeepSmallerPictureThanHd(job, Trimmed(row.VideoSize), logLines);
    if (AVCodecLoaded())
        FitJobToEncoders(job, Trimmed(row.VideoSize), TLoadedEncoders(), logLines,
                         TFrameRate{row.FrameRateNum, row.FrameRateDen});
    job.AudioVolume = settings.Volume;
    job.Loudness = LoudnessOptionLine(settings.Loudness);
    if (!job.Loudness.empty() && settings.Volume != VolumeForPosition(kDefaultVolumePosition)) {
        // The level is the target's: a fixed step on top would move it off again.
        logLines.push_back("loudness normalisation replaces the volume step");
        job.AudioVolume = -1;
    }
    job.FrameAspect = AspectText(settings.AspectIndex, row.VideoSize);
    return job;
}

// Animated pictures (GIF, WebP): no sound, subtitles or copies. A fit to size makes the
// picture again with less in the task (SteppedRun.cpp) rather than planning bit rates: the
// steps start from the source's own size and rate where the profile keeps them.
TJobDescription AnimatedJob(const TFileListRow& row, const TJobSettings& settings,
                            std::vector<std::string>& logLines) {
    TJobDescription job = ProfileJob(row, settings, logLines);
    const auto source = AVFormatLoaded() ? ReadSourceStreams(job.InputFile) : std::nullopt;
    if (source ? !source->Video : Trimmed(row.VideoSize).empty())
        throw TEncoderError(job.InputFile + " has no pictures: a " + job.FormatKey +
                            " is made from a video, and this file has sound only");
    ApplyAnimatedPictureLines(job, settings.Parameters.Quality);
    if (const auto cropped = BlackBarCropLines(job, settings.CropBlackBars, logLines))
        AddCropLines(job, *cropped);
    if (settings.LetterBoxIndex == 1)
        ApplyLetterBox(job, Trimmed(row.VideoSize), settings.AspectIndex);
    if (settings.FitSizeBytes <= 0) return job;
    if (job.FrameSize.empty()) job.FrameSize = Trimmed(row.VideoSize);
    if (!job.FrameRate && row.FrameRateNum > 0)
        job.FrameRate = TFrameRate{row.FrameRateNum, row.FrameRateDen};
    job.FitSizeBytes = settings.FitSizeBytes;
    logLines.push_back(
        "Fit to size " + MegabytesText(settings.FitSizeBytes) + ": a " + job.FormatKey +
        " has no bit rate; made as the profile makes it, then " +
        (job.PaletteColours > 0
             ? "with fewer pictures a second, a smaller picture and fewer colours"
             : "at a lower quality, then with fewer pictures a second and a smaller picture") +
        " until it fits");
    return job;
}

}  // namespace

TJobDescription DescribeJob(const TFileListRow& row, const TJobSettings& settings,
                            std::vector<std::string>& logLines) {
    if (IsAnimatedPictureKey(settings.FormatKey)) return AnimatedJob(row, settings, logLines);
    TJobDescription job = ProfileJob(row, settings, logLines);
    const bool today = settings.Reader == TParameterReader::prToday;
    // A fit is a ceiling. A source the target holds whole needs less than it: today's profiles
    // keep their quality encode or the copy. Where the source takes more than half the target,
    // the quality encode is capped at the fit's rate too (a cap alters the encode a little, so
    // only where it might be needed). The source's bytes when the target holds it whole, or -1.
    const int64_t sourceWithin =
        today && settings.FitSizeBytes > 0
            ? SourceWithinTarget(job.InputFile, settings.FitSizeBytes).value_or(-1)
            : -1;
    const int64_t qualityCap = sourceWithin > settings.FitSizeBytes / 2
                                   ? FittedVideoRate(job, row, settings.FitSizeBytes)
                                   : 0;
    // The profile's own encode before the fit changes its rates: for a quality profile the
    // fitted run makes it first and keeps it when it is within the target.
    TJobDescription unfitted = job;
    std::optional<TJobDescription> unfittedRun;
    const bool fitted = settings.FitSizeBytes > 0 && sourceWithin < 0 &&
                        FitJobToSize(job, row, settings.FitSizeBytes, logLines);
    const auto cropped = BlackBarCropLines(job, settings.CropBlackBars, logLines);
    const auto source = AVFormatLoaded() ? ReadSourceStreams(job.InputFile) : std::nullopt;
    // A fitted file's budget is planned for one sound track: the others are left out.
    const TTrackPlan tracks = source ? PlanTracks(job, *source, TracksAsked(settings),
                                                  KeepsEveryTrack(settings.FormatKey),
                                                  settings.FitSizeBytes > 0, logLines)
                                     : TTrackPlan{};
    // Mapped sound tracks decide for themselves whether they are copied; here the video only.
    std::optional<TSourceStreams> fitting = source;
    if (fitting && tracks.Mapped) fitting->Audio.reset();
    bool copyable = false;
    if (today) {
        const bool exactCut = !settings.Ranges.empty() && settings.Cut == TCutMode::Exact;
        copyable = !settings.Reencode && !fitted && !exactCut && settings.LetterBoxIndex == 0 &&
                   settings.AspectIndex == 0 && !cropped;
        if (copyable && fitting) CopyStreamsThatFit(job, *fitting, logLines);
        ApplyTodaysEncoding(job, settings.Parameters.Quality);
        if (fitted) unfittedRun = UnfittedRun(job, unfitted, settings, fitting, tracks);
        if (sourceWithin >= 0)
            KeepWithinTarget(job, settings.FitSizeBytes, sourceWithin, qualityCap, logLines);
    }
    if (!settings.Ranges.empty() && settings.Cut == TCutMode::Keyframe && !job.DisableVideo &&
        job.VideoCodec != "copy")
        logLines.push_back("The video is encoded again: the ranges are cut exactly");
    if (source) ApplyTrackPlan(job, *source, tracks, copyable, logLines);

    if (settings.LetterBoxIndex == 1)
        ApplyLetterBox(job, Trimmed(row.VideoSize), settings.AspectIndex);
    if (cropped) {
        AddCropLines(job, *cropped);
        if (unfittedRun) AddCropLines(*unfittedRun, *cropped);
    }
    if (unfittedRun) {
        if (settings.LetterBoxIndex == 1)
            ApplyLetterBox(*unfittedRun, Trimmed(row.VideoSize), settings.AspectIndex);
        job.Unfitted = std::make_shared<const TJobDescription>(std::move(*unfittedRun));
    }
    return job;
}

TRowTask AddRowTask(const TFileListRow& row, const TJobSettings& settings, TTaskRunner& runner,
                    TClaimedNames& claimed, std::vector<std::string>& notes,
                    const std::function<void(TJobDescription&)>& adjust) {
    TRowTask added;
    try {
        TJobDescription job = DescribeJob(row, settings, notes);
        if (adjust) adjust(job);
        job.OutputFile = UnclaimedOutputName(job.OutputFile, job.InputFile, claimed);
        added.Job = job;
        added.Task = runner.AppendTask(job);
        if (added.Task >= 0 && !runner.SetTaskOutput(added.Task, job)) {
            added.Reason = runner.LastErrorText();
            runner.DeleteTask(added.Task);
            added.Task = -1;
        } else if (added.Task < 0) {
            added.Reason = runner.LastErrorText();
        }
    } catch (const std::exception& error) {
        if (added.Task >= 0) runner.DeleteTask(added.Task);
        added.Task = -1;
        added.Reason = error.what();
        added.Threw = true;
    }
    if (added.Task >= 0) claimed.insert(NormalOutputPath(added.Job->OutputFile));
    return added;
}

TBuildResult BuildNextTask(TFileList& list, TConversionQueue& queue, const TJobSettings& settings,
                           TTaskRunner& runner) {
    TBuildResult result;
    runner.ClearTasks();
    result.Row = queue.NextCheckedRow(list);
    if (result.Row < 0) {
        result.Outcome = TBuildOutcome::boNoRowLeft;
        return result;
    }

    const std::string input = list.Row(result.Row).FileName;
    TClaimedNames claimed;  // one task: the name is ChooseOutputName's
    const TRowTask added =
        AddRowTask(list.Row(result.Row), settings, runner, claimed, result.LogLines);
    result.Job = added.Job;
    if (added.Job) list.Row(result.Row).OutputFile = added.Job->OutputFile;
    if (added.Task < 0) {
        result.LogLines.push_back(input + ": " + added.Reason);
        if (added.Threw) result.Message = kMsgFailToAddFile;
        queue.MarkRowFailed(list);
        result.Outcome = TBuildOutcome::boRowFailed;
        return result;
    }

    try {
        runner.StartTasks(1);
    } catch (const std::exception& error) {
        runner.StopTasks();
        result.LogLines.push_back(input + ": " + error.what());
        queue.MarkRowFailed(list);
        queue.Stop(false);
        result.Outcome = TBuildOutcome::boStartFailed;
        return result;
    }
    queue.TaskStarted();
    result.Outcome = TBuildOutcome::boStarted;
    return result;
}

TBatchResult BuildAllTasks(TFileList& list, const TJobSettings& settings, TTaskRunner& runner) {
    TBatchResult result;
    runner.ClearTasks();
    TClaimedNames claimed;
    for (int row = 0; row < list.Count(); ++row) {
        TFileListRow& data = list.Row(row);
        if (!data.Checked || data.State == TRowState::Unreadable) continue;
        const TRowTask added = AddRowTask(data, settings, runner, claimed, result.LogLines);
        if (added.Task < 0) {
            result.LogLines.push_back(data.FileName + ": " + added.Reason);
            data.State = TRowState::Failed;
            data.Status = added.Reason;
            result.FailedRows.push_back(row);
            continue;
        }
        data.OutputFile = added.Job->OutputFile;
        if (static_cast<int>(result.TaskRows.size()) <= added.Task) {
            result.TaskRows.resize(added.Task + 1, -1);
        }
        result.TaskRows[added.Task] = row;
    }
    return result;
}
