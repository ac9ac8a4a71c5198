// The conversion queue: converts the checked rows of the file list one after another. Convert
// starts it; the builder takes one row at a time; a task's end clears the running state; the end
// of the task's run moves on to the next row at once (TaskRunEnded), and reports completion once
// the last row is done. A timer of kQueueTimerMs moves on where no task ran (a row that could
// not be set up), on its second tick. The window drives it and shows its state.
#pragma once

#include <atomic>
#include <string>

#include "app/core/FileList.h"

inline constexpr int kQueueTimerMs = 200;

inline constexpr const char* kMsgAllConversionsCompleted = "All Conversions Completed";
inline constexpr const char* kMsgFailToAddFile = "Fail to add file to list!";
inline constexpr const char* kMsgAddFiles = "Please Add Files To Convert!";
inline constexpr const char* kMsgSelectOutputFolder = "Please select an output folder!";
inline constexpr const char* kMsgStopAllConversions = "Stop all conversions?";
inline constexpr const char* kMsgLibrariesMissing =
    "Some files are missing. Please re-install this software";
inline constexpr const char* kCaptionInformation = "Information";
inline constexpr const char* kCaptionConfirmation = "Confirmation";

// What Convert finds before it starts the queue.
enum class TConvertCheck { ccReady, ccNoFiles, ccNoFolder, ccFolderMissing };
// With sameFolderAsInput the output folder is not needed.
TConvertCheck CheckCanConvert(const TFileList& list, const std::string& outputFolder,
                              bool sameFolderAsInput = false);
// The message for a check that failed ("" for ccReady).
std::string ConvertCheckMessage(TConvertCheck check, const std::string& outputFolder);

// What the queue timer's tick asks the window to do.
enum class TTimerAction {
    taNone,              // a task is running or the wait goes on
    taBuildNext,         // run the builder for the next row (the running state is set)
    taReportCompletion,  // stop the timer, clear the tasks, show kMsgAllConversionsCompleted
};

class TConversionQueue {
  public:
    // Convert passed its checks: the queue runs from the first row on, the timer is on.
    void Start();

    // The builder's scan: advances the current row to the next checked one and returns it.
    // Returns -1 when no checked row is left; then nothing runs any more and, the last row
    // being reached, the queue is finished.
    int NextCheckedRow(const TFileList& list);

    // The current row's task is started; after the last row the queue is finished.
    void TaskStarted();
    // The current row's task ended: its "Progress" shows "Fail" when it ended with an error,
    // "Abort" when the user stopped it, "Done with errors" when it ran to its end with a
    // `problem`, else "Done"; nothing runs any more.
    void MarkResult(TFileList& list, bool failed, const std::string& problem = {});
    // The current row could not be set up: it shows "Fail" and the queue moves on to the next
    // row (or, after the last, is finished).
    void MarkRowFailed(TFileList& list);

    // One tick of the queue timer.
    TTimerAction Tick();
    // The component's run of the current task has ended (it has nothing left to do): what the
    // timer's wait would have led to, at once. Nothing while a task is prepared or runs, or
    // once the queue is stopped.
    TTimerAction TaskRunEnded();

    // The queue ends at once (the user's stop, or a task that could not be started): finished,
    // the timer off, nothing running. byUser marks the ending task "Abort".
    void Stop(bool byUser);

    // "Stop after this file": the running row ends as it would, no further row starts, and the
    // queue then reports its end as usual.
    void StopAfterCurrentRow() { stopAfterRow_ = true; }
    bool StopsAfterCurrentRow() const { return stopAfterRow_; }

    // Rows must keep their indices while the queue runs: the current row is an index.
    bool AllowsRowChanges() const { return !active_ && !IsRunning(); }

    // A task is being prepared or runs. Written by the task's end, possibly on another thread.
    bool IsRunning() const { return running_.load(); }
    bool IsFinished() const { return finished_; }
    bool IsActive() const { return active_; }  // the queue timer is on
    bool StoppedByUser() const { return stoppedByUser_; }
    int CurrentRow() const { return currentRow_; }
    bool LastRowReached() const { return lastRowReached_; }
    int TickCount() const { return tickCount_; }

  private:
    std::atomic<bool> running_{false};
    bool active_ = false;
    bool finished_ = false;
    bool stoppedByUser_ = false;
    bool lastRowReached_ = false;
    bool stopAfterRow_ = false;
    int currentRow_ = -1;
    int tickCount_ = 0;
};
