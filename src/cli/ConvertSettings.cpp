#include "cli/ConvertSettings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <optional>

#include "app/core/EntryLookup.h"
#include "app/core/UserData.h"
#include "component/SizeFit.h"
#include "engine/Loudness.h"

namespace {

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// The entries as an indented list, one a line, quoted so blanks at their ends show.
std::string EntryLines(const std::vector<std::string>& entries, const std::vector<int>& which) {
    std::string text;
    for (int index : which) text += "\n  " + Quoted(entries[index]);
    return text;
}

std::vector<int> AllOf(const std::vector<std::string>& entries) {
    std::vector<int> all(entries.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
    return all;
}

// Selects the entry the text names in one of the profile's lists.
void Choose(TChoiceList& list, const std::string& option, const std::string& text,
            const std::string& what, const TOutputProfile& profile) {
    if (list.Items.empty()) {
        throw TUsageError(option + ": the profile " + Quoted(profile.DisplayName) + " has no " +
                          what + " to choose");
    }
    const TEntryLookup found = FindEntry(list.Items, text);
    if (found.Found()) {
        list.Selected = found.Index;
        return;
    }
    if (!found.Candidates.empty()) {
        throw TUsageError(option + " " + Quoted(text) + " fits more than one of the " + what +
                          "; say which:" + EntryLines(list.Items, found.Candidates));
    }
    throw TUsageError(option + " " + Quoted(text) + " is not one of the " + what + " of " +
                      Quoted(profile.DisplayName) +
                      ". Valid entries:" + EntryLines(list.Items, AllOf(list.Items)));
}

// The volume slider's position for a percentage ("100" or "100%").
int VolumePositionOf(const std::string& text) {
    std::string number = text;
    if (!number.empty() && number.back() == '%') number.pop_back();
    for (int position = 0; position <= 10; ++position) {
        std::string label = VolumeLabel(position);
        label.pop_back();
        if (number == label) return position;
    }
    std::string valid;
    for (int position = 0; position <= 10; ++position) {
        std::string label = VolumeLabel(position);
        label.pop_back();
        valid += (position ? ", " : " ") + label;
    }
    throw TUsageError("--volume " + Quoted(text) +
                      " is not a step of the volume. Valid steps:" + valid);
}

bool IsLineNumber(const std::string& text) {
    return !text.empty() && text.size() < 6 &&
           std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

}  // namespace

int ProfileLineOf(const std::string& text) {
    const auto& lines = OutputFormatLines();
    const int count = static_cast<int>(lines.size());
    if (IsLineNumber(text)) {
        const int line = std::stoi(text);
        if (line >= count) {
            throw TUsageError("--profile " + text + ": the list has lines 0 to " +
                              std::to_string(count - 1));
        }
        if (!lines[line].Profile) {
            throw TUsageError("--profile " + text + " is a separator line, not a profile");
        }
        return line;
    }
    // Separator lines are no names: they are left out of the search by an empty text.
    std::vector<std::string> names;
    for (const TCatalogueLine& line : lines) names.push_back(line.Profile ? line.Text : "");
    const TEntryLookup found = FindEntry(names, text);
    if (found.Found()) return found.Index;
    // A start that several names share is refused, also where one of them is the catalogue's:
    // "MP4" taking the MPEG-4 profile of 2008 over today's ones would surprise more than ask.
    if (!found.Candidates.empty()) {
        throw TUsageError("--profile " + Quoted(text) + " fits more than one profile; say which:" +
                          EntryLines(names, found.Candidates));
    }
    throw TUsageError("--profile " + Quoted(text) +
                      " names no profile. \"daziziz-cli profiles\" lists them.");
}

namespace {

// The preset of that name in the window's preset store; throws TUsageError naming those there.
TPreset PresetNamed(const std::string& name) {
    const std::filesystem::path file = DefaultDataFolder() / kPresetsFileName;
    TPresetStore store;
    const auto text = ReadWholeFile(file);
    if (text && !store.Load(*text)) throw TUsageError(file.string() + " holds no presets");
    if (const TPreset* preset = store.Find(name)) return *preset;
    std::string known;
    for (const TPreset& preset : store.Presets()) {
        known += (known.empty() ? "" : ", ") + ("\"" + preset.Name + "\"");
    }
    throw TUsageError(
        "--preset: no preset named \"" + name + "\"" +
        (known.empty() ? " (none saved in " + file.string() + ")" : "; saved presets: " + known));
}

// The fit's target in bytes: --fit-size, else the preset's (for a video profile), else 0.
int64_t FitSizeOf(const TConvertRequest& request, const std::optional<TPreset>& preset,
                  const TOutputProfile& profile) {
    const bool sound = IsAudioFormatKey(profile.FormatKey);
    if (!request.FitSize) {
        // A preset's fit belongs to its video profile; --profile naming a sound one drops it.
        return preset && !sound ? std::max<int64_t>(preset->Choices.FitSizeBytes, 0) : 0;
    }
    const std::string& text = *request.FitSize;
    if (IsBareNumber(text)) {
        const std::string number = text.substr(text.find_first_not_of(' '));
        const std::string trimmed = number.substr(0, number.find(' '));
        throw TUsageError("--fit-size " + Quoted(text) + ": " + trimmed + " bytes? write " +
                          trimmed + "MB (1,000,000 bytes a MB), " + trimmed + "MiB or " + trimmed +
                          "kB");
    }
    const std::optional<int64_t> bytes = ParseTargetSize(text);
    if (!bytes) {
        throw TUsageError("--fit-size " + Quoted(text) +
                          " is no size: give a number and a unit, e.g. 25MB (1,000,000 "
                          "bytes), 10MiB (1,048,576), 800kB or 1GB");
    }
    if (sound) {
        throw TUsageError("--fit-size is for video profiles; " + Quoted(profile.DisplayName) +
                          " writes sound only");
    }
    return *bytes;
}

std::vector<std::string> CommaList(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        std::string item = text.substr(start, comma - start);
        item.erase(0, item.find_first_not_of(' '));
        item.erase(item.find_last_not_of(' ') + 1);
        if (!item.empty()) items.push_back(item);
        start = comma + 1;
    }
    return items;
}

// The sound and subtitle tracks asked for; throws TUsageError for a number or code that is
// none.
TTrackRequest TrackRequestOf(const TConvertRequest& request) {
    TTrackRequest tracks;
    tracks.AudioTracks = request.AudioTracks;
    tracks.AllAudio = request.AllAudio;
    if (request.AudioLanguages) tracks.AudioLanguages = CommaList(*request.AudioLanguages);
    if (request.Subtitles && *request.Subtitles == "none") {
        tracks.Subtitles = TSubtitleChoice::scNone;
    } else if (request.Subtitles && *request.Subtitles != "all") {
        tracks.Subtitles = TSubtitleChoice::scLanguages;
        tracks.SubtitleLanguages = CommaList(*request.Subtitles);
        if (tracks.SubtitleLanguages.empty())
            throw TUsageError("--subtitles: give all, none or language codes (de,en)");
    }
    if (const std::string problem = TrackRequestProblem(tracks); !problem.empty())
        throw TUsageError(problem);
    return tracks;
}

}  // namespace

namespace {

// --trim, --split-chapters and --cut: the ranges in the order given. Overlapping ones are refused
// here; one past a file's end when that file's job is described.
void ChooseRanges(const TConvertRequest& request, TJobSettings& settings) {
    for (const std::string& text : request.Trims) {
        try {
            settings.Ranges.push_back(ParseTimeRange(text));
        } catch (const TRangeError& error) {
            throw TUsageError(std::string("--trim: ") + error.what());
        }
    }
    if (const std::string problem = RangesProblem(settings.Ranges, -1, "--trim"); !problem.empty())
        throw TUsageError(problem);
    if (request.SplitChapters && !settings.Ranges.empty())
        throw TUsageError("--split-chapters cuts each file at its chapters; it takes no --trim");
    // The original would be replaced by one of its parts.
    if (request.SplitChapters && request.Library.ReplaceOriginal)
        throw TUsageError(
            "--split-chapters makes several outputs of a file; it cannot "
            "--replace-original");
    if (!request.Cut) return;
    const std::optional<TCutMode> mode = ParseCutMode(*request.Cut);
    if (!mode) throw TUsageError("--cut " + Quoted(*request.Cut) + ": exact or keyframe");
    if (settings.Ranges.empty() && !request.SplitChapters)
        throw TUsageError("--cut " + *request.Cut + " needs --trim or --split-chapters");
    settings.Cut = *mode;
}

// --loudness, --true-peak and --loudness-album.
void ChooseLoudness(const TConvertRequest& request, TJobSettings& settings) {
    if (!request.Loudness) {
        if (request.TruePeak) throw TUsageError("--true-peak needs --loudness");
        if (request.LoudnessAlbum) throw TUsageError("--loudness-album needs --loudness");
        return;
    }
    TLoudnessChoice& loudness = settings.Loudness;
    std::string error;
    loudness.Target = LoudnessTargetOf(*request.Loudness, error);
    if (!loudness.Target) throw TUsageError("--loudness: " + error);
    if (request.TruePeak) {
        const std::string& text = *request.TruePeak;
        const char* end = text.data() + text.size();
        const auto [stop, failed] = std::from_chars(text.data(), end, loudness.Ceiling);
        if (text.empty() || failed != std::errc() || stop != end ||
            !(loudness.Ceiling >= kLeastCeiling) || loudness.Ceiling > kMostCeiling)
            throw TUsageError("--true-peak " + Quoted(text) + ": a ceiling in dBTP, -9 ... 0");
    }
    loudness.Album = request.LoudnessAlbum;
    // The measurement reads whole files; a cut output would miss the target.
    if (!settings.Ranges.empty() || request.SplitChapters)
        throw TUsageError(
            "--loudness measures whole files and cannot be combined with --trim or "
            "--split-chapters");
}

}  // namespace

TConvertPlan PlanConversion(const TConvertRequest& request) {
    TConvertPlan plan;
    const std::optional<TPreset> preset =
        request.Preset ? std::optional<TPreset>(PresetNamed(*request.Preset)) : std::nullopt;
    if (request.Profile.empty() && !preset) throw TUsageError("--profile or --preset is required");
    plan.Line = ProfileLineOf(request.Profile.empty() ? preset->Choices.Profile : request.Profile);
    TProfileSelection selection;
    plan.Profile = selection.Choose(plan.Line);
    const TOutputProfile& profile = *plan.Profile;
    TParameterLists& lists = plan.Lists;
    lists.ApplyProfile(profile);
    if (preset) {
        SelectChoices(lists, preset->Choices.Parameters);
        const int aspect = preset->Choices.AspectIndex;
        if (aspect >= 0 && aspect < static_cast<int>(lists.AspectRatio.Items.size())) {
            lists.AspectRatio.Selected = aspect;
        }
    }

    const struct {
        const std::optional<std::string>& Text;
        TChoiceList& List;
        const char* Option;
        const char* What;
    } kChoices[] = {
        {request.VideoCodec, lists.VideoCodec, "--video-codec", "video codecs"},
        {request.VideoSize, lists.VideoSize, "--video-size", "video sizes"},
        {request.VideoBitrate, lists.VideoBitrate, "--video-bitrate", "video bit rates"},
        {request.FrameRate, lists.VideoFramerate, "--frame-rate", "frame rates"},
        {request.AudioCodec, lists.AudioCodec, "--audio-codec", "audio codecs"},
        {request.AudioBitrate, lists.AudioBitrate, "--audio-bitrate", "audio bit rates"},
        {request.SampleRate, lists.SamplingRate, "--sample-rate", "sample rates"},
        {request.Channels, lists.AudioChannels, "--channels", "channel choices"},
        {request.Aspect, lists.AspectRatio, "--aspect", "aspect ratios"},
        {request.Quality, lists.Quality, "--quality", "qualities"},
    };
    for (const auto& choice : kChoices) {
        if (choice.Text) Choose(choice.List, choice.Option, *choice.Text, choice.What, profile);
    }

    TJobSettings& settings = plan.Settings;
    settings.OutputFolder = request.OutputFolder;
    settings.SameFolderAsInput = request.OutputFolder.empty();
    settings.Overwrite = request.Overwrite;
    settings.FormatKey = profile.FormatKey;
    settings.Reader = profile.Reader;
    settings.Parameters = ChoiceOf(lists);
    settings.AspectIndex = lists.AspectRatio.Selected;
    settings.LetterBoxIndex =
        request.LetterBox || (preset && preset->Choices.LetterBoxIndex == 1) ? 1 : 0;
    settings.Reencode = request.Reencode;
    settings.CropBlackBars = request.Crop == "auto";
    settings.FitSizeBytes = FitSizeOf(request, preset, profile);
    ChooseRanges(request, settings);
    plan.SplitChapters = request.SplitChapters;
    settings.Tracks = TrackRequestOf(request);
    ChooseLoudness(request, settings);
    settings.Volume = VolumeForPosition(request.Volume ? VolumePositionOf(*request.Volume)
                                        : preset       ? preset->Choices.VolumePosition
                                                       : kDefaultVolumePosition);
    return plan;
}

std::string OutputFolderFor(const TJobSettings& settings, const std::string& input) {
    if (!settings.SameFolderAsInput) return settings.OutputFolder;
    return std::filesystem::path(input).parent_path().string();
}
