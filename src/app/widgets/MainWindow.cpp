#include "app/widgets/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <utility>

#include "app/core/DroppedFiles.h"
#include "app/core/FileListTexts.h"
#include "app/core/ParameterReaders.h"
#include "app/core/ProbeFacts.h"
#include "app/core/SettingsKeys.h"
#include "app/widgets/AboutBox.h"
#include "app/widgets/ApplicationIcon.h"
#include "app/widgets/FontAdjustment.h"
#include "app/widgets/MessageBoxes.h"
#include "app/widgets/OptionsDialog.h"
#include "app/widgets/SettingsStore.h"
#include "binding/FFmpegLibs.h"

namespace {

constexpr int kHintMs = 30000;
constexpr int kColumnCount = 7;
constexpr int kProgressColumn = 5;
constexpr int kReasonRole = Qt::UserRole + 1;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// Line breaks written as a line feed and a carriage return show as one line break here.
QString DisplayText(const std::string& text) {
    return Q(text).replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
}

// The help file beside the program.
QString HelpFilePath() {
    return QCoreApplication::applicationDirPath() + "/help.html";
}

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(name, QApplication::style()->standardIcon(fallback));
}

QLabel* NamedLabel(const char* text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    return label;
}

template <typename TWidget>
TWidget* Named(TWidget* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

bool IsFailureText(const std::string& progress) {
    return progress == kStatusFail || progress == kStatusError;
}

}  // namespace

void TDropDownComboBox::showPopup() {
    if (OnDropDown) OnDropDown();
    QComboBox::showPopup();
}

TForm1::TForm1(TConversionBackend* backend, QWidget* parent)
    : QMainWindow(parent), backend_(backend), BMDThread1(this) {
    setObjectName("Form1");
    SetDesignedFont(this);
    // Files are added by the worker's start event, on this thread; the worker does no more.
    BMDThread1.OnStart = [this](QObject*, TBMDExecuteThread*, void*& data) {
        BMDThread1Start(data);
    };
    CreateControls();
    CreateMenus();
    FormCreate();
}

TForm1::~TForm1() {
    if (backend_) backend_->SetEvents({});
}

// --- Building the window ---

void TForm1::CreateControls() {
    auto* central = new QWidget(this);
    auto* page = new QVBoxLayout(central);
    page->setContentsMargins(6, 4, 6, 2);
    page->setSpacing(5);

    // The tool bar.
    auto* tools = new QHBoxLayout;
    tools->setSpacing(4);
    const auto toolButton = [&](QPushButton*& button, const char* name, const char* caption,
                                const QIcon& icon) {
        button = Named(new QPushButton(icon, caption, central), name);
        button->setMinimumHeight(30);
        button->setIconSize(QSize(20, 20));
        button->setFocusPolicy(Qt::TabFocus);
        tools->addWidget(button);
    };
    toolButton(ButtonAddFile, "ButtonAddFile", "Add File",
               ThemeIcon("list-add", QStyle::SP_FileDialogNewFolder));
    toolButton(ButtonRemove, "ButtonRemove", "Remove File",
               ThemeIcon("list-remove", QStyle::SP_TrashIcon));
    toolButton(ButtonClear, "ButtonClear", "Clear All ",
               ThemeIcon("edit-clear", QStyle::SP_DialogResetButton));
    toolButton(ButtonStopConvert, "ButtonStopConvert", "Stop Convert",
               ThemeIcon("media-playback-stop", QStyle::SP_MediaStop));
    toolButton(ButtonConvert, "ButtonConvert", "Go Convert ",
               ThemeIcon("media-playback-start", QStyle::SP_MediaPlay));
    tools->addStretch(1);
    auto* logo = new QLabel(central);
    logo->setPixmap(ApplicationIcon().pixmap(28, 28));
    tools->addWidget(logo);
    auto* product = new QLabel(kMainCaption, central);
    QFont productFont = product->font();
    productFont.setBold(true);
    productFont.setPointSizeF(productFont.pointSizeF() * 1.15);
    product->setFont(productFont);
    tools->addWidget(product);
    page->addLayout(tools);

    // Output folder and output format.
    auto* output = new QHBoxLayout;
    output->setSpacing(4);
    output->addWidget(NamedLabel("Output Folder :", central));
    EditOutputFolder = Named(new QLineEdit(central), "EditOutputFolder");
    EditOutputFolder->setReadOnly(true);
    EditOutputFolder->setEnabled(false);
    output->addWidget(EditOutputFolder, 1);
    ButtonBrowseForFolder = Named(new QToolButton(central), "ButtonBrowseForFolder");
    ButtonBrowseForFolder->setIcon(ThemeIcon("folder-open", QStyle::SP_DirOpenIcon));
    ButtonBrowseForFolder->setToolTip("Choose the output folder");
    output->addWidget(ButtonBrowseForFolder);
    output->addSpacing(10);
    output->addWidget(NamedLabel("Set Output Format :", central));
    ComboOutputFormat = Named(new TDropDownComboBox(central), "ComboOutputFormat");
    ComboOutputFormat->setFixedWidth(270);
    // A list that opens below the box and shows as many lines as the options say; the styles'
    // menu-like list ignores the number of lines.
    ComboOutputFormat->setStyleSheet("QComboBox { combobox-popup: 0; }");
    output->addWidget(ComboOutputFormat);
    page->addLayout(output);

    // The file list.
    ListView1 = Named(new QTableWidget(0, kColumnCount, central), "ListView1");
    const auto& columns = FileListColumns();
    for (int c = 0; c < kColumnCount; ++c) {
        auto* header = new QTableWidgetItem(columns[c].Caption);
        header->setTextAlignment(columns[c].Centred ? Qt::AlignCenter
                                                    : Qt::AlignLeft | Qt::AlignVCenter);
        ListView1->setHorizontalHeaderItem(c, header);
        ListView1->setColumnWidth(c, columns[c].Width);
    }
    ListView1->verticalHeader()->setVisible(false);
    ListView1->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    ListView1->horizontalHeader()->setHighlightSections(false);
    ListView1->horizontalHeader()->setStretchLastSection(true);
    ListView1->setShowGrid(true);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setTextElideMode(Qt::ElideMiddle);
    ListView1->setWordWrap(false);
    ListView1->setSortingEnabled(false);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    ListView1->setToolTipDuration(kHintMs);
    ListView1->installEventFilter(this);
    page->addWidget(ListView1, 1);

    // The parameter lists.
    auto* settings = new QHBoxLayout;
    settings->setSpacing(6);
    // The groups share the width by what their lists hold at most: the video lists have the
    // longest entries ("Original Video Size", "23.976 fps [NTSC]").
    const auto group = [&](const char* title, const char* name, int stretch) {
        auto* box = Named(new QGroupBox(title, central), name);
        auto* grid = new QGridLayout(box);
        grid->setContentsMargins(6, 4, 6, 4);
        grid->setHorizontalSpacing(4);
        grid->setVerticalSpacing(3);
        grid->setColumnStretch(1, 1);
        settings->addWidget(box, stretch);
        return grid;
    };
    const auto row = [&](QGridLayout* grid, int at, const char* caption, QComboBox*& combo,
                         const char* name) {
        grid->addWidget(NamedLabel(caption, grid->parentWidget()), at, 0);
        combo = Named(new QComboBox(grid->parentWidget()), name);
        combo->setMinimumContentsLength(4);
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        grid->addWidget(combo, at, 1);
    };
    QGridLayout* audio = group(" Audio Settings ", "GroupAudioSettings", 20);
    row(audio, 0, "Audio Codec : ", ComboAudioCodec, "ComboAudioCodec");
    row(audio, 1, "Audio Bitrate :", ComboAudioBitrate, "ComboAudioBitrate");
    row(audio, 2, "Audio Channels :", ComboAudioChannels, "ComboAudioChannels");
    row(audio, 3, "Sampling Rate : ", ComboSamplingRate, "ComboSamplingRate");
    QGridLayout* video = group(" Video Settings ", "GroupVideoSettings", 27);
    row(video, 0, "Video Codec : ", ComboVideoCodec, "ComboVideoCodec");
    row(video, 1, "Video Size : ", ComboVideoSize, "ComboVideoSize");
    row(video, 2, "Video Bitrate : ", ComboVideoBitrate, "ComboVideoBitrate");
    row(video, 3, "Video Framerate : ", ComboVideoFramerate, "ComboVideoFramerate");
    QGridLayout* general = group(" General Settings ", "GroupGeneralSettings", 24);
    row(general, 0, "Video Zoom : ", ComboLetterBox, "ComboLetterBox");
    ComboLetterBox->setToolTip("Add a letterbox to keep video aspect ratio");
    ComboLetterBox->setToolTipDuration(kHintMs);
    row(general, 1, "Aspect Ratio : ", ComboAspectRatio, "ComboAspectRatio");
    general->addWidget(NamedLabel("Volume : ", central), 2, 0);
    auto* volume = new QHBoxLayout;
    TrackBar1 = Named(new QSlider(Qt::Horizontal, central), "TrackBar1");
    TrackBar1->setRange(0, 10);
    TrackBar1->setPageStep(1);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    TrackBar1->setTickInterval(1);
    volume->addWidget(TrackBar1, 1);
    LabelVolume = Named(new QLabel(central), "LabelVolume");
    LabelVolume->setMinimumWidth(fontMetrics().horizontalAdvance("200%") + 4);
    LabelVolume->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    volume->addWidget(LabelVolume);
    general->addLayout(volume, 2, 1);
    row(general, 3, "Quality : ", ComboQuality, "ComboQuality");
    CheckReencode =
        Named(new QCheckBox("Re-encode streams that could be copied", central), "CheckReencode");
    general->addWidget(CheckReencode, 4, 0, 1, 2);
    general->setRowStretch(5, 1);
    page->addLayout(settings);

    // Progress of the running file.
    auto* progress = new QHBoxLayout;
    ProgressBar1 = Named(new QProgressBar(central), "ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    progress->addWidget(ProgressBar1, 1);
    ButtonStopSmall = Named(new QPushButton("Stop", central), "ButtonStopSmall");
    progress->addWidget(ButtonStopSmall);
    page->addLayout(progress);
    setCentralWidget(central);

    StatusBar1 = Named(new QStatusBar(this), "StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    const int panelWidths[3] = {150, 300, 50};
    for (int p = 0; p < 3; ++p) {
        StatusPanels[p] = new QLabel(StatusBar1);
        StatusPanels[p]->setObjectName(QString("StatusPanel%1").arg(p));
        StatusPanels[p]->setFixedWidth(panelWidths[p]);
        StatusPanels[p]->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        StatusBar1->addWidget(StatusPanels[p]);
    }
    StatusPanels[0]->setText("Ready");
    setStatusBar(StatusBar1);

    TimerConvertAgain = Named(new QTimer(this), "TimerConvertAgain");
    TimerConvertAgain->setInterval(kQueueTimerMs);

    connect(ButtonAddFile, &QPushButton::clicked, this, [this] { ButtonAddFileClick(); });
    connect(ButtonRemove, &QPushButton::clicked, this, [this] { DeleteSelectedItem1Click(); });
    connect(ButtonClear, &QPushButton::clicked, this, [this] { ClearAllItems1Click(); });
    connect(ButtonStopConvert, &QPushButton::clicked, this, [this] { ButtonStopConvertClick(); });
    connect(ButtonStopSmall, &QPushButton::clicked, ButtonStopConvert, &QPushButton::click);
    connect(ButtonConvert, &QPushButton::clicked, this, [this] { ButtonConvertClick(); });
    connect(ButtonBrowseForFolder, &QToolButton::clicked, this,
            [this] { ButtonBrowseForFolderClick(); });
    connect(ComboOutputFormat, &QComboBox::currentIndexChanged, this,
            [this] { ComboOutputFormatChange(); });
    ComboOutputFormat->OnDropDown = [this] { ComboOutputFormatDropDown(); };
    connect(TrackBar1, &QSlider::valueChanged, this, [this] { TrackBar1Change(); });
    connect(TimerConvertAgain, &QTimer::timeout, this, [this] { TimerConvertAgainTimer(); });
    connect(ListView1, &QTableWidget::cellChanged, this,
            [this](int row, int column) { ListView1ItemChanged(row, column); });
    connect(ListView1, &QTableWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { ListView1ContextMenu(at); });

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
        connect(combo, &QComboBox::currentIndexChanged, this,
                [this, list](int index) { (params_.*list).Selected = index; });
    }
}

void TForm1::CreateMenus() {
    const auto item = [this](QMenu* menu, const char* name, const char* caption, auto handler) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    MenuFile = Named(menuBar()->addMenu("&File"), "File1");
    item(MenuFile, "AddFiles1", "Add Files", [this] {
        ButtonAddFile->click();
    })->setShortcut(QKeySequence::Open);
    MenuFile->addSeparator();
    item(MenuFile, "Convert1", "Convert", [this] { ButtonConvertClick(); });
    MenuFile->addSeparator();
    item(MenuFile, "Exit1", "Exit", [this] { Exit1Click(); })->setShortcut(QKeySequence::Quit);

    MenuOptions = Named(menuBar()->addMenu("&Options"), "Options1");
    item(MenuOptions, "SetGeneralOptions1", "Set Options", [this] { SetGeneralOptions1Click(); });

    MenuHelp = Named(menuBar()->addMenu("&Help"), "Help1");
    item(MenuHelp, "OpenHelpFile1", "Open Help File", [this] {
        OpenHelpFile1Click();
    })->setShortcut(QKeySequence::HelpContents);
    MenuHelp->addSeparator();
    item(MenuHelp, "VisitOurWebsite1", "Visit Vavuror Website",
         [this] { VisitOurWebsite1Click(); });
    MenuHelp->addSeparator();
    item(MenuHelp, "About1", "About", [this] { About1Click(); });

    PopupListView1 = Named(new QMenu(this), "PopupListView1");
    item(PopupListView1, "CheckAllItems1", "Check All Items", [this] { CheckAllItems1Click(); });
    item(PopupListView1, "UncheckAllItems1", "Uncheck All Items",
         [this] { UncheckAllItems1Click(); });
    PopupListView1->addSeparator();
    item(PopupListView1, "DeleteSelectedItem1", "Remove Selected Item",
         [this] { DeleteSelectedItem1Click(); });
    item(PopupListView1, "ClearAllItems1", "Clear All Items", [this] { ClearAllItems1Click(); });
}

void TForm1::FormCreate() {
    if (IsNewerSystemVersion()) AdjustFont(this);
    setWindowIcon(ApplicationIcon());

    const std::string libraryFolder =
        (QCoreApplication::applicationDirPath() + "/Common Files").toStdString();
    librariesLoaded_ = backend_ ? backend_->LoadLibraries(libraryFolder, true)
                                : LoadFFmpegLibs(libraryFolder, true);
    if (!librariesLoaded_) {
        const std::string why = backend_ ? backend_->LastErrorText() : FFmpegLibsError();
        qWarning("%s", why.c_str());
        ShowInformation(this, kMsgLibrariesMissing);
        return;
    }
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
        events.OnProgress = relay(&TForm1::DEVUZProgress);
        events.OnLog = relay(&TForm1::DEVUZLog);
        events.OnTerminate = relay(&TForm1::DEVUZTerminate);
        backend_->SetEvents(std::move(events));
    }

    setWindowTitle(kMainCaption);
    helpFile_ = HelpFilePath();
    // A fixed border with the system menu and the minimise box only.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setAcceptDrops(true);

    TrackBar1->setValue(kDefaultVolumePosition);
    TrackBar1Change();

    {
        const QSignalBlocker blocker(ComboOutputFormat);
        ComboOutputFormat->clear();
        const auto& lines = OutputFormatLines();
        for (const TCatalogueLine& line : lines) ComboOutputFormat->addItem(Q(line.Text));
        // Separator lines cannot be chosen; should one be chosen anyway, the choice steps back.
        if (auto* model = qobject_cast<QStandardItemModel*>(ComboOutputFormat->model())) {
            for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
                if (!lines[i].Profile) model->item(i)->setFlags(Qt::NoItemFlags);
            }
        }
        ComboOutputFormat->setCurrentIndex(kDefaultFormatLine);
    }
    ComboOutputFormat->setMaxVisibleItems(kFallbackDropDownItems);

    ShowParameterLists();
    {
        const QSignalBlocker blocker(ComboLetterBox);
        for (const std::string& entry : LetterBoxEntries()) ComboLetterBox->addItem(Q(entry));
        ComboLetterBox->setCurrentIndex(0);
    }
    TimerConvertAgain->stop();

    // 760 x 514 below the menu bar, whatever the font.
    setFixedSize(760, 514 + menuBar()->sizeHint().height());
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!firstShow_) return;
    firstShow_ = false;
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    // The profile restored from the settings fills the parameter lists.
    ComboOutputFormatChange();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

bool TForm1::FormCloseQuery() {
    // Closing waits for the whole queue, not only a running task: between two files nothing
    // runs, yet the queue is not done.
    if (!queue_.AllowsRowChanges() || addingFiles_) return false;
    if (backend_) {
        backend_->SetEvents({});
        backend_->StopTasks();
    }
    closing_ = true;
    return true;
}

void TForm1::FormClose() {
    if (options_) SaveSettings(*this, *options_);
}

// --- Settings ---

QString TForm1::OutputFolder() const {
    return EditOutputFolder->text();
}

void TForm1::SetOutputFolder(const QString& folder) {
    EditOutputFolder->setText(folder);
    EditOutputFolder->setToolTip(folder);
}

void TForm1::SelectOutputFormatLine(int line) {
    if (!selection_.Choose(line)) return;
    const QSignalBlocker blocker(ComboOutputFormat);
    ComboOutputFormat->setCurrentIndex(line);
}

int TForm1::LetterBoxIndex() const {
    return ComboLetterBox->currentIndex();
}

void TForm1::SelectLetterBox(int index) {
    if (index >= 0 && index < ComboLetterBox->count()) ComboLetterBox->setCurrentIndex(index);
}

std::optional<int> TForm1::DropDownItems() const {
    if (!options_) return std::nullopt;
    return options_->DropDownItems();
}

void TForm1::ApplyDropDownItems() {
    ComboOutputFormat->setMaxVisibleItems(DropDownItems().value_or(kFallbackDropDownItems));
}

TJobSettings TForm1::JobSettings() const {
    TJobSettings settings;
    settings.OutputFolder = OutputFolder().toStdString();
    settings.Overwrite = options_ && options_->Overwrite();
    settings.FormatKey = selection_.FormatKey();
    settings.Reader = selection_.Profile()->Reader;
    settings.Parameters = ChoiceOf(params_);
    settings.AspectIndex = params_.AspectRatio.Selected;
    settings.LetterBoxIndex = ComboLetterBox->currentIndex();
    settings.Volume = volume_;
    settings.Reencode = CheckReencode->isChecked();
    return settings;
}

// --- The file list ---

void TForm1::AppendRowView() {
    const int row = ListView1->rowCount();
    const bool blocked = showingRows_;
    showingRows_ = true;
    ListView1->insertRow(row);
    const auto& columns = FileListColumns();
    for (int c = 0; c < kColumnCount; ++c) {
        auto* cell = new QTableWidgetItem;
        cell->setFlags(c == 0 ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable
                              : Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        cell->setTextAlignment(columns[c].Centred ? Qt::AlignCenter
                                                  : Qt::AlignLeft | Qt::AlignVCenter);
        ListView1->setItem(row, c, cell);
    }
    showingRows_ = blocked;
    ShowRow(row);
}

void TForm1::ShowRow(int row) {
    if (row < 0 || row >= fileList_.Count() || row >= ListView1->rowCount()) return;
    const TFileListRow& data = fileList_.Row(row);
    const bool blocked = showingRows_;
    showingRows_ = true;
    const std::string texts[kColumnCount] = {data.FileName, data.VideoSize, data.FrameRate,
                                             data.Duration, data.Output,    data.Progress,
                                             data.Frames};
    QTableWidgetItem* first = ListView1->item(row, 0);
    if (!IsFailureText(data.Progress)) first->setData(kReasonRole, QVariant());
    const QString reason = first->data(kReasonRole).toString();
    const QString tip = reason.isEmpty() ? Q(data.FileName) : reason;
    for (int c = 0; c < kColumnCount; ++c) {
        QTableWidgetItem* cell = ListView1->item(row, c);
        cell->setText(Q(texts[c]));
        cell->setToolTip(tip);
    }
    first->setCheckState(data.Checked ? Qt::Checked : Qt::Unchecked);
    showingRows_ = blocked;
}

void TForm1::ShowAllRows() {
    for (int row = 0; row < fileList_.Count(); ++row) ShowRow(row);
}

void TForm1::SetRowReason(int row, const QString& reason) {
    if (row < 0 || row >= ListView1->rowCount()) return;
    ListView1->item(row, 0)->setData(kReasonRole, reason);
    ShowRow(row);
}

QList<int> TForm1::SelectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : ListView1->selectionModel()->selectedRows()) {
        rows.append(index.row());
    }
    return rows;
}

void TForm1::ListView1ItemChanged(int row, int column) {
    if (showingRows_ || column != 0 || row >= fileList_.Count()) return;
    fileList_.Row(row).Checked = ListView1->item(row, 0)->checkState() == Qt::Checked;
}

void TForm1::ListView1ContextMenu(const QPoint& at) {
    if (!popupAllowed_) return;
    PopupListView1->popup(ListView1->viewport()->mapToGlobal(at));
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListView1 && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        DeleteSelectedItem1Click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::ButtonAddFileClick() {
    AddFilesFrom(nullptr);
}

void TForm1::AddFiles(const QStringList& paths) {
    AddFilesFrom(&paths);
}

void TForm1::AddFilesFrom(const QStringList* paths) {
    // Rows keep their indices while the queue runs: the queue addresses them by index.
    if (!queue_.AllowsRowChanges() || addingFiles_) return;
    ClearTasks();
    fileList_.ClearProgress();
    ShowAllRows();
    addingFiles_ = true;
    try {
        // The previous run did its work in its start event; its thread only has to end.
        BMDThread1.WaitFor();
        BMDThread1.Start(const_cast<QStringList*>(paths));
    } catch (...) {
        // Whatever went wrong ended the adding; the rows added so far stay.
    }
    addingFiles_ = false;
}

void TForm1::BMDThread1Start(void*& data) {
    const QStringList files = data ? *static_cast<const QStringList*>(data) : ChooseFilesToAdd();
    AddFileRows(files);
}

QStringList TForm1::ChooseFilesToAdd() {
    QStringList filters;
    for (const std::string& entry : OpenDialogFilterEntries()) filters.append(Q(entry));
    QFileDialog dialog(this, "Open", lastAddFolder_);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters(filters);
    // The filters' names already say their patterns.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (dialog.exec() != QDialog::Accepted) return {};
    lastAddFolder_ = dialog.directory().absolutePath();
    return dialog.selectedFiles();
}

void TForm1::AddFileRows(const QStringList& paths) {
    const QString separator = QLocale().decimalPoint();
    const char decimal = separator.size() == 1 && separator[0].unicode() < 0x80
                             ? static_cast<char>(separator[0].unicode())
                             : '.';
    for (const QString& path : paths) {
        const std::string file = path.toStdString();
        QString reason;
        try {
            if (probe_.LoadFile(file)) {
                const TProbeFacts facts = ReadProbeFacts(probe_);
                probe_.CloseFile();
                fileList_.AddProbedFile(file, facts, selection_.FormatKey());
                fileList_.Row(fileList_.Count() - 1).FrameRate =
                    FrameRateText(facts.HasVideo, facts.FrameRateNum, facts.FrameRateDen, decimal);
            } else {
                fileList_.AddFailedFile(file);
                reason = Q(probe_.LastErrorText());
            }
        } catch (const std::exception& error) {
            qWarning("Adding %s: %s", file.c_str(), error.what());
            break;
        }
        AppendRowView();
        if (!reason.isEmpty()) SetRowReason(fileList_.Count() - 1, reason);
        ListView1->scrollToBottom();
        QCoreApplication::processEvents();
    }
}

void TForm1::DeleteSelectedItem1Click() {
    if (addingFiles_ || !queue_.AllowsRowChanges()) return;
    QList<int> rows = SelectedRows();
    std::sort(rows.begin(), rows.end(), std::greater<>());
    fileList_.RemoveRows(std::vector<int>(rows.begin(), rows.end()));
    for (int row : rows) ListView1->removeRow(row);
}

void TForm1::ClearAllItems1Click() {
    if (addingFiles_ || !queue_.AllowsRowChanges()) return;
    ClearTasks();
    fileList_.Clear();
    ListView1->setRowCount(0);
}

void TForm1::CheckAllItems1Click() {
    fileList_.SetAllChecked(true);
    ShowAllRows();
}

void TForm1::UncheckAllItems1Click() {
    fileList_.SetAllChecked(false);
    ShowAllRows();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    const bool local =
        std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
    if (local && queue_.AllowsRowChanges() && !addingFiles_) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
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

void TForm1::ButtonBrowseForFolderClick() {
    if (queue_.IsRunning()) return;
    const QString folder = QFileDialog::getExistingDirectory(
        this, "Choose the required output folder below :", OutputFolder().trimmed(),
        QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty()) SetOutputFolder(folder);
}

void TForm1::ComboOutputFormatChange() {
    const TOutputProfile* profile = selection_.Choose(ComboOutputFormat->currentIndex());
    if (!profile) {
        const QSignalBlocker blocker(ComboOutputFormat);
        ComboOutputFormat->setCurrentIndex(selection_.SelectedLine());
        return;
    }
    params_.ApplyProfile(*profile);
    ShowParameterLists();
    fileList_.SetFormatKey(profile->FormatKey);
    ShowAllRows();
    ApplyDropDownItems();
}

void TForm1::ComboOutputFormatDropDown() {
    ApplyDropDownItems();
}

void TForm1::ShowParameterLists() {
    const std::pair<QComboBox*, const TChoiceList*> lists[] = {
        {ComboVideoCodec, &params_.VideoCodec},     {ComboVideoSize, &params_.VideoSize},
        {ComboVideoBitrate, &params_.VideoBitrate}, {ComboVideoFramerate, &params_.VideoFramerate},
        {ComboAudioCodec, &params_.AudioCodec},     {ComboAudioBitrate, &params_.AudioBitrate},
        {ComboSamplingRate, &params_.SamplingRate}, {ComboAudioChannels, &params_.AudioChannels},
        {ComboAspectRatio, &params_.AspectRatio},   {ComboQuality, &params_.Quality},
    };
    for (const auto& [combo, list] : lists) {
        const QSignalBlocker blocker(combo);
        combo->clear();
        for (const std::string& entry : list->Items) combo->addItem(Q(entry));
        combo->setCurrentIndex(list->Selected);
    }
}

void TForm1::TrackBar1Change() {
    LabelVolume->setText(Q(VolumeLabel(TrackBar1->value())));
    volume_ = VolumeForPosition(TrackBar1->value());
}

// --- The conversion queue ---

void TForm1::ButtonConvertClick() {
    if (addingFiles_ || !queue_.AllowsRowChanges()) return;
    fileList_.ClearProgressAndFrames();
    ShowAllRows();
    const std::string folder = OutputFolder().toStdString();
    const TConvertCheck check = CheckCanConvert(fileList_, folder);
    if (check != TConvertCheck::ccReady) {
        ShowInformation(this, DisplayText(ConvertCheckMessage(check, folder)));
        if (check != TConvertCheck::ccNoFiles) ButtonBrowseForFolderClick();
        return;
    }
    if (!backend_) {
        ShowInformation(this, kMsgConversionUnavailable);
        return;
    }
    queue_.Start();
    TimerConvertAgain->start();
    EnableControls(false);
    RunJobBuilder();
}

void TForm1::RunJobBuilder() {
    ProgressBar1->setValue(0);
    taskError_.clear();
    // The builder clears the tasks too; cleared here, the new task's events belong to a new run.
    ClearTasks();
    TBuildResult result = BuildNextTask(fileList_, queue_, JobSettings(), *backend_);
    for (const std::string& line : result.LogLines) qInfo("%s", line.c_str());
    ShowRow(result.Row);
    switch (result.Outcome) {
        case TBuildOutcome::boStarted:
        case TBuildOutcome::boNoRowLeft:
            break;
        case TBuildOutcome::boRowFailed:
            if (!result.LogLines.empty()) SetRowReason(result.Row, Q(result.LogLines.back()));
            break;
        case TBuildOutcome::boStartFailed:
            if (!result.LogLines.empty()) SetRowReason(result.Row, Q(result.LogLines.back()));
            TimerConvertAgain->stop();
            EnableControls(true);
            break;
    }
    if (!result.Message.empty()) ShowQueueMessage(Q(result.Message));
}

void TForm1::ShowQueueMessage(const QString& text) {
    // The queue waits while the message is read.
    const bool active = TimerConvertAgain->isActive();
    TimerConvertAgain->stop();
    ShowInformation(this, text);
    if (active && queue_.IsActive()) TimerConvertAgain->start();
}

void TForm1::TimerConvertAgainTimer() {
    switch (queue_.Tick()) {
        case TTimerAction::taNone:
            return;
        case TTimerAction::taBuildNext:
            RunJobBuilder();
            return;
        case TTimerAction::taReportCompletion:
            TimerConvertAgain->stop();
            ClearTasks();
            ShowInformation(this, kMsgAllConversionsCompleted);
            ProgressBar1->setValue(0);
            EnableControls(true);
            return;
    }
}

void TForm1::ButtonStopConvertClick() {
    bool byUser = false;
    if (queue_.IsRunning()) {
        const bool active = TimerConvertAgain->isActive();
        TimerConvertAgain->stop();
        if (backend_) backend_->PauseTasks();
        if (!AskConfirmation(this, kMsgStopAllConversions)) {
            if (backend_) backend_->ResumeTasks();
            if (active && queue_.IsActive()) TimerConvertAgain->start();
            return;
        }
        byUser = true;
    }
    queue_.Stop(byUser);
    TimerConvertAgain->stop();
    if (backend_) backend_->StopTasks();
    ProgressBar1->setValue(0);
    EnableControls(true);
}

void TForm1::EnableControls(bool enabled) {
    for (QWidget* control : std::initializer_list<QWidget*>{
             ButtonAddFile, ButtonClear, ButtonRemove, ButtonConvert, ComboOutputFormat,
             ComboVideoSize, ComboVideoBitrate, ComboVideoFramerate, ComboAudioBitrate,
             ComboAudioChannels, ComboVideoCodec, ComboSamplingRate, ComboAudioCodec, TrackBar1,
             ComboAspectRatio, ComboLetterBox, ComboQuality, CheckReencode}) {
        control->setEnabled(enabled);
    }
    popupAllowed_ = enabled;
    for (QMenu* menu : {MenuFile, MenuOptions, MenuHelp}) menu->menuAction()->setEnabled(enabled);
}

void TForm1::DEVUZProgress(const TTaskProgressEvent& event) {
    // Reports that were on their way when the user stopped the queue would show progress again.
    if (closing_ || !queue_.IsRunning()) return;
    const int row = queue_.CurrentRow();
    if (row >= 0 && row < fileList_.Count()) {
        ListView1->scrollToItem(ListView1->item(row, 0));
        TFileListRow& data = fileList_.Row(row);
        data.Progress = ProgressText(event.CurrentDuration, event.TotalOutputDuration);
        data.Frames = FramesText(event.FrameNumber);
        ShowRow(row);
    }
    StatusPanels[1]->setText(Q(FileSizeText(event.CurrentSize)));
    // The bar shows at most 100 %; a position outside its range would be ignored.
    ProgressBar1->setValue(
        std::clamp(ProgressPosition(event.CurrentDuration, event.TotalOutputDuration), 0, 100));
}

void TForm1::DEVUZLog(const TTaskLogEvent& event) {
    if (event.Index >= 0 && event.Level <= 0) taskError_ = event.Message;
}

void TForm1::DEVUZTerminate(const TTaskTerminateEvent& event) {
    if (closing_) return;
    if (event.Index >= 0) {
        const int row = queue_.CurrentRow();
        queue_.MarkResult(fileList_, event.Exception);
        if (event.Exception) {
            SetRowReason(row, Q(event.Message.empty() ? taskError_ : event.Message));
        } else {
            ShowRow(row);
        }
    } else if (queue_.IsFinished()) {
        // The whole run has ended. The running state is left to the task's own end: a late
        // run-end must not release the queue while the next task is being prepared.
        ClearTasks();
        ProgressBar1->setValue(0);
    }
}

void TForm1::ClearTasks() {
    if (backend_) backend_->ClearTasks();
    // No event of the cleared tasks runs any more: those still on their way are stale.
    ++taskRun_;
}

// --- Menus ---

void TForm1::SetGeneralOptions1Click() {
    if (!options_) return;
    options_->show();
    options_->raise();
    options_->activateWindow();
}

void TForm1::OpenHelpFile1Click() {
    if (!QFileInfo::exists(helpFile_)) {
        ShowInformation(this, "The help file \"" + helpFile_ + "\" cannot be found.");
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(helpFile_));
}

void TForm1::VisitOurWebsite1Click() {
    QDesktopServices::openUrl(QUrl(kVavurorWebsite));
}

void TForm1::About1Click() {
    if (about_) about_->exec();
}

void TForm1::Exit1Click() {
    close();
}
