// Whether a second pass can meet its bit rate at all. The rate control built into the library's
// MPEG-1/2/4, H.263, FLV, MS-MPEG-4 and WMV encoders refuses a second pass whose bit rate is below
// what the first pass's pictures need at the coarsest quantiser, and the library of this
// generation then frees its rate-control state twice while closing the failed encoder, which
// corrupts the heap. The engine asks before it opens such an encoder.
#pragma once

#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

// The bits per second a second pass needs at least, read from the first-pass statistics in
// `encoder`->stats_in: every picture at the coarsest quantiser its type allows, with its motion
// and header bits. 0 when the statistics are not that rate control's (another encoder's, or
// damaged: the encoder itself reports those). Without B-frames this is the encoder's own limit to
// within a per cent; with them the encoder holds B-pictures finer than counted here, so it is a
// lower bound only.
double LeastSecondPassBitRate(const AVCodecContext* encoder);

// Encoders with a rate control of their own (libx264) keep their two-pass statistics in files
// they write and read themselves, named by their private "stats" option, rather than in
// stats_out and stats_in. Gives such an encoder the two-pass file's `name` (unless the job named
// one itself) and returns true: the engine then neither writes nor reads that file. False for
// every other encoder.
bool GiveEncoderItsStatisticsFile(AVCodecContext* encoder, const std::string& name);
