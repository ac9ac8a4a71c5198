// Types shared by the engine, the component and the application.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

constexpr int MAX_FILES = 20;
constexpr int MAX_STREAMS = 20;

enum THookAction { haContinue = 0, haIgnore = 1, haStop = 2 };

enum TLogLevel { llQuiet, llError, llInfo, llDebug, llAll };

struct TStreamMap {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    int32_t SyncFileIndex = 0;
    int32_t SyncStreamIndex = 0;
};

struct TMetaDataMap {
    int32_t OutFile = 0;
    int32_t InFile = 0;
};

// The engine's one exception: a fixed English message, formatted with bounded printing.
class FFMpegException : public std::runtime_error {
public:
    explicit FFMpegException(const std::string& message) : std::runtime_error(message) {}
    static FFMpegException Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
};

// Bounded printf into a std::string; longer results are cut at 4095 characters.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
