// Audio output: converts a block of decoded s16 samples to the encoder's channels and rate,
// keeps it in step with the input's clock, collects it into encoder frames and encodes.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/CustomFFmpeg.h"

namespace {

// The output is left alone while it is this many sample frames off the input's clock.
constexpr double kAudioSyncTolerance = 50;
// The largest block, silence included, that one call hands on while the input is behind.
constexpr int64_t kLargestAudioBlock = 131072;

// The layout of `channels` channels that the conversions use for the input side.
AVChannelLayout DefaultLayout(int channels) {
    AVChannelLayout layout{};
    LibAVUtil.av_channel_layout_default(&layout, channels);
    return layout;
}

// The encoder's layout when it names its channels, else the usual one for its count.
AVChannelLayout EncoderLayout(const AVCodecContext* enc) {
    if (enc->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
        AVChannelLayout layout{};
        if (LibAVUtil.av_channel_layout_copy(&layout, &enc->ch_layout) >= 0) return layout;
    }
    return DefaultLayout(enc->ch_layout.nb_channels);
}

}  // namespace

TCustomFFmpeg::TAudioSyncPlan TCustomFFmpeg::PlanAudioSync(double syncTime, int encRate,
                                                           int64_t syncOpts, int64_t fifoFrames,
                                                           int decRate, int decChannels,
                                                           int64_t blockBytes, bool isStart,
                                                           int method, double driftThreshold) {
    TAudioSyncPlan plan;
    plan.Delta =
        syncTime * encRate - static_cast<double>(syncOpts) - static_cast<double>(fifoFrames);
    if (std::fabs(plan.Delta) <= kAudioSyncTolerance || encRate <= 0 || decChannels <= 0)
        return plan;
    const int frameBytes = 2 * decChannels;
    // Whole input sample frames, bounded so that no arithmetic below can overflow.
    const double inputFrames = std::trunc(plan.Delta * decRate / encRate);
    const double limit = static_cast<double>(kLargestAudioBlock + blockBytes) / frameBytes + 1;
    const int64_t byteDelta =
        static_cast<int64_t>(std::clamp(inputFrames, -limit, limit)) * frameBytes;

    if (isStart || std::fabs(plan.Delta) > driftThreshold * encRate) {
        if (byteDelta < 0) {
            plan.Kind = TAudioSyncPlan::Discard;
            plan.Bytes = std::min(-byteDelta, blockBytes);
            plan.ClearStart = plan.Bytes < blockBytes;
        } else {
            plan.Kind = TAudioSyncPlan::Silence;
            plan.Bytes = byteDelta;
            if (byteDelta + blockBytes <= kLargestAudioBlock) {
                plan.ClearStart = true;
            } else {
                // Only what fits; the start flag stays, so the next blocks make up the rest.
                const int64_t room = std::max<int64_t>(kLargestAudioBlock - blockBytes, 0);
                plan.Bytes = room - room % frameBytes;
            }
        }
    } else if (method > 1) {
        plan.Kind = TAudioSyncPlan::Compensate;
        const double comp = std::clamp(std::trunc(plan.Delta), -static_cast<double>(method),
                                       static_cast<double>(method));
        plan.Compensation = static_cast<int>(comp);
    }
    return plan;
}

int64_t TCustomFFmpeg::SamplePerFrameCodedBytes(AVCodecID codec, int64_t s16Bytes) {
    switch (codec) {
        case AV_CODEC_ID_PCM_S16LE:
        case AV_CODEC_ID_PCM_S16BE:
        case AV_CODEC_ID_PCM_U16LE:
        case AV_CODEC_ID_PCM_U16BE:
            return s16Bytes;
        case AV_CODEC_ID_PCM_S32LE:
        case AV_CODEC_ID_PCM_S32BE:
        case AV_CODEC_ID_PCM_U32LE:
        case AV_CODEC_ID_PCM_U32BE:
        case AV_CODEC_ID_PCM_F32BE:
            return s16Bytes * 2;
        case AV_CODEC_ID_PCM_S24LE:
        case AV_CODEC_ID_PCM_S24BE:
        case AV_CODEC_ID_PCM_U24LE:
        case AV_CODEC_ID_PCM_U24BE:
        case AV_CODEC_ID_PCM_S24DAUD:
            return s16Bytes / 2 * 3;
        default:
            return s16Bytes / 2;
    }
}

void TCustomFFmpeg::EncodeAudioFrame(AVFormatContext* file, TOutputStreamState& ost,
                                     const uint8_t* s16, int frames) {
    AVCodecContext* enc = ost.Encoder;
    if (!ost.EncoderFrame) ost.EncoderFrame.reset(LibAVUtil.av_frame_alloc());
    AVFrame* frame = ost.EncoderFrame.get();
    if (!frame) throw FFMpegException("Audio encoding failed");
    // A fresh buffer per frame: the encoder may still hold the last one.
    LibAVUtil.av_frame_unref(frame);
    frame->format = enc->sample_fmt;
    frame->sample_rate = enc->sample_rate;
    frame->nb_samples = frames;
    AVChannelLayout layout = EncoderLayout(enc);
    LibAVUtil.av_channel_layout_copy(&frame->ch_layout, &layout);
    if (LibAVUtil.av_frame_get_buffer(frame, 0) < 0) {
        LibAVUtil.av_channel_layout_uninit(&layout);
        throw FFMpegException("Audio encoding failed");
    }

    if (enc->sample_fmt == AV_SAMPLE_FMT_S16) {
        std::memcpy(frame->data[0], s16,
                    static_cast<size_t>(frames) * 2 * enc->ch_layout.nb_channels);
    } else {
        if (!ost.ToEncoder) {
            SwrContext* made = nullptr;
            const int result = LibSwResample.swr_alloc_set_opts2(
                &made, &layout, enc->sample_fmt, enc->sample_rate, &layout, AV_SAMPLE_FMT_S16,
                enc->sample_rate, 0, nullptr);
            TSwrPtr converter(made);
            if (result < 0 || LibSwResample.swr_init(converter.get()) < 0) {
                LibAVUtil.av_channel_layout_uninit(&layout);
                throw FFMpegException::Format(
                    "Can not convert audio to the %s samples of the encoder",
                    LibAVUtil.av_get_sample_fmt_name(enc->sample_fmt));
            }
            ost.ToEncoder = std::move(converter);
        }
        const uint8_t* in[1] = {s16};
        const int converted = LibSwResample.swr_convert(ost.ToEncoder.get(), frame->extended_data,
                                                        frames, in, frames);
        if (converted != frames) {
            LibAVUtil.av_channel_layout_uninit(&layout);
            throw FFMpegException("Audio encoding failed");
        }
    }
    LibAVUtil.av_channel_layout_uninit(&layout);

    // Frames never overlap, even when the input's clock steps back a little.
    frame->pts = std::max(ost.SyncOpts, ost.AudioNextPts);
    ost.AudioNextPts = frame->pts + frames;
    EncodeAndWrite(file, ost, frame, "Audio encoding failed");
    LibAVUtil.av_frame_unref(frame);
    ost.SyncOpts += frames;
    ++ost.FrameNumber;
}

void TCustomFFmpeg::EncodeAudioBlock(AVFormatContext* file, TOutputStreamState& ost,
                                     const uint8_t* s16, int bytes) {
    AVCodecContext* enc = ost.Encoder;
    const int channels = enc->ch_layout.nb_channels;
    const int frameBytes = 2 * channels;
    const int blockFrames = bytes / frameBytes;
    if (blockFrames <= 0) return;

    if (enc->frame_size > 1) {
        if (!ost.Fifo) {
            ost.Fifo.reset(
                LibAVUtil.av_audio_fifo_alloc(AV_SAMPLE_FMT_S16, channels, enc->frame_size));
            if (!ost.Fifo) return;
        }
        void* in[1] = {const_cast<uint8_t*>(s16)};
        if (LibAVUtil.av_audio_fifo_write(ost.Fifo.get(), in, blockFrames) < blockFrames) return;
        const int frameSize = enc->frame_size;
        while (LibAVUtil.av_audio_fifo_size(ost.Fifo.get()) >= frameSize) {
            if (!ost.AudioStaging.Reserve(static_cast<size_t>(frameSize) * frameBytes)) return;
            void* out[1] = {ost.AudioStaging.Data()};
            if (LibAVUtil.av_audio_fifo_read(ost.Fifo.get(), out, frameSize) < frameSize) return;
            EncodeAudioFrame(file, ost, ost.AudioStaging.Data(), frameSize);
        }
        return;
    }

    // Sample-per-frame encoders take the block as it is, in pieces whose coded size fits the
    // encoder output buffer.
    const int64_t codedFrameBytes = std::max<int64_t>(
        SamplePerFrameCodedBytes(enc->codec_id, int64_t{frameBytes} * 1024) / 1024, 1);
    const int64_t bufferSize = std::max<int64_t>(EncoderOutputBufferSize, 4096);
    const int piece = static_cast<int>(std::max<int64_t>(bufferSize / codedFrameBytes, 1));
    for (int done = 0; done < blockFrames;) {
        const int frames = std::min(piece, blockFrames - done);
        EncodeAudioFrame(file, ost, s16 + static_cast<ptrdiff_t>(done) * frameBytes, frames);
        done += frames;
    }
}

void TCustomFFmpeg::AudioOutput(AVFormatContext* file, TOutputStreamState& ost,
                                TInputStreamState& ist, uint8_t* samples, int size) {
    AVCodecContext* enc = ost.Encoder;
    if (!enc || !samples) return;
    const int encChannels = enc->ch_layout.nb_channels;
    const int encRate = enc->sample_rate;
    const int decChannels = ist.SampleChannels;
    const int decRate = ist.SampleRate;
    if (encChannels <= 0 || encRate <= 0 || decChannels <= 0 || decRate <= 0) return;
    const int decFrameBytes = 2 * decChannels;
    size -= size % decFrameBytes;
    if (size <= 0) return;

    if (decChannels != encChannels || decRate != encRate || AudioSyncMethod > 1)
        ost.AudioResample = 1;
    if (ost.AudioResample &&
        (!ost.Resampler || ost.ResamplerChannels != decChannels || ost.ResamplerRate != decRate))
        MakeAudioResampler(ost, decChannels, decRate);
    if (!SyncAudioBlock(ost, ist, samples, size)) return;
    if (ost.AudioResample && ost.Resampler.get() && !ResampleAudioBlock(ost, ist, samples, size))
        return;
    EncodeAudioBlock(file, ost, samples, size);
}

void TCustomFFmpeg::MakeAudioResampler(TOutputStreamState& ost, int decChannels, int decRate) {
    const AVCodecContext* enc = ost.Encoder;
    const int encChannels = enc->ch_layout.nb_channels;
    const int encRate = enc->sample_rate;
    ost.Resampler.reset();
    AVChannelLayout inLayout = DefaultLayout(decChannels);
    AVChannelLayout outLayout = EncoderLayout(enc);
    SwrContext* allocated = nullptr;
    int made = LibSwResample.swr_alloc_set_opts2(&allocated, &outLayout, AV_SAMPLE_FMT_S16, encRate,
                                                 &inLayout, AV_SAMPLE_FMT_S16, decRate, 0, nullptr);
    TSwrPtr owned(allocated);
    SwrContext* resampler = owned.get();
    LibAVUtil.av_channel_layout_uninit(&inLayout);
    LibAVUtil.av_channel_layout_uninit(&outLayout);
    if (made >= 0) {
        // Mono becomes both channels at full level and stereo their average, as listeners
        // expect; other counts take the library's mix.
        static const double kMonoToStereo[2] = {1.0, 1.0};
        static const double kStereoToMono[2] = {0.5, 0.5};
        if (decChannels == 1 && encChannels == 2)
            made = LibSwResample.swr_set_matrix(resampler, kMonoToStereo, 1);
        else if (decChannels == 2 && encChannels == 1)
            made = LibSwResample.swr_set_matrix(resampler, kStereoToMono, 2);
    }
    // Drift compensation needs the resampling engine even at equal rates.
    if (made >= 0 && AudioSyncMethod > 1)
        made = LibAVUtil.av_opt_set_int(resampler, "flags", SWR_FLAG_RESAMPLE, 0);
    if (made >= 0) made = LibSwResample.swr_init(resampler);
    if (made < 0)
        throw FFMpegException::Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                      decChannels, decRate, encChannels, encRate);
    ost.Resampler = std::move(owned);
    ost.ResamplerChannels = decChannels;
    ost.ResamplerRate = decRate;
}

bool TCustomFFmpeg::SyncAudioBlock(TOutputStreamState& ost, TInputStreamState& ist,
                                   uint8_t*& samples, int& size) {
    const int encRate = ost.Encoder->sample_rate;
    const TInputStreamState& syncStream = ost.SyncStream ? *ost.SyncStream : ist;
    double syncTime = static_cast<double>(syncStream.Pts - StartTime) / AV_TIME_BASE;
    const int64_t fifoFrames = ost.Fifo ? LibAVUtil.av_audio_fifo_size(ost.Fifo.get()) : 0;
    // A jump of the clock past the threshold, or back, is taken out of it (SkipClockJump):
    // neither silence nor the output's timestamps follow it.
    if (encRate > 0)
        syncTime = SkipClockJump(ost, syncTime,
                                 static_cast<double>(ost.SyncOpts + fifoFrames) / encRate, -1e300);
    if (AudioSyncMethod == 0) {
        ost.SyncOpts = std::llrint(syncTime * encRate) - fifoFrames;
        return true;
    }
    const TAudioSyncPlan plan = PlanAudioSync(
        syncTime, encRate, ost.SyncOpts, fifoFrames, ist.SampleRate, ist.SampleChannels, size,
        ist.IsStart != 0, AudioSyncMethod, AudioDriftThreshold);
    switch (plan.Kind) {
        case TAudioSyncPlan::Discard:
            samples += plan.Bytes;
            size -= static_cast<int>(plan.Bytes);
            if (Verbose > 2) Log(1, "discarding %d audio samples", static_cast<int>(-plan.Delta));
            if (size <= 0) return false;
            ist.IsStart = 0;
            break;
        case TAudioSyncPlan::Silence: {
            const size_t padded = static_cast<size_t>(plan.Bytes) + static_cast<size_t>(size);
            if (!ost.AudioSilence.Reserve(padded)) return false;
            std::memset(ost.AudioSilence.Data(), 0, static_cast<size_t>(plan.Bytes));
            std::memcpy(ost.AudioSilence.Data() + plan.Bytes, samples, static_cast<size_t>(size));
            samples = ost.AudioSilence.Data();
            size = static_cast<int>(padded);
            if (plan.ClearStart) ist.IsStart = 0;
            if (Verbose > 2)
                Log(1, "adding %d audio samples of silence", static_cast<int>(plan.Delta));
            break;
        }
        case TAudioSyncPlan::Compensate:
            if (!ost.Resampler) throw FFMpegException("Assertion failure");
            if (Verbose > 2)
                Log(1, "compensating audio timestamp drift:%f compensation:%d in:%d", plan.Delta,
                    plan.Compensation, encRate);
            LibSwResample.swr_set_compensation(ost.Resampler.get(), plan.Compensation, encRate);
            break;
        case TAudioSyncPlan::Keep:
            break;
    }
    return true;
}

bool TCustomFFmpeg::ResampleAudioBlock(TOutputStreamState& ost, const TInputStreamState& ist,
                                       uint8_t*& samples, int& size) {
    const int encChannels = ost.Encoder->ch_layout.nb_channels;
    const int encRate = ost.Encoder->sample_rate;
    const int decRate = ist.SampleRate;
    const int inFrames = size / (2 * ist.SampleChannels);
    const int64_t delay = LibSwResample.swr_get_delay(ost.Resampler.get(), decRate);
    // Room for the converted block, what the resampler still holds and any compensation.
    const int64_t room = (delay + inFrames) * encRate / decRate + 256 + std::abs(AudioSyncMethod);
    if (!ost.AudioStaging.Reserve(static_cast<size_t>(room) * 2 * encChannels)) return false;
    uint8_t* out[1] = {ost.AudioStaging.Data()};
    const uint8_t* in[1] = {samples};
    const int converted =
        LibSwResample.swr_convert(ost.Resampler.get(), out, static_cast<int>(room), in, inFrames);
    if (converted < 0)
        throw FFMpegException::Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                      ist.SampleChannels, decRate, encChannels, encRate);
    samples = ost.AudioStaging.Data();
    size = converted * 2 * encChannels;
    return true;
}

void TCustomFFmpeg::FlushAudioOutput(AVFormatContext* file, TOutputStreamState& ost) {
    AVCodecContext* enc = ost.Encoder;
    if (!enc || enc->ch_layout.nb_channels <= 0) return;
    const int frameBytes = 2 * enc->ch_layout.nb_channels;

    // What the resampler still holds belongs to the end of the stream.
    if (ost.Resampler) {
        const int room = 4096;
        // Not the staging buffer: the FIFO path reads whole frames into that one.
        if (ost.AudioSilence.Reserve(static_cast<size_t>(room) * frameBytes)) {
            uint8_t* out[1] = {ost.AudioSilence.Data()};
            int converted;
            while ((converted =
                        LibSwResample.swr_convert(ost.Resampler.get(), out, room, nullptr, 0)) > 0)
                EncodeAudioBlock(file, ost, ost.AudioSilence.Data(), converted * frameBytes);
        }
    }

    // The samples short of a whole encoder frame go out as one shorter last frame.
    if (!ost.Fifo || enc->frame_size <= 1) return;
    const int left = LibAVUtil.av_audio_fifo_size(ost.Fifo.get());
    if (left <= 0 || !ost.AudioStaging.Reserve(static_cast<size_t>(left) * frameBytes)) return;
    void* out[1] = {ost.AudioStaging.Data()};
    if (LibAVUtil.av_audio_fifo_read(ost.Fifo.get(), out, left) < left) return;
    EncodeAudioFrame(file, ost, ost.AudioStaging.Data(), left);
}
