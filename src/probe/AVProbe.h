// Media probe: opens one media file and answers questions about its container and its video
// streams without decoding or converting anything.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/LibHandles.h"

// Everything the container says about the file. Times are microseconds; texts are NUL-terminated
// and cut to their field's size.
struct TAVFileInfo {
    int64_t StartTime = -1;
    int64_t Duration = -1;
    int32_t BitRate = -1;
    // The creation time the container records, in seconds since 1970 (0 when it records none).
    int64_t Timestamp = -1;
    char Title[512] = {};
    char Author[512] = {};
    char Copyright[512] = {};
    char Comment[512] = {};
    char Album[512] = {};
    int32_t Year = -1;
    int32_t Track = -1;
    char Genre[32] = {};
};

// One video stream. StartTime and Duration count in the stream's own time base; the Us fields
// hold the same quantities in microseconds. Height comes before width. Size and aspect are the
// picture's as displayed (a portrait phone video reads 1080x1920; "noautorotate" aside, that is
// what a conversion writes); the frame rate is the one pictures really come at.
struct TAVVideoStreamInfo {
    char Language[4] = {};
    char CodecName[32] = {};
    int64_t StartTime = -1;
    int64_t StartTimeUs = -1;
    int64_t Duration = -1;
    int64_t DurationUs = -1;
    int32_t BitRate = -1;
    int32_t Height = -1;
    int32_t Width = -1;
    float DisplayAspect = -1.0f;
    int32_t PixelFormat = -1;
    int32_t FrameRateNum = -1;
    int32_t FrameRateDen = -1;
    int32_t Rotation = 0;  // clockwise degrees the display turns the coded picture
};

// One chapter of the file: microseconds from the start of its media (MediaStartTime), and its
// title (empty without one).
struct TAVChapter {
    int64_t StartUs = 0;
    int64_t EndUs = 0;
    std::string Title;
};

// Keeps at most one file open; opening another closes the previous one. Used by one thread at a
// time; it takes no lock.
class TAVProbe {
  public:
    TAVProbe() = default;
    ~TAVProbe();
    TAVProbe(const TAVProbe&) = delete;
    TAVProbe& operator=(const TAVProbe&) = delete;

    // Opens the file, with AFormatName forcing a demuxer when it is not empty. False leaves the
    // probe empty and the reason in LastErrorText. Throws std::runtime_error when a library is not
    // loaded.
    bool LoadFile(const std::string& AFileName, const std::string& AFormatName = "");
    void CloseFile();
    // Without a file both leave the record at its preset values and log why.
    void GetFileInfo(TAVFileInfo& AFileInfo) const;
    // AIndex -1 asks for the video stream a conversion takes (a cover picture or an empty
    // track never).
    void GetVideoStreamInfo(int32_t AIndex, TAVVideoStreamInfo& AVideoStreamInfo) const;
    // The file's chapters in the container's order; none without a file.
    std::vector<TAVChapter> Chapters() const;
    static void CheckLibraries();

    // The message of the last failed open; a later success or a close leaves it in place.
    const std::string& LastErrorText() const { return lastErrorText_; }
    // The forced format name of the open file, empty when none was forced.
    const std::string& FormatName() const { return formatName_; }
    // All counts and indexes read -1 without a file.
    int32_t StreamCount() const { return streamCount_; }
    int32_t ProgramCount() const { return programCount_; }
    int32_t AudioStreamCount() const { return audioStreamCount_; }
    int32_t VideoStreamCount() const { return videoStreamCount_; }
    int32_t SubtitleStreamCount() const { return subtitleStreamCount_; }
    int32_t FirstAudioStream() const { return firstAudioStream_; }
    int32_t FirstVideoStream() const { return firstVideoStream_; }
    int32_t FirstSubtitleStream() const { return firstSubtitleStream_; }

  private:
    void CountStreams();

    TInputPtr formatContext_;  // closed by CloseFile
    std::string lastErrorText_;
    std::string formatName_;
    int32_t streamCount_ = -1;
    int32_t programCount_ = -1;
    int32_t audioStreamCount_ = -1;
    int32_t videoStreamCount_ = -1;
    int32_t subtitleStreamCount_ = -1;
    int32_t firstAudioStream_ = -1;
    int32_t firstVideoStream_ = -1;
    int32_t firstSubtitleStream_ = -1;
};
