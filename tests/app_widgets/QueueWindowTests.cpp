// The conversion queue as the window runs it, with a converter that plays a script on a thread
// of its own for each started task: progress reports, then the task's end and the run's end,
// raised on that thread as the converter component raises them. What is checked is what the
// window makes of them: rows, progress, controls, messages, stopping and closing.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "WidgetTestSupport.h"
#include "app/widgets/ApplicationForms.h"
#include "app/widgets/ConversionBackend.h"
#include "binding/FFmpegLibs.h"
#include "support/TestMedia.h"

namespace {

constexpr int kFrames = 5;

class TScriptedBackend : public TConversionBackend {
  public:
    ~TScriptedBackend() override { StopTasks(); }

    // The script: a task whose input is FailingInput ends with an error; with HoldAfterFirst
    // each task waits after its first report until Release() or a stop.
    std::string FailingInput;
    bool HoldAfterFirst = false;

    bool LoadLibraries(const std::string& folder, bool useVersionedNames) override {
        return LoadFFmpegLibs(folder, useVersionedNames);
    }
    void ClearTasks() override {
        Join();
        tasks_.clear();
    }
    int AppendTask(const TJobDescription& job) override {
        tasks_.push_back(job);
        Appended.push_back(job);
        return static_cast<int>(tasks_.size()) - 1;
    }
    bool SetTaskOutput(int, const TJobDescription&) override { return true; }
    void DeleteTask(int index) override { tasks_.erase(tasks_.begin() + index); }
    void StartTasks(int) override {
        if (tasks_.empty()) return;
        Join();
        {
            std::lock_guard lock(stateLock_);
            stop_ = false;
            released_ = false;
        }
        worker_ = std::thread([this, job = tasks_.front()] { Play(job); });
    }
    void StopTasks() override {
        {
            std::lock_guard lock(stateLock_);
            stop_ = true;
            paused_ = false;
        }
        stateChanged_.notify_all();
        Join();
    }
    void PauseTasks() override {
        std::lock_guard lock(stateLock_);
        paused_ = true;
        ++Pauses;
    }
    void ResumeTasks() override {
        {
            std::lock_guard lock(stateLock_);
            paused_ = false;
            ++Resumes;
        }
        stateChanged_.notify_all();
    }
    std::string LastErrorText() const override { return {}; }
    void SetEvents(TConversionEvents events) override {
        std::lock_guard lock(eventLock_);
        events_ = std::move(events);
    }

    void Release() {
        {
            std::lock_guard lock(stateLock_);
            released_ = true;
        }
        stateChanged_.notify_all();
    }

    std::vector<TJobDescription> Appended;  // main thread only
    int Pauses = 0;
    int Resumes = 0;

  private:
    void Join() {
        if (worker_.joinable()) worker_.join();
    }

    // Waits while paused; true when the task is to stop.
    bool Stopped() {
        std::unique_lock lock(stateLock_);
        stateChanged_.wait(lock, [this] { return !paused_ || stop_; });
        return stop_;
    }

    void Play(const TJobDescription& job) {
        bool stopped = false;
        for (int frame = 1; frame <= kFrames && !(stopped = Stopped()); ++frame) {
            TProgressEvent progress;
            progress.Index = 0;
            progress.FrameNumber = frame;
            progress.CurrentDuration = frame * 100;
            progress.TotalOutputDuration = kFrames * 100;
            progress.CurrentSize = frame * 1000;
            Raise([&](const TConversionEvents& events) {
                if (events.OnProgress) events.OnProgress(progress);
            });
            if (HoldAfterFirst && frame == 1) {
                std::unique_lock lock(stateLock_);
                stateChanged_.wait(lock, [this] { return released_ || stop_; });
            }
        }
        TTerminateEvent end;
        end.Index = 0;
        end.Exception = !stopped && job.InputFile == FailingInput;
        end.Finished = !stopped && !end.Exception;
        if (end.Exception) end.Message = "Invalid data found when processing input";
        Raise([&](const TConversionEvents& events) {
            if (events.OnTerminate) {
                events.OnTerminate(end);
                events.OnTerminate(TTerminateEvent{-1, true, false, {}});
            }
        });
    }

    template <typename TCall>
    void Raise(TCall call) {
        std::lock_guard lock(eventLock_);
        call(events_);
    }

    std::vector<TJobDescription> tasks_;
    std::thread worker_;
    std::mutex eventLock_;
    TConversionEvents events_;
    std::mutex stateLock_;
    std::condition_variable stateChanged_;
    bool stop_ = false;
    bool paused_ = false;
    bool released_ = false;
};

class QueueWindowTest : public TWidgetTest {
  protected:
    void SetUp() override {
        TWidgetTest::SetUp();
        TClipSpec spec;
        spec.durationSeconds = 1;
        WriteClip(media_.File("clip.mp4"), spec);
        forms_ = std::make_unique<TApplicationForms>(&backend_);
        ASSERT_TRUE(forms_->Form1->LibrariesLoaded());
        form_ = forms_->Form1.get();
        form_->show();
        list_ = Child<QTableWidget>(form_, "ListView1");
        form_->SetOutputFolder(QString::fromStdString(output_.Path().string()));
    }
    void TearDown() override {
        backend_.StopTasks();
        forms_.reset();
        TWidgetTest::TearDown();
    }

    void AddRows(int count) {
        const QString clip = QString::fromStdString(media_.File("clip.mp4"));
        for (int i = 0; i < count; ++i) form_->AddFiles({clip});
        ASSERT_EQ(list_->rowCount(), count);
    }
    QString Cell(int row, int column) const { return list_->item(row, column)->text(); }
    int CountMessages(const QString& text) const {
        return static_cast<int>(std::count_if(messages_.begin(), messages_.end(),
                                              [&](const auto& m) { return m.second == text; }));
    }
    bool Completed() const { return CountMessages("All Conversions Completed") > 0; }
    void ExpectControlsEnabled(bool enabled) {
        for (const char* name : {"ButtonAddFile", "ButtonClear", "ButtonRemove", "ButtonConvert"}) {
            EXPECT_EQ(Child<QWidget>(form_, name)->isEnabled(), enabled) << name;
        }
        for (const char* name : {"ComboOutputFormat", "ComboVideoSize", "ComboAudioCodec",
                                 "ComboLetterBox", "ComboAspectRatio", "TrackBar1"}) {
            EXPECT_EQ(Child<QWidget>(form_, name)->isEnabled(), enabled) << name;
        }
        for (const QAction* menu : form_->menuBar()->actions()) {
            EXPECT_EQ(menu->isEnabled(), enabled) << menu->text().toStdString();
        }
        EXPECT_TRUE(Child<QWidget>(form_, "ButtonStopConvert")->isEnabled());
        EXPECT_TRUE(Child<QWidget>(form_, "ButtonStopSmall")->isEnabled());
    }

    TScriptedBackend backend_;  // outlives the window, which detaches from it
    TTempDir media_;
    TTempDir output_;
    std::unique_ptr<TApplicationForms> forms_;
    TForm1* form_ = nullptr;
    QTableWidget* list_ = nullptr;
};

TEST_F(QueueWindowTest, ConvertsTheCheckedRowsInTurnAndReportsCompletionOnce) {
    AddRows(3);
    list_->item(1, 0)->setCheckState(Qt::Unchecked);
    Child<QPushButton>(form_, "ButtonConvert")->click();
    ExpectControlsEnabled(false);
    EXPECT_FALSE(form_->close()) << "closing is refused while the queue runs";

    ProcessEventsUntil([&] { return Completed(); });
    EXPECT_EQ(CountMessages("All Conversions Completed"), 1);
    EXPECT_EQ(Cell(0, 5), "Done");
    EXPECT_EQ(Cell(1, 5), "") << "an unchecked row is skipped";
    EXPECT_EQ(Cell(2, 5), "Done");
    // The last report of each task is what its row shows: the reports arrived in order.
    EXPECT_EQ(Cell(0, 6), QString::number(kFrames));
    EXPECT_EQ(Cell(2, 6), QString::number(kFrames));
    EXPECT_EQ(Child<QLabel>(form_, "StatusPanel1")->text(), "File Size : 5000");
    EXPECT_EQ(Child<QProgressBar>(form_, "ProgressBar1")->value(), 0);
    ExpectControlsEnabled(true);

    ASSERT_EQ(backend_.Appended.size(), 2u);
    const std::string output = output_.Path().string();
    EXPECT_EQ(backend_.Appended[0].OutputFile, output + "/clip.3gp");
    EXPECT_EQ(backend_.Appended[0].FormatKey, "3GP");
    EXPECT_EQ(backend_.Appended[0].AudioVolume, 255);
    EXPECT_TRUE(form_->close()) << "closing is allowed once the queue is done";
}

TEST_F(QueueWindowTest, FailedTaskShowsFailWithItsReasonAndTheQueueGoesOn) {
    AddRows(2);
    const QString damaged = QString::fromStdString(media_.File("damaged.mp4"));
    std::filesystem::copy_file(media_.File("clip.mp4"), damaged.toStdString());
    form_->AddFiles({damaged});
    backend_.FailingInput = damaged.toStdString();

    Child<QPushButton>(form_, "ButtonConvert")->click();
    ProcessEventsUntil([&] { return Completed(); });
    EXPECT_EQ(Cell(0, 5), "Done");
    EXPECT_EQ(Cell(1, 5), "Done");
    EXPECT_EQ(Cell(2, 5), "Fail");
    EXPECT_EQ(list_->item(2, 5)->toolTip(), "Invalid data found when processing input");
    EXPECT_EQ(list_->item(0, 5)->toolTip(), list_->item(0, 0)->text());
}

TEST_F(QueueWindowTest, StopAnsweredNoGoesOnAndYesAbortsWithoutCompletion) {
    AddRows(2);
    backend_.HoldAfterFirst = true;
    Child<QPushButton>(form_, "ButtonConvert")->click();
    ProcessEventsUntil([&] { return Cell(0, 5) == "20%"; });

    confirmationAnswer_ = false;
    Child<QPushButton>(form_, "ButtonStopSmall")->click();
    ASSERT_EQ(CountMessages("Stop all conversions?"), 1);
    EXPECT_EQ(backend_.Pauses, 1);
    EXPECT_EQ(backend_.Resumes, 1);
    EXPECT_TRUE(form_->Queue().IsActive());
    ExpectControlsEnabled(false);
    backend_.Release();
    ProcessEventsUntil([&] { return Cell(0, 5) == "Done"; });

    ProcessEventsUntil([&] { return Cell(1, 5) == "20%"; });
    confirmationAnswer_ = true;
    Child<QPushButton>(form_, "ButtonStopConvert")->click();
    ProcessEventsUntil([&] { return Cell(1, 5) == "Abort"; });
    EXPECT_FALSE(form_->Queue().IsActive());
    ExpectControlsEnabled(true);
    EXPECT_EQ(Child<QProgressBar>(form_, "ProgressBar1")->value(), 0);
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_FALSE(Completed()) << "a stop shows no completion message";
}

}  // namespace
