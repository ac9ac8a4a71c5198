#include "reencode/ReencodeSupport.h"

#include <stdexcept>

TReencodeEngine::TReencodeEngine(bool pipeline) : pipeline_(pipeline) {
    Pipeline = pipeline;
    OnLog = [this](TCustomFFmpeg*, int level, const std::string& text) { log_.Add(level, text); };
}

std::vector<std::string> TReencodeEngine::Logs() const {
    std::vector<std::string> texts;
    for (const TLogLine& line : log_.Lines()) texts.push_back(line.text);
    return texts;
}

int TReencodeEngine::CountLogs(const std::string& text) const {
    return log_.Count(text);
}

TFramePtr MakePicture(AVPixelFormat format, int width, int height, std::vector<uint8_t> fill) {
    TFramePtr picture(LibAVUtil.av_frame_alloc());
    if (!picture) throw std::runtime_error("av_frame_alloc failed");
    picture->format = format;
    picture->width = width;
    picture->height = height;
    if (LibAVUtil.av_frame_get_buffer(picture.get(), 0) < 0)
        throw std::runtime_error("av_frame_get_buffer failed");
    const AVPixFmtDescriptor* desc = LibAVUtil.av_pix_fmt_desc_get(format);
    for (int p = 0; p < 4 && picture->data[p]; ++p) {
        const bool chroma = (p == 1 || p == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        const int rows = chroma ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
        std::fill(picture->data[p],
                  picture->data[p] + static_cast<ptrdiff_t>(rows) * picture->linesize[p],
                  p < static_cast<int>(fill.size()) ? fill[p] : 0);
    }
    return picture;
}

uint8_t Sample(const AVFrame* picture, int plane, int x, int y) {
    return picture->data[plane][static_cast<ptrdiff_t>(y) * picture->linesize[plane] + x];
}

std::vector<uint8_t> PlaneBytes(const AVFrame* picture, int plane, int width, int height) {
    std::vector<uint8_t> bytes;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) bytes.push_back(Sample(picture, plane, x, y));
    return bytes;
}

std::string Convert(TReencodeEngine& engine, const std::string& input,
                    const TOptionList& inputOptions, const std::string& output,
                    const TOptionList& outputOptions,
                    const std::function<void(TReencodeEngine&)>& prepare) {
    return Convert(engine, TInputList{{input, inputOptions}}, output, outputOptions, prepare);
}

std::string Convert(TReencodeEngine& engine, const TInputList& inputs, const std::string& output,
                    const TOptionList& outputOptions,
                    const std::function<void(TReencodeEngine&)>& prepare) {
    engine.Reset();
    if (prepare) prepare(engine);
    try {
        for (const auto& [input, options] : inputs) {
            for (const auto& [name, value] : options) engine.ParseOption(name, value);
            if (!engine.OpenInputFile(input)) return "input: " + engine.LastError;
        }
        for (const auto& [name, value] : outputOptions) engine.ParseOption(name, value);
        if (!engine.OpenOutputFile(output)) return "output: " + engine.LastError;
    } catch (const std::exception& error) {
        return std::string("option: ") + error.what();
    }
    engine.Start(false, tpNormal);
    if (!engine.IsTerminated()) return "the run did not end";
    if (engine.HasError()) return "run: " + engine.ErrorMessage();
    if (!engine.IsCompleted()) return "the run did not complete";
    return {};
}

int64_t StreamBytes(const std::string& path, AVMediaType type) {
    AVFormatContext* opened = nullptr;
    if (LibAVFormat.avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0)
        throw std::runtime_error("avformat_open_input failed for " + path);
    TInputPtr input(opened);
    int64_t bytes = 0;
    int index = -1;
    if (LibAVFormat.avformat_find_stream_info(input.get(), nullptr) >= 0) {
        for (unsigned i = 0; i < input->nb_streams && index < 0; ++i)
            if (input->streams[i]->codecpar->codec_type == type) index = static_cast<int>(i);
        TPacketPtr packet(LibAVCodec.av_packet_alloc());
        while (packet && LibAVFormat.av_read_frame(input.get(), packet.get()) >= 0) {
            if (packet->stream_index == index) bytes += packet->size;
            LibAVCodec.av_packet_unref(packet.get());
        }
    }
    return bytes;
}
