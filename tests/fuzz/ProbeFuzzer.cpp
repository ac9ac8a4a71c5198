// Fuzz target: the media probe on a mutated file, asked everything the file list asks.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "probe/AVProbe.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    LoadLibrariesForFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WriteInputFile(data, size);
    TAVProbe probe;
    if (!probe.LoadFile(path)) return 0;
    TAVFileInfo fileInfo;
    probe.GetFileInfo(fileInfo);
    TAVVideoStreamInfo videoInfo;
    probe.GetVideoStreamInfo(-1, videoInfo);
    for (int i = 0; i < probe.StreamCount() && i < 4; ++i) probe.GetVideoStreamInfo(i, videoInfo);
    probe.CloseFile();
    return 0;
}
