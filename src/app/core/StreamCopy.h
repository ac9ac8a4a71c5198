// Copy when it fits: a source stream that already is what the job asks for (same codec, frame
// size and rate, or same sample rate and channels) is copied packet for packet instead of
// decoded and encoded again; nothing is lost and the conversion takes a fraction of the time.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/core/JobDescription.h"

// What the source's video and audio stream that a conversion takes are, as far as copying is
// concerned.
struct TSourceStreams {
    struct TVideo {
        std::string Codec;  // the libraries' codec name ("h264")
        int Width = 0;
        int Height = 0;
        TFrameRate Rate;      // the stream's average rate; 0/1 when unknown
        bool Turned = false;  // its display matrix turns or mirrors it: pictures are made upright
    };
    struct TAudio {
        std::string Codec;
        int SampleRate = 0;
        int Channels = 0;
    };
    std::optional<TVideo> Video;
    std::optional<TAudio> Audio;
};

// The source's streams read with the loaded libraries; none when the file does not open.
std::optional<TSourceStreams> ReadSourceStreams(const std::string& path);

// Sets the job's video and audio codec to "copy" where the source stream fits a fitted job
// (its encoder writes the source's codec, no other size, rate, crop, pad or turn; for sound no
// other sample rate or channel count and no volume change). A line for the row's log names each
// stream copied.
void CopyStreamsThatFit(TJobDescription& job, const TSourceStreams& source,
                        std::vector<std::string>& logLines);
