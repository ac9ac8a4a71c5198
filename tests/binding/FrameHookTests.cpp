// Frame-hook chains: loading a module once whatever the case of its name, refusing flawed
// modules with their codes and log lines, running and releasing the chain, and the drawbox
// module's effect on real pictures.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "binding/FFmpegLibs.h"
#include "binding/FrameHook.h"
#include "binding/LibHandles.h"
#include "support/LogRecorder.h"
#include "support/TempDir.h"

namespace {

constexpr int kHighestIndex = 63;

std::string ModulePath(const std::string& name) {
    return std::string(DZ_FRAMEHOOK_DIR) + "/" + name + ".so";
}

// A token list as the engine hands it over: 64 slots, argv[0] the module's file name.
class THookArgs {
  public:
    THookArgs(std::vector<std::string> tokens) : tokens_(std::move(tokens)) {
        for (size_t i = 0; i < tokens_.size() && i <= kHighestIndex; ++i)
            argv_[i] = tokens_[i].data();
    }
    THookArgs(const THookArgs&) = delete;
    THookArgs& operator=(const THookArgs&) = delete;

    int Count() const { return static_cast<int>(tokens_.size()); }
    char** Argv() { return argv_; }

  private:
    std::vector<std::string> tokens_;
    char* argv_[kHighestIndex + 1] = {};
};

int Add(TFrameHookEntry*& chain, std::vector<std::string> tokens) {
    THookArgs args(std::move(tokens));
    return AddFrameHook(chain, args.Count(), args.Argv(), kHighestIndex);
}

std::vector<TFrameHookEntry*> Entries(TFrameHookEntry* first) {
    std::vector<TFrameHookEntry*> entries;
    for (; first; first = first->Next) entries.push_back(first);
    return entries;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::string UpperCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    return text;
}

// Counts the opens of one module file, whatever letter case they ask for it in.
std::string countedModule;
std::atomic<int> countedOpens{0};

void* CountingOpener(const std::string& path) {
    if (SameIgnoringCase(path, countedModule)) ++countedOpens;
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

// The library log as the hooks wrote it.
std::vector<TLogLine> logLines;

void CaptureLog(void* object, int level, const char* format, va_list args) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    logLines.push_back({level, text, object});
}

// The counters a test module keeps of its calls.
class TModuleRecord {
  public:
    explicit TModuleRecord(const std::string& path)
        : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD)) {}
    ~TModuleRecord() {
        if (handle_) dlclose(handle_);
    }
    TModuleRecord(const TModuleRecord&) = delete;
    TModuleRecord& operator=(const TModuleRecord&) = delete;

    bool Loaded() const { return handle_ != nullptr; }
    int Count(const char* name) const { return *static_cast<int*>(dlsym(handle_, name)); }
    // The contexts of calls number first .. first + count - 1 (counted from 0).
    std::vector<void*> Contexts(const char* name, int first, int count) const {
        auto* ring = static_cast<void**>(dlsym(handle_, name));
        std::vector<void*> contexts;
        for (int i = first; i < first + count; ++i) contexts.push_back(ring[i % 16]);
        return contexts;
    }

  private:
    void* handle_;
};

class HookTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RequireMediaLibraries());
        logLines.clear();
        LibAVUtil.av_log_set_callback(CaptureLog);
    }
    void TearDown() override {
        ReleaseFrameHooks(chain_);
        LibAVUtil.av_log_set_callback(LibAVUtil.av_log_default_callback);
        SetLibraryOpener(nullptr);
    }

    TFrameHookEntry* chain_ = nullptr;
    TFrameHookPicture picture_ = {};
};

TEST_F(HookTest, SameModuleInAnyLetterCaseIsLoadedOnceWithAContextPerEntry) {
    const std::string path = ModulePath("test_hook_complete");
    countedModule = path;
    countedOpens = 0;
    SetLibraryOpener(CountingOpener);

    ASSERT_EQ(Add(chain_, {path}), 0);
    // Not a file on disk: only the module list can answer for it.
    ASSERT_EQ(Add(chain_, {UpperCase(path), "an", "argument"}), 0);
    ASSERT_EQ(Add(chain_, {path}), 0);
    EXPECT_LE(countedOpens, 1);
    EXPECT_TRUE(logLines.empty());

    const auto entries = Entries(chain_);
    ASSERT_EQ(entries.size(), 3u);
    std::vector<void*> contexts;
    for (const auto* entry : entries) {
        EXPECT_EQ(entry->Process, entries[0]->Process);
        EXPECT_NE(entry->Context, nullptr);
        contexts.push_back(entry->Context);
    }
    EXPECT_EQ(std::set<void*>(contexts.begin(), contexts.end()).size(), 3u);

    TModuleRecord module(path);
    ASSERT_TRUE(module.Loaded());
    const int processed = module.Count("ProcessCalls");
    RunFrameHooks(chain_, &picture_, AV_PIX_FMT_YUV420P, 16, 16, 40000);
    EXPECT_EQ(module.Count("ProcessCalls"), processed + 3);
    EXPECT_EQ(module.Contexts("ProcessContexts", processed, 3), contexts);

    const int released = module.Count("ReleaseCalls");
    ReleaseFrameHooks(chain_);
    EXPECT_EQ(chain_, nullptr);
    EXPECT_EQ(module.Count("ReleaseCalls"), released + 3);
    EXPECT_EQ(module.Contexts("ReleaseContexts", released, 3), contexts);
}

TEST_F(HookTest, ProcessOnlyModuleWithoutArgumentsRunsWithoutContext) {
    const std::string path = ModulePath("test_hook_process_only");
    ASSERT_EQ(Add(chain_, {path}), 0);
    ASSERT_NE(chain_, nullptr);
    EXPECT_EQ(chain_->Configure, nullptr);
    EXPECT_EQ(chain_->Release, nullptr);
    EXPECT_EQ(chain_->Context, nullptr);
    EXPECT_TRUE(logLines.empty());

    TModuleRecord module(path);
    ASSERT_TRUE(module.Loaded());
    const int processed = module.Count("ProcessCalls");
    RunFrameHooks(chain_, &picture_, AV_PIX_FMT_YUV420P, 16, 16, 0);
    EXPECT_EQ(module.Count("ProcessCalls"), processed + 1);
    EXPECT_EQ(module.Contexts("ProcessContexts", processed, 1), std::vector<void*>{nullptr});
}

TEST_F(HookTest, ReleasingAnEmptyChainDoesNothing) {
    ReleaseFrameHooks(chain_);
    EXPECT_EQ(chain_, nullptr);
    EXPECT_TRUE(logLines.empty());
}

TEST_F(HookTest, ArgumentCountBeyondTheArrayIsRefused) {
    THookArgs args({ModulePath("test_hook_complete")});
    EXPECT_EQ(AddFrameHook(chain_, kHighestIndex + 2, args.Argv(), kHighestIndex), -2);
    EXPECT_EQ(chain_, nullptr);
}

TEST_F(HookTest, HooksAddedFromSeveralThreadsShareOneLoad) {
    const std::string path = ModulePath("drawbox");
    countedModule = path;
    countedOpens = 0;
    SetLibraryOpener(CountingOpener);
    constexpr int kThreads = 4, kAdds = 10;
    std::vector<TFrameHookEntry*> chains(kThreads, nullptr);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kAdds; ++i)
                if (Add(chains[t], {i % 2 ? UpperCase(path) : path, "-w", "2", "-h", "2"}) != 0)
                    ++failures;
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_LE(countedOpens, 1);
    for (auto& chain : chains) {
        EXPECT_EQ(Entries(chain).size(), size_t(kAdds));
        ReleaseFrameHooks(chain);
    }
}

// A refused hook: its code, its one log line (format filled with the module's file name; empty
// for none) and a chain left as it was.
struct TRefusal {
    const char* name;
    std::vector<std::string> tokens;  // "{module}" is replaced by the module's path
    const char* module;
    int code;
    const char* logFormat;
};

void PrintTo(const TRefusal& refusal, std::ostream* out) {
    *out << refusal.name;
}

class HookRefusalTest : public HookTest, public ::testing::WithParamInterface<TRefusal> {};

TEST_P(HookRefusalTest, RefusesWithItsCodeAndLogLine) {
    const TRefusal& refusal = GetParam();
    ASSERT_EQ(Add(chain_, {ModulePath("test_hook_complete")}), 0);
    TFrameHookEntry* const first = chain_;
    logLines.clear();

    const std::string module =
        refusal.module[0] == '/' ? refusal.module : ModulePath(refusal.module);
    std::vector<std::string> tokens;
    for (const auto& token : refusal.tokens) tokens.push_back(token == "{module}" ? module : token);
    std::string expectedLine;
    if (std::string(refusal.logFormat) == "{dlerror}") {
        dlerror();
        EXPECT_EQ(dlopen(module.c_str(), RTLD_NOW), nullptr);
        expectedLine = std::string(dlerror()) + "\n";
    } else if (*refusal.logFormat) {
        char line[1024];
        std::snprintf(line, sizeof line, refusal.logFormat, module.c_str());
        expectedLine = line;
    }

    EXPECT_EQ(Add(chain_, tokens), refusal.code);
    EXPECT_EQ(chain_, first);
    EXPECT_EQ(Entries(chain_).size(), 1u);
    if (expectedLine.empty()) {
        EXPECT_TRUE(logLines.empty());
    } else {
        ASSERT_EQ(logLines.size(), 1u);
        EXPECT_EQ(logLines[0].text, expectedLine);
        EXPECT_EQ(logLines[0].level, AV_LOG_ERROR);
        EXPECT_EQ(logLines[0].object, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Flaws, HookRefusalTest,
    ::testing::Values(
        TRefusal{"NoArguments", {}, "test_hook_complete", -2, ""},
        TRefusal{"ModuleCannotBeLoaded", {"{module}"}, "/nonexistent-dz/hook.so", -1, "{dlerror}"},
        TRefusal{"NoProcess",
                 {"{module}"},
                 "test_hook_no_process",
                 -2,
                 "Failed to find Process entrypoint in %s\n"},
        TRefusal{"NoProcessWithArguments",
                 {"{module}", "a"},
                 "test_hook_no_process",
                 -2,
                 "Failed to find Process entrypoint in %s\n"},
        TRefusal{"ArgumentsWithoutConfigure",
                 {"{module}", "a"},
                 "test_hook_process_only",
                 -2,
                 "Failed to find Configure entrypoint in %s\n"},
        // Configure is called whenever the module has one, arguments or not.
        TRefusal{"ConfigureFails",
                 {"{module}"},
                 "test_hook_configure_fails",
                 -22,
                 "Failed to Configure %s\n"},
        TRefusal{"DrawBoxWithoutSize",
                 {"{module}", "-x", "4"},
                 "drawbox",
                 -22,
                 "Failed to Configure %s\n"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// drawbox on a real YUV 4:2:0 frame of the libraries, with padded lines.
// Odd sizes: the last chroma column and row cover one luma column or row only.
constexpr int kWidth = 71, kHeight = 45;
constexpr uint8_t kBackground[3] = {50, 60, 70};

TFramePtr MakeFrame() {
    TFramePtr frame(LibAVUtil.av_frame_alloc());
    if (!frame) return nullptr;
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = kWidth;
    frame->height = kHeight;
    if (LibAVUtil.av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    for (int p = 0; p < 3; ++p)
        std::memset(frame->data[p], kBackground[p],
                    size_t(frame->linesize[p]) * (p ? (kHeight + 1) / 2 : kHeight));
    return frame;
}

TFrameHookPicture PictureOf(AVFrame* frame) {
    TFrameHookPicture picture = {};
    for (int p = 0; p < 4; ++p) {
        picture.data[p] = frame->data[p];
        picture.linesize[p] = frame->linesize[p];
    }
    return picture;
}

struct TBoxCase {
    const char* name;
    std::vector<std::string> arguments;
    int x, y, width, height, thickness;
    uint8_t yuv[3];
};

// Whether the box covers luma pixel (px, py) of the picture.
bool Covers(const TBoxCase& box, int px, int py) {
    if (px < 0 || py < 0 || px >= kWidth || py >= kHeight) return false;
    if (px < box.x || px >= box.x + box.width || py < box.y || py >= box.y + box.height)
        return false;
    const int t = box.thickness;
    if (t == 0 || 2 * t >= box.width || 2 * t >= box.height) return true;
    return px < box.x + t || px >= box.x + box.width - t || py < box.y + t ||
           py >= box.y + box.height - t;
}

void PrintTo(const TBoxCase& box, std::ostream* out) {
    *out << box.name;
}

class DrawBoxTest : public HookTest, public ::testing::WithParamInterface<TBoxCase> {};

TEST_P(DrawBoxTest, ColoursTheBoxAndNothingElse) {
    const TBoxCase& box = GetParam();
    TFramePtr frame = MakeFrame();
    ASSERT_TRUE(frame);
    std::vector<std::string> tokens = {ModulePath("drawbox")};
    tokens.insert(tokens.end(), box.arguments.begin(), box.arguments.end());
    ASSERT_EQ(Add(chain_, tokens), 0);

    TFrameHookPicture picture = PictureOf(frame.get());
    RunFrameHooks(chain_, &picture, AV_PIX_FMT_YUV420P, kWidth, kHeight, 0);

    int changed = 0, wrong = 0;
    for (int p = 0; p < 3; ++p) {
        const int rows = p ? (kHeight + 1) / 2 : kHeight;
        // Every byte of every line, the padding past the picture's width included.
        for (int row = 0; row < rows; ++row)
            for (int column = 0; column < frame->linesize[p]; ++column) {
                const bool covered = p == 0 ? Covers(box, column, row)
                                            : Covers(box, 2 * column, 2 * row) ||
                                                  Covers(box, 2 * column + 1, 2 * row) ||
                                                  Covers(box, 2 * column, 2 * row + 1) ||
                                                  Covers(box, 2 * column + 1, 2 * row + 1);
                const uint8_t expected = covered ? box.yuv[p] : kBackground[p];
                const uint8_t actual = frame->data[p][row * frame->linesize[p] + column];
                changed += actual != kBackground[p];
                if (actual != expected && ++wrong <= 5)
                    ADD_FAILURE() << "plane " << p << " at " << column << "," << row << ": "
                                  << int(actual) << " instead of " << int(expected);
            }
    }
    EXPECT_EQ(wrong, 0);
    const bool visible =
        box.x < kWidth && box.y < kHeight && box.x + box.width > 0 && box.y + box.height > 0;
    EXPECT_EQ(changed > 0, visible);
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, DrawBoxTest,
    ::testing::Values(
        TBoxCase{"FilledRed",
                 {"-x", "10", "-y", "6", "-w", "20", "-h", "12", "-c", "ff0000"},
                 10,
                 6,
                 20,
                 12,
                 0,
                 {76, 85, 255}},
        TBoxCase{"GreenOutline",
                 {"-x", "8", "-y", "8", "-w", "30", "-h", "20", "-c", "00FF00", "-t", "2"},
                 8,
                 8,
                 30,
                 20,
                 2,
                 {150, 44, 21}},
        TBoxCase{"YuvColourCutAtTheCorner",
                 {"-x", "60", "-y", "40", "-w", "50", "-h", "50", "-c", "16,128,128"},
                 60,
                 40,
                 50,
                 50,
                 0,
                 {16, 128, 128}},
        TBoxCase{"BlueFromAboveLeftAtOddEdges",
                 {"-x", "-5", "-y", "-3", "-w", "12", "-h", "9", "-c", "#0000ff"},
                 -5,
                 -3,
                 12,
                 9,
                 0,
                 {29, 255, 107}},
        TBoxCase{"ThinOutlineAtOddEdges",
                 {"-x", "3", "-y", "5", "-w", "11", "-h", "9", "-t", "1", "-c", "0xffffff"},
                 3,
                 5,
                 11,
                 9,
                 1,
                 {255, 128, 128}},
        TBoxCase{"OutlineThickerThanHalfFillsInDefaultWhite",
                 {"-x", "20", "-y", "10", "-w", "9", "-h", "7", "-t", "4"},
                 20,
                 10,
                 9,
                 7,
                 4,
                 {255, 128, 128}},
        TBoxCase{"RightOfThePicture",
                 {"-x", "71", "-y", "0", "-w", "5", "-h", "5", "-c", "ff0000"},
                 71,
                 0,
                 5,
                 5,
                 0,
                 {76, 85, 255}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(HookTest, DrawBoxLeavesOtherPixelFormatsAlone) {
    TFramePtr frame = MakeFrame();
    ASSERT_TRUE(frame);
    ASSERT_EQ(Add(chain_, {ModulePath("drawbox"), "-w", "10", "-h", "10", "-c", "ff0000"}), 0);
    TFrameHookPicture picture = PictureOf(frame.get());
    RunFrameHooks(chain_, &picture, AV_PIX_FMT_RGB24, kWidth, kHeight, 0);
    RunFrameHooks(chain_, &picture, AV_PIX_FMT_YUV444P, kWidth, kHeight, 0);
    for (int p = 0; p < 3; ++p) EXPECT_EQ(frame->data[p][0], kBackground[p]) << "plane " << p;
}

struct TBadArguments {
    const char* name;
    std::vector<std::string> arguments;
};

void PrintTo(const TBadArguments& bad, std::ostream* out) {
    *out << bad.name;
}

class DrawBoxArgumentTest : public HookTest, public ::testing::WithParamInterface<TBadArguments> {};

TEST_P(DrawBoxArgumentTest, RefusesBadArguments) {
    std::vector<std::string> tokens = {ModulePath("drawbox")};
    tokens.insert(tokens.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    EXPECT_EQ(Add(chain_, tokens), -22);
    EXPECT_EQ(chain_, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, DrawBoxArgumentTest,
    ::testing::Values(TBadArguments{"None", {}}, TBadArguments{"NoHeight", {"-w", "10"}},
                      TBadArguments{"ZeroWidth", {"-w", "0", "-h", "5"}},
                      TBadArguments{"OptionWithoutValue", {"-w", "10", "-h", "5", "-x"}},
                      TBadArguments{"WordForNumber", {"-w", "ten", "-h", "5"}},
                      TBadArguments{"NumberWithUnit", {"-w", "10", "-h", "5", "-y", "3px"}},
                      TBadArguments{"HugePosition", {"-w", "10", "-h", "5", "-x", "99999999999"}},
                      TBadArguments{"NegativeThickness", {"-w", "10", "-h", "5", "-t", "-1"}},
                      TBadArguments{"NotHex", {"-w", "10", "-h", "5", "-c", "gg0000"}},
                      TBadArguments{"FiveHexDigits", {"-w", "10", "-h", "5", "-c", "12345"}},
                      TBadArguments{"TwoComponents", {"-w", "10", "-h", "5", "-c", "1,2"}},
                      TBadArguments{"ComponentAbove255", {"-w", "10", "-h", "5", "-c", "1,2,300"}},
                      TBadArguments{"FourComponents", {"-w", "10", "-h", "5", "-c", "1,2,3,4"}},
                      TBadArguments{"EmptyComponent", {"-w", "10", "-h", "5", "-c", "1,,3"}},
                      TBadArguments{"UnknownOption", {"-w", "10", "-h", "5", "-q", "1"}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
