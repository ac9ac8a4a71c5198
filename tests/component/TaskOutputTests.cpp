// What a task leaves on disk and says about it, for every way it ends: a whole conversion under
// its own name (and only once complete), a damaged input converted as far as it goes and said
// so, a failed write with the system's reason and nothing unplayable left behind, a read-only
// folder, and the names of what a stop or a failure kept.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>

#include "ComponentTestSupport.h"
#include "support/Ffprobe.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

namespace fs = std::filesystem;

// The names in a folder, hidden ones included.
std::set<std::string> NamesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// Every file this process writes is cut at `bytes` while it lives, as a full disk cuts it; the
// write then fails with EFBIG instead of killing the process.
class TFileSizeLimit {
  public:
    explicit TFileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &before_);
        oldHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = before_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &before_);
        signal(SIGXFSZ, oldHandler_);
    }

  private:
    rlimit before_{};
    sighandler_t oldHandler_ = SIG_DFL;
};

class TaskOutput : public ::testing::Test {
  protected:
    void SetUp() override {
        LoadThroughComponent(*component);
        component->SetProgressInterval(100);
        recorder.Attach(*component);
        fs::create_directories(out);
    }

    // A clip of `seconds` in MP4 with its index in front, as phones write it.
    std::string Clip(const std::string& name, double seconds) {
        TClipSpec clipSpec;
        clipSpec.width = 160;
        clipSpec.height = 120;
        clipSpec.durationSeconds = seconds;
        clipSpec.fastStart = true;
        const std::string path = dir.File(name);
        WriteClip(path, clipSpec);
        return path;
    }

    // Appends a task re-encoding `input` into `output`; false (with the component's reason in
    // `why`) when the output cannot be set up.
    bool AddTask(const std::string& input, const std::string& output, std::string* why = nullptr,
                 int64_t fitBytes = -1) {
        const int index = component->AppendTask(input);
        EXPECT_GE(index, 0) << component->LastErrorText();
        TOutputOptions options;
        options.VideoCodec = "mpeg4";
        options.AudioCodec = "mp2";
        if (fitBytes > 0) {
            options.FitSizeBytes = fitBytes;
            options.VideoBitrate = 60000;
        }
        const bool set = component->SetTaskOutput(index, output, &options);
        if (why) *why = component->LastErrorText();
        return set;
    }

    TRecordedEvent RunAndGetEnd(int index = 0) {
        component->StartTasks(1);
        EXPECT_TRUE(recorder.WaitForRunEnd());
        for (const auto& event : recorder.Terminates())
            if (event.index == index) return event;
        ADD_FAILURE() << "no end of task " << index;
        return {};
    }

    TTempDir dir;
    fs::path out = dir.Path() / "out";
    TEventRecorder recorder;
    TTestMainLoop mainLoop;
    std::unique_ptr<TTestComponent> component = std::make_unique<TTestComponent>(&mainLoop);
};

TEST_F(TaskOutput, AWholeConversionTakesItsNameOnlyOnceComplete) {
    const std::string output = (out / "whole.mp4").string();
    ASSERT_TRUE(AddTask(Clip("whole.mp4", 3.0), output));
    // While it is written, nothing is under its name and its working name is hidden.
    std::atomic<int> seenUnderItsName{0}, seenHidden{0};
    recorder.OnProgressSeen = [&](const TRecordedEvent&) {
        if (fs::exists(output)) ++seenUnderItsName;
        for (const std::string& name : NamesIn(out)) seenHidden += name[0] == '.';
    };
    const TRecordedEvent end = RunAndGetEnd();
    EXPECT_TRUE(end.finished);
    EXPECT_FALSE(end.exception) << end.text;
    EXPECT_EQ(seenUnderItsName.load(), 0);
    EXPECT_GT(seenHidden.load(), 0);
    EXPECT_EQ(end.result.OutputFile, output);
    EXPECT_FALSE(end.result.Partial);
    EXPECT_EQ(end.result.Problem, "");
    EXPECT_NEAR(end.result.SourceUs / 1e6, 3.0, 0.1);
    EXPECT_NEAR(end.result.ConvertedUs / 1e6, 3.0, 0.1);
    EXPECT_EQ(NamesIn(out), std::set<std::string>{"whole.mp4"});
    EXPECT_NEAR(RunFfprobe(output).duration, 3.0, 0.1);
}

struct TDamageCase {
    const char* name;
    TDamage damage;
    const char* said;       // the start of the problem's words
    int64_t fitBytes = -1;  // fitted to a size, in passes of their own
};

class TaskOutputDamage : public TaskOutput, public ::testing::WithParamInterface<TDamageCase> {};

TEST_P(TaskOutputDamage, IsDoneWithErrorsAndSaysWhere) {
    const std::string input = Clip("damaged.mp4", 20.0);
    DamageFile(input, GetParam().damage, 0.5, 3);
    const std::string output = (out / "damaged.mp4").string();
    ASSERT_TRUE(AddTask(input, output, nullptr, GetParam().fitBytes));
    const TRecordedEvent end = RunAndGetEnd();
    EXPECT_TRUE(end.finished);
    EXPECT_FALSE(end.exception) << end.text;
    const std::string& problem = end.result.Problem;
    EXPECT_EQ(problem.rfind(GetParam().said, 0), 0u) << problem;
    EXPECT_NE(problem.find(" of 20.0 s converted"), std::string::npos) << problem;
    // What was converted plays under the output's own name: the row says what is missing.
    EXPECT_EQ(end.result.OutputFile, output);
    const TProbedFile judge = RunFfprobe(output);
    ASSERT_TRUE(judge.ok) << judge.error;
    EXPECT_NEAR(judge.duration, end.result.ConvertedUs / 1e6, 0.5);
    EXPECT_EQ(NamesIn(out), std::set<std::string>{"damaged.mp4"});
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, TaskOutputDamage,
    ::testing::Values(TDamageCase{"CutInHalf", TDamage::Truncated,
                                  "the input is damaged after 00:"},
                      TDamageCase{"OverwrittenFromTheMiddle", TDamage::Overwritten,
                                  "the input is damaged after 00:"},
                      TDamageCase{"CutInHalfAndFittedToASize", TDamage::Truncated,
                                  "the input is damaged after 00:", 400'000}),
    [](const auto& param) { return std::string(param.param.name); });

// A recording joined part-way (a capture's first packets cut) is whole as far as it goes: the
// decoders refuse the cut packets before their first frame, which is no damage.
TEST_F(TaskOutput, AStreamJoinedPartWayIsNoDamage) {
    TClipSpec capture;
    capture.format = "mpeg";
    capture.videoCodec = "mpeg1video";
    capture.audioCodec = "mp2";
    capture.width = 160;
    capture.height = 120;
    capture.durationSeconds = 6.0;
    const std::string whole = dir.File("whole.mpg");
    WriteClip(whole, capture);
    const std::string bytes = FileBytes(whole);
    const std::string joined = dir.File("joined.mpg");
    std::ofstream(joined, std::ios::binary) << bytes.substr(bytes.size() / 3);
    ASSERT_TRUE(AddTask(joined, (out / "joined.mp4").string()));
    const TRecordedEvent end = RunAndGetEnd();
    EXPECT_TRUE(end.finished);
    EXPECT_EQ(end.result.Problem, "");
    EXPECT_EQ(end.result.DecodeErrors, 0);
    EXPECT_EQ(end.result.OutputFile, (out / "joined.mp4").string());
}

TEST_F(TaskOutput, AFailedWriteGivesTheSystemsReasonForEachFileAndLeavesNothingUnplayable) {
    const std::string first = (out / "first.mp4").string();
    const std::string second = (out / "second.mkv").string();
    const std::string input = Clip("long.mp4", 10.0);
    ASSERT_TRUE(AddTask(input, first));
    ASSERT_TRUE(AddTask(input, second));
    std::vector<TRecordedEvent> terminates;
    {
        // The outputs need well over this; the headers fit.
        TFileSizeLimit limit(48 * 1024);
        component->StartTasks(1);
        ASSERT_TRUE(recorder.WaitForRunEnd());
        terminates = recorder.Terminates();
    }
    ASSERT_EQ(terminates.size(), 3u);
    for (int i = 0; i < 2; ++i) {
        const TRecordedEvent& end = terminates[i];
        const std::string& output = i == 0 ? first : second;
        EXPECT_TRUE(end.exception) << i;
        EXPECT_NE(end.text.find("File too large"), std::string::npos) << end.text;
        EXPECT_EQ(end.text.find("codec parameters"), std::string::npos) << end.text;
        EXPECT_NE(end.text.find(output), std::string::npos)
            << "named by its own name: " << end.text;
        EXPECT_FALSE(fs::exists(output)) << output;
    }
    // The MP4 without its index does not play and is gone; the Matroska file plays as far as it
    // got and is kept under a name that says so.
    EXPECT_EQ(terminates[0].result.OutputFile, "");
    EXPECT_EQ(terminates[1].result.OutputFile, (out / "second.partial.mkv").string());
    EXPECT_TRUE(terminates[1].result.Partial);
    EXPECT_EQ(NamesIn(out), std::set<std::string>{"second.partial.mkv"});
    EXPECT_TRUE(RunFfprobe(terminates[1].result.OutputFile).ok);
}

TEST_F(TaskOutput, AReadOnlyFolderIsRefusedWithTheSystemsReason) {
    // The command line's test runs the program as another user instead.
    if (geteuid() == 0) GTEST_SKIP() << "a superuser writes into read-only folders";
    const std::string input = Clip("clip.mp4", 1.0);
    const fs::path readOnly = dir.Path() / "read-only";
    fs::create_directories(readOnly);
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
    const std::string output = (readOnly / "clip.mp4").string();
    std::string why;
    EXPECT_FALSE(AddTask(input, output, &why));
    fs::permissions(readOnly, fs::perms::owner_all);
    EXPECT_EQ(why, "Could not open '" + output + "': Permission denied");
    EXPECT_TRUE(NamesIn(readOnly).empty());
}

// What counts as whole: the shortfall allowed is the larger of 0.5 s and 2 % of the source.
struct TProblemCase {
    const char* name;
    int64_t sourceUs, convertedUs;
    int32_t decodeErrors;
    bool readError;
    int64_t damageUs;
    const char* said;
};

class ConversionProblemTable : public ::testing::TestWithParam<TProblemCase> {};

TEST_P(ConversionProblemTable, SaysWhatIsMissing) {
    const TProblemCase& c = GetParam();
    EXPECT_EQ(ConversionProblem(c.sourceUs, c.convertedUs, c.decodeErrors, c.readError, c.damageUs),
              c.said);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConversionProblemTable,
    ::testing::Values(
        TProblemCase{"Whole", 20'200'000, 20'200'000, 0, false, -1, ""},
        TProblemCase{"HalfASecondShortOfAShortClip", 10'000'000, 9'500'000, 0, false, -1, ""},
        TProblemCase{"MoreThanHalfASecondShort", 10'000'000, 9'400'000, 0, false, -1,
                     "the input ends at 00:09 of its 00:10; 9.4 of 10.0 s converted"},
        TProblemCase{"TwoPercentShortOfAnHour", 3'600'000'000, 3'528'000'000, 0, false, -1, ""},
        TProblemCase{"MoreThanTwoPercentShortOfAnHour", 3'600'000'000, 3'520'000'000, 0, false, -1,
                     "the input ends at 58:40 of its 1:00:00; 3520.0 of 3600.0 s converted"},
        TProblemCase{"LongerIsNoProblem", 10'000'000, 10'900'000, 0, false, -1, ""},
        TProblemCase{"UnknownSourceLength", -1, 3'000'000, 0, false, -1, ""},
        TProblemCase{"CutAtAReadError", 20'200'000, 10'000'000, 0, true, 10'000'000,
                     "the input is damaged after 00:10; 10.0 of 20.2 s converted"},
        TProblemCase{"DecodingErrorsAtFullLength", 20'000'000, 20'000'000, 3, false, 12'500'000,
                     "the input is damaged after 00:12 (3 parts could not be decoded); 20.0 of "
                     "20.0 s converted"},
        TProblemCase{"ADecodingErrorOfUnknownLength", -1, 5'000'000, 1, false, 0,
                     "the input is damaged after 00:00 (1 part could not be decoded)"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(TaskOutputNames, WorkingAndPartialNamesSitBesideTheOutputAndTakeNoNameInUse) {
    TTempDir dir;
    const std::string output = dir.File("clip.mp4");
    EXPECT_EQ(WorkingNameBeside(output, "converting"), dir.File(".clip.converting.mp4"));
    EXPECT_EQ(PartialNameOf(output), dir.File("clip.partial.mp4"));
    for (const char* name : {".clip.converting.mp4", "clip.partial.mp4", "clip.partial-1.mp4"})
        std::ofstream(dir.File(name)) << "taken";
    EXPECT_EQ(WorkingNameBeside(output, "converting"), dir.File(".clip.converting-1.mp4"));
    EXPECT_EQ(PartialNameOf(output), dir.File("clip.partial-2.mp4"));
}

}  // namespace
