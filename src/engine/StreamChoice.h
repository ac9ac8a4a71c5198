// Which streams of an input a conversion takes and what they show: the one choice that the
// engine converts and the probe reports, so the file list and the output agree.
#pragma once

#include <cstdint>
#include <string>

#include "binding/FFmpegLibs.h"

// A stream that can be converted: not a cover picture, with the parameters a decoder needs
// (a picture size, or a sample rate and channels). An empty track in a fragmented MP4 has none.
bool UsableStream(const AVStream* stream);

// The stream of `type` a conversion takes, -1 when none is usable: the default-disposition one
// first, then the largest picture (video) or the most channels (audio), then the first. In a
// file of several programs, only the chosen program's streams count.
int ChooseStream(const AVFormatContext* file, AVMediaType type);

// The program a file of several (a broadcast capture) is converted from: the one holding the
// video stream that would be chosen among all, else the first with a usable stream. Each
// program keeps its own clock, far from the others': mixing them would mix the clocks. nullptr
// for a file of one program or none.
const AVProgram* ChosenProgram(const AVFormatContext* file);
// Whether the stream belongs to the chosen program; every stream does when none is chosen.
bool InChosenProgram(const AVFormatContext* file, unsigned streamIndex);

// The file's cover picture (an attached picture), -1 when it has none.
int FindCoverStream(const AVFormatContext* file);
// Whether an output of the format gets the first input's cover as a picture stream of its own,
// made right after its first sound stream (TagsAndCover.cpp).
bool WritesCoverStream(const AVOutputFormat* format);

// When the file's media start, microseconds: the earliest start of its chosen video, audio and
// subtitle streams. Data, timed-metadata and chapter streams (cues that start before the
// pictures) do not count. AV_NOPTS_VALUE when none says.
int64_t MediaStartTime(const AVFormatContext* file);

// How long the file's media last, microseconds: the file's own length, unless that is more than
// 10 s longer than its longest chosen video or audio stream (the streams of a broadcast capture
// run on clocks that lie apart, and the file's length spans them): then that stream's.
// AV_NOPTS_VALUE when nothing says.
int64_t MediaDuration(const AVFormatContext* file);

// The rate pictures really come at: the nominal rate, or the average where the nominal one is
// a time base (90000, 1000 and other rates above 240) or unknown. {0, 1} when neither is known.
AVRational RealFrameRate(const AVStream* stream);

// How a display matrix turns the coded picture: a clockwise rotation by a multiple of 90
// degrees, then a left-right mirror.
struct TDisplayTransform {
    int ClockwiseDegrees = 0;  // 0, 90, 180, 270
    bool Mirrored = false;
    bool Identity() const { return ClockwiseDegrees == 0 && !Mirrored; }
    // 90 and 270 make the width the height.
    bool SwapsSides() const { return ClockwiseDegrees == 90 || ClockwiseDegrees == 270; }
    // The filters that do it ("transpose=clock", "hflip,vflip", ...); empty for none.
    std::string FilterText() const;
};
// From a display matrix (16.16 and 2.30 fixed point, as the containers store it). A rotation
// that is not a multiple of 90 degrees is left alone.
TDisplayTransform DisplayTransformOf(const int32_t matrix[9]);
// From the stream's display-matrix side data; none when it has no matrix.
TDisplayTransform DisplayTransformOf(const AVStream* stream);
