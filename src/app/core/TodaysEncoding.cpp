#include "app/core/TodaysEncoding.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace {

// The steps in the order of QualityEntries().
constexpr std::array<const char*, 4> kSteps = {"Very high", "High", "Standard", "Small"};

struct TEncoderQuality {
    const char* Encoder;
    const char* Option;  // "crf", "aq": the option each step's value goes to; "" for a bit rate
    std::array<int, 4> Values;
};

// x264/x265: 18-28 is the range their authors call visually good to small; VP9 and AV1 count
// on a scale of 63. LAME's VBR levels (0 best, 9 smallest) go through its quality scale; Opus
// is transparent from about 64 kbit/s per channel.
constexpr TEncoderQuality kQualities[] = {
    {"libx264", "crf", {18, 20, 23, 28}},          {"libx265", "crf", {20, 23, 26, 30}},
    {"libvpx-vp9", "crf", {24, 28, 32, 38}},       {"libsvtav1", "crf", {24, 30, 35, 42}},
    {"libaom-av1", "crf", {24, 30, 35, 42}},       {"libmp3lame", "aq", {0, 2, 4, 6}},
    {"libopus", "", {80000, 64000, 48000, 32000}}, {"opus", "", {80000, 64000, 48000, 32000}},
    {"libwebp_anim", "quality", {90, 82, 75, 50}},
};

struct TEncoderSpeed {
    const char* Encoder;
    std::vector<std::string> OptionLines;
};

// Speeds for two cores: a minute of 1080p in a few minutes, not hours. The encoders' own
// defaults (x265 "medium", VP9 "good" at cpu-used 1, aom at 1) take ten to fifty times as long
// for a few per cent of size.
const TEncoderSpeed kSpeeds[] = {
    {"libx264", {"preset=faster"}},
    {"libx265", {"preset=veryfast"}},
    {"libvpx-vp9", {"deadline=good", "cpu-used=4", "row-mt=1"}},
    {"libsvtav1", {"preset=8"}},
    {"libaom-av1", {"cpu-used=6", "row-mt=1"}},
};

std::string UpperCase(std::string key) {
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return key;
}

bool IsIsoFamily(const std::string& formatKey) {
    const std::string key = UpperCase(formatKey);
    return key == "MP4" || key == "MOV" || key == "M4A";
}

}  // namespace

std::vector<std::string> VideoTagLines(const std::string& encoder, const std::string& formatKey) {
    if (encoder == "libx265" && IsIsoFamily(formatKey)) return {"vtag=hvc1"};
    return {};
}

std::string PictureFormatOf(const std::string& encoder) {
    return encoder == "libx264" ? "yuv420p" : "";
}

bool IsAnimatedPictureKey(const std::string& formatKey) {
    const std::string key = UpperCase(formatKey);
    return key == "GIF" || key == "WEBP";
}

void ApplyAnimatedPictureLines(TJobDescription& job, const std::string& quality) {
    // No sound, no subtitles; played again and again, as chat programs and pages expect.
    job.OptionLines.insert(job.OptionLines.end(), {"an", "sn", "loop_output=0"});
    if (UpperCase(job.FormatKey) == "GIF") {
        job.OptionLines.push_back("pix_fmt=pal8");
        job.PaletteColours = kGifColours;
        return;
    }
    const TQualitySetting setting =
        QualitySettingFor(job.VideoCodec, quality.empty() ? "Standard" : quality);
    if (setting.OptionLines.empty()) return;
    job.OptionLines.insert(job.OptionLines.end(), setting.OptionLines.begin(),
                           setting.OptionLines.end());
    job.StepQuality =
        std::stoi(setting.OptionLines.front().substr(setting.OptionLines.front().find('=') + 1));
}

bool KeepsEveryTrack(const std::string& formatKey) {
    return UpperCase(formatKey) == "MKV";
}

TQualitySetting QualitySettingFor(const std::string& encoder, const std::string& quality) {
    const auto step = std::find(kSteps.begin(), kSteps.end(), quality);
    if (step == kSteps.end()) return {};
    const std::size_t index = step - kSteps.begin();
    for (const TEncoderQuality& row : kQualities) {
        if (encoder != row.Encoder) continue;
        if (*row.Option == '\0') return {{}, row.Values[index]};
        return {{std::string(row.Option) + "=" + std::to_string(row.Values[index])}, 0};
    }
    return {};
}

std::vector<std::string> SpeedOptionLines(const std::string& encoder) {
    for (const TEncoderSpeed& row : kSpeeds)
        if (encoder == row.Encoder) return row.OptionLines;
    return {};
}

void ApplyTodaysEncoding(TJobDescription& job, const std::string& quality) {
    const std::string step = quality.empty() ? "Standard" : quality;
    auto& lines = job.OptionLines;
    const auto add = [&](const std::vector<std::string>& more) {
        lines.insert(lines.end(), more.begin(), more.end());
    };
    if (!job.DisableVideo && !job.VideoCodec.empty() && job.VideoCodec != "copy") {
        add(SpeedOptionLines(job.VideoCodec));
        const TQualitySetting video = QualitySettingFor(job.VideoCodec, step);
        if (job.VideoBitrate <= 0 && !video.OptionLines.empty()) {
            add(video.OptionLines);
            // Constant quality: no bit rate to aim at (the engine's default would be one).
            lines.push_back("b=0");
        }
        add(VideoTagLines(job.VideoCodec, job.FormatKey));
        if (const std::string format = PictureFormatOf(job.VideoCodec); !format.empty())
            lines.push_back("pix_fmt=" + format);
    }
    if (!job.AudioCodec.empty() && job.AudioCodec != "copy") {
        const TQualitySetting audio = QualitySettingFor(job.AudioCodec, step);
        add(audio.OptionLines);
        if (!audio.OptionLines.empty()) job.AudioBitrate = -1;  // a VBR level instead
        if (audio.BitratePerChannel > 0 && job.AudioBitrate <= 0) {
            job.AudioBitrate = audio.BitratePerChannel * std::max(job.AudioChannels, 1);
        }
    }
    // The index before the media, so that a player can start while the file still downloads.
    if (IsIsoFamily(job.FormatKey)) lines.push_back("movflags=+faststart");
}
