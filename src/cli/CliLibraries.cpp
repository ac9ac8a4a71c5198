#include "cli/CliLibraries.h"

#include <filesystem>
#include <iostream>

#include "app/core/ConversionQueue.h"
#include "binding/FFmpegLibs.h"

std::string LibraryFolder() {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "Common Files";
    return (program.parent_path() / "Common Files").string();
}

bool LoadMediaLibraries() {
    if (LoadFFmpegLibs(LibraryFolder(), true)) return true;
    std::cerr << kMsgLibrariesMissing << "\n" << FFmpegLibsError() << "\n";
    return false;
}
