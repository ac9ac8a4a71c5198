#include "component/PalettePass.h"

#include <cstdio>
#include <stdexcept>

#include "binding/FFmpegLibs.h"
#include "binding/LibHandles.h"
#include "engine/EngineTypes.h"
#include "engine/PictureFilter.h"
#include "engine/StreamChoice.h"

namespace {

std::runtime_error Failure(const std::string& what, int code) {
    char reason[AV_ERROR_MAX_STRING_SIZE] = {};
    LibAVUtil.av_strerror(code, reason, sizeof reason);
    return std::runtime_error("Palette: " + what + " failed: " + reason);
}

// The filters that turn the pictures into their palette: the output's rate and size first (the
// scaler's default flags, as the conversion's), then the count; PNG takes RGBA, not the BGRA
// palettegen makes.
std::string PaletteFilters(const TPaletteRequest& request) {
    std::string text;
    if (request.FrameRate > 0) text += "fps=" + std::to_string(request.FrameRate) + ",";
    if (request.Width > 0 && request.Height > 0)
        text +=
            "scale=" + std::to_string(request.Width) + ":" + std::to_string(request.Height) + ",";
    return text + "palettegen=max_colors=" + std::to_string(request.Colours) + ",format=rgba";
}

void WritePng(const AVFrame* palette, const std::string& path) {
    const AVCodec* codec = LibAVCodec.avcodec_find_encoder(AV_CODEC_ID_PNG);
    const TCodecContextPtr encoder(codec ? LibAVCodec.avcodec_alloc_context3(codec) : nullptr);
    if (!encoder) throw std::runtime_error("Palette: the libraries have no PNG encoder");
    encoder->width = palette->width;
    encoder->height = palette->height;
    encoder->pix_fmt = AVPixelFormat(palette->format);
    encoder->time_base = AVRational{1, 1};
    int result = LibAVCodec.avcodec_open2(encoder.get(), codec, nullptr);
    if (result < 0) throw Failure("avcodec_open2(png)", result);
    if ((result = LibAVCodec.avcodec_send_frame(encoder.get(), palette)) < 0)
        throw Failure("avcodec_send_frame(png)", result);
    const TPacketPtr packet(LibAVCodec.av_packet_alloc());
    if (!packet || (result = LibAVCodec.avcodec_receive_packet(encoder.get(), packet.get())) < 0)
        throw Failure("avcodec_receive_packet(png)", packet ? result : AVERROR(ENOMEM));
    // A PNG packet is a whole PNG file.
    FILE* file = std::fopen(path.c_str(), "wb");
    const bool written = file && std::fwrite(packet->data, 1, packet->size, file) ==
                                     static_cast<size_t>(packet->size);
    if (!file || std::fclose(file) != 0 || !written)
        throw std::runtime_error("Palette: cannot write " + path);
}

struct TVideoSource {
    TInputPtr File;
    TCodecContextPtr Decoder;
    int Stream = -1;
};

TVideoSource OpenVideo(const std::string& path) {
    AVFormatContext* opened = nullptr;
    int result = LibAVFormat.avformat_open_input(&opened, path.c_str(), nullptr, nullptr);
    if (result < 0) throw Failure("opening " + path, result);
    TVideoSource source;
    source.File.reset(opened);
    if ((result = LibAVFormat.avformat_find_stream_info(opened, nullptr)) < 0)
        throw Failure("reading the streams of " + path, result);
    source.Stream = ChooseStream(opened, AVMEDIA_TYPE_VIDEO);
    if (source.Stream < 0)
        throw std::runtime_error(path + " has no pictures: a GIF is made from a video");
    const AVStream* video = opened->streams[source.Stream];
    const AVCodec* codec = LibAVCodec.avcodec_find_decoder(video->codecpar->codec_id);
    source.Decoder.reset(codec ? LibAVCodec.avcodec_alloc_context3(codec) : nullptr);
    if (!source.Decoder) throw std::runtime_error("Palette: no decoder for the video of " + path);
    if ((result = LibAVCodec.avcodec_parameters_to_context(source.Decoder.get(), video->codecpar)) <
        0)
        throw Failure("avcodec_parameters_to_context", result);
    source.Decoder->thread_count = 0;  // one per core
    if ((result = LibAVCodec.avcodec_open2(source.Decoder.get(), codec, nullptr)) < 0)
        throw Failure("avcodec_open2", result);
    return source;
}

// Hands each decoded picture to the graph; false when stopped.
bool CountPictures(TVideoSource& source, TPictureFilter& graph, const TPaletteRequest& request) {
    const TPacketPtr packet(LibAVCodec.av_packet_alloc());
    const TFramePtr frame(LibAVUtil.av_frame_alloc());
    if (!packet || !frame) throw Failure("av_frame_alloc", AVERROR(ENOMEM));
    bool ended = false;
    while (true) {
        if (request.Stopped && request.Stopped()) return false;
        int result = 0;
        if (!ended) {
            result = LibAVFormat.av_read_frame(source.File.get(), packet.get());
            if (result < 0) {
                ended = true;
                LibAVCodec.avcodec_send_packet(source.Decoder.get(), nullptr);
            } else if (packet->stream_index == source.Stream) {
                // A damaged packet leaves its pictures out of the count; the conversion says so.
                LibAVCodec.avcodec_send_packet(source.Decoder.get(), packet.get());
            }
            LibAVCodec.av_packet_unref(packet.get());
        }
        while ((result = LibAVCodec.avcodec_receive_frame(source.Decoder.get(), frame.get())) >=
               0) {
            frame->pts = frame->best_effort_timestamp;
            // The conversion's scaler sees the pictures untagged (BT.601): so does the count.
            frame->color_range = AVCOL_RANGE_UNSPECIFIED;
            frame->colorspace = AVCOL_SPC_UNSPECIFIED;
            if (!graph.Apply(frame.get()) && !graph.Error().empty())
                throw std::runtime_error("Palette: " + graph.Error());
            LibAVUtil.av_frame_unref(frame.get());
        }
        if (result == AVERROR_EOF) return true;
    }
}

}  // namespace

bool MakePalette(const TPaletteRequest& request) {
    TVideoSource source = OpenVideo(request.InputFile);
    TPictureFilter graph;
    const AVStream* video = source.File->streams[source.Stream];
    if (!graph.Build(PaletteFilters(request), source.Decoder.get(), video->time_base))
        throw std::runtime_error("Palette: " + graph.Error());
    if (!CountPictures(source, graph, request)) return false;
    const AVFrame* palette = graph.Finish();
    if (!palette)
        throw std::runtime_error(graph.Error().empty()
                                     ? "Palette: no picture of " + request.InputFile + " decoded"
                                     : "Palette: " + graph.Error());
    WritePng(palette, request.PaletteFile);
    return true;
}
