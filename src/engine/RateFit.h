// Frame rates an encoder takes. A camera's rate (90000/3001, a variable rate read as its
// average) is seldom one a codec of the profiles codes: MPEG-1 and MPEG-2 know a short list,
// MPEG-4 Part 2 a time base of at most 16 bits.
#pragma once

#include <string>

#include "binding/FFmpegLibs.h"

// The rate `encoder` codes for `requested`: the first standard rate (23.976, 24, 25, 29.97, ...)
// within half a percent that the encoder takes, else the nearest it takes: from its own list
// when it has one, or the nearest fraction within its limits; `requested` as it is when the
// encoder takes it.
AVRational FitFrameRate(const AVCodec* encoder, AVRational requested);

// "30000/1001", or "25" for a whole rate.
std::string FrameRateText(AVRational rate);
