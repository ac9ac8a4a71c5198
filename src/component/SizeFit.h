// Fit to size: the arithmetic that turns "make this file N bytes at most" into the bit rates of
// a two-pass encode, and a second pass that overshot into a corrected rate.
//
// The rates aim a little below the target (kFitAim): the encoders' rate control keeps its
// average to within a few per cent, and the container's index is only estimated.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

inline constexpr double kFitAim = 0.96;       // share of the target the first plan aims at
inline constexpr double kFitRetryAim = 0.95;  // and a corrected second pass
inline constexpr double kFitLeast = 0.90;     // a result below this share is logged with why

// "25MB", "25 MB", "2.5MiB", "800kB", "1GB" or bytes with their unit ("1000000B"): k, M and G
// count thousands, Ki, Mi and Gi 1024s; the unit's letters in any case, "B" optional after a
// prefix. None for anything else, for a number without a unit (IsBareNumber), for zero and for
// more than an exabyte.
std::optional<int64_t> ParseTargetSize(const std::string& text);

// Whether the text is a number and nothing else ("8", " 2.5 "): a size missing its unit.
bool IsBareNumber(const std::string& text);

// Bytes as megabytes of 1,000,000 for messages, rounded up to hundredths: "1.25 MB".
std::string MegabytesText(int64_t bytes);

// What the plan of one conversion starts from.
struct TFitRequest {
    int64_t TargetBytes = 0;
    double Seconds = 0;  // the source's length
    int Width = 0;       // the picture written
    int Height = 0;
    double FrameRate = 25;
    std::string VideoEncoder;
    std::string AudioEncoder;  // empty: no sound
    int AudioChannels = 2;
    int64_t AudioBitrate = 0;  // bits per second the job asks for; 0 or less: none set
    std::string FormatKey;     // "MP4", "MKV", "AVI", ...
};

struct TFitPlan {
    int64_t VideoBitrate = 0;   // bits per second; 0 when the target cannot be met
    int64_t AudioBitrate = 0;   // bits per second; 0 without sound
    int64_t OverheadBytes = 0;  // the container's headers and index, estimated
    int64_t AudioBytes = 0;     // the sound at AudioBitrate
    // The smallest target the encoders can meet at their lowest rates (EncoderFloorBitrate,
    // AudioFloorBitrate); the plan fails when the target is below it.
    int64_t LeastTargetBytes = 0;
    bool Fits() const { return VideoBitrate > 0; }
};

// What a container adds to its media: headers, an index, per-packet headers, tables repeated in
// time; measured per format (MP4/MOV, MKV/WebM, MPEG-TS; estimated for the others).
struct TContainerRequest {
    std::string FormatKey;  // "MP4", "MKV", "WEBM", "TS", ...
    double Seconds = 0;
    double FrameRate = 0;              // pictures a second; 0 without video
    double SoundPacketsPerSecond = 0;  // 0 without sound
    double MediaBytes = 0;             // the streams' own bytes
};
double ContainerBytes(const TContainerRequest& request);
// Sound packets a second counted for a plan: 1024-sample frames at 48 kHz, 20 ms Opus frames.
inline constexpr double kSoundPacketsPerSecond = 50;

// The lowest video rate an encoder is given, bits per second, for a picture and frame rate:
// a share of a bit per pixel (0.005 for H.264 and H.265, 0.004 for VP9 and AV1, 0.02 for the
// MPEG-4 Part 2 family, H.263, FLV and WMV, 0.03 for MPEG-1/2, 0.01 for others), never below
// 16 kbit/s. Below it the encoders either refuse (their coarsest quantiser still makes more) or
// make pictures of blocks.
int64_t EncoderFloorBitrate(const std::string& encoder, int width, int height, double frameRate);
// The lowest sound rate: 16 kbit/s per channel, two channels at most counted.
int64_t AudioFloorBitrate(int channels);

// The plan: the sound keeps its rate unless a quarter of the whole budget is less (then it takes
// that quarter, rounded down to a usual rate, not below its floor); the container's share is
// estimated per format; the video takes the rest of kFitAim of the target.
TFitPlan PlanFit(const TFitRequest& request);

// The video rate for another second pass after one at `videoBitrate` gave `resultBytes` where
// `targetBytes` is allowed and `otherBytes` of it were sound and container (as measured): the
// video's bytes scaled to what kFitRetryAim of the target leaves them. Below `videoBitrate`
// whenever the result was over the target.
int64_t CorrectedVideoBitrate(int64_t videoBitrate, int64_t resultBytes, int64_t targetBytes,
                              int64_t otherBytes);

// Whether an encoder keeps first-pass statistics that a second pass uses (libx264, VP9, the
// library's own MPEG family); the others (libx265, SVT-AV1 in this generation) are fitted in one
// pass at an average rate, corrected the same way.
bool EncoderHasTwoPasses(const std::string& encoder);
