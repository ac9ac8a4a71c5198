// The progress report of a running transcode: frames, speed, quantiser, output time, size
// and bit rate, to the progress event or as a line to the log.
#include <cmath>

#include "engine/CustomFFmpeg.h"

namespace {

constexpr double kNoTimeYet = 1e10;  // seconds: no output stream has got anywhere yet
constexpr int kQpCount = 52;
constexpr size_t kLineSize = 1024;

// Appends printf-style text to a line of at most kLineSize - 1 characters.
void Append(std::string& line, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string& line, const char* format, ...) {
    if (line.size() >= kLineSize - 1) return;
    char buffer[kLineSize];
    va_list args;
    va_start(args, format);
    MyUtil.vsnprintf(buffer, kLineSize - line.size(), format, args);
    va_end(args);
    line += buffer;
}

// The quantiser of an output stream's last coded picture; -1 for a copied stream.
float CodedQuality(const TOutputStreamState& ost) {
    return ost.EncodingNeeded ? float(ost.Coded.Quality) / FF_QP2LAMBDA : -1.0f;
}

// The picture quality of a re-encoded video stream as PSNR per plane and overall: of the last
// picture, or with `lastReport` of all `frameNumber` pictures so far.
void AppendPsnr(std::string& line, const TOutputStreamState& ost, bool lastReport,
                int32_t frameNumber) {
    const AVCodecContext* encoder = ost.Encoder;
    double errorSum = 0.0, scaleSum = 0.0;
    Append(line, "PSNR=");
    for (int j = 0; j < 3; ++j) {
        double error = lastReport ? double(encoder->error[j]) : double(ost.Coded.Error[j]);
        double scale = double(encoder->width) * encoder->height * 255.0 * 255.0;
        if (lastReport) scale *= frameNumber;
        if (j) scale /= 4;
        errorSum += error;
        scaleSum += scale;
        Append(line, "%c:%2.2f ", "YUV"[j], -10.0 * std::log10(error / scale));
    }
    Append(line, "*:%2.2f ", -10.0 * std::log10(errorSum / scaleSum));
}

}  // namespace

void TCustomFFmpeg::ReportProgress(bool lastReport) {
    const int64_t totalSize = FirstOutputSize();
    TProgressInfo info;
    std::string line;
    double t = kNoTimeYet;
    bool firstVideo = true;
    for (const auto& output : RunState.OutputStreams) {
        const TOutputStreamState& ost = *output;
        if (ost.Encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
            if (!firstVideo) {
                Append(line, "q=%2.1f ", CodedQuality(ost));
            } else {
                firstVideo = false;
                // Nothing to tell before the first picture.
                if (!DescribeFirstVideoOutput(ost, lastReport, info, line)) return;
            }
        }
        const double reached = MuxedSeconds(ost);
        if (reached > 0 && reached < t) t = reached;
    }
    const bool timeKnown = t < kNoTimeYet;
    if (t < 0.01) t = 0.01;

    if (OnProgress || Verbose > 0 || lastReport)
        SendProgress(info, line, totalSize, timeKnown ? t : -1.0);
    if (lastReport && Verbose >= 0 && OnLog) {
        const double raw = double(VideoBytesWritten) + AudioBytesWritten + GlobalHeaderBytes;
        const double overhead = raw > 0 ? 100.0 * (totalSize - raw) / raw : 0.0;
        Log(1, "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %.2f%%\n",
            VideoBytesWritten / 1024.0, AudioBytesWritten / 1024.0, GlobalHeaderBytes / 1024.0,
            overhead);
    }
}

int64_t TCustomFFmpeg::FirstOutputSize() const {
    if (OutputFileCount <= 0 || !OutputFiles[0].Context.get() || !OutputFiles[0].Context->pb)
        return 0;
    AVIOContext* pb = OutputFiles[0].Context->pb;
    int64_t size = LibAVFormat.avio_size(pb);
    if (size < 0) size = LibAVFormat.avio_seek(pb, 0, SEEK_CUR);
    return size < 0 ? 0 : size;
}

bool TCustomFFmpeg::DescribeFirstVideoOutput(const TOutputStreamState& ost, bool lastReport,
                                             TProgressInfo& info, std::string& line) {
    const float quality = CodedQuality(ost);
    const double elapsed = (LibAVUtil.av_gettime() - TimerStart) / 1000000.0;
    // The encoder may be ahead of what was written: the count written is told.
    info.FrameNumber = Scheduler->FramesWritten(ost);
    if (info.FrameNumber < 1) return false;
    info.FPS = elapsed > 1.0 ? static_cast<int32_t>(info.FrameNumber / elapsed + 0.5) : 0;
    info.Quality = quality;
    Append(line, "frame=%5d fps=%3d q=%3.1f ", info.FrameNumber, info.FPS, info.Quality);
    if (lastReport) Append(line, "L");
    if (QpHistogram) {
        const long qp = std::lround(quality);
        if (qp >= 0 && qp < kQpCount) ++QpHistogramCounts[qp];
        for (int j = 0; j < 32; ++j)
            Append(line, "%X", static_cast<int>(std::lround(std::log2(QpHistogramCounts[j] + 1))));
    }
    if (ost.EncodingNeeded && (ost.Encoder->flags & AV_CODEC_FLAG_PSNR))
        AppendPsnr(line, ost, lastReport, info.FrameNumber);
    return true;
}

void TCustomFFmpeg::SendProgress(TProgressInfo& info, std::string& line, int64_t totalSize,
                                 double seconds) {
    const bool timeKnown = seconds >= 0;
    const double bitrate = timeKnown ? totalSize * 8 / seconds / 1000 : 0.0;
    Append(line, "size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", totalSize / 1024.0,
           timeKnown ? seconds : 0.0, bitrate);
    if (Verbose > 1) Append(line, " dup=%d drop=%d", DuplicatedFrames.load(), DroppedFrames.load());
    if (OnProgress) {
        // Before any stream has a time there is none to tell (-1); once there is one it only
        // grows, even when a late stream starts behind the others.
        int32_t duration =
            timeKnown ? static_cast<int32_t>(std::min(seconds * 1000, 2147483647.0)) : -1;
        if (duration < LastReportedDurationMs) duration = LastReportedDurationMs;
        LastReportedDurationMs = duration;
        info.CurrentDuration = duration;
        info.BitRate = static_cast<float>(bitrate);
        info.CurrentSize = totalSize;
        info.TotalOutputDuration = SourceDurationMs;
        Scheduler->Raise([this, info] { OnProgress(this, info); });
    } else if (Verbose >= 0 && OnLog) {
        DoLog(1, line);
    }
}

int32_t TCustomFFmpeg::TOneLoop::FramesWritten(const TOutputStreamState& ost) const {
    return ost.FrameNumber;  // written as it is encoded
}
