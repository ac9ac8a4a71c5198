#include "cli/OutputCheck.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "binding/LibHandles.h"
#include "binding/LibraryErrors.h"
#include "component/Task.h"

namespace {

std::string SecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

// One stream's decoder; none for a stream of a kind that is not decoded (data, attachments).
struct TStreamDecoder {
    TCodecContextPtr Codec;
    std::int64_t Frames = 0;
};

std::string StreamName(const AVFormatContext& file, unsigned index) {
    return "stream " + std::to_string(index) + " (" +
           LibAVCodec.avcodec_get_name(file.streams[index]->codecpar->codec_id) + ")";
}

// Opens a decoder for every audio, video and subtitle stream; the fault when one cannot be.
std::string OpenDecoders(AVFormatContext& file, std::vector<TStreamDecoder>& decoders) {
    decoders.resize(file.nb_streams);
    for (unsigned i = 0; i < file.nb_streams; ++i) {
        const AVCodecParameters* parameters = file.streams[i]->codecpar;
        const AVMediaType type = parameters->codec_type;
        if (type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_VIDEO &&
            type != AVMEDIA_TYPE_SUBTITLE)
            continue;
        const AVCodec* decoder = LibAVCodec.avcodec_find_decoder(parameters->codec_id);
        if (!decoder) return StreamName(file, i) + " has no decoder";
        TCodecContextPtr codec(LibAVCodec.avcodec_alloc_context3(decoder));
        if (!codec || LibAVCodec.avcodec_parameters_to_context(codec.get(), parameters) < 0)
            return StreamName(file, i) + ": its decoder cannot be set up";
        // A damaged packet is an error here, not something to conceal.
        codec->err_recognition |= AV_EF_EXPLODE;
        codec->pkt_timebase = file.streams[i]->time_base;
        const int opened = LibAVCodec.avcodec_open2(codec.get(), decoder, nullptr);
        if (opened < 0) return LibraryErrorText(opened, StreamName(file, i) + "'s decoder");
        decoders[i].Codec = std::move(codec);
    }
    return {};
}

// Sends one packet (or the end, for a null packet) and takes every frame it gives.
std::string Decode(TStreamDecoder& decoder, const AVPacket* packet, AVFrame& frame) {
    AVCodecContext& codec = *decoder.Codec;
    if (codec.codec_type == AVMEDIA_TYPE_SUBTITLE) {
        if (!packet) return {};
        AVSubtitle subtitle{};
        int got = 0;
        const int used = LibAVCodec.avcodec_decode_subtitle2(&codec, &subtitle, &got,
                                                             const_cast<AVPacket*>(packet));
        if (got) LibAVCodec.avsubtitle_free(&subtitle);
        if (used < 0) return LibraryErrorText(used, "decoding");
        ++decoder.Frames;
        return {};
    }
    int code = LibAVCodec.avcodec_send_packet(&codec, packet);
    if (code < 0 && code != AVERROR_EOF) return LibraryErrorText(code, "decoding");
    while ((code = LibAVCodec.avcodec_receive_frame(&codec, &frame)) >= 0) {
        const bool damaged = frame.decode_error_flags != 0 || (frame.flags & AV_FRAME_FLAG_CORRUPT);
        LibAVUtil.av_frame_unref(&frame);
        if (damaged) return "a damaged frame";
        ++decoder.Frames;
    }
    if (code != AVERROR(EAGAIN) && code != AVERROR_EOF) return LibraryErrorText(code, "decoding");
    return {};
}

// endSeconds: where the last packet read ends, so that a file cut short whose header still
// tells the whole length is found.
std::string DecodeToEnd(AVFormatContext& file, std::vector<TStreamDecoder>& decoders,
                        double& endSeconds) {
    TPacketPtr packet(LibAVCodec.av_packet_alloc());
    TFramePtr frame(LibAVUtil.av_frame_alloc());
    if (!packet || !frame) return "out of memory";
    int code = 0;
    while ((code = LibAVFormat.av_read_frame(&file, packet.get())) >= 0) {
        const unsigned index = static_cast<unsigned>(packet->stream_index);
        if (packet->pts != AV_NOPTS_VALUE && index < file.nb_streams) {
            const AVStream& stream = *file.streams[index];
            const std::int64_t start = stream.start_time == AV_NOPTS_VALUE ? 0 : stream.start_time;
            endSeconds = std::max(
                endSeconds, (packet->pts - start + packet->duration) * av_q2d(stream.time_base));
        }
        std::string fault;
        if (index < decoders.size() && decoders[index].Codec) {
            fault = Decode(decoders[index], packet.get(), *frame);
            if (!fault.empty()) {
                const AVStream& stream = *file.streams[index];
                const double at =
                    packet->pts == AV_NOPTS_VALUE ? 0 : packet->pts * av_q2d(stream.time_base);
                fault = StreamName(file, index) + " does not decode at " + SecondsText(at) + ": " +
                        fault;
            }
        }
        LibAVCodec.av_packet_unref(packet.get());
        if (!fault.empty()) return fault;
    }
    if (code != AVERROR_EOF) return LibraryErrorText(code, "reading the output");
    for (unsigned i = 0; i < decoders.size(); ++i) {
        if (!decoders[i].Codec) continue;
        const std::string fault = Decode(decoders[i], nullptr, *frame);
        if (!fault.empty()) return StreamName(file, i) + " does not decode at its end: " + fault;
        if (decoders[i].Frames == 0 && decoders[i].Codec->codec_type != AVMEDIA_TYPE_SUBTITLE)
            return StreamName(file, i) + " holds nothing";
    }
    return {};
}

}  // namespace

std::string OutputCheckFault(const std::string& path, std::int64_t sourceDurationUs) {
    AVFormatContext* opened = nullptr;
    const int code = LibAVFormat.avformat_open_input(&opened, path.c_str(), nullptr, nullptr);
    if (code < 0) return "it does not open: " + LibraryErrorText(code, path);
    TInputPtr file(opened);
    if (LibAVFormat.avformat_find_stream_info(file.get(), nullptr) < 0)
        return "its streams cannot be read";
    if (file->duration <= 0) return "it does not tell its length";
    if (sourceDurationUs > 0 &&
        std::llabs(file->duration - sourceDurationUs) > LengthToleranceUs(sourceDurationUs)) {
        return "it lasts " + SecondsText(file->duration / 1e6) + ", its source " +
               SecondsText(sourceDurationUs / 1e6);
    }
    std::vector<TStreamDecoder> decoders;
    if (std::string fault = OpenDecoders(*file, decoders); !fault.empty()) return fault;
    double endSeconds = 0;
    if (std::string fault = DecodeToEnd(*file, decoders, endSeconds); !fault.empty()) return fault;
    const std::int64_t lengthUs = sourceDurationUs > 0 ? sourceDurationUs : file->duration;
    if (lengthUs - static_cast<std::int64_t>(endSeconds * 1e6) > LengthToleranceUs(lengthUs)) {
        return "its streams end at " + SecondsText(endSeconds) + " of " +
               SecondsText(lengthUs / 1e6);
    }
    return {};
}
