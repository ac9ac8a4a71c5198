#include "engine/SoundGraph.h"

#include <algorithm>
#include <cstring>

#include "engine/EngineTypes.h"
#include "engine/FilterChain.h"

namespace {

// Whatever the resampler still holds at the end comes out in pieces of this many sample frames.
constexpr int kFlushFrames = 4096;

AVChannelLayout DefaultLayout(int channels) {
    AVChannelLayout layout{};
    LibAVUtil.av_channel_layout_default(&layout, channels);
    return layout;
}

// A layout as the filters' options take it: the channel mask, or for a layout without one the
// usual layout of its channel count.
std::string LayoutText(const AVChannelLayout& layout) {
    uint64_t mask = layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
    if (!mask) mask = DefaultLayout(layout.nb_channels).u.mask;
    return FormatText("0x%llx", static_cast<unsigned long long>(mask));
}

std::string SourceText(const AVChannelLayout& layout, int rate) {
    return FormatText("sample_rate=%d:sample_fmt=s16:channel_layout=%s:time_base=1/%d", rate,
                      LayoutText(layout).c_str(), rate);
}

}  // namespace

std::string SoundMixFilters(int from, int to) {
    // Mono becomes both channels at full level and stereo their average, as listeners expect;
    // other counts take the library's mix.
    if (to <= 0 || from == to) return "";
    if (from == 1 && to == 2) return "pan=stereo|c0=c0|c1=c0,";
    if (from == 2 && to == 1) return "pan=mono|c0=0.5*c0+0.5*c1,";
    return "aformat=channel_layouts=" + LayoutText(DefaultLayout(to)) + ",";
}

TSoundGraph::TSoundGraph(const AVCodecContext* encoder, const TSettings& settings)
    : encoder_(encoder),
      settings_(settings),
      block_(LibAVUtil.av_frame_alloc()),
      converted_(LibAVUtil.av_frame_alloc()),
      ready_(LibAVUtil.av_frame_alloc()) {
    if (!block_ || !converted_ || !ready_) Fail("av_frame_alloc", AVERROR(ENOMEM));
    if (encoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
        LibAVUtil.av_channel_layout_copy(&encoderLayout_, &encoder->ch_layout) < 0)
        encoderLayout_ = DefaultLayout(encoder->ch_layout.nb_channels);
    const char* format = LibAVUtil.av_get_sample_fmt_name(encoder->sample_fmt);
    Build(framing_, SourceText(encoderLayout_, encoder->sample_rate),
          FormatText("aformat=sample_fmts=%s:sample_rates=%d:channel_layouts=%s",
                     format ? format : "s16", encoder->sample_rate,
                     LayoutText(encoderLayout_).c_str()));
    if (encoder->frame_size > 1)
        LibAVFilter.av_buffersink_set_frame_size(framing_.Sink, encoder->frame_size);
}

TSoundGraph::~TSoundGraph() {
    LibAVUtil.av_channel_layout_uninit(&encoderLayout_);
}

void TSoundGraph::Fail(const char* call, int code) const {
    char reason[AV_ERROR_MAX_STRING_SIZE] = {};
    LibAVUtil.av_strerror(code, reason, sizeof reason);
    throw FFMpegException::Format("Audio conversion to %d channels @ %d Hz: %s failed: %s",
                                  encoder_->ch_layout.nb_channels, encoder_->sample_rate, call,
                                  reason);
}

void TSoundGraph::Build(TChain& chain, const std::string& source, const std::string& filters) {
    chain = TChain{};
    chain.Graph.reset(LibAVFilter.avfilter_graph_alloc());
    if (!chain.Graph) Fail("avfilter_graph_alloc", AVERROR(ENOMEM));
    // One thread: the graph runs once per block, on the thread that encodes the stream.
    chain.Graph->nb_threads = 1;
    int result = LibAVFilter.avfilter_graph_create_filter(
        &chain.Source, LibAVFilter.avfilter_get_by_name("abuffer"), "in", source.c_str(), nullptr,
        chain.Graph.get());
    if (result < 0) Fail("avfilter_graph_create_filter(abuffer)", result);
    result = LibAVFilter.avfilter_graph_create_filter(
        &chain.Sink, LibAVFilter.avfilter_get_by_name("abuffersink"), "out", nullptr, nullptr,
        chain.Graph.get());
    if (result < 0) Fail("avfilter_graph_create_filter(abuffersink)", result);

    const TFilterChainResult chained =
        ConnectFilterChain(chain.Graph.get(), chain.Source, chain.Sink, filters.c_str());
    if (chained.Code < 0) Fail(chained.Step, chained.Code);
}

void TSoundGraph::SetSource(int channels, int rate) {
    if (conversion_.Graph && channels == sourceChannels_ && rate == sourceRate_) return;
    const int encChannels = encoder_->ch_layout.nb_channels;
    const int encRate = encoder_->sample_rate;
    // Once an output resamples, it keeps doing so.
    resamples_ =
        resamples_ || channels != encChannels || rate != encRate || settings_.CompensationLimit > 0;
    sourceChannels_ = channels;
    sourceRate_ = rate;
    AVChannelLayout layout = resamples_ ? DefaultLayout(channels) : encoderLayout_;
    std::string filters;
    if (settings_.Volume != 256)
        filters = FormatText("volume=volume=%d/256:precision=fixed,", settings_.Volume);
    if (settings_.CompensationLimit > 0) {
        // The resampler after the graph mixes the channels: the loudness goes before it.
        filters = LoudnessFilters(rate, layout) + filters + "aformat=sample_fmts=s16";
        MakeResampler(channels, rate);
    } else if (resamples_) {
        // The mix of stereo to mono comes after the rate, as one resampler would do them.
        const std::string target = LayoutText(encoderLayout_);
        if (channels == 1 && encChannels == 2)
            filters += SoundMixFilters(channels, encChannels);
        else if (channels == 2 && encChannels == 1)
            filters += FormatText("aresample,aformat=sample_fmts=s16:sample_rates=%d,", encRate) +
                       SoundMixFilters(channels, encChannels);
        // The loudness was measured on the mixed sound and is normalised there.
        const std::string final = FormatText(
            "aformat=sample_fmts=s16:sample_rates=%d:channel_layouts=%s", encRate, target.c_str());
        filters += "aresample," + final;
        if (!settings_.Loudness.empty())
            filters += "," + LoudnessFilters(encRate, encoderLayout_) + final;
    } else {
        filters = LoudnessFilters(rate, layout) + filters + "aformat=sample_fmts=s16";
    }
    Build(conversion_, SourceText(layout, rate), filters);
}

std::string TSoundGraph::LoudnessFilters(int rate, const AVChannelLayout& layout) const {
    if (!settings_.LoudnessUpsamples) return settings_.Loudness;
    // Back at the rate it came at, with its layout named (loudnorm leaves it open).
    return settings_.Loudness +
           FormatText("aresample=%d,aformat=channel_layouts=%s,", rate, LayoutText(layout).c_str());
}

void TSoundGraph::MakeResampler(int channels, int rate) {
    const int encChannels = encoder_->ch_layout.nb_channels;
    const int encRate = encoder_->sample_rate;
    resampler_.reset();
    AVChannelLayout inLayout = DefaultLayout(channels);
    SwrContext* allocated = nullptr;
    int made =
        LibSwResample.swr_alloc_set_opts2(&allocated, &encoderLayout_, AV_SAMPLE_FMT_S16, encRate,
                                          &inLayout, AV_SAMPLE_FMT_S16, rate, 0, nullptr);
    TSwrPtr owned(allocated);
    // The same mix as the conversion graph's.
    static const double kMonoToStereo[2] = {1.0, 1.0};
    static const double kStereoToMono[2] = {0.5, 0.5};
    if (made >= 0 && channels == 1 && encChannels == 2)
        made = LibSwResample.swr_set_matrix(owned.get(), kMonoToStereo, 1);
    else if (made >= 0 && channels == 2 && encChannels == 1)
        made = LibSwResample.swr_set_matrix(owned.get(), kStereoToMono, 2);
    // Drift compensation needs the resampling engine even at equal rates.
    if (made >= 0) made = LibAVUtil.av_opt_set_int(owned.get(), "flags", SWR_FLAG_RESAMPLE, 0);
    if (made >= 0) made = LibSwResample.swr_init(owned.get());
    if (made < 0)
        throw FFMpegException::Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                      channels, rate, encChannels, encRate);
    resampler_ = std::move(owned);
}

bool TSoundGraph::Compensate(int frames, int over) {
    if (!resampler_) return false;
    const int result = LibSwResample.swr_set_compensation(resampler_.get(), frames, over);
    if (result < 0) Fail("swr_set_compensation", result);
    return true;
}

void TSoundGraph::Push(TChain& chain, const uint8_t* s16, int frames, const AVChannelLayout& layout,
                       int rate) {
    AVFrame* frame = block_.get();
    LibAVUtil.av_frame_unref(frame);
    frame->format = AV_SAMPLE_FMT_S16;
    frame->sample_rate = rate;
    frame->nb_samples = frames;
    frame->pts = chain.Pushed;
    frame->time_base = AVRational{1, rate};
    int result = LibAVUtil.av_channel_layout_copy(&frame->ch_layout, &layout);
    if (result >= 0) result = LibAVUtil.av_frame_get_buffer(frame, 0);
    if (result < 0) Fail("av_frame_get_buffer", result);
    std::memcpy(frame->data[0], s16, static_cast<size_t>(frames) * 2 * layout.nb_channels);
    // The source takes the frame's buffers; the frame is blank afterwards.
    result = LibAVFilter.av_buffersrc_add_frame_flags(chain.Source, frame, 0);
    if (result < 0) Fail("av_buffersrc_add_frame_flags", result);
    chain.Pushed += frames;
}

void TSoundGraph::PushEnd(TChain& chain) {
    if (!chain.Graph || chain.Ended) return;
    chain.Ended = true;
    const int result = LibAVFilter.av_buffersrc_add_frame_flags(chain.Source, nullptr, 0);
    if (result < 0) Fail("av_buffersrc_add_frame_flags", result);
}

void TSoundGraph::Add(const uint8_t* s16, int frames) {
    if (frames <= 0 || conversion_.Ended) return;
    if (!conversion_.Graph) Fail("the audio conversion", AVERROR(EINVAL));
    AVChannelLayout layout = resamples_ ? DefaultLayout(sourceChannels_) : encoderLayout_;
    Push(conversion_, s16, frames, layout, sourceRate_);
    PassConverted();
}

void TSoundGraph::PassConverted() {
    AVFrame* frame = converted_.get();
    for (;;) {
        LibAVUtil.av_frame_unref(frame);
        const int result = LibAVFilter.av_buffersink_get_frame(conversion_.Sink, frame);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
        if (result < 0) Fail("av_buffersink_get_frame", result);
        if (resampler_)
            PassResampled(frame->nb_samples);
        else
            Frame(frame->data[0], frame->nb_samples);
    }
}

int TSoundGraph::PassResampled(int frames) {
    const int encRate = encoder_->sample_rate;
    const int64_t delay = LibSwResample.swr_get_delay(resampler_.get(), sourceRate_);
    // Room for the converted block, what the resampler still holds and any compensation; at
    // the end, a piece of what it holds.
    const int64_t room =
        frames > 0 ? (delay + frames) * encRate / sourceRate_ + 256 + settings_.CompensationLimit
                   : kFlushFrames;
    TFramePtr out(LibAVUtil.av_frame_alloc());
    if (!out) Fail("av_frame_alloc", AVERROR(ENOMEM));
    out->format = AV_SAMPLE_FMT_S16;
    out->nb_samples = static_cast<int>(room);
    int result = LibAVUtil.av_channel_layout_copy(&out->ch_layout, &encoderLayout_);
    if (result >= 0) result = LibAVUtil.av_frame_get_buffer(out.get(), 0);
    if (result < 0) Fail("av_frame_get_buffer", result);
    const AVFrame* in = converted_.get();
    const int converted = LibSwResample.swr_convert(
        resampler_.get(), out->extended_data, static_cast<int>(room),
        frames > 0 ? const_cast<const uint8_t**>(in->extended_data) : nullptr, frames);
    if (converted < 0)
        throw FFMpegException::Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                      sourceChannels_, sourceRate_, encoder_->ch_layout.nb_channels,
                                      encRate);
    if (converted > 0) Frame(out->data[0], converted);
    return converted;
}

void TSoundGraph::Frame(const uint8_t* s16, int frames) {
    const int frameBytes = 2 * encoderLayout_.nb_channels;
    // Encoders with a frame size of their own get whole frames from the sink; the others take
    // what comes in pieces that fit one packet.
    const int piece = encoder_->frame_size > 1 ? frames : std::max(settings_.PieceFrames, 1);
    for (int done = 0; done < frames;) {
        const int count = std::min(piece, frames - done);
        Push(framing_, s16 + static_cast<ptrdiff_t>(done) * frameBytes, count, encoderLayout_,
             encoder_->sample_rate);
        framed_ += count;
        done += count;
    }
}

void TSoundGraph::Finish() {
    if (framing_.Ended) return;
    if (conversion_.Graph && !conversion_.Ended) {
        PushEnd(conversion_);
        PassConverted();
        // What the resampler still holds belongs to the end of the stream.
        while (resampler_ && PassResampled(0) > 0) {
        }
    }
    PushEnd(framing_);
}

AVFrame* TSoundGraph::NextFrame() {
    AVFrame* frame = ready_.get();
    LibAVUtil.av_frame_unref(frame);
    const int result = LibAVFilter.av_buffersink_get_frame(framing_.Sink, frame);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return nullptr;
    if (result < 0) Fail("av_buffersink_get_frame", result);
    taken_ += frame->nb_samples;
    return frame;
}
