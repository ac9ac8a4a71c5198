// What an output file on disk says of itself: whether it opens, its length and size, and
// whether it reads as a complete conversion of its source.
#pragma once

#include <cstdint>
#include <string>

class TAVProbe;

struct TOutputFacts {
    bool Exists = false;
    bool Opens = false;
    std::int64_t Bytes = -1;
    std::int64_t DurationUs = -1;  // negative when the container does not tell
    std::string Error;             // the probe's reason when it does not open
};

TOutputFacts ReadOutputFacts(TAVProbe& probe, const std::string& path);

// Complete: it opens, its container tells its length and that length is the source's within
// the tolerance the converter itself judges by (LengthToleranceUs, component/Task.h). A
// source of unknown length cannot be compared: then an output that opens and tells a positive
// length counts. An output cut short by a crash either does not open (its index is written
// last), tells no length, or tells the shorter length of what was written.
bool ReadsAsComplete(const TOutputFacts& output, std::int64_t sourceDurationUs);

// What is wrong with the video a hardware encoder wrote, read back from the file: no video, or
// H.264 or H.265 without the sequence header a player starts from (some drivers leave it out).
// Empty when nothing is.
std::string HardwareOutputFault(const std::string& path);

// Why an output does not count as complete, for the log; empty when it does.
std::string IncompleteReason(const TOutputFacts& output, std::int64_t sourceDurationUs);
