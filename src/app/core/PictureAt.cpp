#include "app/core/PictureAt.h"

#include "binding/LibHandles.h"

bool PictureAt(AVFormatContext* file, AVCodecContext* decoder, int stream, double seconds,
               AVFrame* frame) {
    const AVStream* video = file->streams[stream];
    const int64_t start = video->start_time == AV_NOPTS_VALUE ? 0 : video->start_time;
    const int64_t target = start + int64_t(seconds / av_q2d(video->time_base));
    if (LibAVFormat.av_seek_frame(file, stream, target, AVSEEK_FLAG_BACKWARD) < 0) return false;
    LibAVCodec.avcodec_flush_buffers(decoder);
    const TPacketPtr packet(LibAVCodec.av_packet_alloc());
    // Enough packets to pass a long group of pictures, never the whole file.
    for (int read = 0; read < 2000; ++read) {
        if (LibAVFormat.av_read_frame(file, packet.get()) < 0) {
            LibAVCodec.avcodec_send_packet(decoder, nullptr);
        } else if (packet->stream_index != stream) {
            LibAVCodec.av_packet_unref(packet.get());
            continue;
        } else {
            LibAVCodec.avcodec_send_packet(decoder, packet.get());
            LibAVCodec.av_packet_unref(packet.get());
        }
        const int got = LibAVCodec.avcodec_receive_frame(decoder, frame);
        if (got == 0) {
            const int64_t when = frame->best_effort_timestamp;
            if (when == AV_NOPTS_VALUE || when >= target) return true;
            LibAVUtil.av_frame_unref(frame);
        } else if (got == AVERROR_EOF) {
            return false;
        }
    }
    return false;
}
