// The keyword table: every keyword the engine knows itself, in the order they are matched,
// with the kind of value each takes. Unknown keywords are library options.
#include "engine/FFmpegOptions.h"

enum class TOptionValueKind { None, Int, Int64, Float, Text, Duration, Date };

// A keyword's value, converted to the kind the keyword takes.
struct TOptionValue {
    const std::string& Keyword;
    const std::string& Text;
    int32_t Int = 0;
    int64_t Int64 = 0;
    float Float = 0.0f;
};

struct TFFmpegOptions::TKeywordRow {
    const char* Keyword;
    TOptionValueKind Kind;
    void (*Apply)(TFFmpegOptions& options, const TOptionValue& value);
};

const std::vector<TFFmpegOptions::TKeywordRow>& TFFmpegOptions::KeywordTable() {
    using K = TOptionValueKind;
    using O = TFFmpegOptions;
    using V = TOptionValue;
    // Keywords that a command line may carry but that mean nothing to a job.
    const auto ignored = [](O& o, const V& v) { o.ReportIgnoredOption(v.Keyword); };
    // Keywords whose settings the engine does not carry out.
    const auto refused = [](O&, const V& v) {
        throw FFMpegException("TODO: option - " + v.Keyword);
    };
    const auto time = [](O& o, const V& v) { o.SetTimeOption(v.Keyword, v.Text); };
    const auto bitRate = [](O& o, const V& v) { o.SetBitRate(v.Keyword, v.Text); };

    static const std::vector<TKeywordRow> table = {
        {"L", K::None, ignored},
        {"h", K::None, ignored},
        {"version", K::None, ignored},
        {"formats", K::None, ignored},
        {"f", K::Text, [](O& o, const V& v) { o.SetFormat(v.Text); }},
        {"i", K::None, ignored},  // inputs are opened by the input-file operation
        {"y", K::None, ignored},  // outputs are always replaced
        {"map", K::Text, [](O& o, const V& v) { o.AddStreamMap(v.Text); }},
        {"map_meta_data", K::Text, [](O& o, const V& v) { o.AddMetaDataMap(v.Text); }},
        {"t", K::Duration, time},
        {"fs", K::Int64,
         [](O& o, const V& v) { o.FileSizeLimit = static_cast<uint64_t>(v.Int64); }},
        {"ss", K::Duration, time},
        {"trim", K::Text, [](O& o, const V& v) { o.SetTrimRanges(v.Text); }},
        {"itsoffset", K::Duration, time},
        {"itsscale", K::Text, [](O& o, const V& v) { o.SetInputTimeScale(v.Text); }},
        {"title", K::Text, [](O& o, const V& v) { o.SetTitle(v.Text); }},
        {"timestamp", K::Date, time},
        {"author", K::Text, [](O& o, const V& v) { o.SetAuthor(v.Text); }},
        {"copyright", K::Text, [](O& o, const V& v) { o.SetCopyright(v.Text); }},
        {"comment", K::Text, [](O& o, const V& v) { o.SetComment(v.Text); }},
        {"genre", K::Text, [](O& o, const V& v) { o.SetGenre(v.Text); }},
        {"album", K::Text, [](O& o, const V& v) { o.SetAlbum(v.Text); }},
        {"dframes", K::Int, [](O& o, const V& v) { o.FrameLimits[AVMEDIA_TYPE_DATA] = v.Int; }},
        {"benchmark", K::None, ignored},
        {"dump", K::None, [](O& o, const V&) { o.PacketDump = 1; }},
        {"hex", K::None, [](O& o, const V&) { o.HexDump = 1; }},
        {"re", K::None, [](O& o, const V&) { o.RateEmulation = 1; }},
        {"loop_input", K::None, [](O& o, const V&) { o.LoopInput = 1; }},
        {"loop_output", K::Int, [](O& o, const V& v) { o.LoopOutput = v.Int; }},
        {"v", K::Int, [](O& o, const V& v) { o.SetVerbose(v.Int); }},
        {"target", K::Text, [](O& o, const V& v) { o.ParseTarget(v.Text); }},
        {"threads", K::None, refused},
        {"vsync", K::Int, [](O& o, const V& v) { o.VideoSyncMethod = v.Int; }},
        {"async", K::Int, [](O& o, const V& v) { o.AudioSyncMethod = v.Int; }},
        {"adrift_threshold", K::Float, [](O& o, const V& v) { o.AudioDriftThreshold = v.Float; }},
        {"vglobal", K::Int, [](O& o, const V& v) { o.VideoGlobalHeader = v.Int; }},
        {"copyts", K::None, [](O& o, const V&) { o.CopyTimestamps = true; }},
        {"shortest", K::None, [](O& o, const V&) { o.Shortest = 1; }},
        {"dts_delta_threshold", K::Float,
         [](O& o, const V& v) { o.TimestampJumpThreshold = v.Float; }},
        {"programid", K::Int, [](O& o, const V& v) { o.ProgramId = v.Int; }},
        {"b", K::Text, bitRate},
        {"vb", K::Text, bitRate},
        {"vframes", K::Int, [](O& o, const V& v) { o.FrameLimits[AVMEDIA_TYPE_VIDEO] = v.Int; }},
        {"r", K::Text, [](O& o, const V& v) { o.SetFrameRate(v.Text); }},
        {"s", K::Text, [](O& o, const V& v) { o.SetFrameSize(v.Text); }},
        {"aspect", K::Text, [](O& o, const V& v) { o.SetFrameAspect(v.Text); }},
        {"pix_fmt", K::Text, [](O& o, const V& v) { o.SetPixelFormat(v.Text); }},
        {"croptop", K::Int, [](O& o, const V& v) { o.SetCropTop(v.Int); }},
        {"cropbottom", K::Int, [](O& o, const V& v) { o.SetCropBottom(v.Int); }},
        {"cropleft", K::Int, [](O& o, const V& v) { o.SetCropLeft(v.Int); }},
        {"cropright", K::Int, [](O& o, const V& v) { o.SetCropRight(v.Int); }},
        {"padtop", K::Int, [](O& o, const V& v) { o.SetPadTop(v.Int); }},
        {"padbottom", K::Int, [](O& o, const V& v) { o.SetPadBottom(v.Int); }},
        {"padleft", K::Int, [](O& o, const V& v) { o.SetPadLeft(v.Int); }},
        {"padright", K::Int, [](O& o, const V& v) { o.SetPadRight(v.Int); }},
        {"padcolor", K::Int, [](O& o, const V& v) { o.SetPadColor(static_cast<uint32_t>(v.Int)); }},
        {"intra", K::None, [](O& o, const V&) { o.IntraOnly = 1; }},
        {"vn", K::None, [](O& o, const V&) { o.VideoDisabled = 1; }},
        {"vdt", K::Int, [](O& o, const V& v) { o.VideoDiscard = v.Int; }},
        {"qscale", K::Float, [](O& o, const V& v) { o.SetVideoQuantiserScale(v.Float); }},
        {"rc_override", K::Text, [](O& o, const V& v) { o.RateControlOverride = v.Text; }},
        {"vcodec", K::Text, [](O& o, const V& v) { o.SetVideoCodec(v.Text); }},
        {"hwdevice", K::Text, [](O& o, const V& v) { o.HardwareDevice = v.Text; }},
        {"me_threshold", K::Int, [](O& o, const V& v) { o.MotionEstimationThreshold = v.Int; }},
        {"sameq", K::None, [](O& o, const V&) { o.SameQuality = 1; }},
        {"pass", K::Int, [](O& o, const V& v) { o.SetPass(v.Int); }},
        {"passlogfile", K::Text, [](O& o, const V& v) { o.PassLogFileName = v.Text; }},
        {"deinterlace", K::None, [](O& o, const V&) { o.Deinterlace = 1; }},
        {"noautorotate", K::None, [](O& o, const V&) { o.NoAutoRotate = 1; }},
        {"palette", K::Text, [](O& o, const V& v) { o.PaletteFile = v.Text; }},
        {"psnr", K::None, [](O& o, const V&) { o.Psnr = 1; }},
        {"vstats", K::None, [](O& o, const V&) { o.SetDefaultVideoStatsFile(); }},
        {"vstats_file", K::Text, [](O& o, const V& v) { o.SetVideoStatsFile(v.Text); }},
        {"vhook", K::Text, [](O& o, const V& v) { o.AddVideoHook(v.Text); }},
        {"intra_matrix", K::Text, [](O& o, const V& v) { o.SetMatrix(o.IntraMatrix, v.Text); }},
        {"inter_matrix", K::Text, [](O& o, const V& v) { o.SetMatrix(o.InterMatrix, v.Text); }},
        {"top", K::Int, [](O& o, const V& v) { o.TopFieldFirst = v.Int; }},
        {"dc", K::Int, [](O& o, const V& v) { o.IntraDcPrecision = v.Int; }},
        {"vtag", K::Text, [](O& o, const V& v) { o.SetVideoTag(v.Text); }},
        {"newvideo", K::None, [](O& o, const V&) { o.NewVideoStream(); }},
        {"qphist", K::None, [](O& o, const V&) { o.QpHistogram = 1; }},
        {"ab", K::Text, bitRate},
        {"aframes", K::Int, [](O& o, const V& v) { o.FrameLimits[AVMEDIA_TYPE_AUDIO] = v.Int; }},
        {"aq", K::Float, [](O& o, const V& v) { o.AudioQuantiserScale = v.Float; }},
        {"ar", K::Int, [](O& o, const V& v) { o.SetAudioSampleRate(v.Int); }},
        {"ac", K::Int, [](O& o, const V& v) { o.SetAudioChannels(v.Int); }},
        {"an", K::None, [](O& o, const V&) { o.AudioDisabled = 1; }},
        {"acodec", K::Text, [](O& o, const V& v) { o.SetAudioCodec(v.Text); }},
        {"atag", K::Text, [](O& o, const V& v) { o.SetAudioTag(v.Text); }},
        {"vol", K::Int, [](O& o, const V& v) { o.AudioVolume = v.Int; }},
        {"loudness", K::Text, [](O& o, const V& v) { o.SetLoudness(v.Text); }},
        {"newaudio", K::None, [](O& o, const V&) { o.NewAudioStream(); }},
        {"alang", K::Text, [](O& o, const V& v) { o.AudioLanguage = v.Text; }},
        {"adisposition", K::Text,
         [](O& o, const V& v) { O::SetDisposition(o.AudioDisposition, v.Text); }},
        {"sn", K::None, [](O& o, const V&) { o.SubtitleDisabled = 1; }},
        {"scodec", K::Text, [](O& o, const V& v) { o.SetSubtitleCodec(v.Text); }},
        {"newsubtitle", K::None, [](O& o, const V&) { o.NewSubtitleStream(); }},
        {"slang", K::Text, [](O& o, const V& v) { o.SubtitleLanguage = v.Text; }},
        {"sdisposition", K::Text,
         [](O& o, const V& v) { O::SetDisposition(o.SubtitleDisposition, v.Text); }},
        {"vc", K::Int, [](O& o, const V& v) { o.VideoChannel = v.Int; }},
        {"tvstd", K::Text, [](O& o, const V& v) { o.VideoStandard = v.Text; }},
        {"isync", K::None, [](O& o, const V&) { o.InputSync = 1; }},
        {"muxdelay", K::Float, [](O& o, const V& v) { o.MuxMaxDelay = v.Float; }},
        {"muxpreload", K::Float, [](O& o, const V& v) { o.MuxPreload = v.Float; }},
        {"absf", K::None, refused},
        {"vbsf", K::None, refused},
        {"sbsf", K::None, refused},
        {"apre", K::None, ignored},
        {"vpre", K::None, ignored},
        {"spre", K::None, ignored},
    };
    return table;
}

const TFFmpegOptions::TKeywordRow* TFFmpegOptions::FindKeyword(const std::string& name) {
    for (const TKeywordRow& row : KeywordTable())
        if (name == row.Keyword) return &row;
    return nullptr;
}

void TFFmpegOptions::ReportIgnoredOption(const std::string& keyword) {
    DoLog(1, "Do nothing: option - " + keyword);
}

void TFFmpegOptions::ParseOption(const std::string& name, const std::string& value) {
    const TKeywordRow* row = FindKeyword(name);
    if (!row) {
        // A library option, or nothing: an unknown keyword is dropped without a word.
        SetGenericOption(name, value);
        return;
    }
    // The value converts before anything is stored.
    TOptionValue converted{name, value};
    switch (row->Kind) {
        case TOptionValueKind::Int:
            converted.Int = ParseIntValue(value);
            break;
        case TOptionValueKind::Int64:
            converted.Int64 = ParseInt64Value(value);
            break;
        case TOptionValueKind::Float:
            converted.Float = ParseFloatValue(value);
            break;
        default:
            break;
    }
    row->Apply(*this, converted);
}

void TFFmpegOptions::ApplyOptionText(const std::string& text) {
    for (const auto& [name, value] : SplitOptionText(text)) ParseOption(name, value);
}

bool TFFmpegOptions::KeywordTakesValue(const std::string& name) {
    const TKeywordRow* row = FindKeyword(name);
    return !row || row->Kind != TOptionValueKind::None;
}

std::vector<std::string> TFFmpegOptions::OwnKeywords() {
    std::vector<std::string> keywords;
    for (const TKeywordRow& row : KeywordTable()) keywords.emplace_back(row.Keyword);
    return keywords;
}
