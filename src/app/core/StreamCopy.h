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
        std::string Language;   // the stream's language tag as the file has it; may be empty
        std::string Title;
        bool Default = false;  // marked as the default track
        bool Forced = false;   // marked forced (subtitles for foreign speech only)
    };
    std::optional<TVideo> Video;
    std::optional<TAudio> Audio;
    int VideoIndex = -1;         // the stream of Video
    int AudioIndex = -1;         // the stream of Audio
    int CoverIndex = -1;         // the cover picture, -1 none
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

// A subtitle track an output is to keep: one of the source's, or a subtitle file beside it that
// the job opens as a further input.
struct TSubtitleTrack {
    int Input = 0;  // 0 the source; n the job's n-th of MoreInputs
    int Stream = 0;
    int CodecId = 0;       // the libraries' codec id
    bool Text = false;     // text, which a text encoder can write again
    std::string Language;  // written into the output (ISO 639-2/B); empty keeps the source's
    bool Forced = false;   // a file's: marked forced in the output
    std::string Label;     // how the log names it: "track 3", "film.de.srt"
};

// The sound and subtitle tracks an output keeps, in the order written. The first sound track is
// marked as the default one, the others not.
struct TKeptTracks {
    std::vector<int> Sound;  // the source's stream numbers
    std::vector<TSubtitleTrack> Subtitles;
};

// The kept tracks into the job's output, after its video (and a cover picture where the format
// gets one): a sound track copied where it fits the job and copying is allowed, else encoded with
// the job's audio encoder; a subtitle track of the source copied where the output's format holds
// its codec; text subtitles (and every file's, whose characters are read in their own set)
// encoded into the format's text (mov_text in MP4 and MOV, SubRip or ASS in Matroska, WebVTT in
// WebM); pictures the format cannot hold, and text where it holds none, left out with the reason
// in a log line. The first sound track is the job's audio stream; the others and the subtitles
// are added after the output opens (StreamLines).
void KeepTracks(TJobDescription& job, const TSourceStreams& source, const TKeptTracks& kept,
                bool copy, std::vector<std::string>& logLines);
