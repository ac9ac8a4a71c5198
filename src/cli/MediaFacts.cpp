#include "cli/MediaFacts.h"

#include "app/core/FileListTexts.h"
#include "app/core/ProbeFacts.h"
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

    media.Facts = ReadProbeFacts(probe);
    probe.CloseFile();

    // The same row the window adds, so the texts are the list's own.
    TFileList row;
    row.AddProbedFile(path, media.Facts, "");
    media.SizeText = row.Row(0).VideoSize;
    media.FrameRateText = row.Row(0).FrameRate;
    media.DurationText = row.Row(0).Duration;
    return media;
}

void AddToFileList(TFileList& list, const TMediaFacts& facts, const std::string& formatKey) {
    if (facts.Ok) {
        list.AddProbedFile(facts.Path, facts.Facts, formatKey);
    } else {
        // The window leaves an unreadable file out of the run; the command line converts every
        // file it is given, so that each ends with its own "Fail" line and reason.
        list.AddFailedFile(facts.Path);
        TFileListRow& row = list.Row(list.Count() - 1);
        row.Checked = true;
        row.Progress.clear();
        row.Status.clear();
    }
}
