// The packet path: one demuxed packet of one input stream is decoded (when some output
// re-encodes from it), the stream's clock is kept, and the content goes to every output stream
// the input stream feeds. At the end of the input the decoder and the encoders are drained.
#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/CustomFFmpeg.h"

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};
constexpr int kMinimumSamplesBuffer = 192000;
constexpr int64_t kRateEmulationSlack = 50000;  // µs ahead of the wall clock before sleeping

bool IsLibraryFailure(int result) {
    return result < 0 && result != AVERROR(EAGAIN) && result != AVERROR_EOF;
}

bool SameLayout(const AVChannelLayout& a, const AVChannelLayout& b) {
    if (a.order != b.order || a.nb_channels != b.nb_channels) return false;
    if (a.order == AV_CHANNEL_ORDER_NATIVE || a.order == AV_CHANNEL_ORDER_AMBISONIC)
        return a.u.mask == b.u.mask;
    return a.order != AV_CHANNEL_ORDER_CUSTOM;  // custom maps: always made anew
}

}  // namespace

void TCustomFFmpeg::ConvertToS16(TInputStreamState& ist, const AVFrame* frame, int& size) {
    size = 0;
    const int channels = frame->ch_layout.nb_channels;
    if (channels <= 0 || frame->nb_samples <= 0 || frame->sample_rate <= 0) return;
    const bool changed = !ist.ToS16 || ist.ToS16Format != frame->format ||
                         ist.ToS16Rate != frame->sample_rate ||
                         !SameLayout(ist.ToS16Layout, frame->ch_layout);
    if (changed) {
        ist.ToS16.reset();
        LibAVUtil.av_channel_layout_uninit(&ist.ToS16Layout);
        // Same layout and rate on both sides: only the sample format changes.
        auto* layout = const_cast<AVChannelLayout*>(&frame->ch_layout);
        SwrContext* converter = nullptr;
        const int made = LibSwResample.swr_alloc_set_opts2(
            &converter, layout, AV_SAMPLE_FMT_S16, frame->sample_rate, layout,
            AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        ist.ToS16.reset(converter);
        if (made < 0 || LibSwResample.swr_init(ist.ToS16.get()) < 0) {
            ist.ToS16.reset();
            throw FFMpegException::Format(
                "Cannot convert the samples of input stream #%d.%d to 16 bits", ist.FileIndex,
                ist.StreamIndex);
        }
        LibAVUtil.av_channel_layout_copy(&ist.ToS16Layout, &frame->ch_layout);
        ist.ToS16Format = frame->format;
        ist.ToS16Rate = frame->sample_rate;
    }
    const size_t needed = static_cast<size_t>(frame->nb_samples) * 2 * channels;
    if (DecodedSamples.size() < needed) DecodedSamples.resize(needed);
    uint8_t* output[1] = {DecodedSamples.data()};
    const int converted = LibSwResample.swr_convert(
        ist.ToS16.get(), output, frame->nb_samples,
        const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (converted < 0)
        throw FFMpegException::Format(
            "Cannot convert the samples of input stream #%d.%d to 16 bits", ist.FileIndex,
            ist.StreamIndex);
    ist.SampleChannels = channels;
    ist.SampleRate = frame->sample_rate;
    size = converted * 2 * channels;
}

void TCustomFFmpeg::EmulateRate(TInputStreamState& ist) {
    if (!ist.RateEmulation) return;
    const AVCodecParameters* parameters = ist.Stream->codecpar;
    AVRational frameTime{0, 1};
    if (parameters->codec_type == AVMEDIA_TYPE_VIDEO && ist.Stream->r_frame_rate.num > 0)
        frameTime = av_inv_q(ist.Stream->r_frame_rate);
    else if (parameters->codec_type == AVMEDIA_TYPE_AUDIO && parameters->sample_rate > 0)
        frameTime = AVRational{parameters->frame_size > 0 ? parameters->frame_size : 1024,
                               parameters->sample_rate};
    if (frameTime.num > 0 && frameTime.den > 0) {
        const int64_t target = LibAVUtil.av_rescale(
            static_cast<int64_t>(static_cast<uint32_t>(frameTime.num * ist.Frame)), 1000000,
            frameTime.den);
        const int64_t now = LibAVUtil.av_gettime() - ist.Start;
        if (target - now > kRateEmulationSlack)
            std::this_thread::sleep_for(std::chrono::milliseconds((target - now) / 1000));
    }
    ++ist.Frame;
}

void TCustomFFmpeg::Deliver(TInputStreamState& ist, int istIndex, const AVPacket* packet,
                            uint8_t* samples, int samplesSize, AVFrame* picture,
                            AVSubtitle* subtitle) {
    if (Cut)
        DeliverCut(ist, istIndex, packet, samples, samplesSize, picture, subtitle);
    else
        DeliverToOutputs(ist, istIndex, packet, samples, samplesSize, picture, subtitle);
}

void TCustomFFmpeg::DeliverToOutputs(TInputStreamState& ist, int istIndex, const AVPacket* packet,
                                     uint8_t* samples, int samplesSize, AVFrame* picture,
                                     AVSubtitle* subtitle) {
    if (StartTime != 0 && ist.Pts < StartTime) return;
    Scheduler->Deliver(ist, istIndex, packet, samples, samplesSize, picture, subtitle);
}

void TCustomFFmpeg::TOneLoop::Deliver(TInputStreamState& ist, int istIndex, const AVPacket* packet,
                                      uint8_t* samples, int samplesSize, AVFrame* picture,
                                      AVSubtitle* subtitle) {
    TCustomFFmpeg& engine = engine_;
    for (const auto& output : engine.RunState.OutputStreams) {
        TOutputStreamState& ost = *output;
        if (ost.SourceIndex != istIndex) continue;
        AVFormatContext* file = engine.OutputFiles[ost.FileIndex].Context.get();
        if (ost.EncodingNeeded) {
            switch (ost.Encoder->codec_type) {
                case AVMEDIA_TYPE_AUDIO:
                    if (samples && samplesSize > 0)
                        engine.AudioOutput(file, ost, ist, samples, samplesSize);
                    break;
                case AVMEDIA_TYPE_VIDEO:
                    if (picture) {
                        // Done as it is handed on: the job's phase is read as it is done.
                        const int frameSize =
                            engine.VideoOutput(file, ost, ist, picture, engine.RunControl);
                        if (!engine.VideoStatsFileName.empty() && frameSize > 0)
                            engine.WriteVideoStats(file, ost, frameSize);
                    }
                    break;
                case AVMEDIA_TYPE_SUBTITLE:
                    if (subtitle)
                        engine.WriteSubtitle(file, ost, ist, subtitle,
                                             packet ? packet->pts : AV_NOPTS_VALUE);
                    break;
                default:
                    throw FFMpegException("invalid codec_type");
            }
            continue;
        }

        if (packet) engine.WriteCopiedPacket(file, ost, ist.Stream->time_base, ist.Pts, packet);
    }
}

void TCustomFFmpeg::TOneLoop::Drain(int istIndex) {
    engine_.DrainEncoders(istIndex);
}

void TCustomFFmpeg::WriteCopiedPacket(AVFormatContext* file, TOutputStreamState& ost,
                                      AVRational from, int64_t sourcePts, const AVPacket* packet) {
    // From the first key frame on, every packet as it came.
    if (ost.FrameNumber == 0 && !(packet->flags & AV_PKT_FLAG_KEY)) return;
    if (ost.Encoder->codec_type == AVMEDIA_TYPE_AUDIO) {
        AudioBytesWritten += packet->size;
    } else if (ost.Encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
        VideoBytesWritten += packet->size;
        ++ost.SyncOpts;
    }
    AVPacket* copy = CopyPacket.get();
    if (LibAVCodec.av_packet_ref(copy, packet) < 0)
        throw FFMpegException("av_packet_ref failed: out of memory");
    const AVRational to = ost.Stream->time_base;
    copy->stream_index = ost.StreamIndex;
    copy->pts = packet->pts != AV_NOPTS_VALUE ? LibAVUtil.av_rescale_q(packet->pts, from, to)
                                              : AV_NOPTS_VALUE;
    copy->dts = packet->dts != AV_NOPTS_VALUE
                    ? LibAVUtil.av_rescale_q(packet->dts, from, to)
                    : LibAVUtil.av_rescale_q(sourcePts, kMicroseconds, to);
    copy->duration = LibAVUtil.av_rescale_q(packet->duration, from, to);
    copy->flags = packet->flags;
    copy->pos = -1;
    // Parsers no longer rewrite headers of copied packets; the muxers insert what their
    // container needs (bitstream filters of their own) as they write.
    WriteFrame(file, copy, *ost.Filters, ost.Encoder);
    LibAVCodec.av_packet_unref(copy);
    ++ost.FrameNumber;
}

int TCustomFFmpeg::OutputPacket(TInputStreamState& ist, int istIndex, const AVPacket* packet) {
    const AVRational timeBase = ist.Stream->time_base;
    if (ist.NextPts == AV_NOPTS_VALUE) ist.NextPts = ist.Pts;
    if (packet && packet->dts != AV_NOPTS_VALUE)
        ist.NextPts = ist.Pts = LibAVUtil.av_rescale_q(packet->dts, timeBase, kMicroseconds);
    const AVMediaType type = ist.Stream->codecpar->codec_type;

    if (!ist.DecodingNeeded) {
        if (packet) PassUndecodedPacket(ist, istIndex, packet);
        return 0;
    }
    if (type == AVMEDIA_TYPE_SUBTITLE) return DecodeSubtitlePacket(ist, istIndex, packet);
    if (type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_VIDEO) return -1;
    if (DecodeMediaPacket(ist, istIndex, packet) < 0) return -1;
    if (!packet) Scheduler->Drain(istIndex);
    return 0;
}

void TCustomFFmpeg::PassUndecodedPacket(TInputStreamState& ist, int istIndex,
                                        const AVPacket* packet) {
    const AVRational timeBase = ist.Stream->time_base;
    ist.Pts = ist.NextPts;
    const AVCodecParameters* parameters = ist.Stream->codecpar;
    if (parameters->codec_type == AVMEDIA_TYPE_AUDIO) {
        if (parameters->frame_size > 0 && parameters->sample_rate > 0)
            ist.NextPts += int64_t(parameters->frame_size) * 1000000 / parameters->sample_rate;
        else if (packet->duration > 0)
            ist.NextPts += LibAVUtil.av_rescale_q(packet->duration, timeBase, kMicroseconds);
    } else if (parameters->codec_type == AVMEDIA_TYPE_VIDEO) {
        if (packet->duration > 0)
            ist.NextPts += LibAVUtil.av_rescale_q(packet->duration, timeBase, kMicroseconds);
        else if (ist.Stream->r_frame_rate.num > 0)
            ist.NextPts +=
                int64_t(ist.Stream->r_frame_rate.den) * 1000000 / ist.Stream->r_frame_rate.num;
    }
    EmulateRate(ist);
    Deliver(ist, istIndex, packet, nullptr, 0, nullptr, nullptr);
}

int TCustomFFmpeg::DecodeSubtitlePacket(TInputStreamState& ist, int istIndex,
                                        const AVPacket* packet) {
    if (!packet) return 0;
    AVSubtitle subtitle{};
    int gotSubtitle = 0;
    ist.Pts = ist.NextPts;
    if (LibAVCodec.avcodec_decode_subtitle2(ist.Decoder, &subtitle, &gotSubtitle,
                                            const_cast<AVPacket*>(packet)) < 0)
        return -1;
    if (!gotSubtitle) return 0;
    // Freed whatever happens to its delivery.
    TSubtitleContents contents(&subtitle);
    EmulateRate(ist);
    Deliver(ist, istIndex, packet, nullptr, 0, nullptr, &subtitle);
    return 0;
}

int TCustomFFmpeg::DecodeMediaPacket(TInputStreamState& ist, int istIndex, const AVPacket* packet) {
    const AVMediaType type = ist.Stream->codecpar->codec_type;
    if (!ist.DecodedFrame) ist.DecodedFrame.reset(LibAVUtil.av_frame_alloc());
    if (!ist.DecodedFrame) throw FFMpegException("av_frame_alloc failed: out of memory");
    if (type == AVMEDIA_TYPE_AUDIO && packet) {
        const size_t wanted = std::max<size_t>(2 * size_t(packet->size), kMinimumSamplesBuffer);
        if (DecodedSamples.size() < wanted) DecodedSamples.resize(wanted);
    }
    // A decoder takes the end of its input once; later calls find it drained already.
    int result = LibAVCodec.avcodec_send_packet(ist.Decoder, packet);
    if (IsLibraryFailure(result)) return -1;

    // A frame-threaded decoder (FLAC's, HEVC's) hands a frame out some packets after the one that
    // carried it, later than the packets' clock allows for: the frame's own time holds (or the
    // stream would start late and a gap would be filled). A decoder with threads of its own
    // (libdav1d) holds frames back likewise.
    const bool holdsBack = (ist.Decoder->active_thread_type & FF_THREAD_FRAME) ||
                           (ist.Decoder->codec->capabilities & AV_CODEC_CAP_OTHER_THREADS);
    AVFrame* frame = ist.DecodedFrame.get();
    int framesOfPacket = 0;
    for (;;) {
        result = LibAVCodec.avcodec_receive_frame(ist.Decoder, frame);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) break;
        if (result < 0) return -1;
        // Unrefs the frame on every way out of this iteration.
        struct TFrameUnref {
            AVFrame* frame;
            ~TFrameUnref() { LibAVUtil.av_frame_unref(frame); }
        } frameUnref{frame};

        ist.Pts = holdsBack && frame->best_effort_timestamp != AV_NOPTS_VALUE
                      ? LibAVUtil.av_rescale_q(frame->best_effort_timestamp, ist.Stream->time_base,
                                               kMicroseconds)
                      : ist.NextPts;
        ist.Decoded = true;
        // A picture the decoder patched up (concealed or missing references) is damage too.
        if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT)) {
            ++DecodeErrors;
            NoteInputDamage(ist.Pts);
        }
        if (packet && framesOfPacket++ > 0 && Verbose > 0 && OnLog)
            Log(0, "Multiple frames in a packet from stream %d", packet->stream_index);
        if (type == AVMEDIA_TYPE_AUDIO)
            DeliverDecodedSamples(ist, istIndex, packet, frame);
        else
            DeliverDecodedPicture(ist, istIndex, packet, frame);
    }
    return 0;
}

void TCustomFFmpeg::DeliverDecodedSamples(TInputStreamState& ist, int istIndex,
                                          const AVPacket* packet, const AVFrame* frame) {
    int size = 0;
    ConvertToS16(ist, frame, size);
    if (size <= 0) return;
    ist.NextPts += int64_t(size) * 500000 / (int64_t(ist.SampleRate) * ist.SampleChannels);
    EmulateRate(ist);
    Deliver(ist, istIndex, packet, DecodedSamples.data(), size, nullptr, nullptr);
}

void TCustomFFmpeg::DeliverDecodedPicture(TInputStreamState& ist, int istIndex,
                                          const AVPacket* packet, AVFrame* frame) {
    const AVRational timeBase = ist.Stream->time_base;
    const AVCodecContext* decoder = ist.Decoder;
    ist.Quality = static_cast<float>(frame->quality);
    int64_t duration = 0;
    if (frame->pkt_duration > 0)
        duration = LibAVUtil.av_rescale_q(frame->pkt_duration, timeBase, kMicroseconds);
    else if (decoder->framerate.num > 0 && decoder->framerate.den > 0)
        duration = int64_t(decoder->framerate.den) * 1000000 / decoder->framerate.num;
    else if (ist.Stream->r_frame_rate.num > 0)
        duration = int64_t(ist.Stream->r_frame_rate.den) * 1000000 / ist.Stream->r_frame_rate.num;
    ist.NextPts = ist.Pts + duration;
    AVFrame* picture = frame;
    if (ist.PictureFilter && !(picture = ist.PictureFilter->Apply(frame))) {
        if (ist.PictureFilter->Error().empty()) return;
        throw FFMpegException::Format("Picture filters of input stream #%d.%d: %s", ist.FileIndex,
                                      ist.StreamIndex, ist.PictureFilter->Error().c_str());
    }
    // The source's graph deinterlaces the formats its blend takes; others pass as they are.
    if (Deinterlace && !DeinterlaceTakes(AVPixelFormat(picture->format)))
        Log(0, "deinterlace error.");
    PreprocessPicture(ist, picture);
    EmulateRate(ist);
    // A cut goes by when the picture is shown, which the decoding clock only nears.
    PictureTime =
        frame->best_effort_timestamp != AV_NOPTS_VALUE
            ? LibAVUtil.av_rescale_q(frame->best_effort_timestamp, timeBase, kMicroseconds)
            : ist.Pts;
    Deliver(ist, istIndex, packet, nullptr, 0, picture, nullptr);
}

void TCustomFFmpeg::DrainEncoders(int istIndex) {
    for (const auto& output : RunState.OutputStreams) {
        TOutputStreamState& ost = *output;
        if (ost.SourceIndex != istIndex || !ost.EncodingNeeded) continue;
        const AVMediaType type = ost.Encoder->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO) DrainEncoder(ost);
    }
}

void TCustomFFmpeg::DrainEncoder(TOutputStreamState& ost) {
    AVFormatContext* file = OutputFiles[ost.FileIndex].Context.get();
    if (ost.Encoder->codec_type == AVMEDIA_TYPE_AUDIO) FlushAudioOutput(file, ost);
    // After a stop the pictures a video encoder still holds for its look-ahead are left out:
    // coding them (seconds for HEVC or AV1 at 1080p) would keep the stop waiting. The file ends
    // with the last picture coded.
    if (ost.Encoder->codec_type == AVMEDIA_TYPE_VIDEO && RunControl.StopRequested()) return;
    const std::string failure = FormatText(
        "Error while flushing the encoder of output stream #%d.%d", ost.FileIndex, ost.StreamIndex);
    EncodeAndWrite(file, ost, nullptr, failure.c_str());
}
