// Fuzz target: the media probe on a mutated file, asked everything the file list asks. What a
// loaded file tells is in range or says "unknown"; never nonsense.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "binding/FFmpegLibs.h"
#include "probe/AVProbe.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    LoadLibrariesForFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WriteInputFile(data, size);
    TAVProbe probe;
    if (!probe.LoadFile(path)) return 0;
    FUZZ_EXPECT(probe.StreamCount() >= 0);
    FUZZ_EXPECT(probe.VideoStreamCount() + probe.AudioStreamCount() + probe.SubtitleStreamCount() <=
                probe.StreamCount());
    TAVFileInfo fileInfo;
    probe.GetFileInfo(fileInfo);
    FUZZ_EXPECT(fileInfo.Duration >= 0 || fileInfo.Duration == AV_NOPTS_VALUE);
    FUZZ_EXPECT(fileInfo.BitRate >= 0);
    TAVVideoStreamInfo videoInfo;
    probe.GetVideoStreamInfo(-1, videoInfo);
    for (int i = 0; i < probe.StreamCount() && i < 4; ++i) {
        probe.GetVideoStreamInfo(i, videoInfo);
        FUZZ_EXPECT(std::isfinite(videoInfo.DisplayAspect));
        if (videoInfo.CodecName[0] == '\0') continue;  // not a video stream
        FUZZ_EXPECT(videoInfo.Duration >= 0 || videoInfo.Duration == AV_NOPTS_VALUE);
        FUZZ_EXPECT(videoInfo.DurationUs >= -1);
        FUZZ_EXPECT(videoInfo.BitRate >= 0);
        FUZZ_EXPECT(videoInfo.Width >= 0 && videoInfo.Height >= 0);
        FUZZ_EXPECT(videoInfo.DisplayAspect >= 0.0f);
        FUZZ_EXPECT(videoInfo.FrameRateNum >= 0 && videoInfo.FrameRateDen >= 0);
    }
    probe.CloseFile();
    FUZZ_EXPECT(probe.StreamCount() == -1);
    return 0;
}
