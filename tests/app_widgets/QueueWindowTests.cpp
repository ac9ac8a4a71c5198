// The conversion queue as the window runs it with the converter component: real conversions of
// generated clips, and what the user sees of them — rows, status bar, controls, messages —
// through a whole run, a stop, a restart right after a stop, closing, and failures.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTableView>
#include <QThread>
#include <filesystem>
#include <map>

#include "WidgetTestSupport.h"
#include "app/core/ConversionQueue.h"
#include "app/core/FileListTexts.h"
#include "app/core/ProfileCatalogue.h"
#include "app/core/QueueProgress.h"
#include "app/core/UserData.h"
#include "app/widgets/ApplicationForms.h"
#include "app/widgets/ComponentBackend.h"
#include "support/Ffprobe.h"
#include "support/TestMedia.h"

namespace {

namespace fs = std::filesystem;

constexpr int kClipFrames = 25;  // one second at 25 frames per second
constexpr const char* kProfile = "AVI - Audio Video Interleave (*.avi)";

class QueueWindowTest : public TWidgetTest {
  protected:
    void SetUp() override {
        TWidgetTest::SetUp();
        TClipSpec clipSpec;
        clipSpec.durationSeconds = 1;
        WriteClip(media_.File("one.mp4"), clipSpec);
        WriteClip(media_.File("two.mp4"), clipSpec);
        converter_ = std::make_unique<TComponentBackend>();
        forms_ = std::make_unique<TApplicationForms>(converter_.get());
        ASSERT_TRUE(forms_->MainWindow->LibrariesLoaded());
        form_ = forms_->MainWindow.get();
        form_->show();
        list_ = Child<QTableView>(form_, "fileTable");
        form_->SetOutputFolder(QString::fromStdString(output_.Path().string()));
        // Into that folder: a first start would write beside the input.
        form_->SetSameFolderAsInput(false);
        auto* format = Child<QComboBox>(form_, "ComboOutputFormat");
        format->setCurrentIndex(format->findText(kProfile));
        ASSERT_EQ(form_->FormatKey(), "AVI");
        // Every text the "Progress" column shows, row by row.
        QObject::connect(form_, &QWidget::windowTitleChanged, [this](const QString& title) {
            if (titles_.isEmpty() || titles_.back() != title) titles_.append(title);
            const QString status = Child<QLabel>(form_, "statusText")->text();
            const QString state = status.section(" - ", 0, 0);
            if (statusTexts_.isEmpty() || statusTexts_.back() != state) statusTexts_.append(state);
        });
        OnCellChanged(list_, [this](int row, int column) {
            const QString text = CellText(list_, row, column);
            if (column == 5 && (shown_[row].isEmpty() || shown_[row].back() != text)) {
                shown_[row].append(text);
            }
        });
    }
    void TearDown() override {
        forms_.reset();
        converter_.reset();
        TWidgetTest::TearDown();
    }

    QString Media(const char* name) const { return QString::fromStdString(media_.File(name)); }
    std::string Output(const char* name) const { return (output_.Path() / name).string(); }
    QString Cell(int row, int column) const { return CellText(list_, row, column); }
    void Click(const char* button) { Child<QPushButton>(form_, button)->click(); }
    int CountMessages(const QString& text) const {
        return static_cast<int>(std::count_if(messages_.begin(), messages_.end(),
                                              [&](const auto& m) { return m.second == text; }));
    }
    int Completions() const { return CountMessages("All Conversions Completed"); }
    // Several ticks of the queue's timer, so that a second report on a later tick is seen.
    void Settle() { ProcessEventsFor(std::chrono::milliseconds(3 * kQueueTimerMs)); }
    void ExpectControlsEnabled(bool enabled) {
        for (const char* name : {"ButtonAddFile", "ButtonClear", "ButtonRemove", "ButtonConvert",
                                 "ComboOutputFormat", "ComboVideoSize", "ComboAudioCodec",
                                 "ComboLetterBox", "ComboAspectRatio", "volumeSlider"}) {
            EXPECT_EQ(Child<QWidget>(form_, name)->isEnabled(), enabled) << name;
        }
        for (const QAction* menu : form_->menuBar()->actions()) {
            EXPECT_EQ(menu->isEnabled(), enabled) << menu->text().toStdString();
        }
        EXPECT_TRUE(Child<QWidget>(form_, "ButtonStopConvert")->isEnabled());
        EXPECT_TRUE(Child<QWidget>(form_, "ButtonStopSmall")->isEnabled());
    }
    // The output holds the whole clip.
    void ExpectWholeClip(const std::string& path) {
        const TProbedFile probed = RunFfprobe(path, false, true);
        ASSERT_TRUE(probed.ok) << path << ": " << probed.error;
        ASSERT_NE(probed.First("video"), nullptr) << path;
        EXPECT_EQ(probed.First("video")->frames, kClipFrames) << path;
        EXPECT_NE(probed.First("audio"), nullptr) << path;
    }

    // The converter outlives the window, which detaches from it.
    std::unique_ptr<TComponentBackend> converter_;
    TTempDir media_;
    TTempDir output_;
    std::unique_ptr<TApplicationForms> forms_;
    TMainWindow* form_ = nullptr;
    QTableView* list_ = nullptr;
    std::map<int, QStringList> shown_;
    QStringList titles_;       // every window title of the run
    QStringList statusTexts_;  // the queue's state as the status bar said it, without time left
};

TEST_F(QueueWindowTest, ConvertsEachFileAndReportsCompletionOnce) {
    AddFilesAndWait(*form_, {Media("one.mp4"), Media("two.mp4")});
    ASSERT_EQ(RowCount(list_), 2);

    Click("ButtonConvert");
    ExpectControlsEnabled(false);
    EXPECT_FALSE(form_->close()) << "closing is refused while the queue runs";
    ProcessEventsUntil([&] { return Completions() > 0; });
    Settle();
    EXPECT_EQ(Completions(), 1);

    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(Cell(row, 5), "Done");
        // The row's last progress before its end is the whole file.
        ASSERT_GE(shown_[row].size(), 2) << "row " << row;
        EXPECT_EQ(shown_[row][shown_[row].size() - 2], "100%")
            << shown_[row].join(' ').toStdString();
        EXPECT_EQ(Cell(row, 6), QString::number(kClipFrames));
    }
    ExpectWholeClip(Output("one.avi"));
    ExpectWholeClip(Output("two.avi"));
    EXPECT_EQ(Child<QLabel>(form_, "fileSizeText")->text(),
              QString("File Size : %1")
                  .arg(QString::fromStdString(ByteSizeText(fs::file_size(Output("two.avi"))))));
    EXPECT_EQ(Child<QProgressBar>(form_, "fileProgressBar")->value(), 0);
    EXPECT_EQ(Child<QProgressBar>(form_, "queueProgressBar")->value(), 100);
    // While it ran, the status bar said which file of how many, and the title the percentage.
    EXPECT_TRUE(statusTexts_.contains("Converting 1 of 2")) << statusTexts_.join('|').toStdString();
    EXPECT_TRUE(statusTexts_.contains("Converting 2 of 2")) << statusTexts_.join('|').toStdString();
    EXPECT_TRUE(titles_.contains("100% - Daziziz Izaza Zivudadov"))
        << titles_.join('|').toStdString();
    EXPECT_EQ(form_->windowTitle(), "Daziziz Izaza Zivudadov");
    EXPECT_EQ(Child<QLabel>(form_, "statusText")->text(), "All Conversions Completed");
    EXPECT_EQ(form_->FileList().Row(1).OutputFile, Output("two.avi"));
    EXPECT_FALSE(form_->RowLog(0).isEmpty()) << "each row keeps its conversion's log";
    ExpectControlsEnabled(true);
    EXPECT_TRUE(form_->close()) << "closing is allowed once the queue is done";
}

TEST_F(QueueWindowTest, StopAnsweredNoGoesOnYesAbortsAndAConvertRightAfterStartsAfresh) {
    AddFilesAndWait(*form_, {Media("one.mp4"), Media("two.mp4")});
    Child<QCheckBox>(forms_->OptionsDialog.get(), "CheckBoxOverWrite")->setChecked(true);

    // No: the paused conversion goes on to the end, and so does the queue.
    confirmationAnswer_ = false;
    Click("ButtonConvert");
    Click("ButtonStopConvert");
    ASSERT_EQ(CountMessages("Stop all conversions?"), 1);
    EXPECT_TRUE(form_->Queue().IsActive());
    ExpectControlsEnabled(false);
    ProcessEventsUntil([&] { return Completions() == 1; });
    EXPECT_EQ(Cell(0, 5), "Done");
    EXPECT_EQ(Cell(1, 5), "Done");
    ExpectWholeClip(Output("one.avi"));

    // Yes: the running file shows "Abort", the next is not converted, nothing is completed.
    confirmationAnswer_ = true;
    Click("ButtonConvert");
    Click("ButtonStopConvert");
    ProcessEventsUntil([&] { return Cell(0, 5) == "Abort"; });
    Settle();
    EXPECT_EQ(Cell(1, 5), "");
    EXPECT_FALSE(form_->Queue().IsActive());
    ExpectControlsEnabled(true);
    EXPECT_EQ(Child<QProgressBar>(form_, "fileProgressBar")->value(), 0);
    EXPECT_EQ(Completions(), 1) << "a stop shows no completion message";

    // Convert pressed again before the stopped file has reported its end: that late end belongs
    // to the run before and marks no row of the new one.
    Click("ButtonConvert");
    Click("ButtonStopConvert");
    Click("ButtonConvert");
    ProcessEventsUntil([&] { return Completions() == 2; });
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(Cell(row, 5), "Done");
        EXPECT_EQ(Cell(row, 6), QString::number(kClipFrames)) << "row " << row << " was followed";
    }
    ExpectWholeClip(Output("one.avi"));
    ExpectWholeClip(Output("two.avi"));
}

TEST_F(QueueWindowTest, FilesThatFailShowFailWithTheReasonAndTheQueueGoesOn) {
    // A file that is gone by the time it is converted, and an output on a full disk (where the
    // system has the device that stands for one).
    const bool fullDisk = fs::exists("/dev/full");
    const QString gone = QString::fromStdString(media_.File("gone.mp4"));
    fs::copy_file(media_.File("one.mp4"), gone.toStdString());
    AddFilesAndWait(*form_, {Media("one.mp4"), gone, Media("two.mp4")});
    fs::remove(gone.toStdString());
    Child<QCheckBox>(forms_->OptionsDialog.get(), "CheckBoxOverWrite")->setChecked(true);
    if (fullDisk) fs::create_symlink("/dev/full", Output("one.avi"));

    Click("ButtonConvert");
    const QString summary = fullDisk ? "1 converted, 2 failed" : "2 converted, 1 failed";
    ProcessEventsUntil([&] { return CountMessages(summary) > 0; });
    Settle();
    EXPECT_EQ(Completions(), 0) << "a failed row: the run is not called complete";
    EXPECT_EQ(CountMessages(summary), 1);
    EXPECT_EQ(Child<QLabel>(form_, "statusText")->text(), summary);
    EXPECT_EQ(Cell(0, 5), fullDisk ? "Fail" : "Done");
    EXPECT_EQ(Cell(1, 5), "Fail");
    EXPECT_EQ(Cell(2, 5), "Done");
    for (int row = fullDisk ? 0 : 1; row < 2; ++row) {
        // The reason shows once in the row's status, without the input's path.
        const QString reason = Cell(row, 7);
        EXPECT_FALSE(reason.isEmpty()) << "row " << row;
        EXPECT_FALSE(reason.contains(QString::fromStdString(form_->FileList().Row(row).FileName)))
            << reason.toStdString();
        EXPECT_EQ(CellTip(list_, row, 5), CellTip(list_, row, 7));
    }
    EXPECT_EQ(Cell(1, 7), "no such file or directory");
    EXPECT_EQ(Cell(2, 7), "");
    EXPECT_EQ(CellTip(list_, 2, 5), "two.mp4");
    ExpectWholeClip(Output("two.avi"));
    if (fullDisk) {
        EXPECT_TRUE(fs::is_character_file("/dev/full"));
    }
}

// A damaged input converts as far as it goes: its row says so in its own state and in words, and
// the run's summary does not count it as converted.
TEST_F(QueueWindowTest, ADamagedFileIsDoneWithErrorsAndNotCountedAsConverted) {
    TClipSpec phone;
    phone.durationSeconds = 20;
    phone.width = 160;
    phone.height = 120;
    phone.fastStart = true;
    WriteClip(media_.File("damaged.mp4"), phone);
    DamageFile(media_.File("damaged.mp4"), TDamage::Truncated, 0.5);
    AddFilesAndWait(*form_, {Media("damaged.mp4"), Media("one.mp4")});

    Click("ButtonConvert");
    const QString summary = "1 converted, 1 done with errors";
    ProcessEventsUntil([&] { return CountMessages(summary) > 0; });
    Settle();
    EXPECT_EQ(Completions(), 0);
    EXPECT_EQ(Child<QLabel>(form_, "statusText")->text(), summary);
    EXPECT_EQ(form_->FileList().Row(0).State, TRowState::DoneWithErrors);
    EXPECT_EQ(Cell(0, 5), "Done with errors");
    EXPECT_TRUE(Cell(0, 7).startsWith("the input is damaged after 00:"))
        << Cell(0, 7).toStdString();
    EXPECT_TRUE(Cell(0, 7).endsWith(" of 20.0 s converted")) << Cell(0, 7).toStdString();
    EXPECT_EQ(Cell(1, 5), "Done");
    EXPECT_TRUE(RunFfprobe(Output("damaged.avi")).ok) << "what was converted plays";
}

}  // namespace

namespace {

// Two files at once: both rows end as they do one after the other, in list order, with the same
// outputs; the whole-queue bar reaches its end.
TEST_F(QueueWindowTest, SeveralFilesAtOnceEndAsOneAtATimeDoes) {
    fs::copy_file(media_.File("one.mp4"), media_.File("three.mp4"));
    AddFilesAndWait(*form_, {Media("one.mp4"), Media("two.mp4"), Media("three.mp4")});
    SetCellCheck(list_, 1, Qt::Unchecked);
    form_->SetParallelFiles(2);
    ASSERT_EQ(form_->ParallelFiles(), std::min(2, std::max(1, QThread::idealThreadCount())));

    Click("ButtonConvert");
    ExpectControlsEnabled(false);
    ProcessEventsUntil([&] { return Completions() > 0; });
    Settle();
    EXPECT_EQ(Completions(), 1);
    EXPECT_EQ(Cell(0, 5), "Done");
    EXPECT_EQ(Cell(1, 5), "") << "an unchecked row stays out of the run";
    EXPECT_EQ(Cell(2, 5), "Done");
    for (int row : {0, 2}) EXPECT_EQ(Cell(row, 6), QString::number(kClipFrames)) << row;
    ExpectWholeClip(Output("one.avi"));
    ExpectWholeClip(Output("three.avi"));
    EXPECT_FALSE(fs::exists(Output("two.avi")));
    EXPECT_EQ(Child<QProgressBar>(form_, "queueProgressBar")->value(), 100);
    ExpectControlsEnabled(true);
}

// Two inputs of one name at once: the second's numbered name is not a dangling link, which
// writing through would create a file somewhere else.
TEST_F(QueueWindowTest, SeveralFilesAtOnceNeverTakeADanglingLinkForAFreeName) {
    fs::create_directory(media_.Path() / "sub");
    fs::copy_file(media_.File("one.mp4"), media_.File("sub/one.mp4"));
    const std::string nowhere = media_.File("nowhere.avi");
    fs::create_symlink(nowhere, Output("one-1.avi"));
    AddFilesAndWait(*form_, {Media("one.mp4"), Media("sub/one.mp4")});
    form_->SetParallelFiles(2);
    Click("ButtonConvert");
    ProcessEventsUntil([&] { return Completions() > 0; });
    EXPECT_EQ(Cell(0, 5), "Done");
    EXPECT_EQ(Cell(1, 5), "Done");
    EXPECT_EQ(form_->FileList().Row(1).OutputFile, Output("one-2.avi"));
    ExpectWholeClip(Output("one-2.avi"));
    EXPECT_FALSE(fs::exists(nowhere));
    EXPECT_TRUE(fs::is_symlink(Output("one-1.avi")));
}

// Fit to Size ticked: the run reads the size although Convert has disabled the controls, and
// every output, one at a time or several at once, ends within it (a noisy picture that the
// profile's own rate would make several times larger).
TEST_F(QueueWindowTest, FitToSizeHoldsEachOutputToTheSizeGiven) {
    TClipSpec noisy;
    noisy.durationSeconds = 2;
    noisy.noise = 40;
    WriteClip(media_.File("noisy.avi"), noisy);
    AddFilesAndWait(*form_, {Media("noisy.avi")});
    Child<QCheckBox>(forms_->OptionsDialog.get(), "CheckBoxOverWrite")->setChecked(true);
    auto* format = Child<QComboBox>(form_, "ComboOutputFormat");
    format->setCurrentIndex(format->findText("MP4 - MPEG4 Video (*.mp4)"));
    Child<QCheckBox>(form_, "CheckFitSize")->setChecked(true);
    constexpr double kTargetMB = 0.2;
    Child<QDoubleSpinBox>(form_, "SpinFitSize")->setValue(kTargetMB);
    for (int parallel : {1, 2}) {
        form_->SetParallelFiles(parallel);
        const int done = static_cast<int>(messages_.size());
        Click("ButtonConvert");
        ProcessEventsUntil([&] { return static_cast<int>(messages_.size()) > done; });
        Settle();
        ASSERT_EQ(Cell(0, 5), "Done")
            << "at once: " << parallel << ": " << Cell(0, 7).toStdString();
        const auto bytes = fs::file_size(Output("noisy.mp4"));
        EXPECT_LE(bytes, kTargetMB * 1e6 * 1.05) << "at once: " << parallel;
        EXPECT_GT(bytes, kTargetMB * 1e6 * 0.5) << "the budget is used, not starved";
        if (parallel == 1) {
            EXPECT_FALSE(form_->RowLog(0).filter("Fit to size").isEmpty())
                << form_->RowLog(0).join('\n').toStdString();
        }
    }
}

TEST_F(QueueWindowTest, StopAfterThisFileLeavesTheRestNotDoneAndSaysSo) {
    AddFilesAndWait(*form_, {Media("one.mp4"), Media("two.mp4")});
    Click("ButtonConvert");
    EXPECT_TRUE(Child<QPushButton>(form_, "ButtonStopAfter")->isEnabled());
    Click("ButtonStopAfter");
    ProcessEventsUntil([&] { return CountMessages("1 converted, 1 stopped") > 0; });
    Settle();
    EXPECT_EQ(Cell(0, 5), "Done");
    EXPECT_EQ(Cell(1, 5), "");
    EXPECT_FALSE(fs::exists(Output("two.avi")));
    EXPECT_EQ(Completions(), 0);
    ExpectControlsEnabled(true);
}

// "Stop This File", one at a time and several at once: the file chosen ends as stopped without
// a question, the others are converted, and the run ends with its summary. A finished row goes
// back to waiting once the profile changes.
TEST_F(QueueWindowTest, StopThisFileStopsThatFileAloneAndTheRunGoesOn) {
    // Long and noisy enough that its conversion is still running when it is stopped.
    TClipSpec longer;
    longer.durationSeconds = 60;
    longer.width = 640;
    longer.height = 480;
    longer.noise = 20;
    WriteClip(media_.File("long.mp4"), longer);
    AddFilesAndWait(*form_, {Media("long.mp4"), Media("one.mp4")});
    Child<QCheckBox>(forms_->OptionsDialog.get(), "CheckBoxOverWrite")->setChecked(true);
    auto* menu = Child<QMenu>(form_, "rowMenu");
    QAction* stopThis = menu->findChild<QAction*>("stopThisFileAction");
    ASSERT_NE(stopThis, nullptr);
    EXPECT_FALSE(stopThis->isEnabled()) << "nothing runs yet";
    for (int parallel : {1, 2}) {
        form_->SetParallelFiles(parallel);
        const std::size_t before = messages_.size();
        Click("ButtonConvert");
        ProcessEventsUntil([&] { return Cell(0, 5).endsWith('%'); });
        if (parallel == 1) {
            // A file that waits is not stopped, nor the one running in its place.
            list_->selectRow(1);
            Click("ButtonStopSmall");
            EXPECT_EQ(Child<QStatusBar>(form_, "statusBar")->currentMessage(),
                      "The selected file is not being converted");
            // Nothing selected: the one file being converted.
            list_->clearSelection();
            Click("ButtonStopSmall");
        } else {
            list_->selectRow(0);
            EXPECT_TRUE(stopThis->isEnabled());
            stopThis->trigger();
        }
        ProcessEventsUntil([&] { return messages_.size() > before; });
        Settle();
        EXPECT_EQ(Cell(0, 5), "Abort") << "at once: " << parallel;
        EXPECT_EQ(Cell(1, 5), "Done") << "at once: " << parallel;
        EXPECT_EQ(CountMessages("Stop all conversions?"), 0);
        EXPECT_EQ(messages_.back().second, "1 converted, 1 stopped");
        ExpectWholeClip(Output("one.avi"));
        ExpectControlsEnabled(true);
        EXPECT_EQ(Child<QStatusBar>(form_, "statusBar")->currentMessage(), "")
            << "the stop's word ends with the run; at once: " << parallel;
    }

    // Other choices: what the rows show was made with the old ones.
    auto* format = Child<QComboBox>(form_, "ComboOutputFormat");
    format->setCurrentIndex(format->findText("MP4 - MPEG4 Video (*.mp4)"));
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(Cell(row, 5), "") << row;
        EXPECT_EQ(Cell(row, 4), "MP4") << row;
    }
}

// The program killed in the middle of a run: the saved queue brings the rows back, the running
// one not done and its partial output named; the choices come back with them.
TEST_F(QueueWindowTest, QueueSavedDuringARunComesBackAfterACrash) {
    AddFilesAndWait(*form_, {Media("one.mp4"), Media("two.mp4")});
    SetCellCheck(list_, 1, Qt::Unchecked);
    Child<QComboBox>(form_, "ComboVideoSize")
        ->setCurrentIndex(Child<QComboBox>(form_, "ComboVideoSize")->findText("320 x 240 (VGA)"));
    // The state on disk at the moment of the crash: the first progress the row shows.
    const QString data = form_->DataFolder();
    std::string saved;
    const auto saving = OnCellChanged(list_, [&](int row, int column) {
        if (saved.empty() && row == 0 && column == 5 && Cell(0, 5).endsWith('%')) {
            form_->SaveQueueNow();
            saved = ReadWholeFile(fs::path(data.toStdString()) / kQueueFileName).value_or("");
        }
    });
    Click("ButtonConvert");
    ProcessEventsUntil([&] { return Completions() > 0; });
    Settle();
    QObject::disconnect(saving);
    ASSERT_FALSE(saved.empty());
    // Put the crash's state back, as if the run had never ended.
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(fs::path(data.toStdString()) / kQueueFileName, saved, error));

    TApplicationForms again(converter_.get());
    TMainWindow& restarted = *again.MainWindow;
    restarted.SetDataFolder(data);
    ASSERT_TRUE(restarted.RestoreQueue());
    restarted.show();
    auto* list = Child<QTableView>(&restarted, "fileTable");
    ASSERT_EQ(RowCount(list), 2);
    EXPECT_EQ(restarted.FileList().Row(0).FileName, media_.File("one.mp4"));
    EXPECT_EQ(CellText(list, 0, 5), "") << "the running row comes back not done";
    EXPECT_EQ(CellText(list, 0, 7), QString("Not finished; partial output: one.avi"));
    EXPECT_TRUE(restarted.FileList().Row(0).Checked);
    EXPECT_FALSE(restarted.FileList().Row(1).Checked);
    EXPECT_EQ(restarted.FormatKey(), "AVI");
    EXPECT_EQ(Child<QComboBox>(&restarted, "ComboVideoSize")->currentText(), "320 x 240 (VGA)");
    EXPECT_EQ(restarted.OutputFolder(), QString::fromStdString(output_.Path().string()));
}

TEST_F(QueueWindowTest, PresetsComeBackInTheProfileListAndAfterARestart) {
    auto* format = Child<QComboBox>(form_, "ComboOutputFormat");
    auto* size = Child<QComboBox>(form_, "ComboVideoSize");
    size->setCurrentIndex(size->findText("320 x 240 (VGA)"));
    Child<QSlider>(form_, "volumeSlider")->setValue(7);
    auto* fit = Child<QCheckBox>(form_, "CheckFitSize");
    fit->setChecked(true);
    Child<QDoubleSpinBox>(form_, "SpinFitSize")->setValue(8.0);
    ASSERT_TRUE(form_->SaveCurrentAsPreset("Small AVI"));
    fit->setChecked(false);
    const int catalogue = format->findText("--- My Presets ---");
    ASSERT_GT(catalogue, static_cast<int>(OutputFormatLines().size()) / 2);
    ASSERT_EQ(format->count(), catalogue + 2);
    EXPECT_EQ(format->itemText(catalogue + 1), "Small AVI");

    format->setCurrentIndex(format->findText("MP4 - MPEG4 Video (*.mp4)"));
    ASSERT_EQ(form_->FormatKey(), "MP4");
    format->setCurrentIndex(catalogue + 1);  // the preset, as picked in the list
    EXPECT_EQ(form_->FormatKey(), "AVI");
    EXPECT_EQ(format->currentText().toStdString(), kProfile);
    EXPECT_EQ(size->currentText(), "320 x 240 (VGA)");
    EXPECT_EQ(form_->VolumeValue(), 350);
    EXPECT_TRUE(fit->isChecked());
    EXPECT_EQ(Child<QDoubleSpinBox>(form_, "SpinFitSize")->value(), 8.0);

    // Renamed through the store, the store file follows; another window reads it.
    ASSERT_TRUE(form_->Presets().Rename("Small AVI", "Tiny AVI"));
    ASSERT_TRUE(form_->SaveCurrentAsPreset("Second"));
    TApplicationForms again(converter_.get());
    const auto* names = Child<QComboBox>(again.MainWindow.get(), "ComboOutputFormat");
    ASSERT_EQ(names->count(), catalogue + 3);
    EXPECT_EQ(names->itemText(catalogue + 1), "Tiny AVI");
    EXPECT_EQ(names->itemText(catalogue + 2), "Second");
    EXPECT_TRUE(again.MainWindow->ApplyPreset("Tiny AVI"));
    EXPECT_FALSE(again.MainWindow->ApplyPreset("Nobody"));
}

// A notification service of the test's own on the session bus receives the run's summary.
// Without a session bus (a plain test run) the window sends nothing and nothing fails.
class TNotificationCatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

  public:
    QStringList Summaries;
    QStringList Bodies;

  public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        Summaries.append(summary);
        Bodies.append(body);
        return static_cast<uint>(Summaries.size());
    }
};

TEST_F(QueueWindowTest, TheRunsEndIsAnnouncedOnTheDesktop) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    AddFilesAndWait(*form_, {Media("one.mp4")});
    if (!bus.isConnected() || !bus.registerService("org.freedesktop.Notifications")) {
        // Still converts and reports, silently without a service.
        Click("ButtonConvert");
        ProcessEventsUntil([&] { return Completions() > 0; });
        GTEST_SKIP() << "no session bus to offer a notification service on";
    }
    TNotificationCatcher catcher;
    ASSERT_TRUE(bus.registerObject("/org/freedesktop/Notifications", &catcher,
                                   QDBusConnection::ExportAllSlots));
    Click("ButtonConvert");
    ProcessEventsUntil([&] { return Completions() > 0 && !catcher.Bodies.isEmpty(); });
    EXPECT_EQ(catcher.Summaries, QStringList{"Daziziz Izaza Zivudadov"});
    EXPECT_EQ(catcher.Bodies, QStringList{"All Conversions Completed"});
    bus.unregisterObject("/org/freedesktop/Notifications");
    bus.unregisterService("org.freedesktop.Notifications");
}

}  // namespace

#include "QueueWindowTests.moc"
