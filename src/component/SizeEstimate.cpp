#include "component/SizeEstimate.h"

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "binding/LibHandles.h"
#include "component/SizeFit.h"
#include "component/Task.h"
#include "engine/LibraryErrors.h"
#include "probe/AVProbe.h"

namespace fs = std::filesystem;

namespace {

// A temporary folder removed with its contents when it goes.
class TPieceFolder {
  public:
    TPieceFolder() {
        std::error_code error;
        fs::path base = fs::temp_directory_path(error);
        if (error) base = "/tmp";
        std::string pattern = (base / "daziziz-estimate-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TPieceFolder() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    TPieceFolder(const TPieceFolder&) = delete;
    TPieceFolder& operator=(const TPieceFolder&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

struct TPieceResult {
    bool Ok = false;
    bool Stopped = false;
    double Seconds = 0;
    double VideoSeconds = 0;  // of its pictures, which a seek may make shorter than its sound
    int64_t VideoBytes = 0;
    int64_t AudioBytes = 0;
    double Encoded = 0;  // seconds converted, its warm-up too
    double Wall = 0;     // from the start of its run, its files open, to its end
    std::string Error;
};

using TClock = std::chrono::steady_clock;

// How far the pieces may stray from a stream's rate before they are believed instead: short
// pieces start their rate control afresh (an MPEG-4 Part 2 encoder's pieces run 40% over a rate
// the whole file keeps), but an encoder at its coarsest quantiser stays far above it.
constexpr double kRateKept = 2.0;

// Counts the bytes of `streams` of the open `file` in the packets from `from` to `to` seconds
// after its start into `counted`; false when `cancel` was set.
bool CountPackets(AVFormatContext* file, const std::vector<int>& streams, double from, double to,
                  const std::atomic<bool>* cancel, TPacketBytes& counted) {
    // Times here are seconds from the file's start.
    const double origin = file->start_time == AV_NOPTS_VALUE ? 0 : double(file->start_time) / 1e6;
    // A seek lands on a key frame at or before the start; the packets before it are skipped.
    if (from > 0)
        LibAVFormat.av_seek_frame(file, -1, int64_t((origin + from) * AV_TIME_BASE),
                                  AVSEEK_FLAG_BACKWARD);
    counted.Bytes.assign(streams.size(), 0);
    std::vector<char> ended(streams.size(), 0);
    const TPacketPtr packet(LibAVCodec.av_packet_alloc());
    for (int64_t read = 0; LibAVFormat.av_read_frame(file, packet.get()) >= 0; ++read) {
        if (cancel && read % 256 == 0 && cancel->load()) return false;
        const auto kept = std::find(streams.begin(), streams.end(), packet->stream_index);
        const int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (kept != streams.end() && stamp != AV_NOPTS_VALUE) {
            const double at =
                double(stamp) * av_q2d(file->streams[packet->stream_index]->time_base) - origin;
            const std::size_t index = std::size_t(kept - streams.begin());
            if (at >= from && at < to) counted.Bytes[index] += packet->size;
            // Packets come nearly in time order: a second past the end ends the stream.
            if (at >= to + 1) ended[index] = 1;
        }
        LibAVCodec.av_packet_unref(packet.get());
        if (std::find(ended.begin(), ended.end(), 0) == ended.end()) break;
    }
    return true;
}

// The video and the sound bytes of a piece written to `path` after its warm-up; false when it
// cannot be read.
bool CountPieceBytes(const std::string& path, double warm, double seconds, int64_t& video,
                     int64_t& sound) {
    AVFormatContext* opened = nullptr;
    if (LibAVFormat.avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0) return false;
    const TInputPtr file(opened);
    if (LibAVFormat.avformat_find_stream_info(file.get(), nullptr) < 0) return false;
    std::vector<int> streams;
    std::vector<bool> isVideo;
    for (unsigned i = 0; i < file->nb_streams; ++i) {
        const AVMediaType type = file->streams[i]->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) continue;
        streams.push_back(int(i));
        isVideo.push_back(type == AVMEDIA_TYPE_VIDEO);
    }
    TPacketBytes counted;
    if (!CountPackets(file.get(), streams, warm, warm + seconds, nullptr, counted)) return false;
    video = sound = 0;
    for (std::size_t i = 0; i < streams.size(); ++i)
        (isVideo[i] ? video : sound) += counted.Bytes[i];
    return true;
}

TPieceResult RunPiece(const TInputOptions& input, const TOutputOptions& output, int threads,
                      double pieceSeconds, double warm, const std::atomic<bool>* cancel) {
    TPieceResult result;
    TFFmpeg piece;
    piece.Reset();
    piece.ThreadCount = threads;
    piece.InputOptions = input;
    piece.OutputOptions = output;
    piece.OnProgress = [cancel, &piece](TCustomFFmpeg*, const TProgressInfo&) {
        if (cancel && cancel->load()) piece.Stop();
    };
    TClock::time_point started;
    try {
        ApplyInputOptions(piece, input);
        if (!piece.OpenInputFile(input.FileName)) throw FFMpegException(piece.LastError);
        ApplyOutputOptions(piece, output);
        if (!piece.OpenOutputFile(output.FileName)) throw FFMpegException(piece.LastError);
        ApplyOutputStreamOptions(piece, output);
        // Opening and probing come once in a whole run too; the run itself scales with the
        // media it converts (a few hundredths of a second of start-up besides).
        started = TClock::now();
        piece.Start(false, tpNormal);
    } catch (const std::exception& failure) {
        result.Error = failure.what();
        return result;
    }
    if (piece.HasError()) {
        result.Error = piece.ErrorMessage();
        return result;
    }
    result.Stopped = !piece.IsCompleted() || (cancel && cancel->load());
    // What it wrote, as the file tells it: a little longer than asked at times (a stop falls
    // between packets, a seek before the start keeps some sound, encoders pad their last frame).
    TAVProbe written;
    TAVFileInfo info;
    double converted = double(piece.Result().ConvertedUs) / 1e6;
    TAVVideoStreamInfo pictures;
    if (written.LoadFile(output.FileName)) {
        written.GetFileInfo(info);
        if (info.Duration > 0) converted = double(info.Duration) / 1e6;
        if (written.VideoStreamCount() > 0) written.GetVideoStreamInfo(-1, pictures);
    }
    const double asked = pieceSeconds > 0 ? pieceSeconds + warm : 0;
    result.Encoded = converted > 0 && (asked <= 0 || converted < 1.5 * asked) ? converted : asked;
    const double video = double(pictures.DurationUs) / 1e6;
    result.VideoSeconds = video > 0 && video <= result.Encoded ? video : result.Encoded;
    result.Seconds = result.Encoded;
    result.Wall = std::chrono::duration<double>(TClock::now() - started).count();
    result.VideoBytes = piece.VideoBytes();
    result.AudioBytes = piece.AudioBytes();
    if (warm > 0 && !result.Stopped) {
        // Only what came after the warm-up counts, as long as the piece is (less at the end).
        result.Seconds = std::clamp(result.Encoded - warm, 0.001, pieceSeconds);
        result.VideoSeconds = std::clamp(result.VideoSeconds - warm, 0.001, pieceSeconds);
        if (!CountPieceBytes(output.FileName, warm, pieceSeconds, result.VideoBytes,
                             result.AudioBytes)) {
            result.Error = output.FileName + ": the piece written cannot be read again";
            return result;
        }
    }
    result.Ok = !result.Stopped;
    return result;
}

}  // namespace

std::optional<TPieceSample> SamplePieces(const TInputOptions& input, const TOutputOptions& output,
                                         const TSampleRequest& request,
                                         const std::atomic<bool>* cancel, std::string& error) {
    const TPieceFolder folder;
    if (folder.Path().empty()) {
        error = "cannot make a temporary folder for the sampled pieces";
        return std::nullopt;
    }
    const int pieces = std::max(request.Pieces, 1);
    const double length = request.SourceSeconds;
    // Too short to sample: the whole file, once.
    const bool whole = length <= 0 || length < 2 * pieces * request.PieceSeconds;
    TPieceSample sample;
    for (int i = 0; i < (whole ? 1 : pieces); ++i) {
        TInputOptions in = input;
        TOutputOptions out = output;
        out.FileName =
            (fs::path(folder.Path()) / ("piece" + fs::path(output.FileName).extension().string()))
                .string();
        out.FitSizeBytes = -1;
        out.Unfitted.reset();
        double warm = 0;
        if (!whole) {
            const double start =
                std::max((i + 0.5) * length / pieces - request.PieceSeconds / 2, 0.0);
            warm = std::clamp(request.WarmSeconds, 0.0, start);
            in.StartTime = int32_t((start - warm) * 1000 + double(std::max(input.StartTime, 0)));
            out.RecordingTime = int32_t((warm + request.PieceSeconds) * 1000);
        }
        std::error_code ignored;
        fs::remove(out.FileName, ignored);
        const TPieceResult piece =
            RunPiece(in, out, request.ThreadCount, whole ? -1 : request.PieceSeconds, warm, cancel);
        if (piece.Stopped) return std::nullopt;
        if (!piece.Ok) {
            error = piece.Error;
            return std::nullopt;
        }
        ++sample.Pieces;
        sample.MediaSeconds += piece.Seconds;
        sample.EncodedSeconds += piece.Encoded;
        sample.VideoSeconds += piece.VideoSeconds;
        sample.VideoBytes += piece.VideoBytes;
        sample.AudioBytes += piece.AudioBytes;
        sample.WallSeconds += piece.Wall;
    }
    return sample;
}

std::optional<TPacketBytes> CountPacketBytes(const std::string& path,
                                             const std::vector<int>& streams, double startSeconds,
                                             double seconds, const std::atomic<bool>* cancel,
                                             std::string& error) {
    const TClock::time_point started = TClock::now();
    AVFormatContext* opened = nullptr;
    if (LibAVFormat.avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0) {
        error = path + ": the file does not open";
        return std::nullopt;
    }
    const TInputPtr file(opened);
    if (LibAVFormat.avformat_find_stream_info(file.get(), nullptr) < 0) {
        error = path + ": its streams cannot be read";
        return std::nullopt;
    }
    for (const int stream : streams)
        if (stream < 0 || stream >= int(file->nb_streams)) {
            error = path + ": it has no stream " + std::to_string(stream);
            return std::nullopt;
        }
    TPacketBytes counted;
    const double from = std::max(startSeconds, 0.0);
    if (!CountPackets(file.get(), streams, from, seconds > 0 ? from + seconds : HUGE_VAL, cancel,
                      counted))
        return std::nullopt;
    counted.WallSeconds = std::chrono::duration<double>(TClock::now() - started).count();
    return counted;
}

TSizeEstimate EstimateSize(const TSizeModelInput& input) {
    TSizeEstimate estimate;
    const double seconds = std::max(input.Seconds, 0.0);
    const std::optional<TPieceSample>& sample = input.Samples;
    const bool sampled = sample && sample->MediaSeconds > 0;
    const auto streamBytes = [&](bool present, int64_t copied, int64_t rate, int64_t sampledBytes,
                                 double sampledSeconds) {
        if (!present) return 0.0;
        if (copied >= 0) return double(copied);
        const double atRate = double(rate) * seconds / 8;
        const double measured =
            sampled ? double(sampledBytes) / std::max(sampledSeconds, 0.001) * seconds : 0;
        // An encoder held to a rate keeps it, unless the pieces show it cannot (its coarsest
        // quantiser still makes more, or its finest less).
        const double ratio = measured / std::max(atRate, 1.0);
        if (rate > 0 && (!sampled || (ratio <= kRateKept && ratio >= 1 / kRateKept))) return atRate;
        return measured;
    };
    const double media =
        streamBytes(input.Video, input.CopiedVideoBytes, input.VideoBitrate,
                    sampled ? sample->VideoBytes : 0, sampled ? sample->VideoSeconds : 0) +
        streamBytes(input.Sound, input.CopiedAudioBytes, input.AudioBitrate,
                    sampled ? sample->AudioBytes : 0, sampled ? sample->MediaSeconds : 0);
    const double container =
        ContainerBytes({input.FormatKey, seconds, input.Video ? input.FrameRate : 0,
                        input.Sound ? kSoundPacketsPerSecond : 0, media});
    estimate.MediaBytes = int64_t(std::llround(media));
    estimate.ContainerBytes = int64_t(std::llround(container));
    estimate.Bytes = estimate.MediaBytes + estimate.ContainerBytes;
    const double encoding =
        sampled ? sample->WallSeconds / std::max(sample->EncodedSeconds, 0.001) * seconds : 0;
    estimate.Seconds = (encoding + input.CopySeconds) * std::max(input.Passes, 1);
    return estimate;
}
