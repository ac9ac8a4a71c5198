// Input and output files of a job: opening and probing the inputs, creating the outputs with
// their streams, codec lookup by name.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>

#include "engine/CustomFFmpeg.h"
#include "engine/LibraryErrors.h"
#include "engine/RateFit.h"
#include "engine/StreamChoice.h"

namespace {

constexpr int kLanguageLength = 3;

const char* MediaTypeWord(bool encoder) {
    return encoder ? "encoder" : "decoder";
}

std::string LowerCaseExtension(const std::string& fileName) {
    const size_t slash = fileName.find_last_of('/');
    const size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string extension = fileName.substr(dot);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

void SetMetadata(AVDictionary** metadata, const char* key, const std::string& value) {
    if (!value.empty()) LibAVUtil.av_dict_set(metadata, key, value.c_str(), 0);
}

// "start,end,q/start,end,q/...": each entry needs a comma after at least one character of its
// first two numbers, as sscanf("%d,%d,%d") reads it.
bool ParseRateControlOverride(const std::string& text, std::vector<RcOverride>& entries) {
    size_t position = 0;
    while (position <= text.size()) {
        size_t end = text.find('/', position);
        if (end == std::string::npos) end = text.size();
        const std::string entry = text.substr(position, end - position);
        int start = 0, last = 0, q = 0;
        if (std::sscanf(entry.c_str(), "%d,%d,%d", &start, &last, &q) != 3) return false;
        RcOverride item{};
        item.start_frame = start;
        item.end_frame = last;
        if (q > 0) {
            item.qscale = q;
            item.quality_factor = 1.0f;
        } else {
            item.qscale = 0;
            item.quality_factor = -q / 100.0f;
        }
        entries.push_back(item);
        if (end == text.size()) break;
        position = end + 1;
    }
    return true;
}

// Runs its action when the scope ends, unless released: the clean-up of a set-up that stops
// half way, whichever way it leaves.
template <typename F>
class TScopeExit {
  public:
    explicit TScopeExit(F action) : action_(std::move(action)) {}
    ~TScopeExit() {
        if (armed_) action_();
    }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;
    void Release() { armed_ = false; }

  private:
    F action_;
    bool armed_ = true;
};

// The file's own tags as the options give them.
void SetFileMetadata(AVDictionary** metadata, const TFFmpegOptions& options) {
    SetMetadata(metadata, "title", options.Title);
    SetMetadata(metadata, "author", options.Author);
    SetMetadata(metadata, "artist", options.Author);
    SetMetadata(metadata, "copyright", options.Copyright);
    SetMetadata(metadata, "comment", options.Comment);
    SetMetadata(metadata, "album", options.Album);
    SetMetadata(metadata, "genre", options.Genre);
    if (options.Year > 0) SetMetadata(metadata, "date", std::to_string(options.Year));
    if (options.Track > 0) SetMetadata(metadata, "track", std::to_string(options.Track));
    if (options.RecordingTimestamp != 0) {
        const time_t seconds = static_cast<time_t>(options.RecordingTimestamp);
        struct tm utc {};
        char text[32];
        if (gmtime_r(&seconds, &utc) &&
            std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc))
            SetMetadata(metadata, "creation_time", text);
    }
}

}  // namespace

// ---- Codec lookup.

bool TCustomFFmpeg::FindCodec(const std::string& name, AVMediaType type, bool encoder,
                              AVCodecID& id) {
    id = AV_CODEC_ID_NONE;
    if (name.empty()) return true;
    const AVCodec* codec = encoder ? LibAVCodec.avcodec_find_encoder_by_name(name.c_str())
                                   : LibAVCodec.avcodec_find_decoder_by_name(name.c_str());
    if (!codec) {
        LastError = FormatText("Unknown %s '%s'", MediaTypeWord(encoder), name.c_str());
        return false;
    }
    if (codec->type != type) {
        LastError = FormatText("Invalid %s type '%s'", MediaTypeWord(encoder), name.c_str());
        return false;
    }
    id = codec->id;
    return true;
}

const AVCodec* TCustomFFmpeg::ChooseEncoder(const AVFormatContext* file, AVMediaType type,
                                            const std::string& name, AVCodecID& codecId) {
    if (name.empty()) {
        // Without a name the format's own codec of the kind.
        codecId = LibAVFormat.av_guess_codec(file->oformat, nullptr, file->url, nullptr, type);
        return LibAVCodec.avcodec_find_encoder(codecId);
    }
    if (!FindCodec(name, type, true, codecId)) throw FFMpegException(LastError);
    return LibAVCodec.avcodec_find_encoder_by_name(name.c_str());
}

// ---- Inputs.

void TCustomFFmpeg::FillRawInputParameters(TDictionary& rawParameters) const {
    auto setParameter = [&](const char* key, const std::string& value) {
        rawParameters.Set(key, value.c_str());
    };
    if (FrameRate.num && FrameRate.den)
        setParameter("framerate", FormatText("%d/%d", FrameRate.num, FrameRate.den));
    if (AudioSampleRate > 0) setParameter("sample_rate", std::to_string(AudioSampleRate));
    if (AudioChannels > 0) setParameter("channels", std::to_string(AudioChannels));
    if (FrameWidth > 0 && FrameHeight > 0)
        setParameter("video_size", FormatText("%dx%d", FrameWidth + PadLeft + PadRight,
                                              FrameHeight + PadTop + PadBottom));
    if (FramePixelFormat >= 0) {
        if (const char* name = LibAVUtil.av_get_pix_fmt_name(AVPixelFormat(FramePixelFormat)))
            setParameter("pixel_format", name);
    }
    if (VideoChannel) setParameter("channel", std::to_string(VideoChannel));
    if (!VideoStandard.empty()) setParameter("standard", VideoStandard);
    if (LoopInput) setParameter("loop", "1");
}

bool TCustomFFmpeg::OpenInputFile(const std::string& fileName) {
    // The input-scoped options are consumed whatever the outcome.
    const TScopeExit clearOptions([this] { ClearInputScopedOptions(); });
    TInputFile input;
    int64_t timestamp = 0;
    try {
        if (InputFileCount >= MAX_FILES)
            throw FFMpegException::Format("Too many input files (at most %d)", MAX_FILES);
        input.Context = OpenDemuxer(fileName);
        timestamp = SeekToStart(input.Context.get());
        for (unsigned i = 0; i < input.Context->nb_streams; ++i)
            input.Decoders.push_back(MakeDecoder(input.Context->streams[i], fileName));
    } catch (const FFMpegException& error) {
        LastError = error.what();
        return false;
    }
    // What the streams say goes to the options; its refusals pass to the caller.
    TakeInputFacts(input, fileName);

    AVFormatContext* context = input.Context.get();
    const int64_t duration = MediaDuration(context);
    if (duration != AV_NOPTS_VALUE && duration / 1000 > SourceDurationMs)
        SourceDurationMs = static_cast<int32_t>(std::min<int64_t>(duration / 1000, INT32_MAX));
    const int fileIndex = InputFileCount;
    input.RateEmulation = RateEmulation != 0;
    input.TimeOffset = CopyTimestamps ? InputTimeOffset : InputTimeOffset - timestamp;
    InputFiles[fileIndex] = std::move(input);
    if (Verbose >= 0) LibAVFormat.av_dump_format(context, fileIndex, fileName.c_str(), 0);
    ++InputFileCount;
    return true;
}

int64_t TCustomFFmpeg::SeekToStart(AVFormatContext* context) {
    // Cues and timed meta-data may start long before the pictures and the sound.
    int64_t timestamp = StartTime;
    const int64_t mediaStart = MediaStartTime(context);
    if (mediaStart != AV_NOPTS_VALUE)
        timestamp += mediaStart;
    else if (context->start_time != AV_NOPTS_VALUE)
        timestamp += context->start_time;
    if (StartTime != 0) {
        LibAVFormat.av_seek_frame(context, -1, timestamp, AVSEEK_FLAG_BACKWARD);
        StartTime = 0;
    }
    return timestamp;
}

void TCustomFFmpeg::TakeInputFacts(const TInputFile& input, const std::string& fileName) {
    AVFormatContext* context = input.Context.get();
    // The geometry, rate and sound of the streams a conversion takes, not of the last listed.
    const int chosenVideo = ChooseStream(context, AVMEDIA_TYPE_VIDEO);
    const int chosenAudio = ChooseStream(context, AVMEDIA_TYPE_AUDIO);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVStream* stream = context->streams[i];
        const AVMediaType type = stream->codecpar->codec_type;
        if (type < AVMEDIA_TYPE_UNKNOWN || type > AVMEDIA_TYPE_ATTACHMENT)
            throw FFMpegException("invalid codec_type");
        const int chosen = type == AVMEDIA_TYPE_VIDEO   ? chosenVideo
                           : type == AVMEDIA_TYPE_AUDIO ? chosenAudio
                                                        : -1;
        TakeInputStreamFacts(stream, input.Decoders[i].get(), fileName,
                             chosen < 0 || int(i) == chosen);
    }
}

TInputPtr TCustomFFmpeg::OpenDemuxer(const std::string& fileName) {
    AVCodecID videoCodec = AV_CODEC_ID_NONE, audioCodec = AV_CODEC_ID_NONE,
              subtitleCodec = AV_CODEC_ID_NONE;
    if (!FindCodec(VideoCodecName, AVMEDIA_TYPE_VIDEO, false, videoCodec) ||
        !FindCodec(AudioCodecName, AVMEDIA_TYPE_AUDIO, false, audioCodec) ||
        !FindCodec(SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false, subtitleCodec))
        throw FFMpegException(LastError);
    if (ImageSequenceCompat) videoCodec = AV_CODEC_ID_PGMYUV;

    AVFormatContext* context = LibAVFormat.avformat_alloc_context();
    if (!context) throw FFMpegException(LibraryErrorText(AVERROR(ENOMEM), fileName));
    // What a raw input cannot tell by itself; demuxers without these options leave them.
    TDictionary rawParameters;
    FillRawInputParameters(rawParameters);

    CopyGenericOptions(context, FormatOptionContext.get(), kOptionDecoding);
    // Today's muxers refuse packets without a presentation time (MPEG program streams leave it
    // out on most pictures): the demuxer works it out for copied streams.
    context->flags |= AVFMT_FLAG_GENPTS;
    context->video_codec_id = videoCodec;
    context->audio_codec_id = audioCodec;
    context->subtitle_codec_id = subtitleCodec;

    // On failure the library frees the context and clears the pointer.
    int result = LibAVFormat.avformat_open_input(&context, fileName.c_str(), ForcedInputFormat,
                                                 rawParameters.Address());
    if (result < 0) throw FFMpegException(OpenErrorText(result, fileName));
    TInputPtr input(context);

    if (ProgramId != 0)
        for (unsigned i = 0; i < context->nb_programs; ++i)
            if (context->programs[i]->id != ProgramId)
                context->programs[i]->discard = AVDISCARD_ALL;

    {
        TCodecLock lock;
        result = LibAVFormat.avformat_find_stream_info(context, nullptr);
    }
    if (result < 0 && Verbose >= 0)
        throw FFMpegException::Format("%s: could not find codec parameters", fileName.c_str());
    if (ProgramId == 0) KeepChosenProgram(context);
    return input;
}

void TCustomFFmpeg::KeepChosenProgram(AVFormatContext* context) {
    const AVProgram* chosen = ChosenProgram(context);
    if (!chosen) return;
    // The demuxer drops the other programs' packets before they reach the loop.
    for (unsigned i = 0; i < context->nb_programs; ++i)
        if (context->programs[i] != chosen) context->programs[i]->discard = AVDISCARD_ALL;
    for (unsigned i = 0; i < context->nb_streams; ++i)
        if (!InChosenProgram(context, i)) context->streams[i]->discard = AVDISCARD_ALL;
    const AVDictionaryEntry* name =
        LibAVUtil.av_dict_get(chosen->metadata, "service_name", nullptr, 0);
    Log(1, "%s holds %u programs: program %d%s%s%s is converted, the others are left out",
        context->url, context->nb_programs, chosen->id, name ? " (" : "", name ? name->value : "",
        name ? ")" : "");
}

TCodecContextPtr TCustomFFmpeg::MakeDecoder(AVStream* stream, const std::string& fileName) {
    AVCodecParameters* parameters = stream->codecpar;
    const AVCodec* decoder = LibAVCodec.avcodec_find_decoder(parameters->codec_id);
    TCodecContextPtr codec(LibAVCodec.avcodec_alloc_context3(decoder));
    if (!codec || LibAVCodec.avcodec_parameters_to_context(codec.get(), parameters) < 0)
        throw FFMpegException(LibraryErrorText(AVERROR(ENOMEM), fileName));
    codec->pkt_timebase = stream->time_base;
    // 0 lets the library take one thread per core.
    codec->thread_count = std::max(ThreadCount, 0);
    return codec;
}

void TCustomFFmpeg::TakeInputStreamFacts(AVStream* stream, AVCodecContext* codec,
                                         const std::string& fileName, bool chosen) {
    AVCodecParameters* parameters = stream->codecpar;
    switch (parameters->codec_type) {
        case AVMEDIA_TYPE_VIDEO: {
            CopyGenericOptions(codec, CodecOptionContexts[AVMEDIA_TYPE_VIDEO].get(),
                               kOptionVideo | kOptionDecoding);
            if (VideoDisabled)
                stream->discard = AVDISCARD_ALL;
            else if (VideoDiscard)
                stream->discard = AVDiscard(VideoDiscard);
            if (!chosen) break;
            FrameHeight = parameters->height;
            FrameWidth = parameters->width;
            const AVRational sar = parameters->sample_aspect_ratio;
            double aspect =
                parameters->height && sar.den
                    ? parameters->width * (double(sar.num) / sar.den) / parameters->height
                    : 0.0;
            FrameAspectRatio = static_cast<float>(aspect);
            if (FrameAspectRatio == 0.0f || std::isnan(FrameAspectRatio))
                SetFrameAspect(FormatText("%d:%d", parameters->width, parameters->height));
            if (parameters->format < 0) {
                // RealVideo streams do not say; the pictures come out as planar YUV.
                const std::string extension = LowerCaseExtension(fileName);
                if (!extension.empty() && std::string(".rmvb").starts_with(extension)) {
                    parameters->format = 0;
                    codec->pix_fmt = AVPixelFormat(0);
                }
            }
            FramePixelFormat = parameters->format;
            FrameRate = RealFrameRate(stream);
            if (!NoAutoRotate && DisplayTransformOf(stream).SwapsSides()) {
                // The outputs get the picture upright: its sides change places.
                std::swap(FrameWidth, FrameHeight);
                if (FrameAspectRatio > 0.0f) FrameAspectRatio = 1.0f / FrameAspectRatio;
            }
            break;
        }
        case AVMEDIA_TYPE_AUDIO:
            CopyGenericOptions(codec, CodecOptionContexts[AVMEDIA_TYPE_AUDIO].get(),
                               kOptionAudio | kOptionDecoding);
            if (AudioDisabled) stream->discard = AVDISCARD_ALL;
            if (!chosen) break;
            AudioChannels = parameters->ch_layout.nb_channels;
            AudioSampleRate = parameters->sample_rate;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            // The character set of a text subtitle file ("sub_charenc") among them.
            CopyGenericOptions(codec, CodecOptionContexts[AVMEDIA_TYPE_SUBTITLE].get(),
                               kOptionSubtitle | kOptionDecoding);
            if (SubtitleDisabled) stream->discard = AVDISCARD_ALL;
            break;
        default:
            break;
    }
}

void TCustomFFmpeg::check_audio_video_sub_inputs(bool& hasVideo, bool& hasAudio,
                                                 bool& hasSubtitle) {
    hasVideo = hasAudio = hasSubtitle = false;
    for (int i = 0; i < InputFileCount; ++i) {
        AVFormatContext* file = InputFiles[i].Context.get();
        for (unsigned j = 0; file && j < file->nb_streams; ++j) {
            const AVMediaType type = file->streams[j]->codecpar->codec_type;
            if (type < AVMEDIA_TYPE_UNKNOWN || type > AVMEDIA_TYPE_ATTACHMENT)
                throw FFMpegException("invalid codec_type of input file");
            // A cover picture is no video to convert (a format that holds one gets it as it is).
            const bool cover = file->streams[j]->disposition & AV_DISPOSITION_ATTACHED_PIC;
            hasVideo |= type == AVMEDIA_TYPE_VIDEO && !cover;
            hasAudio |= type == AVMEDIA_TYPE_AUDIO;
            hasSubtitle |= type == AVMEDIA_TYPE_SUBTITLE;
        }
    }
}

// ---- Outputs.

bool TCustomFFmpeg::OpenOutputFile(const std::string& fileName) {
    // The output-scoped options are consumed whatever the outcome.
    const TScopeExit clearOptions([this] { ClearOutputScopedOptions(); });
    try {
        CreateOutputFile(fileName);
    } catch (const FFMpegException& error) {
        LastError = error.what();
        return false;
    }
    return true;
}

void TCustomFFmpeg::CreateOutputFile(const std::string& fileName) {
    const int fileIndex = OutputFileCount;
    TOutputPtr output = AllocateOutput(fileName);
    AVFormatContext* context = output.get();
    bool entered = false;
    // Until the file is complete, leaving takes it out of the file table again and frees what
    // its streams hold; the context goes with `output`.
    TScopeExit unwind([&] {
        if (entered) {
            --OutputFileCount;
            output = std::move(OutputFiles[fileIndex].Context);
        }
        for (unsigned i = 0; i < context->nb_streams && i < unsigned(MAX_STREAMS); ++i)
            FreeOutputStreamSlot(fileIndex, int(i));
    });
    AddOutputStreams(context);
    SetFileMetadata(&context->metadata, *this);
    OutputFiles[fileIndex].Context = std::move(output);
    ++OutputFileCount;
    entered = true;
    OpenOutputByteStream(context, fileName);
    // Encoding parameters of the file as a whole no longer exist: each stream carries its own.

    // Preload is the MPEG muxers' own option, looping the GIF muxer's; others have neither.
    LibAVUtil.av_opt_set_int(context, "preload", static_cast<int64_t>(MuxPreload * 1000000),
                             AV_OPT_SEARCH_CHILDREN);
    context->max_delay = static_cast<int>(MuxMaxDelay * 1000000);
    LibAVUtil.av_opt_set_int(context, "loop", LoopOutput, AV_OPT_SEARCH_CHILDREN);
    CopyGenericOptions(context, FormatOptionContext.get(), kOptionEncoding);
    unwind.Release();
}

TOutputPtr TCustomFFmpeg::AllocateOutput(const std::string& fileName) {
    if (OutputFileCount >= MAX_FILES)
        throw FFMpegException::Format("Too many output files (at most %d)", MAX_FILES);
    const AVOutputFormat* format = ForcedOutputFormat;
    if (!format) format = LibAVFormat.av_guess_format(nullptr, fileName.c_str(), nullptr);
    if (!format)
        throw FFMpegException::Format("Unable to find a suitable output format for '%s'",
                                      fileName.c_str());
    AVFormatContext* context = nullptr;
    const int result =
        LibAVFormat.avformat_alloc_output_context2(&context, format, nullptr, fileName.c_str());
    TOutputPtr output(context);
    if (result < 0 || !output) throw FFMpegException(LibraryErrorText(AVERROR(ENOMEM), fileName));
    return output;
}

void TCustomFFmpeg::AddOutputStreams(AVFormatContext* context) {
    const AVOutputFormat* format = context->oformat;
    // The feed format of 2008 ("ffm" on an http: address) no longer exists, nor its branch.
    bool useVideo =
        VideoStreamCopy || format->video_codec != AV_CODEC_ID_NONE || !VideoCodecName.empty();
    bool useAudio =
        AudioStreamCopy || format->audio_codec != AV_CODEC_ID_NONE || !AudioCodecName.empty();
    bool useSubtitle = SubtitleStreamCopy || format->subtitle_codec != AV_CODEC_ID_NONE ||
                       !SubtitleCodecName.empty();
    if (InputFileCount > 0) {
        bool hasVideo = false, hasAudio = false, hasSubtitle = false;
        try {
            check_audio_video_sub_inputs(hasVideo, hasAudio, hasSubtitle);
        } catch (const std::exception& error) {
            throw FFMpegException::Format("check_audio_video_sub_inputs fail: %s", error.what());
        }
        useVideo = useVideo && hasVideo;
        useAudio = useAudio && hasAudio;
        useSubtitle = useSubtitle && hasSubtitle;
    }
    if (SubtitleDisabled) useSubtitle = false;
    const bool videoDisabled = VideoDisabled != 0;
    const bool audioDisabled = AudioDisabled != 0;

    const char* failedStep = nullptr;
    try {
        if (!videoDisabled && useVideo) {
            failedStep = "new_video_stream fail: %s";
            new_video_stream(context);
        }
        if (!audioDisabled && useAudio) {
            failedStep = "new_audio_stream fail: %s";
            new_audio_stream(context);
            if (videoDisabled || !useVideo) new_cover_stream(context);
        }
        if (useSubtitle) {
            failedStep = "new_subtitle_stream fail: %s";
            new_subtitle_stream(context);
        }
    } catch (const std::exception& error) {
        throw FFMpegException(FormatText(failedStep, error.what()));
    }
}

void TCustomFFmpeg::OpenOutputByteStream(AVFormatContext* context, const std::string& fileName) {
    const AVOutputFormat* format = context->oformat;
    if (format->flags & AVFMT_NEEDNUMBER) {
        if (!LibAVFormat.av_filename_number_test(fileName.c_str()))
            throw FFMpegException(LibraryErrorText(AVERROR(EINVAL), fileName, true));
    } else if (!(format->flags & AVFMT_NOFILE)) {
        // An existing file is replaced: whether that is wanted was decided before.
        if (const int opened =
                LibAVFormat.avio_open(&context->pb, fileName.c_str(), AVIO_FLAG_WRITE);
            opened < 0) {
            // The system's own reason: "Permission denied", "No space left on device".
            char reason[AV_ERROR_MAX_STRING_SIZE] = {};
            LibAVUtil.av_strerror(opened, reason, sizeof reason);
            throw FFMpegException::Format("Could not open '%s': %s", fileName.c_str(), reason);
        }
    }
}

int TCustomFFmpeg::OutputFileIndexOf(const AVFormatContext* file) const {
    for (int i = 0; i < OutputFileCount; ++i)
        if (OutputFiles[i].Context.get() == file) return i;
    return OutputFileCount;  // the file OpenOutputFile is building
}

void TCustomFFmpeg::FreeOutputStreamSlot(int fileIndex, int streamIndex) {
    FreeCodecContextLocked(OpenEncoders, OutputFiles[fileIndex].Streams[streamIndex].Codec);
    OutputFiles[fileIndex].Streams[streamIndex].Copy = false;
    OutputFiles[fileIndex].Streams[streamIndex].Quality = 0.0f;
    OutputFiles[fileIndex].Streams[streamIndex].Filters.clear();
}

AVStream* TCustomFFmpeg::AddOutputStream(AVFormatContext* file, TCodecContextPtr& codec,
                                         bool streamCopy, float quality) {
    const int fileIndex = OutputFileIndexOf(file);
    const int streamIndex = static_cast<int>(file->nb_streams);
    if (fileIndex >= MAX_FILES || streamIndex >= MAX_STREAMS) return nullptr;
    AVStream* stream = LibAVFormat.avformat_new_stream(file, nullptr);
    if (!stream) return nullptr;
    stream->codecpar->codec_type = codec->codec_type;
    stream->codecpar->codec_id = codec->codec_id;
    stream->time_base = codec->time_base;
    OutputFiles[fileIndex].Streams[streamIndex].Codec = std::move(codec);
    OutputFiles[fileIndex].Streams[streamIndex].Copy = streamCopy;
    OutputFiles[fileIndex].Streams[streamIndex].Quality = quality;
    OutputFiles[fileIndex].Streams[streamIndex].Disposition = -1;
    OutputFiles[fileIndex].Streams[streamIndex].Filters.clear();
    return stream;
}

void TCustomFFmpeg::NewVideoStream() {
    if (OutputFileCount == 0) throw FFMpegException("At least one output file must be specified");
    new_video_stream(OutputFiles[OutputFileCount - 1].Context.get());
}

void TCustomFFmpeg::NewAudioStream() {
    if (OutputFileCount == 0) throw FFMpegException("At least one output file must be specified");
    new_audio_stream(OutputFiles[OutputFileCount - 1].Context.get());
}

void TCustomFFmpeg::NewSubtitleStream() {
    if (OutputFileCount == 0) throw FFMpegException("At least one output file must be specified");
    new_subtitle_stream(OutputFiles[OutputFileCount - 1].Context.get());
}

void TCustomFFmpeg::new_video_stream(AVFormatContext* file) {
    // The stream options are consumed whatever the outcome.
    const TScopeExit clearOptions([this] { ClearVideoStreamOptions(); });
    // Everything that can be refused is settled before the stream exists: a stream cannot be
    // taken out of a file again.
    const bool streamCopy = VideoStreamCopy != 0;
    const AVCodec* encoder = nullptr;
    AVCodecID codecId = AV_CODEC_ID_NONE;
    std::vector<RcOverride> overrides;
    if (!streamCopy) {
        encoder = ChooseEncoder(file, AVMEDIA_TYPE_VIDEO, VideoCodecName, codecId);
        if (!RateControlOverride.empty() &&
            !ParseRateControlOverride(RateControlOverride, overrides))
            throw FFMpegException("error parsing rc_override");
    }

    TCodecContextPtr codec = MakeVideoContext(file, encoder);
    float quality = 0.0f;
    if (!streamCopy) {
        codec->codec_id = codecId;
        CopyGenericOptions(codec.get(), CodecOptionContexts[AVMEDIA_TYPE_VIDEO].get(),
                           kOptionVideo | kOptionEncoding);
        SetVideoPicture(codec.get(), encoder);
        quality = SetVideoRateControl(codec.get(), overrides);
    }

    const AVRational frameRate = codec->framerate;
    AVStream* stream = AddOutputStream(file, codec, streamCopy, quality);
    if (!stream) throw FFMpegException("Could not alloc stream");
    if (!streamCopy) stream->avg_frame_rate = frameRate;
}

TCodecContextPtr TCustomFFmpeg::MakeVideoContext(const AVFormatContext* file,
                                                 const AVCodec* encoder) {
    TCodecContextPtr codec(LibAVCodec.avcodec_alloc_context3(encoder));
    if (!codec) throw FFMpegException("Could not alloc stream");
    codec->codec_type = AVMEDIA_TYPE_VIDEO;
    if (ThreadCount > 1) codec->thread_count = ThreadCount;
    if (VideoCodecTag) codec->codec_tag = VideoCodecTag;
    AVCodecContext* videoTemplate = CodecOptionContexts[AVMEDIA_TYPE_VIDEO].get();
    if ((VideoGlobalHeader & 1) ||
        (VideoGlobalHeader == 0 && (file->oformat->flags & AVFMT_GLOBALHEADER))) {
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (videoTemplate) videoTemplate->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (VideoGlobalHeader & 2) {
        codec->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        if (videoTemplate) videoTemplate->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }
    return codec;
}

void TCustomFFmpeg::SetVideoPicture(AVCodecContext* codec, const AVCodec* encoder) {
    const AVRational requested = FrameRate.num ? FrameRate : AVRational{25, 1};
    const AVRational rate = FitFrameRate(encoder, requested);
    if (av_cmp_q(rate, requested) != 0)
        Log(1, "%s does not take %s fps: %s instead", encoder->name,
            FrameRateText(requested).c_str(), FrameRateText(rate).c_str());
    codec->time_base = AVRational{rate.den, rate.num};
    codec->framerate = rate;

    codec->width = FrameWidth + PadLeft + PadRight;
    codec->height = FrameHeight + PadTop + PadBottom;
    const double sampleAspect =
        codec->width ? double(FrameAspectRatio) * codec->height / codec->width : 0.0;
    codec->sample_aspect_ratio =
        sampleAspect > 0.0 ? LibAVUtil.av_d2q(sampleAspect, 255) : AVRational{0, 1};

    codec->pix_fmt = AVPixelFormat(FramePixelFormat);
    if (encoder && encoder->pix_fmts) {
        bool listed = false;
        for (const AVPixelFormat* format = encoder->pix_fmts; *format != AV_PIX_FMT_NONE; ++format)
            listed |= *format == codec->pix_fmt;
        // A device's own format is set when the encoder opens (HardwareFrames.h); until then
        // the pictures are made in the one every device takes.
        if (!listed)
            codec->pix_fmt =
                TakesDeviceFramesOnly(encoder) ? AV_PIX_FMT_NV12 : encoder->pix_fmts[0];
    }
}

float TCustomFFmpeg::SetVideoRateControl(AVCodecContext* codec,
                                         const std::vector<RcOverride>& overrides) {
    float quality = 0.0f;
    if (IntraOnly) codec->gop_size = 0;
    if (VideoQuantiserScale != 0.0f || SameQuality) {
        codec->flags |= AV_CODEC_FLAG_QSCALE;
        quality = FF_QP2LAMBDA * VideoQuantiserScale;
        codec->global_quality = static_cast<int>(quality);
    }
    // The codec context frees its matrices and override list with itself.
    auto copyMatrix = [](const std::vector<uint16_t>& matrix) -> uint16_t* {
        if (matrix.empty()) return nullptr;
        auto* copy = static_cast<uint16_t*>(LibAVUtil.av_malloc(matrix.size() * sizeof(uint16_t)));
        if (copy) std::copy(matrix.begin(), matrix.end(), copy);
        return copy;
    };
    codec->intra_matrix = copyMatrix(IntraMatrix);
    codec->inter_matrix = copyMatrix(InterMatrix);
    codec->thread_count = ThreadCount;
    if (!overrides.empty()) {
        auto* list =
            static_cast<RcOverride*>(LibAVUtil.av_malloc(overrides.size() * sizeof(RcOverride)));
        if (list) {
            std::copy(overrides.begin(), overrides.end(), list);
            codec->rc_override = list;
            codec->rc_override_count = static_cast<int>(overrides.size());
        }
    }
    if (codec->rc_initial_buffer_occupancy == 0)
        codec->rc_initial_buffer_occupancy = codec->rc_buffer_size * 3 / 4;
    codec->intra_dc_precision = IntraDcPrecision - 8;
    if (Psnr) codec->flags |= AV_CODEC_FLAG_PSNR;
    if (Pass == 1) codec->flags |= AV_CODEC_FLAG_PASS1;
    if (Pass == 2) codec->flags |= AV_CODEC_FLAG_PASS2;
    return quality;
}

void TCustomFFmpeg::new_audio_stream(AVFormatContext* file) {
    // The stream options are consumed whatever the outcome.
    const TScopeExit clearOptions([this] { ClearAudioStreamOptions(); });
    const bool streamCopy = AudioStreamCopy != 0;
    const AVCodec* encoder = nullptr;
    AVCodecID codecId = AV_CODEC_ID_NONE;
    if (!streamCopy) encoder = ChooseEncoder(file, AVMEDIA_TYPE_AUDIO, AudioCodecName, codecId);

    TCodecContextPtr codec(LibAVCodec.avcodec_alloc_context3(encoder));
    if (!codec) throw FFMpegException("Could not alloc stream");
    if (ThreadCount > 1) codec->thread_count = ThreadCount;
    codec->codec_type = AVMEDIA_TYPE_AUDIO;
    if (AudioCodecTag) codec->codec_tag = AudioCodecTag;
    AVCodecContext* audioTemplate = CodecOptionContexts[AVMEDIA_TYPE_AUDIO].get();
    if (file->oformat->flags & AVFMT_GLOBALHEADER) {
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (audioTemplate) audioTemplate->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }

    float quality = 0.0f;
    if (!streamCopy) {
        CopyGenericOptions(codec.get(), audioTemplate, kOptionAudio | kOptionEncoding);
        codec->codec_id = codecId;
        if (AudioQuantiserScale > -99999.0f) {
            codec->flags |= AV_CODEC_FLAG_QSCALE;
            quality = FF_QP2LAMBDA * AudioQuantiserScale;
            codec->global_quality = static_cast<int>(quality);
        }
        codec->thread_count = ThreadCount;
        // The engine's samples are interleaved 16-bit: the encoder takes them as they are when
        // it can, else in its first format (the audio output converts).
        if (encoder && encoder->sample_fmts) {
            codec->sample_fmt = encoder->sample_fmts[0];
            for (const AVSampleFormat* format = encoder->sample_fmts; *format != AV_SAMPLE_FMT_NONE;
                 ++format)
                if (*format == AV_SAMPLE_FMT_S16) codec->sample_fmt = AV_SAMPLE_FMT_S16;
        } else {
            codec->sample_fmt = AV_SAMPLE_FMT_S16;
        }
    }
    LibAVUtil.av_channel_layout_uninit(&codec->ch_layout);
    LibAVUtil.av_channel_layout_default(&codec->ch_layout, AudioChannels);
    codec->sample_rate = AudioSampleRate;
    codec->time_base = AVRational{1, AudioSampleRate > 0 ? AudioSampleRate : 1};

    AVStream* stream = AddOutputStream(file, codec, streamCopy, quality);
    if (!stream) throw FFMpegException("Could not alloc stream");
    if (!AudioLanguage.empty())
        SetMetadata(&stream->metadata, "language", AudioLanguage.substr(0, kLanguageLength));
    OutputFiles[OutputFileIndexOf(file)].Streams[stream->index].Disposition = AudioDisposition;
}

void TCustomFFmpeg::new_subtitle_stream(AVFormatContext* file) {
    // The stream options are consumed whatever the outcome.
    const TScopeExit clearOptions([this] { ClearSubtitleStreamOptions(); });
    const bool streamCopy = SubtitleStreamCopy != 0;
    const AVCodec* encoder = nullptr;
    AVCodecID codecId = AV_CODEC_ID_NONE;
    if (!streamCopy)
        encoder = ChooseEncoder(file, AVMEDIA_TYPE_SUBTITLE, SubtitleCodecName, codecId);
    TCodecContextPtr codec(LibAVCodec.avcodec_alloc_context3(encoder));
    if (!codec) throw FFMpegException("Could not alloc stream");
    codec->codec_type = AVMEDIA_TYPE_SUBTITLE;
    if (!streamCopy) {
        CopyGenericOptions(codec.get(), CodecOptionContexts[AVMEDIA_TYPE_SUBTITLE].get(),
                           kOptionSubtitle | kOptionEncoding);
        codec->codec_id = codecId;
        codec->time_base = AVRational{1, AV_TIME_BASE};
    }
    AVStream* stream = AddOutputStream(file, codec, streamCopy, 0.0f);
    if (!stream) throw FFMpegException("Could not alloc stream");
    if (!SubtitleLanguage.empty())
        SetMetadata(&stream->metadata, "language", SubtitleLanguage.substr(0, kLanguageLength));
    OutputFiles[OutputFileIndexOf(file)].Streams[stream->index].Disposition = SubtitleDisposition;
}
