// Frame-hook modules: loading them (once per process), a chain of hooks per engine, running
// the chain on a picture and releasing it.
#pragma once

#include <cstdint>
#include <string>

#include "binding/FrameHookModule.h"

struct TFrameHookEntry {
    TFrameHookEntry* Next = nullptr;
    TFrameHookConfigure Configure = nullptr;
    TFrameHookProcess Process = nullptr;
    TFrameHookRelease Release = nullptr;  // may be absent
    void* Context = nullptr;              // what Configure stored; none without Configure
};

// The file a hook module name is loaded from: a name with a folder as it is; a bare file name
// from the frame-hook folder of the program in programFolder when it lies there
// (build/framehooks, or lib/daziziz/framehooks of the installation), else as it is, for the
// dynamic loader's search.
std::string FrameHookFile(const std::string& name, const std::string& programFolder);

// Adds the hook named by argv[0] with its arguments (argv[1] .. argv[argc - 1]) to the end of
// the chain; the module file is loaded once per process, its name compared without regard to
// letter case, and stays loaded. Logging and allocation go through libavutil. Returns
//    0  added;
//   -1  the module cannot be loaded (logs the loader's message);
//   -2  no arguments, or an argument count the array cannot hold (no log line), no Process
//       ("Failed to find Process entrypoint in %s"), or arguments but no Configure
//       ("Failed to find Configure entrypoint in %s");
//  -12  the entry cannot be allocated, or the media libraries are not loaded (no log line);
//  -22  Configure refused its arguments ("Failed to Configure %s").
// Log lines go to av_log at AV_LOG_ERROR. A refused hook leaves the chain as it was.
// Adding may happen from any thread: the module list is locked.
int AddFrameHook(TFrameHookEntry*& first, int argc, char* argv[], int highestIndex);
// Runs every hook of the chain on the picture, in chain order, each with its own context.
void RunFrameHooks(TFrameHookEntry* first, TFrameHookPicture* picture, int pixelFormat, int width,
                   int height, int64_t pts);
// Calls each hook's Release (when it has one) with its context, frees every entry and empties
// the chain. The modules stay loaded.
void ReleaseFrameHooks(TFrameHookEntry*& first);
