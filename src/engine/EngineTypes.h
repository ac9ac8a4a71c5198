// Types shared by the engine, the component and the application.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <stdexcept>
#include <string>

constexpr int MAX_FILES = 20;
constexpr int MAX_STREAMS = 20;

enum THookAction { haContinue = 0, haIgnore = 1, haStop = 2 };

enum TLogLevel { llQuiet, llError, llInfo, llDebug, llAll };

// Priority asked for a worker thread; the component offers tpIdle .. tpNormal.
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// The nice value a priority stands for, relative to a normal thread's: tpIdle 19, tpLowest 10,
// tpLower 5, tpNormal 0, tpHigher -5, tpHighest -10, tpTimeCritical -20.
int NiceOffset(TThreadPriority priority);

// What one progress report of a running job says.
struct TProgressInfo {
    int32_t FrameNumber = -1;          // frames of the first video output; -1 without video
    int32_t FPS = -1;                  // frames per second so far; 0 in the first second
    int32_t CurrentDuration = 0;       // output time reached, milliseconds
    float Quality = -1.0f;             // quantiser of the last coded picture; -1 when copied
    float BitRate = 0.0f;              // average output bit rate, kbit/s
    int64_t CurrentSize = 0;           // bytes written to the first output file
    int32_t TotalOutputDuration = -1;  // expected length of the job, milliseconds; -1 unknown
};

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
std::string FormatTextV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
