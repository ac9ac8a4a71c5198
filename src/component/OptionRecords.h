// The option records a caller fills for one task, and how each is handed to the task's engine.
//
// Throughout the records an empty text, a negative number or a false flag means "not set": the
// engine keeps its own default for that field.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/CustomFFmpeg.h"

// A window-system colour: red in the low byte, green in the next, blue in the third; with the
// high bit set, the low byte names a system colour instead (kSystemColorFlag | index).
using TColor = uint32_t;
constexpr TColor kSystemColorFlag = 0x80000000u;

// The system colours' indexes, as a window system numbers them.
enum TSystemColorIndex {
    scScrollBar = 0,
    scBackground = 1,
    scActiveCaption = 2,
    scInactiveCaption = 3,
    scMenu = 4,
    scWindow = 5,
    scWindowFrame = 6,
    scMenuText = 7,
    scWindowText = 8,
    scCaptionText = 9,
    scActiveBorder = 10,
    scInactiveBorder = 11,
    scAppWorkSpace = 12,
    scHighlight = 13,
    scHighlightText = 14,
    scBtnFace = 15,
    scBtnShadow = 16,
    scGrayText = 17,
    scBtnText = 18,
    scInactiveCaptionText = 19,
    scBtnHighlight = 20,
    sc3DDkShadow = 21,
    sc3DLight = 22,
    scInfoText = 23,
    scInfoBk = 24,
    scHotLight = 26,
    scGradientActiveCaption = 27,
    scGradientInactiveCaption = 28,
    scMenuHilight = 29,
    scMenuBar = 30,
};

constexpr TColor SystemColor(TSystemColorIndex index) {
    return kSystemColorFlag | static_cast<TColor>(index);
}

// The plain RGB value of a colour: system colours take the classic default scheme's values (an
// unknown index gives black); other values pass unchanged.
TColor ColorToRGB(TColor color);

struct TInputOptions {
    std::string FileName;     // empty: filled with the file name given to AppendTask
    std::string InputFormat;  // forced demuxer
    int32_t StartTime = -1;   // milliseconds
    int32_t ProgramId = -1;
    std::string OptionText;  // name=value lines, applied before the fields above
};

struct TOutputOptions {
    std::string FileName;  // empty: filled with the file name given to SetTaskOutput
    std::string OutputFormat;
    int32_t PacketSize = -1;
    int32_t MuxRate = -1;
    float MuxDelay = -1.0f;    // seconds
    float MuxPreload = -1.0f;  // seconds
    std::string AudioCodec;
    bool DisableAudio = false;
    int32_t AudioVolume = -1;  // 256 = unchanged
    int32_t AudioChannels = -1;
    int32_t AudioSampleRate = -1;  // Hz
    int32_t AudioBitrate = -1;     // bit/s
    int32_t AudioBitrateTolerance = -1;
    std::string AudioLanguage;  // handed over also when empty
    int32_t AudioSyncMethod = 0;
    std::string AudioTag;  // four characters
    std::string VideoCodec;
    bool DisableVideo = false;
    std::string FrameRate;
    std::string FrameSize;
    std::string FrameAspect;
    int32_t CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;  // pixels
    int32_t PadTop = -1, PadBottom = -1, PadLeft = -1, PadRight = -1;      // pixels
    TColor PadColor = 0;  // black; handed over also when 0
    int32_t GopSize = -1;
    int32_t VideoBitrate = -1;  // bit/s
    int32_t VideoMaxRate = -1;
    int32_t VideoMinRate = -1;
    int32_t VideoBitrateTolerance = -1;
    int32_t VideoBufferSize = -1;
    int32_t VideoSyncMethod = -1;  // -1 automatic; handed over also then
    std::string VideoTag;          // four characters
    bool DisableSubtitle = false;
    std::string SubtitleLanguage;  // handed over also when empty
    bool CopyTimestamps = false;   // handed over also when false
    int32_t RecordingTime = -1;    // milliseconds
    // Local date-time in days since 1899-12-30: 0.0 the moment of the hand-over, negative none.
    double Timestamp = -1.0;
    int32_t Year = -1;
    int32_t Track = -1;
    // Read up to the first NUL; an empty text keeps the engine's value.
    char Title[512] = {};
    char Author[512] = {};
    char Copyright[512] = {};
    char Comment[512] = {};
    char Album[512] = {};
    char Genre[32] = {};
    int32_t TargetType = 0;          // 1 "vcd", 2 "svcd", 3 "dvd", otherwise none
    int32_t TargetNorm = 0;          // 0 "auto", 1 "pal", 2 "ntsc", otherwise "auto"
    int32_t TargetFallbackNorm = 1;  // 1 "pal", otherwise "ntsc"
    bool CustomHook = false;         // offer every decoded picture to OnCustomHook
    bool BeforeHook = false;         // offer every picture to OnBeforeHook (frame hooks active)
    std::string HookTimeRanges;      // "start-end,..." in milliseconds; without either hook
    // Fit to size: the output is made at most this many bytes, in passes the task runs itself
    // (FittedRun.cpp) at VideoBitrate and, when that overshoots, a corrected rate; -1 none.
    int64_t FitSizeBytes = -1;
    // With a fit, the profile's own encode (its quality encode or a copy), made first and kept
    // as the output when within FitSizeBytes; otherwise the fitting passes follow. None: the
    // fitting passes only.
    std::shared_ptr<const TOutputOptions> Unfitted;
    // A GIF: a palette of at most this many colours (2 ... 256) is made from the clip first, in a
    // pass of its own (PalettePass.h), and the pictures are mapped to it; -1 none.
    int32_t PaletteColours = -1;
    // A format without bit rates (GIF, animated WebP) fitted to FitSizeBytes by stepping its
    // picture down instead: colours, frame rate and width for a GIF, this quality (0 ... 100,
    // "quality") then width for WebP; -1 when the format has no quality.
    int32_t StepQuality = -1;
    std::string OptionText;  // name=value lines, applied before every field above
    // name=value lines applied after the file opens, as a command line gives them after the
    // output file's name: "newaudio", "newsubtitle", "newvideo" each add a stream with the
    // stream options before them.
    std::string StreamOptionText;
};

// Give every field its initial value.
void InitInputOptions(TInputOptions& options);
void InitOutputOptions(TOutputOptions& options);

// Hands an input record to an engine: the option text first, then the forced format, the start
// time and the program id. Errors of the option text or a setter propagate.
void ApplyInputOptions(TCustomFFmpeg& engine, const TInputOptions& options);
// Hands an output record to an engine: the option text first, then every field from the output
// format to the genre in the record's order, then the target preset. The hook choice is the
// component's (it binds events). Errors of the option text, a setter or the preset propagate.
void ApplyOutputOptions(TCustomFFmpeg& engine, const TOutputOptions& options);
// After the output file opened: the record's StreamOptionText. Errors propagate.
void ApplyOutputStreamOptions(TCustomFFmpeg& engine, const TOutputOptions& options);

// "5000-9000, 1000-2000" (milliseconds) as hook time ranges in microseconds, in the order given.
// An entry whose start lies after its end, or whose end is negative, is left out; a part that
// is not an integer counts as -1.
std::vector<THookTimeRange> ParseHookTimeRanges(const std::string& text);

// The time zone's standard-time bias in minutes (UTC = local time + bias); daylight saving time
// is not taken into account.
int TimeZoneBiasMinutes();
// A local date-time in days since 1899-12-30 as whole seconds since 1970-01-01 UTC, with the
// given bias in minutes, rounded to the nearest second.
int64_t LocalDateTimeToUnixSeconds(double dateTime, int biasMinutes);
// The recording timestamp a record's Timestamp stands for: false when it asks for none.
bool RecordingTimestampOf(double dateTime, int64_t& secondsSince1970);

// The preset names of TargetType, TargetNorm and TargetFallbackNorm; an empty type means none.
std::string TargetTypeName(int32_t targetType);
std::string TargetNormName(int32_t targetNorm);
std::string TargetFallbackNormName(int32_t targetFallbackNorm);
