// Cutting ranges out of the input and joining them: each piece sought in turn, what the decoders
// and the demuxer give kept, trimmed to the piece (sound to the sample) and moved to the output's
// clock, so that the outputs see one continuous input that starts at zero. A copied video stream
// can only start at a key frame: its pieces start at the key frame at or before their start, and
// the other streams are cut to the same instant.
#include "engine/RangeCut.h"

#include <algorithm>
#include <cstring>

#include "engine/CustomFFmpeg.h"
#include "engine/StreamChoice.h"

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};
// How far past a seek the first key frame of the copied video is looked for.
constexpr int kKeyFrameSearchPackets = 4096;

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int64_t ParseRangeTime(const std::string& text, const std::string& range) {
    int64_t microseconds = 0;
    if (text.empty() || LibAVUtil.av_parse_time(&microseconds, text.c_str(), 1) < 0 ||
        microseconds < 0)
        throw FFMpegException::Format("Invalid time \"%s\" in the range \"%s\"", text.c_str(),
                                      range.c_str());
    return microseconds;
}

// Restores the input stream's clock after a delivery moved it to the output's clock.
struct TClockRestore {
    TInputStreamState& ist;
    int64_t pts, nextPts;
    ~TClockRestore() {
        ist.Pts = pts;
        ist.NextPts = nextPts;
    }
};

}  // namespace

std::vector<TChapterSpan> MapChapterSpans(const std::vector<TChapterSpan>& chapters,
                                          const std::vector<TCutPiece>& pieces) {
    std::vector<TChapterSpan> spans;
    for (const TCutPiece& piece : pieces)
        for (const TChapterSpan& chapter : chapters) {
            const int64_t from = std::max(chapter.Start, piece.SourceStart);
            const int64_t to = std::min(chapter.End, piece.SourceEnd);
            if (to <= from) continue;
            const TChapterSpan span{from - piece.SourceStart + piece.OutputStart,
                                    to - piece.SourceStart + piece.OutputStart, chapter.Source};
            if (!spans.empty() && spans.back().Source == span.Source &&
                spans.back().End == span.Start)
                spans.back().End = span.End;
            else
                spans.push_back(span);
        }
    return spans;
}

std::vector<std::pair<int64_t, int64_t>> ParseTrimRanges(const std::string& text) {
    std::vector<std::pair<int64_t, int64_t>> ranges;
    size_t from = 0;
    while (from <= text.size()) {
        const size_t comma = std::min(text.find(',', from), text.size());
        const std::string range = Trimmed(text.substr(from, comma - from));
        from = comma + 1;
        const size_t dash = range.find('-');
        if (dash == std::string::npos)
            throw FFMpegException::Format("Invalid range \"%s\": START-END expected",
                                          range.c_str());
        const int64_t start = ParseRangeTime(Trimmed(range.substr(0, dash)), range);
        const std::string endText = Trimmed(range.substr(dash + 1));
        const int64_t end = endText.empty() ? INT64_MAX : ParseRangeTime(endText, range);
        if (end <= start)
            throw FFMpegException::Format("Invalid range \"%s\": its end is not after its start",
                                          range.c_str());
        for (const auto& [otherStart, otherEnd] : ranges)
            if (start < otherEnd && otherStart < end)
                throw FFMpegException::Format("The range \"%s\" overlaps an earlier one",
                                              range.c_str());
        ranges.emplace_back(start, end);
    }
    return ranges;
}

void TFFmpegOptions::SetTrimRanges(const std::string& text) {
    TrimRanges = ParseTrimRanges(text);
}

int TCustomFFmpeg::CutVideoSource(bool& copied) const {
    int source = -1;
    copied = false;
    for (const auto& ost : RunState.OutputStreams) {
        if (ost->Encoder->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        if (source < 0 || !ost->EncodingNeeded)
            source = RunState.InputStreams[ost->SourceIndex]->StreamIndex;
        copied = copied || !ost->EncodingNeeded;
    }
    return source;
}

void TCustomFFmpeg::SeekInputClock(int64_t clock) {
    AVFormatContext* context = InputFiles[0].Context.get();
    // Only streams read as bytes (transport and program streams, Ogg) start again at byte 0:
    // other demuxers may take a byte seek and then read nothing (Matroska does).
    const bool byBytes = (context->iformat->flags & AVFMT_TS_DISCONT) != 0;
    if (clock == INT64_MIN && byBytes &&
        LibAVFormat.av_seek_frame(context, -1, 0, AVSEEK_FLAG_BYTE) >= 0)
        return;
    if (clock == INT64_MIN) {
        const int64_t mediaStart = MediaStartTime(context);
        clock = (mediaStart != AV_NOPTS_VALUE ? mediaStart : 0) + InputFiles[0].TimeOffset;
    }
    const int64_t fileTime = clock - InputFiles[0].TimeOffset;
    if (LibAVFormat.av_seek_frame(context, -1, fileTime, AVSEEK_FLAG_BACKWARD) < 0 &&
        LibAVFormat.av_seek_frame(context, -1, fileTime, AVSEEK_FLAG_ANY) < 0)
        throw FFMpegException::Format("Cannot seek to %.3f s in input file #0",
                                      double(clock) / AV_TIME_BASE);
}

int64_t TCustomFFmpeg::FirstKeyFrame(int streamIndex) {
    AVFormatContext* context = InputFiles[0].Context.get();
    const AVStream* stream = context->streams[streamIndex];
    TPacketPtr packet(LibAVCodec.av_packet_alloc());
    if (!packet) throw FFMpegException("av_packet_alloc failed: out of memory");
    for (int n = 0; n < kKeyFrameSearchPackets; ++n) {
        if (LibAVFormat.av_read_frame(context, packet.get()) < 0) break;
        const bool key =
            packet->stream_index == streamIndex && (packet->flags & AV_PKT_FLAG_KEY) != 0;
        const int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        LibAVCodec.av_packet_unref(packet.get());
        if (key && time != AV_NOPTS_VALUE)
            return LibAVUtil.av_rescale_q(time, stream->time_base, kMicroseconds) +
                   InputFiles[0].TimeOffset;
    }
    return AV_NOPTS_VALUE;
}

TKeyFrameSeek TCustomFFmpeg::KeyFrameAtOrBefore(int streamIndex, int64_t clock,
                                                int64_t mediaStart) {
    // Demuxers without an index (MPEG transport streams) land near the time, not at a key frame
    // before it: from further back each time, until the first key frame is not after it, and
    // last from the start of the file.
    for (int64_t back = 0;; back = back ? 2 * back : AV_TIME_BASE) {
        const bool fromStart = clock - back <= mediaStart;
        const int64_t from = fromStart ? INT64_MIN : clock - back;
        SeekInputClock(from);
        const int64_t key = FirstKeyFrame(streamIndex);
        if (key != AV_NOPTS_VALUE && key <= clock) return {key, from};
        if (fromStart) return {key != AV_NOPTS_VALUE ? key : clock, from};
    }
}

void TCustomFFmpeg::SetUpCut() {
    Cut.reset();
    if (TrimRanges.empty() || InputFileCount < 1) return;
    if (InputFileCount > 1)
        throw FFMpegException::Format("Ranges cut one input; this job has %d", InputFileCount);
    auto cut = std::make_unique<TRangeCut>();
    const AVFormatContext* context = InputFiles[0].Context.get();
    int64_t mediaStart = MediaStartTime(context);
    if (mediaStart == AV_NOPTS_VALUE) mediaStart = 0;
    mediaStart += InputFiles[0].TimeOffset;
    const int64_t duration = MediaDuration(context);
    bool copied = false;
    const int video = CutVideoSource(copied);
    int64_t outputAt = 0;
    for (const auto& [start, end] : TrimRanges) {
        if (duration != AV_NOPTS_VALUE && start >= duration)
            throw FFMpegException::Format(
                "The range from %.3f s starts after the end of input file #0 (%.3f s)",
                double(start) / AV_TIME_BASE, double(duration) / AV_TIME_BASE);
        TCutPiece piece{mediaStart + start, end == INT64_MAX ? INT64_MAX : mediaStart + end,
                        outputAt};
        const TKeyFrameSeek key = video >= 0
                                      ? KeyFrameAtOrBefore(video, piece.SourceStart, mediaStart)
                                      : TKeyFrameSeek{piece.SourceStart, piece.SourceStart};
        piece.SeekTo = key.SeekTo;
        if (video >= 0 && copied) {
            piece.SourceStart = key.Time;
            Log(1, "The range from %.3f s starts at the key frame at %.3f s, %.3f s earlier",
                double(start) / AV_TIME_BASE, double(piece.SourceStart - mediaStart) / AV_TIME_BASE,
                double(mediaStart + start - piece.SourceStart) / AV_TIME_BASE);
        }
        int64_t pieceEnd = piece.SourceEnd;
        if (duration != AV_NOPTS_VALUE) pieceEnd = std::min(pieceEnd, mediaStart + duration);
        cut->Pieces.push_back(piece);
        cut->LeadsUs.push_back(mediaStart + start - piece.SourceStart);
        outputAt += pieceEnd == INT64_MAX ? 0 : pieceEnd - piece.SourceStart;
    }
    cut->LengthUs = outputAt;
    cut->PassedEnd.assign(RunState.InputStreams.size(), 0);
    cut->Counts.assign(RunState.InputStreams.size(), 0);
    for (const auto& ost : RunState.OutputStreams) {
        const AVMediaType type = ost->Encoder->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO)
            cut->Counts[ost->SourceIndex] = 1;
    }
    if (outputAt > 0) SourceDurationMs = int32_t(std::min<int64_t>(outputAt / 1000, INT32_MAX));
    Cut = std::move(cut);
    SeekInputClock(Cut->Pieces[0].SeekTo);
}

bool TCustomFFmpeg::CutPieceRead() const {
    const TRangeCut& cut = *Cut;
    if (cut.Finished) return true;
    if (cut.Pieces[cut.Current].SourceEnd == INT64_MAX) return false;
    for (size_t i = 0; i < cut.Counts.size(); ++i)
        if (cut.Counts[i] && !cut.PassedEnd[i]) return false;
    return true;
}

bool TCustomFFmpeg::AdvanceCut() {
    TRangeCut& cut = *Cut;
    if (cut.Finished || cut.Current + 1 >= cut.Pieces.size()) {
        cut.Finished = true;
        return false;
    }
    ++cut.Current;
    std::fill(cut.PassedEnd.begin(), cut.PassedEnd.end(), 0);
    SeekInputClock(cut.Pieces[cut.Current].SeekTo);
    // What the decoders still hold lies past the piece just read.
    for (const auto& ist : RunState.InputStreams) {
        if (ist->DecodingNeeded && LibAVCodec.avcodec_is_open(ist->Decoder))
            LibAVCodec.avcodec_flush_buffers(ist->Decoder);
        ist->NextPts = AV_NOPTS_VALUE;
    }
    RunState.InputFiles[0].EofReached = 0;
    return true;
}

void TCustomFFmpeg::DeliverCut(TInputStreamState& ist, int istIndex, const AVPacket* packet,
                               uint8_t* samples, int samplesSize, AVFrame* picture,
                               AVSubtitle* subtitle) {
    TRangeCut& cut = *Cut;
    if (cut.Finished || cut.PassedEnd[istIndex]) return;
    const TCutPiece& piece = cut.Pieces[cut.Current];
    const AVRational timeBase = ist.Stream->time_base;
    // The delivery's span on the input's clock.
    int64_t start = ist.Pts, end = ist.Pts + 1;
    const int frameBytes = 2 * std::max(ist.SampleChannels, 1);
    if (samples) {
        end =
            start + int64_t(samplesSize / frameBytes) * AV_TIME_BASE / std::max(ist.SampleRate, 1);
    } else if (picture) {
        start = PictureTime;
        end = start +
              (ist.NextPts != AV_NOPTS_VALUE && ist.NextPts > ist.Pts ? ist.NextPts - ist.Pts : 1);
    } else if (packet && packet->pts != AV_NOPTS_VALUE) {
        start = LibAVUtil.av_rescale_q(packet->pts, timeBase, kMicroseconds);
        end = start + std::max<int64_t>(
                          LibAVUtil.av_rescale_q(packet->duration, timeBase, kMicroseconds), 1);
    }
    if (picture) {
        // A picture belongs where the middle of its showing lies.
        const int64_t middle = start + (end - start) / 2;
        if (middle < piece.SourceStart) return;
        if (middle >= piece.SourceEnd) {
            cut.PassedEnd[istIndex] = 1;
            return;
        }
        end = std::max(end, piece.SourceStart + 1);
    }
    if (start >= piece.SourceEnd) {
        cut.PassedEnd[istIndex] = 1;
        return;
    }
    // A copied packet cannot be cut: one that starts before the piece is left out.
    if (end <= piece.SourceStart || (!samples && !picture && start < piece.SourceStart)) return;
    if (samples) {
        const int64_t rate = std::max(ist.SampleRate, 1);
        const int64_t skip =
            std::max<int64_t>(0, (piece.SourceStart - start) * rate / AV_TIME_BASE);
        int64_t frames = samplesSize / frameBytes - skip;
        if (end > piece.SourceEnd) {
            frames -= (end - piece.SourceEnd) * rate / AV_TIME_BASE;
            cut.PassedEnd[istIndex] = 1;
        }
        if (frames <= 0) return;
        samples += skip * frameBytes;
        samplesSize = int(frames * frameBytes);
        start += skip * AV_TIME_BASE / rate;
    }
    const int64_t shift = piece.OutputStart - piece.SourceStart;
    const TClockRestore restore{ist, ist.Pts, ist.NextPts};
    ist.Pts = std::max(start, piece.SourceStart) + shift;
    if (ist.NextPts != AV_NOPTS_VALUE) ist.NextPts = std::max(end + shift, ist.Pts);
    if (packet && !samples && !picture && !subtitle) {
        AVPacket* moved = CutPacket.get();
        if (!moved || LibAVCodec.av_packet_ref(moved, packet) < 0)
            throw FFMpegException("av_packet_ref failed: out of memory");
        const int64_t by = LibAVUtil.av_rescale_q(shift, kMicroseconds, timeBase);
        if (moved->pts != AV_NOPTS_VALUE) moved->pts += by;
        if (moved->dts != AV_NOPTS_VALUE) moved->dts += by;
        struct TUnref {
            AVPacket* packet;
            ~TUnref() { LibAVCodec.av_packet_unref(packet); }
        } unref{moved};
        DeliverToOutputs(ist, istIndex, moved, samples, samplesSize, picture, subtitle);
        return;
    }
    DeliverToOutputs(ist, istIndex, packet, samples, samplesSize, picture, subtitle);
}
