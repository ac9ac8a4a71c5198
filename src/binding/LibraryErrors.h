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

// The message for an input file that could not be opened: LibraryErrorText's, said to be
// incomplete or damaged where the libraries' error shows it (the header ends before its end, or
// cannot be read although the first bytes are of a known format: a file cut short before its
// index, say).
std::string OpenErrorText(int errorCode, const std::string& fileName);

// Size in bytes of a regular file; -1 when there is none of that name, it cannot be examined,
// or the name is something else (a folder, a device, a pipe).
int64_t FileSize(const std::string& fileName);
