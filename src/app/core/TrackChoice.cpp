#include "app/core/TrackChoice.h"

#include <algorithm>
#include <cctype>

#include "app/core/Languages.h"
#include "binding/FFmpegLibs.h"

namespace {

constexpr const char* kOriginal = "original";

bool IsTrackNumber(const std::string& text) {
    return !text.empty() && text.size() < 4 &&
           std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The code a track's language tag stands for ("deu" and "de" give "ger"); the tag itself when
// it is no code.
std::string CanonicalLanguage(const std::string& tag) {
    const auto language = FindLanguage(tag);
    return language ? language->Code : tag;
}

std::vector<const TSourceStreams::TTrack*> SoundTracksOf(const TSourceStreams& source) {
    std::vector<const TSourceStreams::TTrack*> sound;
    for (const TSourceStreams::TTrack& track : source.Tracks)
        if (!track.Subtitle) sound.push_back(&track);
    return sound;
}

// The file's sound tracks for a message: "1 jpn, 2 eng, 3 ger".
std::string SoundTrackList(const std::vector<const TSourceStreams::TTrack*>& sound) {
    std::string text;
    for (std::size_t i = 0; i < sound.size(); ++i)
        text += (i ? ", " : "") + std::to_string(i + 1) + " " +
                (sound[i]->Language.empty() ? std::string("(no language)") : sound[i]->Language);
    return text.empty() ? "none" : text;
}

// The first sound track in the language, or nullptr.
const TSourceStreams::TTrack* SoundInLanguage(
    const std::vector<const TSourceStreams::TTrack*>& sound, const std::string& code) {
    const std::string wanted = CanonicalLanguage(code);
    for (const TSourceStreams::TTrack* track : sound)
        if (!track->Language.empty() && CanonicalLanguage(track->Language) == wanted) return track;
    return nullptr;
}

// The tracks the request names, in its order; what the file lacks is noted.
std::vector<int> AskedSoundTracks(const std::vector<const TSourceStreams::TTrack*>& sound,
                                  const std::vector<std::string>& asked,
                                  std::vector<std::string>& notes) {
    std::vector<int> chosen;
    for (const std::string& item : asked) {
        const TSourceStreams::TTrack* track = nullptr;
        if (IsTrackNumber(item)) {
            const std::size_t number = std::stoul(item);
            if (number >= 1 && number <= sound.size())
                track = sound[number - 1];
            else
                notes.push_back("audio track " + item + " left out: the file has " +
                                std::to_string(sound.size()) + " sound track" +
                                (sound.size() == 1 ? "" : "s") + " (" + SoundTrackList(sound) +
                                ")");
        } else {
            track = SoundInLanguage(sound, item);
            if (!track)
                notes.push_back("audio track " + LanguageText(item) +
                                " left out: the file has none in that language (its sound "
                                "tracks: " +
                                SoundTrackList(sound) + ")");
        }
        if (track && std::find(chosen.begin(), chosen.end(), track->Index) == chosen.end())
            chosen.push_back(track->Index);
    }
    return chosen;
}

bool HoldsSeveralSoundTracks(const AVOutputFormat* format) {
    if (!format) return false;
    const std::string names = std::string(",") + format->name + ",";
    for (const char* name : {",mp4,", ",mov,", ",matroska,", ",webm,"})
        if (names.find(name) != std::string::npos) return true;
    return false;
}

bool WantedLanguage(const std::string& language, const TTrackRequest& request) {
    if (request.Subtitles == TSubtitleChoice::scAll) return true;
    if (request.Subtitles == TSubtitleChoice::scNone || language.empty()) return false;
    const std::string code = CanonicalLanguage(language);
    return std::any_of(
        request.SubtitleLanguages.begin(), request.SubtitleLanguages.end(),
        [&code](const std::string& wanted) { return CanonicalLanguage(wanted) == code; });
}

std::string SoundTrackText(const TSourceStreams& source, int index) {
    const std::vector<const TSourceStreams::TTrack*> sound = SoundTracksOf(source);
    for (std::size_t i = 0; i < sound.size(); ++i)
        if (sound[i]->Index == index)
            return std::to_string(i + 1) + " (" +
                   (sound[i]->Language.empty() ? std::string() : sound[i]->Language + ", ") +
                   sound[i]->Format.Codec + ", " + std::to_string(sound[i]->Format.Channels) +
                   (sound[i]->Format.Channels == 1 ? " channel)" : " channels)");
    return std::to_string(index);
}

}  // namespace

std::string TrackRequestProblem(const TTrackRequest& request) {
    for (const std::string& item : request.AudioTracks) {
        if (IsTrackNumber(item) && std::stoi(item) >= 1) continue;
        if (!IsTrackNumber(item) && FindLanguage(item)) continue;
        return "--audio-track \"" + item +
               "\" is neither a track number (1 the first sound track) nor a language code "
               "(two or three letters, as de or ger)";
    }
    for (const std::string& code : request.AudioLanguages)
        if (code != kOriginal && !FindLanguage(code))
            return "--audio-lang: \"" + code +
                   "\" is no language code (two or three letters, as de or ger, or original)";
    for (const std::string& code : request.SubtitleLanguages)
        if (!FindLanguage(code))
            return "--subtitles: \"" + code +
                   "\" is no language code (two or three letters, as de or ger), nor all or "
                   "none";
    return {};
}

std::vector<int> ChooseSoundTracks(const TSourceStreams& source, const TTrackRequest& request,
                                   bool several, std::vector<std::string>& notes) {
    const std::vector<const TSourceStreams::TTrack*> sound = SoundTracksOf(source);
    std::vector<int> chosen = AskedSoundTracks(sound, request.AudioTracks, notes);
    if (chosen.empty() && !sound.empty()) {
        for (const std::string& code : request.AudioLanguages) {
            const TSourceStreams::TTrack* track =
                code == kOriginal ? sound.front() : SoundInLanguage(sound, code);
            if (track) {
                chosen.push_back(track->Index);
                break;
            }
        }
    }
    if (chosen.empty() && source.AudioIndex >= 0) chosen.push_back(source.AudioIndex);
    if (request.AllAudio)
        for (const TSourceStreams::TTrack* track : sound)
            if (std::find(chosen.begin(), chosen.end(), track->Index) == chosen.end())
                chosen.push_back(track->Index);
    if (!several && chosen.size() > 1) chosen.resize(1);
    return chosen;
}

std::vector<TSubtitleTrack> ChooseSubtitleTracks(const TSourceStreams& source,
                                                 const std::vector<TSubtitleFile>& files,
                                                 const TTrackRequest& request) {
    std::vector<TSubtitleTrack> chosen;
    for (const TSourceStreams::TTrack& track : source.Tracks)
        if (track.Subtitle && WantedLanguage(track.Language, request))
            chosen.push_back(
                {0, track.Index, track.CodecId, track.Text, "", false,
                 "track " + std::to_string(track.Index) + " (" + track.Format.Codec + ")"});
    for (std::size_t i = 0; i < files.size(); ++i)
        if (WantedLanguage(files[i].Language, request))
            chosen.push_back({static_cast<int>(i + 1), files[i].Stream, files[i].CodecId, true,
                              files[i].Language, files[i].Forced, files[i].Name});
    return chosen;
}

TTrackPlan PlanTracks(const TJobDescription& job, const TSourceStreams& source,
                      const TTrackRequest& request, bool everyTrack, bool fitted,
                      std::vector<std::string>& logLines) {
    TTrackPlan plan;
    const AVOutputFormat* format =
        LibAVFormat.av_guess_format(nullptr, job.OutputFile.c_str(), nullptr);
    const bool pictures = !job.DisableVideo && source.VideoIndex >= 0;
    TTrackRequest asked = request;
    asked.AllAudio = request.AllAudio || everyTrack;
    const bool several = pictures && !fitted && HoldsSeveralSoundTracks(format);
    plan.Kept.Sound = ChooseSoundTracks(source, asked, several, logLines);

    for (const TSourceStreams::TTrack& track : source.Tracks)
        plan.SourceHasSubtitles |= track.Subtitle;
    std::vector<TSubtitleFile> files;
    if (pictures && request.Subtitles != TSubtitleChoice::scNone) {
        TFoundSubtitles found = FindSubtitleFiles(job.InputFile);
        for (const std::string& note : found.Notes) logLines.push_back("subtitle " + note);
        files = std::move(found.Files);
        if (!request.SubtitleFiles) {
            for (const TSubtitleFile& file : files)
                logLines.push_back("subtitle " + file.Name +
                                   ": not kept; the ranges are cut out of the video alone");
            files.clear();
        }
    }
    if (pictures) plan.Kept.Subtitles = ChooseSubtitleTracks(source, files, request);
    for (const TSubtitleFile& file : files)
        plan.Inputs.push_back({file.Path, {"sub_charenc=" + file.Charset}});

    const bool ownSound = plan.Kept.Sound.size() == 1 && plan.Kept.Sound[0] == source.AudioIndex;
    plan.Mapped = (everyTrack && pictures) || !plan.Kept.Subtitles.empty() ||
                  !(ownSound || (plan.Kept.Sound.empty() && source.AudioIndex < 0));
    if (plan.Mapped && !plan.Kept.Sound.empty() && (plan.Kept.Sound.size() > 1 || !ownSound)) {
        std::string kept;
        for (const int index : plan.Kept.Sound)
            kept += (kept.empty() ? "" : ", ") + SoundTrackText(source, index);
        logLines.push_back("sound track" + std::string(plan.Kept.Sound.size() == 1 ? "" : "s") +
                           " kept: " + kept);
    }
    return plan;
}

void ApplyTrackPlan(TJobDescription& job, const TSourceStreams& source, const TTrackPlan& plan,
                    bool copy, std::vector<std::string>& logLines) {
    if (!plan.Mapped) {
        // Left to itself, the format would make a subtitle stream of the source's first.
        if (plan.SourceHasSubtitles) job.OptionLines.push_back("sn");
        return;
    }
    job.MoreInputs = plan.Inputs;
    KeepTracks(job, source, plan.Kept, copy, logLines);
}
