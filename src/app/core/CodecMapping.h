// The encoder names that the codec lists' entries stand for. The lists show the names users
// know; the engine takes encoder names. Every name the program sends for a list entry is decided
// here, so a changed encoder needs one change in this file's source.
#pragma once

#include <string>
#include <vector>

struct AVCodec;

// The encoder for a video list entry, given in lower case ("h264" gives "libx264"). With
// onlyH264AndXvid, only those two entries are renamed (the portable-player and mobile profiles
// use this narrower mapping).
std::string MapVideoCodec(const std::string& lowerCaseEntry, bool onlyH264AndXvid = false);

// The encoder for an audio list entry, given in lower case ("mp3" gives "libmp3lame").
std::string MapAudioCodec(const std::string& lowerCaseEntry);

// The audio encoders that the mobile and MP4 AAC readers always use, whatever the list shows.
extern const char* const kMobileAudioEncoder;  // "libamr_nb"
extern const char* const kMp4AudioEncoder;     // "libfaac"

// The encoders of the loaded media libraries. Names in `hidden` count as absent, so a test can
// show what the program does on libraries built without them.
class TLoadedEncoders {
  public:
    explicit TLoadedEncoders(std::vector<std::string> hidden = {});
    // The encoder of that name, or null when the libraries lack it (or it is hidden, or the
    // libraries are not loaded).
    const AVCodec* Find(const std::string& name) const;
    bool Has(const std::string& name) const { return Find(name) != nullptr; }

  private:
    std::vector<std::string> hidden_;
};

// The encoder that writes what a mapped name asks for, chosen from what the loaded libraries
// offer: "libfaac" and "mpeg4aac" are AAC ("libfdk_aac" when present, else the native "aac");
// "libamr_nb" is "libopencore_amrnb"; "vorbis" is "libvorbis" when present (the native encoder
// is experimental); "libxvid" falls back to "mpeg4" written with the XVID tag; "mp3" is
// "libmp3lame". Other names stand for themselves.
struct TEncoderChoice {
    std::string Encoder;  // empty: no encoder of the libraries does the work
    // "name=value" lines the encoder needs besides its name ("vtag=XVID").
    std::vector<std::string> OptionLines;
    // Set when the choice writes something other than the name promises (another codec, a
    // stand-in encoder): the note for the row's log.
    std::string Note;
    // AMR-NB asked for, AAC chosen: the job's rate and bit rate need AAC's values.
    bool AacForAmr = false;
};
TEncoderChoice ChooseEncoder(const std::string& mappedName, const TLoadedEncoders& encoders);
