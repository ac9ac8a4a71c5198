#include "app/widgets/MainWindow.h"
#include "app/widgets/WindowParts.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
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

// The core's group headings, listed here so that the translation tools find them; the window
// shows each through tr().
[[maybe_unused]] constexpr const char* kHeadingTexts[] = {
    QT_TRANSLATE_NOOP("TMainWindow", "Phone"),
    QT_TRANSLATE_NOOP("TMainWindow", "Web upload"),
    QT_TRANSLATE_NOOP("TMainWindow", "Keep quality"),
    QT_TRANSLATE_NOOP("TMainWindow", "Small file"),
    QT_TRANSLATE_NOOP("TMainWindow", "Audio"),
    QT_TRANSLATE_NOOP("TMainWindow", "Lossless"),
    QT_TRANSLATE_NOOP("TMainWindow", "Video files (older formats)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Audio files (older formats)"),
    QT_TRANSLATE_NOOP("TMainWindow", "iPod"),
    QT_TRANSLATE_NOOP("TMainWindow", "Apple TV"),
    QT_TRANSLATE_NOOP("TMainWindow", "iPod Touch"),
    QT_TRANSLATE_NOOP("TMainWindow", "iPhone"),
    QT_TRANSLATE_NOOP("TMainWindow", "Zune"),
    QT_TRANSLATE_NOOP("TMainWindow", "PlayStation (PSP, PS3)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Other players (Archos, BlackBerry, Creative, iRiver)"),
};

// Window geometry, list columns and the last folder files were added from, kept with the
// settings.
constexpr const char* kKeyWindowGeometry = "Window/Geometry";
constexpr const char* kKeyListColumns = "Window/ListColumns";
constexpr const char* kKeyLastAddFolder = "Window/LastAddFolder";
constexpr const char* kKeyParallelFiles = "Window/ParallelFiles";
constexpr const char* kKeySameFolder = "Window/SameFolderAsInput";

// The texts app/core keeps in English (its tests and the saved queue compare them) and the window
// shows through tr(): named here for the translation tools, each checked against its constant.
// The catalogue's entries and the product's name are never translated.
constexpr bool Same(std::string_view a, std::string_view b) {
    return a == b;
}
static_assert(Same(kMsgAddFiles, QT_TRANSLATE_NOOP("TMainWindow", "Please Add Files To Convert!")));
static_assert(Same(kMsgSelectOutputFolder,
                   QT_TRANSLATE_NOOP("TMainWindow", "Please select an output folder!")));
static_assert(Same(kMsgStopAllConversions,
                   QT_TRANSLATE_NOOP("TMainWindow", "Stop all conversions?")));
static_assert(Same(kMsgAllConversionsCompleted,
                   QT_TRANSLATE_NOOP("TMainWindow", "All Conversions Completed")));
static_assert(Same(kMsgFailToAddFile,
                   QT_TRANSLATE_NOOP("TMainWindow", "Fail to add file to list!")));
static_assert(Same(kMsgLibrariesMissing,
                   QT_TRANSLATE_NOOP("TMainWindow",
                                     "Some files are missing. Please re-install this software")));
static_assert(Same(kMsgConversionUnavailable,
                   QT_TRANSLATE_NOOP("TMainWindow",
                                     "Conversion is not available in this build: the "
                                     "converter component is not part of it yet.")));
// The list's "Duration" cell (the list model shows it).
static_assert(Same(kDurationUnknown, QT_TRANSLATE_NOOP("TMainWindow", "Unknown")));
// The "Video Zoom" list (app/core's LetterBoxEntries()).
[[maybe_unused]] constexpr const char* kLetterBoxNames[] = {
    QT_TRANSLATE_NOOP("TMainWindow", "None"),
    QT_TRANSLATE_NOOP("TMainWindow", "LetterBox"),
};

// The open-file dialog's filter names (app/core's kOpenDialogFilter), shown through tr().
[[maybe_unused]] constexpr const char* kFilterNames[] = {
    QT_TRANSLATE_NOOP("TMainWindow", "All Supported Files"),
    QT_TRANSLATE_NOOP("TMainWindow", "3GPP Files (*.3gp)"),
    QT_TRANSLATE_NOOP("TMainWindow", "3GPP2 Files (*.3g2)"),
    QT_TRANSLATE_NOOP("TMainWindow", "AAC Files (*.aac)"),
    QT_TRANSLATE_NOOP("TMainWindow", "AC3 Files (*.ac3)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Audio CD Files (*.cda)"),
    QT_TRANSLATE_NOOP("TMainWindow", "AVI Files (*.avi)"),
    QT_TRANSLATE_NOOP("TMainWindow", "DV Video Files (*.dv, *.dif)"),
    QT_TRANSLATE_NOOP("TMainWindow", "DVD VOB Files (*.vob)"),
    QT_TRANSLATE_NOOP("TMainWindow", "FLAC Files (*.flac)"),
    QT_TRANSLATE_NOOP("TMainWindow", "GIF Animated Files (*.gif)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Macromedia Flash Files (*.flv, *.swf)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Matroska Files (*.mkv, *.mka)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Monkey Audio Files (*.ape, *.cue)"),
    QT_TRANSLATE_NOOP("TMainWindow", "MJpeg Video Files (*.mjpg, *.mjpeg)"),
    QT_TRANSLATE_NOOP("TMainWindow", "MP2 Files (*.mp2)"),
    QT_TRANSLATE_NOOP("TMainWindow", "MP3 Files (*.mp3)"),
    QT_TRANSLATE_NOOP("TMainWindow", "MPEG Files (*.mpeg, *.mpg, *.mpa, *.m1v, *.mv2)"),
    QT_TRANSLATE_NOOP("TMainWindow", "MPEG Transport Streams (*.ts, *.m2ts, *.mts)"),
    QT_TRANSLATE_NOOP("TMainWindow", "MPEG-4 Files (*.mp4, *.m4v)"),
    QT_TRANSLATE_NOOP("TMainWindow", "MPEG-4 Audio Files (*.m4a, *.mp4)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Ogg Files (*.ogg, *.oga, *.ogv, *.opus)"),
    QT_TRANSLATE_NOOP("TMainWindow", "RealMedia Files (*.rm, *.rmvb, *.ram, *.ra)"),
    QT_TRANSLATE_NOOP("TMainWindow", "QuickTime Files (*.mov, *.qt)"),
    QT_TRANSLATE_NOOP("TMainWindow", "VCD DAT Files (*.dat)"),
    QT_TRANSLATE_NOOP("TMainWindow", "WAV Files (*.wav, *.au, *.aiff)"),
    QT_TRANSLATE_NOOP("TMainWindow", "WebM Files (*.webm)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Windows Media Files(*.wma, *.wmv, *.asf, *.asx)"),
    QT_TRANSLATE_NOOP("TMainWindow", "All Files (*)"),
};

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The help file beside the program, or in the installed data folder.
QString HelpFilePath() {
    const std::string found = FindProgramFile(TProgramFiles::Data, "help.html");
    return found.empty() ? QCoreApplication::applicationDirPath() + "/help.html"
                         : QString::fromStdString(found);
}

// Fit to size is for the profiles that write video.
bool WritesVideo(const TOutputProfile* profile) {
    return profile && !IsAudioFormatKey(profile->FormatKey);
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

TMainWindow::TMainWindow(TConversionBackend* backend, QWidget* parent)
    : QMainWindow(parent), backend_(backend) {
    setObjectName("MainWindow");
    SetDesignedFont(this);
    CreateControls();
    CreateMenus();
    FormCreate();
}

TMainWindow::~TMainWindow() {
    prober_.Stop();
}

void TMainWindow::FormCreate() {
    if (IsNewerSystemVersion()) AdjustFont(this);
    setWindowIcon(ApplicationIcon());

    const std::string libraryFolder =
        (QCoreApplication::applicationDirPath() + "/Common Files").toStdString();
    librariesLoaded_ = backend_ ? backend_->LoadLibraries(libraryFolder, true)
                                : LoadFFmpegLibs(libraryFolder, true);
    if (!librariesLoaded_) {
        const std::string why = backend_ ? backend_->LastErrorText() : FFmpegLibsError();
        qWarning("%s", why.c_str());
        ShowInformation(this, tr(kMsgLibrariesMissing));
        return;
    }
    // Which hardware encoders work is found out on a worker while the window starts.
    StartHardwareSurvey();
    if (backend_) {
        // The events come on the task's thread: each is handed to this window's thread, in
        // the order received, and only relayed there. Each carries the task run it was raised
        // in; one that arrives after its tasks were cleared (a stopped task's end when Convert
        // was pressed again at once, say) belongs to no row any more and is dropped.
        const auto relay = [this](auto handler) {
            return [this, handler](const auto& event) {
                const std::uint64_t run = taskRun_.load();
                QMetaObject::invokeMethod(
                    this,
                    [this, handler, event, run] {
                        if (run == taskRun_.load()) (this->*handler)(event);
                    },
                    Qt::QueuedConnection);
            };
        };
        TConversionEvents events;
        events.OnProgress = relay(&TMainWindow::ShowTaskProgress);
        events.OnLog = relay(&TMainWindow::ShowTaskLog);
        events.OnTerminate = relay(&TMainWindow::TaskEnded);
        taskEvents_ = TEventSubscription(backend_, std::move(events));
    }

    setWindowTitle(tr(kMainCaption));
    helpFile_ = HelpFilePath();
    setAcceptDrops(true);
    dataFolder_ = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);

    settingsPanel_->SetVolumePosition(kDefaultVolumePosition);
    volume_ = VolumeForPosition(settingsPanel_->VolumePosition());

    ComboOutputFormat->FillProfiles();
    SelectOutputFormatLine(kDefaultFormatLine);
    ComboOutputFormat->setMaxVisibleItems(kFallbackDropDownItems);

    settingsPanel_->ShowLists();
    settingsPanel_->FillLetterBox(LetterBoxEntries());
    TimerConvertAgain->stop();
    presets_.Load(dataFolder_);
    ReloadPresetLines();

    // The layouts say how small the window may get; it opens at a comfortable size that still
    // fits the screen it is on.
    setMinimumSize(minimumSizeHint().boundedTo(QSize(720, 480)));
    QSize size = sizeHint().expandedTo(QSize(960, 620));
    if (const QScreen* screen = this->screen()) {
        size = size.boundedTo(screen->availableGeometry().size() * 0.95);
    }
    resize(size.expandedTo(minimumSize()));
}

void TMainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!firstShow_) return;
    firstShow_ = false;
    if (const QScreen* screen = this->screen()) {
        const QRect available = screen->availableGeometry();
        if (!available.contains(frameGeometry())) {
            // A geometry saved on a larger screen, or a font that grew: back onto this screen.
            const QSize frameExtra = frameGeometry().size() - size();
            resize(size().boundedTo(available.size() - frameExtra).expandedTo(minimumSize()));
            QRect frame = frameGeometry();
            frame.moveCenter(available.center());
            move(frame.topLeft());
        } else if (!restoredGeometry_) {
            QRect frame = frameGeometry();
            frame.moveCenter(available.center());
            move(frame.topLeft());
        }
    }
    if (!restoredColumns_) FitNameColumn();
    // The profile restored from the settings fills the parameter lists, unless the saved queue
    // has already chosen them.
    if (!choicesRestored_) ComboOutputFormatChange();
}

void TMainWindow::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

bool TMainWindow::FormCloseQuery() {
    // Closing waits for the whole queue, not only a running task: between two files nothing
    // runs, yet the queue is not done.
    if (!queue_.AllowsRowChanges() || addingFiles_) return false;
    taskEvents_.Reset();
    if (backend_) backend_->StopTasks();
    closing_ = true;
    return true;
}

void TMainWindow::FormClose() {
    if (options_) WriteSettings(Settings());
    QSettings store(kSettingsOrganisation, kSettingsApplication);
    store.setValue(kKeyWindowGeometry, saveGeometry());
    store.setValue(kKeyListColumns, ListColumnState());
    store.setValue(kKeyLastAddFolder, lastAddFolder_);
    store.setValue(kKeyParallelFiles, ParallelFiles());
    store.setValue(kKeySameFolder, SameFolderAsInput() ? 1 : 0);
    SaveQueueNow();
}

void TMainWindow::RestoreWindowState() {
    QSettings store(kSettingsOrganisation, kSettingsApplication);
    restoredGeometry_ = restoreGeometry(store.value(kKeyWindowGeometry).toByteArray());
    RestoreListColumnState(store.value(kKeyListColumns).toByteArray());
    lastAddFolder_ = store.value(kKeyLastAddFolder).toString();
    SetParallelFiles(store.value(kKeyParallelFiles, 1).toInt());
    SetSameFolderAsInput(store.value(kKeySameFolder, 0).toInt() != 0);
}

QByteArray TMainWindow::ListColumnState() const {
    return fileTable->horizontalHeader()->saveState();
}

void TMainWindow::RestoreListColumnState(const QByteArray& state) {
    if (!state.isEmpty()) restoredColumns_ = fileTable->horizontalHeader()->restoreState(state);
}

void TMainWindow::FitNameColumn() {
    // The name column takes what the list's width leaves beside the others and a status column
    // of a fair width, so that no column starts out of sight.
    int others = 0;
    for (int c = 1; c < kColumnCount - 1; ++c) others += fileTable->columnWidth(c);
    // The status column's own width is its least: the last column only stretches.
    const int status = fileTable->columnWidth(kColumnCount - 1);
    const int free = fileTable->viewport()->width() - others - status;
    fileTable->setColumnWidth(
        0, std::clamp(free, fontMetrics().averageCharWidth() * 14, fileTable->columnWidth(0)));
}

// --- Settings ---

QString TMainWindow::OutputFolder() const {
    return folderPanel_->Folder();
}

void TMainWindow::SetOutputFolder(const QString& folder) {
    folderPanel_->SetFolder(folder);
    ScheduleSave();
}

bool TMainWindow::SameFolderAsInput() const {
    return folderPanel_->SameFolderAsInput();
}

void TMainWindow::SetSameFolderAsInput(bool same) {
    folderPanel_->SetSameFolderAsInput(same);
}

int TMainWindow::ParallelFiles() const {
    return queueBar_->ParallelFiles();
}

void TMainWindow::SetParallelFiles(int count) {
    queueBar_->SetParallelFiles(count);
}

void TMainWindow::SelectOutputFormatLine(int line) {
    if (choicesRestored_) return;  // the saved queue's choice is the later one
    if (!selection_.Choose(line)) return;
    ComboOutputFormat->ShowLine(line);
}

int TMainWindow::LetterBoxIndex() const {
    return settingsPanel_->LetterBoxIndex();
}

void TMainWindow::SelectLetterBox(int index) {
    settingsPanel_->SelectLetterBox(index);
}

std::optional<int> TMainWindow::DropDownItems() const {
    return dropDownItems_;
}

void TMainWindow::SetOptionsDialog(TOptionsDialog* options) {
    options_ = options;
    // The dialog is not modal: the window's own choices may have changed since it took its copy,
    // so only what the dialog edits is taken from it.
    connect(options_, &TOptionsDialog::SettingsChanged, this, [this](const TUserSettings& edited) {
        TUserSettings settings = Settings();
        settings.Overwrite = edited.Overwrite;
        settings.DropDownItems = edited.DropDownItems;
        ApplySettings(settings);
    });
    TUserSettings settings = Settings();
    const bool complete = ReadSettings(settings);
    ApplySettings(settings);
    if (!complete) WriteSettings(Settings());
}

TUserSettings TMainWindow::Settings() const {
    TUserSettings settings;
    settings.OutputFolder = OutputFolder().toStdString();
    settings.OutputFormatLine = OutputFormatLine();
    settings.Overwrite = overwrite_;
    settings.DropDownItems = dropDownItems_.value_or(kDefaultDropDownItems);
    settings.LetterBox = LetterBoxIndex();
    return settings;
}

void TMainWindow::ApplySettings(const TUserSettings& settings) {
    const TUserSettings shown = Settings();
    if (settings.OutputFolder != shown.OutputFolder)
        SetOutputFolder(QString::fromStdString(settings.OutputFolder));
    if (settings.OutputFormatLine != shown.OutputFormatLine)
        SelectOutputFormatLine(settings.OutputFormatLine);
    if (settings.LetterBox != shown.LetterBox) SelectLetterBox(settings.LetterBox);
    overwrite_ = settings.Overwrite;
    dropDownItems_ = DropDownItemsInRange(settings.DropDownItems);
    ApplyDropDownItems();
    if (options_) options_->SetSettings(Settings());
}

void TMainWindow::ApplyDropDownItems() {
    ComboOutputFormat->setMaxVisibleItems(DropDownItems().value_or(kFallbackDropDownItems));
}

TJobSettings TMainWindow::JobSettings() const {
    TJobSettings settings;
    settings.OutputFolder = OutputFolder().toStdString();
    settings.SameFolderAsInput = SameFolderAsInput();
    settings.Overwrite = overwrite_;
    settings.FormatKey = selection_.FormatKey();
    settings.Reader = selection_.Profile()->Reader;
    settings.Parameters = ChoiceOf(params_);
    settings.AspectIndex = params_.AspectRatio.Selected;
    settings.LetterBoxIndex = settingsPanel_->LetterBoxIndex();
    settings.Volume = volume_;
    settings.Reencode = settingsPanel_->Reencode();
    // Read whenever it is ticked: Convert disables the controls before the job is built.
    if (WritesVideo(selection_.Profile())) settings.FitSizeBytes = settingsPanel_->FitSizeBytes();
    return settings;
}

// --- The file list ---

void TMainWindow::SetRowReason(int row, const QString& reason) {
    if (row < 0 || row >= fileList_.Count()) return;
    fileList_.Row(row).Status = FailureReason(reason.toStdString(), fileList_.Row(row).FileName);
    fileModel_->RowChanged(row);
    ScheduleSave();
}

QList<int> TMainWindow::SelectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : fileTable->selectionModel()->selectedRows()) {
        rows.append(index.row());
    }
    return rows;
}

void TMainWindow::FileTableContextMenu(const QPoint& at) {
    if (!popupAllowed_) return;
    // The menu is about the row under the pointer.
    const int row = fileTable->rowAt(at.y());
    if (row >= 0 && !SelectedRows().contains(row)) fileTable->selectRow(row);
    PopupListView1->popup(fileTable->viewport()->mapToGlobal(at));
}

bool TMainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == fileTable && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        DeleteSelectedItem1Click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainWindow::ButtonAddFileClick() {
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
    fileTable->scrollToBottom();
}

void TMainWindow::AddingEnded() {
    addingFiles_ = false;
    if (!alreadyListed_.isEmpty()) {
        StatusBar1->showMessage(
            tr("Already in the list: %1").arg(alreadyListed_.join(QStringLiteral(", "))), kHintMs);
    }
    ScheduleSave();
}

void TMainWindow::DeleteSelectedItem1Click() {
    if (addingFiles_ || !queue_.AllowsRowChanges()) return;
    QList<int> rows = SelectedRows();
    std::sort(rows.begin(), rows.end(), std::greater<>());
    fileModel_->RemoveRows(std::vector<int>(rows.begin(), rows.end()));
    rowLogs_.clear();
    ScheduleSave();
}

void TMainWindow::ClearAllItems1Click() {
    if (addingFiles_ || !queue_.AllowsRowChanges()) return;
    ClearTasks();
    fileModel_->Clear();
    rowLogs_.clear();
    ScheduleSave();
}

void TMainWindow::CheckAllItems1Click() {
    fileList_.SetAllChecked(true);
    // Unreadable files stay unchecked.
    for (int row = 0; row < fileList_.Count(); ++row) {
        if (!IsRunnableRow(fileList_.Row(row))) fileList_.Row(row).Checked = false;
    }
    fileModel_->AllRowsChanged();
    ScheduleSave();
}

void TMainWindow::UncheckAllItems1Click() {
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

// --- Output folder, profile, parameters, volume ---

void TMainWindow::ButtonBrowseForFolderClick() {
    if (queue_.IsRunning()) return;
    const QString folder =
        QFileDialog::getExistingDirectory(this, tr("Choose the required output folder below :"),
                                          OutputFolder().trimmed(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty()) SetOutputFolder(folder);
}

void TMainWindow::ComboOutputFormatChange() {
    const int index = ComboOutputFormat->currentIndex();
    if (ComboOutputFormat->IsPreset(index)) {
        // A preset: its profile's line and its choices.
        const QString name = ComboOutputFormat->itemText(index);
        ComboOutputFormat->ShowLine(selection_.SelectedLine());
        ApplyPreset(name);
        return;
    }
    const TOutputProfile* profile = selection_.Choose(ComboOutputFormat->LineOfIndex(index));
    if (!profile) {
        ComboOutputFormat->ShowLine(selection_.SelectedLine());
        return;
    }
    params_.ApplyProfile(*profile);
    settingsPanel_->ShowLists();
    UpdateFitSizeControls(ComboOutputFormat->isEnabled());
    fileList_.SetFormatKey(profile->FormatKey);
    fileModel_->AllRowsChanged();
    ApplyDropDownItems();
    ScheduleSave();
}

void TMainWindow::UpdateFitSizeControls(bool enabled) {
    settingsPanel_->EnableFitSize(enabled, WritesVideo(selection_.Profile()));
}

void TMainWindow::ComboOutputFormatDropDown() {
    ApplyDropDownItems();
}

// --- The conversion queue ---

void TMainWindow::ButtonConvertClick() {
    if (addingFiles_ || !queue_.AllowsRowChanges()) return;
    fileList_.ClearProgressAndFrames();
    fileModel_->AllRowsChanged();
    const std::string folder = OutputFolder().toStdString();
    const TConvertCheck check = CheckCanConvert(fileList_, folder, SameFolderAsInput());
    if (check != TConvertCheck::ccReady) {
        ShowInformation(this, ConvertCheckText(check, OutputFolder()));
        if (check != TConvertCheck::ccNoFiles) ButtonBrowseForFolderClick();
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
    TimerConvertAgain->start();
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
            TimerConvertAgain->stop();
            ReportRunEnd();
            break;
    }
    ShowQueueStatus();
    if (!result.Message.empty()) ShowQueueMessage(tr(result.Message.c_str()));
}

void TMainWindow::ShowQueueMessage(const QString& text) {
    // The queue waits while the message is read.
    const bool active = TimerConvertAgain->isActive();
    TimerConvertAgain->stop();
    ShowInformation(this, text);
    if (active && queue_.IsActive()) TimerConvertAgain->start();
}

void TMainWindow::TimerConvertAgainTimer() {
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
            TimerConvertAgain->stop();
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
    if (!stoppingMessage_.isEmpty() && StatusBar1->currentMessage() == stoppingMessage_)
        StatusBar1->clearMessage();
    const QString summary = RunSummary();
    StatusPanels[0]->setText(summary);
    SendDesktopNotification(tr(kMainCaption), summary);
    SaveQueueNow();
}

void TMainWindow::ButtonStopConvertClick() {
    bool byUser = false;
    if (queue_.IsRunning() || batchRunning_) {
        const bool active = TimerConvertAgain->isActive();
        TimerConvertAgain->stop();
        if (backend_) backend_->PauseTasks();
        if (!AskConfirmation(this, tr(kMsgStopAllConversions))) {
            if (backend_) backend_->ResumeTasks();
            if (active && queue_.IsActive()) TimerConvertAgain->start();
            return;
        }
        byUser = true;
    }
    queue_.Stop(byUser);
    TimerConvertAgain->stop();
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

void TMainWindow::StopThisFileClick() {
    if (!backend_ || !(queue_.IsRunning() || batchRunning_)) return;
    QList<int> rows = SelectedRows();
    if (rows.isEmpty()) {
        // Nothing selected: the file being converted, when only one is.
        for (int row = 0; row < fileList_.Count(); ++row) {
            if (RowIsRunning(row)) rows.append(row);
        }
        if (rows.size() != 1) {
            StatusBar1->showMessage(tr("Select the file to stop"), kHintMs);
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
    StatusBar1->showMessage(
        stopping.isEmpty() ? tr("The selected file is not being converted") : stoppingMessage_,
        kHintMs);
}

void TMainWindow::ChoicesChanged() {
    if (applyingChoices_ || addingFiles_ || batchRunning_ || !queue_.AllowsRowChanges()) return;
    // What a finished row made was made with the choices before: it waits to be converted again.
    const bool finished = [&] {
        for (int row = 0; row < fileList_.Count(); ++row) {
            const TRowState state = fileList_.Row(row).State;
            if (state != TRowState::Waiting && state != TRowState::Unreadable) return true;
        }
        return false;
    }();
    if (!finished) return;
    fileList_.ClearProgressAndFrames();
    fileModel_->AllRowsChanged();
    ScheduleSave();
}

void TMainWindow::ButtonStopAfterClick() {
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
    StatusBar1->showMessage(tr("The run stops when the files being converted are done"), kHintMs);
}

void TMainWindow::EnableControls(bool enabled) {
    commandBar_->SetControlsEnabled(enabled);
    ComboOutputFormat->setEnabled(enabled);
    settingsPanel_->SetControlsEnabled(enabled);
    folderPanel_->SetControlsEnabled(enabled);
    UpdateFitSizeControls(enabled);
    queueBar_->SetRunning(!enabled);
    popupAllowed_ = true;
    for (QAction* action : PopupListView1->actions()) {
        const QString name = action->objectName();
        const bool always =
            name == "ShowInFolder1" || name == "Play1" || name == "ShowLog1" || name.isEmpty();
        action->setEnabled(enabled || always);
    }
    PopupListView1->findChild<QAction*>("StopThisFile1")->setEnabled(!enabled);
    for (QMenu* menu : {MenuFile, MenuOptions, MenuHelp, MenuPresets}) {
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
        fileTable->scrollTo(fileModel_->index(row, 0));
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
    StatusPanels[1]->setText(tr("File Size : %1").arg(Q(ByteSizeText(progress.CurrentSize))));
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
    StatusPanels[0]->setText(text);
    StatusPanels[2]->setText(QStringLiteral("%1%").arg(percent));
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
        TimerConvertAgain->isActive() ? queue_.TaskRunEnded() : TTimerAction::taNone;
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
    return fileTable->currentIndex().row();
}

void TMainWindow::OpenOutputFolderClick() {
    const QString folder = OutputFolderOfRow(CurrentListRow());
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        ShowInformation(this, tr("The output folder \"%1\" does not exist.").arg(folder));
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void TMainWindow::ShowInFolderClick() {
    const int row = CurrentListRow();
    if (row < 0 || row >= fileList_.Count()) return;
    const QString output = Q(fileList_.Row(row).OutputFile);
    // The output's folder once there is one, else the input's.
    const QString folder = !output.isEmpty() && QFileInfo::exists(output)
                               ? QFileInfo(output).absolutePath()
                               : QFileInfo(Q(fileList_.Row(row).FileName)).absolutePath();
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void TMainWindow::PlayClick() {
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

void TMainWindow::ShowLogClick() {
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

// --- The saved queue and the presets ---

void TMainWindow::ScheduleSave() {
    if (SaveTimer && !closing_) SaveTimer->start();
}

TSavedChoices TMainWindow::SavedChoices() const {
    TSavedChoices choices;
    if (const TOutputProfile* profile = selection_.Profile())
        choices.Profile = profile->DisplayName;
    choices.Parameters = ChoiceOf(params_);
    choices.AspectIndex = params_.AspectRatio.Selected;
    choices.LetterBoxIndex = settingsPanel_->LetterBoxIndex();
    choices.VolumePosition = settingsPanel_->VolumePosition();
    choices.FitSizeBytes = settingsPanel_->FitSizeBytes();
    return choices;
}

void TMainWindow::ApplySavedChoices(const TSavedChoices& choices) {
    // Rows restored with these choices keep what they show.
    const bool applying = applyingChoices_;
    applyingChoices_ = true;
    ApplyChoices(choices);
    applyingChoices_ = applying;
}

void TMainWindow::ApplyChoices(const TSavedChoices& choices) {
    const auto& lines = OutputFormatLines();
    for (int line = 0; line < static_cast<int>(lines.size()); ++line) {
        if (!lines[line].Profile || lines[line].Profile->DisplayName != choices.Profile) continue;
        ComboOutputFormat->ShowLine(line);
        const bool restored = choicesRestored_;
        choicesRestored_ = false;
        ComboOutputFormatChange();
        choicesRestored_ = restored;
        break;
    }
    SelectChoices(params_, choices.Parameters);
    if (choices.AspectIndex >= 0 && choices.AspectIndex < settingsPanel_->AspectCount()) {
        params_.AspectRatio.Selected = choices.AspectIndex;
    }
    settingsPanel_->ShowLists();
    SelectLetterBox(choices.LetterBoxIndex);
    settingsPanel_->SetVolumePosition(choices.VolumePosition);
    settingsPanel_->SetFitSizeBytes(choices.FitSizeBytes);
    UpdateFitSizeControls(ComboOutputFormat->isEnabled());
}

void TMainWindow::SaveQueueNow() {
    if (SaveTimer) SaveTimer->stop();
    if (dataFolder_.isEmpty()) return;
    TSavedQueue saved;
    for (int row = 0; row < fileList_.Count(); ++row) saved.Rows.push_back(fileList_.Row(row));
    saved.OutputFolder = OutputFolder().toStdString();
    saved.SameFolderAsInput = SameFolderAsInput();
    saved.Choices = SavedChoices();
    std::string error;
    const std::filesystem::path path =
        std::filesystem::path(dataFolder_.toStdString()) / kQueueFileName;
    if (!WriteFileAtomically(path, SavedQueueJson(saved), error)) {
        qWarning("Saving the queue: %s", error.c_str());
    }
}

bool TMainWindow::RestoreQueue() {
    if (dataFolder_.isEmpty() || !queue_.AllowsRowChanges()) return false;
    const auto text =
        ReadWholeFile(std::filesystem::path(dataFolder_.toStdString()) / kQueueFileName);
    if (!text) return false;
    const auto saved = ReadSavedQueue(*text, tr("Not finished; partial output: ").toStdString());
    if (!saved) {
        qWarning("The saved queue cannot be read; it is left as it is");
        return false;
    }
    fileModel_->Clear();
    for (const TFileListRow& row : saved->Rows)
        fileModel_->AppendRow([&](TFileList& list) { list.Append(row); });
    SetOutputFolder(Q(saved->OutputFolder));
    SetSameFolderAsInput(saved->SameFolderAsInput);
    if (!saved->Choices.Profile.empty()) {
        ApplySavedChoices(saved->Choices);
        choicesRestored_ = true;
    }
    return true;
}

void TMainWindow::ReloadPresetLines() {
    ComboOutputFormat->ShowPresets(presets_.Store().Presets(), selection_.SelectedLine());
}

bool TMainWindow::SaveCurrentAsPreset(const QString& name) {
    return presets_.Save(TPreset{name.trimmed().toStdString(), SavedChoices()});
}

bool TMainWindow::ApplyPreset(const QString& name) {
    const TPreset* preset = presets_.Store().Find(name.toStdString());
    if (!preset) return false;
    ApplySavedChoices(preset->Choices);
    ChoicesChanged();
    StatusBar1->showMessage(tr("Preset \"%1\" chosen").arg(name), kHintMs);
    return true;
}

void TMainWindow::SavePresetClick() {
    if (const auto name = presets_.AskNewName()) SaveCurrentAsPreset(*name);
}

void TMainWindow::ImportPresetsClick() {
    if (const auto added = presets_.ImportClick(lastAddFolder_))
        StatusBar1->showMessage(tr("%n preset(s) imported", nullptr, *added), kHintMs);
}

// --- Menus ---

void TMainWindow::SetGeneralOptions1Click() {
    if (!options_) return;
    options_->SetSettings(Settings());
    options_->show();
    options_->raise();
    options_->activateWindow();
}

void TMainWindow::OpenHelpFile1Click() {
    if (!QFileInfo::exists(helpFile_)) {
        ShowInformation(this, tr("The help file \"%1\" cannot be found.").arg(helpFile_));
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(helpFile_))) ShowHelpInside();
}

void TMainWindow::ShowHelpInside() {
    // Without a web browser the help opens here, in a window of its own beside this one.
    if (!helpDialog_) {
        helpDialog_ = Named(new QDialog(this), "HelpDialog");
        helpDialog_->setWindowTitle(tr("Help - %1").arg(tr(kMainCaption)));
        auto* layout = new QVBoxLayout(helpDialog_);
        auto* text = Named(new QTextBrowser(helpDialog_), "HelpText");
        // Links to the web go to a browser if one comes along; the file's own stay here.
        text->setOpenExternalLinks(true);
        layout->addWidget(text);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, helpDialog_);
        connect(buttons, &QDialogButtonBox::rejected, helpDialog_, &QDialog::close);
        layout->addWidget(buttons);
    }
    auto* text = helpDialog_->findChild<QTextBrowser*>("HelpText");
    text->setSource(QUrl::fromLocalFile(helpFile_));
    QSize size(fontMetrics().averageCharWidth() * 90, fontMetrics().height() * 35);
    if (const QScreen* screen = this->screen()) {
        size = size.boundedTo(screen->availableGeometry().size() * 0.9);
    }
    helpDialog_->resize(size);
    helpDialog_->show();
    helpDialog_->raise();
    helpDialog_->activateWindow();
}

void TMainWindow::VisitOurWebsite1Click() {
    QDesktopServices::openUrl(QUrl(kVavurorWebsite));
}

void TMainWindow::About1Click() {
    if (about_) about_->exec();
}

void TMainWindow::Exit1Click() {
    close();
}
