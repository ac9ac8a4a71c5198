// Small pictures of video files for the file list: one picture from about a tenth into the file
// (one seek, one decode), upright as the display matrix shows it and tone-mapped from HDR, made
// by the engine's own picture steps, and kept in the user's cache folder so that a file is
// decoded again only when it changes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct TThumbnail {
    int Width = 0;  // 0: none, Reason says why
    int Height = 0;
    std::vector<uint8_t> Rgb;  // Height rows of Width R, G, B bytes, top row first
    std::string Reason;
    bool FromCache = false;
    bool Ok() const { return Width > 0 && Height > 0; }
};

// $XDG_CACHE_HOME (else ~/.cache), then "daziziz/thumbnails".
std::filesystem::path DefaultThumbnailFolder();

class TThumbnailMaker {
  public:
    // Pictures at most `longSide` pixels on their longer side, kept in `cacheFolder` (made when
    // first needed; empty: none kept).
    explicit TThumbnailMaker(std::filesystem::path cacheFolder = DefaultThumbnailFolder(),
                             int longSide = 160);

    // The file's picture, from the cache when the file's path, size and change time are those
    // it was made for. The libraries must be loaded. Safe to call from several threads at once
    // (each call opens the file on its own; cache files are written whole or not at all).
    TThumbnail Make(const std::string& path) const;

    // The cache file of a file as it is now; empty when it cannot be read.
    std::filesystem::path CacheFileOf(const std::string& path) const;

  private:
    std::filesystem::path folder_;
    int longSide_;
};
