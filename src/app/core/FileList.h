// The rows of the file list: one input file each, checked when it is to be converted, with what
// the probe found and how its conversion went.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/core/RowState.h"

// What the probe tells of a file, as far as the list shows it.
struct TProbeFacts {
    bool HasVideo = false;
    int Width = 0;
    int Height = 0;
    int FrameRateNum = 0;
    int FrameRateDen = 0;
    std::int64_t DurationUs = -1;  // negative when unknown
};

struct TFileListRow {
    std::string FileName;  // full path, as shown in the first column
    bool Checked = true;
    std::string VideoSize;  // "640x480", or " " without video
    std::string FrameRate;  // "29.97", or " "
    int FrameRateNum = 0;   // the exact rate behind FrameRate (30000/1001); 0 when unknown
    int FrameRateDen = 1;
    std::string Duration;  // "01:02:05" or "Unknown"
    std::string Output;    // format key of the chosen profile
    TRowState State = TRowState::Waiting;
    int Percent = 0;               // 0..100 while converting
    std::string Frames;            // frame number while converting
    std::int64_t DurationMs = -1;  // negative when unknown
    std::string Status;            // why it failed, its pace while converting, or what a crash left
    std::string OutputFile;        // the output of its last conversion, once one began
};

class TFileList {
  public:
    // A file the probe could read: a checked row with its size, rate and duration.
    void AddProbedFile(const std::string& path, const TProbeFacts& facts,
                       const std::string& formatKey);
    // A file the probe could not read: an unchecked, unreadable row with the reason in its status;
    // the queue never runs it.
    void AddFailedFile(const std::string& path, const std::string& reason = {});
    // Removes the rows at the given indices (in any order; duplicates and unknown ones ignored).
    void RemoveRows(std::vector<int> indices);
    void Clear() { rows_.clear(); }
    void SetAllChecked(bool checked);
    // A newly chosen profile's key goes into the "Output" column of every row.
    void SetFormatKey(const std::string& formatKey);
    // Both put every row but the unreadable ones back to waiting.
    void ClearProgress();           // before files are added
    void ClearProgressAndFrames();  // before a conversion starts
    // Whether a row holds the file already (the same path).
    bool Contains(const std::string& path) const;
    void Append(TFileListRow row) { rows_.push_back(std::move(row)); }

    int Count() const { return static_cast<int>(rows_.size()); }
    bool Empty() const { return rows_.empty(); }
    TFileListRow& Row(int index) { return rows_.at(index); }
    const TFileListRow& Row(int index) const { return rows_.at(index); }

  private:
    std::vector<TFileListRow> rows_;
};
