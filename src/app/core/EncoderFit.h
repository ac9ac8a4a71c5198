// A job fitted to the encoders of the loaded libraries: each codec name becomes an encoder the
// libraries have, and each entry that encoder refuses becomes the nearest value it takes. The
// profiles' lists were written for the encoders of their time; today's refuse some entries
// ("54000 Hz" for MP3, 320x240 for H.263), and a conversion that cannot start is no choice.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "app/core/CodecMapping.h"
#include "app/core/JobDescription.h"

// A job that no encoder of the libraries writes; the message says which and why.
class TEncoderError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Fits the job's encoders, frame size and rate, sample rate, channels and audio bit rate, adding
// the option lines a stand-in encoder needs. Each change adds a line naming the refused value and
// the one used ("libmp3lame does not take 54000 Hz: 48000 Hz instead", "mpeg4 does not take
// 90000/3001 fps: 30000/1001 instead") to logLines. inputSize is the input's "640x480" (the frame
// written when the job sets no size; blank when unknown), inputRate its real frame rate (the one
// written when the job sets none; 0 when unknown). Throws TEncoderError when the libraries lack the
// encoder or it takes no value near the entries.
void FitJobToEncoders(TJobDescription& job, const std::string& inputSize,
                      const TLoadedEncoders& encoders, std::vector<std::string>& logLines,
                      const TFrameRate& inputRate = {0, 1});

// The AAC bit rate that stands in for an AMR-NB bit rate (4750 ... 12200 bit/s): speech
// quality for a phone's player, 16 to 32 kbit/s.
int AacBitrateForAmr(int amrBitrate);
