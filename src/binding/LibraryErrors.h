// Wording of the libraries' error codes for a file that could not be opened or written, and the
// size of a file on disk. The engine and the probe word the same failure the same way.
#pragma once

#include <cstdint>
#include <string>

// The message for a library error code, naming the file (or the failed operation). Pass
// badImageSequenceName when the target is an image sequence whose name holds no valid frame
// number pattern: today's libraries report that as AVERROR(EINVAL), which otherwise means a
// damaged header.
std::string LibraryErrorText(int errorCode, const std::string& name,
                             bool badImageSequenceName = false);

// Size in bytes of a regular file; -1 when there is none of that name, it cannot be examined,
// or the name is something else (a folder, a device, a pipe).
int64_t FileSize(const std::string& fileName);
