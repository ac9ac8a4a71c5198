// The one way packets reach a muxer: the stream's bitstream filters, then the interleaved
// write. Also the encoder side that every re-encoding output shares, and subtitles.
#include <cstdio>

#include "engine/CustomFFmpeg.h"
#include "engine/LibraryErrors.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace {

constexpr int kSubtitleBufferSize = 65536;
constexpr AVRational kMilliseconds{1, 1000};

// The encoder's report on a packet: quality (lambda), picture type and per-plane errors.
void ReadQualityStats(const AVPacket* packet, TCodedFrameInfo& coded) {
    size_t size = 0;
    const uint8_t* data =
        LibAVCodec.av_packet_get_side_data(packet, AV_PKT_DATA_QUALITY_STATS, &size);
    coded.KeyFrame = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    if (!data || size < 6) return;
    coded.Valid = true;
    coded.Quality = static_cast<int32_t>(AV_RL32(data));
    coded.PictureType = data[4];
    const int errors = std::min<int>(data[5], 4);
    for (int i = 0; i < 4; ++i) coded.Error[i] = 0;
    for (int i = 0; i < errors && size >= size_t(8 + 8 * (i + 1)); ++i)
        coded.Error[i] = static_cast<int64_t>(AV_RL64(data + 8 + 8 * i));
}

}  // namespace

std::string WriteErrorText(const AVFormatContext* file, int errorCode) {
    char reason[AV_ERROR_MAX_STRING_SIZE] = {};
    if (LibAVUtil.av_strerror(errorCode, reason, sizeof reason) < 0)
        std::snprintf(reason, sizeof reason, "error %d", errorCode);
    return FormatText("%s: Error while writing file (%s)", file && file->url ? file->url : "output",
                      reason);
}

int OutputWriteError(const AVFormatContext* file) {
    return file && file->pb && file->pb->error < 0 ? file->pb->error : 0;
}

void TCustomFFmpeg::WriteFrame(AVFormatContext* file, AVPacket* packet,
                               TBitstreamFilterChain& filters, AVCodecContext* codec) {
    for (const TBsfPtr& owned : filters) {
        AVBSFContext* filter = owned.get();
        // The filter takes its input; the copy is what goes on when it refuses the packet.
        TPacketPtr unfiltered(LibAVCodec.av_packet_alloc());
        if (!unfiltered || LibAVCodec.av_packet_ref(unfiltered.get(), packet) < 0)
            throw FFMpegException("av_packet_ref failed: out of memory");
        int result = LibAVCodec.av_bsf_send_packet(filter, packet);
        if (result >= 0) result = LibAVCodec.av_bsf_receive_packet(filter, packet);
        if (result < 0) {
            if (OnLog) {
                const std::string what = FormatText(
                    "%s failed for stream %d, codec %s", filter->filter->name,
                    unfiltered->stream_index, codec && codec->codec ? codec->codec->name : "copy");
                DoLog(0, LibraryErrorText(result, what));
            }
            LibAVCodec.av_packet_unref(packet);
            if (LibAVCodec.av_packet_ref(packet, unfiltered.get()) < 0)
                throw FFMpegException("av_packet_ref failed: out of memory");
        }
    }

    const int fileIndex = OutputFileIndexOf(file);
    const int streamIndex = packet->stream_index;
    if (fileIndex < MAX_FILES && streamIndex >= 0 && streamIndex < MAX_STREAMS) {
        const int64_t start = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (start != AV_NOPTS_VALUE) {
            const int64_t end = start + std::max<int64_t>(packet->duration, 0);
            int64_t& reached = OutputFiles[fileIndex].Streams[streamIndex].MuxedEndTime;
            if (end > reached) reached = end;
        }
    }
    const int result = LibAVFormat.av_interleaved_write_frame(file, packet);
    // The byte stream keeps a failed write to itself and the muxer may not say: a full disk
    // would otherwise go unnoticed until the trailer, after the whole input was converted.
    if (const int writeError = OutputWriteError(file); writeError < 0)
        throw FFMpegException(WriteErrorText(file, writeError));
    if (result < 0) throw FFMpegException(LibraryErrorText(result, "av_interleaved_write_frame()"));
}

double TCustomFFmpeg::MuxedSeconds(const TOutputStreamState& ost) const {
    if (ost.FileIndex >= MAX_FILES || ost.StreamIndex >= MAX_STREAMS) return 0.0;
    return OutputFiles[ost.FileIndex].Streams[ost.StreamIndex].MuxedEndTime *
           av_q2d(ost.Stream->time_base);
}

int TCustomFFmpeg::EncodeAndWrite(AVFormatContext* file, TOutputStreamState& ost,
                                  const AVFrame* frame, const char* failure) {
    AVCodecContext* encoder = ost.Encoder;
    if (!ost.EncodedPacket) ost.EncodedPacket.reset(LibAVCodec.av_packet_alloc());
    if (!ost.EncodedPacket) throw FFMpegException(failure);
    TFramePtr onDevice;
    if (ost.DeviceFrames && frame) {
        onDevice = UploadToDevice(ost.DeviceFrames.get(), frame);
        frame = onDevice.get();
    }
    int sent = LibAVCodec.avcodec_send_frame(encoder, frame);
    if (sent == AVERROR_EOF && !frame) sent = 0;  // drained before: nothing more to come
    if (sent < 0 && sent != AVERROR(EAGAIN)) throw FFMpegException(failure);

    int lastSize = 0;
    for (;;) {
        int result = LibAVCodec.avcodec_receive_packet(encoder, ost.EncodedPacket.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            // A full encoder refused the frame: now that its output is out, it takes it (once;
            // an encoder that refuses again is in error).
            if (sent == AVERROR(EAGAIN) && result == AVERROR(EAGAIN)) {
                sent = LibAVCodec.avcodec_send_frame(encoder, frame);
                if (sent < 0) throw FFMpegException(failure);
                continue;
            }
            // Some encoders (VP8/VP9) hand over a first pass's statistics only once drained,
            // with no packet to carry them.
            if (!frame && ost.LogFile && encoder->stats_out &&
                encoder->stats_out != ost.LoggedStatistics) {
                MyUtil.fprintf(ost.LogFile.get(), "%s", encoder->stats_out);
                ost.LoggedStatistics = encoder->stats_out;
            }
            break;
        }
        if (result < 0) throw FFMpegException(failure);
        AVPacket* packet = ost.EncodedPacket.get();
        packet->stream_index = ost.StreamIndex;
        // Video encoders leave the duration out; a picture lasts one tick of the encoder's time
        // base (one frame), and the time reached must count the last picture whole.
        if (encoder->codec_type == AVMEDIA_TYPE_VIDEO && packet->duration <= 0)
            packet->duration = 1;
        LibAVCodec.av_packet_rescale_ts(packet, encoder->time_base, ost.Stream->time_base);
        if (ost.LogFile && encoder->stats_out) {
            MyUtil.fprintf(ost.LogFile.get(), "%s", encoder->stats_out);
            ost.LoggedStatistics = encoder->stats_out;
        }
        lastSize = packet->size;
        Scheduler->Write(file, ost, packet, true);
        LibAVCodec.av_packet_unref(packet);
    }
    return lastSize;
}

void TCustomFFmpeg::TOneLoop::Write(AVFormatContext* file, TOutputStreamState& ost,
                                    AVPacket* packet, bool encoder) {
    if (encoder)
        engine_.WriteEncodedPacket(file, ost, packet);
    else
        engine_.WriteFrame(file, packet, *ost.Filters, ost.Encoder);
}

void TCustomFFmpeg::WriteEncodedPacket(AVFormatContext* file, TOutputStreamState& ost,
                                       AVPacket* packet) {
    ReadQualityStats(packet, ost.Coded);
    if (ost.Encoder->codec_type == AVMEDIA_TYPE_VIDEO)
        VideoBytesWritten += packet->size;
    else if (ost.Encoder->codec_type == AVMEDIA_TYPE_AUDIO)
        AudioBytesWritten += packet->size;
    WriteFrame(file, packet, *ost.Filters, ost.Encoder);
}

void TCustomFFmpeg::WriteSubtitle(AVFormatContext* file, TOutputStreamState& ost,
                                  TInputStreamState& ist, AVSubtitle* subtitle, int64_t pts) {
    if (pts == AV_NOPTS_VALUE) {
        if (OnLog) Log(0, "Subtitle packets must have a pts");
        return;
    }
    if (SubtitleBuffer.empty()) SubtitleBuffer.resize(kSubtitleBufferSize);
    AVCodecContext* encoder = ost.Encoder;
    const bool dvb = encoder->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    const int packets = dvb ? 2 : 1;
    const unsigned rectangles = subtitle->num_rects;
    TPacketPtr packet(LibAVCodec.av_packet_alloc());
    if (!packet) throw FFMpegException("av_packet_alloc failed: out of memory");
    for (int i = 0; i < packets; ++i) {
        // The second DVB packet clears the page at the end of the display time.
        if (dvb && i == 1) subtitle->num_rects = 0;
        const int size = LibAVCodec.avcodec_encode_subtitle(
            encoder, SubtitleBuffer.data(), static_cast<int>(SubtitleBuffer.size()), subtitle);
        subtitle->num_rects = rectangles;
        if (size < 0)
            throw FFMpegException::Format("Subtitle encoding failed for output stream #%d.%d",
                                          ost.FileIndex, ost.StreamIndex);
        LibAVCodec.av_packet_unref(packet.get());
        packet->data = SubtitleBuffer.data();  // not reference-counted: the muxer copies it
        packet->size = size;
        packet->stream_index = ost.StreamIndex;
        packet->pts = LibAVUtil.av_rescale_q(pts, ist.Stream->time_base, ost.Stream->time_base);
        if (dvb)
            packet->pts += LibAVUtil.av_rescale_q(
                i == 0 ? subtitle->start_display_time : subtitle->end_display_time, kMilliseconds,
                ost.Stream->time_base);
        else if (subtitle->end_display_time > subtitle->start_display_time)
            // A text event lasts from its start to its end; without the span a muxer shows it
            // for no time at all.
            packet->duration = LibAVUtil.av_rescale_q(
                int64_t{subtitle->end_display_time} - subtitle->start_display_time, kMilliseconds,
                ost.Stream->time_base);
        packet->dts = packet->pts;
        Scheduler->Write(file, ost, packet.get(), false);
    }
    ++ost.FrameNumber;
}
