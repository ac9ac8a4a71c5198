#include "app/widgets/MainWindow.h"
#include "app/widgets/WindowParts.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QTextBrowser>
#include <QTimer>
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

// Window geometry, list columns and the last folder files were added from, kept with the
// settings.
constexpr const char* kKeyWindowGeometry = "Window/Geometry";
constexpr const char* kKeyListColumns = "Window/ListColumns";
constexpr const char* kKeyLastAddFolder = "Window/LastAddFolder";
constexpr const char* kKeyParallelFiles = "Window/ParallelFiles";
constexpr const char* kKeySameFolder = "Window/SameFolderAsInput";

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

}  // namespace

TMainWindow::TMainWindow(TConversionBackend* backend, QWidget* parent)
    : QMainWindow(parent), backend_(backend) {
    setObjectName("MainWindow");
    SetDesignedFont(this);
    CreateControls();
    CreateMenus();
    SetUpWindow();
}

TMainWindow::~TMainWindow() {
    prober_.Stop();
}

void TMainWindow::SetUpWindow() {
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

    profileList_->FillProfiles();
    SelectOutputFormatLine(kDefaultFormatLine);
    profileList_->setMaxVisibleItems(kFallbackDropDownItems);

    settingsPanel_->ShowLists();
    settingsPanel_->FillLetterBox(LetterBoxEntries());
    queueTimer_->stop();
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
    if (!choicesRestored_) ProfileChosen();
}

void TMainWindow::closeEvent(QCloseEvent* event) {
    if (!CloseAllowed()) {
        event->ignore();
        return;
    }
    SaveOnClose();
    event->accept();
}

bool TMainWindow::CloseAllowed() {
    // Closing waits for the whole queue, not only a running task: between two files nothing
    // runs, yet the queue is not done.
    if (!queue_.AllowsRowChanges() || addingFiles_) return false;
    taskEvents_.Reset();
    if (backend_) backend_->StopTasks();
    closing_ = true;
    return true;
}

void TMainWindow::SaveOnClose() {
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
    // A first start writes each output beside its input, as the command line does when no folder
    // is named; a choice stored before, or a folder without one, stays as it was.
    const bool firstStart = !store.contains(kKeySameFolder) && OutputFolder().trimmed().isEmpty();
    SetSameFolderAsInput(store.value(kKeySameFolder, firstStart ? 1 : 0).toInt() != 0);
}

QByteArray TMainWindow::ListColumnState() const {
    return fileTable_->horizontalHeader()->saveState();
}

void TMainWindow::RestoreListColumnState(const QByteArray& state) {
    if (!state.isEmpty()) restoredColumns_ = fileTable_->horizontalHeader()->restoreState(state);
}

void TMainWindow::FitNameColumn() {
    // The name column takes what the list's width leaves beside the others and a status column
    // of a fair width, so that no column starts out of sight.
    int others = 0;
    for (int c = 1; c < kColumnCount - 1; ++c) others += fileTable_->columnWidth(c);
    // The status column's own width is its least: the last column only stretches.
    const int status = fileTable_->columnWidth(kColumnCount - 1);
    const int free = fileTable_->viewport()->width() - others - status;
    fileTable_->setColumnWidth(
        0, std::clamp(free, fontMetrics().averageCharWidth() * 14, fileTable_->columnWidth(0)));
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
    profileList_->ShowLine(line);
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
    profileList_->setMaxVisibleItems(DropDownItems().value_or(kFallbackDropDownItems));
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

// --- Output folder, profile, parameters, volume ---

void TMainWindow::BrowseForOutputFolder() {
    if (queue_.IsRunning()) return;
    const QString folder =
        QFileDialog::getExistingDirectory(this, tr("Choose the required output folder below :"),
                                          OutputFolder().trimmed(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty()) SetOutputFolder(folder);
}

void TMainWindow::ProfileChosen() {
    const int index = profileList_->currentIndex();
    if (profileList_->IsPreset(index)) {
        // A preset: its profile's line and its choices.
        const QString name = profileList_->itemText(index);
        profileList_->ShowLine(selection_.SelectedLine());
        ApplyPreset(name);
        return;
    }
    const TOutputProfile* profile = selection_.Choose(profileList_->LineOfIndex(index));
    if (!profile) {
        profileList_->ShowLine(selection_.SelectedLine());
        return;
    }
    params_.ApplyProfile(*profile);
    settingsPanel_->ShowLists();
    UpdateFitSizeControls(profileList_->isEnabled());
    fileList_.SetFormatKey(profile->FormatKey);
    fileModel_->AllRowsChanged();
    ApplyDropDownItems();
    ScheduleSave();
}

void TMainWindow::UpdateFitSizeControls(bool enabled) {
    settingsPanel_->EnableFitSize(enabled, WritesVideo(selection_.Profile()));
}

void TMainWindow::ProfileListOpening() {
    ApplyDropDownItems();
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

// --- The saved queue and the presets ---

void TMainWindow::ScheduleSave() {
    if (saveTimer_ && !closing_) saveTimer_->start();
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
        profileList_->ShowLine(line);
        const bool restored = choicesRestored_;
        choicesRestored_ = false;
        ProfileChosen();
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
    UpdateFitSizeControls(profileList_->isEnabled());
}

void TMainWindow::SaveQueueNow() {
    if (saveTimer_) saveTimer_->stop();
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
    profileList_->ShowPresets(presets_.Store().Presets(), selection_.SelectedLine());
}

bool TMainWindow::SaveCurrentAsPreset(const QString& name) {
    return presets_.Save(TPreset{name.trimmed().toStdString(), SavedChoices()});
}

bool TMainWindow::ApplyPreset(const QString& name) {
    const TPreset* preset = presets_.Store().Find(name.toStdString());
    if (!preset) return false;
    ApplySavedChoices(preset->Choices);
    ChoicesChanged();
    statusBar_->showMessage(tr("Preset \"%1\" chosen").arg(name), kHintMs);
    return true;
}

void TMainWindow::AskAndSavePreset() {
    if (const auto name = presets_.AskNewName()) SaveCurrentAsPreset(*name);
}

void TMainWindow::ImportPresets() {
    if (const auto added = presets_.ImportClick(lastAddFolder_))
        statusBar_->showMessage(tr("%n preset(s) imported", nullptr, *added), kHintMs);
}

// --- Menus ---

void TMainWindow::ShowOptions() {
    if (!options_) return;
    options_->SetSettings(Settings());
    options_->show();
    options_->raise();
    options_->activateWindow();
}

void TMainWindow::OpenHelp() {
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

void TMainWindow::VisitWebsite() {
    QDesktopServices::openUrl(QUrl(kVavurorWebsite));
}

void TMainWindow::ShowAbout() {
    if (about_) about_->exec();
}

void TMainWindow::ExitClicked() {
    close();
}
