#include "app/core/EncoderFit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "binding/FFmpegLibs.h"
#include "binding/LibHandles.h"
#include "engine/RateFit.h"

namespace {

struct TSize {
    int Width = 0;
    int Height = 0;
    bool operator==(const TSize&) const = default;
};

std::optional<TSize> SizeOf(const std::string& text) {
    int width = 0, height = 0;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &width, &height, &rest) != 2) return std::nullopt;
    if (width <= 0 || height <= 0) return std::nullopt;
    return TSize{width, height};
}

std::string SizeText(TSize size) {
    return std::to_string(size.Width) + "x" + std::to_string(size.Height);
}

// H.263 codes only its five picture formats, sub-QCIF to 16CIF.
constexpr TSize kH263Sizes[] = {{128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};

// To the nearest multiple, halves upwards; never below one step.
int RoundedTo(int value, int step) {
    return std::max(step, (value + step / 2) / step * step);
}

// The frame size nearest to `size` that the codec's encoder codes.
TSize FittedSize(AVCodecID codec, TSize size) {
    switch (codec) {
        case AV_CODEC_ID_H263: {
            const auto distance = [&](TSize s) {
                return std::abs(s.Width - size.Width) + std::abs(s.Height - size.Height);
            };
            return *std::min_element(std::begin(kH263Sizes), std::end(kH263Sizes),
                                     [&](TSize a, TSize b) { return distance(a) < distance(b); });
        }
        case AV_CODEC_ID_RV10:
            return {RoundedTo(size.Width, 16), RoundedTo(size.Height, 16)};
        case AV_CODEC_ID_RV20:
            return {RoundedTo(size.Width, 4), RoundedTo(size.Height, 4)};
        default:
            return size;
    }
}

// The sample rates an encoder without a list of its own is tried at, and the bit rates tried
// near a refused one (bit/s).
constexpr int kCommonRates[] = {8000,  11025, 12000, 16000, 22050, 24000,
                                32000, 44100, 48000, 64000, 88200, 96000};
constexpr int kBitrateLadder[] = {8000,   12000,  16000,  20000,  24000,  32000,  40000,  48000,
                                  56000,  64000,  80000,  96000,  112000, 128000, 160000, 192000,
                                  224000, 256000, 320000, 384000, 448000, 512000, 576000, 640000};

// The values in order of nearness to `wanted`, the higher first of two as near; `wanted`
// itself first whether listed or not.
std::vector<int> ByNearness(std::vector<int> values, int wanted) {
    std::erase(values, wanted);
    std::stable_sort(values.begin(), values.end(), [wanted](int a, int b) {
        const long long da = std::llabs(static_cast<long long>(a) - wanted);
        const long long db = std::llabs(static_cast<long long>(b) - wanted);
        return da != db ? da < db : a > b;
    });
    values.insert(values.begin(), wanted);
    return values;
}

std::vector<int> SampleRatesOf(const AVCodec* codec) {
    std::vector<int> rates;
    if (codec->supported_samplerates)
        for (const int* rate = codec->supported_samplerates; *rate; ++rate) rates.push_back(*rate);
    return rates;
}

std::vector<int> ChannelCountsOf(const AVCodec* codec) {
    std::vector<int> counts;
    if (codec->ch_layouts)
        for (const AVChannelLayout* layout = codec->ch_layouts; layout->nb_channels; ++layout)
            counts.push_back(layout->nb_channels);
    return counts;
}

bool Listed(const std::vector<int>& values, int value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

std::string Kbps(int bitsPerSecond) {
    if (bitsPerSecond % 1000 == 0) return std::to_string(bitsPerSecond / 1000) + " kbps";
    return std::to_string(bitsPerSecond) + " bps";
}

std::string Channels(int count) {
    return std::to_string(count) + (count == 1 ? " channel" : " channels");
}

std::string Hz(int rate) {
    return std::to_string(rate) + " Hz";
}

// The row's log line for a value the encoder refused and the one used in its place.
std::string Refused(const std::string& encoder, const std::string& refused,
                    const std::string& used) {
    return encoder + " does not take " + refused + ": " + used + " instead";
}

// While the encoders are tried, their refusals stay out of the log: they are questions, not
// failures. Both the program's log callback and the libraries' own (in a program without the
// converter component) are kept quiet. The builder runs while no task does, so no task's lines
// are lost meanwhile.
class TQuietLibraryLog {
  public:
    TQuietLibraryLog()
        : previous_(CurrentLogLevel.exchange(-1)),
          previousLibraryLevel_(LibAVUtil.av_log_get_level()) {
        LibAVUtil.av_log_set_level(AV_LOG_QUIET);
    }
    ~TQuietLibraryLog() {
        LibAVUtil.av_log_set_level(previousLibraryLevel_);
        CurrentLogLevel = previous_;
    }
    TQuietLibraryLog(const TQuietLibraryLog&) = delete;
    TQuietLibraryLog& operator=(const TQuietLibraryLog&) = delete;

  private:
    int previous_;
    int previousLibraryLevel_;
};

// Whether the encoder opens with these values, set up as the engine sets up an audio stream:
// 16-bit samples when the encoder takes them, else its first format.
bool AudioEncoderOpens(const AVCodec* codec, int rate, int channels, int bitrate) {
    const TCodecContextPtr owner(LibAVCodec.avcodec_alloc_context3(codec));
    AVCodecContext* context = owner.get();
    if (!context) return false;
    context->sample_fmt = AV_SAMPLE_FMT_S16;
    if (codec->sample_fmts) {
        context->sample_fmt = codec->sample_fmts[0];
        for (const AVSampleFormat* format = codec->sample_fmts; *format != AV_SAMPLE_FMT_NONE;
             ++format)
            if (*format == AV_SAMPLE_FMT_S16) context->sample_fmt = AV_SAMPLE_FMT_S16;
    }
    LibAVUtil.av_channel_layout_uninit(&context->ch_layout);
    LibAVUtil.av_channel_layout_default(&context->ch_layout, channels);
    context->sample_rate = rate;
    context->time_base = AVRational{1, rate};
    context->bit_rate = bitrate;
    // A stand-in experimental encoder is run with the "strict" option that allows it.
    if (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL)
        context->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    return LibAVCodec.avcodec_open2(context, codec, nullptr) >= 0;
}

// Puts the chosen encoder's name in `name`, its option lines into the job and its note into
// the log.
TEncoderChoice UseEncoder(std::string& name, const TLoadedEncoders& encoders, TJobDescription& job,
                          std::vector<std::string>& logLines) {
    TEncoderChoice choice = ChooseEncoder(name, encoders);
    if (choice.Encoder.empty())
        throw TEncoderError("the media libraries have no encoder for \"" + name + "\"");
    name = choice.Encoder;
    job.OptionLines.insert(job.OptionLines.end(), choice.OptionLines.begin(),
                           choice.OptionLines.end());
    if (!choice.Note.empty()) logLines.push_back(choice.Note);
    return choice;
}

// The rate written: the job's, or else the input's real rate; the encoder's nearest when it
// refuses that one (a phone's 90000/3001 in MPEG-4 Part 2).
void FitFrameRateOf(TJobDescription& job, const AVCodec* codec, const TFrameRate& inputRate,
                    std::vector<std::string>& logLines) {
    const TFrameRate wanted = job.FrameRate ? *job.FrameRate : inputRate;
    if (wanted.Num <= 0 || wanted.Den <= 0) return;
    const AVRational requested{wanted.Num, wanted.Den};
    const AVRational fitted = FitFrameRate(codec, requested);
    if (av_cmp_q(fitted, requested) == 0) return;
    logLines.push_back(
        Refused(job.VideoCodec, FrameRateText(requested) + " fps", FrameRateText(fitted)));
    job.FrameRate = TFrameRate{fitted.num, fitted.den};
}

void FitVideo(TJobDescription& job, const std::string& inputSize, const TFrameRate& inputRate,
              const TLoadedEncoders& encoders, std::vector<std::string>& logLines) {
    UseEncoder(job.VideoCodec, encoders, job, logLines);
    const AVCodec* codec = encoders.Find(job.VideoCodec);
    FitFrameRateOf(job, codec, inputRate, logLines);
    const auto size = SizeOf(job.FrameSize.empty() ? inputSize : job.FrameSize);
    if (!size) return;
    const TSize fitted = FittedSize(codec->id, *size);
    if (fitted == *size) return;
    logLines.push_back(
        Refused(job.VideoCodec, "the frame size " + SizeText(*size), SizeText(fitted)));
    job.FrameSize = SizeText(fitted);
}

void FitAudio(TJobDescription& job, const TLoadedEncoders& encoders,
              std::vector<std::string>& logLines) {
    const bool aacForAmr = UseEncoder(job.AudioCodec, encoders, job, logLines).AacForAmr;
    const AVCodec* codec = encoders.Find(job.AudioCodec);
    const std::string& name = job.AudioCodec;
    if (aacForAmr && job.AudioBitrate > 0) {
        const int aac = AacBitrateForAmr(job.AudioBitrate);
        logLines.push_back("AAC in place of AMR-NB: " + Kbps(job.AudioBitrate) + " becomes " +
                           Kbps(aac));
        job.AudioBitrate = aac;
    }

    const std::vector<int> counts = ChannelCountsOf(codec);
    if (job.AudioChannels > 0 && !counts.empty() && !Listed(counts, job.AudioChannels)) {
        const int nearest = ByNearness(counts, job.AudioChannels)[1];
        logLines.push_back(Refused(name, Channels(job.AudioChannels), Channels(nearest)));
        job.AudioChannels = nearest;
    }
    if (job.AudioSampleRate <= 0) return;  // the input's rate, unknown here
    const std::vector<int> listedRates = SampleRatesOf(codec);
    if (!listedRates.empty() && !Listed(listedRates, job.AudioSampleRate)) {
        const int nearest = ByNearness(listedRates, job.AudioSampleRate)[1];
        logLines.push_back(Refused(name, Hz(job.AudioSampleRate), Hz(nearest)));
        job.AudioSampleRate = nearest;
    }

    // What the lists of the encoder do not tell (a bit rate; a rate or channel count of an
    // encoder without lists) only an attempt to open it shows. The values asked for are tried
    // first, then the channels, rates and bit rates nearest them, in that order of preference.
    // Unset channels are the input's: tried as stereo.
    const int wantedChannels = job.AudioChannels > 0 ? job.AudioChannels : 2;
    const std::vector<int> channelCounts =
        ByNearness(counts.empty() ? std::vector<int>{1, 2} : counts, wantedChannels);
    const std::vector<int> rates = ByNearness(
        listedRates.empty() ? std::vector<int>(std::begin(kCommonRates), std::end(kCommonRates))
                            : listedRates,
        job.AudioSampleRate);
    const std::vector<int> bitrates =
        job.AudioBitrate > 0
            ? ByNearness(std::vector<int>(std::begin(kBitrateLadder), std::end(kBitrateLadder)),
                         job.AudioBitrate)
            : std::vector<int>{job.AudioBitrate};
    const TQuietLibraryLog quiet;
    for (const int channels : channelCounts) {
        for (const int rate : rates) {
            for (const int bitrate : bitrates) {
                if (!AudioEncoderOpens(codec, rate, channels, std::max(bitrate, 0))) continue;
                if (channels != wantedChannels) {
                    logLines.push_back(Refused(name, Channels(wantedChannels), Channels(channels)));
                    job.AudioChannels = channels;
                }
                if (rate != job.AudioSampleRate) {
                    logLines.push_back(Refused(name, Hz(job.AudioSampleRate), Hz(rate)));
                }
                if (bitrate != job.AudioBitrate) {
                    logLines.push_back(
                        Refused(name, Kbps(job.AudioBitrate) + " at " + Hz(rate), Kbps(bitrate)));
                }
                job.AudioSampleRate = rate;
                job.AudioBitrate = bitrate;
                return;
            }
        }
    }
    throw TEncoderError(name + " takes neither " + Channels(wantedChannels) + " at " +
                        Hz(job.AudioSampleRate) + " and " + Kbps(job.AudioBitrate) +
                        " nor any values near them");
}

}  // namespace

int AacBitrateForAmr(int amrBitrate) {
    if (amrBitrate <= 5900) return 16000;
    if (amrBitrate <= 7950) return 24000;
    return 32000;
}

void FitJobToEncoders(TJobDescription& job, const std::string& inputSize,
                      const TLoadedEncoders& encoders, std::vector<std::string>& logLines,
                      const TFrameRate& inputRate) {
    if (!job.DisableVideo && !job.VideoCodec.empty())
        FitVideo(job, inputSize, inputRate, encoders, logLines);
    if (!job.AudioCodec.empty()) FitAudio(job, encoders, logLines);
}
