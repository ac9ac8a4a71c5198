#include "engine/Loudness.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "binding/LibHandles.h"
#include "engine/CodecLock.h"
#include "engine/EngineTypes.h"
#include "engine/FilterChain.h"
#include "engine/SoundGraph.h"

namespace {

// Below this the integrated loudness is the gate's floor: nothing but silence was heard.
constexpr double kSilent = -69.9;

std::string LibraryError(int code) {
    char reason[AV_ERROR_MAX_STRING_SIZE] = {};
    LibAVUtil.av_strerror(code, reason, sizeof reason);
    return reason;
}

double ParseNumber(const std::string& text, const std::string& whole) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value))
        throw FFMpegException("loudness: \"" + text + "\" is not a number (in \"" + whole + "\")");
    return value;
}

// The decoded sound of one stream through a mix and ebur128, whose figures ride on the frames
// that come out.
class TMeter {
  public:
    TMeter(const std::string& file, int channels) : file_(file), channels_(channels) {}
    void Add(AVFrame* frame);
    void Finish();
    TLoudnessFigures Figures() const { return figures_; }

  private:
    void Build(const AVFrame* frame);
    void Drain();
    [[noreturn]] void Fail(const char* call, int code) const {
        throw FFMpegException("Loudness measurement of " + file_ + ": " + call +
                              " failed: " + LibraryError(code));
    }

    const std::string file_;
    const int channels_;
    TFilterGraphPtr graph_;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    TFramePtr out_{LibAVUtil.av_frame_alloc()};
    int64_t frames_ = 0, rate_ = 0;
    TLoudnessFigures figures_;
    double peak_ = 0;  // linear
};

void TMeter::Build(const AVFrame* frame) {
    graph_.reset(LibAVFilter.avfilter_graph_alloc());
    if (!graph_ || !out_) Fail("avfilter_graph_alloc", AVERROR(ENOMEM));
    graph_->nb_threads = 1;
    char layout[128] = "";
    AVChannelLayout usual{};
    const AVChannelLayout* given = &frame->ch_layout;
    if (given->order == AV_CHANNEL_ORDER_UNSPEC) {
        LibAVUtil.av_channel_layout_default(&usual, given->nb_channels);
        given = &usual;
    }
    LibAVUtil.av_channel_layout_describe(given, layout, sizeof layout);
    const char* format =
        LibAVUtil.av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format));
    const std::string source =
        FormatText("sample_rate=%d:sample_fmt=%s:channel_layout=%s:time_base=1/%d",
                   frame->sample_rate, format ? format : "s16", layout, frame->sample_rate);
    int result = LibAVFilter.avfilter_graph_create_filter(
        &source_, LibAVFilter.avfilter_get_by_name("abuffer"), "in", source.c_str(), nullptr,
        graph_.get());
    if (result < 0) Fail("avfilter_graph_create_filter(abuffer)", result);
    result = LibAVFilter.avfilter_graph_create_filter(
        &sink_, LibAVFilter.avfilter_get_by_name("abuffersink"), "out", nullptr, nullptr,
        graph_.get());
    if (result < 0) Fail("avfilter_graph_create_filter(abuffersink)", result);
    const std::string mix = SoundMixFilters(frame->ch_layout.nb_channels, channels_);
    const std::string filters = mix + "ebur128=peak=true:metadata=1";
    const TFilterChainResult chained =
        ConnectFilterChain(graph_.get(), source_, sink_, filters.c_str());
    if (chained.Code < 0) Fail(chained.Step, chained.Code);
    rate_ = frame->sample_rate;
}

void TMeter::Add(AVFrame* frame) {
    if (!graph_) Build(frame);
    // A stream that changes its rate or channels midway is measured as it began.
    if (frame->sample_rate != rate_) return;
    frames_ += frame->nb_samples;
    frame->pts = AV_NOPTS_VALUE;
    const int result = LibAVFilter.av_buffersrc_add_frame_flags(source_, frame, 0);
    if (result < 0) Fail("av_buffersrc_add_frame_flags", result);
    Drain();
}

void TMeter::Finish() {
    if (!graph_) return;
    const int result = LibAVFilter.av_buffersrc_add_frame_flags(source_, nullptr, 0);
    if (result < 0) Fail("av_buffersrc_add_frame_flags", result);
    Drain();
    figures_.TruePeak = peak_ > 0 ? 20 * std::log10(peak_) : -144;
    figures_.Seconds = rate_ > 0 ? static_cast<double>(frames_) / rate_ : 0;
}

void TMeter::Drain() {
    for (;;) {
        const int result = LibAVFilter.av_buffersink_get_frame(sink_, out_.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
        if (result < 0) Fail("av_buffersink_get_frame", result);
        const auto value = [this](const char* key, double& into) {
            const AVDictionaryEntry* entry = LibAVUtil.av_dict_get(out_->metadata, key, nullptr, 0);
            if (entry) into = std::strtod(entry->value, nullptr);
        };
        // Each figure is the whole sound's so far; the last frame's are the stream's.
        value("lavfi.r128.I", figures_.Integrated);
        value("lavfi.r128.LRA", figures_.Range);
        double peak = 0;
        value("lavfi.r128.true_peak", peak);
        peak_ = std::max(peak_, peak);
        LibAVUtil.av_frame_unref(out_.get());
    }
}

int ChooseSoundStream(const AVFormatContext* context, int asked) {
    const auto isSound = [context](int i) {
        return i >= 0 && i < static_cast<int>(context->nb_streams) &&
               context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    };
    if (asked >= 0) return isSound(asked) ? asked : -1;
    int chosen = -1;
    for (int i = 0; i < static_cast<int>(context->nb_streams); ++i) {
        if (!isSound(i)) continue;
        const AVStream* stream = context->streams[i];
        if (stream->disposition & AV_DISPOSITION_DEFAULT) return i;
        if (chosen < 0 || stream->codecpar->ch_layout.nb_channels >
                              context->streams[chosen]->codecpar->ch_layout.nb_channels)
            chosen = i;
    }
    return chosen;
}

}  // namespace

TLoudnessRequest ParseLoudnessRequest(const std::string& text) {
    TLoudnessRequest request;
    bool hasGain = false;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find(':', start);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(start, end - start);
        start = end + 1;
        const size_t equals = part.find('=');
        const std::string key = part.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : part.substr(equals + 1);
        if (key == "I")
            request.Target = ParseNumber(value, text);
        else if (key == "TP")
            request.Ceiling = ParseNumber(value, text);
        else if (key == "gain")
            request.AlbumGain = ParseNumber(value, text), hasGain = true;
        else
            throw FFMpegException("loudness: unknown part \"" + part + "\" in \"" + text +
                                  "\" (I=LUFS or gain=dB, and TP=dBTP)");
    }
    if (request.Target.has_value() == hasGain)
        throw FFMpegException("loudness: \"" + text + "\" needs either I=LUFS or gain=dB");
    if (request.Target && (*request.Target < kLeastLoudness || *request.Target > kMostLoudness))
        throw FFMpegException("loudness: the target " + LoudnessNumber(*request.Target) +
                              " LUFS is outside -70 ... -5");
    if (request.Ceiling < kLeastCeiling || request.Ceiling > kMostCeiling)
        throw FFMpegException("loudness: the true-peak ceiling " + LoudnessNumber(request.Ceiling) +
                              " dBTP is outside -9 ... 0");
    return request;
}

std::string LoudnessRequestText(const TLoudnessRequest& request) {
    const std::string level = request.Target ? "I=" + LoudnessNumber(*request.Target)
                                             : "gain=" + LoudnessNumber(request.AlbumGain);
    return level + ":TP=" + LoudnessNumber(request.Ceiling);
}

std::string LoudnessNumber(double value, bool sign) {
    char text[32];
    // One decimal, as meters show it; "-0.0" reads as 0.
    value = std::round(value * 10) / 10;
    if (value == 0) value = 0;
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
    const std::string number(text, result.ptr);
    return sign && value >= 0 ? "+" + number : number;
}

TLoudnessFigures MeasureLoudness(const std::string& file, int streamIndex, int channels) {
    const auto fail = [&file](const std::string& what, int code) {
        return FFMpegException("Loudness measurement of " + file + ": " + what +
                               (code < 0 ? ": " + LibraryError(code) : std::string()));
    };
    AVFormatContext* opened = nullptr;
    int result = LibAVFormat.avformat_open_input(&opened, file.c_str(), nullptr, nullptr);
    TInputPtr input(opened);
    if (result < 0) throw fail("the file cannot be opened", result);
    result = LibAVFormat.avformat_find_stream_info(input.get(), nullptr);
    if (result < 0) throw fail("its streams cannot be read", result);
    const int index = ChooseSoundStream(input.get(), streamIndex);
    if (index < 0) throw fail("it has no sound", 0);
    const AVCodecParameters* parameters = input->streams[index]->codecpar;
    const AVCodec* codec = LibAVCodec.avcodec_find_decoder(parameters->codec_id);
    if (!codec) throw fail("no decoder for its sound", 0);
    TCodecContextPtr decoder(LibAVCodec.avcodec_alloc_context3(codec));
    if (!decoder) throw fail("avcodec_alloc_context3", AVERROR(ENOMEM));
    result = LibAVCodec.avcodec_parameters_to_context(decoder.get(), parameters);
    TOpenCodecList opens;
    if (result >= 0) result = OpenCodecLocked(opens, decoder.get(), codec, nullptr);
    if (result < 0) throw fail("the sound's decoder cannot be opened", result);
    // Only the sound is read: the demuxer drops the other streams' packets.
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (static_cast<int>(i) != index) input->streams[i]->discard = AVDISCARD_ALL;

    TMeter meter(file, channels);
    TPacketPtr packet(LibAVCodec.av_packet_alloc());
    TFramePtr frame(LibAVUtil.av_frame_alloc());
    if (!packet || !frame) throw fail("av_packet_alloc", AVERROR(ENOMEM));
    const auto receive = [&] {
        while (LibAVCodec.avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            meter.Add(frame.get());
            LibAVUtil.av_frame_unref(frame.get());
        }
    };
    while (LibAVFormat.av_read_frame(input.get(), packet.get()) >= 0) {
        // A damaged packet is skipped, as the conversion skips it.
        if (packet->stream_index == index)
            LibAVCodec.avcodec_send_packet(decoder.get(), packet.get());
        LibAVCodec.av_packet_unref(packet.get());
        receive();
    }
    LibAVCodec.avcodec_send_packet(decoder.get(), nullptr);
    receive();
    meter.Finish();
    FreeCodecContextLocked(opens, decoder);
    const TLoudnessFigures figures = meter.Figures();
    if (figures.Seconds <= 0) throw fail("no sound could be decoded", 0);
    return figures;
}

TLoudnessPlan PlanLoudness(const TLoudnessRequest& request, const TLoudnessFigures& figures,
                           double headroom) {
    TLoudnessPlan plan;
    plan.Note = "loudness: " + LoudnessNumber(figures.Integrated) + " LUFS, peak " +
                LoudnessNumber(figures.TruePeak) + " dBTP; ";
    if (figures.Integrated <= kSilent) {
        plan.Note += "silent, left as it is";
        return plan;
    }
    const double target =
        std::clamp(request.Target ? *request.Target : figures.Integrated + request.AlbumGain,
                   kLeastLoudness, kMostLoudness);
    const double ceiling = std::max(request.Ceiling - headroom, kLeastCeiling);
    plan.GainDb = target - figures.Integrated;
    if (figures.TruePeak + plan.GainDb <= ceiling) {
        plan.Filters = "volume=volume=" + LoudnessNumber(plan.GainDb) + "dB:precision=double,";
        plan.Note += "linear gain " + LoudnessNumber(plan.GainDb, true) + " dB";
        return plan;
    }
    // Too peaky for one gain: loudnorm follows the loudness over time and limits the peaks. Its
    // gate is told the relative threshold ebur128 used (10 LU under the integrated loudness).
    const double range = std::clamp(std::max(figures.Range, 11.0), 1.0, 50.0);
    plan.Filters = "loudnorm=I=" + LoudnessNumber(target) + ":TP=" + LoudnessNumber(ceiling) +
                   ":LRA=" + LoudnessNumber(range) +
                   ":measured_I=" + LoudnessNumber(figures.Integrated) +
                   ":measured_TP=" + LoudnessNumber(std::clamp(figures.TruePeak, -99.0, 99.0)) +
                   ":measured_LRA=" + LoudnessNumber(figures.Range) +
                   ":measured_thresh=" + LoudnessNumber(figures.Integrated - 10) +
                   ":linear=false:print_format=none,";
    plan.Upsamples = true;
    plan.Note += "dynamic to " + LoudnessNumber(target) + " LUFS (a gain of " +
                 LoudnessNumber(plan.GainDb, true) + " dB would pass the " +
                 LoudnessNumber(ceiling) + " dBTP ceiling)";
    return plan;
}
