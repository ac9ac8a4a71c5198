// Owning handles for the libraries' objects: one deleter template, one `using` per object type.
// Every deleter calls through the loaded tables, so a handle must be emptied before the
// libraries are unloaded. Nothing outside this file frees or closes a library object by hand.
#pragma once

#include <cstdio>
#include <memory>

#include "binding/FFmpegLibs.h"

// Calls Free on a non-null pointer.
template <typename T, void (*Free)(T*)>
struct TLibFree {
    void operator()(T* p) const {
        if (p) Free(p);
    }
};

namespace LibFree {

inline void Frame(AVFrame* p) {
    LibAVUtil.av_frame_free(&p);
}
inline void Packet(AVPacket* p) {
    LibAVCodec.av_packet_free(&p);
}
// An encoder's first-pass statistics text (stats_in) is its owner's, allocated with av_malloc:
// libavcodec never frees it, so the context takes it along.
inline void CodecContext(AVCodecContext* p) {
    LibAVUtil.av_freep(&p->stats_in);
    LibAVCodec.avcodec_free_context(&p);
}
inline void InputFormat(AVFormatContext* p) {
    LibAVFormat.avformat_close_input(&p);
}
// An output context closes the byte stream it opened before it is freed; a format that writes
// no byte stream of its own (AVFMT_NOFILE) leaves pb alone.
inline void OutputFormat(AVFormatContext* p) {
    if (p->oformat && !(p->oformat->flags & AVFMT_NOFILE)) LibAVFormat.avio_closep(&p->pb);
    LibAVFormat.avformat_free_context(p);
}
// A format context that never opened anything (an option template).
inline void FormatContext(AVFormatContext* p) {
    LibAVFormat.avformat_free_context(p);
}
inline void Scaler(SwsContext* p) {
    LibSwScale.sws_freeContext(p);
}
inline void Resampler(SwrContext* p) {
    LibSwResample.swr_free(&p);
}
inline void AudioFifo(AVAudioFifo* p) {
    LibAVUtil.av_audio_fifo_free(p);
}
inline void BitstreamFilter(AVBSFContext* p) {
    LibAVCodec.av_bsf_free(&p);
}
inline void Dictionary(AVDictionary* p) {
    LibAVUtil.av_dict_free(&p);
}
// Memory from av_malloc (or a text the libraries hand out to be freed with av_free).
inline void Memory(void* p) {
    LibAVUtil.av_free(p);
}
// The contents of a decoded subtitle; the AVSubtitle itself is the caller's.
inline void SubtitleContents(AVSubtitle* p) {
    LibAVCodec.avsubtitle_free(p);
}
// A filter graph frees the filter contexts it holds with itself.
inline void FilterGraph(AVFilterGraph* p) {
    LibAVFilter.avfilter_graph_free(&p);
}
// A list of a graph's open ends, as its parser takes and leaves it.
inline void FilterInOut(AVFilterInOut* p) {
    LibAVFilter.avfilter_inout_free(&p);
}
// A stdio file opened through the C-runtime module.
inline void StdioFile(FILE* p) {
    MyUtil.fclose(p);
}

}  // namespace LibFree

using TFramePtr = std::unique_ptr<AVFrame, TLibFree<AVFrame, &LibFree::Frame>>;
using TPacketPtr = std::unique_ptr<AVPacket, TLibFree<AVPacket, &LibFree::Packet>>;
using TCodecContextPtr =
    std::unique_ptr<AVCodecContext, TLibFree<AVCodecContext, &LibFree::CodecContext>>;
using TInputPtr =
    std::unique_ptr<AVFormatContext, TLibFree<AVFormatContext, &LibFree::InputFormat>>;
using TOutputPtr =
    std::unique_ptr<AVFormatContext, TLibFree<AVFormatContext, &LibFree::OutputFormat>>;
using TFormatContextPtr =
    std::unique_ptr<AVFormatContext, TLibFree<AVFormatContext, &LibFree::FormatContext>>;
using TSwsPtr = std::unique_ptr<SwsContext, TLibFree<SwsContext, &LibFree::Scaler>>;
using TSwrPtr = std::unique_ptr<SwrContext, TLibFree<SwrContext, &LibFree::Resampler>>;
using TAudioFifoPtr = std::unique_ptr<AVAudioFifo, TLibFree<AVAudioFifo, &LibFree::AudioFifo>>;
using TBsfPtr = std::unique_ptr<AVBSFContext, TLibFree<AVBSFContext, &LibFree::BitstreamFilter>>;
using TDictionaryPtr = std::unique_ptr<AVDictionary, TLibFree<AVDictionary, &LibFree::Dictionary>>;
template <typename T>
using TLibMemoryPtr = std::unique_ptr<T, TLibFree<void, &LibFree::Memory>>;
using TSubtitleContents =
    std::unique_ptr<AVSubtitle, TLibFree<AVSubtitle, &LibFree::SubtitleContents>>;
using TFilterGraphPtr =
    std::unique_ptr<AVFilterGraph, TLibFree<AVFilterGraph, &LibFree::FilterGraph>>;
using TFilterInOutPtr =
    std::unique_ptr<AVFilterInOut, TLibFree<AVFilterInOut, &LibFree::FilterInOut>>;
using TStdioFilePtr = std::unique_ptr<FILE, TLibFree<FILE, &LibFree::StdioFile>>;

// A dictionary that library calls fill through an AVDictionary** and may take over: whatever
// is left in it is freed with it.
class TDictionary {
  public:
    TDictionary() = default;
    TDictionary(const TDictionary&) = delete;
    TDictionary& operator=(const TDictionary&) = delete;
    ~TDictionary() { LibFree::Dictionary(items_); }
    void Set(const char* key, const char* value) { LibAVUtil.av_dict_set(&items_, key, value, 0); }
    AVDictionary** Address() { return &items_; }
    AVDictionary* Get() const { return items_; }

  private:
    AVDictionary* items_ = nullptr;
};
