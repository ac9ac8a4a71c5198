#include "engine/FFmpegOptions.h"

#include <mutex>
#include <set>

namespace {

// Codec templates by media type with the option flags an option must carry to land there.
// A mask of 0 takes every option, so codec options also reach the data and attachment
// templates.
constexpr int kTemplateMasks[kCodecTemplateCount] = {
    kOptionVideo,     // AVMEDIA_TYPE_VIDEO
    kOptionAudio,     // AVMEDIA_TYPE_AUDIO
    0,                // AVMEDIA_TYPE_DATA
    kOptionSubtitle,  // AVMEDIA_TYPE_SUBTITLE
    0,                // AVMEDIA_TYPE_ATTACHMENT
};

// Templates have no private children, but real contexts do: search them so that an option of
// the codec or format itself is found where it exists.
constexpr int kSearchFlags = AV_OPT_SEARCH_CHILDREN;

// Sets one option; the library's own spelling of its name when it took the value.
const AVOption* SetOptionText(void* context, const char* name, const char* value) {
    if (!context) return nullptr;
    if (LibAVUtil.av_opt_set(context, name, value, kSearchFlags) < 0) return nullptr;
    return LibAVUtil.av_opt_find(context, name, nullptr, 0, kSearchFlags);
}

// Option names of earlier library releases that the libraries now spell otherwise.
constexpr std::pair<const char*, const char*> kRenamedOptions[] = {
    {"gop", "g"},
};

// Every option name that some codec, muxer or demuxer declares as its own (private) option.
// Built once: the libraries' tables do not change while they are loaded.
const std::set<std::string>& PrivateOptionNames() {
    static std::mutex mutex;
    static std::set<std::string> names;
    static bool built = false;
    std::lock_guard lock(mutex);
    if (built) return names;
    auto addClass = [](const AVClass* privateClass) {
        if (!privateClass) return;
        for (const AVOption* option = nullptr;
             (option = LibAVUtil.av_opt_next(&privateClass, option));)
            if (option->type != AV_OPT_TYPE_CONST) names.insert(option->name);
    };
    void* state = nullptr;
    while (const AVCodec* codec = LibAVCodec.av_codec_iterate(&state)) addClass(codec->priv_class);
    state = nullptr;
    while (const AVOutputFormat* muxer = LibAVFormat.av_muxer_iterate(&state))
        addClass(muxer->priv_class);
    state = nullptr;
    while (const AVInputFormat* demuxer = LibAVFormat.av_demuxer_iterate(&state))
        addClass(demuxer->priv_class);
    built = true;
    return names;
}

}  // namespace

// The option values start at their defaults by construction.
TFFmpegOptions::TFFmpegOptions() = default;

TFFmpegOptions::~TFFmpegOptions() = default;

void TFFmpegOptions::ApplyOptionDefaults() {
    static_cast<TOptionValues&>(*this) = TOptionValues{};
}

void TFFmpegOptions::AllocateOptionContexts() {
    for (TCodecContextPtr& context : CodecOptionContexts) context.reset();
    FormatOptionContext.reset();
    ScalerOptionContext.reset();

    for (int type = 0; type < kCodecTemplateCount; ++type) {
        CodecOptionContexts[type].reset(LibAVCodec.avcodec_alloc_context3(nullptr));
        if (!CodecOptionContexts[type])
            throw FFMpegException("Cannot allocate the codec option templates");
        CodecOptionContexts[type]->codec_type = static_cast<AVMediaType>(type);
    }
    FormatOptionContext.reset(LibAVFormat.avformat_alloc_context());
    if (!FormatOptionContext) throw FFMpegException("Cannot allocate the format option template");

    // The scaler template describes a 16x16 picture of pixel format 0 scaled to the same.
    ScalerOptionContext.reset(LibSwScale.sws_alloc_context());
    if (!ScalerOptionContext) throw FFMpegException("Cannot allocate the scaler option template");
    const std::pair<const char*, int64_t> scalerSettings[] = {
        {"srcw", 16},
        {"srch", 16},
        {"dstw", 16},
        {"dsth", 16},
        {"src_format", 0},
        {"dst_format", 0},
        {"sws_flags", static_cast<uint32_t>(ScalerFlags)},
    };
    for (const auto& [name, value] : scalerSettings)
        if (LibAVUtil.av_opt_set_int(ScalerOptionContext.get(), name, value, 0) < 0)
            throw FFMpegException(
                FormatText("Cannot set '%s' on the scaler option template", name));
}

void TFFmpegOptions::FreeOptionState() {
    for (TCodecContextPtr& context : CodecOptionContexts) context.reset();
    FormatOptionContext.reset();
    ScalerOptionContext.reset();

    IntraMatrix.clear();
    InterMatrix.clear();
    VideoCodecName.clear();
    AudioCodecName.clear();
    SubtitleCodecName.clear();
    RateControlOverride.clear();
    VideoStandard.clear();
    VideoStatsFileName.clear();
    VideoStatsFile.reset();
    OptionNames.clear();
    PrivateOptions.clear();
    AudioLanguage.clear();
    SubtitleLanguage.clear();

    // A module may still refer to its argument texts until it is released.
    if (FrameHooks) ReleaseFrameHooks(FrameHooks);
    FrameHookArguments.clear();
}

void TFFmpegOptions::ClearInputScopedOptions() {
    // The start time is consumed by the input's seek, which clears it when it used it.
    ForcedInputFormat = nullptr;
    ForcedOutputFormat = nullptr;
    VideoChannel = 0;
    RateEmulation = 0;
    VideoCodecName.clear();
    AudioCodecName.clear();
    SubtitleCodecName.clear();
}

void TFFmpegOptions::ClearOutputScopedOptions() {
    ForcedInputFormat = nullptr;
    ForcedOutputFormat = nullptr;
}

void TFFmpegOptions::ClearVideoStreamOptions() {
    VideoDisabled = 0;
    VideoCodecName.clear();
    VideoStreamCopy = 0;
}

void TFFmpegOptions::ClearAudioStreamOptions() {
    AudioDisabled = 0;
    AudioCodecName.clear();
    AudioStreamCopy = 0;
    AudioLanguage.clear();
    AudioDisposition = -1;
}

void TFFmpegOptions::ClearSubtitleStreamOptions() {
    SubtitleDisabled = 0;
    SubtitleCodecName.clear();
    SubtitleStreamCopy = 0;
    SubtitleLanguage.clear();
    SubtitleDisposition = -1;
}

bool TFFmpegOptions::SetGenericOption(const std::string& name, const std::string& value) {
    if (TrimText(name).empty() || TrimText(value).empty()) return false;
    AVCodecContext* videoTemplate = CodecOptionContexts[AVMEDIA_TYPE_VIDEO].get();
    if (!videoTemplate || !FormatOptionContext || !ScalerOptionContext) return false;

    // The untrimmed texts from here on: the libraries decide what they accept.
    const char* renamed = nullptr;
    for (const auto& [earlier, today] : kRenamedOptions)
        if (name == earlier) renamed = today;
    const std::string libraryName = renamed ? std::string(renamed) : name;
    const char* key = libraryName.c_str();
    const char* text = value.c_str();
    const AVOption* option = nullptr;
    for (int type = 0; type < kCodecTemplateCount; ++type) {
        if (!LibAVUtil.av_opt_find(videoTemplate, key, nullptr, kTemplateMasks[type], 0)) continue;
        if (const AVOption* set = SetOptionText(CodecOptionContexts[type].get(), key, text))
            option = set;
    }
    if (!option) option = SetOptionText(FormatOptionContext.get(), key, text);
    if (!option) option = SetOptionText(ScalerOptionContext.get(), key, text);
    if (!option && name.size() > 1) {
        // "ab", "vb", "sfoo": the rest of the name in the template of that media type.
        int type = name[0] == 'a'   ? AVMEDIA_TYPE_AUDIO
                   : name[0] == 'v' ? AVMEDIA_TYPE_VIDEO
                   : name[0] == 's' ? AVMEDIA_TYPE_SUBTITLE
                                    : -1;
        if (type >= 0) option = SetOptionText(CodecOptionContexts[type].get(), key + 1, text);
    }
    if (!option) {
        // An option of one codec or muxer only ("muxrate", "preset"): no template holds it, so
        // it waits for the real contexts, which take it when their codec or format has it.
        if (!PrivateOptionNames().count(libraryName)) return false;
        PrivateOptions.emplace_back(libraryName, value);
        return true;
    }

    OptionNames.emplace_back(option->name);
    if (videoTemplate->debug || FormatOptionContext->debug) {
        SetLibraryLogLevel(2);
        Verbose = 2;
    }
    return true;
}

bool TFFmpegOptions::SetGenericOptionInt(const std::string& name, int64_t value) {
    return SetGenericOption(name, std::to_string(value));
}

bool TFFmpegOptions::CopyGenericOptions(void* target, void* templateContext, int mask) {
    if (!target || !templateContext) return false;
    bool allWritten = true;
    for (const std::string& name : OptionNames) {
        if (!LibAVUtil.av_opt_find(templateContext, name.c_str(), nullptr, mask, kSearchFlags))
            continue;
        uint8_t* text = nullptr;
        if (LibAVUtil.av_opt_get(templateContext, name.c_str(), kSearchFlags, &text) < 0 || !text)
            continue;
        TLibMemoryPtr<uint8_t> owned(text);
        if (LibAVUtil.av_opt_set(target, name.c_str(), reinterpret_cast<const char*>(text),
                                 kSearchFlags) < 0)
            allWritten = false;
    }
    for (const auto& [name, value] : PrivateOptions) {
        if (!LibAVUtil.av_opt_find(target, name.c_str(), nullptr, mask, kSearchFlags)) continue;
        if (LibAVUtil.av_opt_set(target, name.c_str(), value.c_str(), kSearchFlags) < 0)
            allWritten = false;
    }
    return allWritten;
}
