#include "support/DecodeMedia.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "support/ClipPattern.h"
#include "support/MediaHandles.h"

namespace {

// Opens the first stream of a type with its decoder and hands every decoded frame to `take`
// until it returns false or the stream ends (the decoder is flushed at the end).
void DecodeStream(const std::string& path, AVMediaType type,
                  const std::function<bool(const AVFrame*, const AVStream*)>& take) {
    const TInputPtr owner = OpenMediaFile(path);
    AVFormatContext* input = owner.get();
    const AVStream* stream = nullptr;
    for (unsigned i = 0; i < input->nb_streams && !stream; ++i)
        if (input->streams[i]->codecpar->codec_type == type) stream = input->streams[i];
    if (!stream)
        throw std::runtime_error("no " +
                                 std::string(type == AVMEDIA_TYPE_VIDEO ? "video" : "audio") +
                                 " stream in " + path);
    const AVCodec* codec = LibAVCodec.avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) throw std::runtime_error("avcodec_find_decoder found none for " + path);
    TCodecContextPtr decoder(
        CheckPtr(LibAVCodec.avcodec_alloc_context3(codec), "avcodec_alloc_context3", path));
    Check(LibAVCodec.avcodec_parameters_to_context(decoder.get(), stream->codecpar),
          "avcodec_parameters_to_context", path);
    decoder->pkt_timebase = stream->time_base;
    Check(LibAVCodec.avcodec_open2(decoder.get(), codec, nullptr), "avcodec_open2", path);
    TPacketPtr packet(CheckPtr(LibAVCodec.av_packet_alloc(), "av_packet_alloc", path));
    TFramePtr frame(CheckPtr(LibAVUtil.av_frame_alloc(), "av_frame_alloc", path));

    // Returns false once `take` has had enough.
    auto drain = [&] {
        for (;;) {
            const int rc = LibAVCodec.avcodec_receive_frame(decoder.get(), frame.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
            Check(rc, "avcodec_receive_frame", path);
            const bool more = take(frame.get(), stream);
            LibAVUtil.av_frame_unref(frame.get());
            if (!more) return false;
        }
    };
    for (;;) {
        const int rc = LibAVFormat.av_read_frame(input, packet.get());
        if (rc == AVERROR_EOF) break;
        Check(rc, "av_read_frame", path);
        if (packet->stream_index == stream->index) {
            const int sent = LibAVCodec.avcodec_send_packet(decoder.get(), packet.get());
            LibAVCodec.av_packet_unref(packet.get());
            // A damaged packet is the decoder's to conceal; the test judges the pictures.
            if (sent < 0 && sent != AVERROR_INVALIDDATA) Check(sent, "avcodec_send_packet", path);
            if (!drain()) return;
        } else {
            LibAVCodec.av_packet_unref(packet.get());
        }
    }
    Check(LibAVCodec.avcodec_send_packet(decoder.get(), nullptr), "avcodec_send_packet", path);
    drain();
}

}  // namespace

std::vector<TDecodedFrame> DecodeVideoFrames(const std::string& path, int maxFrames) {
    std::vector<TDecodedFrame> frames;
    if (maxFrames == 0) return frames;
    TSwsPtr scaler;
    DecodeStream(path, AVMEDIA_TYPE_VIDEO, [&](const AVFrame* f, const AVStream* stream) {
        TDecodedFrame& out = frames.emplace_back();
        out.width = f->width;
        out.height = f->height;
        const int cw = (f->width + 1) / 2, ch = (f->height + 1) / 2;
        out.y.resize(size_t(f->width) * f->height);
        out.u.resize(size_t(cw) * ch);
        out.v.resize(size_t(cw) * ch);
        uint8_t* planes[4] = {out.y.data(), out.u.data(), out.v.data(), nullptr};
        int strides[4] = {f->width, cw, cw, 0};
        scaler.reset(CheckPtr(LibSwScale.sws_getCachedContext(scaler.release(), f->width, f->height,
                                                              AVPixelFormat(f->format), f->width,
                                                              f->height, AV_PIX_FMT_YUV420P,
                                                              SWS_POINT, nullptr, nullptr, nullptr),
                              "sws_getCachedContext", path));
        Check(
            LibSwScale.sws_scale(scaler.get(), f->data, f->linesize, 0, f->height, planes, strides),
            "sws_scale", path);
        if (f->best_effort_timestamp != AV_NOPTS_VALUE) {
            const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
            out.seconds = double(f->best_effort_timestamp - start) * av_q2d(stream->time_base);
        }
        return maxFrames < 0 || int(frames.size()) < maxFrames;
    });
    return frames;
}

TDecodedAudio DecodeAudioSamples(const std::string& path) {
    TDecodedAudio audio;
    TSwrPtr resampler;
    auto convert = [&](const uint8_t** in, int count) {
        const size_t used = audio.samples.size();
        const int room = count + 256;
        audio.samples.resize(used + size_t(room) * audio.channels);
        uint8_t* out = reinterpret_cast<uint8_t*>(audio.samples.data() + used);
        const int made = Check(LibSwResample.swr_convert(resampler.get(), &out, room, in, count),
                               "swr_convert", path);
        audio.samples.resize(used + size_t(made) * audio.channels);
    };
    DecodeStream(path, AVMEDIA_TYPE_AUDIO, [&](const AVFrame* f, const AVStream*) {
        if (!resampler) {
            // Same rate and layout, interleaved float: a format change only.
            AVChannelLayout layout{};
            if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
                LibAVUtil.av_channel_layout_default(&layout, f->ch_layout.nb_channels);
            else
                Check(LibAVUtil.av_channel_layout_copy(&layout, &f->ch_layout),
                      "av_channel_layout_copy", path);
            SwrContext* swr = nullptr;
            const int rc = LibSwResample.swr_alloc_set_opts2(
                &swr, &layout, AV_SAMPLE_FMT_FLT, f->sample_rate, &layout,
                AVSampleFormat(f->format), f->sample_rate, 0, nullptr);
            LibAVUtil.av_channel_layout_uninit(&layout);
            resampler.reset(swr);
            Check(rc, "swr_alloc_set_opts2", path);
            Check(LibSwResample.swr_init(swr), "swr_init", path);
            audio.sampleRate = f->sample_rate;
            audio.channels = f->ch_layout.nb_channels;
        }
        if (f->sample_rate != audio.sampleRate || f->ch_layout.nb_channels != audio.channels)
            throw std::runtime_error("audio format changes midstream in " + path);
        convert(const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
        return true;
    });
    if (resampler) convert(nullptr, 0);
    return audio;
}

int ReadFrameNumber(const TDecodedFrame& frame) {
    using namespace clip_pattern;
    if (frame.width < kGridColumns || frame.height < kGridRows ||
        frame.y.size() < size_t(frame.width) * frame.height)
        return -1;
    const double cellWidth = double(frame.width) / kGridColumns;
    const double cellHeight = double(frame.height) / kGridRows;
    // The mean brightness of the middle half of a cell, away from edges that coding smears.
    auto lit = [&](int column, int row) {
        const int x0 = int((column + 0.25) * cellWidth),
                  x1 = std::max(x0 + 1, int((column + 0.75) * cellWidth));
        const int y0 = int((row + 0.25) * cellHeight),
                  y1 = std::max(y0 + 1, int((row + 0.75) * cellHeight));
        int sum = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) sum += frame.y[size_t(y) * frame.width + x];
        return sum / ((x1 - x0) * (y1 - y0)) > (kDark + kLight) / 2;
    };
    for (int column = kBoxLeft; column < kBoxRight; ++column)
        if (lit(column, kBoxTop) || lit(column, kBoxBottom - 1)) return -1;
    for (int row = kBoxTop; row < kBoxBottom; ++row)
        if (lit(kBoxLeft, row) || lit(kBoxRight - 1, row)) return -1;
    int number = 0;
    for (int k = 0; k < kDigits; ++k) {
        int pattern = 0;
        for (int row = 0; row < kDigitRows; ++row)
            for (int column = 0; column < kDigitColumns; ++column)
                pattern =
                    pattern << 1 | lit(kBoxLeft + 1 + k * kDigitPitch + column, kBoxTop + 1 + row);
        const auto digit = std::find(std::begin(kFont), std::end(kFont), pattern);
        if (digit == std::end(kFont)) return -1;
        number = number * 10 + int(digit - std::begin(kFont));
    }
    return number;
}

double MeasureToneFrequency(const TDecodedAudio& audio, double startSeconds, double lengthSeconds) {
    if (audio.channels <= 0 || audio.sampleRate <= 0) return 0;
    const int64_t count = int64_t(audio.samples.size()) / audio.channels;
    const int64_t first = std::max<int64_t>(0, std::llround(startSeconds * audio.sampleRate));
    const int64_t last =
        std::min<int64_t>(count, std::llround((startSeconds + lengthSeconds) * audio.sampleRate));
    // Rising crossings with hysteresis, so noise around zero does not count twice.
    int64_t firstRise = -1, lastRise = -1, rises = 0;
    bool low = false;
    for (int64_t i = first; i < last; ++i) {
        const float v = audio.samples[size_t(i * audio.channels)];
        if (v < -0.05f)
            low = true;
        else if (low && v > 0.05f) {
            low = false;
            if (firstRise < 0) firstRise = i;
            lastRise = i;
            ++rises;
        }
    }
    if (rises < 2) return 0;
    return double(rises - 1) * audio.sampleRate / double(lastRise - firstRise);
}
