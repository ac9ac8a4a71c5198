// Whether a second pass can meet its bit rate at all. The rate control built into the library's
// MPEG-1/2/4, H.263, FLV, MS-MPEG-4 and WMV encoders refuses a second pass whose bit rate is below
// what the first pass's pictures need at the coarsest quantiser, and the library of this
// generation then frees its rate-control state twice while closing the failed encoder, which
// corrupts the heap. The engine asks before it opens such an encoder.
#pragma once

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
