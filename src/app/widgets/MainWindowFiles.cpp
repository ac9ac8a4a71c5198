// The main window's file list: adding files (chosen, dropped or named), their rows as their
// probes end, removing and ticking them, and what a row's menu offers after a run.
#include "app/widgets/MainWindow.h"
#include "app/widgets/WindowParts.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>
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

// A dialog no larger than the screen it opens on: what its layout needs gives way first.
void FitDialogToScreen(QWidget& dialog) {
    const QScreen* screen = dialog.screen();
    if (!screen) return;
    const QSize available = screen->availableGeometry().size() * 0.9;
    dialog.setMinimumSize(dialog.minimumSize().boundedTo(available));
    dialog.resize(dialog.sizeHint().boundedTo(available));
}

}  // namespace

// --- The file list ---

void TMainWindow::SetRowReason(int row, const QString& reason) {
    if (row < 0 || row >= fileList_.Count()) return;
    fileList_.Row(row).Status = FailureReason(reason.toStdString(), fileList_.Row(row).FileName);
    fileModel_->RowChanged(row);
    ScheduleSave();
}

QList<int> TMainWindow::SelectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : fileTable_->selectionModel()->selectedRows()) {
        rows.append(index.row());
    }
    return rows;
}

void TMainWindow::FileTableContextMenu(const QPoint& at) {
    if (!popupAllowed_) return;
    // The menu is about the row under the pointer.
    const int row = fileTable_->rowAt(at.y());
    if (row >= 0 && !SelectedRows().contains(row)) fileTable_->selectRow(row);
    rowMenu_->popup(fileTable_->viewport()->mapToGlobal(at));
}

bool TMainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == fileTable_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        RemoveSelectedRows();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainWindow::AddFilesClicked() {
    AddFilesFrom(nullptr);
}

void TMainWindow::AddFiles(const QStringList& paths) {
    AddFilesFrom(&paths);
}

void TMainWindow::AddFilesFrom(const QStringList* paths) {
    // Rows keep their indices while the queue runs: the queue addresses them by index.
    if (!queue_.AllowsRowChanges() || addingFiles_) return;
    ClearTasks();
    fileList_.ClearProgress();
    fileModel_->AllRowsChanged();
    addingFiles_ = true;
    AddFileRows(paths ? *paths : ChooseFilesToAdd());
}

QStringList TMainWindow::ChooseFilesToAdd() {
    QStringList filters;
    const std::vector<TFileFilter> named = OpenDialogFilters();
    const std::vector<std::string> entries = OpenDialogFilterEntries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        // The name in the user's language, the patterns after it as they are.
        filters.append(tr(named[i].Name.c_str()) + Q(entries[i].substr(named[i].Name.size())));
    }
    QFileDialog dialog(this, tr("Open"), lastAddFolder_);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters(filters);
    // The filters' names already say their patterns.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    FitDialogToScreen(dialog);
    if (dialog.exec() != QDialog::Accepted) return {};
    lastAddFolder_ = dialog.directory().absolutePath();
    return dialog.selectedFiles();
}

void TMainWindow::AddFileRows(const QStringList& paths) {
    alreadyListed_.clear();
    std::vector<std::string> toProbe;
    std::set<std::string> named;
    for (const QString& path : paths) {
        const std::string file = path.toStdString();
        if (!fileList_.Contains(file)) {
            if (named.insert(file).second) toProbe.push_back(file);
            continue;
        }
        // Named again: the user wants it converted, so it is ticked if it can be.
        for (int row = 0; row < fileList_.Count(); ++row) {
            TFileListRow& existing = fileList_.Row(row);
            if (existing.FileName != file || !IsRunnableRow(existing)) continue;
            existing.Checked = true;
            fileModel_->RowChanged(row);
        }
        alreadyListed_.append(QFileInfo(path).fileName());
    }
    if (toProbe.empty()) {
        AddingEnded();
        return;
    }
    prober_.Start(std::move(toProbe));
}

void TMainWindow::FileProbed(const TProbedInput& probed) {
    if (!addingFiles_) return;
    if (probed.Failed) {
        qWarning("Adding %s: %s", probed.File.c_str(), probed.Error.c_str());
        return;
    }
    QString reason;
    if (!probed.Exists) {
        fileModel_->AppendRow([&](TFileList& list) { list.AddFailedFile(probed.File); });
        reason = tr("The file does not exist");
    } else if (probed.Read) {
        const QString separator = QLocale().decimalPoint();
        const char decimal = separator.size() == 1 && separator[0].unicode() < 0x80
                                 ? static_cast<char>(separator[0].unicode())
                                 : '.';
        fileModel_->AppendRow([&](TFileList& list) {
            list.AddProbedFile(probed.File, probed.Facts, selection_.FormatKey());
            list.Row(list.Count() - 1).FrameRate =
                FrameRateText(probed.Facts.HasVideo, probed.Facts.FrameRateNum,
                              probed.Facts.FrameRateDen, decimal);
        });
    } else {
        fileModel_->AppendRow([&](TFileList& list) { list.AddFailedFile(probed.File); });
        reason = Q(probed.Error);
    }
    if (!reason.isEmpty()) SetRowReason(fileList_.Count() - 1, reason);
    fileTable_->scrollToBottom();
}

void TMainWindow::AddingEnded() {
    addingFiles_ = false;
    if (!alreadyListed_.isEmpty()) {
        statusBar_->showMessage(
            tr("Already in the list: %1").arg(alreadyListed_.join(QStringLiteral(", "))), kHintMs);
    }
    ScheduleSave();
}

void TMainWindow::RemoveSelectedRows() {
    if (addingFiles_ || !queue_.AllowsRowChanges()) return;
    QList<int> rows = SelectedRows();
    std::sort(rows.begin(), rows.end(), std::greater<>());
    fileModel_->RemoveRows(std::vector<int>(rows.begin(), rows.end()));
    rowLogs_.clear();
    ScheduleSave();
}

void TMainWindow::ClearRows() {
    if (addingFiles_ || !queue_.AllowsRowChanges()) return;
    ClearTasks();
    fileModel_->Clear();
    rowLogs_.clear();
    ScheduleSave();
}

void TMainWindow::CheckAllRows() {
    fileList_.SetAllChecked(true);
    // Unreadable files stay unchecked.
    for (int row = 0; row < fileList_.Count(); ++row) {
        if (!IsRunnableRow(fileList_.Row(row))) fileList_.Row(row).Checked = false;
    }
    fileModel_->AllRowsChanged();
    ScheduleSave();
}

void TMainWindow::UncheckAllRows() {
    fileList_.SetAllChecked(false);
    fileModel_->AllRowsChanged();
    ScheduleSave();
}

void TMainWindow::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    const bool local =
        std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
    if (local && queue_.AllowsRowChanges() && !addingFiles_) event->acceptProposedAction();
}

void TMainWindow::dropEvent(QDropEvent* event) {
    std::vector<std::string> dropped;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) dropped.push_back(url.toLocalFile().toStdString());
    }
    QStringList files;
    for (const std::string& file : ExpandDroppedPaths(dropped)) files.append(Q(file));
    event->acceptProposedAction();
    if (!files.isEmpty()) AddFiles(files);
}

// --- After the run ---

QString TMainWindow::OutputFolderOfRow(int row) const {
    if (row >= 0 && row < fileList_.Count() && !fileList_.Row(row).OutputFile.empty()) {
        return QFileInfo(Q(fileList_.Row(row).OutputFile)).absolutePath();
    }
    if (SameFolderAsInput() && row >= 0 && row < fileList_.Count()) {
        return QFileInfo(Q(fileList_.Row(row).FileName)).absolutePath();
    }
    return OutputFolder().trimmed();
}

int TMainWindow::CurrentListRow() const {
    const QList<int> rows = SelectedRows();
    if (!rows.isEmpty()) return rows.front();
    return fileTable_->currentIndex().row();
}

void TMainWindow::OpenOutputFolder() {
    const QString folder = OutputFolderOfRow(CurrentListRow());
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        ShowInformation(this, tr("The output folder \"%1\" does not exist.").arg(folder));
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void TMainWindow::ShowRowInFolder() {
    const int row = CurrentListRow();
    if (row < 0 || row >= fileList_.Count()) return;
    const QString output = Q(fileList_.Row(row).OutputFile);
    // The output's folder once there is one, else the input's.
    const QString folder = !output.isEmpty() && QFileInfo::exists(output)
                               ? QFileInfo(output).absolutePath()
                               : QFileInfo(Q(fileList_.Row(row).FileName)).absolutePath();
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void TMainWindow::PlayRow() {
    const int row = CurrentListRow();
    if (row < 0 || row >= fileList_.Count()) return;
    const QString output = Q(fileList_.Row(row).OutputFile);
    const TRowState state = fileList_.Row(row).State;
    const bool converted = state == TRowState::Done || state == TRowState::DoneWithErrors;
    const QString file =
        converted && QFileInfo::exists(output) ? output : Q(fileList_.Row(row).FileName);
    QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

QStringList TMainWindow::RowLog(int row) const {
    const auto log = rowLogs_.find(row);
    return log == rowLogs_.end() ? QStringList() : log->second;
}

void TMainWindow::ShowRowLog() {
    const int row = CurrentListRow();
    if (row < 0 || row >= fileList_.Count()) return;
    QDialog dialog(this);
    dialog.setObjectName("LogDialog");
    dialog.setWindowTitle(
        tr("Log of %1").arg(QFileInfo(Q(fileList_.Row(row).FileName)).fileName()));
    auto* layout = new QVBoxLayout(&dialog);
    auto* text = new QPlainTextEdit(&dialog);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    const QStringList log = RowLog(row);
    text->setPlainText(log.isEmpty() ? tr("This file has not been converted yet.")
                                     : log.join('\n'));
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(fontMetrics().averageCharWidth() * 100, fontMetrics().height() * 25);
    dialog.exec();
}
