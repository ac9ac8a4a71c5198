// The encoder names that the codec lists' entries stand for. The lists show the names users
// know; the engine takes encoder names. Every name the program sends for a list entry is decided
// here, so a changed encoder needs one change in this file's source.
#pragma once

#include <string>

// The encoder for a video list entry, given in lower case ("h264" gives "libx264"). With
// onlyH264AndXvid, only those two entries are renamed (the portable-player and mobile profiles
// use this narrower mapping).
std::string MapVideoCodec(const std::string& lowerCaseEntry, bool onlyH264AndXvid = false);

// The encoder for an audio list entry, given in lower case ("mp3" gives "libmp3lame").
std::string MapAudioCodec(const std::string& lowerCaseEntry);

// The audio encoders that the mobile and MP4 AAC readers always use, whatever the list shows.
extern const char* const kMobileAudioEncoder;  // "libamr_nb"
extern const char* const kMp4AudioEncoder;     // "libfaac"

// The encoder today's libraries offer for a name above that they no longer have: "libfaac" and
// "mpeg4aac" give "aac", "libamr_nb" gives "libopencore_amrnb", "vorbis" (whose own encoder is
// still experimental) gives "libvorbis". Any other name is returned as it is. The lists and the
// mapping above keep the names users and settings know; this is applied when a job is handed
// to the converter.
std::string AvailableEncoder(const std::string& encoderName);
