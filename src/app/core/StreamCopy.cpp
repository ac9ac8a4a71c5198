#include "app/core/StreamCopy.h"

#include <cctype>
#include <filesystem>

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
    // Normalised sound is decoded and encoded again.
    return VolumeUnchanged(job.AudioVolume) && job.Loudness.empty();
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
    streams.AudioIndex = ChooseStream(context.get(), AVMEDIA_TYPE_AUDIO);
    if (streams.AudioIndex >= 0)
        streams.Audio = SoundOf(context->streams[streams.AudioIndex]->codecpar);
    streams.VideoIndex = ChooseStream(context.get(), AVMEDIA_TYPE_VIDEO);
    streams.CoverIndex = FindCoverStream(context.get());
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        const AVCodecParameters* par = stream->codecpar;
        const bool subtitle = par->codec_type == AVMEDIA_TYPE_SUBTITLE;
        if (!subtitle && (par->codec_type != AVMEDIA_TYPE_AUDIO || !UsableStream(stream))) continue;
        // A broadcast capture is converted from one program; the others' tracks run on other
        // clocks and are not the recording the user means.
        if (!InChosenProgram(context.get(), i)) continue;
        const AVCodecDescriptor* descriptor = LibAVCodec.avcodec_descriptor_get(par->codec_id);
        const auto tag = [stream](const char* key) {
            const AVDictionaryEntry* entry =
                LibAVUtil.av_dict_get(stream->metadata, key, nullptr, 0);
            return std::string(entry ? entry->value : "");
        };
        streams.Tracks.push_back({static_cast<int>(i), subtitle, static_cast<int>(par->codec_id),
                                  descriptor && (descriptor->props & AV_CODEC_PROP_TEXT_SUB),
                                  SoundOf(par), tag("language"), tag("title"),
                                  (stream->disposition & AV_DISPOSITION_DEFAULT) != 0,
                                  (stream->disposition & AV_DISPOSITION_FORCED) != 0});
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

namespace {

// "MP4", "MKV", "WebM": the output's kind as the user knows it, from its extension.
std::string FormatLabel(const std::string& output) {
    std::string label = std::filesystem::path(output).extension().string();
    if (!label.empty()) label.erase(0, 1);
    for (char& c : label) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return label == "WEBM" ? "WebM" : label;
}

// "PGS", "SRT": a subtitle codec as players and shops name it.
std::string SubtitleKind(int codecId) {
    switch (codecId) {
        case AV_CODEC_ID_HDMV_PGS_SUBTITLE:
            return "PGS";
        case AV_CODEC_ID_DVD_SUBTITLE:
            return "DVD";
        case AV_CODEC_ID_DVB_SUBTITLE:
            return "DVB";
        case AV_CODEC_ID_SUBRIP:
            return "SRT";
        case AV_CODEC_ID_ASS:
            return "ASS";
        case AV_CODEC_ID_WEBVTT:
            return "WebVTT";
        default:
            return LibAVCodec.avcodec_get_name(AVCodecID(codecId));
    }
}

bool NameHasWord(const char* names, const char* word) {
    const std::string list = std::string(",") + names + ",";
    return list.find(std::string(",") + word + ",") != std::string::npos;
}

// The encoder that writes text subtitles into the format: its own text where it has one,
// ASS kept as ASS in Matroska (its styles go with it); empty where the format holds no text.
std::string TextSubtitleEncoder(const AVOutputFormat* format, int codecId) {
    for (const char* word : {"mp4", "mov", "ipod", "3gp", "3g2"})
        if (NameHasWord(format->name, word)) return "mov_text";
    if (NameHasWord(format->name, "webm")) return "webvtt";
    if (NameHasWord(format->name, "matroska")) return codecId == AV_CODEC_ID_ASS ? "ass" : "subrip";
    return {};
}

// The stream lines that add one subtitle track, or the reason the format cannot keep it.
bool SubtitleLines(const AVOutputFormat* format, const std::string& formatLabel,
                   const TSubtitleTrack& track, std::vector<std::string>& lines,
                   std::string& reason) {
    const bool held = format && LibAVFormat.avformat_query_codec(format, AVCodecID(track.CodecId),
                                                                 FF_COMPLIANCE_NORMAL) == 1;
    const std::string encoder =
        format && track.Text ? TextSubtitleEncoder(format, track.CodecId) : std::string();
    // A file's text is decoded in its own character set: never copied as bytes.
    if (held && (track.Input == 0 || encoder.empty())) {
        lines.push_back("scodec=copy");
    } else if (!encoder.empty()) {
        lines.push_back("scodec=" + encoder);
    } else {
        reason = SubtitleKind(track.CodecId) + " subtitles cannot be stored in " + formatLabel;
        return false;
    }
    if (!track.Language.empty()) lines.push_back("slang=" + track.Language);
    if (track.Forced) lines.push_back("sdisposition=forced");
    lines.push_back("newsubtitle");
    return true;
}

const TSourceStreams::TTrack* TrackAt(const TSourceStreams& source, int index) {
    for (const TSourceStreams::TTrack& track : source.Tracks)
        if (track.Index == index) return &track;
    return nullptr;
}

}  // namespace

void KeepTracks(TJobDescription& job, const TSourceStreams& source, const TKeptTracks& kept,
                bool copy, std::vector<std::string>& logLines) {
    const TJobDescription asked = job;
    const AVOutputFormat* format =
        LibAVFormat.av_guess_format(nullptr, job.OutputFile.c_str(), nullptr);
    const bool video = source.VideoIndex >= 0 && !job.DisableVideo;
    // Streams are made video first, then the job's one sound stream (and a cover picture when
    // there is no video), then what the lines after the opening add: the maps list their sources
    // in that order. The format's own subtitle stream is left out ("sn"): each subtitle track
    // gets one of its own.
    std::vector<std::string> soundMaps, subtitleMaps, subtitleLines;
    for (const int index : kept.Sound) {
        const TSourceStreams::TTrack* track = TrackAt(source, index);
        if (!track) continue;
        const bool fits = copy && AudioFits(asked, track->Format);
        const std::string codec = fits ? "copy" : asked.AudioCodec;
        if (soundMaps.empty()) {
            job.AudioCodec = codec;
            job.OptionLines.push_back("adisposition=default");
        } else {
            job.StreamLines.push_back("acodec=" + codec);
            job.StreamLines.push_back("adisposition=none");
            job.StreamLines.push_back("newaudio");
        }
        soundMaps.push_back("map=0:" + std::to_string(index));
        if (fits) {
            // Copied samples are not touched: the job's 100% would refuse the copy.
            job.AudioVolume = -1;
            logLines.push_back("audio " + TrackText(*track) +
                               " copied as it is: it already fits the profile");
        }
    }
    if (!video && !soundMaps.empty() && source.CoverIndex >= 0 && WritesCoverStream(format))
        soundMaps.insert(soundMaps.begin() + 1, "map=0:" + std::to_string(source.CoverIndex));
    const std::string label = FormatLabel(job.OutputFile);
    for (const TSubtitleTrack& track : kept.Subtitles) {
        std::string reason;
        if (!SubtitleLines(format, label, track, subtitleLines, reason)) {
            logLines.push_back("subtitle " + track.Label + ": " + reason + ": not kept");
            continue;
        }
        subtitleMaps.push_back("map=" + std::to_string(track.Input) + ":" +
                               std::to_string(track.Stream));
    }
    auto& lines = job.OptionLines;
    if (soundMaps.empty()) lines.push_back("an");
    if (video) lines.push_back("map=0:" + std::to_string(source.VideoIndex));
    lines.insert(lines.end(), soundMaps.begin(), soundMaps.end());
    lines.insert(lines.end(), subtitleMaps.begin(), subtitleMaps.end());
    lines.push_back("sn");
    job.StreamLines.insert(job.StreamLines.end(), subtitleLines.begin(), subtitleLines.end());
}
