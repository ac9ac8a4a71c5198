// How today's profiles drive their encoders: a quality step becomes each encoder's own
// constant-quality setting, every encoder runs at a speed that suits a small machine, MP4 and
// MOV files get their index first, and H.265 in them the tag Apple's players look for.
#pragma once

#include <string>
#include <vector>

#include "app/core/JobDescription.h"

// One quality step for one encoder: the option lines that set it, or for the audio encoders
// that take a bit rate, the bits per second per channel.
struct TQualitySetting {
    std::vector<std::string> OptionLines;
    int BitratePerChannel = 0;
};

// The setting of a step ("Very high", "High", "Standard", "Small") for an encoder; none (no
// lines, no rate) for an encoder without a constant-quality mode or an unknown step.
TQualitySetting QualitySettingFor(const std::string& encoder, const std::string& quality);

// The lines that set an encoder's speed (x264 "preset=faster"); none for the others.
std::vector<std::string> SpeedOptionLines(const std::string& encoder);

// Adds to a fitted job of a today's profile: the speed lines, the quality step (a video bit rate
// the job sets stays in force and the quality is then the audio's only), the hvc1 tag and fast
// start. A step left empty counts as "Standard".
void ApplyTodaysEncoding(TJobDescription& job, const std::string& quality);

// The tag lines for video of this encoder in this format, encoded or copied: H.265 in MP4 and
// MOV is tagged hvc1, the only tag Apple's players open.
std::vector<std::string> VideoTagLines(const std::string& encoder, const std::string& formatKey);

// The picture format an encoder of today's profiles writes whatever the source's ("yuv420p" for
// H.264: phones, browsers and television sets play 8-bit 4:2:0 only, so a 10-bit or HDR source
// is brought down, and tone-mapped, rather than written as High 10); empty: the source's own.
std::string PictureFormatOf(const std::string& encoder);

// Whether a today's profile of this format key keeps every sound and subtitle track of its
// source (Matroska holds them all), not only the one a conversion takes.
bool KeepsEveryTrack(const std::string& formatKey);

// Whether a format key writes animated pictures (GIF, animated WebP): no sound, looped, and no
// bit rate (a fit to size steps their picture down instead).
bool IsAnimatedPictureKey(const std::string& formatKey);
// The colours of a GIF's palette: the most the format holds.
inline constexpr int kGifColours = 256;
// The lines of an animated picture job: no sound or subtitles, looped forever; a GIF in PAL8 with
// a palette made for it, a WebP at the quality of the step (QualitySettingFor).
void ApplyAnimatedPictureLines(TJobDescription& job, const std::string& quality);
