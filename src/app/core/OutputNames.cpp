#include "app/core/OutputNames.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Also a dangling link counts as taken: writing through it would create a file elsewhere.
bool Taken(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

bool SameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::equivalent(a, b, ec)) return true;
    return fs::absolute(a, ec).lexically_normal() == fs::absolute(b, ec).lexically_normal();
}

}  // namespace

std::string OutputExtension(const std::string& formatKey) {
    std::string extension = "." + formatKey;
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

std::string UniqueOutputName(const std::string& path, const std::string& extension) {
    const fs::path base = fs::path(path).replace_extension();
    fs::path candidate = base;
    candidate += extension;
    for (long n = 1; Taken(candidate); ++n) {
        candidate = base;
        candidate += "-" + std::to_string(n) + extension;
    }
    return candidate.string();
}

TOutputName ChooseOutputName(const std::string& inputFile, const std::string& outputFolder,
                             const std::string& formatKey, bool overwrite) {
    const std::string extension = OutputExtension(formatKey);
    const fs::path inFolder = fs::path(outputFolder) / fs::path(inputFile).filename();
    if (!overwrite) return {UniqueOutputName(inFolder.string(), extension), {}};

    const fs::path wanted = fs::path(inFolder).replace_extension(extension);
    if (!SameFile(wanted, inputFile)) return {wanted.string(), {}};
    const std::string numbered = UniqueOutputName(inFolder.string(), extension);
    return {numbered, "\"" + wanted.string() +
                          "\" is the input file itself and is not overwritten; writing \"" +
                          numbered + "\" instead"};
}
