#include "app/core/OutputEstimate.h"

#include <algorithm>
#include <cstdlib>
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
    // A copy keeps the source's size: its packets are counted.
    if (job.VideoCodec != "copy" && job.VideoBitrate > 0) input.VideoBitrate = job.VideoBitrate;
    // Sound is measured on the pieces even at a set rate: VBR encoders take the rate as a hint
    // only, and sound's own rate control holds over two seconds.
    return input;
}

// Which of the source's streams the job writes as they are.
struct TCopies {
    std::vector<int> Video;  // the source's stream numbers
    std::vector<int> Sound;
};

// The source's stream a "map=0:N" line takes; -1 for another input's or another line.
int MappedStream(const std::string& line) {
    if (line.rfind("map=0:", 0) != 0) return -1;
    return std::atoi(line.c_str() + 6);
}

bool IsSubtitle(const TSourceStreams& source, int stream) {
    for (const TSourceStreams::TTrack& track : source.Tracks)
        if (track.Index == stream) return track.Subtitle;
    return false;
}

// The sound streams the job maps (the source's own choice when it maps none).
std::vector<int> SoundStreams(const TJobDescription& job, const TSourceStreams& source) {
    std::vector<int> sound;
    bool mapped = false;
    for (const std::string& line : job.OptionLines) {
        const int stream = MappedStream(line);
        mapped = mapped || line.rfind("map=", 0) == 0;
        if (stream >= 0 && stream != source.VideoIndex && stream != source.CoverIndex &&
            !IsSubtitle(source, stream))
            sound.push_back(stream);
    }
    if (!mapped && source.AudioIndex >= 0) sound.push_back(source.AudioIndex);
    return sound;
}

TCopies CopiesOf(const TJobDescription& job, const TSizeModelInput& input,
                 const std::optional<TSourceStreams>& source) {
    TCopies copies;
    if (!source) return copies;
    if (input.Video && job.VideoCodec == "copy" && source->VideoIndex >= 0)
        copies.Video.push_back(source->VideoIndex);
    // Sound counts as copied only when every track is: an encoded one needs the pieces anyway.
    bool everyCopied = input.Sound && job.AudioCodec == "copy";
    for (const std::string& line : job.StreamLines)
        if (line.rfind("acodec=", 0) == 0 && line != "acodec=copy") everyCopied = false;
    if (everyCopied) copies.Sound = SoundStreams(job, *source);
    return copies;
}

// The job as its pieces run it: without the streams that are copied (counted on the source
// instead: a piece seeking into a copied stream starts at the key frame before it, and one with
// B-frames cannot start at all) and without subtitles (next to nothing in bytes; their files
// beside the source are not opened for a piece).
TJobDescription PieceJobOf(const TJobDescription& job, const TSourceStreams* source,
                           const TCopies& copies) {
    TJobDescription piece = job;
    piece.MoreInputs.clear();
    const bool noVideo = !copies.Video.empty();
    const bool noSound = !copies.Sound.empty();
    if (noVideo) piece.DisableVideo = true;
    piece.OptionLines.clear();
    for (const std::string& line : job.OptionLines) {
        const int stream = MappedStream(line);
        const bool map = line.rfind("map=", 0) == 0;
        if (map && (stream < 0 || (source && IsSubtitle(*source, stream)) ||
                    (noVideo && stream == copies.Video.front()) ||
                    (noSound && std::find(copies.Sound.begin(), copies.Sound.end(), stream) !=
                                    copies.Sound.end())))
            continue;
        piece.OptionLines.push_back(line);
    }
    if (noSound && !Contains(piece.OptionLines, "an")) piece.OptionLines.push_back("an");
    // The lines after the opening come in groups, each closed by the stream it adds.
    piece.StreamLines.clear();
    std::vector<std::string> group;
    for (const std::string& line : job.StreamLines) {
        group.push_back(line);
        if (line != "newaudio" && line != "newsubtitle") continue;
        if (line == "newaudio" && !noSound)
            piece.StreamLines.insert(piece.StreamLines.end(), group.begin(), group.end());
        group.clear();
    }
    return piece;
}

// The model's input with what the copies and the pieces say; none when `cancel` was set.
std::optional<TSizeModelInput> Measured(const TJobDescription& job, const TFileListRow& row,
                                        const std::optional<TSourceStreams>& source,
                                        const TSampleRequest& sampling,
                                        const std::atomic<bool>* cancel) {
    TSizeModelInput input = ModelInputOf(job, row, source);
    const TCopies copies = CopiesOf(job, input, source);
    std::vector<int> counted = copies.Video;
    counted.insert(counted.end(), copies.Sound.begin(), copies.Sound.end());
    std::string error;
    if (!counted.empty()) {
        const auto bytes = CountPacketBytes(job.InputFile, counted, job.StartTime / 1000.0,
                                            input.Seconds, cancel, error);
        if (!bytes && !error.empty()) throw std::runtime_error(error);
        if (!bytes) return std::nullopt;
        input.CopySeconds = bytes->WallSeconds;
        std::size_t next = 0;
        if (!copies.Video.empty()) input.CopiedVideoBytes = bytes->Bytes[next++];
        if (!copies.Sound.empty()) input.CopiedAudioBytes = 0;
        for (; next < bytes->Bytes.size(); ++next) input.CopiedAudioBytes += bytes->Bytes[next];
    }
    const bool encodesVideo = input.Video && copies.Video.empty();
    const bool encodesSound = input.Sound && copies.Sound.empty();
    if (!encodesVideo && !encodesSound) return input;
    const TJobDescription piece = PieceJobOf(job, source ? &*source : nullptr, copies);
    TSampleRequest request = sampling;
    request.SourceSeconds = input.Seconds;
    input.Samples =
        SamplePieces(InputOptionsOf(piece), OutputOptionsOf(piece), request, cancel, error);
    if (!input.Samples && !error.empty())
        throw std::runtime_error("a piece of the file could not be converted: " + error);
    if (!input.Samples) return std::nullopt;
    return input;
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

    double seconds = 0;
    const bool fitted = job.FitSizeBytes > 0;
    if (fitted && job.Unfitted) {
        // The profile's own encode runs first and is kept when it is within the target.
        const auto own = Measured(*job.Unfitted, row, source, sampling, cancel);
        if (!own) return std::nullopt;
        const TSizeEstimate ownEstimate = EstimateSize(*own);
        seconds += ownEstimate.Seconds;
        if (ownEstimate.Bytes <= job.FitSizeBytes) {
            result.Bytes = ownEstimate.Bytes;
            result.Seconds = seconds;
            return result;
        }
    }
    std::optional<TSizeModelInput> input = Measured(job, row, source, sampling, cancel);
    if (!input) return std::nullopt;
    if (fitted) input->Passes = EncoderHasTwoPasses(job.VideoCodec) ? 2 : 1;
    const TSizeEstimate estimate = EstimateSize(*input);
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
