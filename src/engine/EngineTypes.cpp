#include "engine/EngineTypes.h"

#include <cstdarg>
#include <cstdio>

int NiceOffset(TThreadPriority priority) {
    switch (priority) {
        case tpIdle:
            return 19;
        case tpLowest:
            return 10;
        case tpLower:
            return 5;
        case tpNormal:
            return 0;
        case tpHigher:
            return -5;
        case tpHighest:
            return -10;
        case tpTimeCritical:
            return -20;
    }
    return 0;
}

std::string FormatTextV(const char* format, va_list args) {
    char buffer[4096];
    if (std::vsnprintf(buffer, sizeof buffer, format, args) < 0) buffer[0] = '\0';
    return buffer;
}

FFMpegException FFMpegException::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatTextV(format, args);
    va_end(args);
    return FFMpegException(text);
}

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatTextV(format, args);
    va_end(args);
    return text;
}
