#include "engine/RunState.h"

TInputStreamState::~TInputStreamState() {
    LibAVUtil.av_channel_layout_uninit(&ToS16Layout);
}
