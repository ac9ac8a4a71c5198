// daziziz-cli: the converter without a window, for scripts, remote shells, benchmarks and
// acceptance checks.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/StopSignal.h"

namespace {

constexpr const char* kConvertFooter = R"footer(
A value names an entry of the chosen profile's list ("daziziz-cli profiles" lists the profiles):
the entry itself, or enough of its start to tell it from the others, without regard to case or
blanks. "320x240" finds "320 x 240 (VGA)"; "200" finds "200 Kbps" but not "2000 Kbps".
--volume takes the window's slider steps: 0, 20, 40, ..., 200 (default 100).

Each file ends with one line on standard output: "INPUT -> OUTPUT: Done", "...: Done with errors:
REASON" (a damaged input, converted as far as it goes), "...: Fail: REASON", "...: Abort" or,
with --skip-existing, "...: Skip: REASON"; with --jobs N up to N files run at
once and their lines come as they finish. --report FILE keeps one JSON record per file, rewritten
whole (a temporary file renamed over it) as each one ends; with "--report -" the report goes to
standard output at the end and the lines to standard error. --shard I/N takes the files whose
path hash falls in part I of N, so N machines given the same list convert each file once.
An output has its own name only once complete (it is written as .NAME.converting.EXT beside
it); what a stopped or failed file made is kept as NAME.partial.EXT when it plays.
Exit status: 0 every file done, 1 a file failed or was done with errors, 2 usage error, 130
Ctrl-C (every running file is stopped and its output finished as far as it got).)footer";

constexpr const char* kWatchFooter = R"footer(
A file in IN_FOLDER (not in its subfolders; names starting with "." are left alone) is converted
once its size and time of change have stayed the same for --settle seconds. A folder is watched
by its inotify events; one on a network file system (NFS, SMB/CIFS, FUSE such as sshfs, ...) or
without inotify, and every folder with --poll, is scanned a few times within the settle time
instead; the first lines say which way each folder is watched. The report (default
OUTPUT_FOLDER/daziziz-watch.json) records every file handled; a restart reads it and converts
only what it does not record as done, failed or skipped. An output that is already complete is
recorded as skipped. Ctrl-C stops the running files and ends the watch with status 130.)footer";

constexpr const char* kRunFooter = R"footer(
The engine's own option vocabulary, in command-line order:
  -i FILE      opens an input file
  -KEYWORD     applies an option; the next argument is its value when the keyword takes one
  FILE         any other argument opens an output file (an existing one is replaced only
               with -y, an input of the job never)
Example: daziziz-cli run -i in.avi -vcodec mpeg4 -vb 800k -acodec mp2 -ab 128k out.mpg
         daziziz-cli run --threads 1 -i in.avi ... (one thread per codec; default: per core)
         daziziz-cli run --pipeline off -i in.avi ... (the engine's one loop; default: on)
Exit status: 0 finished, 1 failed (the reason on standard error), 2 usage error, 130 Ctrl-C.)footer";

// "--pipeline on|off": a job's stages on threads of their own (decoding, picture work,
// encoding, writing), or the engine's one loop that does them in turn. `byDefault` tells what
// runs without the option.
template <typename TMode>
void AddPipelineOption(CLI::App* command, TMode& pipeline, const char* byDefault) {
    command
        ->add_option_function<std::string>(
            "--pipeline", [&pipeline](const std::string& mode) { pipeline = mode == "on"; },
            "Runs decoding, picture work, encoding and writing on threads of their own (on) or "
            "in turn in one loop (off); the output is the same")
        ->check(CLI::IsMember({"on", "off"}))
        ->type_name("MODE")
        ->default_str(byDefault);
}

// The options `convert`, `watch` and `estimate` share: the profile and its choices.
void AddConvertOptions(CLI::App* command, TConvertRequest& request) {
    command->add_option("--profile", request.Profile, "Profile name or line number")
        ->type_name("NAME|LINE");
    command->add_option_function<std::string>(
        "--preset", [&request](const std::string& name) { request.Preset = name; },
        "A preset saved in the window: its profile and choices (options given too win)");
    command
        ->add_option("--output-folder", request.OutputFolder,
                     "Existing folder for the output; without it (convert only) each output "
                     "goes beside its input, never over it")
        ->type_name("DIR");
    command->add_flag("--overwrite", request.Overwrite,
                      "Writes over an output file of the same name instead of numbering the name");
    const struct {
        const char* Name;
        const char* Help;
        std::optional<std::string>* Field;
    } kValueOptions[] = {
        {"--video-codec", "An entry of the profile's video codecs", &request.VideoCodec},
        {"--video-size", "An entry of the profile's frame sizes", &request.VideoSize},
        {"--video-bitrate", "An entry of the profile's video bit rates", &request.VideoBitrate},
        {"--frame-rate", "An entry of the profile's frame rates", &request.FrameRate},
        {"--audio-codec", "An entry of the profile's audio codecs", &request.AudioCodec},
        {"--audio-bitrate", "An entry of the profile's audio bit rates", &request.AudioBitrate},
        {"--sample-rate", "An entry of the profile's sample rates", &request.SampleRate},
        {"--channels", "Stereo or Mono", &request.Channels},
        {"--aspect", "Original, 4:3 or 16:9", &request.Aspect},
        {"--volume", "Volume in percent: 0, 20, ..., 200", &request.Volume},
        {"--quality", "An entry of the profile's qualities: Very high, High, Standard, Small",
         &request.Quality},
        {"--fit-size",
         "Makes each output at most this size: 25MB (1,000,000 bytes a MB), 10MiB "
         "(1,048,576), 800kB or 1GB; a number needs its unit. Video profiles only. A ceiling: a "
         "source that needs less keeps the profile's own quality (or copy)",
         &request.FitSize},
    };
    for (const auto& option : kValueOptions) {
        command->add_option_function<std::string>(
            option.Name, [field = option.Field](const std::string& text) { *field = text; },
            option.Help);
    }
    command
        ->add_option("--audio-track", request.AudioTracks,
                     "Keeps this sound track: its number (1 the first) or language (de, ger); "
                     "repeat for several, the first the default. One-track outputs take the first")
        ->type_name("N|LANG");
    command->add_flag("--all-audio", request.AllAudio,
                      "Keeps every sound track where the output holds several, the chosen first");
    command->add_option_function<std::string>(
        "--audio-lang", [&request](const std::string& text) { request.AudioLanguages = text; },
        "Preferred sound languages, the first the file has wins (original: its first track); "
        "else the file's default track");
    command->add_option_function<std::string>(
        "--subtitles", [&request](const std::string& text) { request.Subtitles = text; },
        "Subtitle tracks and files beside the input (NAME.srt, NAME.de.srt, .ass, .vtt) to keep: "
        "all (default), none or languages (de,en)");
    command->add_flag("--letterbox", request.LetterBox,
                      "Keeps the picture's shape inside the frame size, with black bands");
    command
        ->add_option("--crop", request.Crop,
                     "auto: crops the black bars found at ten positions (only bars every "
                     "picture has; the log says what)")
        ->check(CLI::IsMember({"none", "auto"}))
        ->capture_default_str();
    command->add_flag("--reencode", request.Reencode,
                      "Encodes every stream again, also one that already fits the profile");
    command->add_flag("-v,--verbose", request.Verbose,
                      "Shows the converter's log on standard error");
}

// `convert` and `watch`: how the files run and what is kept of the run (`estimate` runs none).
void AddRunOptions(CLI::App* command, TConvertRequest& request) {
    command->add_option("-j,--jobs", request.Jobs, "Files converted at once")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    command
        ->add_option("--report", request.Report,
                     "Keeps a JSON record of every file in FILE (\"-\": standard output)")
        ->type_name("FILE");
    command->add_flag("--skip-existing", request.SkipExisting,
                      "Skips a file whose output exists and is complete; converts an incomplete "
                      "output again over it");
    command
        ->add_option("--hardware", request.Hardware,
                     "Encodes H.264, H.265, VP9 and AV1 on a graphics chip: auto uses one that "
                     "works, else software (the report says why); vaapi, nvenc or qsv demands "
                     "that kind and fails the file without it")
        ->check(CLI::IsMember({"off", "auto", "vaapi", "nvenc", "qsv"}))
        ->capture_default_str();
    AddPipelineOption(command, request.Pipeline,
                      "on while --jobs leaves each file two cores or more, else off but for "
                      "the last files");
    command
        ->add_option_function<std::string>(
            "--loudness", [&request](const std::string& text) { request.Loudness = text; },
            "Normalises the sound to this loudness in LUFS (-70 ... -5), or ebu (-23), podcast "
            "(-16), streaming (-14): measured first, then one gain, or loudnorm's dynamic mode "
            "where one gain would pass the true-peak ceiling. Replaces --volume")
        ->type_name("LUFS|NAME");
    command
        ->add_option_function<std::string>(
            "--true-peak", [&request](const std::string& text) { request.TruePeak = text; },
            "With --loudness: the true-peak ceiling in dBTP, -9 ... 0 (default -1)")
        ->type_name("DBTP");
}

// Library mode: output names, kept folders, smaller outputs only; replacing originals (convert).
void AddLibraryOptions(CLI::App* command, TLibraryRequest& library, bool replacing) {
    command
        ->add_option_function<std::string>(
            "--name", [&library](const std::string& text) { library.Name = text; },
            "Output names from a template: {name}, {ext}, {folder}, {profile}, {width}, {height}, "
            "{codec}, {duration}, {date}, {title}; the profile's extension follows")
        ->type_name("TEMPLATE");
    command
        ->add_option("--keep-tree", library.KeepTree,
                     "Keeps each input's folders below ROOT under the output folder")
        ->type_name("ROOT");
    command->add_flag("--keep-smaller", library.KeepSmaller,
                      "Removes an output that is not smaller than its source; the source stays");
    if (!replacing) return;
    command->add_flag("--replace-original", library.ReplaceOriginal,
                      "Converts beside each input, checks the output (it opens, lasts as long, "
                      "decodes to its end), moves the original to the trash and gives the output "
                      "the original's name");
    command
        ->add_option("--archive-folder", library.ArchiveFolder,
                     "With --replace-original: moves the originals into DIR, not the trash")
        ->type_name("DIR");
}

// What `watch` is given: one folder, or a file of several (--config).
struct TWatchArguments {
    TConvertRequest Request;
    std::string Folder, Config;
    double SettleSeconds = 5;
    bool Poll = false;
};

CLI::App* AddWatchCommand(CLI::App& app, TWatchArguments& arguments) {
    CLI::App* watch = app.add_subcommand(
        "watch", "Converts every media file that appears in a folder, until Ctrl-C");
    AddConvertOptions(watch, arguments.Request);
    AddRunOptions(watch, arguments.Request);
    AddLibraryOptions(watch, arguments.Request.Library, false);
    watch
        ->add_option("--settle", arguments.SettleSeconds,
                     "Seconds a file must stay unchanged before it is converted")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    watch->add_flag("--poll", arguments.Poll,
                    "Scans the folders at intervals instead of waiting for their inotify events "
                    "(for a share whose changes made elsewhere raise none and that is not "
                    "recognised as one)");
    watch->add_option("IN_FOLDER", arguments.Folder, "The folder to watch");
    watch
        ->add_option("--config", arguments.Config,
                     "Several folders, each with its own profile, output folder, names and hours "
                     "(JSON: {\"folders\": [{\"folder\": ..., \"profile\": ..., "
                     "\"output_folder\": ..., \"hours\": \"22:00-06:00\"}]}, or TOML with "
                     "the same keys in a [[folder]] or [folder.NAME] table each)")
        ->type_name("FILE");
    watch->footer(kWatchFooter);
    return watch;
}

CLI::App* AddEstimateCommand(CLI::App& app, TConvertRequest& request) {
    CLI::App* estimate = app.add_subcommand(
        "estimate", "Prints each file's expected output size (bytes) and time (seconds)");
    AddConvertOptions(estimate, request);
    estimate->add_option("FILE", request.Files, "Media files")->required();
    return estimate;
}

// `convert` only: the parts of each file kept, and how they are cut.
void AddCutOptions(CLI::App* command, TConvertRequest& request) {
    command
        ->add_option("--trim", request.Trims,
                     "Keeps START-END of each file; given again, the ranges in that order, "
                     "joined. Seconds (75.5) or [hh:]mm:ss[.fff]; no END: to the end")
        ->type_name("START-END")
        ->allow_extra_args(false);
    command->add_option_function<std::string>(
        "--cut", [&request](const std::string& mode) { request.Cut = mode; },
        "How --trim and --split-chapters cut: exact (the video encoded again; the default) or "
        "keyframe (a copied video starts at the key frame at or before START)");
    command->add_flag("--split-chapters", request.SplitChapters,
                      "One output per chapter of each file, \"NAME - NN - TITLE.EXT\", cut as "
                      "--trim cuts; a file without chapters is converted whole");
    command->add_flag("--loudness-album", request.LoudnessAlbum,
                      "With --loudness: the files together reach the target with one gain, so "
                      "quiet and loud ones keep their difference");
}

// A mistyped command would otherwise only be told that a command is required: says which are
// known. Options come before no command.
bool IsUnknownCommand(CLI::App& app, const char* first) {
    if (first[0] == '-') return false;
    for (const CLI::App* command : app.get_subcommands({}))
        if (command->check_name(first)) return false;
    std::fprintf(stderr,
                 "daziziz-cli: unknown command \"%s\"; the commands are profiles, probe, encoders, "
                 "convert, estimate, watch and run\nRun with --help for more information.\n",
                 first);
    return true;
}

// The "run" command: the engine's own option vocabulary after a few options of its own.
CLI::App* AddRunCommand(CLI::App& app, int& codecThreads, bool& pipeline) {
    CLI::App* run = app.add_subcommand("run", "Runs one job in the engine's own option vocabulary");
    run->add_option("--threads", codecThreads,
                    "Threads of each decoder and encoder, 0 one per core (before the job's "
                    "options; the engine's \"threads\" keyword is refused)")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    AddPipelineOption(run, pipeline, "on");
    // Everything after "run" is the engine's: the parser leaves it alone.
    run->prefix_command();
    run->footer(kRunFooter);
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Converts media files with the converter's output profiles, without a window.",
                 "daziziz-cli"};
    app.set_version_flag("--version", std::string("daziziz-cli ") + DZ_VERSION);
    app.require_subcommand(1, 1);

    CLI::App* profiles = app.add_subcommand(
        "profiles", "Lists the output profiles: line number, name and format key, tab-separated");

    bool json = false, probeCrop = false;
    std::vector<std::string> probeFiles;
    CLI::App* probe = app.add_subcommand(
        "probe", "Shows each file's frame size, frame rate and duration as the window lists them");
    probe->add_flag("--json", json, "Writes a JSON array with every fact the probe reads");
    probe->add_flag("--crop", probeCrop,
                    "Adds the crop of the black bars found: crop=W:H:X:Y (size kept, offset)");
    probe->add_option("FILE", probeFiles, "Media files")->required();

    std::vector<std::string> renderNodes;
    CLI::App* encoders = app.add_subcommand(
        "encoders",
        "Lists the hardware encoders, each available or not and why (one test frame "
        "each)");
    encoders
        ->add_option("--render-node", renderNodes,
                     "A render node to try instead of /dev/dri/renderD* (also "
                     "DAZIZIZ_RENDER_NODES, paths separated by ':')")
        ->type_name("PATH");

    TConvertRequest request;
    CLI::App* convert = app.add_subcommand(
        "convert", "Converts the files with an output profile, one or several at once");
    AddConvertOptions(convert, request);
    AddRunOptions(convert, request);
    AddLibraryOptions(convert, request.Library, true);
    convert
        ->add_option("--shard", request.Shard,
                     "Converts only the I-th of N parts of the files (by a hash of each path)")
        ->type_name("I/N");
    AddCutOptions(convert, request);
    convert->add_option("FILE", request.Files, "Media files, converted in this order")->required();
    convert->footer(kConvertFooter);

    TWatchArguments watchArguments;
    CLI::App* watch = AddWatchCommand(app, watchArguments);

    TConvertRequest estimateRequest;
    CLI::App* estimate = AddEstimateCommand(app, estimateRequest);

    int codecThreads = 0;
    bool pipeline = true;
    CLI::App* run = AddRunCommand(app, codecThreads, pipeline);

    if (argc > 1 && IsUnknownCommand(app, argv[1])) return kExitUsage;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? kExitOk : kExitUsage;
    }

    if (*profiles) return ProfilesCommand();
    if (*probe) return ProbeCommand(probeFiles, json, probeCrop);
    if (*encoders) return EncodersCommand(renderNodes);
    if (*convert) return EndOfCommand(ConvertCommand(request));
    if (*estimate) return EstimateCommand(estimateRequest);
    if (*watch) {
        return EndOfCommand(WatchCommand(watchArguments.Request, watchArguments.Folder,
                                         watchArguments.SettleSeconds, watchArguments.Config,
                                         watchArguments.Poll));
    }
    if (*run) return RunCommand(run->remaining(), codecThreads, pipeline);
    return kExitUsage;
}
