// The texts of the file list: its columns, what a row shows for a probed file, the status and
// progress texts, and the open-file dialog's filter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/core/RowState.h"

struct TListColumn {
    const char* Caption;
    int Width;  // pixels
    bool Centred;
};
// "Video File Name", "Video Size", "FrameRate", "Duration", "Output", "Progress", "Frames",
// "Status" (why a row failed, its pace while converting, what a crash left of it).
const std::vector<TListColumn>& FileListColumns();

// The "Progress" column's text of a state, untranslated: "Done", "Done with errors", "Fail",
// "Abort", "Error"; empty for a waiting or converting row.
const char* RowStateText(TRowState state);
// The "Progress" cell, untranslated: the percentage while converting ("57%"), else RowStateText.
std::string ProgressCellText(TRowState state, int percent);

// "640x480"; " " for a file without video.
std::string VideoSizeText(bool hasVideo, int width, int height);

// The rate rounded to two decimals (halves to even) in its shortest form: 30000/1001 gives
// "29.97", 25/1 gives "25". " " for a file without video or a rate whose denominator is 0.
std::string FrameRateText(bool hasVideo, int num, int den, char decimalSeparator = '.');

// Whole seconds of a duration in microseconds as "hh:mm:ss" (hours may take more digits:
// "100:00:00"); "Unknown" for a negative (unknown) duration.
inline constexpr const char* kDurationUnknown = "Unknown";
std::string DurationText(std::int64_t durationUs);

// The "Progress" cell while converting: the percentage done, at most "100%" ("0%" while the
// total is not known).
std::string ProgressText(std::int64_t currentMs, std::int64_t totalMs);
// The percentage done, 0 to 100 (0 while the total is not known).
int ProgressPercent(std::int64_t currentMs, std::int64_t totalMs);
// The progress bar's position (not capped: the bar clamps it); 0 while the total is not known.
int ProgressPosition(std::int64_t currentMs, std::int64_t totalMs);
// The "Frames" cell: the frame number, or " " for -1.
std::string FramesText(std::int64_t frameNumber);
// The status bar's output-size panel: "File Size : " and the size ("1.5 MB", ByteSizeText).
std::string FileSizeText(std::int64_t bytes);

// The open-file dialog's filter, "name|patterns|name|patterns|...|".
extern const char* const kOpenDialogFilter;

struct TFileFilter {
    std::string Name;                   // "AVI Files (*.avi)"
    std::vector<std::string> Patterns;  // "*.avi"
};
// The filter's name and pattern pairs, patterns split at ";" and trimmed. With the libraries
// loaded, the first pair also holds every extension their demuxers name.
std::vector<TFileFilter> OpenDialogFilters();
// The same pairs without what the loaded libraries add: the types a dropped folder is searched
// for, whether or not the libraries are loaded.
std::vector<TFileFilter> FixedDialogFilters();
// The same as a dialog toolkit takes them: "name (pattern pattern ...)".
std::vector<std::string> OpenDialogFilterEntries();

// A size for people: "512 bytes", "1.0 KB", "12.3 MB", "1.25 GB" (units of 1024).
std::string ByteSizeText(std::int64_t bytes);
