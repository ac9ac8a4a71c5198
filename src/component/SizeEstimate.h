// The size and time of a conversion before it runs: what a few short pieces of the source cost
// when converted with the job's own settings, and the arithmetic that turns those pieces, or the
// job's bit rates, into the whole file's bytes and seconds. Fit to size plans its container's
// share with the same ContainerBytes (SizeFit.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "component/OptionRecords.h"

// What the sampled pieces cost together.
struct TPieceSample {
    int Pieces = 0;
    double MediaSeconds = 0;    // of the source counted
    double EncodedSeconds = 0;  // of the source converted, the warm-ups too
    double VideoSeconds = 0;    // of it in pictures (a seek may keep a little more sound)
    int64_t VideoBytes = 0;     // the streams' own bytes, without the container
    int64_t AudioBytes = 0;
    double WallSeconds = 0;  // the time their runs took, from their files open to the end
};

struct TSampleRequest {
    double SourceSeconds = 0;  // the source's length; not positive: one piece of the whole file
    int Pieces = 5;
    double PieceSeconds = 2;
    // Converted before each piece and not counted: an encoder starts a piece with a key frame
    // and takes seconds to build up the references a whole run has long had (without, a
    // flat-colour animation's VP9 and H.264 pieces cost a fifth more than the same seconds of
    // the whole file; with one second still a tenth).
    double WarmSeconds = 2;
    int ThreadCount = 0;  // codec threads; 0 one per core
};

// Converts `request.Pieces` pieces of `request.PieceSeconds`, spread evenly over the source, each
// after its warm-up and counted from the packets it wrote after it, each as its own engine job with
// the records given (their file names replaced: the pieces go to a temporary folder that is
// removed). A source shorter than about twice the pieces is converted whole, once. Runs on the
// calling thread; `cancel` (may be null) stops the piece running and skips the rest: none then.
// None with `error` set when a piece fails.
std::optional<TPieceSample> SamplePieces(const TInputOptions& input, const TOutputOptions& output,
                                         const TSampleRequest& request,
                                         const std::atomic<bool>* cancel, std::string& error);

// What streams copied as they are write: their packets' bytes, read without decoding.
struct TPacketBytes {
    std::vector<int64_t> Bytes;  // per stream asked for, in its order
    double WallSeconds = 0;      // the reading's
};

// The bytes of the source's streams `streams` (their numbers in the file) in the packets that
// start from `startSeconds` for `seconds` (not positive: to the end), the file's start time
// not counted. None with `error` set when the file cannot be read, or when `cancel` (may be
// null) was set: `error` empty then.
std::optional<TPacketBytes> CountPacketBytes(const std::string& path,
                                             const std::vector<int>& streams, double startSeconds,
                                             double seconds, const std::atomic<bool>* cancel,
                                             std::string& error);

// What the estimate of one output starts from.
struct TSizeModelInput {
    double Seconds = 0;  // the output's length
    std::string FormatKey;
    bool Video = false;    // a video stream is written
    double FrameRate = 0;  // its pictures a second
    bool Sound = false;    // a sound stream is written
    // Rates the encoders are held to, bits per second; 0 where a stream's size follows its
    // content (constant quality, VBR sound, a copy): the samples say then.
    int64_t VideoBitrate = 0;
    int64_t AudioBitrate = 0;
    std::optional<TPieceSample> Samples;
    // A copied stream's bytes over the output's length, counted on the source (-1: encoded, the
    // rate or the samples say), and the time the counting took: a copy's run is mostly reading.
    int64_t CopiedVideoBytes = -1;
    int64_t CopiedAudioBytes = -1;
    double CopySeconds = 0;
    int Passes = 1;  // runs over the whole file (a two-pass fit: 2)
};

struct TSizeEstimate {
    int64_t Bytes = 0;
    double Seconds = 0;  // wall time; 0 when no samples were taken
    int64_t MediaBytes = 0;
    int64_t ContainerBytes = 0;
};

// Bytes: a copied stream's own, each encoded stream at its rate (unless the samples make more
// than twice or less than half of it: the encoder cannot hold it), or at the samples' bytes per
// second of source, and the container's share (ContainerBytes); seconds: the samples' wall time
// per second of source over the whole length and the copies' reading, times the passes.
TSizeEstimate EstimateSize(const TSizeModelInput& input);
