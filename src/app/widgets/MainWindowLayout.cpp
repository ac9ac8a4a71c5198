// The main window's controls: built part by part, top to bottom, and wired to its handlers.
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
#include "app/widgets/DesktopNotification.h"
#include "app/widgets/FileListModel.h"
#include "app/widgets/FontAdjustment.h"
#include "app/widgets/MessageBoxes.h"
#include "app/widgets/OptionsDialog.h"
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

// A text shown whole or not at all, where a cut one would look like a fault.
class TWholeOrNoLabel : public QLabel {
  public:
    using QLabel::QLabel;

  protected:
    void paintEvent(QPaintEvent* event) override {
        if (width() >= sizeHint().width()) QLabel::paintEvent(event);
    }
};

std::int64_t CoreCount() {
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

// --- Building the window ---

void TMainWindow::CreateControls() {
    auto* central = new QWidget(this);
    auto* page = new QVBoxLayout(central);
    page->setContentsMargins(6, 4, 6, 2);
    page->setSpacing(5);
    page->addLayout(CreateToolBar(central));
    CreateOutputChoices(central, page);
    CreateFileList(central);
    // The list and the settings share the height; on a small screen the settings scroll.
    auto* splitter = Named(new QSplitter(Qt::Vertical, central), "SplitterListSettings");
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(fileTable);
    page->addWidget(splitter, 1);
    splitter->addWidget(CreateParameterPanel(central, splitter));
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    page->addLayout(CreateProgressPanel(central));
    setCentralWidget(central);
    CreateStatusBar();
    CreateTimers();
    ConnectControls();
}

// The tool bar.
QHBoxLayout* TMainWindow::CreateToolBar(QWidget* central) {
    auto* tools = new QHBoxLayout;
    tools->setSpacing(4);
    const auto toolButton = [&](QPushButton*& button, const char* name, const QString& caption,
                                const QIcon& icon) {
        button = Named(new QPushButton(icon, caption, central), name);
        button->setMinimumHeight(30);
        button->setIconSize(QSize(20, 20));
        button->setFocusPolicy(Qt::TabFocus);
        tools->addWidget(button);
    };
    toolButton(ButtonAddFile, "ButtonAddFile", tr("Add File"),
               ThemeIcon("list-add", QStyle::SP_FileDialogNewFolder));
    toolButton(ButtonRemove, "ButtonRemove", tr("Remove File"),
               ThemeIcon("list-remove", QStyle::SP_TrashIcon));
    toolButton(ButtonClear, "ButtonClear", tr("Clear All "),
               ThemeIcon("edit-clear", QStyle::SP_DialogResetButton));
    toolButton(ButtonStopConvert, "ButtonStopConvert", tr("Stop Convert"),
               ThemeIcon("media-playback-stop", QStyle::SP_MediaStop));
    toolButton(ButtonConvert, "ButtonConvert", tr("Go Convert "),
               ThemeIcon("media-playback-start", QStyle::SP_MediaPlay));
    toolButton(ButtonOpenOutput, "ButtonOpenOutput", tr("Open Output Folder"),
               ThemeIcon("folder-open", QStyle::SP_DirOpenIcon));
    auto* logo = new QLabel(central);
    logo->setPixmap(ApplicationIcon().pixmap(28, 28));
    tools->addWidget(logo);
    auto* product = Named(new TWholeOrNoLabel(tr(kMainCaption), central), "LabelProduct");
    QFont productFont = product->font();
    productFont.setBold(true);
    productFont.setPointSizeF(productFont.pointSizeF() * 1.15);
    product->setFont(productFont);
    // The name and logo give way first when the window is narrow; the name shows whole or not.
    product->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    product->setMinimumWidth(0);
    logo->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    tools->addWidget(product, 1);
    return tools;
}

// Output folder and output format.
void TMainWindow::CreateOutputChoices(QWidget* central, QVBoxLayout* page) {
    auto* output = new QHBoxLayout;
    output->setSpacing(4);
    output->addWidget(NamedLabel(tr("Output Folder :"), central));
    EditOutputFolder = Named(new QLineEdit(central), "EditOutputFolder");
    EditOutputFolder->setPlaceholderText(tr("Type or choose a folder"));
    EditOutputFolder->setMinimumWidth(fontMetrics().averageCharWidth() * 10);
    output->addWidget(EditOutputFolder, 1);
    ButtonBrowseForFolder = Named(new QToolButton(central), "ButtonBrowseForFolder");
    ButtonBrowseForFolder->setIcon(ThemeIcon("folder-open", QStyle::SP_DirOpenIcon));
    ButtonBrowseForFolder->setToolTip(tr("Choose the output folder"));
    output->addWidget(ButtonBrowseForFolder);
    CheckSameFolder =
        Named(new QCheckBox(tr("Same folder as the input"), central), "CheckSameFolder");
    output->addWidget(CheckSameFolder);
    page->addLayout(output);
    // The profile on a line of its own: its names are long, and a narrow window keeps them
    // readable.
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

// The parameter lists.
QScrollArea* TMainWindow::CreateParameterPanel(QWidget* central, QSplitter* splitter) {
    auto* settingsArea = Named(new QScrollArea(splitter), "ScrollSettings");
    settingsArea->setFrameShape(QFrame::NoFrame);
    settingsArea->setWidgetResizable(true);
    auto* settingsPanel = new QWidget(settingsArea);
    auto* settings = new QHBoxLayout(settingsPanel);
    settings->setContentsMargins(0, 0, 0, 0);
    settings->setSpacing(6);
    // The groups share the width by what their lists hold at most: the video lists have the
    // longest entries ("Original Video Size", "23.976 fps [NTSC]").
    const auto group = [&](const QString& title, const char* name, int stretch) {
        auto* box = Named(new QGroupBox(title, central), name);
        auto* grid = new QGridLayout(box);
        grid->setContentsMargins(6, 4, 6, 4);
        grid->setHorizontalSpacing(4);
        grid->setVerticalSpacing(3);
        grid->setColumnStretch(1, 1);
        settings->addWidget(box, stretch);
        return grid;
    };
    const auto row = [&](QGridLayout* grid, int at, const QString& caption, QComboBox*& combo,
                         const char* name) {
        grid->addWidget(NamedLabel(caption, grid->parentWidget()), at, 0);
        combo = Named(new QComboBox(grid->parentWidget()), name);
        combo->setMinimumContentsLength(4);
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        grid->addWidget(combo, at, 1);
    };
    QGridLayout* audio = group(tr(" Audio Settings "), "GroupAudioSettings", 20);
    row(audio, 0, tr("Audio Codec : "), ComboAudioCodec, "ComboAudioCodec");
    row(audio, 1, tr("Audio Bitrate :"), ComboAudioBitrate, "ComboAudioBitrate");
    row(audio, 2, tr("Audio Channels :"), ComboAudioChannels, "ComboAudioChannels");
    row(audio, 3, tr("Sampling Rate : "), ComboSamplingRate, "ComboSamplingRate");
    QGridLayout* video = group(tr(" Video Settings "), "GroupVideoSettings", 27);
    row(video, 0, tr("Video Codec : "), ComboVideoCodec, "ComboVideoCodec");
    row(video, 1, tr("Video Size : "), ComboVideoSize, "ComboVideoSize");
    row(video, 2, tr("Video Bitrate : "), ComboVideoBitrate, "ComboVideoBitrate");
    row(video, 3, tr("Video Framerate : "), ComboVideoFramerate, "ComboVideoFramerate");
    // Fit to size: the video's rate follows from the size, so it sits with the video's lists.
    CheckFitSize = Named(new QCheckBox(tr("Fit to Size :"), video->parentWidget()), "CheckFitSize");
    CheckFitSize->setToolTip(
        tr("Make each output at most this size, in two passes (video profiles; nothing is "
           "copied)"));
    video->addWidget(CheckFitSize, 4, 0);
    SpinFitSize = Named(new QDoubleSpinBox(video->parentWidget()), "SpinFitSize");
    SpinFitSize->setDecimals(1);
    SpinFitSize->setRange(0.1, 99999.9);
    SpinFitSize->setValue(25.0);
    SpinFitSize->setSuffix(tr(" MB"));
    SpinFitSize->setToolTip(tr("1 MB = 1,000,000 bytes"));
    SpinFitSize->setEnabled(false);
    video->addWidget(SpinFitSize, 4, 1);
    QGridLayout* general = group(tr(" General Settings "), "GroupGeneralSettings", 24);
    row(general, 0, tr("Video Zoom : "), ComboLetterBox, "ComboLetterBox");
    ComboLetterBox->setToolTip(tr("Add a letterbox to keep video aspect ratio"));
    ComboLetterBox->setToolTipDuration(kHintMs);
    row(general, 1, tr("Aspect Ratio : "), ComboAspectRatio, "ComboAspectRatio");
    general->addWidget(NamedLabel(tr("Volume : "), central), 2, 0);
    auto* volume = new QHBoxLayout;
    volumeSlider = Named(new QSlider(Qt::Horizontal, central), "volumeSlider");
    volumeSlider->setRange(0, 10);
    volumeSlider->setPageStep(1);
    volumeSlider->setTickPosition(QSlider::TicksBelow);
    volumeSlider->setTickInterval(1);
    volume->addWidget(volumeSlider, 1);
    LabelVolume = Named(new QLabel(central), "LabelVolume");
    LabelVolume->setMinimumWidth(fontMetrics().horizontalAdvance("200%") + 4);
    LabelVolume->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    volume->addWidget(LabelVolume);
    general->addLayout(volume, 2, 1);
    row(general, 3, tr("Quality : "), ComboQuality, "ComboQuality");
    CheckReencode = Named(new QCheckBox(tr("Re-encode streams that could be copied"), central),
                          "CheckReencode");
    general->addWidget(CheckReencode, 4, 0, 1, 2);
    general->setRowStretch(5, 1);
    settingsArea->setWidget(settingsPanel);
    return settingsArea;
}

// Progress of the running file and of the whole queue.
QGridLayout* TMainWindow::CreateProgressPanel(QWidget* central) {
    auto* progress = new QGridLayout;
    progress->setHorizontalSpacing(6);
    progress->setVerticalSpacing(2);
    ProgressBar1 = Named(new QProgressBar(central), "ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setToolTip(tr("The file being converted"));
    ProgressQueue = Named(new QProgressBar(central), "ProgressQueue");
    ProgressQueue->setRange(0, 100);
    ProgressQueue->setValue(0);
    ProgressQueue->setFormat(tr("Queue %p%"));
    ProgressQueue->setToolTip(tr("All files of the run"));
    progress->addWidget(ProgressBar1, 0, 0);
    progress->addWidget(ProgressQueue, 1, 0);
    progress->setColumnStretch(0, 1);
    ButtonStopSmall = Named(new QPushButton(tr("Stop This File"), central), "ButtonStopSmall");
    ButtonStopSmall->setToolTip(
        tr("Stops the selected file, or the one being converted; the "
           "others go on"));
    progress->addWidget(ButtonStopSmall, 0, 1);
    ButtonStopAfter =
        Named(new QPushButton(tr("Stop After This File"), central), "ButtonStopAfter");
    ButtonStopAfter->setEnabled(false);
    progress->addWidget(ButtonStopAfter, 1, 1);
    auto* parallelLabel = NamedLabel(tr("Convert files at once:"), central);
    progress->addWidget(parallelLabel, 0, 2);
    SpinParallel = Named(new QSpinBox(central), "SpinParallel");
    SpinParallel->setRange(1, static_cast<int>(CoreCount()));
    SpinParallel->setValue(1);
    SpinParallel->setToolTip(tr("How many files convert at the same time"));
    parallelLabel->setBuddy(SpinParallel);
    progress->addWidget(SpinParallel, 1, 2);
    return progress;
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
    connect(ButtonAddFile, &QPushButton::clicked, this, [this] { ButtonAddFileClick(); });
    connect(ButtonRemove, &QPushButton::clicked, this, [this] { DeleteSelectedItem1Click(); });
    connect(ButtonClear, &QPushButton::clicked, this, [this] { ClearAllItems1Click(); });
    connect(ButtonStopConvert, &QPushButton::clicked, this, [this] { ButtonStopConvertClick(); });
    connect(ButtonStopSmall, &QPushButton::clicked, this, [this] { StopThisFileClick(); });
    connect(ButtonConvert, &QPushButton::clicked, this, [this] { ButtonConvertClick(); });
    connect(ButtonStopAfter, &QPushButton::clicked, this, [this] { ButtonStopAfterClick(); });
    connect(ButtonOpenOutput, &QPushButton::clicked, this, [this] { OpenOutputFolderClick(); });
    connect(CheckSameFolder, &QCheckBox::toggled, this, [this](bool same) {
        EditOutputFolder->setEnabled(!same);
        ButtonBrowseForFolder->setEnabled(!same);
        ScheduleSave();
    });
    connect(EditOutputFolder, &QLineEdit::textEdited, this, [this] { ScheduleSave(); });
    connect(ButtonBrowseForFolder, &QToolButton::clicked, this,
            [this] { ButtonBrowseForFolderClick(); });
    connect(CheckFitSize, &QCheckBox::toggled, this, [this] {
        UpdateFitSizeControls(true);
        ChoicesChanged();
    });
    connect(SpinFitSize, &QDoubleSpinBox::valueChanged, this, [this] { ChoicesChanged(); });
    connect(CheckReencode, &QCheckBox::toggled, this, [this] { ChoicesChanged(); });
    connect(ComboLetterBox, &QComboBox::currentIndexChanged, this, [this] { ChoicesChanged(); });
    connect(ComboOutputFormat, &QComboBox::currentIndexChanged, this, [this] {
        const int before = selection_.SelectedLine();
        ComboOutputFormatChange();
        if (selection_.SelectedLine() != before) ChoicesChanged();
    });
    connect(ComboOutputFormat, &TDropDownComboBox::AboutToDropDown, this,
            [this] { ComboOutputFormatDropDown(); });
    connect(volumeSlider, &QSlider::valueChanged, this, [this] {
        VolumeSliderChange();
        ChoicesChanged();
    });
    connect(TimerConvertAgain, &QTimer::timeout, this, [this] { TimerConvertAgainTimer(); });
    connect(fileModel_, &TFileListModel::CheckedChanged, this, [this] { ScheduleSave(); });
    connect(fileTable, &QTableView::customContextMenuRequested, this,
            [this](const QPoint& at) { FileTableContextMenu(at); });

    // A choice in a parameter list goes into the core's lists, which the job builder reads.
    const std::pair<QComboBox*, TChoiceList TParameterLists::*> lists[] = {
        {ComboVideoCodec, &TParameterLists::VideoCodec},
        {ComboVideoSize, &TParameterLists::VideoSize},
        {ComboVideoBitrate, &TParameterLists::VideoBitrate},
        {ComboVideoFramerate, &TParameterLists::VideoFramerate},
        {ComboAudioCodec, &TParameterLists::AudioCodec},
        {ComboAudioBitrate, &TParameterLists::AudioBitrate},
        {ComboSamplingRate, &TParameterLists::SamplingRate},
        {ComboAudioChannels, &TParameterLists::AudioChannels},
        {ComboAspectRatio, &TParameterLists::AspectRatio},
        {ComboQuality, &TParameterLists::Quality},
    };
    for (const auto& [combo, list] : lists) {
        connect(combo, &QComboBox::currentIndexChanged, this, [this, list](int index) {
            (params_.*list).Selected = index;
            ScheduleSave();
            ChoicesChanged();
        });
    }
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
        ButtonAddFile->click();
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
