#include "engine/RateFit.h"

#include <cmath>
#include <cstdlib>

namespace {

// The rates of television, film and phones, tried first and in this order: a player takes them
// everywhere. A phone's clock makes 29.97 read 29.99 (90000/3001): the broadcast rates (x/1001)
// come before the whole rates near them.
constexpr AVRational kStandardRates[] = {
    {24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1}, {48, 1},  {50, 1},
    {60000, 1001}, {60, 1}, {15, 1}, {12, 1},       {10, 1}, {100, 1}, {120000, 1001},
    {120, 1},      {8, 1},  {5, 1},  {240, 1},      {25, 2}};
constexpr double kStandardTolerance = 0.005;

double Value(AVRational rate) {
    return double(rate.num) / rate.den;
}

// The largest time-base denominator (the rate's numerator) an encoder takes; 0 for no limit.
int LargestTimeScale(AVCodecID codec) {
    // The MPEG-4 Part 2 header codes the time scale in 16 bits.
    return codec == AV_CODEC_ID_MPEG4 ? 65535 : 0;
}

}  // namespace

AVRational FitFrameRate(const AVCodec* encoder, AVRational requested) {
    if (!encoder || requested.num <= 0 || requested.den <= 0) return requested;
    const auto nearStandard = [&](const AVRational& standard) {
        return std::fabs(Value(standard) / Value(requested) - 1.0) <= kStandardTolerance;
    };
    if (encoder->supported_framerates) {
        for (const AVRational* listed = encoder->supported_framerates; listed->num; ++listed)
            if (av_cmp_q(*listed, requested) == 0) return *listed;
        for (const AVRational& standard : kStandardRates) {
            if (!nearStandard(standard)) continue;
            for (const AVRational* listed = encoder->supported_framerates; listed->num; ++listed)
                if (av_cmp_q(*listed, standard) == 0) return *listed;
        }
        AVRational best = requested;
        double bestDistance = INFINITY;
        for (const AVRational* listed = encoder->supported_framerates; listed->num; ++listed) {
            const double distance = std::fabs(Value(*listed) - Value(requested));
            if (distance < bestDistance) {
                bestDistance = distance;
                best = *listed;
            }
        }
        return best;
    }
    const int limit = LargestTimeScale(encoder->id);
    if (limit == 0 || requested.num <= limit) return requested;
    for (const AVRational& standard : kStandardRates)
        if (nearStandard(standard) && standard.num <= limit) return standard;
    AVRational reduced{0, 1};
    LibAVUtil.av_reduce(&reduced.num, &reduced.den, requested.num, requested.den, limit);
    return reduced;
}

std::string FrameRateText(AVRational rate) {
    if (rate.den == 1) return std::to_string(rate.num);
    return std::to_string(rate.num) + "/" + std::to_string(rate.den);
}
