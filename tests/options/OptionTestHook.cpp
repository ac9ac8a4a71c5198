// A frame-hook module for the "vhook" tests: it keeps what its last Configure call was given
// and the folder that was current during the call, for the tests to read with dlsym.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "binding/FrameHookModule.h"

extern "C" {

DZ_FRAME_HOOK_EXPORT int LastArgumentCount = 0;
DZ_FRAME_HOOK_EXPORT char LastArguments[1024];  // the arguments joined with "\n"
DZ_FRAME_HOOK_EXPORT char LastFolder[4096];
DZ_FRAME_HOOK_EXPORT int ReleaseCalls = 0;

DZ_FRAME_HOOK_EXPORT int Configure(void** context, int argc, char* argv[], int) {
    LastArgumentCount = argc;
    LastArguments[0] = '\0';
    size_t used = 0;
    for (int i = 0; i < argc && used < sizeof LastArguments; ++i)
        used += std::snprintf(LastArguments + used, sizeof LastArguments - used, "%s%s",
                              i ? "\n" : "", argv[i]);
    if (!getcwd(LastFolder, sizeof LastFolder)) LastFolder[0] = '\0';
    *context = nullptr;
    return 0;
}

DZ_FRAME_HOOK_EXPORT void Process(void*, TFrameHookPicture*, int, int, int, int64_t) {}

DZ_FRAME_HOOK_EXPORT void Release(void*) {
    ++ReleaseCalls;
}

}  // extern "C"
