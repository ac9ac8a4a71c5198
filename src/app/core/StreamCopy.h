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
        std::string PictureFormat;  // "yuv420p10le"
    };
    struct TAudio {
        std::string Codec;
        int SampleRate = 0;
        int Channels = 0;
    };
    // A sound or subtitle track, for the profiles that keep every one.
    struct TTrack {
        int Index = 0;          // the stream's number in the file
        bool Subtitle = false;  // else sound
        int CodecId = 0;        // the libraries' codec id
        bool Text = false;      // subtitles as text, which a text encoder can write again
        TAudio Format;          // the codec's name; sample rate and channels of sound
    };
    std::optional<TVideo> Video;
    std::optional<TAudio> Audio;
    int VideoIndex = -1;         // the stream of Video
    std::vector<TTrack> Tracks;  // every usable sound and every subtitle track, in file order
};

// The source's streams read with the loaded libraries; none when the file does not open.
std::optional<TSourceStreams> ReadSourceStreams(const std::string& path);

// Sets the job's video and audio codec to "copy" where the source stream fits a fitted job
// (its encoder writes the source's codec, no other size, rate, crop, pad or turn; for sound no
// other sample rate or channel count and no volume change). A line for the row's log names each
// stream copied.
void CopyStreamsThatFit(TJobDescription& job, const TSourceStreams& source,
                        std::vector<std::string>& logLines);

// Every sound and subtitle track of the source into the job's output, after its video and in the
// source's order, with their languages and dispositions: a sound track copied where it fits the
// job and copying is allowed, else encoded with the job's audio encoder; a subtitle track copied
// where the output's format holds its codec, else encoded as text, else (pictures the format
// cannot hold) left out with a log line. The first sound track is the job's audio stream; the
// others and the subtitles are added after the output opens (StreamLines). Leaves a job whose
// source has no video to take as it is.
void KeepEveryTrack(TJobDescription& job, const TSourceStreams& source, bool copy,
                    std::vector<std::string>& logLines);
