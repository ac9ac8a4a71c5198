// How many files a second the media probe reads in one process, the way the add-files routine
// uses it: open, ask for the first video stream and the file information, close.
//
//   probe-bench [--cache DIR] [--files N] [--rounds N] [--seconds S] [--list FILE]
//
// The clips (one second each unless --seconds says otherwise, in a mix of containers) are written
// into the cache folder the first time and reused afterwards. --list writes their paths, one a
// line, for comparison runs of other programs over the same files.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "binding/FFmpegLibs.h"
#include "probe/AVProbe.h"
#include "support/TestMedia.h"

namespace {

struct TBenchClip {
    const char* extension;
    const char* format;
    const char* videoCodec;
    const char* audioCodec;
    int width, height;
    AVRational frameRate;
    int sampleRate;
};

// Built-in encoders only, so the mix does not depend on optional libraries.
const TBenchClip kClipKinds[] = {
    {"mp4", "", "mpeg4", "aac", 320, 240, {25, 1}, 48000},
    {"avi", "", "mpeg4", "mp2", 320, 240, {25, 1}, 44100},
    {"mkv", "", "mpeg4", "aac", 352, 288, {30000, 1001}, 48000},
    {"mpg", "mpeg", "mpeg1video", "mp2", 352, 240, {30000, 1001}, 44100},
    {"flv", "", "flv", "aac", 320, 240, {15, 1}, 44100},
    {"wmv", "asf", "wmv2", "wmav2", 320, 240, {25, 1}, 44100},
    {"mov", "", "mpeg4", "aac", 176, 144, {24, 1}, 48000},
    {"ts", "mpegts", "mpeg2video", "mp2", 320, 240, {25, 1}, 48000},
    {"m4v", "mp4", "mpeg4", "", 320, 240, {25, 1}, 48000},
    {"wav", "", "", "pcm_s16le", 0, 0, {25, 1}, 44100},
};

struct TOptions {
    std::filesystem::path cache;
    int files = 200;
    int rounds = 5;
    int seconds = 1;
    std::string listFile;
};

std::filesystem::path DefaultCache() {
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg)
        return std::filesystem::path(xdg) / "daziziz-probe-bench";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".cache" / "daziziz-probe-bench";
    return std::filesystem::temp_directory_path() / "daziziz-probe-bench";
}

bool ParseOptions(int argc, char** argv, TOptions& options) {
    options.cache = DefaultCache();
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        if (name == "--cache")
            options.cache = value;
        else if (name == "--files")
            options.files = std::atoi(value.c_str());
        else if (name == "--rounds")
            options.rounds = std::atoi(value.c_str());
        else if (name == "--seconds")
            options.seconds = std::atoi(value.c_str());
        else if (name == "--list")
            options.listFile = value;
        else
            return false;
    }
    return options.files > 0 && options.rounds > 0 && options.seconds > 0;
}

// Writes the clips that are not in the cache yet; a clip is written under a temporary name and
// renamed, so an interrupted run never leaves a half-written clip to be probed later.
std::vector<std::string> PrepareClips(const TOptions& options) {
    std::filesystem::create_directories(options.cache);
    std::vector<std::string> paths;
    int written = 0;
    for (int i = 0; i < options.files; ++i) {
        const TBenchClip& kind = kClipKinds[i % std::size(kClipKinds)];
        char name[64];
        std::snprintf(name, sizeof name, "clip-%03d-%ds.%s", i, options.seconds, kind.extension);
        const std::filesystem::path path = options.cache / name;
        paths.push_back(path.string());
        if (std::filesystem::exists(path)) continue;

        TClipSpec clipSpec;
        clipSpec.videoCodec = kind.videoCodec;
        clipSpec.audioCodec = kind.audioCodec;
        clipSpec.format = kind.format;
        if (kind.width > 0) {
            clipSpec.width = kind.width;
            clipSpec.height = kind.height;
        }
        clipSpec.frameRate = kind.frameRate;
        clipSpec.sampleRate = kind.sampleRate;
        clipSpec.durationSeconds = options.seconds;
        const std::string partial = path.string() + ".partial." + kind.extension;
        WriteClip(partial, clipSpec);
        std::filesystem::rename(partial, path);
        ++written;
    }
    if (written) std::printf("wrote %d clips into %s\n", written, options.cache.c_str());
    return paths;
}

}  // namespace

int main(int argc, char** argv) {
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: probe-bench [--cache DIR] [--files N] [--rounds N] [--seconds S] "
                     "[--list FILE]\n");
        return 2;
    }
    if (!LoadFFmpegLibs("", true)) {
        std::fprintf(stderr, "%s\n", FFmpegLibsError().c_str());
        return 1;
    }
    SetLibraryLogLevel(-1);

    std::vector<std::string> paths;
    try {
        paths = PrepareClips(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "cannot write the clips: %s\n", error.what());
        return 1;
    }
    if (!options.listFile.empty()) {
        std::ofstream list(options.listFile);
        for (const std::string& path : paths) list << path << '\n';
    }

    using TClock = std::chrono::steady_clock;
    TAVProbe probe;
    TAVFileInfo fileInfo;
    TAVVideoStreamInfo videoInfo;
    int failures = 0;
    int64_t checksum = 0;  // keeps the answers alive; also shows every round read the same
    std::vector<double> roundSeconds;
    std::map<std::string, std::pair<double, int>> secondsByKind;  // extension: time, files
    for (int round = 0; round < options.rounds; ++round) {
        int roundFailures = 0;
        const auto start = TClock::now();
        for (const std::string& path : paths) {
            const auto fileStart = TClock::now();
            if (!probe.LoadFile(path)) {
                if (round == 0) std::fprintf(stderr, "%s\n", probe.LastErrorText().c_str());
                ++roundFailures;
                continue;
            }
            probe.GetVideoStreamInfo(-1, videoInfo);
            probe.GetFileInfo(fileInfo);
            checksum += videoInfo.Width + fileInfo.Duration / 1000;
            probe.CloseFile();
            auto& kind = secondsByKind[std::filesystem::path(path).extension().string()];
            kind.first += std::chrono::duration<double>(TClock::now() - fileStart).count();
            ++kind.second;
        }
        roundSeconds.push_back(std::chrono::duration<double>(TClock::now() - start).count());
        failures += roundFailures;
    }

    const double total = [&] {
        double sum = 0;
        for (double seconds : roundSeconds) sum += seconds;
        return sum;
    }();
    const double best = *std::min_element(roundSeconds.begin(), roundSeconds.end());
    const double probed = double(paths.size()) * options.rounds;
    std::printf("probed %zu files x %d rounds in %.3f s (%d failed, checksum %lld)\n", paths.size(),
                options.rounds, total, failures, static_cast<long long>(checksum));
    std::printf("files per second: %.0f (mean), %.0f (best round)\n", probed / total,
                double(paths.size()) / best);
    std::printf("per file: %.3f ms (mean)\n", 1000.0 * total / probed);
    for (const auto& [extension, kind] : secondsByKind)
        std::printf("  %-5s %.3f ms\n", extension.c_str(), 1000.0 * kind.first / kind.second);
    return failures ? 1 : 0;
}
