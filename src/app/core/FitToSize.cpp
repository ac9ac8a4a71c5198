#include "app/core/FitToSize.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/core/StreamCopy.h"
#include "component/SizeFit.h"

namespace {

// Whether the job's output gets sound: an encoder is chosen, the sound is not left out ("an"),
// and the source has a sound track (when the libraries can tell).
bool WritesSound(const TJobDescription& job) {
    if (job.AudioCodec.empty()) return false;
    for (const std::string& line : job.OptionLines)
        if (line == "an" || line == "an=1") return false;
    if (const auto source = ReadSourceStreams(job.InputFile)) return source->Audio.has_value();
    return true;
}

bool ReadSize(const std::string& text, int& width, int& height) {
    return std::sscanf(text.c_str(), "%dx%d", &width, &height) == 2 && width > 0 && height > 0;
}

}  // namespace

bool FitJobToSize(TJobDescription& job, const TFileListRow& row, int64_t targetBytes,
                  std::vector<std::string>& logLines) {
    if (job.DisableVideo || job.VideoCodec.empty())
        throw TFitError("Fit to size is for video profiles");
    if (row.DurationMs <= 0)
        throw TFitError("Fit to size needs the length of the source, which is not known");
    TFitRequest request;
    request.TargetBytes = targetBytes;
    request.Seconds = double(row.DurationMs) / 1000;
    if (!ReadSize(job.FrameSize, request.Width, request.Height) &&
        !ReadSize(row.VideoSize, request.Width, request.Height)) {
        request.Width = 640;
        request.Height = 480;
    }
    if (job.FrameRate && job.FrameRate->Den > 0)
        request.FrameRate = double(job.FrameRate->Num) / job.FrameRate->Den;
    else if (row.FrameRateNum > 0 && row.FrameRateDen > 0)
        request.FrameRate = double(row.FrameRateNum) / row.FrameRateDen;
    request.VideoEncoder = job.VideoCodec;
    request.AudioEncoder = WritesSound(job) ? job.AudioCodec : std::string();
    request.AudioChannels = job.AudioChannels > 0 ? job.AudioChannels : 2;
    request.AudioBitrate = job.AudioBitrate;
    request.FormatKey = job.FormatKey;

    const TFitPlan plan = PlanFit(request);
    if (!plan.Fits()) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", request.Seconds);
        throw TFitError("Fit to size: " + MegabytesText(targetBytes) +
                        " is too small for this file: it needs at least " +
                        MegabytesText(plan.LeastTargetBytes) + " (" + seconds + " s at " +
                        job.VideoCodec + "'s lowest rate)");
    }
    if (job.VideoBitrate > 0 && plan.VideoBitrate > job.VideoBitrate) {
        const int64_t audio = std::max(job.AudioBitrate, 0);
        const int64_t profileBytes =
            int64_t((job.VideoBitrate + audio) * request.Seconds / 8) + plan.OverheadBytes;
        logLines.push_back("Fit to size " + MegabytesText(targetBytes) + ": the profile's own " +
                           std::to_string(job.VideoBitrate / 1000) +
                           " kbit/s makes a smaller file (about " + MegabytesText(profileBytes) +
                           "); kept it");
        return false;
    }
    job.VideoBitrate = static_cast<int>(plan.VideoBitrate);
    if (plan.AudioBitrate > 0) job.AudioBitrate = static_cast<int>(plan.AudioBitrate);
    job.FitSizeBytes = targetBytes;
    logLines.push_back("Fit to size " + MegabytesText(targetBytes) + ": video " +
                       std::to_string(plan.VideoBitrate / 1000) + " kbit/s" +
                       (plan.AudioBitrate > 0
                            ? ", audio " + std::to_string(plan.AudioBitrate / 1000) + " kbit/s"
                            : std::string(", no sound")) +
                       ", container about " + std::to_string(plan.OverheadBytes / 1000) + " kB");
    return true;
}

std::optional<int64_t> SourceWithinTarget(const std::string& inputFile, int64_t targetBytes) {
    std::error_code error;
    const auto bytes = std::filesystem::file_size(inputFile, error);
    if (error || static_cast<int64_t>(bytes) > targetBytes) return std::nullopt;
    return static_cast<int64_t>(bytes);
}

std::vector<std::string> QualityCapLines(const std::string& encoder, int64_t videoBitrate) {
    if (videoBitrate <= 0 || (encoder != "libx264" && encoder != "libx265")) return {};
    return {"maxrate=" + std::to_string(videoBitrate),
            "bufsize=" + std::to_string(2 * videoBitrate)};
}
