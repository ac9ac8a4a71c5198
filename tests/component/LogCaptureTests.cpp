// Library log text through the components: whole lines only, per thread, each line to every
// component tagged with that component's task running on the thread, filtered by level.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <regex>
#include <thread>

#include "ComponentTestSupport.h"
#include "binding/LibHandles.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

// Lines of the tests start with this mark; the libraries' own lines are left out.
constexpr const char* kMark = "@@";

// A thread of its own that runs jobs one after another, so that its id stays the same.
class TLogThread {
  public:
    TLogThread() : thread_([this] { Main(); }) {}
    ~TLogThread() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void Run(std::function<void()> job) {
        bool done = false;
        std::unique_lock lock(mutex_);
        jobs_.push_back([&, job = std::move(job)] {
            job();
            std::lock_guard doneLock(mutex_);
            done = true;
            changed_.notify_all();
        });
        changed_.notify_all();
        changed_.wait(lock, [&] { return done; });
    }
    uint32_t Id() {
        uint32_t id = 0;
        Run([&] { id = CurrentThreadId(); });
        return id;
    }
    // av_log on this thread.
    void Log(int level, const std::string& text) {
        Run([&] { LibAVUtil.av_log(nullptr, level, "%s", text.c_str()); });
    }

  private:
    void Main() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> jobs_;
    bool quit_ = false;
    std::thread thread_;
};

struct TLine {
    int index;
    TLogLevel level;
    std::string text;
    bool operator==(const TLine&) const = default;
};

void PrintTo(const TLine& line, std::ostream* out) {
    *out << "{" << line.index << ", " << line.level << ", \"" << line.text << "\"}";
}

std::vector<TLine> MarkedLines(const TEventRecorder& recorder) {
    std::vector<TLine> lines;
    for (const auto& event : recorder.Logs())
        if (event.text.find(kMark) != std::string::npos)
            lines.push_back({event.index, event.level, event.text});
    return lines;
}

void MainLog(int level, const std::string& text) {
    LibAVUtil.av_log(nullptr, level, "%s", text.c_str());
}

class LogCapture : public ::testing::Test {
  protected:
    void SetUp() override {
        LoadThroughComponent(*a);
        a->SetLogLevel(llInfo);
        TClipSpec clipSpec;
        clipSpec.videoCodec = "";
        clipSpec.audioCodec = "pcm_s16le";
        clipSpec.durationSeconds = 0.2;
        WriteClip(dir.File("in.wav"), clipSpec);
        ASSERT_EQ(a->AppendTask(dir.File("in.wav")), 0) << a->LastErrorText();
        ASSERT_EQ(b->AppendTask(dir.File("in.wav")), 0) << b->LastErrorText();
        ASSERT_EQ(b->AppendTask(dir.File("in.wav")), 1) << b->LastErrorText();
        recordA.Attach(*a);
        recordB.Attach(*b);
        ClearPendingLogText();
    }
    void TearDown() override {
        ClearPendingLogText();
        if (FFmpegLibsLoaded()) SetLibraryLogLevel(1);
    }

    TTempDir dir;
    std::unique_ptr<TTestComponent> a = std::make_unique<TTestComponent>();
    std::unique_ptr<TTestComponent> b = std::make_unique<TTestComponent>();
    TEventRecorder recordA, recordB;
};

TEST_F(LogCapture, OnlyWholeLinesArriveAndEachThreadKeepsItsOwnRest) {
    TLogThread t;
    t.Log(AV_LOG_INFO, "@@alpha ");
    EXPECT_TRUE(MarkedLines(recordA).empty()) << "no line feed yet: nothing to report";
    t.Log(AV_LOG_INFO, "beta\n@@gamma\n@@delta");
    MainLog(AV_LOG_INFO, "@@main\n");
    t.Log(AV_LOG_ERROR, "\n");

    const std::vector<TLine> expected = {{-1, llInfo, "@@alpha beta"},
                                         {-1, llInfo, "@@gamma"},
                                         {-1, llInfo, "@@main"},
                                         {-1, llError, "@@delta"}};
    EXPECT_EQ(MarkedLines(recordA), expected);
    EXPECT_EQ(MarkedLines(recordB), expected);
}

TEST_F(LogCapture, EachComponentTagsALineWithItsOwnTaskOnThatThread) {
    TLogThread t, u;
    a->Task(0).ThreadId = t.Id();
    b->Task(1).ThreadId = t.Id();
    b->Task(0).ThreadId = u.Id();

    t.Log(AV_LOG_INFO, "@@from t\n");
    u.Log(AV_LOG_INFO, "@@from u\n");
    MainLog(AV_LOG_INFO, "@@from main\n");

    EXPECT_EQ(MarkedLines(recordA),
              (std::vector<TLine>{
                  {0, llInfo, "@@from t"}, {-1, llInfo, "@@from u"}, {-1, llInfo, "@@from main"}}));
    EXPECT_EQ(MarkedLines(recordB),
              (std::vector<TLine>{
                  {1, llInfo, "@@from t"}, {0, llInfo, "@@from u"}, {-1, llInfo, "@@from main"}}));

    // A component that is gone hears nothing more; the other goes on.
    b.reset();
    t.Log(AV_LOG_INFO, "@@after\n");
    EXPECT_EQ(MarkedLines(recordA).back(), (TLine{0, llInfo, "@@after"}));
    EXPECT_EQ(MarkedLines(recordB).size(), 3u);
}

TEST_F(LogCapture, LevelsAreFilteredByTheLogLevelAndMapped) {
    a->SetLogLevel(llError);
    MainLog(AV_LOG_INFO, "@@hidden\n");
    MainLog(AV_LOG_WARNING, "@@hidden too\n");
    MainLog(AV_LOG_ERROR, "@@shown\n");
    EXPECT_EQ(MarkedLines(recordA), (std::vector<TLine>{{-1, llError, "@@shown"}}));

    a->SetLogLevel(llAll);
    const std::pair<int, TLogLevel> levels[] = {
        {AV_LOG_PANIC, llError},  {AV_LOG_FATAL, llError}, {AV_LOG_ERROR, llError},
        {AV_LOG_WARNING, llInfo}, {AV_LOG_INFO, llInfo},   {AV_LOG_VERBOSE, llDebug},
        {AV_LOG_DEBUG, llDebug},  {AV_LOG_TRACE, llAll},
    };
    std::vector<TLine> expected = {{-1, llError, "@@shown"}};
    for (const auto& [libraryLevel, mapped] : levels) {
        const std::string text = "@@level " + std::to_string(libraryLevel);
        MainLog(libraryLevel, text + "\n");
        expected.push_back({-1, mapped, text});
    }
    EXPECT_EQ(MarkedLines(recordA), expected);
}

TEST_F(LogCapture, ALoggingObjectTagsTheStartOfALine) {
    TCodecContextPtr owner(LibAVCodec.avcodec_alloc_context3(nullptr));
    AVCodecContext* object = owner.get();
    ASSERT_NE(object, nullptr);
    LibAVUtil.av_log(object, AV_LOG_INFO, "@@object %d\n", 7);
    MainLog(AV_LOG_INFO, "@@head ");
    LibAVUtil.av_log(object, AV_LOG_INFO, "tail\n");
    owner.reset();

    const auto lines = MarkedLines(recordA);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(
        std::regex_match(lines[0].text, std::regex(R"(\[[^\]@]+ @ 0x[0-9A-F]+\]@@object 7)")))
        << lines[0].text;
    EXPECT_EQ(lines[1].text, "@@head tail") << "a continued line gets no tag";
}

TEST_F(LogCapture, OverlongTextIsCutAndNothingIsHeldBackForEver) {
    TLogThread t;
    t.Log(AV_LOG_INFO, "@@" + std::string(3000, 'x') + "\n");
    t.Log(AV_LOG_INFO, "@@" + std::string(1500, 'y'));
    t.Log(AV_LOG_INFO, std::string(1500, 'z'));  // together beyond the buffer, no line feed
    t.Log(AV_LOG_INFO, "@@next\n");

    const auto lines = MarkedLines(recordA);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "@@" + std::string(kLogLineBufferSize - 3, 'x'));
    EXPECT_EQ(lines[1].text.size(), kLogLineBufferSize - 1);
    EXPECT_EQ(lines[1].text.substr(0, 1502), "@@" + std::string(1500, 'y'));
    EXPECT_EQ(lines[2].text, "@@next");
}

TEST_F(LogCapture, StartingTasksForgetsPendingText) {
    TLogThread t;
    t.Log(AV_LOG_INFO, "@@stale ");
    TTestComponent empty;
    empty.StartTasks(1);  // no task: nothing starts, but the pending texts go
    t.Log(AV_LOG_INFO, "@@fresh\n");
    EXPECT_EQ(MarkedLines(recordA), (std::vector<TLine>{{-1, llInfo, "@@fresh"}}));
}

TEST_F(LogCapture, AFailingHandlerCostsOnlyItsOwnComponentTheLine) {
    a->OnLog = [](int, TLogLevel, const std::string& text) {
        if (text.find(kMark) != std::string::npos) throw std::runtime_error("handler failed");
    };
    MainLog(AV_LOG_INFO, "@@one\n@@two\n");
    EXPECT_EQ(MarkedLines(recordB),
              (std::vector<TLine>{{-1, llInfo, "@@one"}, {-1, llInfo, "@@two"}}));
}

TEST_F(LogCapture, ManyThreadsInterleaveWholeLinesOnly) {
    constexpr int kThreads = 4, kMessages = 200;
    std::vector<std::thread> threads;
    for (int k = 0; k < kThreads; ++k)
        threads.emplace_back([k] {
            for (int i = 0; i < kMessages; ++i) {
                const std::string head = "@@" + std::to_string(k) + "-" + std::to_string(i) + " ";
                LibAVUtil.av_log(nullptr, AV_LOG_INFO, "%s", head.c_str());
                LibAVUtil.av_log(nullptr, AV_LOG_INFO, "end\n");
            }
        });
    for (auto& thread : threads) thread.join();

    for (const TEventRecorder* recorder : {&recordA, &recordB}) {
        std::vector<int> next(kThreads, 0);
        int count = 0;
        for (const TLine& line : MarkedLines(*recorder)) {
            int k = -1, i = -1;
            ASSERT_EQ(std::sscanf(line.text.c_str(), "@@%d-%d end", &k, &i), 2) << line.text;
            ASSERT_EQ(line.text, "@@" + std::to_string(k) + "-" + std::to_string(i) + " end");
            EXPECT_EQ(i, next[k]++) << "each thread's lines in its order";
            ++count;
        }
        EXPECT_EQ(count, kThreads * kMessages);
    }
}

TEST(LogText, LinesAreCutAtLineFeeds) {
    struct TCase {
        std::string text;
        std::vector<std::string> lines;
        std::string rest;
    };
    const TCase cases[] = {
        {"", {}, ""},
        {"a", {}, "a"},
        {"a\n", {"a"}, ""},
        {"\n\n", {"", ""}, ""},
        {"a\nb\nc", {"a", "b"}, "c"},
        {std::string(kLogLineBufferSize - 1, 'x'), {std::string(kLogLineBufferSize - 1, 'x')}, ""},
        {"a\n" + std::string(kLogLineBufferSize - 3, 'x'),
         {"a", std::string(kLogLineBufferSize - 3, 'x')},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 20));
        std::vector<std::string> lines;
        EXPECT_EQ(SplitLogText(c.text, lines), c.rest);
        EXPECT_EQ(lines, c.lines);
    }
}

TEST(LogText, EachThreadHasOneItem) {
    TLogList list;
    auto& first = list.FindOrAdd(11);
    first.Text = "eleven";
    auto& second = list.FindOrAdd(22);
    auto& third = list.FindOrAdd(33);
    EXPECT_NE(&first, &second);
    EXPECT_NE(&second, &third);
    EXPECT_EQ(&list.FindOrAdd(11), &first);
    EXPECT_EQ(&list.FindOrAdd(22), &second);
    EXPECT_EQ(list.FindOrAdd(11).Text, "eleven");
    list.Clear();
    EXPECT_EQ(list.FindOrAdd(33).Text, "") << "cleared: the built-in item is free again";
    EXPECT_EQ(&list.FindOrAdd(33), &first);
}

}  // namespace
