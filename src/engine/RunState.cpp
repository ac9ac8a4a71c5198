#include "engine/RunState.h"

TInputStreamState::~TInputStreamState() {
    LibAVUtil.av_channel_layout_uninit(&ToS16Layout);
}

int TOutputStreamState::FifoBytes() const {
    if (!Fifo || !Encoder) return 0;
    return LibAVUtil.av_audio_fifo_size(Fifo.get()) * 2 * Encoder->ch_layout.nb_channels;
}
