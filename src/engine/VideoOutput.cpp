// Video output: keeps an output's frame rate by dropping or duplicating pictures, turns each
// picture into the output's through the output's picture graph (crop, scale, pixel format,
// padding) and encodes it; and the statistics file.
#include <algorithm>
#include <cmath>
#include <string>

#include "engine/CustomFFmpeg.h"

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

bool TCustomFFmpeg::ScalerConverts(AVPixelFormat from, AVPixelFormat to) {
    return LibSwScale.sws_isSupportedInput(from) > 0 && LibSwScale.sws_isSupportedOutput(to) > 0;
}

int TCustomFFmpeg::VideoOutput(AVFormatContext* file, TOutputStreamState& ost,
                               TInputStreamState& ist, AVFrame* picture,
                               const TRunPhaseSource& handedOn) {
    if (!ost.Encoder || !picture || !picture->data[0]) return 0;
    const int64_t frames = VideoFramesToEmit(ost, ist);
    if (frames <= 0) return 0;
    TFrameHookPicture output{};
    if (!ConvertPictureForOutput(ost, picture, output)) return 0;
    return EmitVideoFrames(file, ost, ist, picture, output, frames, handedOn);
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
    const TOutputPictureShape& shape = ost.PictureShape;
    const auto format = static_cast<AVPixelFormat>(picture->format);
    if (picture->width != shape.SourceWidth || picture->height != shape.SourceHeight ||
        format != shape.SourceFormat) {
        // The stream changed its pictures: the graph first brings them back to what the output
        // was set up for.
        if (picture->width != ost.ResizedWidth || picture->height != ost.ResizedHeight) {
            Log(1, "Input picture changed to %dx%d, converted to %dx%d", picture->width,
                picture->height, shape.SourceWidth, shape.SourceHeight);
            ost.ResizedWidth = picture->width;
            ost.ResizedHeight = picture->height;
        }
        if (!ScalerConverts(format, shape.SourceFormat)) {
            Log(0, "Cannot convert the %dx%d picture to %dx%d: picture dropped", picture->width,
                picture->height, shape.SourceWidth, shape.SourceHeight);
            return false;
        }
    }
    const AVFrame* converted = ost.PictureGraph ? ost.PictureGraph->Apply(picture) : nullptr;
    if (!converted) {
        Log(0, "Cannot convert the %dx%d picture for output stream #%d.%d: %s: picture dropped",
            picture->width, picture->height, ost.FileIndex, ost.StreamIndex,
            ost.PictureGraph ? ost.PictureGraph->Error().c_str() : "no picture graph");
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        output.data[i] = converted->data[i];
        output.linesize[i] = converted->linesize[i];
    }
    return true;
}

int TCustomFFmpeg::EmitVideoFrames(AVFormatContext* file, TOutputStreamState& ost,
                                   const TInputStreamState& ist, const AVFrame* picture,
                                   const TFrameHookPicture& output, int64_t frames,
                                   const TRunPhaseSource& handedOn) {
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
        // The picture itself goes out unless the job was stopping as it was handed on (in the
        // one loop that is now, after this check point; a stage's job brings the phase it was
        // handed on in). A stop ends the copies of a picture at once.
        const bool stopped = PausePoint();
        if (handedOn.Phase() == TRunPhase::kStopping || (i > 0 && stopped)) break;
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
