/* The interface a frame-hook module exports, in C: "Configure" (optional unless the hook is
 * given arguments), "Process" (required) and "Release" (optional). A module changes the
 * picture's pixels in place. */
#ifndef DZ_FRAME_HOOK_MODULE_H
#define DZ_FRAME_HOOK_MODULE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Four plane pointers and their line sizes in bytes, as the libraries' pictures have them. */
typedef struct TFrameHookPicture {
    uint8_t* data[4];
    int linesize[4];
} TFrameHookPicture;

/* argv[0] is the module's file name, the rest its arguments; highestIndex is the highest
 * valid index of the argument array (63). Returns 0 on success and may store a context. */
typedef int (*TFrameHookConfigure)(void** context, int argc, char* argv[], int highestIndex);
/* pixelFormat is the libraries' pixel format number; pts is in microseconds. */
typedef void (*TFrameHookProcess)(void* context, TFrameHookPicture* picture, int pixelFormat,
                                  int width, int height, int64_t pts);
typedef void (*TFrameHookRelease)(void* context);

/* Marks the three entry points for export when a module hides its other symbols
 * (-fvisibility=hidden), as the sample modules do. */
#define DZ_FRAME_HOOK_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
}
#endif

#endif
