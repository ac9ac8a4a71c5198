#include "engine/PictureFilter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "engine/EngineTypes.h"
#include "engine/FilterChain.h"

namespace {

const char* PixelFormatName(AVPixelFormat format) {
    const char* name = LibAVUtil.av_get_pix_fmt_name(format);
    return name ? name : "yuv420p";
}

// The 1:2:1 blend as a convolution of every plane of a picture `height` rows high. Its edges
// mirror (the top row would take the second row twice), so the picture first gets copies of its
// top row above it, as many as make one row of every plane, and of its bottom row below it up
// to a whole number of chroma rows (the padding keeps to them), and loses them again afterwards.
std::string DeinterlaceText(AVPixelFormat format, int height) {
    const AVPixFmtDescriptor* desc = LibAVUtil.av_pix_fmt_desc_get(format);
    const int rows = 1 << (desc ? desc->log2_chroma_h : 0);
    const int padded = (height + 2 * rows - 1) / rows * rows;
    std::string blend = "convolution=";
    for (int plane = 0; plane < 4; ++plane)
        blend +=
            FormatText("%s%dm='0 1 0 0 2 0 0 1 0':%drdiv=0.25", plane ? ":" : "", plane, plane);
    return FormatText(
        "pad=iw:%d:0:%d,fillborders=top=%d:bottom=%d:mode=smear,%s,crop=iw:%d:0:%d:exact=1", padded,
        rows, rows, padded - height - rows, blend.c_str(), height, rows);
}

// What the pad filter paints for the colour R, G, B in 8-bit planar YUV: false when the graph
// cannot be had.
bool PaintedYuv(const uint8_t rgb[3], uint8_t yuv[3]) {
    TPictureFilter pad;
    const std::string text = FormatText("pad=4:2:2:0:color=0x%02X%02X%02X", rgb[0], rgb[1], rgb[2]);
    TFramePtr picture(LibAVUtil.av_frame_alloc());
    if (!picture) return false;
    picture->width = 2;
    picture->height = 2;
    picture->format = AV_PIX_FMT_YUV444P;
    if (LibAVUtil.av_frame_get_buffer(picture.get(), 0) < 0 ||
        !pad.Build([&text](int, int, AVPixelFormat) { return text; }, 2, 2, AV_PIX_FMT_YUV444P,
                   AVRational{1, 1}, AVRational{1, 25}))
        return false;
    const AVFrame* padded = pad.Apply(picture.get());
    if (!padded) return false;
    for (int i = 0; i < 3; ++i) yuv[i] = padded->data[i][0];
    return true;
}

void Append(std::string& text, const std::string& filter) {
    if (!text.empty()) text += ",";
    text += filter;
}

// The padding as bands of the pad colour stacked around the picture: each band is made from a
// corner of the picture, grown to its size and set to the colour sample by sample, so that Y, U
// and V land exactly as given (the pad filter would take them through R, G, B).
std::string PaddingBandsText(const TOutputPictureShape& shape) {
    const AVPixFmtDescriptor* desc = LibAVUtil.av_pix_fmt_desc_get(shape.Format);
    const int depth = desc->comp[0].depth;
    const char* name = desc->name;
    std::string colour;
    for (int c = 0; c < 4; ++c)
        colour += FormatText("%sc%d=%d", c ? ":" : "", c,
                             c == 3 ? (1 << depth) - 1 : shape.PadColour[c] << (depth - 8));
    const int innerHeight = shape.Height - (shape.PadTop + shape.PadBottom);
    struct TBand {
        const char* name;
        int width, height;
    };
    const TBand bands[4] = {{"top", shape.Width, shape.PadTop},
                            {"left", shape.PadLeft, innerHeight},
                            {"right", shape.PadRight, innerHeight},
                            {"bottom", shape.Width, shape.PadBottom}};
    std::string split, made;
    int count = 1;
    for (const TBand& band : bands) {
        if (band.width <= 0 || band.height <= 0) continue;
        ++count;
        split += FormatText("[%s0]", band.name);
        // The lookup works in the output's format, not in one the graph might pick for it.
        made += FormatText(";[%s0]crop=2:2:0:0,scale=%d:%d:flags=neighbor,format=%s,lut=%s[%s]",
                           band.name, band.width, band.height, name, colour.c_str(), band.name);
    }
    std::string text =
        FormatText("format=%s,split=%d[picture]%s%s", name, count, split.c_str(), made.c_str());
    const char* middle = "[picture]";
    if (shape.PadLeft || shape.PadRight) {
        text += FormatText(";%s[picture]%shstack=inputs=%d", shape.PadLeft ? "[left]" : "",
                           shape.PadRight ? "[right]" : "",
                           1 + (shape.PadLeft ? 1 : 0) + (shape.PadRight ? 1 : 0));
        middle = "[middle]";
        if (shape.PadTop || shape.PadBottom) text += middle;
    }
    if (shape.PadTop || shape.PadBottom)
        text += FormatText(";%s%s%svstack=inputs=%d", shape.PadTop ? "[top]" : "", middle,
                           shape.PadBottom ? "[bottom]" : "",
                           1 + (shape.PadTop ? 1 : 0) + (shape.PadBottom ? 1 : 0));
    return text;
}

}  // namespace

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

bool DeinterlaceTakes(AVPixelFormat format) {
    const AVPixFmtDescriptor* desc = LibAVUtil.av_pix_fmt_desc_get(format);
    if (!desc ||
        (desc->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL)))
        return false;
    for (int c = 0; c < desc->nb_components; ++c) {
        const AVComponentDescriptor& comp = desc->comp[c];
        if (comp.depth != 8 || comp.step != 1 || comp.shift != 0 || comp.offset != 0) return false;
    }
    return desc->nb_components > 0;
}

std::string PictureFilterText(const std::string& rotation, bool toneMap, AVPixelFormat toneMapTo,
                              bool deinterlace, AVPixelFormat format, int height) {
    std::string text = rotation;
    if (toneMap) {
        // Linear light in floating point, BT.709 primaries, the highlights compressed (the Mobius
        // curve leaves mid-tones where an SDR rendering has them), then BT.709 transfer and
        // matrix.
        Append(text,
               FormatText("zscale=transfer=linear:npl=100,format=gbrpf32le,zscale=primaries=bt709,"
                          "tonemap=tonemap=mobius:desat=0,zscale=transfer=bt709:matrix=bt709:"
                          "range=tv,format=%s",
                          PixelFormatName(toneMapTo)));
        format = toneMapTo;
    }
    // Rotation keeps the format: the blend sees the decoder's, or the tone mapping's.
    if (deinterlace && DeinterlaceTakes(format)) Append(text, DeinterlaceText(format, height));
    return text;
}

void YuvToRgb(const uint8_t yuv[3], uint8_t rgb[3]) {
    const double y = 1.164 * (yuv[0] - 16);
    const double u = yuv[1] - 128;
    const double v = yuv[2] - 128;
    const double values[3] = {y + 1.596 * v, y - 0.392 * u - 0.813 * v, y + 2.017 * u};
    for (int i = 0; i < 3; ++i)
        rgb[i] = static_cast<uint8_t>(std::clamp(std::lround(values[i]), 0L, 255L));
}

bool PaintsSamples(AVPixelFormat format) {
    const AVPixFmtDescriptor* desc = LibAVUtil.av_pix_fmt_desc_get(format);
    constexpr uint64_t kOther = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL |
                                AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL |
                                AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BAYER;
    if (!desc || (desc->flags & kOther) || desc->nb_components < 1) return false;
    // Whether the lookup takes the format as it is, asked of the library on a small picture.
    TPictureFilter lookup;
    lookup.KeepFormats();
    return lookup.Build([](int, int, AVPixelFormat) { return std::string("lut=c0=0"); }, 2, 2,
                        format, AVRational{1, 1}, AVRational{1, 25});
}

AVPixelFormat PaintingFormat(AVPixelFormat format) {
    if (PaintsSamples(format)) return format;
    switch (format) {
        case AV_PIX_FMT_NV12:
        case AV_PIX_FMT_NV21:
            return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_P010LE:
            return AV_PIX_FMT_YUV420P10LE;
        case AV_PIX_FMT_NV16:
        case AV_PIX_FMT_YUYV422:
        case AV_PIX_FMT_UYVY422:
            return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_NV24:
        case AV_PIX_FMT_NV42:
            return AV_PIX_FMT_YUV444P;
        default:
            return AV_PIX_FMT_NONE;
    }
}

bool PadFilterColour(const uint8_t yuv[3], AVPixelFormat format, uint8_t rgb[3]) {
    YuvToRgb(yuv, rgb);
    const AVPixFmtDescriptor* desc = LibAVUtil.av_pix_fmt_desc_get(format);
    if (desc && (desc->flags & AV_PIX_FMT_FLAG_RGB)) return true;
    // Nearer colours first: steps of at most 3 in each component.
    constexpr int kReach = 3;
    const uint8_t nearest[3] = {rgb[0], rgb[1], rgb[2]};
    for (int distance = 0; distance <= 3 * kReach; ++distance)
        for (int dr = -kReach; dr <= kReach; ++dr)
            for (int dg = -kReach; dg <= kReach; ++dg)
                for (int db = -kReach; db <= kReach; ++db) {
                    if (std::abs(dr) + std::abs(dg) + std::abs(db) != distance) continue;
                    const int candidate[3] = {nearest[0] + dr, nearest[1] + dg, nearest[2] + db};
                    uint8_t tried[3], painted[3];
                    bool inside = true;
                    for (int i = 0; i < 3; ++i) {
                        inside = inside && candidate[i] >= 0 && candidate[i] <= 255;
                        tried[i] = static_cast<uint8_t>(std::clamp(candidate[i], 0, 255));
                    }
                    if (!inside || !PaintedYuv(tried, painted)) continue;
                    if (std::equal(painted, painted + 3, yuv)) {
                        std::copy(tried, tried + 3, rgb);
                        return true;
                    }
                }
    return false;
}

AVPixelFormat ScaledFormatFor(AVPixelFormat encoderFormat) {
    return encoderFormat == AV_PIX_FMT_PAL8 ? AV_PIX_FMT_BGRA : encoderFormat;
}

namespace {

// The mapping of RGB pictures to a palette, following a chain that ends in RGB: to the colours
// of the picture file, or to a palette made for each picture. One picture in still gives one
// out: the file's palette is read once when the graph is configured, and a picture's own
// palette is made from that picture alone. The file's name goes into the text as it is, so
// names with the filter text's special characters are refused.
std::string PaletteMappingText(const std::string& paletteFile) {
    if (paletteFile.empty())
        return ",split[pictures][counted];[counted]palettegen=stats_mode=single[palette];"
               "[pictures][palette]paletteuse=new=1";
    if (paletteFile.find_first_of("'\\:,;[]=\n") != std::string::npos)
        throw FFMpegException("The palette file's name cannot be given to the filters: " +
                              paletteFile);
    return "[pictures];movie=" + paletteFile +
           ",format=bgra[palette];[pictures][palette]paletteuse=dither=sierra2_4a";
}

}  // namespace

bool TOutputPictureShape::Scales() const {
    return Width != SourceWidth - (CropLeft + CropRight) + (PadLeft + PadRight) ||
           Height != SourceHeight - (CropTop + CropBottom) + (PadTop + PadBottom) ||
           Format != SourceFormat;
}

std::string OutputPictureText(const TOutputPictureShape& shape, int width, int height,
                              AVPixelFormat format) {
    std::string text;
    // A stream that changed its pictures: first back to what the output was set up for.
    if (width != shape.SourceWidth || height != shape.SourceHeight || format != shape.SourceFormat)
        Append(text,
               FormatText("scale=%d:%d:flags=%d,format=%s", shape.SourceWidth, shape.SourceHeight,
                          shape.ScalerFlags, PixelFormatName(shape.SourceFormat)));
    if (shape.Crops())
        Append(text, FormatText("crop=%d:%d:%d:%d:exact=1",
                                shape.SourceWidth - (shape.CropLeft + shape.CropRight),
                                shape.SourceHeight - (shape.CropTop + shape.CropBottom),
                                shape.CropLeft, shape.CropTop));
    // The scaler makes the encoder's format itself; padding painted in another format only
    // moves its samples there and back.
    const AVPixelFormat scaled = ScaledFormatFor(shape.Format);
    if (shape.Scales())
        Append(text, FormatText("scale=%d:%d:flags=%d,format=%s",
                                shape.Width - (shape.PadLeft + shape.PadRight),
                                shape.Height - (shape.PadTop + shape.PadBottom), shape.ScalerFlags,
                                PixelFormatName(scaled)));
    const AVPixelFormat painting = shape.Pads() ? PaintingFormat(scaled) : AV_PIX_FMT_NONE;
    if (painting != AV_PIX_FMT_NONE) {
        TOutputPictureShape painted = shape;
        painted.Format = painting;
        Append(text, PaddingBandsText(painted));
    } else if (shape.Pads()) {
        const uint8_t* rgb = shape.PadRgb;
        Append(text, FormatText("pad=%d:%d:%d:%d:color=0x%02X%02X%02X", shape.Width, shape.Height,
                                shape.PadLeft, shape.PadTop, rgb[0], rgb[1], rgb[2]));
    }
    Append(text, FormatText("format=%s", PixelFormatName(scaled)));
    if (shape.Format == AV_PIX_FMT_PAL8) text += PaletteMappingText(shape.PaletteFile);
    return text;
}

void TPictureFilter::Free() {
    source_ = sink_ = nullptr;
    finished_ = false;
    graph_.reset();
    input_.reset();
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
    return Build([filters](int, int, AVPixelFormat) { return filters; }, decoder->width,
                 decoder->height, decoder->pix_fmt, decoder->sample_aspect_ratio, timeBase);
}

bool TPictureFilter::Build(TTextFor textFor, int width, int height, AVPixelFormat format,
                           AVRational aspect, AVRational timeBase, const std::string& scalerOptions,
                           bool untagged) {
    textFor_ = std::move(textFor);
    scalerOptions_ = scalerOptions;
    untagged_ = untagged;
    timeBase_ = timeBase.num > 0 && timeBase.den > 0 ? timeBase : AVRational{1, AV_TIME_BASE};
    return BuildFor(width, height, format, aspect);
}

bool TPictureFilter::BuildFor(int width, int height, AVPixelFormat format, AVRational aspect) {
    Free();
    sourceWidth_ = width;
    sourceHeight_ = height;
    sourceFormat_ = format;
    filters_ = textFor_(width, height, format);
    graph_.reset(LibAVFilter.avfilter_graph_alloc());
    input_.reset(LibAVUtil.av_frame_alloc());
    output_.reset(LibAVUtil.av_frame_alloc());
    if (!graph_ || !input_ || !output_) return Fail("avfilter_graph_alloc", AVERROR(ENOMEM));
    // One thread: the codecs already use the cores, and the graph runs once per picture.
    graph_->nb_threads = 1;
    if (keepFormats_)
        LibAVFilter.avfilter_graph_set_auto_convert(graph_.get(), AVFILTER_AUTO_CONVERT_NONE);
    if (!scalerOptions_.empty()) {
        graph_->scale_sws_opts = LibAVUtil.av_strdup(scalerOptions_.c_str());
        if (!graph_->scale_sws_opts) return Fail("av_strdup", AVERROR(ENOMEM));
    }

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
    if (!Connect()) return false;

    width_ = LibAVFilter.av_buffersink_get_w(sink_);
    height_ = LibAVFilter.av_buffersink_get_h(sink_);
    format_ = AVPixelFormat(LibAVFilter.av_buffersink_get_format(sink_));
    return true;
}

bool TPictureFilter::Connect() {
    const TFilterChainResult chained = ConnectFilterChain(
        graph_.get(), source_, sink_, filters_.empty() ? "null" : filters_.c_str());
    if (chained.Code < 0) return Fail(chained.Step, chained.Code);
    return true;
}

AVFrame* TPictureFilter::Apply(const AVFrame* picture) {
    // A graph that failed is built again for the next picture.
    if (!graph_ || picture->width != sourceWidth_ || picture->height != sourceHeight_ ||
        picture->format != sourceFormat_)
        BuildFor(picture->width, picture->height, AVPixelFormat(picture->format),
                 picture->sample_aspect_ratio);
    if (!graph_) return nullptr;
    error_.clear();
    LibAVUtil.av_frame_unref(output_.get());
    // The graph takes its own reference: the picture given stays as it is.
    int result = LibAVUtil.av_frame_ref(input_.get(), picture);
    if (result < 0) {
        Fail("av_frame_ref", result);
        return nullptr;
    }
    if (untagged_) {
        input_->color_range = AVCOL_RANGE_UNSPECIFIED;
        input_->colorspace = AVCOL_SPC_UNSPECIFIED;
        // The stacked padding waits for pictures of one time on every side; the pictures'
        // own times may repeat or be missing.
        input_->pts = picturesIn_++;
    }
    result = LibAVFilter.av_buffersrc_add_frame_flags(source_, input_.get(), 0);
    LibAVUtil.av_frame_unref(input_.get());
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

AVFrame* TPictureFilter::Finish() {
    if (!graph_) return nullptr;
    error_.clear();
    LibAVUtil.av_frame_unref(output_.get());
    if (!finished_) {
        const int result = LibAVFilter.av_buffersrc_add_frame_flags(source_, nullptr, 0);
        if (result < 0) {
            Fail("av_buffersrc_add_frame_flags", result);
            return nullptr;
        }
        finished_ = true;
    }
    const int result = LibAVFilter.av_buffersink_get_frame(sink_, output_.get());
    if (result == AVERROR_EOF || result == AVERROR(EAGAIN)) return nullptr;
    if (result < 0) {
        Fail("av_buffersink_get_frame", result);
        return nullptr;
    }
    return output_.get();
}
