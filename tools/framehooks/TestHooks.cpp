// Modules for the program's tests: one complete module that records how it is called, and
// deliberately flawed ones, one per flaw. Which one is built is chosen by a definition.
#include <cstdlib>

#include "binding/FrameHookModule.h"

extern "C" {

// What the module saw, for the tests to read with dlsym. Each context is a number of its own:
// the count of Configure calls when it was made.
DZ_FRAME_HOOK_EXPORT int ConfigureCalls = 0;
DZ_FRAME_HOOK_EXPORT int ProcessCalls = 0;
DZ_FRAME_HOOK_EXPORT int ReleaseCalls = 0;
DZ_FRAME_HOOK_EXPORT void* ProcessContexts[16];
DZ_FRAME_HOOK_EXPORT void* ReleaseContexts[16];

#if defined(DZ_HOOK_COMPLETE) || defined(DZ_HOOK_NO_PROCESS) || defined(DZ_HOOK_CONFIGURE_FAILS)
DZ_FRAME_HOOK_EXPORT int Configure(void** context, int, char*[], int) {
    ++ConfigureCalls;
#ifdef DZ_HOOK_CONFIGURE_FAILS
    (void)context;
    return 1;
#else
    int* number = static_cast<int*>(std::malloc(sizeof(int)));
    if (!number) return 1;
    *number = ConfigureCalls;
    *context = number;
    return 0;
#endif
}

DZ_FRAME_HOOK_EXPORT void Release(void* context) {
    ReleaseContexts[ReleaseCalls++ % 16] = context;
    std::free(context);
}
#endif

#if defined(DZ_HOOK_COMPLETE) || defined(DZ_HOOK_PROCESS_ONLY) || defined(DZ_HOOK_CONFIGURE_FAILS)
DZ_FRAME_HOOK_EXPORT void Process(void* context, TFrameHookPicture*, int, int, int, int64_t) {
    ProcessContexts[ProcessCalls++ % 16] = context;
}
#endif

}  // extern "C"
