#include "app/core/CodecMapping.h"

#include <utility>

namespace {

using TRename = std::pair<const char*, const char*>;

// Entries not listed pass through unchanged (mpeg1video, msmpeg4, flv, wmv2, rv10, h263, ...).
constexpr TRename kVideoRenames[] = {
    {"mpeg4", "mpeg4"}, {"h264", "libx264"},   {"xvid", "libxvid"},
    {"wmv2x", "wmv2"},  {"mpeg4_qt", "mpeg4"},
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
};

// Names of the mapping that today's libraries lack, and the encoder that does their work.
constexpr TRename kAvailableEncoders[] = {
    {"libfaac", "aac"},
    {"mpeg4aac", "aac"},
    {"libamr_nb", "libopencore_amrnb"},
    {"vorbis", "libvorbis"},
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

std::string AvailableEncoder(const std::string& encoderName) {
    return Rename(kAvailableEncoders, encoderName);
}
