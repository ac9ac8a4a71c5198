// The engine's record of each file of a job and of each stream it writes, from the moment the
// file is opened to the clean-up. A record owns its library objects through handles: letting go
// of a record frees them.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/EngineTypes.h"
#include "engine/RunState.h"

// One opened input file.
struct TInputFile {
    TInputPtr Context;
    // A decoder context per stream, made from the demuxer's parameters when the file is
    // opened; the run opens those it needs (and then they are on the open-decoder list).
    std::vector<TCodecContextPtr> Decoders;
    bool RateEmulation = false;  // read no faster than real time
    int64_t TimeOffset = 0;      // microseconds added to every timestamp read from the file
};

// One stream of an output file, as the stream creation made it.
struct TOutputStream {
    // The encoder, or for a copied stream the context that only carries the copied parameters.
    TCodecContextPtr Codec;
    bool Copy = false;
    float Quality = 0.0f;           // fixed quality asked for (lambda units), 0 = none
    int32_t Disposition = -1;       // AV_DISPOSITION_* marks the job gave; -1 the source's
    TBitstreamFilterChain Filters;  // what packets pass through before they are written
    // The end (pts + duration) of the last packet handed to the muxer, in the stream's time
    // base; 0 before the first. Reset by the set-up of a run, written by WriteFrame.
    int64_t MuxedEndTime = 0;
};

// One output file and its streams, in the muxer's order.
struct TOutputFile {
    TOutputPtr Context;
    TOutputStream Streams[MAX_STREAMS];
};
