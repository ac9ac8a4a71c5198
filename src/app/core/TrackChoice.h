// Which sound and subtitle tracks a conversion keeps: the user's choice of tracks by number or
// language, the preferred languages, and the subtitle files beside the input.
#pragma once

#include <string>
#include <vector>

#include "app/core/JobDescription.h"
#include "app/core/StreamCopy.h"
#include "app/core/SubtitleFiles.h"

enum class TSubtitleChoice {
    scAll,        // every subtitle track and file the output can hold
    scNone,       // none
    scLanguages,  // those in SubtitleLanguages
};

struct TTrackRequest {
    // Sound tracks asked for by number ("2": the file's second sound track) or language ("ger",
    // "de"), in the order given; the first becomes the default track.
    std::vector<std::string> AudioTracks;
    bool AllAudio = false;  // every sound track, the chosen one first
    // Without tracks asked for: the first of these languages the file has wins ("original":
    // its first sound track); none found keeps the file's own default.
    std::vector<std::string> AudioLanguages;
    TSubtitleChoice Subtitles = TSubtitleChoice::scAll;
    std::vector<std::string> SubtitleLanguages;
    // False: the subtitle files beside the input are left out with a note (a job that cuts
    // ranges out of its input cuts that input alone, not the files' cues).
    bool SubtitleFiles = true;
};

// Why a request cannot be carried out for any file ("--audio-lang: \"xx\" is no language
// code ..."), or empty. Numbers are whole and from 1 on; codes are ISO 639 codes.
std::string TrackRequestProblem(const TTrackRequest& request);

// The sound tracks to keep, as the source's stream numbers in the order written, the chosen one
// first: the tracks asked for (a number or language the file lacks is noted and left out), else
// the first preferred language found, else the file's own default (the default-disposition track,
// else the one with most channels). With AllAudio every other sound track follows in the file's
// order. `several`: the output holds more than one sound track; else only the first is kept.
std::vector<int> ChooseSoundTracks(const TSourceStreams& source, const TTrackRequest& request,
                                   bool several, std::vector<std::string>& notes);

// The subtitle tracks to keep: the source's own, then the files beside it (the job's further
// inputs 1, 2, ... in their order), those the request's languages name.
std::vector<TSubtitleTrack> ChooseSubtitleTracks(const TSourceStreams& source,
                                                 const std::vector<TSubtitleFile>& files,
                                                 const TTrackRequest& request);

// What a job keeps of its source's tracks: Mapped when it differs from what the job keeps by
// itself (the default sound track and no subtitles), then Kept and the subtitle files to open
// as further inputs.
struct TTrackPlan {
    bool Mapped = false;
    bool SourceHasSubtitles = false;
    TKeptTracks Kept;
    std::vector<TMoreInput> Inputs;
};

// The plan for a described job (its output and whether it writes video are known): subtitle
// files beside its input are looked for where the output has pictures. `everyTrack` keeps every
// sound track (a profile that does); `fitted` one (a fit plans for one). Notes go to the log.
TTrackPlan PlanTracks(const TJobDescription& job, const TSourceStreams& source,
                      const TTrackRequest& request, bool everyTrack, bool fitted,
                      std::vector<std::string>& logLines);

// The plan carried out (KeepTracks); `copy` lets sound that fits be copied. A plan that maps
// nothing only keeps the format's own subtitle stream from taking a source track by itself.
void ApplyTrackPlan(TJobDescription& job, const TSourceStreams& source, const TTrackPlan& plan,
                    bool copy, std::vector<std::string>& logLines);
