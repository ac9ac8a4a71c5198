#include "app/core/FileList.h"

#include <algorithm>
#include <functional>

#include "app/core/FileListTexts.h"

void TFileList::AddProbedFile(const std::string& path, const TProbeFacts& facts,
                              const std::string& formatKey) {
    TFileListRow row;
    row.FileName = path;
    row.VideoSize = VideoSizeText(facts.HasVideo, facts.Width, facts.Height);
    row.FrameRate = FrameRateText(facts.HasVideo, facts.FrameRateNum, facts.FrameRateDen);
    if (facts.HasVideo && facts.FrameRateNum > 0 && facts.FrameRateDen > 0) {
        row.FrameRateNum = facts.FrameRateNum;
        row.FrameRateDen = facts.FrameRateDen;
    }
    row.Duration = DurationText(facts.DurationUs);
    row.Output = formatKey;
    row.DurationMs = facts.DurationUs < 0 ? -1 : facts.DurationUs / 1000;
    rows_.push_back(std::move(row));
}

void TFileList::AddFailedFile(const std::string& path, const std::string& reason) {
    TFileListRow row;
    row.FileName = path;
    row.Checked = false;
    row.State = TRowState::Unreadable;
    row.Status = reason;
    rows_.push_back(std::move(row));
}

void TFileList::RemoveRows(std::vector<int> indices) {
    std::sort(indices.begin(), indices.end(), std::greater<>());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    for (int index : indices) {
        if (index >= 0 && index < Count()) rows_.erase(rows_.begin() + index);
    }
}

void TFileList::SetAllChecked(bool checked) {
    for (TFileListRow& row : rows_) row.Checked = checked;
}

void TFileList::SetFormatKey(const std::string& formatKey) {
    for (TFileListRow& row : rows_) row.Output = formatKey;
}

void TFileList::ClearProgress() {
    for (TFileListRow& row : rows_) {
        if (row.State == TRowState::Unreadable) continue;
        row.State = TRowState::Waiting;
        row.Percent = 0;
        row.Status.clear();
    }
}

void TFileList::ClearProgressAndFrames() {
    ClearProgress();
    for (TFileListRow& row : rows_) row.Frames.clear();
}

bool TFileList::Contains(const std::string& path) const {
    return std::any_of(rows_.begin(), rows_.end(),
                       [&](const TFileListRow& row) { return row.FileName == path; });
}
