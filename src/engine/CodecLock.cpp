#include "engine/CodecLock.h"

#include <algorithm>
#include <mutex>

namespace {

std::mutex codecMutex;
thread_local bool codecLockHeld = false;

}  // namespace

TCodecLock::TCodecLock() {
    codecMutex.lock();
    codecLockHeld = true;
}

TCodecLock::~TCodecLock() {
    codecLockHeld = false;
    codecMutex.unlock();
}

bool CodecLockHeldByThisThread() {
    return codecLockHeld;
}

bool TOpenCodecList::Contains(const AVCodecContext* context) const {
    return std::find(contexts_.begin(), contexts_.end(), context) != contexts_.end();
}

int OpenCodecLocked(TOpenCodecList& list, AVCodecContext* context, const AVCodec* codec,
                    AVDictionary** options) {
    TCodecLock lock;
    const int result = LibAVCodec.avcodec_open2(context, codec, options);
    if (result >= 0) list.contexts_.push_front(context);
    return result;
}

void CloseCodecLocked(TOpenCodecList& list, AVCodecContext* context) {
    TCodecLock lock;
    LibAVCodec.avcodec_close(context);
    list.contexts_.remove(context);
}

void FreeCodecContextLocked(TOpenCodecList& list, AVCodecContext*& context) {
    if (!context) return;
    TCodecLock lock;
    list.contexts_.remove(context);
    LibAVUtil.av_freep(&context->stats_in);
    LibAVCodec.avcodec_free_context(&context);
}

void CloseAllCodecsLocked(TOpenCodecList& list) {
    while (!list.contexts_.empty()) {
        AVCodecContext* context = list.contexts_.front();
        // An encoder's first-pass statistics (stats_in) are the engine's, allocated with
        // av_malloc: libavcodec never frees them. Decoders leave the field empty.
        LibAVUtil.av_freep(&context->stats_in);
        CloseCodecLocked(list, context);
    }
}
