#include "app/core/BlackBars.h"

#include <algorithm>
#include <vector>

#include "app/core/PictureAt.h"
#include "binding/FFmpegLibs.h"
#include "binding/LibHandles.h"
#include "engine/StreamChoice.h"

namespace {

// The brightest a bar's pixel may be, on the 8-bit scale: video black is 16 (0 at full range),
// and encoders leave a few steps of noise on it.
constexpr int kBlackLuma = 32;

// The mean brightness of the first row or column of picture beside a bar for the bar to count
// as seen: a bar ends in a clear edge, where a dark scene only fades into black.
constexpr double kEdgeLuma = 40;

// The bars of one picture, in pixels from each edge, and whether each ends in a clear edge.
struct TBars {
    int Top = 0, Bottom = 0, Left = 0, Right = 0;
    bool Sharp[4] = {};  // top, bottom, left, right
};

// The luma plane as 8-bit values, whatever the depth; none for formats without one (RGB,
// palettes) or with it packed among the chroma.
struct TLuma {
    const AVFrame* Frame = nullptr;
    int Shift = 0;  // bits above 8
    bool Wide = false;
    int At(int x, int y) const {
        const uint8_t* row = Frame->data[0] + std::ptrdiff_t(y) * Frame->linesize[0];
        if (!Wide) return row[x];
        return (row[2 * x] | (row[2 * x + 1] << 8)) >> Shift;
    }
};

std::optional<TLuma> LumaOf(const AVFrame* frame) {
    const AVPixFmtDescriptor* format = LibAVUtil.av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    if (!format || (format->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL |
                                     AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_HWACCEL)))
        return std::nullopt;
    const AVComponentDescriptor& luma = format->comp[0];
    if (luma.plane != 0 || luma.offset != 0 || format->nb_components < 1) return std::nullopt;
    if (luma.depth == 8 && luma.step == 1) return TLuma{frame, 0, false};
    if (luma.depth > 8 && luma.depth <= 16 && luma.step == 2 && luma.shift == 0)
        return TLuma{frame, luma.depth - 8, true};
    return std::nullopt;
}

// Bars of a picture; none when it is black all over.
std::optional<TBars> BarsOf(const TLuma& luma, int width, int height) {
    std::vector<char> rowShows(height, 0), columnShows(width, 0);
    std::vector<double> rowSum(height, 0), columnSum(width, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int value = luma.At(x, y);
            if (value > kBlackLuma) rowShows[y] = columnShows[x] = 1;
            rowSum[y] += value;
            columnSum[x] += value;
        }
    const auto first = std::find(rowShows.begin(), rowShows.end(), 1);
    if (first == rowShows.end()) return std::nullopt;
    TBars bars;
    bars.Top = int(first - rowShows.begin());
    bars.Bottom = int(std::find(rowShows.rbegin(), rowShows.rend(), 1) - rowShows.rbegin());
    bars.Left = int(std::find(columnShows.begin(), columnShows.end(), 1) - columnShows.begin());
    bars.Right = int(std::find(columnShows.rbegin(), columnShows.rend(), 1) - columnShows.rbegin());
    bars.Sharp[0] = rowSum[bars.Top] / width >= kEdgeLuma;
    bars.Sharp[1] = rowSum[height - 1 - bars.Bottom] / width >= kEdgeLuma;
    bars.Sharp[2] = columnSum[bars.Left] / height >= kEdgeLuma;
    bars.Sharp[3] = columnSum[width - 1 - bars.Right] / height >= kEdgeLuma;
    return bars;
}

// The crop that keeps what every picture shows, rounded outwards to the chroma's steps.
TBlackBarCrop CropKeeping(const TBars& bars, int width, int height, int stepX, int stepY) {
    const auto down = [](int value, int step) { return value / step * step; };
    const auto up = [](int value, int step) { return (value + step - 1) / step * step; };
    TBlackBarCrop crop;
    crop.SourceWidth = width;
    crop.SourceHeight = height;
    crop.X = down(bars.Left, stepX);
    crop.Y = down(bars.Top, stepY);
    crop.Width = std::min(up(width - bars.Right, stepX), width) - crop.X;
    crop.Height = std::min(up(height - bars.Bottom, stepY), height) - crop.Y;
    crop.Width = down(crop.Width, stepX);
    crop.Height = down(crop.Height, stepY);
    return crop;
}

}  // namespace

std::string TBlackBarCrop::Text() const {
    return "crop=" + std::to_string(Width) + ":" + std::to_string(Height) + ":" +
           std::to_string(X) + ":" + std::to_string(Y);
}

TBlackBarSearch FindBlackBars(const std::string& path, int positions) {
    TBlackBarSearch search;
    AVFormatContext* opened = nullptr;
    if (!AVFormatLoaded() ||
        LibAVFormat.avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0) {
        search.Reason = "the file does not open";
        return search;
    }
    const TInputPtr file(opened);
    const int stream = LibAVFormat.avformat_find_stream_info(file.get(), nullptr) < 0
                           ? -1
                           : ChooseStream(file.get(), AVMEDIA_TYPE_VIDEO);
    if (stream < 0) {
        search.Reason = "no video";
        return search;
    }
    const AVStream* video = file->streams[stream];
    if (!DisplayTransformOf(video).Identity()) {
        search.Reason = "the picture is turned for display";
        return search;
    }
    const AVCodec* codec = LibAVCodec.avcodec_find_decoder(video->codecpar->codec_id);
    const TCodecContextPtr decoder(LibAVCodec.avcodec_alloc_context3(codec));
    if (!codec || !decoder ||
        LibAVCodec.avcodec_parameters_to_context(decoder.get(), video->codecpar) < 0 ||
        LibAVCodec.avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        search.Reason = "its video cannot be decoded";
        return search;
    }
    const double length = file->duration > 0 ? double(file->duration) / AV_TIME_BASE : 0;
    const TFramePtr frame(LibAVUtil.av_frame_alloc());
    std::optional<TBars> kept;  // the least bars of every picture that showed something
    int sharp[4] = {};          // pictures whose bar on each side ended in a clear edge
    int width = 0, height = 0, stepX = 2, stepY = 2;
    for (int i = 0; i < std::max(positions, 1); ++i) {
        const double at = length > 0 ? length * (i + 0.5) / positions : 0;
        if (!PictureAt(file.get(), decoder.get(), stream, at, frame.get())) continue;
        const auto luma = LumaOf(frame.get());
        if (luma && (width == 0 || (frame->width == width && frame->height == height))) {
            width = frame->width;
            height = frame->height;
            const AVPixFmtDescriptor* format =
                LibAVUtil.av_pix_fmt_desc_get(AVPixelFormat(frame->format));
            stepX = std::max(2, 1 << format->log2_chroma_w);
            stepY = std::max(2, 1 << format->log2_chroma_h);
            if (const auto bars = BarsOf(*luma, width, height)) {
                ++search.Pictures;
                for (int side = 0; side < 4; ++side) sharp[side] += bars->Sharp[side];
                kept = kept ? TBars{std::min(kept->Top, bars->Top),
                                    std::min(kept->Bottom, bars->Bottom),
                                    std::min(kept->Left, bars->Left),
                                    std::min(kept->Right, bars->Right)}
                            : *bars;
            }
        }
        LibAVUtil.av_frame_unref(frame.get());
        if (length <= 0) break;
    }
    if (!kept) {
        search.Reason = width ? "every sampled picture is black" : "no picture could be decoded";
        return search;
    }
    // A side is cropped only where most pictures showed its bar's edge: a dark scene's black
    // margins are no bar.
    int* sides[4] = {&kept->Top, &kept->Bottom, &kept->Left, &kept->Right};
    for (int side = 0; side < 4; ++side)
        if (2 * sharp[side] <= search.Pictures) *sides[side] = 0;
    search.Crop = CropKeeping(*kept, width, height, stepX, stepY);
    return search;
}
