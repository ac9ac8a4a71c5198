#include "engine/SecondPassBudget.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "binding/FFmpegLibs.h"
#include "binding/LibHandles.h"

namespace {

// The coarsest quantiser (in the library's lambda units) the encoders' rate control uses unless
// told otherwise.
constexpr int64_t kDefaultLargestLambda = 31 * FF_QP2LAMBDA;

// The coarsest quantiser for a picture type: intra pictures are held finer, bidirectional ones
// coarser, by the encoder's quantiser factors and offsets.
double LargestLambda(const AVCodecContext* encoder, int64_t largest, int pictureType) {
    double lambda = double(largest);
    if (pictureType == AV_PICTURE_TYPE_I)
        lambda = int(lambda * std::fabs(encoder->i_quant_factor) + encoder->i_quant_offset + 0.5);
    else if (pictureType == AV_PICTURE_TYPE_B)
        lambda = int(lambda * std::fabs(encoder->b_quant_factor) + encoder->b_quant_offset + 0.5);
    return std::clamp(lambda, 1.0, double(FF_LAMBDA_MAX));
}

}  // namespace

double LeastSecondPassBitRate(const AVCodecContext* encoder) {
    const char* text = encoder->stats_in;
    if (!text || encoder->time_base.num <= 0 || encoder->time_base.den <= 0) return 0;
    int64_t largest = kDefaultLargestLambda;
    if (encoder->priv_data && LibAVUtil.av_opt_get_int(encoder->priv_data, "lmax", 0, &largest) < 0)
        largest = kDefaultLargestLambda;

    // One record per picture, each ended by ';'.
    double bits = 0;
    int pictures = 0;
    for (const char* record = text; const char* end = std::strchr(record, ';'); record = end + 1) {
        int number = 0, type = 0, intraBits = 0, interBits = 0, motionBits = 0, otherBits = 0;
        float lambda = 0;
        const std::string fields(record, end);
        if (std::sscanf(fields.c_str(), " in:%d out:%*d type:%d q:%f itex:%d ptex:%d mv:%d misc:%d",
                        &number, &type, &lambda, &intraBits, &interBits, &motionBits,
                        &otherBits) != 7)
            return 0;
        bits +=
            (double(intraBits) + interBits + 1) * lambda / LargestLambda(encoder, largest, type) +
            motionBits + otherBits;
        ++pictures;
    }
    if (!pictures) return 0;
    // The rate control keeps a place for each picture it may hold back for B-frames, each
    // counted at its macroblocks' header bits.
    const int macroblocks = ((encoder->width + 15) / 16) * ((encoder->height + 15) / 16);
    const int entries = pictures + std::max(encoder->max_b_frames, 0);
    bits += double(entries - pictures) * (macroblocks + 10);
    const double rate = double(encoder->time_base.den) / encoder->time_base.num /
                        std::max(encoder->ticks_per_frame, 1);
    return bits * rate / entries;
}

bool GiveEncoderItsStatisticsFile(AVCodecContext* encoder, const std::string& name) {
    void* own = encoder->priv_data;
    if (!own || !LibAVUtil.av_opt_find(own, "stats", nullptr, 0, 0)) return false;
    uint8_t* chosen = nullptr;
    const bool got = LibAVUtil.av_opt_get(own, "stats", 0, &chosen) >= 0;
    const TLibMemoryPtr<uint8_t> text(chosen);
    if (got && text && *text) return true;  // a name the caller gave already
    return LibAVUtil.av_opt_set(own, "stats", name.c_str(), 0) >= 0;
}
