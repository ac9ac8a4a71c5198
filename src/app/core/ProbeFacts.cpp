#include "app/core/ProbeFacts.h"

#include "probe/AVProbe.h"

TProbeFacts ReadProbeFacts(TAVProbe& probe) {
    TProbeFacts facts;
    // The video a conversion takes: a file whose only pictures are a cover or an empty track
    // lists none.
    TAVVideoStreamInfo video;
    if (probe.VideoStreamCount() > 0) probe.GetVideoStreamInfo(-1, video);
    facts.HasVideo = video.Width > 0 && video.Height > 0;
    if (facts.HasVideo) {
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
