// One conversion as the application decides it: the input, the output file and every output
// setting, in the converter component's terms, ready to be copied field by field into its input
// and output option records. Convention of those records: an empty text, a negative number or a
// false flag means "not set", and the engine keeps its own default.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// An exact frame rate in frames per second (30000/1001 for "29.97 fps").
struct TFrameRate {
    int Num = 0;
    int Den = 1;
    bool operator==(const TFrameRate&) const = default;
};

// An input opened after the job's own (a subtitle file beside it): the maps number it 1, 2, ...
struct TMoreInput {
    std::string File;
    std::vector<std::string> OptionLines;  // "name=value" lines for its input record
};

struct TJobDescription {
    // Input record.
    std::string InputFile;
    int StartTime = 0;  // milliseconds; 0 sets no start time
    std::vector<TMoreInput> MoreInputs;

    // Output record.
    std::string OutputFile;
    std::string FormatKey;   // upper-case key of the chosen profile; the output extension is its
                             // lower case
    std::string VideoCodec;  // "vcodec": encoder name
    std::string AudioCodec;  // "acodec": encoder name
    std::string FrameSize;   // "s": the picture's size inside the pad bands, e.g. "352x288"
    std::optional<TFrameRate> FrameRate;  // "r": none keeps the input's rate
    std::string FrameAspect;              // "aspect": "4:3", "16:9" or a decimal ratio "1.3333"
    int AudioChannels = -1;               // "ac"
    int AudioSampleRate = -1;             // "ar", Hz
    int AudioBitrate = -1;                // "ab", bits per second
    int VideoBitrate = -1;                // "vb", bits per second; 0 also counts as not set
    int AudioVolume = -1;                 // "vol", 256 = unchanged
    // "loudness=...": the sound normalised (LoudnessChoice.h); empty: not. Sound is not copied
    // then.
    std::string Loudness;
    bool DisableVideo = false;  // "vn"
    // Letter-box bands in pixels, all even ("padtop" ...); the frame written is FrameSize
    // enlarged by them. -1: no band.
    int PadTop = -1;
    int PadBottom = -1;
    int PadLeft = -1;
    int PadRight = -1;
    std::uint32_t PadColor = 0;  // red in the low byte, then green, then blue: 0 is black
    // Fit to size (FitToSize.h): the output's largest size in bytes, -1 none.
    std::int64_t FitSizeBytes = -1;
    // A fitted job of a quality profile: the profile's own job as it runs without the fit (its
    // quality encode, or a stream copy), tried before the fitting passes and kept when it comes
    // out within the target (a fit is a ceiling). None for a bit-rate profile or without a fit.
    std::shared_ptr<const TJobDescription> Unfitted;
    // Animated pictures (TodaysEncoding.h): a GIF's palette is made for it from the clip, of at
    // most PaletteColours colours (-1: none); a WebP's quality (0 ... 100, -1: none). Fitted to
    // a size, they are made again with less (colours, frame rate, width; quality, width).
    int PaletteColours = -1;
    int StepQuality = -1;
    // Further "name=value" lines for the record's OptionText, applied before the fields.
    std::vector<std::string> OptionLines;
    // Lines for after the output file opens, as a command line gives them after its name:
    // "newaudio" and "newsubtitle" add a stream each with the stream options before them.
    std::vector<std::string> StreamLines;

    // The frame rate as the "r" option takes it ("30000/1001"), or empty when not set.
    std::string FrameRateText() const;
};
