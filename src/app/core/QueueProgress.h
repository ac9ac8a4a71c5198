// What the window shows of a run beyond each row's percentage: the whole queue's progress, the
// time left at the pace seen so far, a row's speed, and the counts of an ended run.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "app/core/FileList.h"
#include "app/core/FileListTexts.h"  // ByteSizeText, shown with the queue's figures

// The time left to convert the rest of totalMs of media when doneMs of it took elapsedMs of wall
// time. None until a pace can be told: less than a second of wall time or nothing done yet.
std::optional<std::int64_t> TimeLeftMs(std::int64_t doneMs, std::int64_t totalMs,
                                       std::int64_t elapsedMs);

// Media time converted per wall time ("2.5" is two and a half times real time); 0 when unknown.
double SpeedFactor(std::int64_t doneMs, std::int64_t elapsedMs);

// "hh:mm:ss" of whole seconds, as the duration column shows them.
std::string ClockText(std::int64_t ms);

// Rows whose file could not be read ("Error") never run, checked or not.
bool IsRunnableRow(const TFileListRow& row);

// The queue's progress over the rows it converts, each weighted by its length; a row of unknown
// length weighs as much as the average known one (a minute when none is known).
class TQueueProgress {
  public:
    // The runnable checked rows of the list make up the run; the wall clock starts at nowMs.
    void Start(const TFileList& list, std::int64_t nowMs);
    void RowProgress(int row, std::int64_t doneMs);
    void RowEnded(int row);

    int Count() const { return static_cast<int>(totals_.size()); }
    int Ended() const { return ended_; }
    // The number of the row being converted, counted from 1 ("2" of "2 of 5").
    int Position() const;
    std::int64_t TotalMs() const;
    std::int64_t DoneMs() const;
    int Percent() const;
    std::optional<std::int64_t> TimeLeftMs(std::int64_t nowMs) const;

  private:
    std::map<int, std::int64_t> totals_;  // row -> weight in ms
    std::map<int, std::int64_t> done_;
    int ended_ = 0;
    std::int64_t startMs_ = 0;
};

// How the rows of an ended run came out.
struct TRunCounts {
    int Done = 0;     // converted whole
    int Partial = 0;  // "Done with errors": not counted as converted
    int Failed = 0;
    int Stopped = 0;  // stopped by the user, or never reached after a stop
    bool AllDone() const { return Done > 0 && Partial == 0 && Failed == 0 && Stopped == 0; }
};
TRunCounts CountRunResults(const TFileList& list);

// The state a row's conversion ends in: failed, stopped by the user, done with errors when it ran
// to its end with a `problem`, else done.
TRowState RowResultState(bool failed, bool stopped, const std::string& problem);

// What a row's status says at the end of its conversion: the failure's `message`, or the
// `problem` of one done with errors; then, when a stopped or failed conversion kept what it had
// converted, "what was converted is kept as NAME.partial.EXT". Empty when there is nothing to
// say.
std::string RowEndText(const std::string& message, const std::string& problem,
                       const std::string& partialFile);

// The reason of a failure as a row shows it: without the input's path in front (the engine and
// the builder each put it there), trimmed; "" stays "".
std::string FailureReason(const std::string& message, const std::string& inputPath);
