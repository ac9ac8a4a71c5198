// The task list and the component's operations that need no conversion: adding tasks and
// giving them outputs (and failing to), deleting and clearing, properties, thread priorities.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "ComponentTestSupport.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

namespace fs = std::filesystem;

TEST(TaskList, PositionsFollowAddAndDelete) {
    TFFmpegList list;
    for (int i = 0; i < 4; ++i) {
        auto task = std::make_unique<TFFmpeg>();
        task->ThreadId = 100 + i;
        EXPECT_EQ(task->Index, -1);
        EXPECT_EQ(list.Add(std::move(task)), i);
    }
    TFFmpeg* last = &list.Get(3);
    list.Delete(1);
    ASSERT_EQ(list.Count(), 3);
    for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list.Get(i).Index, i);
    EXPECT_EQ(&list.Get(2), last);
    EXPECT_EQ(list.FindByThreadId(103), last);
    EXPECT_EQ(list.FindByThreadId(101), nullptr) << "deleted";
    list.Get(0).ThreadId = 103;
    EXPECT_EQ(list.FindByThreadId(103), &list.Get(0)) << "the first with the id";

    try {
        list.Get(3);
        FAIL() << "out of bounds";
    } catch (const EListError& error) {
        EXPECT_STREQ(error.what(), "List index out of bounds (3)");
    }
    EXPECT_THROW(list.Delete(-1), EListError);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(ComponentProperties, DefaultsAndLimits) {
    TTestComponent component;
    EXPECT_EQ(component.Version(), "2.0b");
    EXPECT_EQ(component.LogLevel(), llInfo);
    EXPECT_EQ(component.ThreadPriority(), tpNormal);
    EXPECT_EQ(component.ProgressInterval(), 500);
    EXPECT_EQ(component.About, "");
    EXPECT_EQ(component.LastErrorText(), "");

    const std::pair<int, int> intervals[] = {
        {50, 100}, {100, 100}, {101, 101}, {-5, 100}, {2500, 2500}};
    for (const auto& [set, read] : intervals) {
        component.SetProgressInterval(set);
        EXPECT_EQ(component.ProgressInterval(), read) << set;
    }
    component.SetThreadPriority(tpLowest);
    EXPECT_EQ(component.ThreadPriority(), tpLowest);
    component.SetThreadPriority(tpTimeCritical);
    EXPECT_EQ(component.ThreadPriority(), tpNormal) << "workers never run above normal";

    LoadThroughComponent(component);
    component.SetLogLevel(llDebug);
    EXPECT_EQ(CurrentLogLevel, 2);
    component.SetLogLevel(llQuiet);
    EXPECT_EQ(CurrentLogLevel, -1);
    component.SetLogLevel(llInfo);
    EXPECT_EQ(CurrentLogLevel, 1);

    // One file alone takes every core (0); files side by side share them, never below one each.
    // A file runs its stages on threads of their own while it has two cores or more.
    EXPECT_EQ(CodecThreadsPerFile(1), 0);
    EXPECT_TRUE(PipelinePerFile(1));
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    for (const int files : {2, cores, 4 * cores + 1}) {
        EXPECT_GE(CodecThreadsPerFile(files), 1) << files;
        EXPECT_LE(CodecThreadsPerFile(files) * files, std::max(cores, files)) << files;
        EXPECT_EQ(PipelinePerFile(files), cores / files >= 2) << files;
    }
}

// Nice value and scheduling class of a thread after ApplyThreadPriority, read on the thread.
struct TScheduling {
    int nice = 0;
    int policy = 0;
};

TScheduling ScheduleAndRead(TConvertPriority priority) {
    TScheduling seen;
    std::thread thread([&] {
        ApplyThreadPriority(CurrentThreadId(), priority);
        seen.nice = getpriority(PRIO_PROCESS, 0);
        seen.policy = sched_getscheduler(0);
    });
    thread.join();
    return seen;
}

TEST(ThreadPriority, MapsOntoNiceValuesAndTheIdleClass) {
    const int base = getpriority(PRIO_PROCESS, getpid());
    if (base > 0) GTEST_SKIP() << "the test process itself runs niced";
    EXPECT_EQ(ScheduleAndRead(tpNormal).nice, base);
    EXPECT_EQ(ScheduleAndRead(tpLower).nice, base + 5);
    EXPECT_EQ(ScheduleAndRead(tpLowest).nice, base + 10);
    const TScheduling idle = ScheduleAndRead(tpIdle);
    EXPECT_TRUE(idle.policy == SCHED_IDLE || idle.nice == 19)
        << "policy " << idle.policy << " nice " << idle.nice;

    // What the system refuses is left quietly: a niced thread asking for normal again.
    TScheduling again;
    std::thread thread([&] {
        ApplyThreadPriority(CurrentThreadId(), tpLowest);
        ApplyThreadPriority(CurrentThreadId(), tpNormal);
        again.nice = getpriority(PRIO_PROCESS, 0);
    });
    thread.join();
    EXPECT_GE(again.nice, base);
    EXPECT_EQ(getpriority(PRIO_PROCESS, getpid()), base) << "the main thread is untouched";
}

class ComponentTasks : public ::testing::Test {
  protected:
    void SetUp() override {
        LoadThroughComponent(component);
        TClipSpec clipSpec;
        clipSpec.durationSeconds = 0.5;
        clipSpec.width = 160;
        clipSpec.height = 120;
        WriteClip(input, clipSpec);
    }

    std::vector<std::string> FilesInFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TTempDir dir;
    std::string input = dir.File("clip.mp4");
    TTestComponent component;
};

TEST_F(ComponentTasks, AddingFillsTheRecordAndKeepsACopy) {
    TInputOptions options;
    options.StartTime = 0;
    options.OptionText = "ss=0.2";
    ASSERT_EQ(component.AppendTask(input, &options), 0) << component.LastErrorText();
    EXPECT_EQ(options.FileName, input) << "written back into the caller's record";
    TFFmpeg& task = component.Task(0);
    EXPECT_EQ(task.InputOptions.FileName, input);
    EXPECT_EQ(task.InputOptions.OptionText, "ss=0.2");
    EXPECT_EQ(task.InputFileCount, 1);
    EXPECT_EQ(task.Index, 0);
    EXPECT_EQ(task.ThreadId, 0u);

    TInputOptions named;
    named.FileName = "kept.mp4";
    ASSERT_EQ(component.AppendTask(input, &named), 1);
    EXPECT_EQ(named.FileName, "kept.mp4");
    ASSERT_EQ(component.AppendTask(input), 2);
    EXPECT_EQ(component.Task(2).InputOptions.StartTime, -1) << "initialised without a record";
}

TEST_F(ComponentTasks, FailedAddsReturnMinusOneWithTheReasonAndLeaveNothing) {
    const std::string text = dir.File("notes.txt");
    std::ofstream(text) << "Not a media file at all.\n";
    TInputOptions badFormat;
    badFormat.InputFormat = "no-such-demuxer";
    TInputOptions badOption;
    badOption.OptionText = "ss=soon";

    struct TCase {
        std::string file;
        TInputOptions* options;
        std::string message;  // part of LastErrorText
    } cases[] = {
        {dir.File("missing.mp4"), nullptr, dir.File("missing.mp4")},
        {text, nullptr, text},
        {input, &badFormat, "Unknown input format: no-such-demuxer"},
        {input, &badOption, "soon"},
    };
    const auto before = FilesInFolder();
    for (auto& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(component.AppendTask(c.file, c.options), -1);
        EXPECT_NE(component.LastErrorText().find(c.message), std::string::npos)
            << component.LastErrorText();
        EXPECT_EQ(component.TaskCount(), 0);
    }
    EXPECT_EQ(FilesInFolder(), before);

    // A later success keeps the message; clearing forgets it.
    ASSERT_EQ(component.AppendTask(input), 0);
    EXPECT_FALSE(component.LastErrorText().empty());
    component.ClearTasks();
    EXPECT_EQ(component.LastErrorText(), "");
    EXPECT_EQ(component.TaskCount(), 0);
}

TEST_F(ComponentTasks, FailedOutputsReturnFalseKeepTheTaskAndCreateNoFile) {
    ASSERT_EQ(component.AppendTask(input), 0);
    const std::string existing = dir.File("existing.mkv");
    { std::ofstream(existing) << "keep me"; }

    struct TCase {
        const char* name;
        std::function<void(TOutputOptions&)> fill;
        std::string file;
        std::string message;
    };
    const TCase cases[] = {
        {"unknown format", [](TOutputOptions& o) { o.OutputFormat = "no-such-muxer"; },
         dir.File("a.mkv"), "Unknown output format: no-such-muxer"},
        {"bad frame size", [](TOutputOptions& o) { o.FrameSize = "huge"; }, dir.File("b.mkv"),
         "Incorrect frame size"},
        {"unknown encoder", [](TOutputOptions& o) { o.VideoCodec = "no-such-encoder"; },
         dir.File("c.mkv"), "no-such-encoder"},
        {"missing folder", [](TOutputOptions&) {}, dir.File("none/d.mkv"), "none/d.mkv"},
        {"no format for the name", [](TOutputOptions&) {}, dir.File("e.unknownext"),
         "e.unknownext"},
        {"existing file, bad option", [](TOutputOptions& o) { o.OptionText = "vtag=long tag"; },
         existing, ""},
    };
    const auto before = FilesInFolder();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TOutputOptions options;
        c.fill(options);
        EXPECT_FALSE(component.SetTaskOutput(0, c.file, &options));
        EXPECT_FALSE(component.LastErrorText().empty());
        EXPECT_NE(component.LastErrorText().find(c.message), std::string::npos)
            << component.LastErrorText();
        EXPECT_EQ(component.TaskCount(), 1) << "the task stays";
    }
    EXPECT_EQ(FilesInFolder(), before) << "no file made, none removed";
    std::ifstream kept(existing);
    std::string content;
    std::getline(kept, content);
    EXPECT_EQ(content, "keep me");

    EXPECT_THROW(component.SetTaskOutput(1, dir.File("x.mkv")), EListError);
    EXPECT_THROW(component.SetTaskOutput(-1, dir.File("x.mkv")), EListError);
}

TEST_F(ComponentTasks, AnOutputThatIsNeverWrittenGoesWithItsTask) {
    ASSERT_EQ(component.AppendTask(input), 0);
    TOutputOptions options;
    options.VideoCodec = "copy";
    options.AudioCodec = "copy";
    ASSERT_TRUE(component.SetTaskOutput(0, dir.File("out.mkv"), &options))
        << component.LastErrorText();
    EXPECT_EQ(options.FileName, dir.File("out.mkv"));
    // Opened under its working name; nothing is under its own until it is complete.
    EXPECT_TRUE(fs::exists(dir.File(".out.converting.mkv")));
    EXPECT_FALSE(fs::exists(dir.File("out.mkv")));
    component.DeleteTask(0);
    EXPECT_FALSE(fs::exists(dir.File(".out.converting.mkv")))
        << "left empty: deleted with the task";
}

TEST_F(ComponentTasks, HookChoiceAndTimeRanges) {
    for (int i = 0; i < 3; ++i) ASSERT_EQ(component.AppendTask(input), i);
    TOutputOptions ranges;
    ranges.VideoCodec = "mpeg4";
    ranges.AudioCodec = "copy";
    ranges.HookTimeRanges = "5000-9000,1000-2000,7-3";
    TOutputOptions custom = ranges;
    custom.CustomHook = true;
    TOutputOptions before = ranges;
    before.BeforeHook = true;
    ASSERT_TRUE(component.SetTaskOutput(0, dir.File("0.mkv"), &ranges));
    ASSERT_TRUE(component.SetTaskOutput(1, dir.File("1.mkv"), &custom));
    ASSERT_TRUE(component.SetTaskOutput(2, dir.File("2.mkv"), &before));

    const auto kept = HookTimeRangesOf(component.Task(0));
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].StartUs, 1000000);
    EXPECT_EQ(kept[0].EndUs, 2000000);
    EXPECT_EQ(kept[1].StartUs, 5000000);
    EXPECT_EQ(kept[1].EndUs, 9000000);
    EXPECT_FALSE(component.Task(0).OnCustomHook);
    EXPECT_FALSE(component.Task(0).OnBeforeHook);

    EXPECT_TRUE(HookTimeRangesOf(component.Task(1)).empty()) << "the ranges are not read";
    EXPECT_TRUE(component.Task(1).OnCustomHook);
    EXPECT_FALSE(component.Task(1).OnBeforeHook);
    EXPECT_TRUE(HookTimeRangesOf(component.Task(2)).empty());
    EXPECT_FALSE(component.Task(2).OnCustomHook);
    EXPECT_TRUE(component.Task(2).OnBeforeHook);
}

// Every decoder and encoder of a task gets the count the component held when it was added.
TEST_F(ComponentTasks, CodecThreadsReachEveryDecoderAndEncoder) {
    EXPECT_EQ(component.CodecThreads(), 1);
    for (const auto& [set, expected] : {std::pair{0, 0}, {3, 3}, {-2, 0}}) {
        SCOPED_TRACE(set);
        component.SetCodecThreads(set);
        EXPECT_EQ(component.CodecThreads(), expected);
        const int index = component.AppendTask(input);
        ASSERT_GE(index, 0) << component.LastErrorText();
        ASSERT_TRUE(component.SetTaskOutput(index, dir.File(std::to_string(index) + ".avi")))
            << component.LastErrorText();
        TFFmpeg& task = component.Task(index);
        ASSERT_EQ(task.InputFiles[0].Decoders.size(), 2u);
        for (const TCodecContextPtr& decoder : task.InputFiles[0].Decoders)
            EXPECT_EQ(decoder->thread_count, expected);
        for (AVCodecContext* encoder : {task.OutputFiles[0].Streams[0].Codec.get(),
                                        task.OutputFiles[0].Streams[1].Codec.get()}) {
            ASSERT_NE(encoder, nullptr);
            EXPECT_EQ(encoder->thread_count, expected);
        }
    }
}

TEST_F(ComponentTasks, DeletingRenumbersTheLaterTasks) {
    for (int i = 0; i < 3; ++i) ASSERT_EQ(component.AppendTask(input), i);
    TFFmpeg* second = &component.Task(1);
    TFFmpeg* third = &component.Task(2);
    component.DeleteTask(0);
    ASSERT_EQ(component.TaskCount(), 2);
    EXPECT_EQ(&component.Task(0), second);
    EXPECT_EQ(&component.Task(1), third);
    EXPECT_EQ(second->Index, 0);
    EXPECT_EQ(third->Index, 1);
    EXPECT_THROW(component.DeleteTask(2), EListError);
    ASSERT_EQ(component.AppendTask(input), 2);
    EXPECT_EQ(component.Task(2).Index, 2);
}

TEST_F(ComponentTasks, StartingNothingRaisesNothing) {
    TEventRecorder recorder;
    recorder.Attach(component);
    component.StartTasks(1);
    component.StartTasks(0);
    component.StopTasks();
    component.PauseTasks();
    component.ResumeTasks();
    EXPECT_TRUE(recorder.Terminates().empty());
}

TEST(ComponentWithoutLibraries, LoadingAndAddingFailWithAMessage) {
    // Earlier tests of this process may have loaded the libraries: unloaded here, and loaded
    // again for the tests after this one however it ends.
    struct TReload {
        ~TReload() {
            SetLibraryOpener(nullptr);
            if (!FFmpegLibsLoaded()) LoadFFmpegLibs("", true);
        }
    } reload;
    UnloadFFmpegLibs();
    ASSERT_FALSE(FFmpegLibsLoaded());
    TTestComponent component;
    EXPECT_EQ(component.AppendTask("anything.mp4"), -1);
    EXPECT_EQ(component.LastErrorText(), "The media libraries are not loaded");

    SetLibraryOpener([](const std::string&) -> void* { return nullptr; });
    EXPECT_FALSE(component.LoadLibraries("", true));
    SetLibraryOpener(nullptr);
    EXPECT_EQ(component.LastErrorText(), FFmpegLibsError());
    EXPECT_EQ(component.LastErrorText().rfind("Load libraray ", 0), 0u)
        << component.LastErrorText();
    EXPECT_TRUE(component.LoadLibraries("", true)) << component.LastErrorText();
}

}  // namespace
