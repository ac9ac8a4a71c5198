// The output profiles offered in the output-format list: each fixes the format key, the choices
// of the seven parameter lists with their preselected entries, what it resets, and the parameter
// reader that turns the chosen entries into a job.
#pragma once

#include <string>
#include <vector>

// One drop-down list's entries and the entry a profile preselects (-1: none).
struct TChoiceList {
    std::vector<std::string> Items;
    int Selected = -1;

    // The preselected entry's text, or an empty text when nothing is selected.
    std::string SelectedText() const;
};

// Which of the readers in ParameterReaders.h builds the job for a profile.
// prToday reads today's profiles: sizes by picture height, a quality list mapped per encoder,
// fast start for MP4 and MOV, and streams copied where they already fit.
enum class TParameterReader { prGeneric, prMobileAmr, prMp4Aac, prToday };

// What a profile does to the channels and aspect-ratio lists, which it does not fill.
enum class TListReset {
    lrNone,               // both keep their selection
    lrStereoAndOriginal,  // channels "Stereo", aspect ratio "Original"
    lrMonoOnly,           // channels "Mono", aspect ratio untouched
};

struct TOutputProfile {
    std::string DisplayName;
    std::string FormatKey;  // upper-case output extension without the dot
    TChoiceList VideoCodecs;
    TChoiceList VideoSizes;
    TChoiceList VideoBitrates;
    TChoiceList VideoFramerates;
    TChoiceList AudioCodecs;
    TChoiceList AudioBitrates;
    TChoiceList SampleRates;
    TListReset Reset = TListReset::lrNone;
    TParameterReader Reader = TParameterReader::prGeneric;
    // Constant-quality steps ("Very high" ... "Small"); empty for the profiles that give bit
    // rates only.
    TChoiceList Qualities = {};
};

// One line of the output-format list: a profile, or a separator (Profile is null).
struct TCatalogueLine {
    std::string Text;
    const TOutputProfile* Profile = nullptr;
};

// The entries of the two lists that profiles only reset.
inline constexpr const char* kChannelsStereo = "Stereo";
inline constexpr const char* kChannelsMono = "Mono";
const std::vector<std::string>& AudioChannelEntries();  // "Stereo", "Mono"
const std::vector<std::string>& AspectRatioEntries();   // "Original", "4:3 (Standard", ...
const std::vector<std::string>& LetterBoxEntries();     // "None", "LetterBox"
const std::vector<std::string>& QualityEntries();       // "Very high", "High", "Standard", "Small"

// The text of every separator line, and the start that identifies one.
extern const char* const kSeparatorLine;
bool IsSeparatorText(const std::string& text);

// The output-format list in display order: the catalogue's 56 profiles and 8 separators, then
// a separator and today's profiles.
inline constexpr int kCatalogueLineCount = 64;
const std::vector<TCatalogueLine>& OutputFormatLines();

// The first line of today's profiles in OutputFormatLines() (the line after the catalogue's
// last separator); every line from here on is one of today's.
inline constexpr int kFirstTodaysLine = kCatalogueLineCount + 1;
bool IsTodaysLine(int line);

// One group of the window's output-format list: a heading for the user and the lines of
// OutputFormatLines() under it, in the order shown. The line numbers are those `--profile LINE`
// takes, so a window showing this order maps its rows back to the lines.
struct TProfileGroup {
    std::string Heading;     // "Phone", "Web upload", ..., "iPod", "Apple TV", ...
    std::vector<int> Lines;  // profile lines only, never a separator
    bool Today = false;      // a group of today's profiles
};

// The order the window shows: today's profiles first, in groups named for what people do with
// them (phone, web upload, keep quality, small file, audio, lossless), then the catalogue of
// 2008 under its kinds and devices. Every profile line is in exactly one group; the headings
// are plain English for the window to translate.
const std::vector<TProfileGroup>& ProfileGroups();

// The profile whose display name is exactly the text, or null.
const TOutputProfile* FindProfile(const std::string& displayName);

// Whether the profiles of a format key write sound only: the audio formats' keys ("MP3",
// "OGG", ...), whose profiles offer no video lists. Every other profile writes video.
bool IsAudioFormatKey(const std::string& formatKey);

// The line a first start selects: the first of today's profiles, "MP4 - H.264 + AAC".
inline constexpr int kDefaultFormatLine = kFirstTodaysLine;

// The window's parameter lists as the chosen profile leaves them. A profile refills its seven
// lists (audio-only profiles leave the four video lists empty) and may reset the channels and
// aspect ratio; the letter-box list is the user's alone.
struct TParameterLists {
    TChoiceList VideoCodec;
    TChoiceList VideoSize;
    TChoiceList VideoBitrate;
    TChoiceList VideoFramerate;
    TChoiceList AudioCodec;
    TChoiceList AudioBitrate;
    TChoiceList SamplingRate;
    TChoiceList AudioChannels{AudioChannelEntries(), 0};
    TChoiceList AspectRatio{AspectRatioEntries(), 0};
    TChoiceList Quality;

    void ApplyProfile(const TOutputProfile& profile);
};

// The output-format list's selection: choosing a separator line steps back to the line chosen
// before; choosing a profile makes its key the format key.
class TProfileSelection {
  public:
    // The profile of the line, or null when the line is a separator or outside the list (then
    // the remembered line stays selected and nothing changes).
    const TOutputProfile* Choose(int line);

    int SelectedLine() const { return line_; }
    const TOutputProfile* Profile() const;
    const std::string& FormatKey() const;

  private:
    int line_ = kDefaultFormatLine;
};
