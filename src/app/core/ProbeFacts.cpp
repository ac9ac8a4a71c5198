#include "app/core/ProbeFacts.h"

#include "probe/AVProbe.h"

TProbeFacts ReadProbeFacts(TAVProbe& probe) {
    TProbeFacts facts;
    facts.HasVideo = probe.VideoStreamCount() > 0;
    if (facts.HasVideo) {
        TAVVideoStreamInfo video;
        probe.GetVideoStreamInfo(-1, video);
        facts.Width = video.Width;
        facts.Height = video.Height;
        facts.FrameRateNum = video.FrameRateNum;
        facts.FrameRateDen = video.FrameRateDen;
    }
    TAVFileInfo info;
    probe.GetFileInfo(info);
    facts.DurationUs = info.Duration;
    return facts;
}
