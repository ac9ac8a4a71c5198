// Loads the media libraries from the program's "Common Files" folder (or the system's) and
// reports what it loaded or why it could not.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "binding/FFmpegLibs.h"

namespace {

std::filesystem::path ProgramFolder() {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path() : self.parent_path();
}

void PrintVersion(const char* name, unsigned version) {
    std::printf("  %-12s %u.%u.%u\n", name, version >> 16, (version >> 8) & 0xFF, version & 0xFF);
}

}  // namespace

int main() {
    const std::string folder = (ProgramFolder() / "Common Files").string();
    if (!LoadFFmpegLibs(folder, true)) {
        std::fprintf(stderr, "Some files are missing. Please re-install this software\n%s\n",
                     FFmpegLibsError().c_str());
        return 1;
    }
    std::printf("Loaded the media libraries:\n");
    std::printf("  %-12s %s\n", "avcodec", AVCodecFileName().c_str());
    std::printf("  %-12s %s\n", "avformat", AVFormatFileName().c_str());
    std::printf("  %-12s %s\n", "avutil", AVUtilFileName().c_str());
    std::printf("  %-12s %s\n", "swscale", SwScaleFileName().c_str());
    std::printf("  %-12s %s\n", "swresample", SwResampleFileName().c_str());
    std::printf("  %-12s %s\n", "C runtime", MyUtilFileName().c_str());
    std::printf("Versions:\n");
    PrintVersion("avcodec", LibAVCodec.avcodec_version());
    PrintVersion("avformat", LibAVFormat.avformat_version());
    PrintVersion("avutil", LibAVUtil.avutil_version());
    PrintVersion("swscale", LibSwScale.swscale_version());
    PrintVersion("swresample", LibSwResample.swresample_version());
    UnloadFFmpegLibs();
    return 0;
}
