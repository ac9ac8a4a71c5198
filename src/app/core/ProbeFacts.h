// The file-list facts of the file a probe has open.
#pragma once

#include "app/core/FileList.h"

class TAVProbe;

// Its picture size and frame rate (of the first video stream, when it has one) and its length.
// The file stays open.
TProbeFacts ReadProbeFacts(TAVProbe& probe);
