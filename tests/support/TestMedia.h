// Test media made at test time with the libraries: clips whose frames and tone a test can
// recognise after any conversion, and damaged files for the error paths.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

struct TClipSpec {
    std::string videoCodec = "mpeg4";  // encoder name; empty: no video stream
    std::string audioCodec = "aac";    // encoder name; empty: no audio stream
    std::string format;                // muxer short name; empty: guessed from the file extension
    int width = 320, height = 240;
    AVRational frameRate{25, 1};
    int sampleRate = 48000, channels = 2;
    double durationSeconds = 2.0;
    int64_t videoBitRate = 400000, audioBitRate = 128000;  // 0: encoder default
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;  // NONE: the encoder's first supported format
    int gopSize = 12;
    int bFrames = -1;  // >= 0: the video encoder's B-frames between references
    // Chapters: each one's start (seconds) and title (empty: none); it lasts until the next one
    // starts, the last until the end of the clip.
    std::vector<std::pair<double, std::string>> chapters;
    int noise = 0;      // luma noise of up to this much either way, new in every picture: a picture
                        // that no rate makes small
    std::string title;  // the container's title tag; empty: none
    bool fastStart = false;  // MP4/MOV: the index before the media, as phones and web uploads
                             // write it (so a file cut short still opens)
    // Black bars as films carry them: rows at the top and bottom (letterbox), columns at the
    // left and right (pillarbox), in pixels each.
    int letterbox = 0, pillarbox = 0;
    double blackSeconds = 0;       // the pictures of the first seconds black all over
    double dim = 1;                // the picture's brightness above black: 0.15 a night scene
    bool logoInBottomBar = false;  // a white mark in the bottom bar's right half
};

// Writes a clip: a moving picture (a bar sweeping across, a gradient background) with the frame
// number burned in as large digits (so a test can recognise a frame after decoding), and a tone
// whose pitch changes each second (440 Hz, then 550, 660, ... ; amplitude about 0.5 full scale).
// Throws std::runtime_error naming the failed library call and the file on any failure.
void WriteClip(const std::string& path, const TClipSpec& clipSpec);

// Copies every stream of `source` into `target` (the muxer from its name) and gives the first
// video stream a display matrix made as a camera app makes it: av_display_rotation_set(angle)
// (90: the picture shows turned a quarter clockwise, as a portrait phone video), then
// av_display_matrix_flip when `mirrored` (a front camera's left-right mirror). Throws like
// WriteClip.
void CopyWithDisplayMatrix(const std::string& source, const std::string& target, double angle,
                           bool mirrored);

enum class TDamage { Truncated, Overwritten, Empty, NotMedia };

// Damages a file in place: Truncated keeps `fraction` of its bytes; Overwritten overwrites runs
// of bytes (deterministic pseudo-random, seeded by `seed`) from `fraction` of the file on; Empty
// makes it 0 bytes; NotMedia replaces it with text.
void DamageFile(const std::string& path, TDamage damage, double fraction = 0.5, unsigned seed = 1);

// Expected tone frequency at a given time (for audio checks).
double ToneFrequencyAt(double seconds);
