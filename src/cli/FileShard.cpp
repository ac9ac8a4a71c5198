#include "cli/FileShard.h"

#include <charconv>
#include <filesystem>

#include "cli/ConvertSettings.h"

namespace {

bool ReadNumber(const std::string& text, int& number) {
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

TShard ParseShard(const std::string& text) {
    const auto slash = text.find('/');
    TShard shard;
    if (slash == std::string::npos || !ReadNumber(text.substr(0, slash), shard.Index) ||
        !ReadNumber(text.substr(slash + 1), shard.Count) || shard.Count < 1 || shard.Index < 1 ||
        shard.Index > shard.Count) {
        throw TUsageError("--shard \"" + text +
                          "\" is not I/N with 1 <= I <= N (the I-th of N parts, e.g. 1/4)");
    }
    return shard;
}

std::uint64_t StablePathHash(const std::string& path) {
    std::string normal = std::filesystem::path(path).lexically_normal().generic_string();
    // "a/" and "a" name the same thing.
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char byte : normal) {
        hash ^= byte;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::vector<std::string> FilesOfShard(const std::vector<std::string>& files, const TShard& shard) {
    std::vector<std::string> part;
    for (const std::string& file : files) {
        if (StablePathHash(file) % static_cast<std::uint64_t>(shard.Count) ==
            static_cast<std::uint64_t>(shard.Index - 1)) {
            part.push_back(file);
        }
    }
    return part;
}
