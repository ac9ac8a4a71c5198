// Video output: keeps an output's frame rate by dropping or duplicating pictures, crops, scales
// and pads each picture into the output's size and encodes it; and the statistics file.
#include <algorithm>
#include <cmath>
#include <string>

#include "engine/CustomFFmpeg.h"

namespace {

// Limited-range BT.601, as the pad colour's Y, U, V are given.
void YuvToRgb(const uint8_t yuv[3], uint8_t rgb[3]) {
    const double y = 1.164 * (yuv[0] - 16);
    const double u = yuv[1] - 128;
    const double v = yuv[2] - 128;
    const double values[3] = {y + 1.596 * v, y - 0.392 * u - 0.813 * v, y + 2.017 * u};
    for (int i = 0; i < 3; ++i)
        rgb[i] = static_cast<uint8_t>(std::clamp(std::lround(values[i]), 0L, 255L));
}

bool PixelsAreWholeBytes(const AVPixFmtDescriptor* desc) {
    return desc && !(desc->flags &
                     (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL));
}

}  // namespace

int TCustomFFmpeg::VideoSyncFrames(int method, double syncTime, AVRational timeBase,
                                   int64_t& syncOpts) {
    const double tb = av_q2d(timeBase);
    if (tb <= 0) return 1;
    const double position = syncTime / tb;
    if (method >= 1 || (method == -1 && tb > 0.001)) {
        const double delta = position - static_cast<double>(syncOpts);
        if (delta < -1.1) return 0;
        if (method == 2) {
            syncOpts = std::llrint(position);
            return 1;
        }
        if (delta > 1.1)
            return static_cast<int>(std::min<long long>(std::llrint(delta), INT32_MAX));
        return 1;
    }
    syncOpts = std::llrint(position);
    return 1;
}

bool TCustomFFmpeg::OffsetPlanes(const TFrameHookPicture& picture, AVPixelFormat format, int top,
                                 int left, TFrameHookPicture& result) {
    const AVPixFmtDescriptor* desc = LibAVUtil.av_pix_fmt_desc_get(format);
    if (!PixelsAreWholeBytes(desc) || top < 0 || left < 0) return false;
    result = picture;
    // Each plane moves by the pixels of the component stored in it.
    bool moved[4] = {};
    for (int c = 0; c < desc->nb_components; ++c) {
        const AVComponentDescriptor& comp = desc->comp[c];
        if (moved[comp.plane]) continue;
        moved[comp.plane] = true;
        const bool chroma = (c == 1 || c == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        const int rows = chroma ? top >> desc->log2_chroma_h : top;
        const int columns = chroma ? left >> desc->log2_chroma_w : left;
        if (!picture.data[comp.plane]) return false;
        result.data[comp.plane] = picture.data[comp.plane] +
                                  static_cast<ptrdiff_t>(rows) * picture.linesize[comp.plane] +
                                  static_cast<ptrdiff_t>(columns) * comp.step;
    }
    return true;
}

void TCustomFFmpeg::FillRectangle(const TFrameHookPicture& picture, AVPixelFormat format, int width,
                                  int height, int x, int y, int w, int h, const uint8_t yuv[3]) {
    const AVPixFmtDescriptor* desc = LibAVUtil.av_pix_fmt_desc_get(format);
    if (!PixelsAreWholeBytes(desc) || (desc->flags & AV_PIX_FMT_FLAG_FLOAT)) return;
    for (int c = 0; c < desc->nb_components; ++c)
        if (desc->comp[c].depth + desc->comp[c].shift > 16) return;
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min(x + w, width), y1 = std::min(y + h, height);
    if (x0 >= x1 || y0 >= y1) return;
    const bool isRGB = desc->flags & AV_PIX_FMT_FLAG_RGB;
    uint8_t colour[3];
    if (isRGB)
        YuvToRgb(yuv, colour);
    else
        std::copy(yuv, yuv + 3, colour);
    const bool gray = desc->nb_components <= 2 && !isRGB;
    for (int c = 0; c < desc->nb_components; ++c) {
        const AVComponentDescriptor& comp = desc->comp[c];
        const bool alpha = (desc->flags & AV_PIX_FMT_FLAG_ALPHA) && c == desc->nb_components - 1;
        const bool chroma = !isRGB && !gray && (c == 1 || c == 2);
        unsigned value = alpha ? 255u : colour[gray ? 0 : c];
        // Samples deeper than 8 bits keep the colour's place on their scale.
        if (comp.depth > 8) value = alpha ? (1u << comp.depth) - 1 : value << (comp.depth - 8);
        if (comp.depth < 8) value >>= 8 - comp.depth;
        const int cx0 = chroma ? x0 >> desc->log2_chroma_w : x0;
        const int cx1 = chroma ? AV_CEIL_RSHIFT(x1, desc->log2_chroma_w) : x1;
        const int cy0 = chroma ? y0 >> desc->log2_chroma_h : y0;
        const int cy1 = chroma ? AV_CEIL_RSHIFT(y1, desc->log2_chroma_h) : y1;
        const bool bigEndian = desc->flags & AV_PIX_FMT_FLAG_BE;
        const unsigned mask = ((1u << comp.depth) - 1) << comp.shift;
        for (int row = cy0; row < cy1; ++row) {
            uint8_t* line = picture.data[comp.plane] +
                            static_cast<ptrdiff_t>(row) * picture.linesize[comp.plane] +
                            comp.offset;
            for (int column = cx0; column < cx1; ++column) {
                uint8_t* sample = line + static_cast<ptrdiff_t>(column) * comp.step;
                // Components may share their byte or word with others: only their bits change.
                if (comp.depth + comp.shift <= 8) {
                    *sample =
                        static_cast<uint8_t>((*sample & ~mask) | ((value << comp.shift) & mask));
                } else {
                    uint8_t* high = sample + (bigEndian ? 0 : 1);
                    uint8_t* low = sample + (bigEndian ? 1 : 0);
                    unsigned word = (unsigned{*high} << 8) | *low;
                    word = (word & ~mask) | ((value << comp.shift) & mask);
                    *high = static_cast<uint8_t>(word >> 8);
                    *low = static_cast<uint8_t>(word);
                }
            }
        }
    }
}

bool TCustomFFmpeg::ScalerConverts(AVPixelFormat from, AVPixelFormat to) {
    return LibSwScale.sws_isSupportedInput(from) > 0 && LibSwScale.sws_isSupportedOutput(to) > 0;
}

bool TCustomFFmpeg::FitPictureToOutput(TOutputStreamState& ost, const AVFrame* picture,
                                       TFrameHookPicture& planes, AVPixelFormat& format) {
    // The decoded picture the output's crop, scaler and encoder were set up for.
    const AVCodecContext* enc = ost.Encoder;
    int64_t width = enc->width - ost.PadLeft - ost.PadRight;
    int64_t height = enc->height - ost.PadTop - ost.PadBottom;
    int64_t expectedFormat = enc->pix_fmt;
    if (ost.VideoResample && ost.Scaler) {
        if (LibAVUtil.av_opt_get_int(ost.Scaler.get(), "srcw", 0, &width) < 0 ||
            LibAVUtil.av_opt_get_int(ost.Scaler.get(), "srch", 0, &height) < 0 ||
            LibAVUtil.av_opt_get_int(ost.Scaler.get(), "src_format", 0, &expectedFormat) < 0)
            return true;  // nothing known to compare with
    }
    if (ost.VideoCrop) {
        width += int64_t{CropLeft} + CropRight;
        height += int64_t{CropTop} + CropBottom;
    }
    if (picture->width == width && picture->height == height && picture->format == expectedFormat)
        return true;

    const auto target = static_cast<AVPixelFormat>(expectedFormat);
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    if (picture->width != ost.ResizedWidth || picture->height != ost.ResizedHeight) {
        Log(1, "Input picture changed to %dx%d, converted to %dx%d", picture->width,
            picture->height, w, h);
        ost.ResizedWidth = picture->width;
        ost.ResizedHeight = picture->height;
    }
    if (!ScalerConverts(static_cast<AVPixelFormat>(picture->format), target)) {
        Log(0, "Cannot convert the %dx%d picture to %dx%d: picture dropped", picture->width,
            picture->height, w, h);
        return false;
    }
    ost.ResizeScaler.reset(
        LibSwScale.sws_getCachedContext(ost.ResizeScaler.release(), picture->width, picture->height,
                                        static_cast<AVPixelFormat>(picture->format), w, h, target,
                                        ScalerFlags, nullptr, nullptr, nullptr));
    const int bytes = LibAVUtil.av_image_get_buffer_size(target, w, h, 32);
    if (!ost.ResizeScaler || bytes < 0 || !ost.ResizeBuffer.Reserve(static_cast<size_t>(bytes))) {
        Log(0, "Cannot convert the %dx%d picture to %dx%d: picture dropped", picture->width,
            picture->height, w, h);
        return false;
    }
    TFrameHookPicture resized{};
    LibAVUtil.av_image_fill_arrays(resized.data, resized.linesize, ost.ResizeBuffer.Data(), target,
                                   w, h, 32);
    LibSwScale.sws_scale(ost.ResizeScaler.get(), planes.data, planes.linesize, 0, picture->height,
                         resized.data, resized.linesize);
    planes = resized;
    format = target;
    return true;
}

int TCustomFFmpeg::VideoOutput(AVFormatContext* file, TOutputStreamState& ost,
                               TInputStreamState& ist, AVFrame* picture) {
    if (!ost.Encoder || !picture || !picture->data[0]) return 0;
    const int64_t frames = VideoFramesToEmit(ost, ist);
    if (frames <= 0) return 0;
    TFrameHookPicture output{};
    if (!ConvertPictureForOutput(ost, picture, output)) return 0;
    return EmitVideoFrames(file, ost, ist, picture, output, frames);
}

int64_t TCustomFFmpeg::VideoFramesToEmit(TOutputStreamState& ost, const TInputStreamState& ist) {
    const TInputStreamState& syncStream = ost.SyncStream ? *ost.SyncStream : ist;
    const double inputTime = static_cast<double>(syncStream.Pts - StartTime) / AV_TIME_BASE;
    const double syncTime = SkipClockJump(
        ost, inputTime, static_cast<double>(ost.SyncOpts) * av_q2d(ost.Encoder->time_base),
        ost.PictureShownUntil);
    if (syncStream.NextPts != AV_NOPTS_VALUE && syncStream.NextPts > syncStream.Pts)
        ost.PictureShownUntil =
            inputTime + static_cast<double>(syncStream.NextPts - syncStream.Pts) / AV_TIME_BASE;

    int64_t frames =
        VideoSyncFrames(VideoSyncMethod, syncTime, ost.Encoder->time_base, ost.SyncOpts);
    const double frameTime = av_q2d(ost.Encoder->time_base);
    const int64_t oneSecond = frameTime > 0 ? std::max<int64_t>(std::llrint(1 / frameTime), 1) : 1;
    if (frames > 1 + oneSecond) {
        // More than a second without pictures (a pause, a still, a jump within the threshold):
        // the picture waits for its time instead of being copied, and the sound stays in step.
        Log(1, "Output stream #%d.%d: no picture for %.3f s at %.3f s; the last one stays on",
            ost.FileIndex, ost.StreamIndex, double(frames - 1) * frameTime,
            double(ost.SyncOpts) * frameTime);
        ost.SyncOpts += frames - 1;
        frames = 1;
    }
    if (frames == 0) {
        ++DroppedFrames;
        if (Verbose > 2) Log(1, "*** drop!");
    } else if (frames > 1) {
        // The counter counts the extra copies, as the log line does.
        DuplicatedFrames += static_cast<int32_t>(frames - 1);
        if (Verbose > 2) Log(1, "*** %d dup!", static_cast<int>(frames - 1));
    }
    return std::min<int64_t>(frames, int64_t{FrameLimits[0]} - ost.FrameNumber);
}

double TCustomFFmpeg::SkipClockJump(TOutputStreamState& ost, double syncTime, double outputTime,
                                    double shownUntil) {
    constexpr double kLargestGap = 1.0;  // seconds
    const double time = syncTime - ost.ClockShift;
    const double gap = time - outputTime;
    if (std::fabs(gap) <= kLargestGap) return time;
    // Ahead within the jump threshold, or as far as the source meant its last picture to show:
    // a pause that the output keeps (without copies), in step with the other streams.
    if (gap > 0 && (gap <= TimestampJumpThreshold || syncTime <= shownUntil + kLargestGap))
        return time;
    ost.ClockShift += gap;
    Log(1,
        "Output stream #%d.%d: the input's clock jumps by %.3f s at %.3f s, taken as a "
        "discontinuity",
        ost.FileIndex, ost.StreamIndex, gap, outputTime);
    return outputTime;
}

bool TCustomFFmpeg::ConvertPictureForOutput(TOutputStreamState& ost, const AVFrame* picture,
                                            TFrameHookPicture& output) {
    TFrameHookPicture formatted{};
    for (int i = 0; i < 4; ++i) {
        formatted.data[i] = picture->data[i];
        formatted.linesize[i] = picture->linesize[i];
    }
    auto sourceFormat = static_cast<AVPixelFormat>(picture->format);
    if (!FitPictureToOutput(ost, picture, formatted, sourceFormat)) return false;
    if (ost.VideoCrop &&
        !OffsetPlanes(formatted, sourceFormat, ost.TopBand, ost.LeftBand, formatted)) {
        Log(0, "error cropping picture");
        return false;
    }
    output = formatted;
    if (!ost.VideoResample && !ost.VideoPad) return true;
    return ScaleAndPadPicture(ost, formatted, output);
}

bool TCustomFFmpeg::ScaleAndPadPicture(const TOutputStreamState& ost,
                                       const TFrameHookPicture& formatted,
                                       TFrameHookPicture& output) {
    const AVCodecContext* enc = ost.Encoder;
    AVFrame* temporary = ost.TemporaryPicture.get();
    if (!temporary || !temporary->data[0] || (ost.VideoResample && !ost.Scaler)) {
        Log(0, "error padding picture");
        return false;
    }
    TFrameHookPicture whole{};
    for (int i = 0; i < 4; ++i) {
        whole.data[i] = temporary->data[i];
        whole.linesize[i] = temporary->linesize[i];
    }
    TFrameHookPicture inner = whole;
    if (ost.VideoPad && !OffsetPlanes(whole, enc->pix_fmt, ost.PadTop, ost.PadLeft, inner)) {
        Log(0, "error padding picture");
        return false;
    }
    if (ost.VideoResample) {
        LibSwScale.sws_scale(ost.Scaler.get(), formatted.data, formatted.linesize, 0,
                             ost.ResampleHeight, inner.data, inner.linesize);
    } else {
        // Padding alone: the picture already has the output's format and inner size.
        LibAVUtil.av_image_copy(inner.data, inner.linesize,
                                const_cast<const uint8_t**>(formatted.data), formatted.linesize,
                                enc->pix_fmt, enc->width - ost.PadLeft - ost.PadRight,
                                enc->height - ost.PadTop - ost.PadBottom);
    }
    if (ost.VideoPad) PaintPadding(ost, whole);
    output = whole;
    return true;
}

void TCustomFFmpeg::PaintPadding(const TOutputStreamState& ost, const TFrameHookPicture& whole) {
    const AVCodecContext* enc = ost.Encoder;
    const uint8_t colour[3] = {static_cast<uint8_t>(PadColor[0] & 0xFF),
                               static_cast<uint8_t>(PadColor[1] & 0xFF),
                               static_cast<uint8_t>(PadColor[2] & 0xFF)};
    const int w = enc->width, h = enc->height;
    FillRectangle(whole, enc->pix_fmt, w, h, 0, 0, w, ost.PadTop, colour);
    FillRectangle(whole, enc->pix_fmt, w, h, 0, h - ost.PadBottom, w, ost.PadBottom, colour);
    const int middle = h - ost.PadTop - ost.PadBottom;
    FillRectangle(whole, enc->pix_fmt, w, h, 0, ost.PadTop, ost.PadLeft, middle, colour);
    FillRectangle(whole, enc->pix_fmt, w, h, w - ost.PadRight, ost.PadTop, ost.PadRight, middle,
                  colour);
}

int TCustomFFmpeg::EmitVideoFrames(AVFormatContext* file, TOutputStreamState& ost,
                                   const TInputStreamState& ist, const AVFrame* picture,
                                   const TFrameHookPicture& output, int64_t frames) {
    AVCodecContext* enc = ost.Encoder;
    if (!ost.EncoderFrame) {
        ost.EncoderFrame.reset(LibAVUtil.av_frame_alloc());
        if (!ost.EncoderFrame) throw FFMpegException("Video encoding failed");
    }
    const AVCodecContext* videoOptions = CodecOptionContexts[0].get();
    const int interlaceFlags = AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    const bool interlacedCoding =
        (enc->flags & interlaceFlags) || (videoOptions && (videoOptions->flags & interlaceFlags));

    int frameSize = 0;
    for (int64_t i = 0; i < frames; ++i) {
        // Pipelined, the stop counts as the job's thread saw it when it handed the picture on.
        // A stop ends the copies of a picture at once, whichever thread encodes them.
        const bool stopped = PausePoint();
        if (ost.JobStopped >= 0 ? ost.JobStopped || (i > 0 && stopped) : stopped) break;
        AVFrame* frame = ost.EncoderFrame.get();
        LibAVUtil.av_frame_unref(frame);
        // The frame only points at the picture: the encoder copies what it keeps.
        for (int p = 0; p < 4; ++p) {
            frame->data[p] = output.data[p];
            frame->linesize[p] = output.linesize[p];
        }
        frame->format = enc->pix_fmt;
        frame->width = enc->width;
        frame->height = enc->height;
        frame->sample_aspect_ratio = enc->sample_aspect_ratio;
        frame->interlaced_frame = picture->interlaced_frame;
        if (interlacedCoding)
            frame->top_field_first = TopFieldFirst == -1 ? picture->top_field_first : TopFieldFirst;
        frame->quality = static_cast<int>(std::lrint(SameQuality ? ist.Quality : ost.Quality));
        frame->pict_type = MotionEstimationThreshold ? picture->pict_type : AV_PICTURE_TYPE_NONE;
        frame->pts = ost.SyncOpts;
        const int written = EncodeAndWrite(file, ost, frame, "Video encoding failed");
        LibAVUtil.av_frame_unref(frame);
        if (written > 0) frameSize = written;
        ++ost.SyncOpts;
        ++ost.FrameNumber;
    }
    return frameSize;
}

void TCustomFFmpeg::WriteVideoStats(AVFormatContext*, TOutputStreamState& ost, int frameSize) {
    if (!VideoStatsFile) {
        VideoStatsFile.reset(MyUtil.fopen(VideoStatsFileName.c_str(), "w"));
        if (!VideoStatsFile) throw FFMpegException("fopen fail: " + VideoStatsFileName);
    }
    const AVCodecContext* enc = ost.Encoder;
    if (!enc || enc->codec_type != AVMEDIA_TYPE_VIDEO) return;
    FILE* file = VideoStatsFile.get();
    MyUtil.fprintf(file, "frame= %5d q= %2.1f ", ost.FrameNumber,
                   ost.Coded.Quality / static_cast<double>(FF_QP2LAMBDA));
    if (enc->flags & AV_CODEC_FLAG_PSNR) {
        const double error = static_cast<double>(ost.Coded.Error[0]) /
                             (static_cast<double>(enc->width) * enc->height * 255.0 * 255.0);
        MyUtil.fprintf(file, "PSNR= %6.2f ", -10.0 * std::log10(error));
    }
    MyUtil.fprintf(file, "f_size= %6d ", frameSize);
    const double timeBase = av_q2d(enc->time_base);
    const double seconds = std::max(static_cast<double>(ost.SyncOpts) * timeBase, 0.01);
    const double bitRate = timeBase > 0 ? frameSize * 8 / timeBase / 1000.0 : 0.0;
    const double averageBitRate = static_cast<double>(VideoBytesWritten) * 8 / seconds / 1000.0;
    MyUtil.fprintf(file, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                   static_cast<double>(VideoBytesWritten) / 1024, seconds, bitRate, averageBitRate);
    MyUtil.fprintf(
        file, "type= %c\n",
        LibAVUtil.av_get_picture_type_char(static_cast<AVPictureType>(ost.Coded.PictureType)));
}
