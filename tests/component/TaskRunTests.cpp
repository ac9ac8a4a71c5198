// Real conversions through the component: how many tasks run at once, on which threads, the
// terminate events of every way a task ends and of the whole run, stopping, clearing and
// destroying during a run, library log lines of a running task, worker priority; stop and pause
// of a re-encoding in both modes of the engine.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <thread>

#include "ComponentTestSupport.h"
#include "support/EngineModes.h"
#include "support/Ffprobe.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

namespace fs = std::filesystem;

// A gate a hook handler waits at (on the worker) until the test's main thread opens it.
class TGate {
  public:
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void WaitOpen() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(120), [this] { return open_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

// Position of the first event matching `match`, or -1.
template <typename Match>
int FirstWhere(const std::vector<TRecordedEvent>& events, Match match) {
    for (size_t i = 0; i < events.size(); ++i)
        if (match(events[i])) return static_cast<int>(i);
    return -1;
}

int TerminatePosition(const std::vector<TRecordedEvent>& events, int index) {
    return FirstWhere(events,
                      [&](const TRecordedEvent& e) { return e.kind == 'T' && e.index == index; });
}

bool Started(TFFmpeg& task) {
    return task.IsRunning() || task.IsTerminated();
}

class TaskRun : public ::testing::Test {
  protected:
    void SetUp() override {
        LoadThroughComponent(*component);
        component->SetProgressInterval(100);
        TClipSpec clipSpec;
        clipSpec.width = 160;
        clipSpec.height = 120;
        clipSpec.durationSeconds = 1.0;
        WriteClip(input, clipSpec);
        recorder.Attach(*component);
    }

    // Adds `count` tasks copying the clip into MKV files (or re-encoding its video).
    void AddCopyTasks(int count, bool reencodeFirst = false) {
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(component->AppendTask(input), i) << component->LastErrorText();
            TOutputOptions options;
            options.VideoCodec = reencodeFirst && i == 0 ? "mpeg4" : "copy";
            options.AudioCodec = "copy";
            options.CustomHook = reencodeFirst && i == 0;
            ASSERT_TRUE(component->SetTaskOutput(i, Output(i), &options))
                << component->LastErrorText();
        }
    }

    std::string Output(int i) const { return dir.File("out" + std::to_string(i) + ".mkv"); }

    // Every task ended by itself, in order, once; then the run's end, once.
    void ExpectFinishedInOrder(int count) {
        const auto terminates = recorder.Terminates();
        ASSERT_EQ(terminates.size(), static_cast<size_t>(count + 1));
        std::vector<int> order;
        for (int i = 0; i < count; ++i) {
            EXPECT_TRUE(terminates[i].finished) << i;
            EXPECT_FALSE(terminates[i].exception) << terminates[i].text;
            EXPECT_EQ(terminates[i].text, "");
            order.push_back(terminates[i].index);
        }
        std::vector<int> sorted = order;
        std::sort(sorted.begin(), sorted.end());
        for (int i = 0; i < count; ++i) EXPECT_EQ(sorted[i], i);
        ExpectRunEnd(terminates.back());
    }

    static void ExpectRunEnd(const TRecordedEvent& event) {
        EXPECT_EQ(event.index, -1);
        EXPECT_TRUE(event.finished);
        EXPECT_FALSE(event.exception);
        EXPECT_EQ(event.text, "");
    }

    void ExpectOutputsConverted(int count) {
        for (int i = 0; i < count; ++i) {
            const TProbedFile probed = RunFfprobe(Output(i));
            ASSERT_TRUE(probed.ok) << Output(i) << ": " << probed.error;
            EXPECT_NE(probed.First("video"), nullptr);
            EXPECT_NE(probed.First("audio"), nullptr);
            EXPECT_NEAR(probed.duration, 1.0, 0.2);
        }
    }

    // No task's event comes before the end of the task before it.
    void ExpectOneAfterAnother(int count) {
        const auto events = recorder.Events();
        for (int k = 1; k < count; ++k) {
            const int previousEnd = TerminatePosition(events, k - 1);
            const int first =
                FirstWhere(events, [&](const TRecordedEvent& e) { return e.index == k; });
            ASSERT_GE(previousEnd, 0);
            EXPECT_GT(first, previousEnd)
                << "task " << k << " began before task " << k - 1 << " ended";
        }
    }

    TTempDir dir;
    std::string input = dir.File("clip.mp4");
    TEventRecorder recorder;  // outlives the component: its destruction may still raise events
    TTestMainLoop mainLoop;
    std::unique_ptr<TTestComponent> component = std::make_unique<TTestComponent>(&mainLoop);
    const uint32_t mainThread = CurrentThreadId();
};

TEST_F(TaskRun, OneAtATimeOnWorkerThreads) {
    AddCopyTasks(3);
    component->StartTasks(1);
    EXPECT_TRUE(Started(component->Task(0)));
    ASSERT_TRUE(recorder.WaitForRunEnd());

    ExpectFinishedInOrder(3);
    const auto terminates = recorder.Terminates();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(terminates[i].index, i);
    ExpectOneAfterAnother(3);
    for (const auto& event : recorder.Events())
        if (event.index >= 0) {
            EXPECT_NE(event.threadId, mainThread) << event.kind << event.text;
        }
    EXPECT_NE(terminates[0].threadId, terminates[1].threadId);
    ExpectOutputsConverted(3);
}

TEST_F(TaskRun, TwoAtOnceAndTheThirdWhenOneEnds) {
    AddCopyTasks(3);
    component->StartTasks(2);
    EXPECT_TRUE(Started(component->Task(0)));
    EXPECT_TRUE(Started(component->Task(1)));
    ASSERT_TRUE(recorder.WaitForRunEnd());

    ExpectFinishedInOrder(3);
    const auto events = recorder.Events();
    const int firstOfThird =
        FirstWhere(events, [](const TRecordedEvent& e) { return e.index == 2; });
    const int firstEnd = FirstWhere(events, [](const TRecordedEvent& e) {
        return e.kind == 'T' && (e.index == 0 || e.index == 1);
    });
    EXPECT_GT(firstOfThird, firstEnd) << "the third starts only when another has ended";
    ExpectOutputsConverted(3);
}

// Files side by side run in the one loop but for the last ones, which end up alone on the cores.
TEST_F(TaskRun, OnlyTheLastTasksRunPipelinedWhenThePipelineIsLeftToTheEnd) {
    component->SetPipeline(false);
    component->SetPipelineLastTasks(true);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(component->AppendTask(input), i) << component->LastErrorText();
        TOutputOptions options;
        options.VideoCodec = "mpeg4";
        options.AudioCodec = "mp2";
        ASSERT_TRUE(component->SetTaskOutput(i, Output(i), &options)) << component->LastErrorText();
    }
    component->StartTasks(2);
    ASSERT_TRUE(recorder.WaitForRunEnd());
    ExpectFinishedInOrder(3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(component->Task(i).RanPipelined(), i > 0) << i;
}

TEST_F(TaskRun, MoreAtOnceThanThereAreTasks) {
    AddCopyTasks(2);
    component->StartTasks(5);
    EXPECT_TRUE(Started(component->Task(0)));
    EXPECT_TRUE(Started(component->Task(1)));
    ASSERT_TRUE(recorder.WaitForRunEnd());
    ExpectFinishedInOrder(2);
    ExpectOutputsConverted(2);
}

TEST_F(TaskRun, ZeroRunsEachTaskOnTheMainThreadThroughTheTimer) {
    AddCopyTasks(3);
    component->StartTasks(0);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(Started(component->Task(i))) << "not before the tick";
    EXPECT_EQ(mainLoop.Waiting(), 1u);
    ASSERT_TRUE(mainLoop.RunUntil([&] { return recorder.Terminates().size() == 4; }));

    ExpectFinishedInOrder(3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(recorder.Terminates()[i].index, i);
    ExpectOneAfterAnother(3);
    for (const auto& event : recorder.Events())
        if (event.index >= 0 || event.kind == 'T') {
            EXPECT_EQ(event.threadId, mainThread);
        }
    EXPECT_EQ(mainLoop.Delays(), (std::vector<int>{100, 100, 100}));
    ExpectOutputsConverted(3);
}

TEST_F(TaskRun, ZeroWithoutATimerRunsOneAfterAnotherOnWorkers) {
    component = std::make_unique<TTestComponent>();
    recorder.Attach(*component);
    AddCopyTasks(2);
    component->StartTasks(0);
    ASSERT_TRUE(recorder.WaitForRunEnd());
    ExpectFinishedInOrder(2);
    ExpectOneAfterAnother(2);
    for (const auto& event : recorder.Terminates()) EXPECT_NE(event.threadId, mainThread);
}

// A task that fails its start checks ends at once; the run goes on with the next one.
class TaskRunWithAFailedStart : public TaskRun, public ::testing::WithParamInterface<int> {};

TEST_P(TaskRunWithAFailedStart, TheNextTaskStillRuns) {
    for (int i = 0; i < 3; ++i) ASSERT_EQ(component->AppendTask(input), i);
    TOutputOptions options;
    options.VideoCodec = "copy";
    options.AudioCodec = "copy";
    ASSERT_TRUE(component->SetTaskOutput(0, Output(0), &options));
    ASSERT_TRUE(component->SetTaskOutput(2, Output(2), &options));  // task 1 has no output

    component->StartTasks(GetParam());
    ASSERT_TRUE(mainLoop.RunUntil([&] { return recorder.Terminates().size() == 4; }));

    auto terminates = recorder.Terminates();
    ExpectRunEnd(terminates.back());
    terminates.pop_back();
    std::sort(terminates.begin(), terminates.end(),
              [](const auto& a, const auto& b) { return a.index < b.index; });
    ASSERT_EQ(terminates.size(), 3u);
    EXPECT_TRUE(terminates[0].finished);
    EXPECT_FALSE(terminates[1].finished);
    EXPECT_TRUE(terminates[1].exception);
    EXPECT_EQ(terminates[1].text, "Must supply at least one output file");
    EXPECT_TRUE(terminates[2].finished) << "the task after the failed one ran";
    EXPECT_TRUE(RunFfprobe(Output(2)).ok);
}

INSTANTIATE_TEST_SUITE_P(ParallelCounts, TaskRunWithAFailedStart, ::testing::Values(0, 1, 2, 5));

TEST_F(TaskRun, StopDuringARunEndsEveryTaskAndStartsNoMore) {
    AddCopyTasks(3, true);
    TGate stopped;
    std::atomic<bool> hooked{false};
    component->OnCustomHook = [&](int index, THookBitmap&, int frameNumber, int64_t, bool&, bool&) {
        if (index != 0 || frameNumber != 3) return;
        hooked = true;
        stopped.WaitOpen();  // task 0 is certainly running while the main thread stops
    };
    component->StartTasks(1);
    ASSERT_TRUE(WaitUntil([&] { return hooked.load(); }));
    component->StopTasks();
    stopped.Open();
    ASSERT_TRUE(recorder.WaitForRunEnd());

    const auto terminates = recorder.Terminates();
    ASSERT_EQ(terminates.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(terminates[i].index);
        EXPECT_FALSE(terminates[i].finished);
        EXPECT_FALSE(terminates[i].exception);
        EXPECT_EQ(terminates[i].text, "");
    }
    ExpectRunEnd(terminates[3]);
    const auto events = recorder.Events();
    const int workerEnd = TerminatePosition(events, 0);
    ASSERT_GE(workerEnd, 0);
    for (int index : {1, 2}) {
        const int end = TerminatePosition(events, index);
        ASSERT_GE(end, 0);
        EXPECT_NE(events[end].threadId, mainThread) << "ended by a thread of the engine's";
        EXPECT_NE(events[end].threadId, events[workerEnd].threadId);
        EXPECT_EQ(
            FirstWhere(events,
                       [&](const TRecordedEvent& e) { return e.index == index && e.kind != 'T'; }),
            -1)
            << "task " << index << " never started";
        EXPECT_FALSE(component->Task(index).IsRunning());
    }
    // The stopped task's output has content: kept under a name that says it is partial.
    const auto* first = &terminates[0];
    for (const auto& end : terminates)
        if (end.index == 0) first = &end;
    EXPECT_EQ(first->result.OutputFile, dir.File("out0.partial.mkv"));
    EXPECT_TRUE(fs::exists(first->result.OutputFile));
    component->ClearTasks();
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(fs::exists(Output(i))) << i;
    // Never written: nothing of the other two is left, not even under a working name.
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    EXPECT_EQ(recorder.Terminates().size(), 4u);
}

// ClearTasks or destruction while a task runs: every handler has run by the time it returns.
class TaskRunEnding : public TaskRun, public ::testing::WithParamInterface<bool> {};

TEST_P(TaskRunEnding, NoHandlerRunsAfterwards) {
    const bool destroy = GetParam();
    AddCopyTasks(3, true);
    std::atomic<bool> hooked{false};
    TFFmpeg* first = &component->Task(0);  // lives until its thread has been waited for
    component->OnCustomHook = [&](int index, THookBitmap&, int frameNumber, int64_t, bool&, bool&) {
        if (index != 0 || frameNumber != 2) return;
        hooked = true;
        // Task 0 is certainly running when the main thread clears: it waits here until the
        // clearing has asked it to stop.
        WaitUntil([&] { return first->IsStopRequested(); });
    };
    component->StartTasks(2);
    ASSERT_TRUE(WaitUntil([&] { return hooked.load(); }));
    if (destroy)
        component.reset();
    else
        component->ClearTasks();
    recorder.MarkClosed();
    const auto events = recorder.Events();  // what had arrived by the time the call returned
    if (!destroy) {
        EXPECT_EQ(component->TaskCount(), 0);
        component.reset();  // joins any thread the clearing left behind: its events come now
    }
    EXPECT_EQ(recorder.LateEvents(), 0);
    const int end = TerminatePosition(events, 0);
    ASSERT_GE(end, 0) << "task 0's end is reported before the call returns";
    EXPECT_FALSE(events[end].finished) << "task 0 was stopped";
}

INSTANTIATE_TEST_SUITE_P(ClearOrDestroy, TaskRunEnding, ::testing::Bool());

TEST_F(TaskRun, TheRecordsShapeTheOutput) {
    ASSERT_EQ(component->AppendTask(input), 0);
    TOutputOptions options;
    options.VideoCodec = "mpeg4";
    options.FrameSize = "128x96";
    options.VideoBitrate = 200000;
    options.AudioCodec = "mp2";
    options.AudioSampleRate = 22050;
    options.AudioChannels = 1;
    options.AudioBitrate = 64000;
    options.RecordingTime = 500;
    ASSERT_TRUE(component->SetTaskOutput(0, Output(0), &options)) << component->LastErrorText();
    component->StartTasks(1);
    ASSERT_TRUE(recorder.WaitForRunEnd());
    ASSERT_TRUE(recorder.Terminates()[0].finished) << recorder.Terminates()[0].text;

    const TProbedFile probed = RunFfprobe(Output(0));
    ASSERT_TRUE(probed.ok) << probed.error;
    const TProbedStream* video = probed.First("video");
    const TProbedStream* audio = probed.First("audio");
    ASSERT_NE(video, nullptr);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(video->codecName, "mpeg4");
    EXPECT_EQ(video->width, 128);
    EXPECT_EQ(video->height, 96);
    EXPECT_EQ(audio->codecName, "mp2");
    EXPECT_EQ(audio->sampleRate, 22050);
    EXPECT_EQ(audio->channels, 1);
    EXPECT_NEAR(probed.duration, 0.5, 0.15);
    int progressWithTotal = 0;
    for (const auto& event : recorder.Events())
        if (event.kind == 'P' && event.index == 0) progressWithTotal += event.totalDuration == 500;
    EXPECT_GT(progressWithTotal, 0) << "the expected length is the recording time";
}

TEST_F(TaskRun, HooksReachTheirHandlersWithTheTasksIndex) {
    for (int i = 0; i < 2; ++i) ASSERT_EQ(component->AppendTask(input), i);
    TOutputOptions custom;
    custom.VideoCodec = "mpeg4";
    custom.AudioCodec = "copy";
    custom.CustomHook = true;
    TOutputOptions before = custom;
    before.CustomHook = false;
    before.BeforeHook = true;
    before.OptionText = std::string("vhook=") + DZ_DRAWBOX_HOOK + "|-x|2|-y|2|-w|4|-h|4";
    ASSERT_TRUE(component->SetTaskOutput(0, Output(0), &custom)) << component->LastErrorText();
    ASSERT_TRUE(component->SetTaskOutput(1, Output(1), &before)) << component->LastErrorText();

    std::mutex mutex;  // the hooks run without the component's lock, on both workers at once
    std::vector<int> customFrames, customIndexes, beforeIndexes;
    std::vector<THookAction> actionsOnEntry;
    std::vector<int64_t> beforePts;
    component->OnCustomHook = [&](int index, THookBitmap& bitmap, int frameNumber, int64_t,
                                  bool& update, bool& stopHook) {
        std::lock_guard lock(mutex);
        customIndexes.push_back(index);
        customFrames.push_back(frameNumber);
        EXPECT_TRUE(update);
        EXPECT_FALSE(stopHook);
        EXPECT_EQ(bitmap.Width(), 160);
        if (frameNumber == 3) stopHook = true;
    };
    component->OnBeforeHook = [&](int index, int64_t pts, THookAction& action) {
        std::lock_guard lock(mutex);
        beforeIndexes.push_back(index);
        actionsOnEntry.push_back(action);
        beforePts.push_back(pts);
        action = beforePts.size() == 4 ? haStop : beforePts.size() == 2 ? haIgnore : haContinue;
    };
    component->StartTasks(2);
    ASSERT_TRUE(recorder.WaitForRunEnd());

    EXPECT_EQ(customFrames, (std::vector<int>{1, 2, 3})) << "no picture after the stop";
    EXPECT_EQ(customIndexes, (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(beforeIndexes, (std::vector<int>{1, 1, 1, 1}));
    EXPECT_EQ(actionsOnEntry,
              (std::vector<THookAction>{haContinue, haContinue, haIgnore, haContinue}));
    EXPECT_TRUE(std::is_sorted(beforePts.begin(), beforePts.end()));
    for (const auto& event : recorder.Terminates()) EXPECT_FALSE(event.exception) << event.text;
}

TEST_F(TaskRun, WorkersRunAtTheChosenPriority) {
    const int base = getpriority(PRIO_PROCESS, getpid());
    if (base > 9) GTEST_SKIP() << "the test process runs niced already";
    AddCopyTasks(2);
    std::vector<int> niceValues;
    std::mutex mutex;
    recorder.OnTerminateSeen = [&](const TRecordedEvent& event) {
        if (event.index < 0) return;
        std::lock_guard lock(mutex);
        niceValues.push_back(getpriority(PRIO_PROCESS, 0));
    };
    component->SetThreadPriority(tpLowest);
    component->StartTasks(1);
    ASSERT_TRUE(recorder.WaitForRunEnd());
    EXPECT_EQ(niceValues, (std::vector<int>{base + 10, base + 10}));
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), base) << "the main thread is untouched";
}

TEST_F(TaskRun, ProgressArrivesTaggedWithTheTask) {
    AddCopyTasks(2, true);
    component->StartTasks(2);
    ASSERT_TRUE(recorder.WaitForRunEnd());
    for (int index : {0, 1}) {
        const auto events = recorder.Events();
        const int progress = FirstWhere(
            events, [&](const TRecordedEvent& e) { return e.kind == 'P' && e.index == index; });
        ASSERT_GE(progress, 0) << "the last report at least";
        EXPECT_EQ(events[progress].threadId, events[TerminatePosition(events, index)].threadId);
        EXPECT_LT(progress, TerminatePosition(events, index));
    }
}

TEST_F(TaskRun, LibraryLinesOfARunningTaskReachBothComponentsWithTheirOwnIndex) {
    TTestComponent other;
    TEventRecorder otherRecorder;
    otherRecorder.Attach(other);
    component->SetLogLevel(llDebug);
    AddCopyTasks(1, true);
    component->StartTasks(1);
    ASSERT_TRUE(recorder.WaitForRunEnd());
    component->SetLogLevel(llInfo);

    const auto events = recorder.Events();
    const uint32_t worker = events[TerminatePosition(events, 0)].threadId;
    std::vector<std::string> ours, theirs;
    for (const auto& event : recorder.Logs())
        if (event.threadId == worker) {
            EXPECT_EQ(event.index, 0) << event.text;
            ours.push_back(event.text);
        }
    for (const auto& event : otherRecorder.Logs())
        if (event.threadId == worker) {
            EXPECT_EQ(event.index, -1) << event.text;
            theirs.push_back(event.text);
        }
    ASSERT_FALSE(theirs.empty()) << "the libraries log on the worker at debug level";
    // The other component hears the library's lines only; this one also the engine's own.
    auto next = ours.begin();
    for (const auto& line : theirs) {
        next = std::find(next, ours.end(), line);
        ASSERT_NE(next, ours.end()) << "missing or out of order: " << line;
        ++next;
    }
}

// A re-encoding caught half-way, pipelined and in the one loop: each picture is held up a
// little by the hook, so the task is certainly still running when it is stopped or paused.
class TaskRunModes : public TaskRun, public ::testing::WithParamInterface<bool> {
  protected:
    static constexpr int kFrames = 150;

    void AddSlowTask() {
        TClipSpec clipSpec;
        clipSpec.width = 160;
        clipSpec.height = 120;
        clipSpec.durationSeconds = kFrames / 25.0;
        WriteClip(longInput, clipSpec);
        component->SetPipeline(GetParam());
        ASSERT_EQ(component->AppendTask(longInput), 0) << component->LastErrorText();
        EXPECT_EQ(component->Task(0).Pipeline, GetParam()) << "the property reaches the task";
        TOutputOptions options;
        options.VideoCodec = "mpeg4";
        options.AudioCodec = "mp2";
        options.CustomHook = true;
        ASSERT_TRUE(component->SetTaskOutput(0, Output(0), &options)) << component->LastErrorText();
        component->OnCustomHook = [](int, THookBitmap&, int, int64_t, bool&, bool&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        };
    }

    int LastReportedFrame() const {
        int frame = 0;
        for (const auto& event : recorder.Events())
            if (event.kind == 'P') frame = event.frameNumber;
        return frame;
    }

    int ProgressCount() const {
        const auto events = recorder.Events();
        return static_cast<int>(std::count_if(events.begin(), events.end(),
                                              [](const auto& e) { return e.kind == 'P'; }));
    }

    std::string longInput = dir.File("long.mp4");
};

TEST_P(TaskRunModes, AStopEndsTheTaskUnfinishedWithAReadableFileNamedPartial) {
    AddSlowTask();
    component->StartTasks(1);
    ASSERT_TRUE(WaitUntil([&] { return LastReportedFrame() >= 10; }));
    component->StopTasks();
    ASSERT_TRUE(recorder.WaitForRunEnd()) << "the stopped task hangs";
    const auto terminates = recorder.Terminates();
    ASSERT_EQ(terminates.size(), 2u);
    EXPECT_FALSE(terminates[0].finished);
    EXPECT_FALSE(terminates[0].exception) << terminates[0].text;
    EXPECT_EQ(component->Task(0).RanPipelined(), GetParam());
    // Finished as far as it got, under a name that says so; nothing under the output's own.
    const TTaskResult& result = terminates[0].result;
    EXPECT_TRUE(result.Partial);
    EXPECT_EQ(result.OutputFile, dir.File("out0.partial.mkv"));
    EXPECT_FALSE(fs::exists(Output(0)));
    EXPECT_EQ(result.Problem, "") << "a stop is no damage";
    const TProbedFile probed = RunFfprobe(result.OutputFile, false, true);
    ASSERT_TRUE(probed.ok) << probed.error;
    ASSERT_NE(probed.First("video"), nullptr);
    EXPECT_GE(probed.First("video")->frames, 10);
    EXPECT_LT(probed.First("video")->frames, kFrames) << "the stop came too late";
}

TEST_P(TaskRunModes, APauseHoldsTheTaskAndResumeFinishesIt) {
    AddSlowTask();
    component->StartTasks(1);
    ASSERT_TRUE(WaitUntil([&] { return LastReportedFrame() >= 10; }));
    component->PauseTasks();
    ASSERT_TRUE(WaitUntil([&] { return component->Task(0).IsPaused(); }));
    // What was under way when the pause came may still report once; then nothing moves.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int reports = ProgressCount();
    const int frame = LastReportedFrame();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(ProgressCount(), reports) << "progress while paused";
    EXPECT_LT(frame, kFrames);
    EXPECT_TRUE(component->Task(0).IsRunning());
    component->ResumeTasks();
    ASSERT_TRUE(recorder.WaitForRunEnd());
    ExpectFinishedInOrder(1);
    EXPECT_EQ(component->Task(0).RanPipelined(), GetParam());
    const TProbedFile probed = RunFfprobe(Output(0), false, true);
    ASSERT_TRUE(probed.ok) << probed.error;
    ASSERT_NE(probed.First("video"), nullptr);
    EXPECT_EQ(probed.First("video")->frames, kFrames) << "every picture after the resume";
}

INSTANTIATE_TEST_SUITE_P(Modes, TaskRunModes, EngineModes(), TEngineModeName());

}  // namespace
