#include "app/core/QueueProgress.h"

#include <algorithm>
#include <cstdio>

#include "app/core/FileListTexts.h"

namespace {

constexpr std::int64_t kUnknownLengthMs = 60000;
constexpr std::int64_t kMinPaceMs = 1000;

}  // namespace

std::optional<std::int64_t> TimeLeftMs(std::int64_t doneMs, std::int64_t totalMs,
                                       std::int64_t elapsedMs) {
    if (doneMs <= 0 || elapsedMs < kMinPaceMs || totalMs <= 0) return std::nullopt;
    const std::int64_t rest = std::max<std::int64_t>(0, totalMs - doneMs);
    return static_cast<std::int64_t>(static_cast<double>(rest) * elapsedMs / doneMs);
}

double SpeedFactor(std::int64_t doneMs, std::int64_t elapsedMs) {
    if (doneMs <= 0 || elapsedMs <= 0) return 0;
    return static_cast<double>(doneMs) / static_cast<double>(elapsedMs);
}

std::string ClockText(std::int64_t ms) {
    return DurationText(std::max<std::int64_t>(ms, 0) * 1000);
}

bool IsRunnableRow(const TFileListRow& row) {
    return row.State != TRowState::Unreadable;
}

void TQueueProgress::Start(const TFileList& list, std::int64_t nowMs) {
    totals_.clear();
    done_.clear();
    ended_ = 0;
    startMs_ = nowMs;
    std::int64_t known = 0;
    int knownCount = 0;
    for (int r = 0; r < list.Count(); ++r) {
        const TFileListRow& row = list.Row(r);
        if (!row.Checked || !IsRunnableRow(row)) continue;
        totals_[r] = row.DurationMs;
        if (row.DurationMs > 0) {
            known += row.DurationMs;
            ++knownCount;
        }
    }
    const std::int64_t average = knownCount ? known / knownCount : kUnknownLengthMs;
    for (auto& [row, total] : totals_) {
        if (total <= 0) total = average;
    }
}

void TQueueProgress::RowProgress(int row, std::int64_t doneMs) {
    const auto total = totals_.find(row);
    if (total == totals_.end()) return;
    done_[row] = std::clamp<std::int64_t>(doneMs, 0, total->second);
}

void TQueueProgress::RowEnded(int row) {
    const auto total = totals_.find(row);
    if (total == totals_.end()) return;
    // A failed row counts as done too: the queue does not come back to it.
    done_[row] = total->second;
    ++ended_;
}

int TQueueProgress::Position() const {
    return std::min(ended_ + 1, Count());
}

std::int64_t TQueueProgress::TotalMs() const {
    std::int64_t total = 0;
    for (const auto& [row, ms] : totals_) total += ms;
    return total;
}

std::int64_t TQueueProgress::DoneMs() const {
    std::int64_t done = 0;
    for (const auto& [row, ms] : done_) done += ms;
    return done;
}

int TQueueProgress::Percent() const {
    const std::int64_t total = TotalMs();
    if (total <= 0) return 0;
    return static_cast<int>(std::clamp<std::int64_t>(DoneMs() * 100 / total, 0, 100));
}

std::optional<std::int64_t> TQueueProgress::TimeLeftMs(std::int64_t nowMs) const {
    return ::TimeLeftMs(DoneMs(), TotalMs(), nowMs - startMs_);
}

TRunCounts CountRunResults(const TFileList& list) {
    TRunCounts counts;
    for (int r = 0; r < list.Count(); ++r) {
        const TFileListRow& row = list.Row(r);
        if (row.State == TRowState::Done) {
            ++counts.Done;
        } else if (row.State == TRowState::DoneWithErrors) {
            ++counts.Partial;
        } else if (row.State == TRowState::Failed) {
            ++counts.Failed;
        } else if (row.State == TRowState::Stopped) {
            ++counts.Stopped;
        } else if (row.Checked && IsRunnableRow(row)) {
            ++counts.Stopped;
        }
    }
    return counts;
}

TRowState RowResultState(bool failed, bool stopped, const std::string& problem) {
    if (failed) return TRowState::Failed;
    if (stopped) return TRowState::Stopped;
    return problem.empty() ? TRowState::Done : TRowState::DoneWithErrors;
}

std::string RowEndText(const std::string& message, const std::string& problem,
                       const std::string& partialFile) {
    std::string text = !message.empty() ? message : problem;
    if (!partialFile.empty())
        text += (text.empty() ? "" : "; ") + std::string("what was converted is kept as ") +
                partialFile;
    return text;
}

std::string FailureReason(const std::string& message, const std::string& inputPath) {
    std::string reason = message;
    const auto trim = [&] {
        const auto first = reason.find_first_not_of(" \t\r\n");
        if (first == std::string::npos) {
            reason.clear();
            return;
        }
        reason = reason.substr(first, reason.find_last_not_of(" \t\r\n") - first + 1);
    };
    trim();
    const std::string prefix = inputPath + ":";
    while (!inputPath.empty() && reason.compare(0, prefix.size(), prefix) == 0) {
        reason.erase(0, prefix.size());
        trim();
    }
    return reason;
}
