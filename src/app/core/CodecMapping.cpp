#include "app/core/CodecMapping.h"

#include <algorithm>
#include <utility>

#include "binding/FFmpegLibs.h"

namespace {

using TRename = std::pair<const char*, const char*>;

// Entries not listed pass through unchanged (mpeg1video, msmpeg4, flv, wmv2, rv10, h263, ...).
constexpr TRename kVideoRenames[] = {
    {"mpeg4", "mpeg4"},    {"h264", "libx264"},   {"xvid", "libxvid"},
    {"wmv2x", "wmv2"},     {"mpeg4_qt", "mpeg4"}, {"h265", "libx265"},
    {"vp9", "libvpx-vp9"}, {"av1", "libsvtav1"},  {"webp", "libwebp_anim"},
};
constexpr TRename kNarrowVideoRenames[] = {{"h264", "libx264"}, {"xvid", "libxvid"}};

// First match wins (mp2, wmav2, vorbis, pcm_s16le, pcm_s16be, ... pass through unchanged).
constexpr TRename kAudioRenames[] = {
    {"aac", "libfaac"},         {"ac3", "ac3"},
    {"flac", "flac"},           {"asf", "mp3"},
    {"mp3", "libmp3lame"},      {"m4a", "mpeg4aac"},
    {"mpeg4aac", "libfaac"},    {"ra", "ac3"},
    {"wma7x", "wmav2"},         {"wav", "pcm_s16le"},
    {"mpeg4aac_qt", "libfaac"}, {"amr_nb", "libamr_nb"},
    {"opus", "libopus"},
};

// The names of the lists' mapping that stand for a kind of encoder rather than one library's:
// each one's encoders in order of preference, the first the libraries have is used.
struct TAlternative {
    const char* Encoder;
    const char* OptionLine = "";  // "name=value" the encoder needs, or empty
    const char* Note = "";        // for the row's log when this one is used, or empty
    bool AacForAmr = false;
};
struct TRule {
    const char* Name;
    std::vector<TAlternative> Alternatives;
};

const std::vector<TRule> kRules = {
    {"libfaac", {{"libfdk_aac"}, {"aac"}}},
    {"mpeg4aac", {{"libfdk_aac"}, {"aac"}}},
    {"libamr_nb",
     {{"libopencore_amrnb"},
      {"libfdk_aac", "", "the libraries have no AMR-NB encoder: the audio is AAC (libfdk_aac)",
       true},
      {"aac", "", "the libraries have no AMR-NB encoder: the audio is AAC (aac)", true}}},
    {"vorbis",
     {{"libvorbis"},
      {"vorbis", "strict=experimental",
       "the libraries have no libvorbis: the audio is written by their experimental Vorbis "
       "encoder"}}},
    {"libxvid",
     {{"libxvid"},
      {"mpeg4", "vtag=XVID",
       "the libraries have no Xvid encoder: the video is MPEG-4 (mpeg4) with the XVID tag"}}},
    {"mp3", {{"libmp3lame"}}},
    {"libsvtav1",
     {{"libsvtav1"},
      {"libaom-av1", "", "the libraries have no SVT-AV1 encoder: the video is AV1 (libaom-av1)"}}},
    {"libopus",
     {{"libopus"},
      {"opus", "strict=experimental",
       "the libraries have no libopus: the audio is written by their experimental Opus encoder"}}},
};

template <std::size_t N>
std::string Rename(const TRename (&table)[N], const std::string& entry) {
    for (const auto& [from, to] : table) {
        if (entry == from) return to;
    }
    return entry;
}

}  // namespace

const char* const kMobileAudioEncoder = "libamr_nb";
const char* const kMp4AudioEncoder = "libfaac";

std::string MapVideoCodec(const std::string& lowerCaseEntry, bool onlyH264AndXvid) {
    return onlyH264AndXvid ? Rename(kNarrowVideoRenames, lowerCaseEntry)
                           : Rename(kVideoRenames, lowerCaseEntry);
}

std::string MapAudioCodec(const std::string& lowerCaseEntry) {
    return Rename(kAudioRenames, lowerCaseEntry);
}

TLoadedEncoders::TLoadedEncoders(std::vector<std::string> hidden) : hidden_(std::move(hidden)) {}

const AVCodec* TLoadedEncoders::Find(const std::string& name) const {
    if (name.empty() || !AVCodecLoaded()) return nullptr;
    if (std::find(hidden_.begin(), hidden_.end(), name) != hidden_.end()) return nullptr;
    return LibAVCodec.avcodec_find_encoder_by_name(name.c_str());
}

TEncoderChoice ChooseEncoder(const std::string& mappedName, const TLoadedEncoders& encoders) {
    for (const TRule& rule : kRules) {
        if (mappedName != rule.Name) continue;
        for (const TAlternative& alternative : rule.Alternatives) {
            if (!encoders.Has(alternative.Encoder)) continue;
            TEncoderChoice choice{alternative.Encoder, {}, alternative.Note, alternative.AacForAmr};
            if (*alternative.OptionLine) choice.OptionLines.push_back(alternative.OptionLine);
            return choice;
        }
        return {};
    }
    TEncoderChoice itself;
    if (encoders.Has(mappedName)) itself.Encoder = mappedName;
    return itself;
}
