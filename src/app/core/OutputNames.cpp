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

// The first of base-1.ext, base-2.ext, ... that `taken` does not reject.
template <typename TTaken>
fs::path FirstNumberedName(const fs::path& base, const std::string& extension, TTaken taken) {
    for (long n = 1;; ++n) {
        fs::path candidate = base;
        candidate += "-" + std::to_string(n) + extension;
        if (!taken(candidate)) return candidate;
    }
}

}  // namespace

std::string NormalOutputPath(const std::string& path) {
    std::error_code ec;
    return fs::absolute(path, ec).lexically_normal().string();
}

std::string UnclaimedOutputName(const std::string& path, const std::string& inputFile,
                                const TClaimedNames& claimed) {
    if (!claimed.count(NormalOutputPath(path))) return path;
    const fs::path name(path);
    return FirstNumberedName(
               name.parent_path() / fs::path(inputFile).stem(), name.extension().string(),
               [&](const fs::path& candidate) {
                   return claimed.count(NormalOutputPath(candidate.string())) || Taken(candidate);
               })
        .string();
}

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
    if (!Taken(candidate)) return candidate.string();
    return FirstNumberedName(base, extension, Taken).string();
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
