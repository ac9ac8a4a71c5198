// A file with several sound and subtitle tracks, each with its language and dispositions, put
// together at test time from clips and subtitle texts the libraries write and read.
#pragma once

#include <string>
#include <vector>

struct TTrackSource {
    std::string Path;  // a clip (WriteClip) or a subtitle file (.srt) the libraries read
    int Stream = 0;    // its stream to take
    std::string Language;
    int Disposition = 0;  // AV_DISPOSITION_DEFAULT, AV_DISPOSITION_FORCED, ...
};

// Writes every track's packets as they are into one file of the format the name says.
// Throws std::runtime_error naming the failed library call.
void WriteTrackedFile(const std::string& path, const std::vector<TTrackSource>& tracks);

// Writes a SubRip file of `count` events ("<word> 1", "<word> 2", ...) of 1.5 s each, one every
// 2.5 s from 0.5 s on (two events: 0.5-2.0 s and 3.0-4.5 s).
void WriteSubRip(const std::string& path, const std::string& word, int count);
