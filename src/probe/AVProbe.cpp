#include "probe/AVProbe.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "binding/FFmpegLibs.h"
#include "binding/LibraryErrors.h"
#include "engine/StreamChoice.h"

namespace {

// A file that keeps the demuxer busy longer than this (a stalled mount, a pathological stream)
// is given up as unreadable instead of blocking the caller.
constexpr std::chrono::seconds kOpenTimeLimit{30};

struct TOpenDeadline {
    std::chrono::steady_clock::time_point until;
};

int OpenDeadlinePassed(void* opaque) {
    const auto* deadline = static_cast<const TOpenDeadline*>(opaque);
    return std::chrono::steady_clock::now() > deadline->until ? 1 : 0;
}

std::string FillName(const char* format, const std::string& fileName) {
    char text[4096];
    std::snprintf(text, sizeof text, format, fileName.c_str());
    return text;
}

// Library bit rates are 64-bit; the records keep 32 bits.
int32_t ClampToInt32(int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

template <size_t Size>
void CopyText(char (&target)[Size], const char* text) {
    if (text) LibAVUtil.av_strlcpy(target, text, Size);
}

const char* MetadataText(const AVDictionary* metadata, const char* key) {
    const AVDictionaryEntry* entry = LibAVUtil.av_dict_get(metadata, key, nullptr, 0);
    return entry ? entry->value : nullptr;
}

// The leading number of a text such as "2008-05-01" or "3/12"; 0 when there is none.
int32_t LeadingNumber(const char* text) {
    if (!text) return 0;
    return ClampToInt32(std::strtoll(text, nullptr, 10));
}

}  // namespace

TAVProbe::~TAVProbe() {
    CloseFile();
}

void TAVProbe::CheckLibraries() {
    if (!AVCodecLoaded()) throw std::runtime_error("LibAVCodec not loaded.");
    if (!AVFormatLoaded()) throw std::runtime_error("LibAVFormat not loaded.");
    if (!AVUtilLoaded()) throw std::runtime_error("LibAVUtil not loaded.");
    if (!SwScaleLoaded()) throw std::runtime_error("LibSwScale not loaded.");
}

bool TAVProbe::LoadFile(const std::string& AFileName, const std::string& AFormatName) {
    CheckLibraries();
    CloseFile();

    const AVInputFormat* forcedFormat = nullptr;
    if (!AFormatName.empty()) {
        forcedFormat = LibAVFormat.av_find_input_format(AFormatName.c_str());
        if (!forcedFormat) {
            lastErrorText_ = FillName("Unknown input format: %s", AFormatName);
            return false;
        }
    }

    AVFormatContext* context = LibAVFormat.avformat_alloc_context();
    if (!context) {
        lastErrorText_ = LibraryErrorText(AVERROR(ENOMEM), AFileName);
        return false;
    }
    TOpenDeadline deadline{std::chrono::steady_clock::now() + kOpenTimeLimit};
    context->interrupt_callback.callback = OpenDeadlinePassed;
    context->interrupt_callback.opaque = &deadline;

    // On failure the library frees the context and clears the pointer.
    int result =
        LibAVFormat.avformat_open_input(&context, AFileName.c_str(), forcedFormat, nullptr);
    if (result < 0) {
        lastErrorText_ = OpenErrorText(result, AFileName);
        return false;
    }
    formatContext_.reset(context);

    result = LibAVFormat.avformat_find_stream_info(formatContext_.get(), nullptr);
    // The deadline lives on this stack frame: nothing may call back into it later.
    formatContext_->interrupt_callback = {};
    if (result < 0) {
        lastErrorText_ = FillName("%s: could not find codec parameters", AFileName);
        CloseFile();
        return false;
    }

    CountStreams();
    formatName_ = AFormatName;
    return true;
}

void TAVProbe::CountStreams() {
    streamCount_ = static_cast<int32_t>(formatContext_->nb_streams);
    programCount_ = static_cast<int32_t>(formatContext_->nb_programs);
    audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = 0;
    firstAudioStream_ = firstVideoStream_ = firstSubtitleStream_ = -1;
    for (int32_t i = 0; i < streamCount_; ++i) {
        switch (formatContext_->streams[i]->codecpar->codec_type) {
            case AVMEDIA_TYPE_AUDIO:
                ++audioStreamCount_;
                if (firstAudioStream_ < 0) firstAudioStream_ = i;
                break;
            case AVMEDIA_TYPE_VIDEO:
                ++videoStreamCount_;
                if (firstVideoStream_ < 0) firstVideoStream_ = i;
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                ++subtitleStreamCount_;
                if (firstSubtitleStream_ < 0) firstSubtitleStream_ = i;
                break;
            default:
                break;
        }
    }
}

void TAVProbe::CloseFile() {
    formatName_.clear();
    formatContext_.reset();
    streamCount_ = programCount_ = -1;
    audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = -1;
    firstAudioStream_ = firstVideoStream_ = firstSubtitleStream_ = -1;
}

void TAVProbe::GetFileInfo(TAVFileInfo& AFileInfo) const {
    AFileInfo = TAVFileInfo{};
    if (!formatContext_) {
        LibAVUtil.av_log(nullptr, AV_LOG_INFO, "file not loaded.\n");
        return;
    }
    const AVFormatContext& context = *formatContext_;
    AFileInfo.StartTime = context.start_time;
    // A damaged header may give a negative length: unknown then. A capture whose streams' clocks
    // lie apart lasts as long as the streams a conversion takes (StreamChoice.h).
    AFileInfo.Duration = MediaDuration(&context);
    AFileInfo.BitRate = ClampToInt32(context.bit_rate);

    const AVDictionary* metadata = context.metadata;
    AFileInfo.Timestamp = 0;
    if (const char* created = MetadataText(metadata, "creation_time")) {
        int64_t microseconds = 0;
        if (LibAVUtil.av_parse_time(&microseconds, created, 0) >= 0)
            AFileInfo.Timestamp = microseconds / AV_TIME_BASE;
    }
    CopyText(AFileInfo.Title, MetadataText(metadata, "title"));
    const char* author = MetadataText(metadata, "author");
    CopyText(AFileInfo.Author, author ? author : MetadataText(metadata, "artist"));
    CopyText(AFileInfo.Copyright, MetadataText(metadata, "copyright"));
    CopyText(AFileInfo.Comment, MetadataText(metadata, "comment"));
    CopyText(AFileInfo.Album, MetadataText(metadata, "album"));
    AFileInfo.Year = LeadingNumber(MetadataText(metadata, "date"));
    AFileInfo.Track = LeadingNumber(MetadataText(metadata, "track"));
    CopyText(AFileInfo.Genre, MetadataText(metadata, "genre"));
}

std::vector<TAVChapter> TAVProbe::Chapters() const {
    std::vector<TAVChapter> chapters;
    if (!formatContext_) return chapters;
    const AVFormatContext& context = *formatContext_;
    int64_t mediaStart = MediaStartTime(&context);
    if (mediaStart == AV_NOPTS_VALUE) mediaStart = 0;
    for (unsigned i = 0; i < context.nb_chapters; ++i) {
        const AVChapter& chapter = *context.chapters[i];
        const char* title = MetadataText(chapter.metadata, "title");
        chapters.push_back(
            {LibAVUtil.av_rescale_q(chapter.start, chapter.time_base, AV_TIME_BASE_Q) - mediaStart,
             LibAVUtil.av_rescale_q(chapter.end, chapter.time_base, AV_TIME_BASE_Q) - mediaStart,
             title ? title : ""});
    }
    return chapters;
}

void TAVProbe::GetVideoStreamInfo(int32_t AIndex, TAVVideoStreamInfo& AVideoStreamInfo) const {
    AVideoStreamInfo = TAVVideoStreamInfo{};
    if (!formatContext_) {
        LibAVUtil.av_log(nullptr, AV_LOG_INFO, "file not loaded.\n");
        return;
    }
    int32_t index = AIndex;
    if (index == -1) {
        index = ChooseStream(formatContext_.get(), AVMEDIA_TYPE_VIDEO);
        if (index == -1) {
            LibAVUtil.av_log(nullptr, AV_LOG_ERROR, "no video stream.\n");
            return;
        }
    }
    if (index < 0 || index >= streamCount_) {
        LibAVUtil.av_log(nullptr, AV_LOG_ERROR, "stream index #%d is invalid.\n", index);
        return;
    }
    const AVStream& stream = *formatContext_->streams[index];
    const AVCodecParameters& codec = *stream.codecpar;
    if (codec.codec_type != AVMEDIA_TYPE_VIDEO) {
        LibAVUtil.av_log(nullptr, AV_LOG_ERROR, "stream #%d is not video stream.\n", index);
        return;
    }

    CopyText(AVideoStreamInfo.Language, MetadataText(stream.metadata, "language"));
    CopyText(AVideoStreamInfo.CodecName, LibAVCodec.avcodec_get_name(codec.codec_id));
    AVideoStreamInfo.StartTime = stream.start_time;
    if (stream.start_time != AV_NOPTS_VALUE)
        AVideoStreamInfo.StartTimeUs =
            LibAVUtil.av_rescale_q(stream.start_time, stream.time_base, AV_TIME_BASE_Q);
    AVideoStreamInfo.Duration = stream.duration < 0 ? AV_NOPTS_VALUE : stream.duration;
    if (AVideoStreamInfo.Duration != AV_NOPTS_VALUE)
        AVideoStreamInfo.DurationUs =
            LibAVUtil.av_rescale_q(stream.duration, stream.time_base, AV_TIME_BASE_Q);
    AVideoStreamInfo.BitRate = ClampToInt32(codec.bit_rate);
    // A damaged header may give a negative size: unknown (0) then, as for a missing one.
    AVideoStreamInfo.Height = std::max(codec.height, 0);
    AVideoStreamInfo.Width = std::max(codec.width, 0);
    // A damaged header may give no height or a zero denominator: no aspect then, not infinity.
    const AVRational sampleAspect = codec.sample_aspect_ratio;
    AVideoStreamInfo.DisplayAspect =
        codec.height > 0 && codec.width >= 0 && sampleAspect.den != 0
            ? static_cast<float>(codec.width *
                                 (static_cast<double>(sampleAspect.num) / sampleAspect.den) /
                                 codec.height)
            : 0.0f;
    AVideoStreamInfo.PixelFormat = codec.format;
    const AVRational rate = RealFrameRate(&stream);
    AVideoStreamInfo.FrameRateNum = rate.num;
    AVideoStreamInfo.FrameRateDen = rate.den;
    const TDisplayTransform transform = DisplayTransformOf(&stream);
    AVideoStreamInfo.Rotation = transform.ClockwiseDegrees;
    if (transform.SwapsSides()) {
        std::swap(AVideoStreamInfo.Width, AVideoStreamInfo.Height);
        if (AVideoStreamInfo.DisplayAspect > 0.0f)
            AVideoStreamInfo.DisplayAspect = 1.0f / AVideoStreamInfo.DisplayAspect;
    }
}
