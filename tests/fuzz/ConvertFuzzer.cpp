// Fuzz target: a mutated file converted by the engine on the calling thread, into a small AVI
// with a frame, time and size limit so that every run stays short. A conversion that reports
// success leaves a file ffprobe reads; one that fails says why.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "engine/CustomFFmpeg.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    LoadLibrariesForFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WriteInputFile(data, size);
    TCustomFFmpeg engine;
    engine.OnLog = [](TCustomFFmpeg*, int, const std::string&) {};
    engine.Reset();
    engine.Verbose = -1;
    try {
        if (!engine.OpenInputFile(path)) return 0;
        const std::pair<const char*, const char*> options[] = {
            {"vcodec", "mpeg4"}, {"s", "64x48"}, {"acodec", "mp2"}, {"ar", "22050"},
            {"vframes", "25"},   {"t", "2"},     {"fs", "1000000"}};
        for (const auto& [name, value] : options) engine.ParseOption(name, value);
        std::filesystem::remove(ScratchFolder() + "/output.avi");
        if (!engine.OpenOutputFile(ScratchFolder() + "/output.avi")) return 0;
    } catch (const std::exception&) {
        return 0;
    }
    const std::string output = ScratchFolder() + "/output.avi";
    engine.Start(false, tpNormal);
    FUZZ_EXPECT(engine.IsTerminated());
    if (engine.HasError()) {
        FUZZ_EXPECT(!engine.ErrorMessage().empty());
    } else if (engine.IsCompleted()) {
        FUZZ_EXPECT(FfprobeReads(output));
    }
    return 0;
}
