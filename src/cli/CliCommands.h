// The headless front end's commands. Each returns the program's exit code; usage errors are
// found before any work starts.
#pragma once

#include <optional>
#include <string>
#include <vector>

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// A run stopped by a signal ends with 128 + its number: 130 for Ctrl-C (SIGINT).
inline constexpr int kExitSignalBase = 128;

// `profiles`: the output-format list, one line each: line number, tab, display name, tab,
// format key (empty for separator lines).
int ProfilesCommand();

// `probe`: one line per file (path, size, frame rate, duration, tab-separated, as the window's
// list shows them), or a JSON array with json.
// With crop, each line gets the black bars' crop ("crop=W:H:X:Y", the picture kept and its
// offset) as a last column.
int ProbeCommand(const std::vector<std::string>& files, bool json, bool crop = false);

// `encoders`: the devices tried (a line each: "device", kind and render node, "opened" or why
// not) and each hardware encoder of the libraries ("NAME<tab>available|not available<tab>
// REASON"). renderNodes: the render nodes to try instead of /dev/dri/renderD*.
int EncodersCommand(const std::vector<std::string>& renderNodes);

// Library mode: output names, kept folders, smaller outputs only, replacing the originals.
struct TLibraryRequest {
    std::optional<std::string> Name;  // a template: "{date} {title}"
    std::string KeepTree;             // ROOT: the input's folders below it kept
    bool KeepSmaller = false;
    bool ReplaceOriginal = false;  // convert only
    std::string ArchiveFolder;     // with ReplaceOriginal: instead of the trash
};

// What `convert` was asked for; the option texts as typed.
struct TConvertRequest {
    std::string Profile;  // line number, display name or a unique start of one
    // A preset the window saved (its profile and choices); options given as well win.
    std::optional<std::string> Preset;
    std::string OutputFolder;
    bool Overwrite = false;
    std::optional<std::string> VideoCodec, VideoSize, VideoBitrate, FrameRate;
    std::optional<std::string> AudioCodec, AudioBitrate, SampleRate, Channels;
    std::optional<std::string> Aspect;
    std::optional<std::string> Quality;  // today's profiles: an entry of their quality list
    std::optional<std::string> FitSize;  // video profiles: largest output, "25MB", "10MiB"
    bool LetterBox = false;
    bool Reencode = false;              // no stream copied, even one that fits
    std::string Crop = "none";          // "auto": the black bars found are cropped
    std::optional<std::string> Volume;  // percent of the volume slider: 0, 20, ..., 200
    // Sound tracks: numbers (1 the first) or languages, in order; every one; preferred languages
    // ("ger,original"). Subtitles: "all", "none" or languages ("de,en").
    std::vector<std::string> AudioTracks;
    bool AllAudio = false;
    std::optional<std::string> AudioLanguages, Subtitles;
    bool Verbose = false;              // the converter's log lines on standard error
    int Jobs = 1;                      // files converted at once
    std::string Report;                // report file, "-" standard output, empty none
    std::optional<std::string> Shard;  // "I/N": only the I-th of N parts of the files
    bool SkipExisting = false;         // skip files whose output is already complete
    std::optional<bool> Pipeline;      // stages on threads of their own; unset: by the cores
    std::string Hardware = "off";      // off, auto, vaapi, nvenc or qsv
    TLibraryRequest Library;
    std::vector<std::string> Trims;  // "START-END" each, the parts of each file kept, joined
    std::optional<std::string> Cut;  // exact or keyframe
    bool SplitChapters = false;      // one output per chapter of each file
    // Loudness normalisation: a target in LUFS or ebu, podcast, streaming; the true-peak ceiling
    // in dBTP; one gain for the whole batch (convert only).
    std::optional<std::string> Loudness, TruePeak;
    bool LoudnessAlbum = false;
    std::vector<std::string> Files;
};
int ConvertCommand(const TConvertRequest& request);

// `estimate`: the expected output of each file with the convert choices, one line each: the
// input, the bytes and the seconds, tab-separated ("-" for a file without an estimate, its
// reason on standard error, as is a note for an output larger than its source).
int EstimateCommand(const TConvertRequest& request);

// `watch`: converts every media file that appears in `folder` once it has stopped growing for
// `settleSeconds`, until Ctrl-C; the report (by default in the output folder) records what was
// done, so no file is converted twice across restarts. request.Files is not used.
// configFile: several folders, each with its own plan and hours (WatchConfig.h); then `folder`
// is empty. Each folder is watched by inotify, or scanned at intervals where its file system
// raises no events for changes made elsewhere (network file systems) and with `scanOnly`.
int WatchCommand(const TConvertRequest& request, const std::string& folder, double settleSeconds,
                 const std::string& configFile = "", bool scanOnly = false);

// `run`: the engine's own option vocabulary, in command-line order; `codecThreads` threads for
// each decoder and encoder (0: one per core); `pipeline` off runs the job in the engine's one
// loop instead of on threads of its own per stage.
int RunCommand(const std::vector<std::string>& arguments, int codecThreads = 0,
               bool pipeline = true);
