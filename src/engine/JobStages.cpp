// The job's side of TJobStages: each call is the engine's own step for that stage.
#include "engine/CustomFFmpeg.h"

TRunState& TCustomFFmpeg::TStages::Records() {
    return engine_.RunState;
}

void TCustomFFmpeg::TStages::EncodePicture(TOutputStreamState& ost, TInputStreamState& clock,
                                           AVFrame* picture, const TRunPhaseSource& handedOn) {
    engine_.VideoOutput(FileOf(ost), ost, clock, picture, handedOn);
}

void TCustomFFmpeg::TStages::EncodeSamples(TOutputStreamState& ost, TInputStreamState& clock,
                                           uint8_t* samples, int size) {
    engine_.AudioOutput(FileOf(ost), ost, clock, samples, size);
}

void TCustomFFmpeg::TStages::EncodeSubtitle(TOutputStreamState& ost, TInputStreamState& ist,
                                            AVSubtitle* subtitle, int64_t pts) {
    engine_.WriteSubtitle(FileOf(ost), ost, ist, subtitle, pts);
}

void TCustomFFmpeg::TStages::DrainOutput(TOutputStreamState& ost) {
    engine_.DrainEncoder(ost);
}

void TCustomFFmpeg::TStages::WriteEncoded(TOutputStreamState& ost, AVPacket* packet) {
    engine_.WriteEncodedPacket(FileOf(ost), ost, packet);
}

void TCustomFFmpeg::TStages::WriteAsIs(TOutputStreamState& ost, AVPacket* packet) {
    engine_.WriteFrame(FileOf(ost), packet, *ost.Filters, ost.Encoder);
}

void TCustomFFmpeg::TStages::WriteCopied(TOutputStreamState& ost, AVRational from,
                                         int64_t sourcePts, const AVPacket* packet) {
    engine_.WriteCopiedPacket(FileOf(ost), ost, from, sourcePts, packet);
}

void TCustomFFmpeg::TStages::ReportProgressAtInterval() {
    engine_.ReportProgressAtInterval();
}

void TCustomFFmpeg::TStages::NoteRunThread(pid_t threadId, bool running) {
    engine_.NoteRunThread(threadId, running);
}

AVFormatContext* TCustomFFmpeg::TStages::FileOf(const TOutputStreamState& ost) const {
    return engine_.OutputFiles[ost.FileIndex].Context.get();
}
