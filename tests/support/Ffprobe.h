// The independent judge: what the ffprobe program says about a file.
#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
}

struct TProbedStream {
    std::string codecType, codecName, codecTag;  // codecTag: ffprobe's tag string ("mp4v", "FMP4")
    int width = 0, height = 0;
    AVRational frameRate{0, 1}, avgFrameRate{0, 1};
    int sampleRate = 0, channels = 0;
    double duration = -1;               // seconds; -1: not given
    int64_t packets = -1, frames = -1;  // -1: not counted
    std::string pixelFormat, sampleFormat;
    std::string profile;  // the codec's profile as ffprobe names it ("High", "Main"), or empty
    int64_t bitRate = 0;
};

struct TProbedFile {
    bool ok = false;         // ffprobe ran and could read the file
    std::string formatName;  // e.g. "mov,mp4,m4a,3gp,3g2,mj2", "matroska,webm", "avi"
    double duration = -1;    // seconds; -1: not given
    int64_t size = 0;        // bytes
    int64_t bitRate = 0;
    std::vector<TProbedStream> streams;
    std::string error;  // ffprobe's complaint when !ok

    // The first stream of a type ("video", "audio", "subtitle"), or nullptr.
    const TProbedStream* First(const std::string& codecType) const;
};

// ffprobe's JSON answer for the file with the given arguments (e.g. "-show_packets"); a
// discarded value when ffprobe could not run or answered nothing readable.
nlohmann::json FfprobeJson(const std::string& arguments, const std::string& path);

// Runs ffprobe on the file; counting packets or frames reads the whole file.
TProbedFile RunFfprobe(const std::string& path, bool countPackets = false,
                       bool countFrames = false);
