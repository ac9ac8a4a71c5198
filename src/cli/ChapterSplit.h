// A file split at its chapters: one output per chapter, cut as a --trim range is, named after
// the file, the chapter's number and its title.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/core/TimeRanges.h"
#include "probe/AVProbe.h"

// One output of a split file: the part of the file it holds, how long that lasts (µs; negative
// when the file's length is not known and the part runs to its end) and what its name gets
// after the file's (" - 01 - Opening").
struct TChapterPart {
    TTimeRange Range;
    std::int64_t LengthUs = -1;
    std::string NamePart;
};

// The parts of a file of `durationUs` (negative: not known) with these chapters, in their order,
// numbered by their place among them from 01. The title is made safe for any file system; one
// without a title is "Chapter NN". Chapters that hold nothing of the file are left out; the
// last part that reaches the end of the file runs to its end.
std::vector<TChapterPart> ChapterParts(const std::vector<TAVChapter>& chapters,
                                       std::int64_t durationUs);

// "folder/NAME - 01 - Opening.ext" for the output "folder/NAME.ext".
std::string ChapterOutputName(const std::string& output, const std::string& namePart);
