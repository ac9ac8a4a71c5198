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
    splitter->addWidget(fileTable);
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
    ComboOutputFormat = Named(new TProfileList(central), "ComboOutputFormat");
    // The box takes the line's width; the open list is as wide as its longest name.
    ComboOutputFormat->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ComboOutputFormat->setMinimumContentsLength(16);
    // A list that opens below the box and shows as many lines as the options say; the styles'
    // menu-like list ignores the number of lines.
    ComboOutputFormat->setStyleSheet("QComboBox { combobox-popup: 0; }");
    format->addWidget(ComboOutputFormat, 1);
    page->addLayout(format);
}

// The file list.
void TMainWindow::CreateFileList(QWidget* central) {
    fileTable = Named(new QTableView(central), "fileTable");
    fileModel_ = new TFileListModel(fileList_, fileTable);
    fileTable->setModel(fileModel_);
    const auto& columns = FileListColumns();
    const QFontMetrics header = fileTable->horizontalHeader()->fontMetrics();
    const QFontMetrics cell = fileTable->fontMetrics();
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
        fileTable->setColumnWidth(c, width);
    }
    fileTable->verticalHeader()->setVisible(false);
    fileTable->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    fileTable->horizontalHeader()->setHighlightSections(false);
    fileTable->horizontalHeader()->setStretchLastSection(true);
    fileTable->setShowGrid(true);
    fileTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    fileTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
    fileTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The name column shows file names only, the status column a reason's start: the folder and
    // the whole reason are in the tool tips.
    fileTable->setTextElideMode(Qt::ElideRight);
    fileTable->setWordWrap(false);
    fileTable->setSortingEnabled(false);
    fileTable->setContextMenuPolicy(Qt::CustomContextMenu);
    fileTable->setToolTipDuration(kHintMs);
    fileTable->installEventFilter(this);
    // However small the window, the list shows a few rows.
    fileTable->setMinimumHeight(fileTable->horizontalHeader()->sizeHint().height() +
                                3 * fileTable->verticalHeader()->defaultSectionSize() +
                                2 * fileTable->frameWidth() +
                                style()->pixelMetric(QStyle::PM_ScrollBarExtent));
}

void TMainWindow::CreateStatusBar() {
    StatusBar1 = Named(new QStatusBar(this), "StatusBar1");
    for (int p = 0; p < 3; ++p) {
        StatusPanels[p] = new QLabel(StatusBar1);
        StatusPanels[p]->setObjectName(QString("StatusPanel%1").arg(p));
        StatusPanels[p]->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        StatusBar1->addWidget(StatusPanels[p], p == 0 ? 3 : p == 1 ? 2 : 1);
    }
    StatusPanels[0]->setText(tr("Ready"));
    setStatusBar(StatusBar1);
}

void TMainWindow::CreateTimers() {
    TimerConvertAgain = Named(new QTimer(this), "TimerConvertAgain");
    TimerConvertAgain->setInterval(kQueueTimerMs);
    // The queue is written a moment after the last change, not at every report of a run.
    SaveTimer = Named(new QTimer(this), "SaveTimer");
    SaveTimer->setSingleShot(true);
    SaveTimer->setInterval(kSaveDelayMs);
    connect(SaveTimer, &QTimer::timeout, this, [this] { SaveQueueNow(); });
}

void TMainWindow::ConnectControls() {
    connect(commandBar_, &TCommandBar::AddFileClicked, this, [this] { ButtonAddFileClick(); });
    connect(commandBar_, &TCommandBar::RemoveClicked, this, [this] { DeleteSelectedItem1Click(); });
    connect(commandBar_, &TCommandBar::ClearClicked, this, [this] { ClearAllItems1Click(); });
    connect(commandBar_, &TCommandBar::StopClicked, this, [this] { ButtonStopConvertClick(); });
    connect(commandBar_, &TCommandBar::ConvertClicked, this, [this] { ButtonConvertClick(); });
    connect(commandBar_, &TCommandBar::OpenOutputClicked, this,
            [this] { OpenOutputFolderClick(); });
    connect(queueBar_, &TQueueBar::StopThisFileClicked, this, [this] { StopThisFileClick(); });
    connect(queueBar_, &TQueueBar::StopAfterClicked, this, [this] { ButtonStopAfterClick(); });
    connect(folderPanel_, &TOutputFolderPanel::SameFolderToggled, this, [this] { ScheduleSave(); });
    connect(folderPanel_, &TOutputFolderPanel::FolderEdited, this, [this] { ScheduleSave(); });
    connect(folderPanel_, &TOutputFolderPanel::BrowseClicked, this,
            [this] { ButtonBrowseForFolderClick(); });
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
    connect(ComboOutputFormat, &QComboBox::currentIndexChanged, this, [this] {
        const int before = selection_.SelectedLine();
        ComboOutputFormatChange();
        if (selection_.SelectedLine() != before) ChoicesChanged();
    });
    connect(ComboOutputFormat, &TDropDownComboBox::AboutToDropDown, this,
            [this] { ComboOutputFormatDropDown(); });
    connect(TimerConvertAgain, &QTimer::timeout, this, [this] { TimerConvertAgainTimer(); });
    connect(fileModel_, &TFileListModel::CheckedChanged, this, [this] { ScheduleSave(); });
    connect(fileTable, &QTableView::customContextMenuRequested, this,
            [this](const QPoint& at) { FileTableContextMenu(at); });
}

void TMainWindow::CreateMenus() {
    const auto item = [this](QMenu* menu, const char* name, const QString& caption, auto handler) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    MenuFile = Named(menuBar()->addMenu(tr("&File")), "File1");
    item(MenuFile, "AddFiles1", tr("Add Files"), [this] {
        commandBar_->ClickAddFile();
    })->setShortcut(QKeySequence::Open);
    MenuFile->addSeparator();
    item(MenuFile, "Convert1", tr("Convert"), [this] {
        ButtonConvertClick();
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    item(MenuFile, "OpenOutputFolder1", tr("Open Output Folder"),
         [this] { OpenOutputFolderClick(); });
    MenuFile->addSeparator();
    item(MenuFile, "Exit1", tr("Exit"), [this] { Exit1Click(); })->setShortcut(QKeySequence::Quit);

    MenuOptions = Named(menuBar()->addMenu(tr("&Options")), "Options1");
    item(MenuOptions, "SetGeneralOptions1", tr("Set Options"),
         [this] { SetGeneralOptions1Click(); });

    MenuPresets = Named(menuBar()->addMenu(tr("&Presets")), "Presets1");
    item(MenuPresets, "SavePreset1", tr("Save Current Settings as Preset..."),
         [this] { SavePresetClick(); });
    item(MenuPresets, "RenamePreset1", tr("Rename Preset..."), [this] { presets_.RenameClick(); });
    item(MenuPresets, "DeletePreset1", tr("Delete Preset..."), [this] { presets_.DeleteClick(); });
    MenuPresets->addSeparator();
    item(MenuPresets, "ExportPresets1", tr("Export Presets..."),
         [this] { presets_.ExportClick(lastAddFolder_); });
    item(MenuPresets, "ImportPresets1", tr("Import Presets..."), [this] { ImportPresetsClick(); });

    MenuHelp = Named(menuBar()->addMenu(tr("&Help")), "Help1");
    QAction* help =
        item(MenuHelp, "OpenHelpFile1", tr("Open Help File"), [this] { OpenHelpFile1Click(); });
    // F1 everywhere, whatever else the desktop's own key for help is.
    QList<QKeySequence> helpKeys = QKeySequence::keyBindings(QKeySequence::HelpContents);
    if (!helpKeys.contains(QKeySequence(Qt::Key_F1))) helpKeys.append(QKeySequence(Qt::Key_F1));
    help->setShortcuts(helpKeys);
    MenuHelp->addSeparator();
    item(MenuHelp, "VisitOurWebsite1", tr("Visit Vavuror Website"),
         [this] { VisitOurWebsite1Click(); });
    MenuHelp->addSeparator();
    item(MenuHelp, "About1", tr("About"), [this] { About1Click(); });

    PopupListView1 = Named(new QMenu(this), "PopupListView1");
    item(PopupListView1, "ShowInFolder1", tr("Show in Folder"), [this] { ShowInFolderClick(); });
    item(PopupListView1, "Play1", tr("Play"), [this] { PlayClick(); });
    item(PopupListView1, "ShowLog1", tr("Show Log"), [this] { ShowLogClick(); });
    // Only while files are being converted.
    item(PopupListView1, "StopThisFile1", tr("Stop This File"), [this] {
        StopThisFileClick();
    })->setEnabled(false);
    PopupListView1->addSeparator();
    item(PopupListView1, "CheckAllItems1", tr("Check All Items"),
         [this] { CheckAllItems1Click(); });
    item(PopupListView1, "UncheckAllItems1", tr("Uncheck All Items"),
         [this] { UncheckAllItems1Click(); });
    PopupListView1->addSeparator();
    item(PopupListView1, "DeleteSelectedItem1", tr("Remove Selected Item"),
         [this] { DeleteSelectedItem1Click(); });
    item(PopupListView1, "ClearAllItems1", tr("Clear All Items"),
         [this] { ClearAllItems1Click(); });
}
