// The progress line of a running conversion: how far it is, frames, speed, output size and an
// estimate of the time left.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/EngineTypes.h"

// Seconds still to go at the speed so far; none while the length or the speed is not known
// (nothing done yet, or less than a second gone).
std::optional<std::int64_t> SecondsLeft(std::int64_t currentMs, std::int64_t totalMs,
                                        double elapsedSeconds);

// "1.5 KiB", "12.0 MiB"; bytes below 1 KiB as "512 B".
std::string SizeText(std::int64_t bytes);

// "  57%  frame 1234  fps 30  size 1.2 MiB  time left 00:00:12"; parts that are not known are
// left out, an unknown time left shows as "--:--:--".
std::string ProgressLineText(const TProgressInfo& progress, double elapsedSeconds);
