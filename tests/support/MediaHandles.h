// Owning handles for library objects in the test support code; every deleter calls through the
// loaded tables.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "binding/FFmpegLibs.h"

struct TCodecContextFree {
    void operator()(AVCodecContext* p) const { LibAVCodec.avcodec_free_context(&p); }
};
struct TFrameFree {
    void operator()(AVFrame* p) const { LibAVUtil.av_frame_free(&p); }
};
struct TPacketFree {
    void operator()(AVPacket* p) const { LibAVCodec.av_packet_free(&p); }
};
struct TSwsFree {
    void operator()(SwsContext* p) const { LibSwScale.sws_freeContext(p); }
};
struct TSwrFree {
    void operator()(SwrContext* p) const { LibSwResample.swr_free(&p); }
};
struct TInputFree {
    void operator()(AVFormatContext* p) const { LibAVFormat.avformat_close_input(&p); }
};
// An output context closes its byte stream (if it opened one) before it is freed.
struct TOutputFree {
    void operator()(AVFormatContext* p) const {
        if (!(p->oformat->flags & AVFMT_NOFILE)) LibAVFormat.avio_closep(&p->pb);
        LibAVFormat.avformat_free_context(p);
    }
};

using TCodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextFree>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketFree>;
using TSwsPtr = std::unique_ptr<SwsContext, TSwsFree>;
using TSwrPtr = std::unique_ptr<SwrContext, TSwrFree>;
using TInputPtr = std::unique_ptr<AVFormatContext, TInputFree>;
using TOutputPtr = std::unique_ptr<AVFormatContext, TOutputFree>;

inline std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (LibAVUtil.av_strerror(code, text, sizeof text) < 0) return "error " + std::to_string(code);
    return text;
}

// Throws "<call> failed on <file>: <library's text>" for a negative return code; passes the
// code through otherwise.
inline int Check(int code, const char* call, const std::string& path) {
    if (code < 0)
        throw std::runtime_error(std::string(call) + " failed on " + path + ": " + ErrorText(code));
    return code;
}

// Throws "<call> failed on <file>" for a null result.
template <typename T>
T* CheckPtr(T* p, const char* call, const std::string& path) {
    if (!p) throw std::runtime_error(std::string(call) + " failed on " + path);
    return p;
}

// An option dictionary for one call; whatever the call did not take is freed with it.
struct TDictionary {
    AVDictionary* items = nullptr;
    TDictionary() = default;
    TDictionary(const TDictionary&) = delete;
    TDictionary& operator=(const TDictionary&) = delete;
    ~TDictionary() { LibAVUtil.av_dict_free(&items); }
    void Set(const char* key, const char* value) { LibAVUtil.av_dict_set(&items, key, value, 0); }
};
