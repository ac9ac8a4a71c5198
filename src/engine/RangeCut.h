// Parts of an input kept in an output: the ranges a job cuts out of its input and joins, the
// source's chapters moved and cut to match them, and the state of a cut while the job reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One part of the input kept, on the input's clock (µs, the engine's ist.Pts), and where it
// begins in the output (µs). SourceEnd INT64_MAX: to the end of the input.
struct TCutPiece {
    int64_t SourceStart = 0;
    int64_t SourceEnd = INT64_MAX;
    int64_t OutputStart = 0;
    int64_t SeekTo = 0;  // where reading starts, before the video's key frame; INT64_MIN: the
                         // start of the file
};

// A key frame on the input's clock (µs), and where a seek lands before it.
struct TKeyFrameSeek {
    int64_t Time = 0;
    int64_t SeekTo = 0;
};

// A source chapter on the input's clock (µs) with its index in the source's chapter list.
struct TChapterSpan {
    int64_t Start = 0;
    int64_t End = 0;
    int Source = 0;
};

// The chapters of an output cut as `pieces` say: each chapter's part within each piece, moved to
// where the piece lies in the output. A chapter whose parts follow each other in the output is
// one chapter; parts of no length are left out. In output order.
std::vector<TChapterSpan> MapChapterSpans(const std::vector<TChapterSpan>& chapters,
                                          const std::vector<TCutPiece>& pieces);

// Ranges as the "trim" option gives them: "START-END[,START-END...]", each time as the engine's
// durations take them (seconds with decimals, or [hh:]mm:ss[.fff]); an empty END is the end of
// the input. Returns µs from the start of the input's media, END INT64_MAX when empty. Throws
// FFMpegException naming the value for an unreadable time, an END not after its START, and
// ranges out of order or overlapping.
std::vector<std::pair<int64_t, int64_t>> ParseTrimRanges(const std::string& text);

// The state of a cut while the job reads: the pieces, the one being read, and which input
// streams have passed its end.
struct TRangeCut {
    std::vector<TCutPiece> Pieces;
    size_t Current = 0;
    bool Finished = false;         // the last piece has been read: nothing more is delivered
    int64_t LengthUs = 0;          // the output's length the pieces make, µs (0: not known)
    std::vector<int64_t> LeadsUs;  // per piece: how much earlier than asked it starts, µs
    std::vector<char> PassedEnd;   // per input stream of the run
    std::vector<char> Counts;      // per input stream: an output waits for it to pass the end
};
