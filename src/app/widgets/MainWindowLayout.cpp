// The main window's controls: built part by part, top to bottom, and wired to its handlers.
#include "app/widgets/MainWindow.h"
#include "app/widgets/WindowParts.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTimer>
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
#include "app/widgets/FontAdjustment.h"
#include "app/widgets/MessageBoxes.h"
#include "app/widgets/OptionsDialog.h"
#include "app/widgets/OutputFolderPanel.h"
#include "app/widgets/OutputSettingsPanel.h"
#include "app/widgets/QueueBar.h"
#include "app/widgets/SettingsStore.h"
#include "binding/FFmpegLibs.h"
#include "binding/ProgramFolders.h"

QLabel* NamedLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    return label;
}

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(name, QApplication::style()->standardIcon(fallback));
}

namespace {

constexpr int kSaveDelayMs = 400;

}  // namespace

// --- Building the window ---

void TMainWindow::CreateControls() {
    auto* central = new QWidget(this);
    auto* page = new QVBoxLayout(central);
    page->setContentsMargins(6, 4, 6, 2);
    page->setSpacing(5);
    commandBar_ = new TCommandBar(central);
    page->addWidget(commandBar_);
    folderPanel_ = new TOutputFolderPanel(central);
    page->addWidget(folderPanel_);
    CreateProfileLine(central, page);
    CreateFileList(central);
    // The list and the settings share the height; on a small screen the settings scroll.
    auto* splitter = Named(new QSplitter(Qt::Vertical, central), "SplitterListSettings");
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(fileTable_);
    page->addWidget(splitter, 1);
    settingsPanel_ = new TOutputSettingsPanel(params_, splitter);
    splitter->addWidget(settingsPanel_);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    queueBar_ = new TQueueBar(central);
    page->addWidget(queueBar_);
    setCentralWidget(central);
    CreateStatusBar();
    CreateTimers();
    ConnectControls();
}

// The output format, on a line of its own: its names are long, and a narrow window keeps them
// readable.
void TMainWindow::CreateProfileLine(QWidget* central, QVBoxLayout* page) {
    auto* format = new QHBoxLayout;
    format->setSpacing(4);
    format->addWidget(NamedLabel(tr("Set Output Format :"), central));
    profileList_ = Named(new TProfileList(central), "ComboOutputFormat");
    // The box takes the line's width; the open list is as wide as its longest name.
    profileList_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    profileList_->setMinimumContentsLength(16);
    // A list that opens below the box and shows as many lines as the options say; the styles'
    // menu-like list ignores the number of lines.
    profileList_->setStyleSheet("QComboBox { combobox-popup: 0; }");
    format->addWidget(profileList_, 1);
    page->addLayout(format);
}

// The file list.
void TMainWindow::CreateFileList(QWidget* central) {
    fileTable_ = Named(new QTableView(central), "fileTable");
    fileModel_ = new TFileListModel(fileList_, fileTable_);
    fileTable_->setModel(fileModel_);
    const auto& columns = FileListColumns();
    const QFontMetrics header = fileTable_->horizontalHeader()->fontMetrics();
    const QFontMetrics cell = fileTable_->fontMetrics();
    // A cell's text has a focus frame's margin and a pixel on either side.
    const int cellMargin = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) + 2;
    for (int c = 0; c < kColumnCount; ++c) {
        // The widths were chosen for a 9-point font at 96 dpi: they grow with the font, and with
        // a caption that a translation made longer.
        int width = columns[c].Width * std::max(1.0, fontMetrics().height() / 15.0);
        const QString caption =
            fileModel_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        width = std::max(width, header.horizontalAdvance(caption) +
                                    2 * style()->pixelMetric(QStyle::PM_HeaderMargin) + 2);
        // The progress column shows each state whole, in the language of the day.
        if (c == TFileListModel::colProgress) {
            for (const QString& text : TFileListModel::ProgressTexts())
                width = std::max(width, cell.horizontalAdvance(text) + cellMargin);
        }
        fileTable_->setColumnWidth(c, width);
    }
    fileTable_->verticalHeader()->setVisible(false);
    fileTable_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    fileTable_->horizontalHeader()->setHighlightSections(false);
    fileTable_->horizontalHeader()->setStretchLastSection(true);
    fileTable_->setShowGrid(true);
    fileTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    fileTable_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    fileTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The name column shows file names only, the status column a reason's start: the folder and
    // the whole reason are in the tool tips.
    fileTable_->setTextElideMode(Qt::ElideRight);
    fileTable_->setWordWrap(false);
    fileTable_->setSortingEnabled(false);
    fileTable_->setContextMenuPolicy(Qt::CustomContextMenu);
    fileTable_->setToolTipDuration(kHintMs);
    fileTable_->installEventFilter(this);
    // However small the window, the list shows a few rows.
    fileTable_->setMinimumHeight(fileTable_->horizontalHeader()->sizeHint().height() +
                                 3 * fileTable_->verticalHeader()->defaultSectionSize() +
                                 2 * fileTable_->frameWidth() +
                                 style()->pixelMetric(QStyle::PM_ScrollBarExtent));
}

void TMainWindow::CreateStatusBar() {
    statusBar_ = Named(new QStatusBar(this), "statusBar");
    // The run's state, the file size written so far, and the run's percentage.
    const char* names[] = {"statusText", "fileSizeText", "percentText"};
    for (int p = 0; p < 3; ++p) {
        statusPanels_[p] = Named(new QLabel(statusBar_), names[p]);
        statusPanels_[p]->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        statusBar_->addWidget(statusPanels_[p], p == 0 ? 3 : p == 1 ? 2 : 1);
    }
    statusPanels_[0]->setText(tr("Ready"));
    setStatusBar(statusBar_);
}

void TMainWindow::CreateTimers() {
    queueTimer_ = Named(new QTimer(this), "queueTimer");
    queueTimer_->setInterval(kQueueTimerMs);
    // The queue is written a moment after the last change, not at every report of a run.
    saveTimer_ = Named(new QTimer(this), "saveTimer");
    saveTimer_->setSingleShot(true);
    saveTimer_->setInterval(kSaveDelayMs);
    connect(saveTimer_, &QTimer::timeout, this, [this] { SaveQueueNow(); });
}

void TMainWindow::ConnectControls() {
    connect(commandBar_, &TCommandBar::AddFileClicked, this, [this] { AddFilesClicked(); });
    connect(commandBar_, &TCommandBar::RemoveClicked, this, [this] { RemoveSelectedRows(); });
    connect(commandBar_, &TCommandBar::ClearClicked, this, [this] { ClearRows(); });
    connect(commandBar_, &TCommandBar::StopClicked, this, [this] { StopConversion(); });
    connect(commandBar_, &TCommandBar::ConvertClicked, this, [this] { StartConversion(); });
    connect(commandBar_, &TCommandBar::OpenOutputClicked, this, [this] { OpenOutputFolder(); });
    connect(queueBar_, &TQueueBar::StopThisFileClicked, this, [this] { StopThisFile(); });
    connect(queueBar_, &TQueueBar::StopAfterClicked, this, [this] { StopAfterRunningFiles(); });
    connect(folderPanel_, &TOutputFolderPanel::SameFolderToggled, this, [this] { ScheduleSave(); });
    connect(folderPanel_, &TOutputFolderPanel::FolderEdited, this, [this] { ScheduleSave(); });
    connect(folderPanel_, &TOutputFolderPanel::BrowseClicked, this,
            [this] { BrowseForOutputFolder(); });
    connect(settingsPanel_, &TOutputSettingsPanel::FitSizeToggled, this, [this] {
        UpdateFitSizeControls(true);
        ChoicesChanged();
    });
    connect(settingsPanel_, &TOutputSettingsPanel::ChoiceChanged, this,
            [this] { ChoicesChanged(); });
    connect(settingsPanel_, &TOutputSettingsPanel::ParameterChosen, this, [this] {
        ScheduleSave();
        ChoicesChanged();
    });
    connect(settingsPanel_, &TOutputSettingsPanel::VolumeChanged, this, [this](int position) {
        volume_ = VolumeForPosition(position);
        ScheduleSave();
        ChoicesChanged();
    });
    connect(profileList_, &QComboBox::currentIndexChanged, this, [this] {
        const int before = selection_.SelectedLine();
        ProfileChosen();
        if (selection_.SelectedLine() != before) ChoicesChanged();
    });
    connect(profileList_, &TDropDownComboBox::AboutToDropDown, this,
            [this] { ProfileListOpening(); });
    connect(queueTimer_, &QTimer::timeout, this, [this] { QueueTimerTick(); });
    connect(fileModel_, &TFileListModel::CheckedChanged, this, [this] { ScheduleSave(); });
    connect(fileTable_, &QTableView::customContextMenuRequested, this,
            [this](const QPoint& at) { FileTableContextMenu(at); });
}

void TMainWindow::CreateMenus() {
    const auto item = [this](QMenu* menu, const char* name, const QString& caption, auto handler) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    fileMenu_ = Named(menuBar()->addMenu(tr("&File")), "fileMenu");
    item(fileMenu_, "addFilesAction", tr("Add Files"), [this] {
        commandBar_->ClickAddFile();
    })->setShortcut(QKeySequence::Open);
    fileMenu_->addSeparator();
    item(fileMenu_, "convertAction", tr("Convert"), [this] {
        StartConversion();
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    item(fileMenu_, "openOutputFolderAction", tr("Open Output Folder"),
         [this] { OpenOutputFolder(); });
    fileMenu_->addSeparator();
    item(fileMenu_, "exitAction", tr("Exit"), [this] {
        ExitClicked();
    })->setShortcut(QKeySequence::Quit);

    optionsMenu_ = Named(menuBar()->addMenu(tr("&Options")), "optionsMenu");
    item(optionsMenu_, "optionsAction", tr("Set Options"), [this] { ShowOptions(); });

    presetsMenu_ = Named(menuBar()->addMenu(tr("&Presets")), "presetsMenu");
    item(presetsMenu_, "savePresetAction", tr("Save Current Settings as Preset..."),
         [this] { AskAndSavePreset(); });
    item(presetsMenu_, "renamePresetAction", tr("Rename Preset..."),
         [this] { presets_.RenameClick(); });
    item(presetsMenu_, "deletePresetAction", tr("Delete Preset..."),
         [this] { presets_.DeleteClick(); });
    presetsMenu_->addSeparator();
    item(presetsMenu_, "exportPresetsAction", tr("Export Presets..."),
         [this] { presets_.ExportClick(lastAddFolder_); });
    item(presetsMenu_, "importPresetsAction", tr("Import Presets..."), [this] { ImportPresets(); });

    helpMenu_ = Named(menuBar()->addMenu(tr("&Help")), "helpMenu");
    QAction* help = item(helpMenu_, "helpAction", tr("Open Help File"), [this] { OpenHelp(); });
    // F1 everywhere, whatever else the desktop's own key for help is.
    QList<QKeySequence> helpKeys = QKeySequence::keyBindings(QKeySequence::HelpContents);
    if (!helpKeys.contains(QKeySequence(Qt::Key_F1))) helpKeys.append(QKeySequence(Qt::Key_F1));
    help->setShortcuts(helpKeys);
    helpMenu_->addSeparator();
    item(helpMenu_, "websiteAction", tr("Visit Vavuror Website"), [this] { VisitWebsite(); });
    helpMenu_->addSeparator();
    item(helpMenu_, "aboutAction", tr("About"), [this] { ShowAbout(); });

    rowMenu_ = Named(new QMenu(this), "rowMenu");
    item(rowMenu_, "showInFolderAction", tr("Show in Folder"), [this] { ShowRowInFolder(); });
    item(rowMenu_, "playAction", tr("Play"), [this] { PlayRow(); });
    item(rowMenu_, "showLogAction", tr("Show Log"), [this] { ShowRowLog(); });
    // Only while files are being converted.
    item(rowMenu_, "stopThisFileAction", tr("Stop This File"), [this] {
        StopThisFile();
    })->setEnabled(false);
    rowMenu_->addSeparator();
    item(rowMenu_, "checkAllAction", tr("Check All Items"), [this] { CheckAllRows(); });
    item(rowMenu_, "uncheckAllAction", tr("Uncheck All Items"), [this] { UncheckAllRows(); });
    rowMenu_->addSeparator();
    item(rowMenu_, "removeSelectedAction", tr("Remove Selected Item"),
         [this] { RemoveSelectedRows(); });
    item(rowMenu_, "clearAllAction", tr("Clear All Items"), [this] { ClearRows(); });
}
