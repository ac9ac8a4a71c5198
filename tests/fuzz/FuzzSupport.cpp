#include "FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "binding/FFmpegLibs.h"

void LoadLibrariesForFuzzing() {
    if (FFmpegLibsLoaded()) return;
    if (!LoadFFmpegLibs("", true)) {
        std::fprintf(stderr, "%s\n", FFmpegLibsError().c_str());
        std::abort();
    }
    SetLibraryLogLevel(-1);
}

const std::string& ScratchFolder() {
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "dz-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    return folder;
}

std::string WriteInputFile(const uint8_t* data, size_t size) {
    static const char* const kExtensions[] = {".mp4", ".mov", ".avi", ".mkv", ".webm", ".mpg",
                                              ".ts",  ".flv", ".wmv", ".ogg", ".wav",  ".mp3",
                                              ".3gp", ".m4a", ".aac", ".vob"};
    const char* extension = "";
    if (size > 0) {
        extension = kExtensions[data[0] % std::size(kExtensions)];
        ++data;
        --size;
    }
    const std::string path = ScratchFolder() + "/input" + extension;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

void FuzzInvariantBroken(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

bool FfprobeReads(const std::string& path) {
    // The scratch folder's names hold no quote, so single quotes keep the path one word.
    const std::string command = "ffprobe -v error -show_streams '" + path + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}
