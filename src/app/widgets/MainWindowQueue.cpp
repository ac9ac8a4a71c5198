// The main window's conversion queue: Convert and the stops, one file at a time or several at
// once, and the converter's events shown in the rows, the bars and the status bar.
#include "app/widgets/MainWindow.h"
#include "app/widgets/WindowParts.h"

#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <string_view>
#include <thread>
#include <utility>

#include "app/core/DroppedFiles.h"
#include "app/core/FileListTexts.h"
#include "app/core/ParameterReaders.h"
#include "app/core/ProbeFacts.h"
#include "app/core/SettingsKeys.h"
#include "app/widgets/AboutBox.h"
#include "app/widgets/ApplicationIcon.h"
#include "app/widgets/CommandBar.h"
#include "app/widgets/DesktopNotification.h"
#include "app/widgets/FileListModel.h"
#include "app/widgets/FileProber.h"
#include "app/widgets/FontAdjustment.h"
#include "app/widgets/MessageBoxes.h"
#include "app/widgets/OptionsDialog.h"
#include "app/widgets/OutputFolderPanel.h"
#include "app/widgets/OutputSettingsPanel.h"
#include "app/widgets/PresetMenu.h"
#include "app/widgets/ProfileList.h"
#include "app/widgets/QueueBar.h"
#include "app/widgets/SettingsStore.h"
#include "binding/FFmpegLibs.h"
#include "binding/ProgramFolders.h"
#include "component/HardwareEncoders.h"

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

// --- The conversion queue ---

void TMainWindow::StartConversion() {
    if (addingFiles_ || !queue_.AllowsRowChanges()) return;
    fileList_.ClearProgressAndFrames();
    fileModel_->AllRowsChanged();
    const std::string folder = OutputFolder().toStdString();
    const TConvertCheck check = CheckCanConvert(fileList_, folder, SameFolderAsInput());
    if (check != TConvertCheck::ccReady) {
        ShowInformation(this, ConvertCheckText(check, OutputFolder()));
        if (check != TConvertCheck::ccNoFiles) BrowseForOutputFolder();
        return;
    }
    if (!backend_) {
        ShowInformation(this, tr(kMsgConversionUnavailable));
        return;
    }
    rowLogs_.clear();
    taskErrors_.clear();
    rowStartMs_.clear();
    endedRows_.clear();
    stoppedRows_.clear();
    runClock_.start();
    queueProgress_.Start(fileList_, 0);
    queueBar_->SetQueueProgress(0);
    queue_.Start();
    queueTimer_->start();
    EnableControls(false);
    ShowQueueStatus();
    backend_->ShareCoresAmong(ParallelFiles());
    if (ParallelFiles() > 1) {
        StartBatch();
    } else {
        RunJobBuilder();
    }
}

QString TMainWindow::ConvertCheckText(TConvertCheck check, const QString& folder) const {
    switch (check) {
        case TConvertCheck::ccReady:
            return {};
        case TConvertCheck::ccNoFiles:
            return tr(kMsgAddFiles);
        case TConvertCheck::ccNoFolder:
            return tr(kMsgSelectOutputFolder);
        case TConvertCheck::ccFolderMissing:
            return tr("The output folder \"%1\"\ndoes not exist or has been deleted!\nPlease "
                      "choose a new output folder.")
                .arg(folder);
    }
    return {};
}

void TMainWindow::StartBatch() {
    // The component runs the tasks, up to N at once, in list order; the queue's timer only
    // waits for the run's end.
    ClearTasks();
    TBatchResult batch = BuildAllTasks(fileList_, JobSettings(), *backend_);
    for (const std::string& line : batch.LogLines) qInfo("%s", line.c_str());
    for (int row : batch.FailedRows) {
        SetRowReason(row, Q(fileList_.Row(row).Status));
        queueProgress_.RowEnded(row);
    }
    batchRows_ = batch.TaskRows;
    batchRunning_ = true;
    fileModel_->AllRowsChanged();
    if (batchRows_.empty()) {
        queue_.Stop(false);
        ReportRunEnd();
        return;
    }
    try {
        backend_->StartTasks(ParallelFiles());
    } catch (const std::exception& error) {
        backend_->StopTasks();
        for (int row : batchRows_) {
            if (row >= 0) SetRowReason(row, Q(error.what()));
        }
        queue_.Stop(false);
        ReportRunEnd();
    }
}

void TMainWindow::RunJobBuilder() {
    queueBar_->SetFileProgress(0);
    // The builder clears the tasks too; cleared here, the new task's events belong to a new run.
    ClearTasks();
    TBuildResult result = BuildNextTask(fileList_, queue_, JobSettings(), *backend_);
    for (const std::string& line : result.LogLines) {
        qInfo("%s", line.c_str());
        if (result.Row >= 0) rowLogs_[result.Row].append(Q(line));
    }
    if (result.Row >= 0) rowStartMs_[result.Row] = runClock_.elapsed();
    fileModel_->RowChanged(result.Row);
    switch (result.Outcome) {
        case TBuildOutcome::boStarted:
        case TBuildOutcome::boNoRowLeft:
            break;
        case TBuildOutcome::boRowFailed:
            if (!result.LogLines.empty()) SetRowReason(result.Row, Q(result.LogLines.back()));
            queueProgress_.RowEnded(result.Row);
            break;
        case TBuildOutcome::boStartFailed:
            if (!result.LogLines.empty()) SetRowReason(result.Row, Q(result.LogLines.back()));
            queueTimer_->stop();
            ReportRunEnd();
            break;
    }
    ShowQueueStatus();
    if (!result.Message.empty()) ShowQueueMessage(tr(result.Message.c_str()));
}

void TMainWindow::ShowQueueMessage(const QString& text) {
    // The queue waits while the message is read.
    const bool active = queueTimer_->isActive();
    queueTimer_->stop();
    ShowInformation(this, text);
    if (active && queue_.IsActive()) queueTimer_->start();
}

void TMainWindow::QueueTimerTick() {
    DoQueueAction(queue_.Tick());
}

void TMainWindow::DoQueueAction(TTimerAction action) {
    switch (action) {
        case TTimerAction::taNone:
            return;
        case TTimerAction::taBuildNext:
            RunJobBuilder();
            return;
        case TTimerAction::taReportCompletion:
            queueTimer_->stop();
            ClearTasks();
            ReportRunEnd();
            ShowInformation(this, RunSummary());
            return;
    }
}

QString TMainWindow::RunSummary() const {
    const TRunCounts counts = CountRunResults(fileList_);
    if (counts.AllDone()) return tr(kMsgAllConversionsCompleted);
    QStringList parts;
    parts.append(tr("%n converted", nullptr, counts.Done));
    if (counts.Partial) parts.append(tr("%n done with errors", nullptr, counts.Partial));
    if (counts.Failed) parts.append(tr("%n failed", nullptr, counts.Failed));
    if (counts.Stopped) parts.append(tr("%n stopped", nullptr, counts.Stopped));
    return parts.join(QStringLiteral(", "));
}

void TMainWindow::ReportRunEnd() {
    // The run is over, however it ended: controls back, the title and bars at rest, the
    // desktop told.
    batchRunning_ = false;
    batchRows_.clear();
    queueBar_->SetFileProgress(0);
    queueBar_->SetQueueProgress(queueProgress_.Percent());
    EnableControls(true);
    setWindowTitle(tr(kMainCaption));
    // "Stopping a.mp4" is over with the run; it would hide the summary.
    if (!stoppingMessage_.isEmpty() && statusBar_->currentMessage() == stoppingMessage_)
        statusBar_->clearMessage();
    const QString summary = RunSummary();
    statusPanels_[0]->setText(summary);
    SendDesktopNotification(tr(kMainCaption), summary);
    SaveQueueNow();
}

void TMainWindow::StopConversion() {
    bool byUser = false;
    if (queue_.IsRunning() || batchRunning_) {
        const bool active = queueTimer_->isActive();
        queueTimer_->stop();
        if (backend_) backend_->PauseTasks();
        if (!AskConfirmation(this, tr(kMsgStopAllConversions))) {
            if (backend_) backend_->ResumeTasks();
            if (active && queue_.IsActive()) queueTimer_->start();
            return;
        }
        byUser = true;
    }
    queue_.Stop(byUser);
    queueTimer_->stop();
    if (backend_) backend_->StopTasks();
    queueBar_->SetFileProgress(0);
    if (batchRunning_) {
        // The stopped tasks report their ends; the run's end follows them.
        return;
    }
    if (byUser) {
        ReportRunEnd();
    } else {
        EnableControls(true);
    }
}

bool TMainWindow::RowIsRunning(int row) const {
    if (!rowStartMs_.count(row) || endedRows_.count(row)) return false;
    if (batchRunning_)
        return std::find(batchRows_.begin(), batchRows_.end(), row) != batchRows_.end();
    return queue_.IsRunning() && queue_.CurrentRow() == row;
}

void TMainWindow::StopThisFile() {
    if (!backend_ || !(queue_.IsRunning() || batchRunning_)) return;
    QList<int> rows = SelectedRows();
    if (rows.isEmpty()) {
        // Nothing selected: the file being converted, when only one is.
        for (int row = 0; row < fileList_.Count(); ++row) {
            if (RowIsRunning(row)) rows.append(row);
        }
        if (rows.size() != 1) {
            statusBar_->showMessage(tr("Select the file to stop"), kHintMs);
            return;
        }
    }
    QStringList stopping;
    for (int row : rows) {
        // A selected file that waits or has ended is left as it is.
        if (!RowIsRunning(row) || stoppedRows_.count(row)) continue;
        stoppedRows_.insert(row);
        if (batchRunning_) {
            const auto task =
                std::find(batchRows_.begin(), batchRows_.end(), row) - batchRows_.begin();
            backend_->StopTask(static_cast<int>(task));
        } else {
            // One file at a time: the one task is this row's; the queue then goes on.
            backend_->StopTasks();
        }
        stopping.append(QFileInfo(Q(fileList_.Row(row).FileName)).fileName());
    }
    stoppingMessage_ =
        stopping.isEmpty() ? QString() : tr("Stopping %1").arg(stopping.join(QStringLiteral(", ")));
    statusBar_->showMessage(
        stopping.isEmpty() ? tr("The selected file is not being converted") : stoppingMessage_,
        kHintMs);
}

void TMainWindow::StopAfterRunningFiles() {
    if (batchRunning_) {
        // Tasks that have not begun are taken out from the last one backwards, so that the
        // indices of those before stay as they are.
        for (int task = static_cast<int>(batchRows_.size()) - 1; task >= 0; --task) {
            const int row = batchRows_[task];
            if (row < 0 || rowStartMs_.count(row)) continue;
            backend_->DeleteTask(task);
            batchRows_.erase(batchRows_.begin() + task);
        }
    }
    queue_.StopAfterCurrentRow();
    queueBar_->SetStopAfterEnabled(false);
    statusBar_->showMessage(tr("The run stops when the files being converted are done"), kHintMs);
}

void TMainWindow::EnableControls(bool enabled) {
    commandBar_->SetControlsEnabled(enabled);
    profileList_->setEnabled(enabled);
    settingsPanel_->SetControlsEnabled(enabled);
    folderPanel_->SetControlsEnabled(enabled);
    UpdateFitSizeControls(enabled);
    queueBar_->SetRunning(!enabled);
    popupAllowed_ = true;
    for (QAction* action : rowMenu_->actions()) {
        const QString name = action->objectName();
        const bool always = name == "showInFolderAction" || name == "playAction" ||
                            name == "showLogAction" || name.isEmpty();
        action->setEnabled(enabled || always);
    }
    rowMenu_->findChild<QAction*>("stopThisFileAction")->setEnabled(!enabled);
    for (QMenu* menu : {fileMenu_, optionsMenu_, helpMenu_, presetsMenu_}) {
        menu->menuAction()->setEnabled(enabled);
    }
}

int TMainWindow::RowOfTask(int task) const {
    if (batchRunning_) {
        return task >= 0 && task < static_cast<int>(batchRows_.size()) ? batchRows_[task] : -1;
    }
    return queue_.CurrentRow();
}

void TMainWindow::ShowTaskProgress(const TTaskProgressEvent& event) {
    // Reports that were on their way when the user stopped the queue would show progress again.
    if (closing_ || !(queue_.IsRunning() || batchRunning_)) return;
    const int row = RowOfTask(event.Index);
    const TProgressInfo& progress = event.Progress;
    const std::int64_t now = runClock_.elapsed();
    if (row >= 0 && row < fileList_.Count()) {
        if (!rowStartMs_.count(row)) rowStartMs_[row] = now;
        fileTable_->scrollTo(fileModel_->index(row, 0));
        TFileListRow& rowData = fileList_.Row(row);
        rowData.State = TRowState::Converting;
        rowData.Percent = ProgressPercent(progress.CurrentDuration, progress.TotalOutputDuration);
        rowData.Frames = FramesText(progress.FrameNumber);
        // Speed and time left of this file, from its own start.
        const std::int64_t elapsed = now - rowStartMs_[row];
        QStringList pace;
        if (progress.FPS > 0) pace.append(tr("%1 fps").arg(progress.FPS));
        const double speed = SpeedFactor(progress.CurrentDuration, elapsed);
        if (speed > 0 && elapsed >= 1000) pace.append(tr("%1x").arg(speed, 0, 'f', 1));
        if (const auto left =
                TimeLeftMs(progress.CurrentDuration, progress.TotalOutputDuration, elapsed)) {
            pace.append(tr("%1 left").arg(Q(ClockText(*left))));
        }
        rowData.Status = pace.join(QStringLiteral(" \u00b7 ")).toStdString();
        fileModel_->RowChanged(row);
        queueProgress_.RowProgress(row, progress.CurrentDuration);
        ScheduleSave();
    }
    statusPanels_[1]->setText(tr("File Size : %1").arg(Q(ByteSizeText(progress.CurrentSize))));
    queueBar_->SetFileProgress(
        ProgressPosition(progress.CurrentDuration, progress.TotalOutputDuration));
    ShowQueueStatus();
}

void TMainWindow::ShowQueueStatus() {
    if (!(queue_.IsActive() || batchRunning_)) return;
    const int percent = queueProgress_.Percent();
    queueBar_->SetQueueProgress(percent);
    QString text =
        tr("Converting %1 of %2").arg(queueProgress_.Position()).arg(queueProgress_.Count());
    if (const auto left = queueProgress_.TimeLeftMs(runClock_.elapsed())) {
        text += tr(" - %1 left").arg(Q(ClockText(*left)));
    }
    statusPanels_[0]->setText(text);
    statusPanels_[2]->setText(QStringLiteral("%1%").arg(percent));
    setWindowTitle(tr("%1% - %2").arg(percent).arg(tr(kMainCaption)));
}

void TMainWindow::ShowTaskLog(const TTaskLogEvent& event) {
    if (event.Index < 0) return;
    const int row = RowOfTask(event.Index);
    if (row >= 0) rowLogs_[row].append(Q(event.Message));
    if (event.Level <= 0) taskErrors_[event.Index] = event.Message;
}

void TMainWindow::RowEnded(int row, const TTaskTerminateEvent& event) {
    if (row < 0 || row >= fileList_.Count()) return;
    TFileListRow& rowData = fileList_.Row(row);
    rowData.Status.clear();
    endedRows_.insert(row);
    queueProgress_.RowEnded(row);
    const std::string message =
        event.Exception && event.Message.empty() ? taskErrors_[event.Index] : event.Message;
    if (const std::string said = RowEndText(message, event.Problem, event.PartialFile);
        !said.empty()) {
        SetRowReason(row, Q(said));
    } else {
        fileModel_->RowChanged(row);
    }
    ShowQueueStatus();
    ScheduleSave();
}

void TMainWindow::TaskEnded(const TTaskTerminateEvent& event) {
    if (closing_) return;
    if (batchRunning_) {
        if (event.Index >= 0) {
            const int row = RowOfTask(event.Index);
            if (row >= 0 && row < fileList_.Count()) {
                fileList_.Row(row).State = RowResultState(
                    event.Exception, queue_.StoppedByUser() || !event.Finished, event.Problem);
                RowEnded(row, event);
            }
        } else {
            // The run's end: every task has reported its own.
            queue_.Stop(false);
            ClearTasks();
            const bool stopped = queue_.StoppedByUser();
            ReportRunEnd();
            if (!stopped) ShowInformation(this, RunSummary());
        }
        return;
    }
    if (event.Index >= 0) {
        const int row = queue_.CurrentRow();
        queue_.MarkResult(fileList_, event.Exception, event.Problem);
        // A file stopped on its own before its end ends as a stop; the queue goes on with the
        // next.
        if (!event.Exception && !event.Finished && stoppedRows_.count(row))
            fileList_.Row(row).State = TRowState::Stopped;
        RowEnded(row, event);
        return;
    }
    // The task's run has ended and the component is idle: the queue moves on now rather than
    // at its timer's next ticks. Not while the timer waits for a message to be read, and not
    // while the next task is prepared (TaskRunEnded is then taNone).
    const TTimerAction action =
        queueTimer_->isActive() ? queue_.TaskRunEnded() : TTimerAction::taNone;
    if (action != TTimerAction::taNone) {
        DoQueueAction(action);
    } else if (queue_.IsFinished()) {
        ClearTasks();
        queueBar_->SetFileProgress(0);
    }
}

void TMainWindow::ClearTasks() {
    if (backend_) backend_->ClearTasks();
    // No event of the cleared tasks runs any more: those still on their way are stale.
    ++taskRun_;
}
