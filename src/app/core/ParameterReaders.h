// The three parameter readers: they turn the texts chosen in the parameter lists into a job's
// codecs, frame size and rate, bit rates, sample rate, channels and the video-off flag. Which one
// a profile uses is part of the profile (ProfileCatalogue.h).
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "app/core/JobDescription.h"
#include "app/core/ProfileCatalogue.h"

// The text that each parameter list shows (empty when nothing is selected).
struct TParameterChoice {
    std::string VideoCodec;
    std::string VideoSize;
    std::string VideoBitrate;
    std::string VideoFramerate;
    std::string AudioCodec;
    std::string AudioBitrate;
    std::string SamplingRate;
    std::string AudioChannels;
    std::string Quality;  // today's profiles: an entry of QualityEntries()
};

TParameterChoice ChoiceOf(const TParameterLists& lists);

// A list text that does not give the number it must give.
class TParameterError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Writes the reader's fields into the job (codecs, frame size and rate, bit rates, sample rate,
// channels, video off); leaves the others alone. Throws TParameterError when a bit rate or the
// sample rate does not convert to a number.
void ReadParameters(TParameterReader reader, const TParameterChoice& choice,
                    const std::string& formatKey, TJobDescription& job);

// The frame size the engine gets for a size entry: "352 x 288 (CIF)" gives "352x288". An entry
// that keeps the input's size ("Original Video Size", "Original", "Auto", nothing chosen) gives
// "". A height entry ("1080p") stays as it is: the input's shape decides its width
// (SizeForHeight).
std::string ParseSizeText(const std::string& entry);

// The exact rate of a frame-rate entry: "25.0 fps" gives 25/1, the NTSC-style "29.97 fps" gives
// 30000/1001. "Auto", "Original" and nothing chosen give none (the input's rate). Throws
// TParameterError for a text that is not a rate.
std::optional<TFrameRate> ParseFrameRateText(const std::string& entry);

// The width a width entry asks for ("480 px wide" gives 480), or none for any other text.
std::optional<int> WidthOfEntry(const std::string& entry);
// The frame size for a picture of inputSize ("1920x800") `width` wide, its shape kept, the
// height even; "" when the picture is no wider (no picture is made larger) or its size unknown.
std::string SizeForWidth(const std::string& inputSize, int width);

// The height a height entry asks for ("720p" gives 720), or none for any other text.
std::optional<int> HeightOfEntry(const std::string& entry);

// The frame size for a picture of inputSize ("1920x800", upright as shown) whose short side a
// height entry names: "1080p" makes a landscape picture 1080 high and a portrait one 1080 wide,
// its shape kept and both sides even. A picture whose short side is no longer than that keeps
// its size: "" (no picture is made larger). An unknown input size counts as 16:9 landscape.
std::string SizeForHeight(const std::string& inputSize, int height);
