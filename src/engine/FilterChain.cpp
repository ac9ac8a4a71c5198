#include "engine/FilterChain.h"

#include <cerrno>

#include "binding/LibHandles.h"

TFilterChainResult ConnectFilterChain(AVFilterGraph* graph, AVFilterContext* source,
                                      AVFilterContext* sink, const char* filters) {
    TFilterInOutPtr outputs(LibAVFilter.avfilter_inout_alloc());
    TFilterInOutPtr inputs(LibAVFilter.avfilter_inout_alloc());
    if (!outputs || !inputs) return {AVERROR(ENOMEM), "avfilter_inout_alloc"};
    outputs->name = LibAVUtil.av_strdup("in");
    outputs->filter_ctx = source;
    inputs->name = LibAVUtil.av_strdup("out");
    inputs->filter_ctx = sink;
    // The parser takes the lists and leaves in them what it did not connect.
    AVFilterInOut* openInputs = inputs.release();
    AVFilterInOut* openOutputs = outputs.release();
    int result =
        LibAVFilter.avfilter_graph_parse_ptr(graph, filters, &openInputs, &openOutputs, nullptr);
    inputs.reset(openInputs);
    outputs.reset(openOutputs);
    if (result < 0) return {result, "avfilter_graph_parse_ptr"};
    result = LibAVFilter.avfilter_graph_config(graph, nullptr);
    if (result < 0) return {result, "avfilter_graph_config"};
    return {};
}
