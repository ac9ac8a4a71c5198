// The main window: the file list with its add-files routine, the output folder and profile, the
// parameter lists, and the conversion queue with its progress. The window shows the state that
// the application core keeps (file list, profile, parameter lists, queue) and forwards the
// user's actions to it; the converter stands behind TConversionBackend.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/core/ConversionQueue.h"
#include "app/core/FileList.h"
#include "app/core/JobBuilder.h"
#include "app/core/ProfileCatalogue.h"
#include "app/core/QueueProgress.h"
#include "app/core/SettingsKeys.h"
#include "app/core/UserData.h"
#include "app/widgets/ConversionBackend.h"
#include "app/widgets/FileProber.h"
#include "app/widgets/PresetMenu.h"
#include "app/widgets/ProductName.h"
#include "app/widgets/ProfileList.h"
#include "probe/AVProbe.h"

class QAction;
class QVBoxLayout;
class QDialog;
class QLabel;
class QMenu;
class QStatusBar;
class QTableView;
class TFileListModel;
class QTimer;
class TOptionsDialog;
class TCommandBar;
class TOutputFolderPanel;
class TOutputSettingsPanel;
class TQueueBar;
class TFormAbout;

// What Convert says while no converter is part of the program.
inline constexpr const char* kMsgConversionUnavailable =
    "Conversion is not available in this build: the converter component is not part of it yet.";

class TMainWindow : public QMainWindow {
    Q_OBJECT

  public:
    // Without a backend the window works in full except that it cannot convert; it then loads
    // the media libraries itself, for the probe.
    explicit TMainWindow(TConversionBackend* backend = nullptr, QWidget* parent = nullptr);
    ~TMainWindow() override;

    // False when the media libraries could not be loaded; the user has been told and the
    // program ends.
    bool LibrariesLoaded() const { return librariesLoaded_; }
    void SetAboutBox(TFormAbout* about) { about_ = about; }
    // Takes the options dialog's changes as they come, and reads the stored settings into the
    // window and the dialog; a store that could not be read whole is rewritten from what they
    // then show.
    void SetOptionsDialog(TOptionsDialog* options);

    // Adds the files as "Add File" adds the files chosen in its dialog (dropped files come
    // this way too).
    void AddFiles(const QStringList& paths);

    // The saved queue: restored at start (a crash or a closed window loses nothing) and written
    // again, atomically, whenever the list or the choices change. The folder is the program's
    // data folder; tests give their own.
    void SetDataFolder(const QString& folder) {
        dataFolder_ = folder;
        presets_.SetDataFolder(folder);
    }
    QString DataFolder() const { return dataFolder_; }
    bool RestoreQueue();
    void SaveQueueNow();
    TPresetStore& Presets() { return presets_.Store(); }
    // Saves the current profile and choices as a preset (replacing one of the same name).
    bool SaveCurrentAsPreset(const QString& name);
    // Chooses a preset's profile and choices, as picking it in the profile list does.
    bool ApplyPreset(const QString& name);
    void ReloadPresetLines();

    // The choices kept in the settings store.
    QString OutputFolder() const;
    void SetOutputFolder(const QString& folder);
    int OutputFormatLine() const { return selection_.SelectedLine(); }
    // Selects a profile's line; a separator or a line outside the list changes nothing. The
    // profile's lists are filled when the window is first shown.
    void SelectOutputFormatLine(int line);
    int LetterBoxIndex() const;
    void SelectLetterBox(int index);
    // The options dialog's drop-down length takes effect (25 lines without the dialog).
    void ApplyDropDownItems();
    // The kept choices as the window and the options dialog show them, and their taking effect
    // (a value the window does not take leaves its control as it is).
    TUserSettings Settings() const;
    void ApplySettings(const TUserSettings& settings);

    const TFileList& FileList() const { return fileList_; }
    const TConversionQueue& Queue() const { return queue_; }
    const TParameterLists& ParameterLists() const { return params_; }
    const std::string& FormatKey() const { return selection_.FormatKey(); }
    int VolumeValue() const { return volume_; }
    bool AddingFiles() const { return addingFiles_; }
    // What the job builder gets from the window's choices.
    TJobSettings JobSettings() const;
    TSavedChoices SavedChoices() const;
    void ApplySavedChoices(const TSavedChoices& choices);
    bool SameFolderAsInput() const;
    void SetSameFolderAsInput(bool same);
    // How many files convert at once (1 ... cores).
    int ParallelFiles() const;
    void SetParallelFiles(int count);
    // The log lines of a row's last conversion.
    QStringList RowLog(int row) const;
    // The run's summary: "All Conversions Completed", or the counts of each outcome.
    QString RunSummary() const;
    // Window geometry and list columns, kept with the settings.
    void RestoreWindowState();
    QByteArray ListColumnState() const;
    void RestoreListColumnState(const QByteArray& state);

    // Handlers of the controls, the menus and the queue timer.
    void AddFilesClicked();
    void RemoveSelectedRows();
    void ClearRows();
    void CheckAllRows();
    void UncheckAllRows();
    void BrowseForOutputFolder();
    void StartConversion();
    void StopConversion();
    void StopAfterRunningFiles();
    // Stops the selected file, or the one being converted when only one is; the others go on
    // and the row ends as "Abort".
    void StopThisFile();
    void OpenOutputFolder();
    void ShowRowInFolder();
    void PlayRow();
    void ShowRowLog();
    void AskAndSavePreset();
    void ImportPresets();
    void ProfileChosen();
    // The fit controls follow the profile (video only) and the check box; `enabled` is false
    // while a conversion runs.
    void UpdateFitSizeControls(bool enabled);
    void ProfileListOpening();
    void QueueTimerTick();
    void DoQueueAction(TTimerAction action);
    void ShowOptions();
    // The help in the web browser, or in a window of the program's own when there is none.
    void OpenHelp();
    void VisitWebsite();
    void ShowAbout();
    void ExitClicked();

    // The converter's events, on the main thread (the backend's handlers relay them here in
    // the order raised).
    void ShowTaskProgress(const TTaskProgressEvent& event);
    void ShowTaskLog(const TTaskLogEvent& event);
    void TaskEnded(const TTaskTerminateEvent& event);

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void CreateControls();
    // The window's parts, top to bottom, and the wiring of their controls.
    void CreateProfileLine(QWidget* central, QVBoxLayout* page);
    void CreateFileList(QWidget* central);
    void CreateStatusBar();
    void CreateTimers();
    void ConnectControls();
    void CreateMenus();
    void SetUpWindow();
    bool CloseAllowed();
    void SaveOnClose();

    void AddFilesFrom(const QStringList* paths);
    QStringList ChooseFilesToAdd();
    // Files already listed are ticked at once; the others are probed in order on a worker
    // thread, and each gets its row here as its probe ends, so the window never waits for one.
    void AddFileRows(const QStringList& paths);
    void FileProbed(const TProbedInput& probed);
    void AddingEnded();

    void SetRowReason(int row, const QString& reason);
    QList<int> SelectedRows() const;
    void FileTableContextMenu(const QPoint& at);
    // The output-format list: today's profiles, then the catalogue under its headings; each
    // entry holds its line of OutputFormatLines(), headings and presets none.
    // The user changed the profile or a choice: finished rows wait to be converted again.
    void ChoicesChanged();
    void ApplyChoices(const TSavedChoices& choices);
    bool RowIsRunning(int row) const;
    void ShowHelpInside();

    // Clears the backend's tasks and begins a new task run.
    void ClearTasks();
    void RunJobBuilder();
    void EnableControls(bool enabled);
    void ShowQueueMessage(const QString& text);
    void ReportRunEnd();
    void FitNameColumn();
    QString ConvertCheckText(TConvertCheck check, const QString& folder) const;
    void StartBatch();
    void RowEnded(int row, const TTaskTerminateEvent& event);
    void ShowQueueStatus();
    void ScheduleSave();
    QString OutputFolderOfRow(int row) const;
    int CurrentListRow() const;
    // The row a task's event belongs to: with several files at once, the task's own row.
    int RowOfTask(int task) const;
    std::optional<int> DropDownItems() const;

    TConversionBackend* backend_;
    bool librariesLoaded_ = false;
    TFileList fileList_;
    TParameterLists params_;
    TProfileSelection selection_;
    TConversionQueue queue_;
    bool addingFiles_ = false;
    bool firstShow_ = true;
    bool restoredGeometry_ = false;
    bool restoredColumns_ = false;
    bool choicesRestored_ = false;  // the saved queue chose profile and parameters
    bool closing_ = false;
    bool popupAllowed_ = true;
    int volume_ = 255;
    std::atomic<std::uint64_t> taskRun_{0};  // read by the event relays on the task threads
    std::map<int, std::string> taskErrors_;  // the last error line each task logged
    std::map<int, QStringList> rowLogs_;     // each row's log of its last conversion
    std::vector<int> batchRows_;             // task -> row, with several files at once
    bool batchRunning_ = false;
    TQueueProgress queueProgress_;
    QElapsedTimer runClock_;
    std::map<int, std::int64_t> rowStartMs_;
    std::set<int> endedRows_;    // rows of this run that have ended
    std::set<int> stoppedRows_;  // rows the user stopped on their own
    QString stoppingMessage_;    // the status bar's word on them
    bool applyingChoices_ = false;
    QDialog* helpDialog_ = nullptr;
    QString dataFolder_;
    TPresetMenu presets_{this, [this] { ReloadPresetLines(); }};
    QTimer* saveTimer_ = nullptr;
    QString helpFile_;
    QString lastAddFolder_;
    TOptionsDialog* options_ = nullptr;
    // The options dialog's choices; the drop-down length is none until the dialog is there.
    bool overwrite_ = kDefaultOverwrite;
    std::optional<int> dropDownItems_;
    TFormAbout* about_ = nullptr;
    TFileProber prober_{this, [this](const TProbedInput& probed) { FileProbed(probed); },
                        [this] { AddingEnded(); }};
    QStringList alreadyListed_;  // named again while adding: said in the status bar at the end

    TCommandBar* commandBar_ = nullptr;
    TOutputFolderPanel* folderPanel_ = nullptr;
    TProfileList* profileList_ = nullptr;
    QTableView* fileTable_ = nullptr;
    TFileListModel* fileModel_ = nullptr;  // over fileList_
    TOutputSettingsPanel* settingsPanel_ = nullptr;
    TQueueBar* queueBar_ = nullptr;
    QMenu* presetsMenu_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    QLabel* statusPanels_[3] = {};
    QTimer* queueTimer_ = nullptr;
    QMenu* rowMenu_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* optionsMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    // Last, so that it ends first: no task event reaches the window while its members go.
    TEventSubscription taskEvents_;
};
