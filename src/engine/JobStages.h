// What a scheduler asks of a job's stages: the records of the run, an output stream's work on
// what its input brings (a picture, a block of samples, a subtitle, the end of the input), and
// the muxer's writes. The pipeline works through it alone; the job gives it (TCustomFFmpeg::
// TStages), and what each call touches belongs to the stage named.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "engine/RunControl.h"
#include "engine/RunState.h"

class TJobStages {
  public:
    // The run's tables of input files, input streams and output streams.
    virtual TRunState& Records() = 0;

    // An output stream's own work (its graph, frame hooks' result, encoder and counters), with
    // `clock` the input's clock as the work brings it; packets go to the scheduler's Write.
    // A picture; it is left out when the job was stopping as it was handed on (`handedOn`).
    virtual void EncodePicture(TOutputStreamState& ost, TInputStreamState& clock, AVFrame* picture,
                               const TRunPhaseSource& handedOn) = 0;
    // A block of interleaved s16 samples, `size` bytes.
    virtual void EncodeSamples(TOutputStreamState& ost, TInputStreamState& clock, uint8_t* samples,
                               int size) = 0;
    // A subtitle, `pts` in the input stream's time base.
    virtual void EncodeSubtitle(TOutputStreamState& ost, TInputStreamState& ist,
                                AVSubtitle* subtitle, int64_t pts) = 0;
    // The end of the input: what the output still holds, then its encoder drained.
    virtual void DrainOutput(TOutputStreamState& ost) = 0;

    // The muxer's work on the output stream's file: an encoder's packet (its quality and size
    // counted), a packet written as it is (an encoded subtitle's), a stream copy's packet with
    // the input's time base and clock (µs) then. The first two leave the packet blank.
    virtual void WriteEncoded(TOutputStreamState& ost, AVPacket* packet) = 0;
    virtual void WriteAsIs(TOutputStreamState& ost, AVPacket* packet) = 0;
    virtual void WriteCopied(TOutputStreamState& ost, AVRational from, int64_t sourcePts,
                             const AVPacket* packet) = 0;
    // The progress report, at most once per interval.
    virtual void ReportProgressAtInterval() = 0;

    // A thread of the run starts (`running`) or ends: its log lines belong to the job.
    virtual void NoteRunThread(pid_t threadId, bool running) = 0;

  protected:
    ~TJobStages() = default;
};
