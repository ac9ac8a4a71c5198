#include "cli/MediaFacts.h"

#include "app/core/FileListTexts.h"
#include "probe/AVProbe.h"

TMediaFacts ReadMediaFacts(TAVProbe& probe, const std::string& path) {
    TMediaFacts media;
    media.Path = path;
    if (!probe.LoadFile(path)) {
        media.Error = probe.LastErrorText();
        return media;
    }
    media.Ok = true;
    media.StreamCount = probe.StreamCount();
    media.VideoStreamCount = probe.VideoStreamCount();
    media.AudioStreamCount = probe.AudioStreamCount();
    media.SubtitleStreamCount = probe.SubtitleStreamCount();

    TProbeFacts& facts = media.Facts;
    facts.HasVideo = media.VideoStreamCount > 0;
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
    probe.CloseFile();

    // The same row the window adds, so the texts are the list's own.
    TFileList row;
    row.AddProbedFile(path, facts, "");
    media.SizeText = row.Row(0).VideoSize;
    media.FrameRateText = row.Row(0).FrameRate;
    media.DurationText = row.Row(0).Duration;
    return media;
}

void AddToFileList(TFileList& list, const TMediaFacts& facts, const std::string& formatKey) {
    if (facts.Ok) {
        list.AddProbedFile(facts.Path, facts.Facts, formatKey);
    } else {
        list.AddFailedFile(facts.Path);
    }
}
