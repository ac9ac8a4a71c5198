#include "engine/CodecLock.h"

#include <algorithm>
#include <mutex>
#include <utility>

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
    // An encoder's first-pass statistics (stats_in) are the engine's, allocated with av_malloc:
    // libavcodec never frees them, and they go before the close. Decoders leave the field empty.
    TLibMemoryPtr<char> statistics(std::exchange(context->stats_in, nullptr));
    TCodecLock lock;
    LibAVCodec.avcodec_close(context);
    list.contexts_.remove(context);
}

void FreeCodecContextLocked(TOpenCodecList& list, TCodecContextPtr& context) {
    if (!context) return;
    TCodecLock lock;
    list.contexts_.remove(context.get());
    context.reset();
}

void CloseAllCodecsLocked(TOpenCodecList& list) {
    while (!list.contexts_.empty()) {
        CloseCodecLocked(list, list.contexts_.front());
    }
}

void ReleaseOpenCodecLocked(TOpenCodecList& list, AVCodecContext* context) {
    TCodecLock lock;
    list.contexts_.remove(context);
}
