// Ranges of a file to convert: the parts kept, in order, joined into one output, and how they
// are cut. Plain data for the command line and the window; the engine's "trim" option carries
// them to the job.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// One range, µs from the start of the file's media. EndUs -1: to the end of the file.
struct TTimeRange {
    std::int64_t StartUs = 0;
    std::int64_t EndUs = -1;
    bool operator==(const TTimeRange&) const = default;
};

// exact: the video is encoded again, so the first picture is the one at the start; keyframe:
// a copied video starts at the key frame at or before the start (the log says how much earlier).
enum class TCutMode { Exact, Keyframe };

// A range or time that cannot be read; the message names the text.
class TRangeError : public std::invalid_argument {
  public:
    using std::invalid_argument::invalid_argument;
};

// A time as seconds with decimals ("75.5") or [hh:]mm:ss[.fff] ("1:15.5", "00:01:15.500"), µs.
// Throws TRangeError.
std::int64_t ParseRangeTime(const std::string& text);
// "START-END", END empty for the end of the file. Throws TRangeError for an unreadable time and
// for an END that is not after START.
TTimeRange ParseTimeRange(const std::string& text);
// "exact" or "keyframe"; none for anything else.
std::optional<TCutMode> ParseCutMode(const std::string& text);

// "75.500" (seconds, three decimals), as messages and the engine's option show a time.
std::string RangeTimeText(std::int64_t microseconds);
// "75.500-80.000", "75.500-" for a range to the end.
std::string RangeText(const TTimeRange& range);

// Why the ranges cannot be cut out of a file of `durationUs` (negative: not known), naming the
// file and the range: a range that overlaps another or starts at or after the end of the file.
// Empty when they can.
std::string RangesProblem(const std::vector<TTimeRange>& ranges, std::int64_t durationUs,
                          const std::string& fileName);

// The engine's option line for the ranges: "trim=1.000-2.500,7.000-".
std::string TrimOptionLine(const std::vector<TTimeRange>& ranges);
