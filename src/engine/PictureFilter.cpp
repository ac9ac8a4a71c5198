#include "engine/PictureFilter.h"

#include "engine/EngineTypes.h"

bool IsHdrTransfer(AVColorTransferCharacteristic transfer) {
    return transfer == AVCOL_TRC_SMPTE2084 || transfer == AVCOL_TRC_ARIB_STD_B67;
}

bool IsDeepPixelFormat(AVPixelFormat format) {
    const AVPixFmtDescriptor* descriptor = LibAVUtil.av_pix_fmt_desc_get(format);
    if (!descriptor) return false;
    for (int i = 0; i < descriptor->nb_components; ++i)
        if (descriptor->comp[i].depth > 8) return true;
    return false;
}

std::string PictureFilterText(const std::string& rotation, bool toneMap, AVPixelFormat toneMapTo) {
    std::string text = rotation;
    if (toneMap) {
        // Linear light in floating point, BT.709 primaries, the highlights compressed (the Mobius
        // curve leaves mid-tones where an SDR rendering has them), then BT.709 transfer and
        // matrix.
        const char* format = LibAVUtil.av_get_pix_fmt_name(toneMapTo);
        if (!text.empty()) text += ",";
        text += FormatText(
            "zscale=transfer=linear:npl=100,format=gbrpf32le,zscale=primaries=bt709,"
            "tonemap=tonemap=mobius:desat=0,zscale=transfer=bt709:matrix=bt709:range=tv,"
            "format=%s",
            format ? format : "yuv420p");
    }
    return text;
}

void TPictureFilter::Free() {
    source_ = sink_ = nullptr;
    graph_.reset();
    output_.reset();
}

bool TPictureFilter::Fail(const char* call, int code) {
    char reason[AV_ERROR_MAX_STRING_SIZE] = {};
    LibAVUtil.av_strerror(code, reason, sizeof reason);
    error_ = FormatText("%s failed: %s", call, reason);
    Free();
    return false;
}

bool TPictureFilter::Build(const std::string& filters, const AVCodecContext* decoder,
                           AVRational timeBase) {
    filters_ = filters;
    timeBase_ = timeBase.num > 0 && timeBase.den > 0 ? timeBase : AVRational{1, AV_TIME_BASE};
    return BuildFor(decoder->width, decoder->height, decoder->pix_fmt,
                    decoder->sample_aspect_ratio);
}

bool TPictureFilter::BuildFor(int width, int height, AVPixelFormat format, AVRational aspect) {
    Free();
    sourceWidth_ = width;
    sourceHeight_ = height;
    sourceFormat_ = format;
    graph_.reset(LibAVFilter.avfilter_graph_alloc());
    output_.reset(LibAVUtil.av_frame_alloc());
    if (!graph_ || !output_) return Fail("avfilter_graph_alloc", AVERROR(ENOMEM));
    // One thread: the codecs already use the cores, and the graph runs once per picture.
    graph_->nb_threads = 1;

    if (aspect.num <= 0 || aspect.den <= 0) aspect = AVRational{1, 1};
    const std::string arguments =
        FormatText("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", width, height,
                   int(format), timeBase_.num, timeBase_.den, aspect.num, aspect.den);
    int result = LibAVFilter.avfilter_graph_create_filter(
        &source_, LibAVFilter.avfilter_get_by_name("buffer"), "in", arguments.c_str(), nullptr,
        graph_.get());
    if (result < 0) return Fail("avfilter_graph_create_filter(buffer)", result);
    result = LibAVFilter.avfilter_graph_create_filter(
        &sink_, LibAVFilter.avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
        graph_.get());
    if (result < 0) return Fail("avfilter_graph_create_filter(buffersink)", result);

    // The parser's open ends: "in" feeds the text's first filter, its last feeds "out".
    TFilterInOutPtr outputs(LibAVFilter.avfilter_inout_alloc());
    TFilterInOutPtr inputs(LibAVFilter.avfilter_inout_alloc());
    if (!outputs || !inputs) return Fail("avfilter_inout_alloc", AVERROR(ENOMEM));
    outputs->name = LibAVUtil.av_strdup("in");
    outputs->filter_ctx = source_;
    inputs->name = LibAVUtil.av_strdup("out");
    inputs->filter_ctx = sink_;
    // The parser takes the lists and leaves in them what it did not connect.
    AVFilterInOut* openInputs = inputs.release();
    AVFilterInOut* openOutputs = outputs.release();
    result = LibAVFilter.avfilter_graph_parse_ptr(graph_.get(),
                                                  filters_.empty() ? "null" : filters_.c_str(),
                                                  &openInputs, &openOutputs, nullptr);
    inputs.reset(openInputs);
    outputs.reset(openOutputs);
    if (result < 0) return Fail("avfilter_graph_parse_ptr", result);
    result = LibAVFilter.avfilter_graph_config(graph_.get(), nullptr);
    if (result < 0) return Fail("avfilter_graph_config", result);

    width_ = LibAVFilter.av_buffersink_get_w(sink_);
    height_ = LibAVFilter.av_buffersink_get_h(sink_);
    format_ = AVPixelFormat(LibAVFilter.av_buffersink_get_format(sink_));
    return true;
}

AVFrame* TPictureFilter::Apply(const AVFrame* picture) {
    if (picture->width != sourceWidth_ || picture->height != sourceHeight_ ||
        picture->format != sourceFormat_)
        BuildFor(picture->width, picture->height, AVPixelFormat(picture->format),
                 picture->sample_aspect_ratio);
    if (!graph_) return nullptr;
    error_.clear();
    LibAVUtil.av_frame_unref(output_.get());
    // The graph takes its own reference: the decoder's picture stays as it is.
    int result = LibAVFilter.av_buffersrc_add_frame_flags(source_, const_cast<AVFrame*>(picture),
                                                          AV_BUFFERSRC_FLAG_KEEP_REF);
    if (result < 0) {
        Fail("av_buffersrc_add_frame_flags", result);
        return nullptr;
    }
    result = LibAVFilter.av_buffersink_get_frame(sink_, output_.get());
    if (result == AVERROR(EAGAIN)) return nullptr;
    if (result < 0) {
        Fail("av_buffersink_get_frame", result);
        return nullptr;
    }
    return output_.get();
}
