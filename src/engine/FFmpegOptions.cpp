#include "engine/FFmpegOptions.h"

TFFmpegOptions::TFFmpegOptions() { ApplyOptionDefaults(); }

TFFmpegOptions::~TFFmpegOptions() = default;

void TFFmpegOptions::ApplyOptionDefaults() { SourceDurationMs = -1; }

void TFFmpegOptions::AllocateOptionContexts() {
    for (int type = 0; type < AVMEDIA_TYPE_NB; ++type) {
        CodecOptionContexts[type] = LibAVCodec.avcodec_alloc_context3(nullptr);
        if (CodecOptionContexts[type])
            CodecOptionContexts[type]->codec_type = static_cast<AVMediaType>(type);
    }
    FormatOptionContext = LibAVFormat.avformat_alloc_context();
    ScalerOptionContext = LibSwScale.sws_alloc_context();
}

void TFFmpegOptions::FreeOptionState() {
    for (auto*& context : CodecOptionContexts) LibAVCodec.avcodec_free_context(&context);
    if (FormatOptionContext) LibAVFormat.avformat_free_context(FormatOptionContext);
    FormatOptionContext = nullptr;
    if (ScalerOptionContext) LibSwScale.sws_freeContext(ScalerOptionContext);
    ScalerOptionContext = nullptr;
}
