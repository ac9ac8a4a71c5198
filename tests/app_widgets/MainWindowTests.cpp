// The main window as a user meets it: its controls and texts, the profile choice refilling the
// parameter lists from the core, files added through the add-files routine with what the probe
// reads, removal, checking, dropping files and folders, and Convert's checks.
#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <QTranslator>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "WidgetTestSupport.h"
#include "app/core/FileListTexts.h"
#include "app/core/ProfileCatalogue.h"
#include "app/widgets/ApplicationForms.h"
#include "support/TestMedia.h"

namespace {

std::vector<std::string> Items(const QComboBox* combo) {
    std::vector<std::string> items;
    for (int i = 0; i < combo->count(); ++i) items.push_back(combo->itemText(i).toStdString());
    return items;
}

std::vector<std::string> ActionTexts(const QMenu* menu) {
    std::vector<std::string> texts;
    for (const QAction* action : menu->actions()) {
        texts.push_back(action->isSeparator() ? "-" : action->text().toStdString());
    }
    return texts;
}

// The texts of one row, column by column.
std::vector<std::string> RowTexts(const QTableView* list, int row) {
    std::vector<std::string> texts;
    for (int c = 0; c < ColumnCount(list); ++c) {
        texts.push_back(CellText(list, row, c).toStdString());
    }
    return texts;
}

class MainWindowTest : public TWidgetTest {
  protected:
    void SetUp() override {
        TWidgetTest::SetUp();
        forms_ = std::make_unique<TApplicationForms>(nullptr);
        ASSERT_TRUE(forms_->MainWindow->LibrariesLoaded());
        form_ = forms_->MainWindow.get();
        // The tests here name their output folder; a first start would write beside the input.
        form_->SetSameFolderAsInput(false);
        form_->show();
        list_ = Child<QTableView>(form_, "fileTable");
        format_ = Child<QComboBox>(form_, "ComboOutputFormat");
    }
    void TearDown() override {
        forms_.reset();
        TWidgetTest::TearDown();
    }

    // Two videos of known size, rate and length, a sound file and a text file.
    void WriteMedia() {
        TClipSpec avi;
        avi.audioCodec = "mp2";
        WriteClip(media_.File("first.avi"), avi);
        TClipSpec mp4;
        mp4.width = 176;
        mp4.height = 144;
        mp4.frameRate = {30000, 1001};
        mp4.durationSeconds = 3.2;
        WriteClip(media_.File("second.mp4"), mp4);
        TClipSpec wav;
        wav.videoCodec = "";
        wav.audioCodec = "pcm_s16le";
        wav.durationSeconds = 1.5;
        WriteClip(media_.File("sound.wav"), wav);
        std::ofstream(media_.File("notes.txt")) << "not a media file\n";
    }
    QString Media(const char* name) const { return QString::fromStdString(media_.File(name)); }

    // The core's rows and the list's rows say the same.
    void ExpectListShowsCore() {
        const TFileList& rows = form_->FileList();
        ASSERT_EQ(RowCount(list_), rows.Count());
        for (int r = 0; r < rows.Count(); ++r) {
            const TFileListRow& row = rows.Row(r);
            // The name column shows the file's name, its folder in the tool tip.
            const std::filesystem::path path(row.FileName);
            EXPECT_EQ(
                RowTexts(list_, r),
                (std::vector<std::string>{
                    path.filename().string(), row.VideoSize, row.FrameRate, row.Duration,
                    row.Output, ProgressCellText(row.State, row.Percent), row.Frames, row.Status}))
                << "row " << r;
            EXPECT_EQ(CellTip(list_, r, 0).toStdString(), path.parent_path().string());
            EXPECT_EQ(CellCheck(list_, r) == Qt::Checked, row.Checked) << "row " << r;
        }
    }

    // Every end state is shown whole in the progress column, in the language of the day.
    void ExpectProgressTextsFit() {
        for (const char* state : {"Done", "Done with errors", "Fail", "Abort", "Error"}) {
            const QString text = QCoreApplication::translate("TMainWindow", state);
            EXPECT_GE(list_->columnWidth(5), list_->fontMetrics().horizontalAdvance(text) + 4)
                << text.toStdString();
        }
    }

    TTempDir media_;
    std::unique_ptr<TApplicationForms> forms_;
    TMainWindow* form_ = nullptr;
    QTableView* list_ = nullptr;
    QComboBox* format_ = nullptr;
};

TEST_F(MainWindowTest, WindowHasItsCaptionAndFitsTheScreen) {
    EXPECT_EQ(form_->windowTitle(), "Daziziz Izaza Zivudadov");
    // Resizable and maximisable, with a minimum the layouts can show without cutting.
    EXPECT_LT(form_->minimumSize().width(), form_->maximumSize().width());
    EXPECT_TRUE(form_->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_GE(form_->minimumWidth(), form_->minimumSizeHint().boundedTo(QSize(720, 480)).width());
    const QRect available = form_->screen()->availableGeometry();
    EXPECT_TRUE(available.contains(form_->frameGeometry()));
    EXPECT_LE((form_->frameGeometry().center() - available.center()).manhattanLength(), 2);
    // Smaller than the smallest size it can show: held at its minimum.
    form_->resize(100, 100);
    EXPECT_EQ(form_->size(), form_->minimumSize());
}

TEST_F(MainWindowTest, ControlsShowTheirTexts) {
    const std::vector<std::pair<const char*, const char*>> buttons = {
        {"ButtonAddFile", "Add File"},    {"ButtonRemove", "Remove File"},
        {"ButtonClear", "Clear All "},    {"ButtonStopConvert", "Stop Convert"},
        {"ButtonConvert", "Go Convert "}, {"ButtonStopSmall", "Stop This File"},
    };
    for (const auto& [name, text] : buttons) {
        EXPECT_EQ(Child<QPushButton>(form_, name)->text(), text);
    }
    std::vector<std::string> labels;
    for (const QLabel* label : form_->findChildren<QLabel*>()) {
        labels.push_back(label->text().toStdString());
    }
    for (const char* text :
         {"Output Folder :", "Set Output Format :", "Audio Codec : ", "Audio Bitrate :",
          "Audio Channels :", "Sampling Rate : ", "Video Codec : ", "Video Size : ",
          "Video Bitrate : ", "Video Framerate : ", "Video Zoom : ", "Aspect Ratio : ",
          "Volume : "}) {
        EXPECT_NE(std::find(labels.begin(), labels.end(), text), labels.end()) << text;
    }
    for (const char* group : {"GroupAudioSettings", "GroupVideoSettings", "GroupGeneralSettings"}) {
        EXPECT_NE(Child<QWidget>(form_, group), nullptr);
    }

    // The folder can be typed, or left to each input's own.
    auto* folder = Child<QLineEdit>(form_, "EditOutputFolder");
    EXPECT_FALSE(folder->isReadOnly());
    EXPECT_TRUE(folder->isEnabled());
    Child<QCheckBox>(form_, "CheckSameFolder")->setChecked(true);
    EXPECT_FALSE(folder->isEnabled());
    EXPECT_TRUE(form_->JobSettings().SameFolderAsInput);
    Child<QCheckBox>(form_, "CheckSameFolder")->setChecked(false);
    EXPECT_NE(Child<QToolButton>(form_, "ButtonBrowseForFolder"), nullptr);

    EXPECT_EQ(Items(Child<QComboBox>(form_, "ComboAudioChannels")),
              (std::vector<std::string>{"Stereo", "Mono"}));
    EXPECT_EQ(Items(Child<QComboBox>(form_, "ComboAspectRatio")),
              (std::vector<std::string>{"Original", "4:3 (Standard", "16:9 (Wide Screen)"}));
    const auto* letterBox = Child<QComboBox>(form_, "ComboLetterBox");
    EXPECT_EQ(Items(letterBox), (std::vector<std::string>{"None", "LetterBox"}));
    EXPECT_EQ(letterBox->currentIndex(), 0);
    EXPECT_EQ(letterBox->toolTip(), "Add a letterbox to keep video aspect ratio");

    const auto* volume = Child<QSlider>(form_, "volumeSlider");
    EXPECT_EQ(volume->minimum(), 0);
    EXPECT_EQ(volume->maximum(), 10);
    EXPECT_EQ(volume->value(), 5);
    EXPECT_EQ(Child<QLabel>(form_, "LabelVolume")->text(), "100%");
    EXPECT_EQ(form_->VolumeValue(), 255);

    const auto* progress = Child<QProgressBar>(form_, "fileProgressBar");
    EXPECT_EQ(progress->minimum(), 0);
    EXPECT_EQ(progress->maximum(), 100);
    // The panels share the status bar's width, the first (the queue's state) the most.
    const int first = Child<QLabel>(form_, "statusText")->width();
    for (const char* other : {"fileSizeText", "percentText"}) {
        EXPECT_LT(Child<QLabel>(form_, other)->width(), first) << other;
    }
    EXPECT_EQ(Child<QLabel>(form_, "statusText")->text(), "Ready");
}

// A 1366x768 screen at the scale and font resolution the test runs with (ctest runs it at 96 dpi
// and again at 150 % with 144 dpi fonts): the smallest window and its title bar fit, and at that
// size the list shows rows and the controls below it are whole.
TEST_F(MainWindowTest, SmallestWindowFitsA1366x768Screen) {
    const qreal ratio = form_->devicePixelRatioF();
    const QSize screen(static_cast<int>(1366 / ratio), static_cast<int>(768 / ratio));
    const int titleBar = 2 * form_->fontMetrics().height();
    const QSize smallest = form_->minimumSize();
    EXPECT_LE(smallest.width(), screen.width()) << "scale " << ratio;
    EXPECT_LE(smallest.height() + titleBar, screen.height()) << "scale " << ratio;
    form_->resize(smallest);
    QCoreApplication::processEvents();
    // For a person to look at: DZ_SCREENSHOT_DIR=folder keeps a picture of the smallest window.
    if (const QString folder = qEnvironmentVariable("DZ_SCREENSHOT_DIR"); !folder.isEmpty()) {
        EXPECT_TRUE(form_->grab().save(
            QString("%1/smallest-window-%2.png").arg(folder).arg(qRound(ratio * 100))));
    }
    EXPECT_GE(list_->viewport()->height(), 3 * list_->verticalHeader()->defaultSectionSize());
    for (const char* name :
         {"ButtonConvert", "ButtonStopConvert", "ComboOutputFormat", "queueProgressBar",
          "ButtonStopSmall", "ButtonStopAfter", "SpinParallel"}) {
        const auto* control = Child<QWidget>(form_, name);
        const QRect shown(control->mapTo(form_, QPoint(0, 0)), control->size());
        EXPECT_TRUE(control->isVisible()) << name;
        EXPECT_TRUE(form_->rect().contains(shown)) << name;
        EXPECT_GE(control->width(), control->minimumSizeHint().width()) << name;
    }
}

TEST_F(MainWindowTest, ListHasItsColumnsAndTheFormatListItsLines) {
    const auto& columns = FileListColumns();
    ASSERT_EQ(ColumnCount(list_), static_cast<int>(columns.size()));
    const QAbstractItemModel* model = list_->model();
    for (int c = 0; c < ColumnCount(list_); ++c) {
        EXPECT_EQ(model->headerData(c, Qt::Horizontal).toString(), columns[c].Caption);
        const auto alignment = model->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole);
        EXPECT_EQ((alignment.value<Qt::Alignment>() & Qt::AlignHCenter) != 0, columns[c].Centred);
        if (c == 0) {
            // The name column gives way so that every column starts in sight.
            EXPECT_LE(list_->columnWidth(c), columns[c].Width);
            EXPECT_GE(list_->columnWidth(c), list_->fontMetrics().averageCharWidth() * 14);
        } else if (c + 1 < ColumnCount(list_)) {
            EXPECT_EQ(list_->columnWidth(c), columns[c].Width) << columns[c].Caption;
        } else {
            EXPECT_GE(list_->columnWidth(c), columns[c].Width) << "the last column fills the rest";
        }
    }
    ExpectProgressTextsFit();
    int total = 0;
    for (int c = 0; c < ColumnCount(list_); ++c) total += list_->columnWidth(c);
    EXPECT_LE(total, list_->viewport()->width()) << "no column starts out of sight";
    EXPECT_TRUE(list_->showGrid());
    EXPECT_EQ(list_->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list_->editTriggers(), QAbstractItemView::NoEditTriggers);

    // Today's profiles first, then the catalogue under headings that cannot be chosen: every
    // profile once under its own name and line, and every name whole when the list is open.
    const auto& lines = OutputFormatLines();
    std::vector<int> shown;
    int widest = 0;
    for (int i = 0; i < format_->count(); ++i) {
        const QVariant line = format_->itemData(i);
        const bool heading = !line.isValid() || line.toInt() < 0;
        EXPECT_EQ(bool(format_->model()->flags(format_->model()->index(i, 0)) & Qt::ItemIsEnabled),
                  !heading)
            << i;
        widest = std::max(widest, format_->fontMetrics().horizontalAdvance(format_->itemText(i)));
        if (heading) continue;
        EXPECT_EQ(format_->itemText(i).toStdString(), lines.at(line.toInt()).Text);
        shown.push_back(line.toInt());
    }
    std::vector<int> profiles;
    for (int line = 0; line < static_cast<int>(lines.size()); ++line) {
        if (lines[line].Profile) profiles.push_back(line);
    }
    std::vector<int> sorted = shown;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, profiles);
    EXPECT_FALSE(format_->itemData(0).toInt() >= 0) << "the list opens with a heading";
    EXPECT_TRUE(IsTodaysLine(format_->itemData(1).toInt())) << "today's profiles come first";
    EXPECT_LT(format_->findText("MP3 (VBR quality)"),
              format_->findText("3GP - Mobile Video Format (*.3gp)"));
    EXPECT_LT(format_->findText("iPod Touch (*.mp4)"), format_->findText("iPhone (*.mp4)"));
    EXPECT_GE(format_->view()->minimumWidth(), widest);
    // A first start chooses today's first profile.
    EXPECT_EQ(format_->currentText(), "MP4 - H.264 + AAC");
    EXPECT_EQ(lines.at(ChosenFormatLine(format_)).Text, "MP4 - H.264 + AAC");
    EXPECT_EQ(form_->FormatKey(), "MP4");
}

TEST_F(MainWindowTest, MenusHoldTheirItems) {
    const QList<QAction*> top = form_->menuBar()->actions();
    ASSERT_EQ(top.size(), 4);
    EXPECT_EQ(top[0]->text().remove('&'), "File");
    EXPECT_EQ(top[1]->text().remove('&'), "Options");
    EXPECT_EQ(top[2]->text().remove('&'), "Presets");
    EXPECT_EQ(top[3]->text().remove('&'), "Help");
    EXPECT_EQ(
        ActionTexts(top[0]->menu()),
        (std::vector<std::string>{"Add Files", "-", "Convert", "Open Output Folder", "-", "Exit"}));
    EXPECT_EQ(ActionTexts(top[1]->menu()), (std::vector<std::string>{"Set Options"}));
    EXPECT_EQ(ActionTexts(top[2]->menu()),
              (std::vector<std::string>{"Save Current Settings as Preset...", "Rename Preset...",
                                        "Delete Preset...", "-", "Export Presets...",
                                        "Import Presets..."}));
    EXPECT_EQ(
        ActionTexts(top[3]->menu()),
        (std::vector<std::string>{"Open Help File", "-", "Visit Vavuror Website", "-", "About"}));
    EXPECT_EQ(ActionTexts(Child<QMenu>(form_, "rowMenu")),
              (std::vector<std::string>{"Show in Folder", "Play", "Show Log", "Stop This File", "-",
                                        "Check All Items", "Uncheck All Items", "-",
                                        "Remove Selected Item", "Clear All Items"}));
}

// Without a web browser (as here) Help opens in a window of the program's own, F1 too, once.
TEST_F(MainWindowTest, HelpOpensInsideWithoutABrowser) {
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_));
    QTest::keyClick(form_, Qt::Key_F1);
    auto* help = Child<QDialog>(form_, "HelpDialog");
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_FALSE(help->isModal()) << "the window stays usable beside it";
    const QString text = Child<QTextBrowser>(help, "HelpText")->toPlainText();
    EXPECT_TRUE(text.contains("Add File")) << text.left(200).toStdString();
    EXPECT_LE(help->width(), form_->screen()->availableGeometry().width());
    help->close();
    Child<QAction>(form_, "helpAction")->trigger();
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(form_->findChildren<QDialog*>("HelpDialog").size(), 1);
}

// A profile chosen after another: the window's nine lists show what the core's lists hold
// after the same two choices, and the job builder gets the format key.
struct TProfileStep {
    int before;
    int after;
};

class ProfileChoiceTest : public MainWindowTest,
                          public ::testing::WithParamInterface<TProfileStep> {};

TEST_P(ProfileChoiceTest, RefillsTheParameterListsFromTheCore) {
    const auto& lines = OutputFormatLines();
    TParameterLists expected;
    expected.ApplyProfile(*lines[kDefaultFormatLine].Profile);
    for (int line : {GetParam().before, GetParam().after}) {
        ChooseFormatLine(format_, line);
        expected.ApplyProfile(*lines[line].Profile);
    }
    const std::pair<const char*, const TChoiceList*> lists[] = {
        {"ComboVideoCodec", &expected.VideoCodec},
        {"ComboVideoSize", &expected.VideoSize},
        {"ComboVideoBitrate", &expected.VideoBitrate},
        {"ComboVideoFramerate", &expected.VideoFramerate},
        {"ComboAudioCodec", &expected.AudioCodec},
        {"ComboAudioBitrate", &expected.AudioBitrate},
        {"ComboSamplingRate", &expected.SamplingRate},
        {"ComboAudioChannels", &expected.AudioChannels},
        {"ComboAspectRatio", &expected.AspectRatio},
        {"ComboQuality", &expected.Quality},
    };
    for (const auto& [name, list] : lists) {
        const auto* combo = Child<QComboBox>(form_, name);
        EXPECT_EQ(Items(combo), list->Items) << name;
        EXPECT_EQ(combo->currentIndex(), list->Selected) << name;
    }
    const TJobSettings settings = form_->JobSettings();
    EXPECT_EQ(settings.FormatKey, lines[GetParam().after].Profile->FormatKey);
    EXPECT_EQ(settings.Reader, lines[GetParam().after].Profile->Reader);
    EXPECT_EQ(settings.Parameters.VideoSize, expected.VideoSize.SelectedText());
    EXPECT_EQ(settings.Parameters.AudioChannels, expected.AudioChannels.SelectedText());
}

INSTANTIATE_TEST_SUITE_P(Profiles, ProfileChoiceTest,
                         ::testing::Values(TProfileStep{3, 23},    // AVI, then MP3: no video
                                           TProfileStep{0, 29},    // 3GP (mono), then iPod
                                           TProfileStep{29, 42},   // iPod Touch Wide resets
                                           TProfileStep{23, 7},    // DVD after audio only
                                           TProfileStep{10, 36},   // Apple TV H264
                                           TProfileStep{68, 73},   // WebM VP9, then FLAC
                                           TProfileStep{23, 66}),  // MP3, then H.265
                         [](const auto& testInfo) {
                             return "Line" + std::to_string(testInfo.param.before) + "ThenLine" +
                                    std::to_string(testInfo.param.after);
                         });

TEST_F(MainWindowTest, SeparatorLineStepsBackAndUserChoicesReachTheJob) {
    ChooseFormatLine(format_, 10);  // MP4
    auto* size = Child<QComboBox>(form_, "ComboVideoSize");
    const QStringList before = [&] {
        QStringList items;
        for (int i = 0; i < size->count(); ++i) items.append(size->itemText(i));
        return items;
    }();
    format_->setCurrentIndex(0);  // a heading
    EXPECT_EQ(ChosenFormatLine(format_), 10);
    EXPECT_EQ(form_->FormatKey(), "MP4");
    EXPECT_EQ(size->count(), before.size());

    size->setCurrentIndex(size->findText("640 x 480"));
    Child<QComboBox>(form_, "ComboAspectRatio")->setCurrentIndex(2);
    Child<QSlider>(form_, "volumeSlider")->setValue(10);
    const TJobSettings settings = form_->JobSettings();
    EXPECT_EQ(settings.Parameters.VideoSize, "640 x 480");
    EXPECT_EQ(settings.AspectIndex, 2);
    EXPECT_EQ(settings.Volume, 600);
    EXPECT_EQ(Child<QLabel>(form_, "LabelVolume")->text(), "200%");
    EXPECT_FALSE(settings.Reencode);

    ChooseFormatLine(format_, 65);  // MP4 - H.264 + AAC
    auto* quality = Child<QComboBox>(form_, "ComboQuality");
    quality->setCurrentIndex(quality->findText("Very high"));
    Child<QCheckBox>(form_, "CheckReencode")->setChecked(true);
    const TJobSettings today = form_->JobSettings();
    EXPECT_EQ(today.Reader, TParameterReader::prToday);
    EXPECT_EQ(today.Parameters.Quality, "Very high");
    EXPECT_TRUE(today.Reencode);
}

TEST_F(MainWindowTest, AddedFilesShowWhatTheProbeReads) {
    WriteMedia();
    ChooseFormatLine(format_, 0);  // 3GP
    AddFilesAndWait(
        *form_, {Media("first.avi"), Media("second.mp4"), Media("notes.txt"), Media("sound.wav")});
    ASSERT_EQ(RowCount(list_), 4);
    EXPECT_EQ(RowTexts(list_, 0), (std::vector<std::string>{"first.avi", "320x240", "25",
                                                            "00:00:02", "3GP", "", "", ""}));
    EXPECT_EQ(RowTexts(list_, 1), (std::vector<std::string>{"second.mp4", "176x144", "29.97",
                                                            "00:00:03", "3GP", "", "", ""}));
    EXPECT_EQ(RowTexts(list_, 2).size(), 8u);
    EXPECT_EQ(RowTexts(list_, 2)[5], "Error");
    EXPECT_EQ(RowTexts(list_, 3),
              (std::vector<std::string>{"sound.wav", " ", " ", "00:00:01", "3GP", "", "", ""}));
    // The unreadable file is unchecked and cannot be checked: it would only fail again.
    for (int r : {0, 1, 3}) EXPECT_EQ(CellCheck(list_, r), Qt::Checked);
    EXPECT_EQ(CellCheck(list_, 2), Qt::Unchecked);
    EXPECT_FALSE(CellFlags(list_, 2, 0) & Qt::ItemIsUserCheckable);
    ExpectListShowsCore();

    // The reason a file could not be read shows once in its status, without its path; the
    // name's tool tip is its folder.
    const QString reason = CellText(list_, 2, 7);
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_FALSE(reason.contains(Media("notes.txt")));
    EXPECT_EQ(CellTip(list_, 2, 7), reason);
    EXPECT_EQ(CellTip(list_, 0, 0).toStdString(), media_.Path().string());
    EXPECT_EQ(CellTip(list_, 0, 3), "first.avi");

    // A new profile's key reaches every row; adding again keeps the rows and their marks, and
    // the unreadable row its "Error". A file already in the list is not added twice.
    ChooseFormatLine(format_, 23);
    EXPECT_EQ(CellText(list_, 0, 4), "MP3");
    SetCellCheck(list_, 1, Qt::Unchecked);
    AddFilesAndWait(*form_, {Media("first.avi")});
    ASSERT_EQ(RowCount(list_), 4);
    EXPECT_TRUE(Child<QStatusBar>(form_, "statusBar")->currentMessage().contains("first.avi"));
    std::filesystem::copy_file(media_.File("first.avi"), media_.File("third.avi"));
    AddFilesAndWait(*form_, {Media("third.avi"), Media("gone.avi")});
    ASSERT_EQ(RowCount(list_), 6);
    EXPECT_EQ(CellText(list_, 4, 4), "MP3");
    EXPECT_FALSE(form_->FileList().Row(1).Checked);
    EXPECT_EQ(CellText(list_, 2, 5), "Error");
    // A missing file named on the command line or dropped gets a row that says so.
    EXPECT_EQ(CellText(list_, 5, 5), "Error");
    EXPECT_EQ(CellText(list_, 5, 7), "The file does not exist");
    ExpectListShowsCore();

    // Named again (on the command line, say): the file is wanted, so it is ticked; the
    // unreadable one cannot be.
    AddFilesAndWait(*form_, {Media("second.mp4"), Media("notes.txt")});
    ASSERT_EQ(RowCount(list_), 6);
    EXPECT_TRUE(form_->FileList().Row(1).Checked);
    EXPECT_FALSE(form_->FileList().Row(2).Checked);
    ExpectListShowsCore();
}

TEST_F(MainWindowTest, DeleteKeyAndCommandsChangeTheRows) {
    WriteMedia();
    AddFilesAndWait(*form_, {Media("first.avi"), Media("second.mp4"), Media("sound.wav")});
    ASSERT_EQ(RowCount(list_), 3);

    list_->clearSelection();
    QTest::keyClick(list_, Qt::Key_Delete);
    EXPECT_EQ(RowCount(list_), 3) << "nothing selected, nothing removed";

    list_->selectionModel()->select(list_->model()->index(0, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list_->selectionModel()->select(list_->model()->index(2, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(list_, Qt::Key_Delete);
    ASSERT_EQ(RowCount(list_), 1);
    EXPECT_EQ(CellText(list_, 0, 0), "second.mp4");
    ExpectListShowsCore();

    auto* popup = Child<QMenu>(form_, "rowMenu");
    const auto trigger = [&](const char* name) { Child<QAction>(popup, name)->trigger(); };
    trigger("uncheckAllAction");
    EXPECT_FALSE(form_->FileList().Row(0).Checked);
    trigger("checkAllAction");
    EXPECT_TRUE(form_->FileList().Row(0).Checked);
    SetCellCheck(list_, 0, Qt::Unchecked);  // as a click on the box does
    EXPECT_FALSE(form_->FileList().Row(0).Checked);
    ExpectListShowsCore();

    trigger("clearAllAction");
    EXPECT_EQ(RowCount(list_), 0);
    EXPECT_TRUE(form_->FileList().Empty());
}

// The files are probed away from the window: AddFiles returns at once, the rows come in one by
// one in the order named (a file named twice once), and nothing that changes rows runs meanwhile.
TEST_F(MainWindowTest, FilesAreProbedAwayFromTheWindowAndComeInInTheOrderNamed) {
    WriteMedia();
    QStringList paths;
    for (int i = 0; i < 30; ++i) {
        const std::string copy = media_.File("copy" + std::to_string(i) + ".avi");
        std::filesystem::copy_file(media_.File(i % 2 ? "first.avi" : "second.mp4"), copy);
        paths.append(QString::fromStdString(copy));
    }
    paths.insert(10, Media("gone.avi"));
    paths.append(paths[3]);
    std::vector<int> counts;  // the row count at each insertion, checked against the order
    QObject::connect(list_->model(), &QAbstractItemModel::rowsInserted, [&] {
        const int count = RowCount(list_);
        counts.push_back(count);
        EXPECT_EQ(form_->FileList().Row(count - 1).FileName, paths[count - 1].toStdString());
    });
    form_->AddFiles(paths);
    EXPECT_TRUE(form_->AddingFiles());
    EXPECT_FALSE(form_->close()) << "closing waits for the files being added";
    form_->AddFiles({Media("sound.wav")});  // refused while adding
    ProcessEventsUntil([&] { return !form_->AddingFiles(); });
    ASSERT_EQ(RowCount(list_), 31);
    EXPECT_EQ(counts.size(), 31u);
    EXPECT_EQ(CellText(list_, 10, 5), "Error");
    EXPECT_EQ(CellText(list_, 3, 1), "320x240");
    ExpectListShowsCore();
}

TEST_F(MainWindowTest, DroppedFilesAndFoldersAreAdded) {
    WriteMedia();
    const std::filesystem::path folder = media_.Path() / "holiday";
    std::filesystem::create_directories(folder / "day two");
    std::filesystem::copy_file(media_.File("second.mp4"), folder / "day two" / "b.MP4");
    std::filesystem::copy_file(media_.File("sound.wav"), folder / "a.wav");
    std::ofstream(folder / "readme.txt") << "not media\n";

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Media("first.avi")),
                  QUrl::fromLocalFile(QString::fromStdString(folder.string()))});
    const QPoint at = list_->mapTo(form_, list_->rect().center());
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form_, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form_, &drop);
    ProcessEventsUntil([&] { return !form_->AddingFiles(); });

    ASSERT_EQ(RowCount(list_), 3);
    EXPECT_EQ(form_->FileList().Row(0).FileName, media_.File("first.avi"));
    EXPECT_EQ(form_->FileList().Row(1).FileName, (folder / "a.wav").string());
    EXPECT_EQ(form_->FileList().Row(2).FileName, (folder / "day two" / "b.MP4").string());
    EXPECT_EQ(CellText(list_, 2, 1), "176x144");
    ExpectListShowsCore();
}

TEST_F(MainWindowTest, ConvertChecksFilesAndFolderAndSaysWhyItCannotConvert) {
    auto* convert = Child<QPushButton>(form_, "ButtonConvert");
    convert->click();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].first, TMessageKind::mkInformation);
    EXPECT_EQ(messages_[0].second, "Please Add Files To Convert!");

    WriteMedia();
    AddFilesAndWait(*form_, {Media("first.avi")});
    const QString missing = QString::fromStdString((media_.Path() / "gone").string());
    form_->SetOutputFolder(missing);
    const auto dialog = CloseNextModalDialog();  // the folder dialog that follows the message
    convert->click();
    EXPECT_TRUE(dialog->opened) << "the folder dialog follows the message";
    EXPECT_EQ(dialog->title, "Choose the required output folder below :");
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[1].second, "The output folder \"" + missing +
                                       "\"\ndoes not exist or has been deleted!\n"
                                       "Please choose a new output folder.");
    EXPECT_EQ(form_->OutputFolder(), missing) << "the cancelled dialog keeps the folder";

    // With a folder and files but no converter, the window says so and changes nothing.
    form_->SetOutputFolder(QString::fromStdString(media_.Path().string()));
    convert->click();
    ASSERT_EQ(messages_.size(), 3u);
    EXPECT_EQ(messages_[2].second.toStdString(), kMsgConversionUnavailable);
    EXPECT_TRUE(convert->isEnabled());
    EXPECT_FALSE(form_->Queue().IsActive());
    EXPECT_EQ(CellText(list_, 0, 5), "");
}

// The window in German, from the translation the build makes: its own texts and those app/core
// keeps in English are translated where they are shown, the catalogue's entries are not, and no
// column's caption is cut by a longer word.
class GermanWindowTest : public MainWindowTest {
  protected:
    void SetUp() override {
        TestApplication();
        ASSERT_TRUE(german_.load(QLocale(QLocale::German), "daziziz", "_", DZ_TEST_TRANSLATIONS));
        QCoreApplication::installTranslator(&german_);
        MainWindowTest::SetUp();
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        QCoreApplication::removeTranslator(&german_);
    }
    QTranslator german_;
};

TEST_F(GermanWindowTest, ShowsItsTextsInGermanAndTheCatalogueAsItIs) {
    EXPECT_EQ(Child<QPushButton>(form_, "ButtonConvert")->text().trimmed(), "Umwandeln");
    EXPECT_EQ(Child<QCheckBox>(form_, "CheckReencode")->text(),
              "Auch kopierbare Datenströme neu kodieren");
    EXPECT_EQ(format_->itemText(0), "Telefon");
    EXPECT_EQ(format_->itemText(format_->findData(0)).toStdString(), OutputFormatLines()[0].Text);

    const QHeaderView* header = list_->horizontalHeader();
    EXPECT_EQ(list_->model()->headerData(5, Qt::Horizontal).toString(), "Fortschritt");
    for (int c = 1; c < ColumnCount(list_); ++c) {
        const QString caption = list_->model()->headerData(c, Qt::Horizontal).toString();
        EXPECT_GT(list_->columnWidth(c), header->fontMetrics().horizontalAdvance(caption))
            << caption.toStdString();
    }

    // An unreadable file: the core keeps "Error", the list shows it in German.
    WriteMedia();
    AddFilesAndWait(*form_, {Media("notes.txt")});
    ASSERT_EQ(RowCount(list_), 1);
    EXPECT_EQ(form_->FileList().Row(0).State, TRowState::Unreadable);
    EXPECT_EQ(CellText(list_, 0, 5), "Unlesbar");
    ExpectProgressTextsFit();
    EXPECT_EQ(Child<QComboBox>(form_, "ComboLetterBox")->itemText(0), "Keine");

    // A message app/core names reaches the user translated.
    form_->SetOutputFolder(QString());
    const auto dialog = CloseNextModalDialog();  // the folder dialog that follows the message
    Child<QPushButton>(form_, "ButtonConvert")->click();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].second, "Bitte wählen Sie einen Ausgabeordner!");
    EXPECT_TRUE(dialog->opened);
}

}  // namespace
