// The queue and the builder together, driven as the window drives them: Convert, the task's
// end, the timer's ticks. The converter component stands behind TTaskRunner; here a recording
// runner takes its place and can be told to refuse a step.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/core/ConversionQueue.h"
#include "app/core/FileListTexts.h"
#include "app/core/JobBuilder.h"
#include "app/core/ProfileCatalogue.h"
#include "binding/FFmpegLibs.h"
#include "support/TempDir.h"

namespace {

class TRecordingRunner : public TTaskRunner {
  public:
    std::vector<TJobDescription> Appended;
    std::vector<int> Deleted;
    int Started = 0;
    int Stopped = 0;
    int Tasks = 0;
    std::string FailAppendOf;  // input file whose AppendTask fails
    std::string FailOutputOf;  // input file whose SetTaskOutput fails
    bool ThrowOnStart = false;

    void ClearTasks() override { Tasks = 0; }
    int AppendTask(const TJobDescription& job) override {
        if (job.InputFile == FailAppendOf) return -1;
        Appended.push_back(job);
        return Tasks++;
    }
    bool SetTaskOutput(int index, const TJobDescription& job) override {
        EXPECT_EQ(index, Tasks - 1);
        return job.InputFile != FailOutputOf;
    }
    void DeleteTask(int index) override {
        Deleted.push_back(index);
        --Tasks;
    }
    void StartTasks(int parallelCount) override {
        EXPECT_EQ(parallelCount, 1);
        EXPECT_EQ(Tasks, 1);
        if (ThrowOnStart) throw std::runtime_error("no thread");
        ++Started;
    }
    void StopTasks() override { ++Stopped; }
    std::string LastErrorText() const override { return "could not open"; }
};

class ConversionQueueTest : public ::testing::Test {
  protected:
    TTempDir dir_;
    TFileList list_;
    TConversionQueue queue_;
    TRecordingRunner runner_;
    TJobSettings settings_;

    void SetUp() override {
        TParameterLists lists;
        const TOutputProfile* profile = FindProfile("MP4 - MPEG4 Video (*.mp4)");
        lists.ApplyProfile(*profile);
        settings_.OutputFolder = dir_.Path().string();
        settings_.FormatKey = profile->FormatKey;
        settings_.Reader = profile->Reader;
        settings_.Parameters = ChoiceOf(lists);
    }

    void AddRows(std::initializer_list<bool> checked) {
        for (bool isChecked : checked) {
            const std::string name = "/media/clip" + std::to_string(list_.Count()) + ".avi";
            list_.AddProbedFile(name, {true, 640, 480, 25, 1, 10000000}, "MP4");
            list_.Row(list_.Count() - 1).Checked = isChecked;
        }
    }

    std::string Input(int row) const { return list_.Row(row).FileName; }

    // Convert pressed.
    TBuildResult Convert() {
        EXPECT_EQ(CheckCanConvert(list_, settings_.OutputFolder), TConvertCheck::ccReady);
        list_.ClearProgressAndFrames();
        queue_.Start();
        return BuildNextTask(list_, queue_, settings_, runner_);
    }

    // Timer ticks until the queue asks for something; the builder runs when it is asked to.
    TTimerAction TickUntilAction(TBuildResult* built = nullptr) {
        for (int tick = 0; tick < 10; ++tick) {
            const TTimerAction action = queue_.Tick();
            if (action == TTimerAction::taBuildNext) {
                EXPECT_EQ(tick, 1) << "the next row starts on the second tick";
                TBuildResult result = BuildNextTask(list_, queue_, settings_, runner_);
                if (built) *built = result;
                return action;
            }
            if (action != TTimerAction::taNone) return action;
            if (queue_.IsRunning()) return action;
        }
        return TTimerAction::taNone;
    }

    std::vector<std::string> Progress() const {
        std::vector<std::string> texts;
        for (int i = 0; i < list_.Count(); ++i)
            texts.push_back(ProgressCellText(list_.Row(i).State, list_.Row(i).Percent));
        return texts;
    }
};

using TTexts = std::vector<std::string>;

TEST_F(ConversionQueueTest, ConvertsCheckedRowsInOrderAndSkipsUncheckedOnes) {
    AddRows({true, false, true, false});

    TBuildResult built = Convert();
    EXPECT_EQ(built.Outcome, TBuildOutcome::boStarted);
    EXPECT_EQ(built.Row, 0);
    EXPECT_TRUE(queue_.IsRunning());
    EXPECT_FALSE(queue_.AllowsRowChanges());
    EXPECT_FALSE(queue_.IsFinished());
    EXPECT_EQ(queue_.Tick(), TTimerAction::taNone);  // nothing while the task runs

    queue_.MarkResult(list_, false);  // the task ended well
    EXPECT_FALSE(queue_.IsRunning());
    EXPECT_EQ(Progress(), (TTexts{"Done", "", "", ""}));

    ASSERT_EQ(TickUntilAction(&built), TTimerAction::taBuildNext);
    EXPECT_EQ(built.Outcome, TBuildOutcome::boStarted);
    EXPECT_EQ(built.Row, 2);
    EXPECT_FALSE(queue_.LastRowReached());
    queue_.MarkResult(list_, false, "the input is damaged after 00:01; 1.0 of 2.0 s converted");
    EXPECT_EQ(Progress(), (TTexts{"Done", "", "Done with errors", ""}));

    // The scan runs into the unchecked last row: nothing is left.
    ASSERT_EQ(TickUntilAction(&built), TTimerAction::taBuildNext);
    EXPECT_EQ(built.Outcome, TBuildOutcome::boNoRowLeft);
    EXPECT_TRUE(queue_.IsFinished());
    EXPECT_FALSE(queue_.IsRunning());

    EXPECT_EQ(queue_.Tick(), TTimerAction::taReportCompletion);
    EXPECT_FALSE(queue_.IsActive());
    EXPECT_TRUE(queue_.AllowsRowChanges());
    EXPECT_EQ(queue_.Tick(), TTimerAction::taNone);
    EXPECT_EQ(runner_.Started, 2);
    ASSERT_EQ(runner_.Appended.size(), 2u);
    EXPECT_EQ(runner_.Appended[0].InputFile, Input(0));
    EXPECT_EQ(runner_.Appended[1].InputFile, Input(2));
    EXPECT_EQ(Progress(), (TTexts{"Done", "", "Done with errors", ""}));
}

TEST_F(ConversionQueueTest, EndOfATaskRunMovesOnWithoutWaitingForTheTimer) {
    AddRows({true, true});
    EXPECT_EQ(Convert().Row, 0);
    EXPECT_EQ(queue_.TaskRunEnded(), TTimerAction::taNone);  // the task still runs
    queue_.MarkResult(list_, false);
    ASSERT_EQ(queue_.TaskRunEnded(), TTimerAction::taBuildNext);
    EXPECT_EQ(queue_.TaskRunEnded(), TTimerAction::taNone);  // the next one is being prepared
    const TBuildResult built = BuildNextTask(list_, queue_, settings_, runner_);
    EXPECT_EQ(built.Row, 1);
    queue_.MarkResult(list_, false);
    EXPECT_EQ(queue_.TaskRunEnded(), TTimerAction::taReportCompletion);
    EXPECT_EQ(Progress(), (TTexts{"Done", "Done"}));

    // A stopped queue does not move on when its stopped task's run ends.
    EXPECT_EQ(Convert().Row, 0);
    queue_.Stop(true);
    queue_.MarkResult(list_, false);
    EXPECT_EQ(queue_.TaskRunEnded(), TTimerAction::taNone);
    EXPECT_EQ(runner_.Started, 3);
}

TEST_F(ConversionQueueTest, CheckedLastRowFinishesTheQueueWhenItsTaskEnds) {
    AddRows({false, true});
    EXPECT_EQ(Convert().Row, 1);
    EXPECT_TRUE(queue_.LastRowReached());
    EXPECT_TRUE(queue_.IsFinished());
    EXPECT_EQ(queue_.Tick(), TTimerAction::taNone);  // still running
    queue_.MarkResult(list_, true);                  // the task failed
    EXPECT_EQ(queue_.Tick(), TTimerAction::taReportCompletion);
    EXPECT_EQ(Progress(), (TTexts{"", "Fail"}));
    EXPECT_EQ(runner_.Started, 1);
}

TEST_F(ConversionQueueTest, AllUncheckedConvertsNothingAndReportsCompletion) {
    AddRows({false, false, false});
    const TBuildResult built = Convert();
    EXPECT_EQ(built.Outcome, TBuildOutcome::boNoRowLeft);
    EXPECT_EQ(built.Row, -1);
    EXPECT_TRUE(queue_.IsFinished());
    EXPECT_FALSE(queue_.IsRunning());
    EXPECT_EQ(queue_.Tick(), TTimerAction::taReportCompletion);
    EXPECT_TRUE(runner_.Appended.empty());
    EXPECT_EQ(runner_.Started, 0);
}

TEST_F(ConversionQueueTest, FailedAddMarksFailAndMovesOn) {
    AddRows({true, true, true});
    runner_.FailAppendOf = Input(1);

    EXPECT_EQ(Convert().Row, 0);
    queue_.MarkResult(list_, false);

    TBuildResult built;
    ASSERT_EQ(TickUntilAction(&built), TTimerAction::taBuildNext);
    EXPECT_EQ(built.Outcome, TBuildOutcome::boRowFailed);
    EXPECT_EQ(built.Row, 1);
    EXPECT_EQ(built.Message, "");
    ASSERT_EQ(built.LogLines.size(), 1u);
    EXPECT_EQ(built.LogLines[0], Input(1) + ": could not open");
    EXPECT_FALSE(queue_.IsRunning());
    EXPECT_EQ(queue_.TickCount(), 0);
    EXPECT_EQ(Progress(), (TTexts{"Done", "Fail", ""}));

    ASSERT_EQ(TickUntilAction(&built), TTimerAction::taBuildNext);
    EXPECT_EQ(built.Outcome, TBuildOutcome::boStarted);
    EXPECT_EQ(built.Row, 2);
    queue_.MarkResult(list_, false);
    EXPECT_EQ(TickUntilAction(), TTimerAction::taReportCompletion);
    EXPECT_EQ(Progress(), (TTexts{"Done", "Fail", "Done"}));
    EXPECT_EQ(runner_.Started, 2);
}

TEST_F(ConversionQueueTest, FailedSetUpOnTheLastRowDeletesTheTaskAndCompletes) {
    AddRows({true, true});
    runner_.FailOutputOf = Input(1);
    Convert();
    queue_.MarkResult(list_, false);

    TBuildResult built;
    ASSERT_EQ(TickUntilAction(&built), TTimerAction::taBuildNext);
    EXPECT_EQ(built.Outcome, TBuildOutcome::boRowFailed);
    EXPECT_EQ(runner_.Deleted, (std::vector<int>{0}));
    EXPECT_EQ(runner_.Tasks, 0);
    EXPECT_TRUE(queue_.IsFinished());
    EXPECT_EQ(queue_.Tick(), TTimerAction::taReportCompletion);
    EXPECT_EQ(Progress(), (TTexts{"Done", "Fail"}));
    EXPECT_EQ(runner_.Started, 1);
}

TEST_F(ConversionQueueTest, FailedAddOnTheLastRowCompletes) {
    AddRows({true});
    runner_.FailAppendOf = Input(0);
    EXPECT_EQ(Convert().Outcome, TBuildOutcome::boRowFailed);
    EXPECT_TRUE(queue_.IsFinished());
    EXPECT_EQ(queue_.Tick(), TTimerAction::taReportCompletion);
    EXPECT_EQ(Progress(), (TTexts{"Fail"}));
}

TEST_F(ConversionQueueTest, ListsThatGiveNoNumberFailTheRowWithoutATask) {
    AddRows({true, true});
    settings_.Parameters.AudioBitrate = "";
    const TBuildResult built = Convert();
    EXPECT_EQ(built.Outcome, TBuildOutcome::boRowFailed);
    EXPECT_EQ(built.Message, "Fail to add file to list!");
    EXPECT_TRUE(runner_.Appended.empty());
    EXPECT_EQ(runner_.Started, 0);
    EXPECT_FALSE(queue_.IsRunning());
    EXPECT_FALSE(queue_.IsFinished());
    EXPECT_EQ(Progress(), (TTexts{"Fail", ""}));
}

TEST_F(ConversionQueueTest, StartThatFailsStopsTheQueue) {
    AddRows({true, true});
    runner_.ThrowOnStart = true;
    const TBuildResult built = Convert();
    EXPECT_EQ(built.Outcome, TBuildOutcome::boStartFailed);
    EXPECT_EQ(runner_.Stopped, 1);
    EXPECT_FALSE(queue_.IsRunning());
    EXPECT_FALSE(queue_.IsActive());
    EXPECT_TRUE(queue_.IsFinished());
    EXPECT_EQ(queue_.Tick(), TTimerAction::taNone);
    EXPECT_EQ(Progress(), (TTexts{"Fail", ""}));
}

TEST_F(ConversionQueueTest, StopByUserMarksAbortAndReportsNothing) {
    AddRows({true, true});
    Convert();
    queue_.Stop(true);
    EXPECT_TRUE(queue_.IsFinished());
    EXPECT_FALSE(queue_.IsActive());
    queue_.MarkResult(list_, false);  // the stopped task ends
    EXPECT_EQ(Progress(), (TTexts{"Abort", ""}));
    EXPECT_EQ(queue_.Tick(), TTimerAction::taNone);

    // A new Convert starts afresh.
    runner_ = TRecordingRunner();
    EXPECT_EQ(Convert().Row, 0);
    EXPECT_FALSE(queue_.StoppedByUser());
    queue_.MarkResult(list_, false);
    EXPECT_EQ(Progress(), (TTexts{"Done", ""}));
}

TEST_F(ConversionQueueTest, RowsShrinkingWhileWaitingStillFinishTheQueue) {
    AddRows({true, true, true});
    Convert();
    queue_.MarkResult(list_, false);
    list_.RemoveRows({1, 2});
    TBuildResult built;
    ASSERT_EQ(TickUntilAction(&built), TTimerAction::taBuildNext);
    EXPECT_EQ(built.Outcome, TBuildOutcome::boNoRowLeft);
    EXPECT_EQ(queue_.Tick(), TTimerAction::taReportCompletion);
}

TEST_F(ConversionQueueTest, ConvertChecks) {
    EXPECT_EQ(CheckCanConvert(list_, settings_.OutputFolder), TConvertCheck::ccNoFiles);
    EXPECT_EQ(ConvertCheckMessage(TConvertCheck::ccNoFiles, ""), "Please Add Files To Convert!");
    AddRows({true});
    EXPECT_EQ(CheckCanConvert(list_, ""), TConvertCheck::ccNoFolder);
    EXPECT_EQ(ConvertCheckMessage(TConvertCheck::ccNoFolder, ""),
              "Please select an output folder!");
    EXPECT_EQ(CheckCanConvert(list_, " " + settings_.OutputFolder + " "), TConvertCheck::ccReady);
    const std::string gone = dir_.File("gone");
    EXPECT_EQ(CheckCanConvert(list_, gone), TConvertCheck::ccFolderMissing);
    EXPECT_EQ(ConvertCheckMessage(TConvertCheck::ccFolderMissing, gone),
              "The output folder \"" + gone +
                  "\"\n\rdoes not exist or has been deleted!\n\rPlease choose a new output "
                  "folder.");
}

// ---- What the builder hands over ----

TEST_F(ConversionQueueTest, JobCarriesTheChosenValues) {
    list_.AddProbedFile("  /media/trip.avi ", {true, 1280, 720, 25, 1, 10000000}, "MP4");
    settings_.Parameters.VideoCodec = "H264";
    settings_.Parameters.VideoSize = "640 x 480";
    settings_.Parameters.VideoFramerate = "29.97 fps";
    settings_.Volume = VolumeForPosition(10);
    Convert();
    ASSERT_EQ(runner_.Appended.size(), 1u);
    const TJobDescription& job = runner_.Appended[0];
    EXPECT_EQ(job.InputFile, "/media/trip.avi");
    EXPECT_EQ(job.StartTime, 0);
    EXPECT_EQ(job.OutputFile, dir_.File("trip.mp4"));
    EXPECT_EQ(job.FormatKey, "MP4");
    EXPECT_EQ(job.VideoCodec, "libx264");
    // "mpeg4aac" of the MP4 profile; the libraries' own AAC encoder stands in once they are
    // loaded (an earlier test of the program may have loaded them).
    EXPECT_EQ(job.AudioCodec, AVCodecLoaded() ? "aac" : "libfaac");
    EXPECT_EQ(job.FrameSize, "640x480");
    EXPECT_EQ(job.FrameRateText(), "30000/1001");
    EXPECT_EQ(job.FrameAspect, "1.7778");
    EXPECT_EQ(job.VideoBitrate, 1200000);
    EXPECT_EQ(job.AudioBitrate, 128000);
    EXPECT_EQ(job.AudioSampleRate, 44100);
    EXPECT_EQ(job.AudioChannels, 2);
    EXPECT_EQ(job.AudioVolume, 600);
    EXPECT_FALSE(job.DisableVideo);
    EXPECT_EQ(job.PadTop, -1);
    EXPECT_EQ(job.PadLeft, -1);
    EXPECT_TRUE(job.OptionLines.empty());
}

TEST_F(ConversionQueueTest, LetterBoxPadsTheChosenFrameAndKeepsItsShape) {
    list_.AddProbedFile("/media/wide.avi", {true, 1280, 720, 25, 1, 10000000}, "MP4");
    settings_.Parameters.VideoSize = "640 x 480";
    settings_.LetterBoxIndex = 1;
    Convert();
    ASSERT_EQ(runner_.Appended.size(), 1u);
    const TJobDescription& job = runner_.Appended[0];
    EXPECT_EQ(job.FrameSize, "640x360");
    EXPECT_EQ(job.PadTop, 60);
    EXPECT_EQ(job.PadBottom, 60);
    EXPECT_EQ(job.PadLeft, 0);
    EXPECT_EQ(job.PadRight, 0);
    EXPECT_EQ(job.PadColor, 0u);
    EXPECT_EQ(job.FrameAspect, "1.3333");  // the whole frame's shape

    // A chosen aspect stays the user's.
    TJobSettings wide = settings_;
    wide.AspectIndex = 2;
    std::vector<std::string> log;
    EXPECT_EQ(DescribeJob(list_.Row(0), wide, log).FrameAspect, "16:9");
    // Same shape, or no size chosen: no bands.
    wide.Parameters.VideoSize = "640 x 360";
    EXPECT_EQ(DescribeJob(list_.Row(0), wide, log).PadTop, -1);
    wide.Parameters.VideoSize = "Original Video Size";
    EXPECT_EQ(DescribeJob(list_.Row(0), wide, log).PadTop, -1);
}

// The catalogue's HD sizes never enlarge: a picture inside "1920 x 1072" or "1280 x 720" keeps
// its size, a larger one (either side) takes the profile's; smaller sizes stay the user's.
TEST_F(ConversionQueueTest, HdSizesOfTheCatalogueMakeNoPictureLarger) {
    const struct {
        const char* Input;
        const char* Entry;
        const char* FrameSize;
    } kCases[] = {
        {"1280x720", "1920 x 1072", ""},
        {"640x480", "1920 x 1072", ""},
        {"1920x1080", "1920 x 1072", "1920x1072"},
        {"1080x1920", "1920 x 1072", "1920x1072"},
        {"640x480", "1280 x 720", ""},
        {"1280x720", "1280 x 720", ""},
        {"1920x1080", "1280 x 720", "1280x720"},
        {"320x240", "640 x 480", "640x480"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.Input) + " " + c.Entry);
        TFileListRow row;
        row.FileName = "/media/clip.mp4";
        row.VideoSize = c.Input;
        TJobSettings settings = settings_;
        settings.Parameters.VideoSize = c.Entry;
        std::vector<std::string> log;
        const TJobDescription job = DescribeJob(row, settings, log);
        EXPECT_EQ(job.FrameSize, c.FrameSize);
        const bool kept = std::string(c.FrameSize).empty();
        EXPECT_EQ(std::count_if(log.begin(), log.end(),
                                [](const std::string& line) {
                                    return line.find("keeps its size") != std::string::npos;
                                }),
                  kept ? 1 : 0);
    }
}

TEST_F(ConversionQueueTest, OverwriteOfTheInputItselfIsLoggedAndAvoided) {
    const std::string input = dir_.File("song.mp4");
    std::FILE* file = std::fopen(input.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    list_.AddProbedFile(input, {true, 320, 240, 25, 1, 1000000}, "MP4");
    settings_.Overwrite = true;
    const TBuildResult built = Convert();
    ASSERT_EQ(runner_.Appended.size(), 1u);
    EXPECT_EQ(runner_.Appended[0].OutputFile, dir_.File("song-1.mp4"));
    ASSERT_EQ(built.LogLines.size(), 1u);
    EXPECT_NE(built.LogLines[0].find("song-1.mp4"), std::string::npos);
}

TEST(VolumeTest, SliderPositions) {
    const int values[] = {1, 50, 100, 150, 200, 255, 300, 350, 400, 450, 600};
    for (int position = 0; position <= 10; ++position) {
        EXPECT_EQ(VolumeForPosition(position), values[position]);
        EXPECT_EQ(VolumeLabel(position), std::to_string(position * 20) + "%");
    }
    EXPECT_EQ(VolumeForPosition(kDefaultVolumePosition), 255);
}

}  // namespace

namespace {

TEST_F(ConversionQueueTest, UnreadableRowsAreSkippedEvenWhenChecked) {
    AddRows({true});
    list_.AddFailedFile("/media/broken.avi", "Invalid data");
    list_.Row(1).Checked = true;
    AddRows({true});
    EXPECT_EQ(Convert().Row, 0);
    queue_.MarkResult(list_, false);
    TBuildResult built;
    ASSERT_EQ(TickUntilAction(&built), TTimerAction::taBuildNext);
    EXPECT_EQ(built.Row, 2);
    EXPECT_EQ(list_.Row(1).State, TRowState::Unreadable);
    EXPECT_EQ(list_.Row(2).OutputFile, (dir_.Path() / "clip2.mp4").string());
}

TEST_F(ConversionQueueTest, StopAfterThisFileEndsTheRunWhenTheRowEnds) {
    AddRows({true, true, true});
    EXPECT_EQ(Convert().Row, 0);
    queue_.StopAfterCurrentRow();
    EXPECT_EQ(queue_.Tick(), TTimerAction::taNone);  // the running row goes on
    queue_.MarkResult(list_, false);
    TBuildResult built;
    ASSERT_EQ(TickUntilAction(&built), TTimerAction::taBuildNext);
    EXPECT_EQ(built.Outcome, TBuildOutcome::boNoRowLeft);
    EXPECT_EQ(queue_.Tick(), TTimerAction::taReportCompletion);
    EXPECT_EQ(Progress(), (TTexts{"Done", "", ""}));
    EXPECT_EQ(runner_.Started, 1);
    // The next Convert runs every row again.
    EXPECT_EQ(Convert().Row, 0);
    EXPECT_FALSE(queue_.StopsAfterCurrentRow());
}

TEST_F(ConversionQueueTest, BatchGivesEveryRunnableRowATaskWithNamesOfItsOwn) {
    // Two inputs of the same name in different folders, one unchecked, one unreadable, one whose
    // task cannot be added.
    list_.AddProbedFile("/a/clip.avi", {true, 640, 480, 25, 1, 1000000}, "MP4");
    list_.AddProbedFile("/b/clip.avi", {true, 640, 480, 25, 1, 1000000}, "MP4");
    AddRows({false});
    list_.AddFailedFile("/media/broken.avi", "Invalid data");
    list_.AddProbedFile("/c/refused.avi", {true, 640, 480, 25, 1, 1000000}, "MP4");
    AddRows({true});
    runner_.FailAppendOf = "/c/refused.avi";
    const TBatchResult batch = BuildAllTasks(list_, settings_, runner_);
    EXPECT_EQ(batch.TaskRows, (std::vector<int>{0, 1, 5}));
    EXPECT_EQ(batch.FailedRows, (std::vector<int>{4}));
    ASSERT_EQ(runner_.Appended.size(), 3u);
    EXPECT_EQ(list_.Row(0).OutputFile, (dir_.Path() / "clip.mp4").string());
    EXPECT_EQ(list_.Row(1).OutputFile, (dir_.Path() / "clip-1.mp4").string());
    EXPECT_EQ(list_.Row(4).State, TRowState::Failed);
    EXPECT_EQ(list_.Row(4).Status, "could not open");
    EXPECT_EQ(list_.Row(3).State, TRowState::Unreadable);
}

TEST_F(ConversionQueueTest, BatchNeverTakesADanglingLinkForAFreeName) {
    // The second clip.avi's output would be clip-1.mp4, a link to nowhere.
    list_.AddProbedFile("/a/clip.avi", {true, 640, 480, 25, 1, 1000000}, "MP4");
    list_.AddProbedFile("/b/clip.avi", {true, 640, 480, 25, 1, 1000000}, "MP4");
    std::filesystem::create_symlink(dir_.File("nowhere"), dir_.File("clip-1.mp4"));
    const TBatchResult batch = BuildAllTasks(list_, settings_, runner_);
    EXPECT_EQ(batch.TaskRows, (std::vector<int>{0, 1}));
    EXPECT_EQ(list_.Row(0).OutputFile, dir_.File("clip.mp4"));
    EXPECT_EQ(list_.Row(1).OutputFile, dir_.File("clip-2.mp4"));
}

TEST_F(ConversionQueueTest, BatchRowWhoseOutputIsRefusedLeavesNoTaskAndNoClaimedName) {
    list_.AddProbedFile("/a/clip.avi", {true, 640, 480, 25, 1, 1000000}, "MP4");
    list_.AddProbedFile("/b/clip.avi", {true, 640, 480, 25, 1, 1000000}, "MP4");
    runner_.FailOutputOf = "/a/clip.avi";
    const TBatchResult batch = BuildAllTasks(list_, settings_, runner_);
    EXPECT_EQ(batch.FailedRows, (std::vector<int>{0}));
    EXPECT_EQ(runner_.Deleted, (std::vector<int>{0}));
    EXPECT_EQ(batch.TaskRows, (std::vector<int>{1}));
    // The refused task writes nothing, so its name is free for the next.
    EXPECT_EQ(list_.Row(1).OutputFile, dir_.File("clip.mp4"));
}

TEST_F(ConversionQueueTest, SameFolderAsInputNeedsNoOutputFolder) {
    AddRows({true});
    settings_.OutputFolder.clear();
    settings_.SameFolderAsInput = true;
    EXPECT_EQ(CheckCanConvert(list_, "", true), TConvertCheck::ccReady);
    EXPECT_EQ(CheckCanConvert(list_, ""), TConvertCheck::ccNoFolder);
    std::vector<std::string> log;
    EXPECT_EQ(DescribeJob(list_.Row(0), settings_, log).OutputFile, "/media/clip0.mp4");
}

}  // namespace
