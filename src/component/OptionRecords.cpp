#include "component/OptionRecords.h"

#include <cmath>
#include <cstring>
#include <ctime>
#include <mutex>

#include "engine/OptionText.h"

namespace {

constexpr TColor Rgb(uint32_t red, uint32_t green, uint32_t blue) {
    return red | (green << 8) | (blue << 16);
}

// The classic default scheme, by system-colour index; index 25 has no colour.
constexpr TColor kSystemColors[] = {
    Rgb(212, 208, 200),  // scroll bar
    Rgb(58, 110, 165),   // desktop background
    Rgb(10, 36, 106),    // active caption
    Rgb(128, 128, 128),  // inactive caption
    Rgb(212, 208, 200),  // menu
    Rgb(255, 255, 255),  // window
    Rgb(0, 0, 0),        // window frame
    Rgb(0, 0, 0),        // menu text
    Rgb(0, 0, 0),        // window text
    Rgb(255, 255, 255),  // caption text
    Rgb(212, 208, 200),  // active border
    Rgb(212, 208, 200),  // inactive border
    Rgb(128, 128, 128),  // application workspace
    Rgb(10, 36, 106),    // highlight
    Rgb(255, 255, 255),  // highlight text
    Rgb(212, 208, 200),  // button face
    Rgb(128, 128, 128),  // button shadow
    Rgb(128, 128, 128),  // grey text
    Rgb(0, 0, 0),        // button text
    Rgb(212, 208, 200),  // inactive caption text
    Rgb(255, 255, 255),  // button highlight
    Rgb(64, 64, 64),     // 3-D dark shadow
    Rgb(212, 208, 200),  // 3-D light
    Rgb(0, 0, 0),        // tooltip text
    Rgb(255, 255, 225),  // tooltip background
    Rgb(0, 0, 0),        // (none)
    Rgb(0, 0, 128),      // hot-tracked item
    Rgb(166, 202, 240),  // active caption gradient
    Rgb(192, 192, 192),  // inactive caption gradient
    Rgb(10, 36, 106),    // highlighted menu item
    Rgb(212, 208, 200),  // menu bar
};

// The fixed-length texts of the record end at their first NUL, or at their end without one.
template <size_t N>
std::string FixedText(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

// Days from 1899-12-30 to 1970-01-01.
constexpr double kUnixEpochDays = 25569.0;

}  // namespace

TColor ColorToRGB(TColor color) {
    if (!(color & kSystemColorFlag)) return color;
    const TColor index = color & 0xFF;
    return index < std::size(kSystemColors) ? kSystemColors[index] : 0;
}

void InitInputOptions(TInputOptions& options) {
    options = TInputOptions{};
}

void InitOutputOptions(TOutputOptions& options) {
    options = TOutputOptions{};
}

void ApplyInputOptions(TCustomFFmpeg& engine, const TInputOptions& options) {
    engine.ApplyOptionText(options.OptionText);
    if (!options.InputFormat.empty()) engine.SetInputFormat(options.InputFormat);
    engine.SetStartTimeUs(int64_t{options.StartTime} * 1000);
    engine.SetProgramId(options.ProgramId);
}

void ApplyOutputOptions(TCustomFFmpeg& engine, const TOutputOptions& o) {
    engine.ApplyOptionText(o.OptionText);
    if (!o.OutputFormat.empty()) engine.SetOutputFormat(o.OutputFormat);
    if (o.PacketSize > 0) engine.SetGenericOptionInt("packetsize", o.PacketSize);
    if (o.MuxRate > 0) engine.SetGenericOptionInt("muxrate", o.MuxRate);
    if (o.MuxDelay > 0) engine.SetMuxMaxDelay(o.MuxDelay);
    if (o.MuxPreload > 0) engine.SetMuxPreload(o.MuxPreload);
    if (!o.AudioCodec.empty()) engine.SetAudioCodec(o.AudioCodec);
    if (o.DisableAudio) engine.AudioDisabled = 1;
    if (o.AudioVolume >= 0) engine.SetAudioVolume(o.AudioVolume);
    engine.SetAudioChannels(o.AudioChannels);
    engine.SetAudioSampleRate(o.AudioSampleRate);
    if (o.AudioBitrate > 0) engine.SetGenericOptionInt("ab", o.AudioBitrate);
    if (o.AudioBitrateTolerance > 0) engine.SetGenericOptionInt("abt", o.AudioBitrateTolerance);
    engine.AudioLanguage = o.AudioLanguage;
    engine.SetAudioSyncMethod(o.AudioSyncMethod);
    if (!o.AudioTag.empty()) engine.SetAudioTag(o.AudioTag);
    if (!o.VideoCodec.empty()) engine.SetVideoCodec(o.VideoCodec);
    if (o.DisableVideo) engine.VideoDisabled = 1;
    if (!o.FrameRate.empty()) engine.SetFrameRate(o.FrameRate);
    if (!o.FrameSize.empty()) engine.SetFrameSize(o.FrameSize);
    if (!o.FrameAspect.empty()) engine.SetFrameAspect(o.FrameAspect);
    engine.SetCropTop(o.CropTop);
    engine.SetCropBottom(o.CropBottom);
    engine.SetCropLeft(o.CropLeft);
    engine.SetCropRight(o.CropRight);
    engine.SetPadTop(o.PadTop);
    engine.SetPadBottom(o.PadBottom);
    engine.SetPadLeft(o.PadLeft);
    engine.SetPadRight(o.PadRight);
    engine.SetPadColor(ColorToRGB(o.PadColor));
    if (o.GopSize > 0) engine.SetGenericOptionInt("gop", o.GopSize);
    if (o.VideoBitrate > 0) engine.SetGenericOptionInt("vb", o.VideoBitrate);
    if (o.VideoMaxRate > 0) engine.SetGenericOptionInt("maxrate", o.VideoMaxRate);
    if (o.VideoMinRate > 0) engine.SetGenericOptionInt("minrate", o.VideoMinRate);
    if (o.VideoBitrateTolerance > 0) engine.SetGenericOptionInt("bt", o.VideoBitrateTolerance);
    if (o.VideoBufferSize > 0) engine.SetGenericOptionInt("bufsize", o.VideoBufferSize);
    engine.SetVideoSyncMethod(o.VideoSyncMethod);
    if (!o.VideoTag.empty()) engine.SetVideoTag(o.VideoTag);
    if (o.DisableSubtitle) engine.SubtitleDisabled = 1;
    engine.SubtitleLanguage = o.SubtitleLanguage;
    engine.CopyTimestamps = o.CopyTimestamps;
    engine.SetRecordingTimeMs(o.RecordingTime);
    int64_t timestamp = 0;
    if (RecordingTimestampOf(o.Timestamp, timestamp)) engine.RecordingTimestamp = timestamp;
    engine.SetYear(o.Year);
    engine.SetTrack(o.Track);
    engine.SetTitle(FixedText(o.Title));
    engine.SetAuthor(FixedText(o.Author));
    engine.SetCopyright(FixedText(o.Copyright));
    engine.SetComment(FixedText(o.Comment));
    engine.SetAlbum(FixedText(o.Album));
    engine.SetGenre(FixedText(o.Genre));

    const std::string target = TargetTypeName(o.TargetType);
    if (!target.empty())
        engine.SetTarget(target, TargetNormName(o.TargetNorm),
                         TargetFallbackNormName(o.TargetFallbackNorm));
}

void ApplyOutputStreamOptions(TCustomFFmpeg& engine, const TOutputOptions& options) {
    engine.ApplyOptionText(options.StreamOptionText);
}

std::vector<THookTimeRange> ParseHookTimeRanges(const std::string& text) {
    std::vector<THookTimeRange> ranges;
    const auto toUs = [](const std::string& part) {
        return TryParseInt64Value(part).value_or(-1) * 1000;
    };
    std::string rest = TrimText(text);
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        std::string entry = TrimText(rest.substr(0, comma));
        rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
        const size_t dash = entry.find('-');
        const std::string start = TrimText(entry.substr(0, dash));
        // The end keeps its blanks: the number conversion accepts leading ones.
        const std::string end = dash == std::string::npos ? std::string() : entry.substr(dash + 1);
        const THookTimeRange range{toUs(start), toUs(end)};
        if (range.StartUs <= range.EndUs && range.EndUs >= 0) ranges.push_back(range);
    }
    return ranges;
}

int TimeZoneBiasMinutes() {
    // tzset() fills the C library's globals; one thread at a time reads them.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    tzset();
    return static_cast<int>(timezone / 60);
}

int64_t LocalDateTimeToUnixSeconds(double dateTime, int biasMinutes) {
    // Ties go to the even second, as the rounding of the date-time arithmetic does.
    return std::llrint((dateTime - kUnixEpochDays + biasMinutes / 1440.0) * 86400.0);
}

bool RecordingTimestampOf(double dateTime, int64_t& secondsSince1970) {
    if (dateTime == 0.0) {
        // "Now" is taken from the clock directly: a local date-time converted with the
        // standard-time bias would be an hour off while daylight saving time is in force.
        secondsSince1970 = static_cast<int64_t>(std::time(nullptr));
        return true;
    }
    if (!(dateTime > 0.0)) return false;
    secondsSince1970 = LocalDateTimeToUnixSeconds(dateTime, TimeZoneBiasMinutes());
    return true;
}

std::string TargetTypeName(int32_t targetType) {
    switch (targetType) {
        case 1:
            return "vcd";
        case 2:
            return "svcd";
        case 3:
            return "dvd";
        default:
            return {};
    }
}

std::string TargetNormName(int32_t targetNorm) {
    switch (targetNorm) {
        case 1:
            return "pal";
        case 2:
            return "ntsc";
        default:
            return "auto";
    }
}

std::string TargetFallbackNormName(int32_t targetFallbackNorm) {
    return targetFallbackNorm == 1 ? "pal" : "ntsc";
}
