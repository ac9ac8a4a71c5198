#include "cli/ProgressLine.h"

#include <cmath>
#include <cstdio>

#include "app/core/FileListTexts.h"

std::optional<std::int64_t> SecondsLeft(std::int64_t currentMs, std::int64_t totalMs,
                                        double elapsedSeconds) {
    if (totalMs <= 0 || currentMs <= 0 || elapsedSeconds < 1.0) return std::nullopt;
    if (currentMs >= totalMs) return 0;
    const double left = elapsedSeconds * static_cast<double>(totalMs - currentMs) / currentMs;
    return static_cast<std::int64_t>(std::ceil(left));
}

std::string SizeText(std::int64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes < 0 ? 0 : bytes) + " B";
    const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = bytes / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string ProgressLineText(const TProgressInfo& progress, double elapsedSeconds) {
    std::string line;
    if (progress.TotalOutputDuration > 0) {
        char percent[16];
        std::snprintf(percent, sizeof percent, "%5s",
                      ProgressText(progress.CurrentDuration, progress.TotalOutputDuration).c_str());
        line += percent;
    } else {
        line += "time " + DurationText(std::int64_t{progress.CurrentDuration} * 1000);
    }
    if (progress.FrameNumber >= 0) line += "  frame " + std::to_string(progress.FrameNumber);
    if (progress.FPS >= 0) line += "  fps " + std::to_string(progress.FPS);
    line += "  size " + SizeText(progress.CurrentSize);
    const auto left =
        SecondsLeft(progress.CurrentDuration, progress.TotalOutputDuration, elapsedSeconds);
    line += "  time left " + (left ? DurationText(*left * 1000000) : std::string("--:--:--"));
    return line;
}
