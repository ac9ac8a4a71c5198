#include "cli/MediaFacts.h"

#include <algorithm>

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
    TAVFileInfo info;
    probe.GetFileInfo(info);
    media.Title = info.Title;
    media.CreatedSeconds = info.Timestamp > 0 ? info.Timestamp : 0;
    media.Chapters = probe.Chapters();
    if (media.Facts.HasVideo) {
        TAVVideoStreamInfo video;
        probe.GetVideoStreamInfo(-1, video);
        media.VideoCodecName = video.CodecName;
    }
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
        row.State = TRowState::Waiting;
        row.Status.clear();
    }
}

namespace {

// The codecs of picture files. One of them as the only stream, for no more than a few pictures'
// time, is a still picture, not a video (a motion-JPEG film or an animated PNG lasts).
bool IsPictureCodec(const std::string& codec) {
    static const char* const kCodecs[] = {
        "png", "mjpeg", "jpeg2000", "jpegls", "bmp", "webp", "gif", "tiff", "qoi", "targa",
        "sgi", "ppm",   "pgm",      "pbm",    "pam", "exr",  "dpx", "pcx",  "xbm", "xpm"};
    return std::find(std::begin(kCodecs), std::end(kCodecs), codec) != std::end(kCodecs);
}

constexpr int64_t kStillLongestUs = 200000;

}  // namespace

std::string NothingToConvertReason(const TMediaFacts& facts) {
    if (!facts.Ok) return "no media file (" + facts.Error + ")";
    if (facts.AudioStreamCount > 0) return {};
    // The libraries read a .txt or .nfo file as ANSI art: a "video" of text.
    if (facts.VideoCodecName == "ansi") return "a text, no sound or moving pictures";
    if (!facts.Facts.HasVideo) return "no sound or moving pictures";
    const bool still =
        IsPictureCodec(facts.VideoCodecName) && facts.Facts.DurationUs < kStillLongestUs;
    return still ? "a still picture, no sound or moving pictures" : std::string();
}
