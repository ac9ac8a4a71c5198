// The option layer of one transcoding job: the option state a job is described by, the keyword
// dispatcher and the typed setters. TCustomFFmpeg (the engine) derives from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/FFmpegLibs.h"
#include "binding/FrameHook.h"
#include "engine/EngineTypes.h"

class TFFmpegOptions {
public:
    TFFmpegOptions();
    virtual ~TFFmpegOptions();
    TFFmpegOptions(const TFFmpegOptions&) = delete;
    TFFmpegOptions& operator=(const TFFmpegOptions&) = delete;

    // Input-side tables: filled by opening input files.
    AVFormatContext* InputFiles[MAX_FILES] = {};
    int64_t InputTimeOffsets[MAX_FILES] = {};  // microseconds, added to every timestamp
    double InputTimeScales[MAX_FILES][MAX_STREAMS] = {};  // 0.0: no scaling
    int32_t InputFileCount = 0;

    AVFormatContext* OutputFiles[MAX_FILES] = {};
    int32_t OutputFileCount = 0;

    // Template contexts that generic library options are stored in; allocated by Reset.
    AVCodecContext* CodecOptionContexts[AVMEDIA_TYPE_NB] = {};
    AVFormatContext* FormatOptionContext = nullptr;
    SwsContext* ScalerOptionContext = nullptr;

    // Frame hooks added by "vhook", released after every run.
    TFrameHookEntry* FrameHooks = nullptr;

    int32_t SourceDurationMs = -1;  // expected length of the job, -1 when unknown
    std::string LastError;          // message of the last failed input or output set-up

protected:
    // Reports one message through the engine's log slot (level -1, 0, 1 or 2).
    virtual void DoLog(int level, const std::string& text) = 0;

    // Every option field takes its default; nothing is freed.
    void ApplyOptionDefaults();
    // Creates the per-media-type codec templates, the format template and the scaler template.
    void AllocateOptionContexts();
    // Frees the template contexts and every text, table and file the options own.
    void FreeOptionState();
};
