// The packet loop of a transcode and its shutdown: pick the input whose outputs lag most, read,
// correct the timestamps, hand the packet to the packet path; then drain, write the trailers,
// report for the last time and close the codecs.
#include <algorithm>
#include <cmath>

#include "engine/CustomFFmpeg.h"
#include "engine/LibraryErrors.h"
#include "engine/Pipeline.h"

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};

// Index of the frame limit that applies to a media type; -1 for types without one.
int FrameLimitIndex(AVMediaType type) {
    switch (type) {
        case AVMEDIA_TYPE_VIDEO:
            return 0;
        case AVMEDIA_TYPE_AUDIO:
            return 1;
        case AVMEDIA_TYPE_DATA:
            return 2;
        case AVMEDIA_TYPE_SUBTITLE:
            return 3;
        default:
            return -1;
    }
}

}  // namespace

void TCustomFFmpeg::RunTranscodeLoop() {
    ranPipelined_ = false;
    if (Pipeline && PipelineKeepsOutput())
        ReadAndDeliverPipelined();
    else
        ReadAndDeliver();
    FinishOutputs();
}

void TCustomFFmpeg::ReadAndDeliverPipelined() {
    // Back to the one loop only once every thread of the pipeline has been joined (it is
    // destroyed first), and the pipeline is gone before the run state it points into is freed.
    struct TBackToOneLoop {
        TRunScheduler*& scheduler;
        TRunScheduler& oneLoop;
        ~TBackToOneLoop() { scheduler = &oneLoop; }
    } back{Scheduler, OneLoop};
    TPipelinedRun pipeline(Stages, RunControl);
    Scheduler = &pipeline;
    pipeline.Start();
    ranPipelined_ = true;
    ReadAndDeliver();
    pipeline.Finish();
}

int TCustomFFmpeg::TOneLoop::NextInputFile() {
    double optsMin = 1e100;  // the earliest output time, seconds
    const int fileIndex = engine_.LaggingInputFile(optsMin);
    return fileIndex < 0 || engine_.OutputLimitReached(optsMin) ? -1 : fileIndex;
}

void TCustomFFmpeg::TOneLoop::PacketDone() {
    engine_.ReportProgressAtInterval();
}

bool TCustomFFmpeg::PipelineKeepsOutput() const {
    // Where the one loop stops, or which file it reads next, depends on how far the outputs
    // have got at that very packet: only the one loop knows that exactly.
    if (RunState.InputFiles.size() != 1 || RecordingTime != INT64_MAX || FileSizeLimit != 0 ||
        !VideoStatsFileName.empty())
        return false;
    for (const int32_t limit : FrameLimits)
        if (limit != INT32_MAX) return false;
    // An input's start-of-audio flag is shared by the audio outputs it feeds.
    std::vector<int> audioOutputs(RunState.InputStreams.size());
    bool encodes = false;
    for (const auto& ost : RunState.OutputStreams) {
        if (!ost->EncodingNeeded) continue;
        const AVMediaType type = ost->Encoder->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO && ++audioOutputs[ost->SourceIndex] > 1) return false;
        encodes |= type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO;
    }
    return encodes;
}

void TCustomFFmpeg::ReadAndDeliver() {
    TRunState& run = RunState;
    TPacketPtr packetHandle(LibAVCodec.av_packet_alloc());
    AVPacket* packet = packetHandle.get();
    if (!packet) throw FFMpegException("av_packet_alloc failed: out of memory");

    TimerStart = LibAVUtil.av_gettime();
    LastReportTime = TimerStart;
    while (!PausePoint()) {
        // 1. and 2. The input file to read next (in the one loop, the one whose outputs lag
        // furthest behind); none when nothing is left to read or a limit is reached.
        const int fileIndex = Scheduler->NextInputFile();
        if (fileIndex < 0) break;

        // 3. Read.
        AVFormatContext* input = InputFiles[fileIndex].Context.get();
        if (const int read = LibAVFormat.av_read_frame(input, packet); read < 0) {
            run.InputFiles[fileIndex].EofReached = 1;
            if (read != AVERROR_EOF && !ReadError) {
                ReadError = read;
                NoteInputDamage(InputReachedUs(fileIndex));
            }
            // A cut's piece that reaches the end of the input: the next piece, if any.
            if (Cut && !Cut->Finished && Cut->Current + 1 < Cut->Pieces.size() && AdvanceCut())
                continue;
            if (Shortest) break;
            continue;
        }
        // Unreferenced on every way out of this iteration.
        struct TPacketUnref {
            AVPacket* packet;
            ~TPacketUnref() { LibAVCodec.av_packet_unref(packet); }
        } packetUnref{packet};

        // 4. Dump.
        if (PacketDump && packet->stream_index >= 0 &&
            packet->stream_index < static_cast<int>(input->nb_streams))
            LibAVFormat.av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet, HexDump,
                                         input->streams[packet->stream_index]);

        // 5. Streams that appeared after the set-up, or that no output takes.
        const int istIndex = InputStreamOfPacket(fileIndex, packet);
        if (istIndex < 0) {
            Scheduler->PacketDone();
            continue;
        }
        TInputStreamState& ist = *run.InputStreams[istIndex];

        // 6. to 8. The file's offset, the stream's scale, jumps.
        AdjustPacketTimes(ist, fileIndex, packet);

        // 9. Decode, re-encode or copy.
        if (OutputPacket(ist, istIndex, packet) < 0) {
            if (ist.Decoded) {
                ++DecodeErrors;
                NoteInputDamage(ist.Pts);
            }
            if (Verbose >= 0)
                Log(1, "Error while decoding stream #%d.%d", ist.FileIndex, ist.StreamIndex);
            continue;
        }

        // 10. A cut's piece read to its end: the next piece, or the end of the run.
        if (Cut && CutPieceRead() && !AdvanceCut()) break;

        // 11. Progress.
        Scheduler->PacketDone();
    }
    RunControl.Drain();
    DrainDecoders();
}

bool TCustomFFmpeg::OutputLimitReached(double optsMin) const {
    if (optsMin >= RecordingTime / 1000000.0) return true;
    return FileSizeLimit && OutputFiles[0].Context->pb &&
           LibAVFormat.avio_seek(OutputFiles[0].Context->pb, 0, SEEK_CUR) > int64_t(FileSizeLimit);
}

int TCustomFFmpeg::InputStreamOfPacket(int fileIndex, const AVPacket* packet) const {
    const TInputFileState& fileState = RunState.InputFiles[fileIndex];
    if (packet->stream_index < 0 || packet->stream_index >= fileState.StreamCount) return -1;
    const int istIndex = fileState.FirstStream + packet->stream_index;
    return RunState.InputStreams[istIndex]->Discard ? -1 : istIndex;
}

int64_t TCustomFFmpeg::InputReachedUs(int fileIndex) const {
    int64_t reached = 0;
    for (const auto& ist : RunState.InputStreams)
        if (ist->FileIndex == fileIndex && !ist->Discard) reached = std::max(reached, ist->Pts);
    return reached;
}

int TCustomFFmpeg::LaggingInputFile(double& optsMin) const {
    double ptsMin = 1e100;
    int fileIndex = -1;
    for (const auto& output : RunState.OutputStreams) {
        const TOutputStreamState& ost = *output;
        const TInputStreamState& ist = *RunState.InputStreams[ost.SourceIndex];
        const AVMediaType type = ost.Encoder->codec_type;
        // A re-encoded video stream counts its pictures; every other stream has got as far
        // as the packets it handed to its file.
        const double outputTime = type == AVMEDIA_TYPE_VIDEO && ost.EncodingNeeded
                                      ? ost.SyncOpts * av_q2d(ost.Encoder->time_base)
                                      : MuxedSeconds(ost);
        const double inputTime = static_cast<double>(ist.Pts);
        if (!RunState.InputFiles[ist.FileIndex].EofReached) {
            if (inputTime < ptsMin) {
                ptsMin = inputTime;
                if (InputSync) fileIndex = ist.FileIndex;
            }
            if (outputTime < optsMin) {
                optsMin = outputTime;
                if (!InputSync) fileIndex = ist.FileIndex;
            }
        }
        const int limit = FrameLimitIndex(type);
        if (limit >= 0 && ost.FrameNumber >= FrameLimits[limit]) {
            fileIndex = -1;
            break;
        }
    }
    return fileIndex;
}

void TCustomFFmpeg::AdjustPacketTimes(const TInputStreamState& ist, int fileIndex,
                                      AVPacket* packet) {
    // 6. The file's offset.
    const AVRational timeBase = ist.Stream->time_base;
    const int64_t offset =
        LibAVUtil.av_rescale_q(InputFiles[fileIndex].TimeOffset, kMicroseconds, timeBase);
    if (packet->dts != AV_NOPTS_VALUE) packet->dts += offset;
    if (packet->pts != AV_NOPTS_VALUE) packet->pts += offset;

    // 7. The stream's scale.
    if (fileIndex < MAX_FILES && packet->stream_index < MAX_STREAMS) {
        const double scale = InputTimeScales[fileIndex][packet->stream_index];
        if (scale != 0.0) {
            if (packet->pts != AV_NOPTS_VALUE)
                packet->pts = std::llround(double(packet->pts) * scale);
            if (packet->dts != AV_NOPTS_VALUE)
                packet->dts = std::llround(double(packet->dts) * scale);
        }
    }

    // 8. A jump in the timestamps moves the file's offset so that the stream goes on. A cut
    // seeks back and forth on purpose: its pieces are on the input's own clock.
    if (packet->dts != AV_NOPTS_VALUE && ist.NextPts != AV_NOPTS_VALUE && !Cut) {
        const int64_t packetDts = LibAVUtil.av_rescale_q(packet->dts, timeBase, kMicroseconds);
        const int64_t delta = packetDts - ist.NextPts;
        if ((std::llabs(delta) > int64_t(TimestampJumpThreshold * 1000000.0) ||
             packetDts + 1 < ist.Pts) &&
            !CopyTimestamps) {
            InputFiles[fileIndex].TimeOffset -= delta;
            if (Verbose > 2)
                Log(1, "timestamp discontinuity %lld, new offset= %lld",
                    static_cast<long long>(delta),
                    static_cast<long long>(InputFiles[fileIndex].TimeOffset));
            const int64_t shift = LibAVUtil.av_rescale_q(delta, kMicroseconds, timeBase);
            packet->dts -= shift;
            if (packet->pts != AV_NOPTS_VALUE) packet->pts -= shift;
        }
    }
}

void TCustomFFmpeg::DrainDecoders() {
    // Through them the encoders are drained too.
    for (size_t i = 0; i < RunState.InputStreams.size(); ++i)
        if (RunState.InputStreams[i]->DecodingNeeded)
            OutputPacket(*RunState.InputStreams[i], static_cast<int>(i), nullptr);
}

void TCustomFFmpeg::FinishOutputs() {
    int trailerError = 0;
    int trailerFile = -1;
    for (int i = 0; i < OutputFileCount; ++i) {
        const int result = LibAVFormat.av_write_trailer(OutputFiles[i].Context.get());
        if (result < 0 && trailerFile < 0) {
            trailerError = result;
            trailerFile = i;
        }
    }
    if (trailerFile >= 0) {
        const AVFormatContext* file = OutputFiles[trailerFile].Context.get();
        if (const int writeError = OutputWriteError(file); writeError < 0)
            throw FFMpegException(WriteErrorText(file, writeError));
        throw FFMpegException(LibraryErrorText(trailerError, file->url));
    }
    ReportProgress(true);

    // A stopped run's encoders were not drained: the run's end closes them once the output is
    // reported (FinishRun).
    for (const auto& ost : RunState.OutputStreams)
        if (ost->EncodingNeeded && !RunControl.StopRequested())
            CloseCodecLocked(OpenEncoders, ost->Encoder);
    for (const auto& ist : RunState.InputStreams)
        if (ist->DecodingNeeded) CloseCodecLocked(OpenDecoders, ist->Decoder);
    Completed = !RunControl.StopRequested();
    FreeRunState();
}

void TCustomFFmpeg::ReportProgressAtInterval() {
    const int64_t now = LibAVUtil.av_gettime();
    if (now - LastReportTime <= ProgressIntervalUs) return;
    LastReportTime = now;
    ReportProgress(false);
}
