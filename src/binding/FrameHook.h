// Frame-hook modules: loading them (once per process), a chain of hooks per engine, running
// the chain on a picture and releasing it.
#pragma once

#include <cstdint>

#include "binding/FrameHookModule.h"

struct TFrameHookEntry {
    TFrameHookEntry* Next = nullptr;
    TFrameHookConfigure Configure = nullptr;
    TFrameHookProcess Process = nullptr;
    TFrameHookRelease Release = nullptr;  // may be absent
    void* Context = nullptr;              // what Configure stored; none without Configure
};

// Adds the hook named by argv[0] with its arguments to the end of the chain. Returns 0, or -2
// (no arguments, no Process, arguments but no Configure), -1 (module cannot be loaded),
// -12 (out of memory) or -22 (Configure failed); each refusal but -2/-12 logs a line.
int AddFrameHook(TFrameHookEntry*& first, int argc, char* argv[], int highestIndex);
// Runs every hook of the chain on the picture, in order.
void RunFrameHooks(TFrameHookEntry* first, TFrameHookPicture* picture, int pixelFormat,
                   int width, int height, int64_t pts);
// Releases every hook of the chain and empties it.
void ReleaseFrameHooks(TFrameHookEntry*& first);
