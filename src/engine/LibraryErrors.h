#pragma once

#include "binding/LibraryErrors.h"

struct AVFormatContext;

// The message for an output file whose bytes could not be written (a full disk, a file-size
// limit, a failing device): the file and the system's reason.
std::string WriteErrorText(const AVFormatContext* file, int errorCode);

// The error a byte stream of an output file met while writing, 0 when none.
int OutputWriteError(const AVFormatContext* file);
