#include "app/core/StreamCopy.h"

#include "app/core/TodaysEncoding.h"
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
    const std::string format = PictureFormatOf(job.VideoCodec);
    if (!format.empty() && video.PictureFormat != format) return false;
    const bool padded = job.PadTop > 0 || job.PadBottom > 0 || job.PadLeft > 0 || job.PadRight > 0;
    return !padded && !video.Turned;
}

bool AudioFits(const TJobDescription& job, const TSourceStreams::TAudio& audio) {
    if (job.AudioCodec.empty() || CodecOfEncoder(job.AudioCodec) != audio.Codec) return false;
    if (job.AudioSampleRate > 0 && job.AudioSampleRate != audio.SampleRate) return false;
    if (job.AudioChannels > 0 && job.AudioChannels != audio.Channels) return false;
    return VolumeUnchanged(job.AudioVolume);
}

TSourceStreams::TAudio SoundOf(const AVCodecParameters* par) {
    return {LibAVCodec.avcodec_get_name(par->codec_id), par->sample_rate,
            par->ch_layout.nb_channels};
}

std::string TrackText(const TSourceStreams::TTrack& track) {
    return "track " + std::to_string(track.Index) + " (" + track.Format.Codec + ")";
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
        const char* format = LibAVUtil.av_get_pix_fmt_name(AVPixelFormat(par->format));
        streams.Video = TSourceStreams::TVideo{LibAVCodec.avcodec_get_name(par->codec_id),
                                               par->width,
                                               par->height,
                                               TFrameRate{rate.num, rate.den ? rate.den : 1},
                                               !DisplayTransformOf(stream).Identity(),
                                               format ? format : ""};
    }
    if (const int index = ChooseStream(context.get(), AVMEDIA_TYPE_AUDIO); index >= 0)
        streams.Audio = SoundOf(context->streams[index]->codecpar);
    streams.VideoIndex = ChooseStream(context.get(), AVMEDIA_TYPE_VIDEO);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        const AVCodecParameters* par = stream->codecpar;
        const bool subtitle = par->codec_type == AVMEDIA_TYPE_SUBTITLE;
        if (!subtitle && (par->codec_type != AVMEDIA_TYPE_AUDIO || !UsableStream(stream))) continue;
        // A broadcast capture is converted from one program; the others' tracks run on other
        // clocks and are not the recording the user means.
        if (!InChosenProgram(context.get(), i)) continue;
        const AVCodecDescriptor* descriptor = LibAVCodec.avcodec_descriptor_get(par->codec_id);
        streams.Tracks.push_back({static_cast<int>(i), subtitle, static_cast<int>(par->codec_id),
                                  descriptor && (descriptor->props & AV_CODEC_PROP_TEXT_SUB),
                                  SoundOf(par)});
    }
    return streams;
}

void CopyStreamsThatFit(TJobDescription& job, const TSourceStreams& source,
                        std::vector<std::string>& logLines) {
    if (!job.DisableVideo && source.Video && VideoFits(job, *source.Video)) {
        // The copy keeps the tag the encoder's output would get (hvc1, not the source's hev1).
        const std::vector<std::string> tag = VideoTagLines(job.VideoCodec, job.FormatKey);
        job.OptionLines.insert(job.OptionLines.end(), tag.begin(), tag.end());
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

void KeepEveryTrack(TJobDescription& job, const TSourceStreams& source, bool copy,
                    std::vector<std::string>& logLines) {
    if (source.VideoIndex < 0) return;
    const TJobDescription asked = job;
    const AVOutputFormat* format =
        LibAVFormat.av_guess_format(nullptr, job.OutputFile.c_str(), nullptr);
    // Streams are made video first, then the job's one sound stream, then what the lines after
    // the opening add: the maps list their sources in that order. The format's own subtitle
    // stream is left out ("sn"): each subtitle track gets one of its own.
    std::vector<std::string> soundMaps, subtitleMaps, subtitleLines;
    for (const TSourceStreams::TTrack& track : source.Tracks) {
        const std::string map = "map=0:" + std::to_string(track.Index);
        if (track.Subtitle) {
            const bool held =
                format && LibAVFormat.avformat_query_codec(format, AVCodecID(track.CodecId),
                                                           FF_COMPLIANCE_NORMAL) == 1;
            if (!held && !(track.Text && format && format->subtitle_codec != AV_CODEC_ID_NONE)) {
                logLines.push_back("subtitle " + TrackText(track) +
                                   " left out: the output format cannot hold it");
                continue;
            }
            if (held) subtitleLines.push_back("scodec=copy");
            subtitleLines.push_back("newsubtitle");
            subtitleMaps.push_back(map);
            continue;
        }
        const bool fits = copy && AudioFits(asked, track.Format);
        const std::string codec = fits ? "copy" : asked.AudioCodec;
        if (soundMaps.empty()) {
            job.AudioCodec = codec;
        } else {
            job.StreamLines.push_back("acodec=" + codec);
            job.StreamLines.push_back("newaudio");
        }
        soundMaps.push_back(map);
        if (fits) {
            // Copied samples are not touched: the job's 100% would refuse the copy.
            job.AudioVolume = -1;
            logLines.push_back("audio " + TrackText(track) +
                               " copied as it is: it already fits the profile");
        }
    }
    auto& lines = job.OptionLines;
    if (soundMaps.empty()) lines.push_back("an");
    lines.push_back("map=0:" + std::to_string(source.VideoIndex));
    lines.insert(lines.end(), soundMaps.begin(), soundMaps.end());
    lines.insert(lines.end(), subtitleMaps.begin(), subtitleMaps.end());
    lines.push_back("sn");
    job.StreamLines.insert(job.StreamLines.end(), subtitleLines.begin(), subtitleLines.end());
}
