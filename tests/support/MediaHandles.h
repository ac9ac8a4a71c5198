// The library's owning handles and error checks for the test support code.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "binding/LibHandles.h"

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

// Opens a media file and reads its streams' parameters; throws as Check does.
inline TInputPtr OpenMediaFile(const std::string& path) {
    AVFormatContext* opened = nullptr;
    Check(LibAVFormat.avformat_open_input(&opened, path.c_str(), nullptr, nullptr),
          "avformat_open_input", path);
    TInputPtr input(opened);
    Check(LibAVFormat.avformat_find_stream_info(input.get(), nullptr), "avformat_find_stream_info",
          path);
    return input;
}

// Throws "<call> failed on <file>" for a null result.
template <typename T>
T* CheckPtr(T* p, const char* call, const std::string& path) {
    if (!p) throw std::runtime_error(std::string(call) + " failed on " + path);
    return p;
}
