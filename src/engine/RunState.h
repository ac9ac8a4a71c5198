// The run state of one transcode: one record per input file, per input stream and per output
// stream. The driver (TranscodeSetup.cpp) builds the tables zero-filled at the start of a run
// and frees them at its end (or when the set-up fails); the packet path, the audio and video
// outputs and the progress report read and update them, all on the engine's worker thread.
//
// Ownership, in short: a record owns the library objects it holds in handles (LibHandles.h),
// whoever created them; everything marked "engine's" belongs to the engine's file records
// (MediaFiles.h: created when the files were opened, freed by Cleanup) and outlives the record.
// Units: timestamps in microseconds unless a field says otherwise; audio handed between the
// stages is interleaved signed 16-bit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "binding/LibHandles.h"
#include "engine/HardwareFrames.h"
#include "engine/PictureFilter.h"
#include "engine/SoundGraph.h"

// The bitstream filters a stream's packets pass through before they are written, in order.
// The filter contexts are the engine's (one chain per output file and stream); no keyword
// fills them today, so chains are empty unless the program adds filters itself.
using TBitstreamFilterChain = std::vector<TBsfPtr>;

// A buffer from av_malloc that only grows; freed with its owner.
struct TGrowingBuffer {
    // False, with the buffer as it was, when that many bytes cannot be had.
    bool Reserve(size_t bytes);
    uint8_t* Data() const { return memory_.get(); }
    size_t Size() const { return size_; }

  private:
    TLibMemoryPtr<uint8_t> memory_;
    size_t size_ = 0;
};

struct TInputFileState {
    int32_t EofReached = 0;   // 1 once reading returned end of file or an error
    int32_t FirstStream = 0;  // index in the input-stream table of the file's stream 0
    int32_t BufferSize = 0;   // kept zero
    int32_t StreamCount = 0;  // streams when the run began; packets of later streams are dropped
};

struct TInputStreamState {
    TInputStreamState() = default;
    ~TInputStreamState();
    TInputStreamState(const TInputStreamState&) = delete;
    TInputStreamState& operator=(const TInputStreamState&) = delete;

    // Set by the driver.
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    AVStream* Stream = nullptr;  // the demuxer's stream (time base, codecpar)
    // The engine's decoder context for this stream, made from the demuxer's parameters when the
    // file was opened. Open (on the engine's open-decoder list) only while DecodingNeeded.
    AVCodecContext* Decoder = nullptr;
    int32_t Discard = 1;         // 1 while no output stream takes this stream as its source
    int32_t DecodingNeeded = 0;  // 1 when some output stream re-encodes from this stream
    int64_t SampleIndex = 0;     // kept zero
    bool RateEmulation = false;  // read the input no faster than real time
    int64_t Start = 0;           // wall clock (µs) when reading began, for rate emulation
    uint32_t Frame = 0;          // frames delivered under rate emulation

    // The stream's clock, kept by the packet path (microseconds).
    int64_t NextPts = AV_NOPTS_VALUE;  // expected timestamp of the next decoded frame
    int64_t Pts = 0;                   // timestamp of the current frame
    int32_t IsStart = 1;               // cleared by the audio output once it is in step
    // The decoder has given a frame: a refused packet before it is a stream joined part-way (a
    // capture's first, cut packet), not damage.
    bool Decoded = false;

    // Quality of the last decoded picture (lambda units, FF_QP2LAMBDA per quantiser step);
    // set by the packet path, read by the video output for same-quality encoding.
    float Quality = 0.0f;

    // Decoded audio as handed to AudioOutput: interleaved s16 with this many channels at this
    // rate (the decoder's own channel count and rate; the packet path converts only the sample
    // format). Set by the packet path before each AudioOutput call.
    int32_t SampleChannels = 0;
    int32_t SampleRate = 0;

    // Owned: the packet path's work objects.
    TFramePtr DecodedFrame;         // the picture or samples last received from the decoder
    TSwrPtr ToS16;                  // decoder's sample format -> interleaved s16, same layout
    AVChannelLayout ToS16Layout{};  // the input layout ToS16 was made for
    int32_t ToS16Format = -1;       // the input sample format ToS16 was made for
    int32_t ToS16Rate = 0;          // the input rate ToS16 was made for
    // The source's part of the picture graph: turns decoded pictures upright, tone-maps and
    // deinterlaces them; none when they go to the hooks and the outputs as they are.
    std::unique_ptr<TPictureFilter> PictureFilter;
};

// What the encoder said about the last packet it produced for a stream (the 2008 "coded
// frame"): read from the packet's AV_PKT_DATA_QUALITY_STATS side data by EncodeAndWrite.
struct TCodedFrameInfo {
    bool Valid = false;   // a packet with quality statistics has been produced
    int32_t Quality = 0;  // lambda units: quantiser × FF_QP2LAMBDA (118)
    int32_t PictureType = AV_PICTURE_TYPE_NONE;
    int64_t Error[4] = {};  // sum of squared errors per plane of that frame (PSNR flag set)
    bool KeyFrame = false;
};

struct TOutputStreamState {
    TOutputStreamState() = default;
    TOutputStreamState(const TOutputStreamState&) = delete;
    TOutputStreamState& operator=(const TOutputStreamState&) = delete;

    // Set by the driver.
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    int32_t SourceIndex = 0;     // index of the source in the input-stream table
    AVStream* Stream = nullptr;  // the muxer's stream; its time base is final once the header
                                 // is written: rescale packet timestamps to it, not before
    // The engine's codec context for this output stream (made by the stream creation). When
    // EncodingNeeded it is the encoder, open from the driver's step 10 to the shutdown; for a
    // copied stream it only carries the copied parameters and is never opened.
    AVCodecContext* Encoder = nullptr;
    TBitstreamFilterChain* Filters = nullptr;  // the chain of the stream's TOutputStream
    int32_t EncodingNeeded = 0;                // 0: packets are copied
    int32_t FrameNumber = 0;  // frames (audio frames, subtitles) encoded or copied so far
    TInputStreamState* SyncStream = nullptr;  // the input this output keeps in step with
    // Output position in encoder time-base units: video frames emitted (VideoOutput), or audio
    // sample frames sent to the encoder (AudioOutput). Use it as the pts of the frame sent.
    int64_t SyncOpts = 0;
    // Seconds the input's clock jumped by, taken out of it: a jump is a discontinuity, not a
    // gap to fill (see SkipClockJump).
    double ClockShift = 0.0;
    // Video: until when (input seconds) the source meant its last picture to show; a gap up to
    // there is a still, never a jump.
    double PictureShownUntil = -1e300;
    // Fixed quality asked for ("qscale"), lambda units; 0 = none. Set by the stream creation.
    float Quality = 0.0f;

    // Video, set by the driver when re-encoding: what the output makes of the source's pictures
    // and the graph that makes it (crop, scale, pixel format, padding).
    TOutputPictureShape PictureShape;
    std::unique_ptr<TPictureFilter> PictureGraph;
    int32_t ResizedWidth = 0, ResizedHeight = 0;  // the last changed picture size reported
    TFramePtr EncoderFrame;                       // the frame VideoOutput sends to the encoder

    // Audio: the volume, rate, channel, sample-format and frame-size conversion, made by the
    // driver for a re-encoded audio output; and the pts just past the last audio frame sent
    // (frames never overlap), kept by AudioOutput.
    std::unique_ptr<TSoundGraph> Sound;
    int64_t AudioNextPts = INT64_MIN;
    TGrowingBuffer AudioSilence;  // a block with silence in front of it

    TPacketPtr EncodedPacket;  // the packets EncodeAndWrite receives
    // An encoder that takes device frames only: their pool; each picture is copied into it.
    TBufferRefPtr DeviceFrames;
    // Pipelined: where the packets of the job the output's stage works on go (instead of the
    // muxer), and the frame count as of the packets the writer has written.
    std::vector<TPacketPtr>* Batch = nullptr;
    int32_t WrittenFrameNumber = 0;

    TStdioFilePtr LogFile;  // first-pass statistics file
    // The encoder's stats_out text last written to LogFile (the encoder owns it).
    const char* LoggedStatistics = nullptr;
    TCodedFrameInfo Coded;  // set by EncodeAndWrite for every packet it writes
};

// The three tables of one run. The input-stream and output-stream tables are numbered across
// files in file order and stream order. Records never move once the tables are built, so
// pointers to them (SyncStream) stay valid for the run.
struct TRunState {
    std::vector<TInputFileState> InputFiles;
    std::vector<std::unique_ptr<TInputStreamState>> InputStreams;
    std::vector<std::unique_ptr<TOutputStreamState>> OutputStreams;
};
