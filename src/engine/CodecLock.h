// CodecLock: one lock for the whole process around every codec open and close of every
// engine, and the lists of codecs a run has open.
#pragma once

#include <list>

#include "binding/LibHandles.h"

// Holds CodecLock for its lifetime. Not recursive: a thread that holds it must not take it
// again.
class TCodecLock {
  public:
    TCodecLock();
    ~TCodecLock();
    TCodecLock(const TCodecLock&) = delete;
    TCodecLock& operator=(const TCodecLock&) = delete;
};

// True while the calling thread holds CodecLock (a worker must not pause then).
bool CodecLockHeldByThisThread();

// The codecs a run has opened and not yet closed, newest first. The list refers to the codec
// contexts themselves, so it still leads to them after the run's per-stream tables are gone;
// it owns nothing: a context on the list must stay allocated until it is closed or freed
// through the functions below.
class TOpenCodecList {
  public:
    bool Empty() const { return contexts_.empty(); }
    size_t Count() const { return contexts_.size(); }
    bool Contains(const AVCodecContext* context) const;

  private:
    friend int OpenCodecLocked(TOpenCodecList&, AVCodecContext*, const AVCodec*, AVDictionary**);
    friend void CloseCodecLocked(TOpenCodecList&, AVCodecContext*);
    friend void FreeCodecContextLocked(TOpenCodecList&, TCodecContextPtr&);
    friend void CloseAllCodecsLocked(TOpenCodecList&);
    friend void ReleaseOpenCodecLocked(TOpenCodecList&, AVCodecContext*);
    std::list<AVCodecContext*> contexts_;
};

// Opens the codec inside CodecLock and, when that succeeds, puts the context at the head of
// the list. Returns avcodec_open2's result.
int OpenCodecLocked(TOpenCodecList& list, AVCodecContext* context, const AVCodec* codec,
                    AVDictionary** options);
// Closes the codec inside CodecLock and takes the context off the list; an encoder's first-pass
// statistics text (stats_in) is freed before the close. The context stays allocated; its owner
// frees it.
void CloseCodecLocked(TOpenCodecList& list, AVCodecContext* context);
// Frees a codec context (closing it when open, and freeing its stats_in) inside CodecLock and
// takes it off the list, leaving the handle empty: how the owner of a context that may be open
// lets go of it.
void FreeCodecContextLocked(TOpenCodecList& list, TCodecContextPtr& context);
// Closes every codec still on the list, newest first, and empties it; an encoder's first-pass
// statistics text (stats_in) is freed before its close. The contexts stay allocated.
void CloseAllCodecsLocked(TOpenCodecList& list);
// Takes an open context off the list inside CodecLock without closing it: its owner frees it
// later, outside the lock (libavcodec's own close needs none), where the close may take long.
void ReleaseOpenCodecLocked(TOpenCodecList& list, AVCodecContext* context);
