// The sound path of one re-encoded output stream, from the blocks of interleaved s16 its source
// hands on to the frames its encoder takes. Two libavfilter graphs, one after the other:
// - the conversion: the job's volume, then the encoder's rate and channels;
// - the framing: the encoder's sample format, in frames of the encoder's size.
// Between them the output keeps in step with the input's clock: what the framing holds counts
// as sent. With drift compensation the rate and channels are converted between the two graphs
// by a resampler of the stream's own, which the synchronisation steers.
// Filters that work on the whole sound of an output (loudness, trimming) belong here.
#pragma once

#include <cstdint>
#include <string>

#include "binding/LibHandles.h"

// The filters that mix `from` channels to `to` as the sound graph mixes them, ending in ","; empty
// when the count stays (or `to` is 0). The rate is left as it is.
std::string SoundMixFilters(int from, int to);

class TSoundGraph {
  public:
    struct TSettings {
        int Volume = 256;  // (sample × volume + 128) >> 8 on s16, clamped; 256 = unchanged
        // Drift compensation: at most this many sample frames absorbed per block (the sync
        // method); 0 = none.
        int CompensationLimit = 0;
        // Encoders that take any number of samples (PCM-like): the largest frame for one packet.
        int PieceFrames = 4096;
        // Filters on the source's sound before anything else (Loudness.h), ending in ","; with
        // LoudnessUpsamples their sound comes out at another rate and is resampled back.
        std::string Loudness;
        bool LoudnessUpsamples = false;
    };

    // For `encoder`, open: its rate, channels, sample format and frame size are final.
    TSoundGraph(const AVCodecContext* encoder, const TSettings& settings);
    ~TSoundGraph();
    TSoundGraph(const TSoundGraph&) = delete;
    TSoundGraph& operator=(const TSoundGraph&) = delete;

    // Makes the conversion for blocks of `channels` channels at `rate`, unless it is made for
    // them already; what an earlier conversion still held is dropped. Throws FFMpegException.
    void SetSource(int channels, int rate);
    // Whether the conversion changes the rate or the channels (or compensates drift).
    bool Resamples() const { return resamples_; }
    // Sample frames at the encoder's rate that the framing holds, short of a whole frame.
    int64_t Held() const { return framed_ - taken_; }
    // Lets the resampler absorb `frames` sample frames over the next `over`; false without one.
    bool Compensate(int frames, int over);

    // One block of `frames` whole sample frames of s16 through the conversion into the framing.
    void Add(const uint8_t* s16, int frames);
    // The input has ended: what the conversion holds goes on, the framing's last frame may be
    // short. Later blocks are refused.
    void Finish();
    // The next frame for the encoder, or nullptr until more is added; it stays the graph's
    // until the next call. Its pts is not set.
    AVFrame* NextFrame();

  private:
    // One chain of filters from a source to a sink in a graph of its own.
    struct TChain {
        TFilterGraphPtr Graph;  // owns the contexts below
        AVFilterContext* Source = nullptr;
        AVFilterContext* Sink = nullptr;
        int64_t Pushed = 0;  // sample frames in, the pts of the next frame
        bool Ended = false;
    };
    void Build(TChain& chain, const std::string& source, const std::string& filters);
    void Push(TChain& chain, const uint8_t* s16, int frames, const AVChannelLayout& layout,
              int rate);
    void PushEnd(TChain& chain);
    void MakeResampler(int channels, int rate);
    // The loudness filters for sound at `rate` in `layout`, which it comes out in again.
    std::string LoudnessFilters(int rate, const AVChannelLayout& layout) const;
    void PassConverted();
    // Sample frames made of the last conversion's frames (0: of what the resampler holds).
    int PassResampled(int frames);
    void Frame(const uint8_t* s16, int frames);
    [[noreturn]] void Fail(const char* call, int code) const;

    const AVCodecContext* encoder_;
    const TSettings settings_;
    AVChannelLayout encoderLayout_{};  // the encoder's, or the usual one for its channel count
    int sourceChannels_ = 0, sourceRate_ = 0;
    bool resamples_ = false;
    TChain conversion_;
    TSwrPtr resampler_;  // with drift compensation only
    TChain framing_;
    int64_t framed_ = 0, taken_ = 0;  // sample frames into the framing and out of it
    TFramePtr block_;                 // the frame a block is handed on in
    TFramePtr converted_;             // what the conversion gave
    TFramePtr ready_;                 // what NextFrame gave
};
