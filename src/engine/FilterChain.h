// Joins a filter text between a graph's buffer source and its sink, and configures the graph:
// the one way the picture, sound and loudness graphs are put together.
#pragma once

#include "binding/FFmpegLibs.h"

struct TFilterChainResult {
    int Code = 0;                // the libraries' result, negative on failure
    const char* Step = nullptr;  // the call that failed
};

// "in" (the source) feeds the text's first filter, its last feeds "out" (the sink).
TFilterChainResult ConnectFilterChain(AVFilterGraph* graph, AVFilterContext* source,
                                      AVFilterContext* sink, const char* filters);
