// What the media probe tells of one file, read the way the window's file list reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/core/FileList.h"
#include "probe/AVProbe.h"

class TAVProbe;

struct TMediaFacts {
    std::string Path;
    bool Ok = false;
    std::string Error;  // the probe's reason when the file could not be opened
    TProbeFacts Facts;
    int StreamCount = 0;
    int VideoStreamCount = 0;
    int AudioStreamCount = 0;
    int SubtitleStreamCount = 0;
    // The list's "Video Size", "FrameRate" and "Duration" texts; empty when !Ok.
    std::string SizeText, FrameRateText, DurationText;
    std::string VideoCodecName;       // of the video a conversion takes ("h264", "png"); empty
                                      // without one
    std::string Title;                // the container's title; empty without one
    std::int64_t CreatedSeconds = 0;  // the recording's date the container gives; 0 none
    std::vector<TAVChapter> Chapters;
};

// Why a file holds nothing to convert: neither sound nor moving pictures (a still picture such
// as a cover, a text the libraries would show as a picture, no stream at all, or no media
// file). Empty when it has sound or moving pictures.
std::string NothingToConvertReason(const TMediaFacts& facts);

// Opens the file with the probe, reads it and closes it again. Throws std::runtime_error when a
// library is not loaded.
TMediaFacts ReadMediaFacts(TAVProbe& probe, const std::string& path);

// The file as a row of the file list: probed, or marked "Error".
void AddToFileList(TFileList& list, const TMediaFacts& facts, const std::string& formatKey);
