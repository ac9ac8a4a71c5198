// Audio output: keeps each block of decoded s16 samples in step with the input's clock, hands
// it through the output's sound graph (SoundGraph.h) and encodes the frames that come out.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/CustomFFmpeg.h"

namespace {

// The output is left alone while it is this many sample frames off the input's clock.
constexpr double kAudioSyncTolerance = 50;
// The largest block, silence included, that one call hands on while the input is behind.
constexpr int64_t kLargestAudioBlock = 131072;

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

TSoundGraph::TSettings TCustomFFmpeg::SoundSettings(const AVCodecContext* enc) const {
    TSoundGraph::TSettings settings;
    settings.Volume = AudioVolume;
    settings.CompensationLimit = AudioSyncMethod > 1 ? AudioSyncMethod : 0;
    // Sample-per-frame encoders take pieces whose coded size fits the encoder output buffer.
    const int frameBytes = 2 * std::max(enc->ch_layout.nb_channels, 1);
    const int64_t codedFrameBytes = std::max<int64_t>(
        SamplePerFrameCodedBytes(enc->codec_id, int64_t{frameBytes} * 1024) / 1024, 1);
    const int64_t bufferSize = std::max<int64_t>(EncoderOutputBufferSize, 4096);
    settings.PieceFrames = static_cast<int>(std::max<int64_t>(bufferSize / codedFrameBytes, 1));
    return settings;
}

void TCustomFFmpeg::EncodeReadyAudio(AVFormatContext* file, TOutputStreamState& ost) {
    while (AVFrame* frame = ost.Sound->NextFrame()) {
        const int frames = frame->nb_samples;
        // Frames never overlap, even when the input's clock steps back a little.
        frame->pts = std::max(ost.SyncOpts, ost.AudioNextPts);
        ost.AudioNextPts = frame->pts + frames;
        EncodeAndWrite(file, ost, frame, "Audio encoding failed");
        ost.SyncOpts += frames;
        ++ost.FrameNumber;
    }
}

void TCustomFFmpeg::AudioOutput(AVFormatContext* file, TOutputStreamState& ost,
                                TInputStreamState& ist, uint8_t* samples, int size) {
    AVCodecContext* enc = ost.Encoder;
    if (!enc || !samples || !ost.Sound) return;
    const int decChannels = ist.SampleChannels;
    const int decRate = ist.SampleRate;
    if (enc->ch_layout.nb_channels <= 0 || enc->sample_rate <= 0 || decChannels <= 0 ||
        decRate <= 0)
        return;
    const int decFrameBytes = 2 * decChannels;
    size -= size % decFrameBytes;
    if (size <= 0) return;

    ost.Sound->SetSource(decChannels, decRate);
    if (!SyncAudioBlock(ost, ist, samples, size)) return;
    ost.Sound->Add(samples, size / decFrameBytes);
    EncodeReadyAudio(file, ost);
}

bool TCustomFFmpeg::SyncAudioBlock(TOutputStreamState& ost, TInputStreamState& ist,
                                   uint8_t*& samples, int& size) {
    const int encRate = ost.Encoder->sample_rate;
    const TInputStreamState& syncStream = ost.SyncStream ? *ost.SyncStream : ist;
    double syncTime = static_cast<double>(syncStream.Pts - StartTime) / AV_TIME_BASE;
    const int64_t heldFrames = ost.Sound->Held();
    // A jump of the clock past the threshold, or back, is taken out of it (SkipClockJump):
    // neither silence nor the output's timestamps follow it.
    if (encRate > 0)
        syncTime = SkipClockJump(ost, syncTime,
                                 static_cast<double>(ost.SyncOpts + heldFrames) / encRate, -1e300);
    if (AudioSyncMethod == 0) {
        ost.SyncOpts = std::llrint(syncTime * encRate) - heldFrames;
        return true;
    }
    const TAudioSyncPlan plan = PlanAudioSync(
        syncTime, encRate, ost.SyncOpts, heldFrames, ist.SampleRate, ist.SampleChannels, size,
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
            if (Verbose > 2)
                Log(1, "compensating audio timestamp drift:%f compensation:%d in:%d", plan.Delta,
                    plan.Compensation, encRate);
            if (!ost.Sound->Compensate(plan.Compensation, encRate))
                throw FFMpegException("Assertion failure");
            break;
        case TAudioSyncPlan::Keep:
            break;
    }
    return true;
}

void TCustomFFmpeg::FlushAudioOutput(AVFormatContext* file, TOutputStreamState& ost) {
    if (!ost.Sound) return;
    ost.Sound->Finish();
    EncodeReadyAudio(file, ost);
}
