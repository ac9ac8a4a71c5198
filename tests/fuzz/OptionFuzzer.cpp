// Fuzz target: option texts as a task carries them, split into keywords and values and applied
// one after another to a fresh engine. The option layer may refuse a value with its own
// exception; anything else (a crash, undefined behaviour, a leak) is a fault. Whatever the text,
// the options stay consistent (the bounds the handlers enforce hold after every step), and a
// reset brings back the defaults of a fresh engine.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "FuzzSupport.h"
#include "engine/CustomFFmpeg.h"
#include "engine/OptionText.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    LoadLibrariesForFuzzing();
    return 0;
}

namespace {

void ExpectConsistent(const TCustomFFmpeg& engine) {
    for (int32_t band : {engine.CropTop, engine.CropBottom, engine.CropLeft, engine.CropRight,
                         engine.PadTop, engine.PadBottom, engine.PadLeft, engine.PadRight}) {
        FUZZ_EXPECT(band >= 0 && band % 2 == 0);
    }
    FUZZ_EXPECT(engine.FrameWidth >= 0 && engine.FrameHeight >= 0);
    FUZZ_EXPECT((engine.FrameRate.num == 0 && engine.FrameRate.den == 0) ||
                (engine.FrameRate.num > 0 && engine.FrameRate.den > 0));
    FUZZ_EXPECT(engine.VideoQuantiserScale == 0.0f ||
                (engine.VideoQuantiserScale > 0.0f && engine.VideoQuantiserScale <= 255.0f));
    FUZZ_EXPECT(engine.StreamMapCount >= 0 && engine.StreamMapCount <= MAX_STREAM_MAPS);
    FUZZ_EXPECT(engine.MetaDataMapCount >= 0 && engine.MetaDataMapCount <= MAX_META_DATA_MAPS);
    FUZZ_EXPECT(engine.Pass >= 0 && engine.Pass <= 2);
    FUZZ_EXPECT(engine.InputFileCount >= 0 && engine.InputFileCount <= MAX_FILES);
    FUZZ_EXPECT(engine.OutputFileCount >= 0 && engine.OutputFileCount <= MAX_FILES);
}

void ExpectDefaults(const TCustomFFmpeg& engine, const TCustomFFmpeg& fresh) {
    FUZZ_EXPECT(engine.InputFileCount == 0 && engine.OutputFileCount == 0);
    FUZZ_EXPECT(engine.StreamMapCount == 0 && engine.MetaDataMapCount == 0);
    FUZZ_EXPECT(engine.FrameWidth == fresh.FrameWidth && engine.FrameHeight == fresh.FrameHeight);
    FUZZ_EXPECT(engine.FrameRate.num == fresh.FrameRate.num &&
                engine.FrameRate.den == fresh.FrameRate.den);
    FUZZ_EXPECT(engine.CropTop == 0 && engine.CropLeft == 0 && engine.PadTop == 0 &&
                engine.PadLeft == 0);
    FUZZ_EXPECT(engine.AudioSampleRate == fresh.AudioSampleRate);
    FUZZ_EXPECT(engine.AudioChannels == fresh.AudioChannels);
    FUZZ_EXPECT(engine.RecordingTime == fresh.RecordingTime);
    FUZZ_EXPECT(engine.FileSizeLimit == fresh.FileSizeLimit);
    FUZZ_EXPECT(engine.VideoCodecName == fresh.VideoCodecName);
    FUZZ_EXPECT(engine.AudioCodecName == fresh.AudioCodecName);
    FUZZ_EXPECT(engine.Pass == fresh.Pass);
    for (int type = 0; type < kCodecTemplateCount; ++type) {
        FUZZ_EXPECT(engine.CodecOptionContexts[type] != nullptr);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TCustomFFmpeg engine;
    engine.OnLog = [](TCustomFFmpeg*, int, const std::string&) {};
    engine.Reset();
    for (const auto& [name, value] : SplitOptionText(text)) {
        // A frame-hook module is a program of its own: loading whatever file a text names is
        // what the keyword is for, not a fault.
        if (name == "vhook") continue;
        try {
            engine.ParseOption(name, value);
        } catch (const std::exception&) {
            // A refusal; the next option goes on from the state it left.
        }
        ExpectConsistent(engine);
    }
    engine.Reset();
    static TCustomFFmpeg* const fresh = [] {
        auto* defaults = new TCustomFFmpeg;
        defaults->Reset();
        return defaults;
    }();
    ExpectDefaults(engine, *fresh);
    return 0;
}
