#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>

#include "binding/FFmpegLibs.h"

TTempDir::TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "dz-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TTempDir::~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void RequireMediaLibraries() {
    if (FFmpegLibsLoaded()) return;
    ASSERT_TRUE(LoadFFmpegLibs("", true)) << FFmpegLibsError();
}

std::string FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}
