// What a command shows while it works: result lines on standard output, messages on standard
// error, and on a terminal one progress line that is rewritten in place. Safe to call from the
// job's worker thread and the main thread alike.
#pragma once

#include <mutex>
#include <string>

class TConsoleStatus {
  public:
    // progressInPlace: standard error is a terminal, so the progress line may be redrawn.
    explicit TConsoleStatus(bool progressInPlace);
    // Whether standard error is a terminal.
    static bool StandardErrorIsTerminal();

    bool ProgressInPlace() const { return inPlace_; }
    // Redraws the progress line; does nothing when standard error is not a terminal.
    void ShowProgress(const std::string& line);
    // Removes the progress line, if one is shown.
    void ClearProgress();
    // Leaves the progress line, if one is shown, as an ordinary line of the output.
    void KeepProgress();
    // Result lines go to standard error from now on (standard output carries a report).
    void SendResultsToStandardError() { resultsToError_ = true; }
    // One line on standard output (flushed: scripts read the results as they come).
    void PrintResult(const std::string& line);
    // One line on standard error (a line end of its own is dropped).
    void PrintMessage(const std::string& line);

  private:
    void ClearProgressLocked();

    std::mutex mutex_;
    const bool inPlace_;
    bool progressShown_ = false;
    bool resultsToError_ = false;
};
