#include "app/core/ConversionQueue.h"

#include <filesystem>

#include "app/core/FileListTexts.h"
#include "app/core/QueueProgress.h"

namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

TConvertCheck CheckCanConvert(const TFileList& list, const std::string& outputFolder,
                              bool sameFolderAsInput) {
    if (list.Empty()) return TConvertCheck::ccNoFiles;
    if (sameFolderAsInput) return TConvertCheck::ccReady;
    if (outputFolder.empty()) return TConvertCheck::ccNoFolder;
    std::error_code ec;
    if (!std::filesystem::is_directory(Trimmed(outputFolder), ec)) {
        return TConvertCheck::ccFolderMissing;
    }
    return TConvertCheck::ccReady;
}

std::string ConvertCheckMessage(TConvertCheck check, const std::string& outputFolder) {
    switch (check) {
        case TConvertCheck::ccReady:
            return {};
        case TConvertCheck::ccNoFiles:
            return kMsgAddFiles;
        case TConvertCheck::ccNoFolder:
            return kMsgSelectOutputFolder;
        case TConvertCheck::ccFolderMissing:
            // Each line break is a line feed followed by a carriage return.
            return "The output folder \"" + outputFolder +
                   "\"\n\rdoes not exist or has been deleted!\n\rPlease choose a new output "
                   "folder.";
    }
    return {};
}

void TConversionQueue::Start() {
    running_ = true;
    active_ = true;
    finished_ = false;
    stoppedByUser_ = false;
    lastRowReached_ = false;
    currentRow_ = -1;
    tickCount_ = 0;
    stopAfterRow_ = false;
}

int TConversionQueue::NextCheckedRow(const TFileList& list) {
    lastRowReached_ = false;
    finished_ = false;
    const int last = list.Count() - 1;
    ++currentRow_;
    const auto runs = [&](int row) {
        return list.Row(row).Checked && IsRunnableRow(list.Row(row));
    };
    while (currentRow_ < last && !runs(currentRow_)) ++currentRow_;
    // Past the end counts as the last row too (the list may have shrunk), so the queue ends.
    lastRowReached_ = currentRow_ >= last;
    if (stopAfterRow_ || (currentRow_ <= last && !runs(currentRow_))) {
        // Nothing more to do: a stop after the previous file leaves the rest not done.
        lastRowReached_ = true;
    }
    if (!stopAfterRow_ && currentRow_ <= last && runs(currentRow_)) return currentRow_;
    running_ = false;
    if (lastRowReached_) finished_ = true;
    return -1;
}

void TConversionQueue::TaskStarted() {
    if (lastRowReached_) finished_ = true;
}

void TConversionQueue::MarkResult(TFileList& list, bool failed, const std::string& problem) {
    if (currentRow_ >= 0 && currentRow_ < list.Count())
        list.Row(currentRow_).State = RowResultState(failed, stoppedByUser_, problem);
    running_ = false;
}

void TConversionQueue::MarkRowFailed(TFileList& list) {
    if (currentRow_ >= 0 && currentRow_ < list.Count())
        list.Row(currentRow_).State = TRowState::Failed;
    tickCount_ = 0;
    if (lastRowReached_) finished_ = true;
    running_ = false;
}

TTimerAction TConversionQueue::Tick() {
    if (!active_ || running_) return TTimerAction::taNone;
    if (finished_) {
        active_ = false;
        return TTimerAction::taReportCompletion;
    }
    if (++tickCount_ < 2) return TTimerAction::taNone;
    tickCount_ = 0;
    running_ = true;
    return TTimerAction::taBuildNext;
}

TTimerAction TConversionQueue::TaskRunEnded() {
    if (!active_ || running_) return TTimerAction::taNone;
    tickCount_ = 1;  // the wait is over
    return Tick();
}

void TConversionQueue::Stop(bool byUser) {
    if (byUser) stoppedByUser_ = true;
    finished_ = true;
    active_ = false;
    running_ = false;
}
