// Whoever schedules a running job's stages: the one loop, which does every stage's work on the
// job's thread as it is handed on, or the pipeline, whose stages and writer have threads of
// their own. The packet path hands its work here and never asks which of the two runs.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/RunState.h"

class TRunScheduler {
  public:
    // On the job's thread: the input file to read next; -1 once reading ends (every input has
    // ended, or a limit is reached).
    virtual int NextInputFile() = 0;
    // On the job's thread: what input stream `istIndex` gave (its packet, decoded s16 samples, a
    // decoded picture or a subtitle), for every output stream it feeds.
    virtual void Deliver(TInputStreamState& ist, int istIndex, const AVPacket* packet,
                         uint8_t* samples, int samplesSize, AVFrame* picture,
                         AVSubtitle* subtitle) = 0;
    // On the job's thread: the input stream has ended; the encoders it feeds are drained.
    virtual void Drain(int istIndex) = 0;
    // On the job's thread, after each packet read: the progress report, or what the other
    // threads of the run left for the job's thread.
    virtual void PacketDone() = 0;
    // On the thread that encoded it: a packet of an output stream on its way to the muxer.
    // `encoder` tells an encoder's packet (its quality and size counted) from an encoded
    // subtitle's (written as it is). The packet is left blank (the muxer took it) or as it was
    // (a reference to it kept for the writer).
    virtual void Write(AVFormatContext* file, TOutputStreamState& ost, AVPacket* packet,
                       bool encoder) = 0;
    // The frames of an output stream the muxer has been given so far.
    virtual int32_t FramesWritten(const TOutputStreamState& ost) const = 0;
    // An event of the job: raised at once on the job's thread; from another thread of the run,
    // kept until the job's thread comes by.
    virtual void Raise(std::function<void()> event) = 0;

  protected:
    ~TRunScheduler() = default;
};
