// The check an output passes before it may take its original's place: it opens, it lasts as long
// as its source (within LengthToleranceUs), and every audio, video and subtitle stream decodes
// from its first packet to its last without an error. Read with the libraries themselves.
#pragma once

#include <cstdint>
#include <string>

// Empty when the output passes; otherwise what is wrong with it, in words. sourceDurationUs
// below 0: the length is not compared. The libraries must be loaded.
std::string OutputCheckFault(const std::string& path, std::int64_t sourceDurationUs);
