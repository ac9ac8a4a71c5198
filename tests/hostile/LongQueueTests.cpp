// Two hundred files through one component, as a long queue in the window converts them: the
// process's memory, threads and open descriptors are no higher over the last fifty files than
// over the first fifty.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "RobustnessSupport.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // freed memory is held back on purpose: sizes mean nothing
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

struct TProcessUse {
    long rssKb = 0, peakKb = 0;  // VmRSS, VmHWM
    int threads = 0;
    int descriptors = 0;
};

TProcessUse ReadProcessUse() {
    TProcessUse use;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) use.rssKb = std::stol(line.substr(6));
        if (line.rfind("VmHWM:", 0) == 0) use.peakKb = std::stol(line.substr(6));
        if (line.rfind("Threads:", 0) == 0) use.threads = std::stoi(line.substr(8));
    }
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++use.descriptors;
    return use;
}

TEST(LongQueue, TwoHundredFilesLeaveNothingGrowing) {
    RequireMediaLibraries();
    TTempDir dir;
    struct TKind {
        const char* file;
        const char* video;
        const char* audio;
    } kinds[] = {{"a.mp4", "mpeg4", "aac"},
                 {"b.avi", "mpeg4", "mp2"},
                 {"c.mkv", "mpeg4", "aac"},
                 {"d.wav", "", "pcm_s16le"}};
    std::vector<std::string> inputs;
    for (const TKind& kind : kinds) {
        TClipSpec clipSpec;
        clipSpec.videoCodec = kind.video;
        clipSpec.audioCodec = kind.audio;
        clipSpec.width = 96;
        clipSpec.height = 64;
        clipSpec.durationSeconds = 0.3;
        inputs.push_back(dir.File(kind.file));
        WriteClip(inputs.back(), clipSpec);
    }

    TFFmpegVCL component;
    component.SetLogLevel(llQuiet);
    ASSERT_TRUE(component.LoadLibraries("", true)) << component.LastErrorText();
    constexpr int kFiles = 200, kWindow = 50;
    TProcessUse first, last;  // the highest of each window
    long peakAfterFirst = 0;
    for (int i = 0; i < kFiles; ++i) {
        TOutputOptions options;
        InitOutputOptions(options);
        options.VideoCodec = "mpeg4";
        options.AudioCodec = "mp2";
        const std::string output = dir.File("out" + std::to_string(i % 2) + ".avi");
        const TTaskOutcome outcome = ConvertOnce(component, inputs[i % inputs.size()], output,
                                                 options, std::chrono::seconds(60));
        ASSERT_EQ(outcome.stage, "run") << i << ": " << outcome.message;
        ASSERT_TRUE(outcome.finished) << i << ": " << outcome.message;
        fs::remove(output);

        const TProcessUse now = ReadProcessUse();
        TProcessUse* window = i < kWindow ? &first : i >= kFiles - kWindow ? &last : nullptr;
        if (window) {
            window->rssKb = std::max(window->rssKb, now.rssKb);
            window->threads = std::max(window->threads, now.threads);
            window->descriptors = std::max(window->descriptors, now.descriptors);
        }
        if (i == kWindow - 1) peakAfterFirst = now.peakKb;
        if (i == kFiles - 1) last.peakKb = now.peakKb;
    }
    std::printf(
        "first %d files: RSS %ld kB, %d threads, %d descriptors; last %d: RSS %ld kB, %d "
        "threads, %d descriptors; peak %ld -> %ld kB\n",
        kWindow, first.rssKb, first.threads, first.descriptors, kWindow, last.rssKb, last.threads,
        last.descriptors, peakAfterFirst, last.peakKb);
    EXPECT_LE(last.threads, first.threads);
    EXPECT_LE(last.descriptors, first.descriptors);
    if (kSanitized) GTEST_SKIP() << "memory sizes are not comparable under a sanitizer";
    // Allocator pools settle within the first files; a leak of one frame or buffer per file
    // adds far more than this over 150 files.
    constexpr long kSlackKb = 2048;
    EXPECT_LE(last.rssKb, first.rssKb + kSlackKb);
    EXPECT_LE(last.peakKb, peakAfterFirst + kSlackKb);
}

}  // namespace
