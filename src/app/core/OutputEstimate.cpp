#include "app/core/OutputEstimate.h"

#include <filesystem>
#include <stdexcept>

#include "app/core/ComponentTaskRunner.h"
#include "app/core/StreamCopy.h"
#include "component/SizeFit.h"

namespace {

bool Contains(const std::vector<std::string>& lines, const char* line) {
    for (const std::string& each : lines)
        if (each == line) return true;
    return false;
}

double FrameRateOf(const TJobDescription& job, const TFileListRow& row) {
    if (job.FrameRate && job.FrameRate->Den > 0 && job.FrameRate->Num > 0)
        return double(job.FrameRate->Num) / job.FrameRate->Den;
    if (row.FrameRateNum > 0 && row.FrameRateDen > 0)
        return double(row.FrameRateNum) / row.FrameRateDen;
    return 25;
}

// The model's input for the job over the row's length; the samples are added by the caller.
TSizeModelInput ModelInputOf(const TJobDescription& job, const TFileListRow& row,
                             const std::optional<TSourceStreams>& source) {
    TSizeModelInput input;
    input.Seconds = row.DurationMs > 0 ? double(row.DurationMs) / 1000 : 0;
    if (job.StartTime > 0) input.Seconds = std::max(input.Seconds - job.StartTime / 1000.0, 0.0);
    input.FormatKey = job.FormatKey;
    const bool sourceVideo = !source || source->Video.has_value();
    const bool sourceSound = !source || source->Audio.has_value();
    input.Video = !job.DisableVideo && !job.VideoCodec.empty() && sourceVideo;
    input.Sound = !job.AudioCodec.empty() && sourceSound && !Contains(job.OptionLines, "an");
    input.FrameRate = FrameRateOf(job, row);
    // A copy keeps the source's size: the samples measure it.
    if (job.VideoCodec != "copy" && job.VideoBitrate > 0) input.VideoBitrate = job.VideoBitrate;
    // Sound is measured on the pieces even at a set rate: VBR encoders take the rate as a hint
    // only, and sound's own rate control holds over two seconds.
    return input;
}

std::optional<TPieceSample> Sample(const TJobDescription& job, double seconds,
                                   const TSampleRequest& sampling,
                                   const std::atomic<bool>* cancel) {
    TSampleRequest request = sampling;
    request.SourceSeconds = seconds;
    std::string error;
    auto sample = SamplePieces(InputOptionsOf(job), OutputOptionsOf(job), request, cancel, error);
    if (!sample && !error.empty())
        throw std::runtime_error("a piece of the file could not be converted: " + error);
    return sample;
}

}  // namespace

std::optional<TOutputEstimate> EstimateOutput(const TJobDescription& job, const TFileListRow& row,
                                              const TSampleRequest& sampling,
                                              const std::atomic<bool>* cancel) {
    const std::optional<TSourceStreams> source = ReadSourceStreams(job.InputFile);
    TOutputEstimate result;
    std::error_code error;
    const auto sourceBytes = std::filesystem::file_size(job.InputFile, error);
    if (!error) result.SourceBytes = int64_t(sourceBytes);

    TSizeModelInput input = ModelInputOf(job, row, source);
    double seconds = 0;
    const bool fitted = job.FitSizeBytes > 0;
    if (fitted && job.Unfitted) {
        // The profile's own encode runs first and is kept when it is within the target.
        TSizeModelInput own = ModelInputOf(*job.Unfitted, row, source);
        own.Samples = Sample(*job.Unfitted, own.Seconds, sampling, cancel);
        if (!own.Samples) return std::nullopt;
        const TSizeEstimate ownEstimate = EstimateSize(own);
        seconds += ownEstimate.Seconds;
        if (ownEstimate.Bytes <= job.FitSizeBytes) {
            result.Bytes = ownEstimate.Bytes;
            result.Seconds = seconds;
            return result;
        }
    }
    input.Samples = Sample(job, input.Seconds, sampling, cancel);
    if (!input.Samples) return std::nullopt;
    if (fitted) input.Passes = EncoderHasTwoPasses(job.VideoCodec) ? 2 : 1;
    const TSizeEstimate estimate = EstimateSize(input);
    // A fit's passes aim within the target and are run again when over it.
    result.Bytes = fitted ? std::min(estimate.Bytes, job.FitSizeBytes) : estimate.Bytes;
    result.Seconds = seconds + estimate.Seconds;
    return result;
}

std::string EstimateText(const TOutputEstimate& estimate) {
    std::string text = "about " + MegabytesText(estimate.Bytes);
    if (estimate.LargerThanSource())
        text += " (larger than the source, " + MegabytesText(estimate.SourceBytes) + ")";
    return text;
}
