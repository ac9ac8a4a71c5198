#include "app/core/StreamCopy.h"

#include "binding/FFmpegLibs.h"
#include "binding/LibHandles.h"
#include "engine/StreamChoice.h"

namespace {

// The libraries' name of the codec an encoder writes ("libx264" gives "h264").
std::string CodecOfEncoder(const std::string& encoder) {
    const AVCodec* codec = LibAVCodec.avcodec_find_encoder_by_name(encoder.c_str());
    return codec ? LibAVCodec.avcodec_get_name(codec->id) : "";
}

std::string SizeText(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

// 100% of the volume: the window's 255 and the engine's own 256 both leave the sound alone.
bool VolumeUnchanged(int volume) {
    return volume < 0 || volume == 255 || volume == 256;
}

bool VideoFits(const TJobDescription& job, const TSourceStreams::TVideo& video) {
    if (job.VideoCodec.empty() || CodecOfEncoder(job.VideoCodec) != video.Codec) return false;
    if (!job.FrameSize.empty() && job.FrameSize != SizeText(video.Width, video.Height))
        return false;
    if (job.FrameRate) {
        // Compared as fractions: 30000/1001 and 60000/2002 are one rate.
        const long long asked = static_cast<long long>(job.FrameRate->Num) * video.Rate.Den;
        const long long has = static_cast<long long>(video.Rate.Num) * job.FrameRate->Den;
        if (video.Rate.Num <= 0 || asked != has) return false;
    }
    const bool padded = job.PadTop > 0 || job.PadBottom > 0 || job.PadLeft > 0 || job.PadRight > 0;
    return !padded && !video.Turned;
}

bool AudioFits(const TJobDescription& job, const TSourceStreams::TAudio& audio) {
    if (job.AudioCodec.empty() || CodecOfEncoder(job.AudioCodec) != audio.Codec) return false;
    if (job.AudioSampleRate > 0 && job.AudioSampleRate != audio.SampleRate) return false;
    if (job.AudioChannels > 0 && job.AudioChannels != audio.Channels) return false;
    return VolumeUnchanged(job.AudioVolume);
}

}  // namespace

std::optional<TSourceStreams> ReadSourceStreams(const std::string& path) {
    if (!AVFormatLoaded()) return std::nullopt;
    AVFormatContext* opened = nullptr;
    if (LibAVFormat.avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0)
        return std::nullopt;
    const TInputPtr context(opened);
    if (LibAVFormat.avformat_find_stream_info(context.get(), nullptr) < 0) return std::nullopt;

    // The streams the conversion itself takes, so what is copied is what would be converted.
    TSourceStreams streams;
    if (const int index = ChooseStream(context.get(), AVMEDIA_TYPE_VIDEO); index >= 0) {
        const AVStream* stream = context->streams[index];
        const AVCodecParameters* par = stream->codecpar;
        const AVRational rate =
            stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
        streams.Video = TSourceStreams::TVideo{
            LibAVCodec.avcodec_get_name(par->codec_id), par->width, par->height,
            TFrameRate{rate.num, rate.den ? rate.den : 1}, !DisplayTransformOf(stream).Identity()};
    }
    if (const int index = ChooseStream(context.get(), AVMEDIA_TYPE_AUDIO); index >= 0) {
        const AVCodecParameters* par = context->streams[index]->codecpar;
        streams.Audio = TSourceStreams::TAudio{LibAVCodec.avcodec_get_name(par->codec_id),
                                               par->sample_rate, par->ch_layout.nb_channels};
    }
    return streams;
}

void CopyStreamsThatFit(TJobDescription& job, const TSourceStreams& source,
                        std::vector<std::string>& logLines) {
    if (!job.DisableVideo && source.Video && VideoFits(job, *source.Video)) {
        job.VideoCodec = "copy";
        logLines.push_back("video copied as it is (" + source.Video->Codec + " " +
                           SizeText(source.Video->Width, source.Video->Height) +
                           "): it already fits the profile");
    }
    if (source.Audio && AudioFits(job, *source.Audio)) {
        job.AudioCodec = "copy";
        job.AudioVolume = -1;  // the 100% the job carries: copied samples are not touched
        logLines.push_back("audio copied as it is (" + source.Audio->Codec + " " +
                           std::to_string(source.Audio->SampleRate) + " Hz, " +
                           std::to_string(source.Audio->Channels) +
                           " channels): it already fits the profile");
    }
}
