// The pictures a video output takes: upright as the display matrix shows them, in SDR for an
// 8-bit encoder, and tagged with the colours they hold.
#include <cstring>

#include "engine/CustomFFmpeg.h"
#include "engine/PictureFilter.h"
#include "engine/StreamChoice.h"

namespace {

bool IsRgbFormat(AVPixelFormat format) {
    const AVPixFmtDescriptor* descriptor = LibAVUtil.av_pix_fmt_desc_get(format);
    return descriptor && (descriptor->flags & AV_PIX_FMT_FLAG_RGB);
}

bool IsFullRangeFormat(AVPixelFormat format) {
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
           format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
           format == AV_PIX_FMT_YUVJ411P;
}

// A colour tag as the file gave it, read as a number: a damaged file's may be no value of its
// enumeration, and is unspecified then.
template <typename T>
T ValidTag(const T& tag, int count, T unspecified) {
    static_assert(sizeof(T) == sizeof(int));
    int value = 0;
    std::memcpy(&value, &tag, sizeof value);
    return value >= 0 && value < count ? static_cast<T>(value) : unspecified;
}

AVColorTransferCharacteristic TransferOf(const AVCodecContext* decoder) {
    return ValidTag(decoder->color_trc, AVCOL_TRC_NB, AVCOL_TRC_UNSPECIFIED);
}

// Tags for pictures the scaler made from the decoder's: the colours stay what they were, the
// range follows the scaler's conversion into or out of the full-range formats.
void CopyColourTags(const AVCodecContext* decoder, AVCodecContext* encoder) {
    encoder->color_primaries =
        ValidTag(decoder->color_primaries, AVCOL_PRI_NB, AVCOL_PRI_UNSPECIFIED);
    encoder->color_trc = TransferOf(decoder);
    encoder->colorspace = IsRgbFormat(encoder->pix_fmt)
                              ? AVCOL_SPC_RGB
                              : ValidTag(decoder->colorspace, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED);
    if (IsFullRangeFormat(encoder->pix_fmt))
        encoder->color_range = AVCOL_RANGE_JPEG;
    else if (IsFullRangeFormat(decoder->pix_fmt))
        encoder->color_range = AVCOL_RANGE_MPEG;
    else
        encoder->color_range =
            ValidTag(decoder->color_range, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED);
    if (IsRgbFormat(encoder->pix_fmt)) encoder->color_range = AVCOL_RANGE_UNSPECIFIED;
}

}  // namespace

void TCustomFFmpeg::PreparePictureFilter(TInputStreamState& ist, AVCodecContext* encoder) {
    const AVCodecContext* decoder = ist.Decoder;
    const bool toneMap = IsHdrTransfer(TransferOf(decoder)) && !IsDeepPixelFormat(encoder->pix_fmt);
    if (toneMap) {
        encoder->color_primaries = AVCOL_PRI_BT709;
        encoder->color_trc = AVCOL_TRC_BT709;
        encoder->colorspace = AVCOL_SPC_BT709;
        encoder->color_range =
            IsFullRangeFormat(encoder->pix_fmt) ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    } else {
        CopyColourTags(decoder, encoder);
    }
    if (ist.PictureFilter) return;

    const TDisplayTransform transform =
        NoAutoRotate ? TDisplayTransform{} : DisplayTransformOf(ist.Stream);
    const std::string rotation = transform.FilterText();
    const bool deinterlace = Deinterlace != 0;
    // The text for pictures of a size and format: the blend sees them upright.
    auto textFor = [rotation, toneMap, deinterlace, transform](int width, int height,
                                                               AVPixelFormat format) {
        return PictureFilterText(rotation, toneMap, AV_PIX_FMT_YUV420P, deinterlace, format,
                                 transform.SwapsSides() ? width : height);
    };
    const std::string filters = textFor(decoder->width, decoder->height, decoder->pix_fmt);
    // A deinterlaced stream keeps its graph even when the blend cannot take its first pictures:
    // it may change to pictures it can take.
    if (filters.empty() && !deinterlace) return;
    auto filter = std::make_unique<TPictureFilter>();
    if (!filter->Build(textFor, decoder->width, decoder->height, decoder->pix_fmt,
                       decoder->sample_aspect_ratio, ist.Stream->time_base))
        throw FFMpegException::Format(
            "Cannot set up the picture filters \"%s\" of input stream "
            "#%d.%d: %s",
            filters.c_str(), ist.FileIndex, ist.StreamIndex, filter->Error().c_str());
    if (OnLog && Verbose >= 0 && !filters.empty())
        Log(1, "Input stream #%d.%d pictures: %s", ist.FileIndex, ist.StreamIndex, filters.c_str());
    ist.PictureFilter = std::move(filter);
}
