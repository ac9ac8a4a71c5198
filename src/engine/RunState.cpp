#include "engine/RunState.h"

TInputStreamState::~TInputStreamState() {
    if (DecodedFrame) LibAVUtil.av_frame_free(&DecodedFrame);
    if (ToS16) LibSwResample.swr_free(&ToS16);
    LibAVUtil.av_channel_layout_uninit(&ToS16Layout);
}

TOutputStreamState::~TOutputStreamState() {
    if (LogFile) MyUtil.fclose(LogFile);
    if (Fifo) LibAVUtil.av_audio_fifo_free(Fifo);
    if (TemporaryPicture) LibAVUtil.av_frame_free(&TemporaryPicture);
    if (Scaler) LibSwScale.sws_freeContext(Scaler);
    if (Resampler) LibSwResample.swr_free(&Resampler);
    if (ToEncoder) LibSwResample.swr_free(&ToEncoder);
    if (EncoderFrame) LibAVUtil.av_frame_free(&EncoderFrame);
}

int TOutputStreamState::FifoBytes() const {
    if (!Fifo || !Encoder) return 0;
    return LibAVUtil.av_audio_fifo_size(Fifo) * 2 * Encoder->ch_layout.nb_channels;
}
