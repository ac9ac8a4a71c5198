// Writes that fail in the middle of a conversion: a file-size limit reached part-way (as a full
// disk does it, in a child process so the limit stays there) and a device that is always full.
// The task ends with the reason, nothing crashes and the input is as it was.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <sstream>

#include "RobustnessSupport.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

namespace fs = std::filesystem;

constexpr std::chrono::seconds kJobBound(60);

TOutputOptions Options() {
    TOutputOptions options;
    InitOutputOptions(options);
    options.VideoCodec = "mpeg4";
    options.VideoBitrate = 1000000;
    options.AudioCodec = "mp2";
    return options;
}

class WriteFailure : public ::testing::Test {
  protected:
    void SetUp() override {
        RequireMediaLibraries();
        fs::create_directories(inputs);
        TClipSpec clipSpec;
        clipSpec.durationSeconds = 3.0;
        clipSpec.videoBitRate = 1000000;
        WriteClip(input, clipSpec);
        fs::create_directories(outputs);
        inputBefore = SnapshotFolder(inputs);
    }

    TTempDir dir;
    fs::path inputs = dir.Path() / "in", outputs = dir.Path() / "out";
    std::string input = (inputs / "clip.mp4").string();
    TFolderSnapshot inputBefore;
};

// The conversion runs in a child whose files may not grow beyond `limit` bytes (writes past it
// fail with EFBIG instead of killing the process); the child reports the outcome through a pipe.
TTaskOutcome ConvertWithFileSizeLimit(const std::string& input, const std::string& output,
                                      rlim_t limit) {
    int channel[2];
    if (pipe(channel) != 0) return Outcome("pipe failed");
    const pid_t child = fork();
    if (child < 0) return Outcome("fork failed");
    if (child == 0) {
        close(channel[0]);
        const rlimit size{limit, limit};
        setrlimit(RLIMIT_FSIZE, &size);
        std::signal(SIGXFSZ, SIG_IGN);
        TTaskOutcome outcome;
        {
            TFFmpegVCL component;
            component.SetLogLevel(llQuiet);
            outcome = component.LoadLibraries("", true)
                          ? ConvertOnce(component, input, output, Options(), kJobBound)
                          : Outcome("load", component.LastErrorText());
        }
        const std::string report = outcome.stage + "\n" + char('0' + outcome.finished) +
                                   char('0' + outcome.exception) + "\n" + outcome.message;
        [[maybe_unused]] const ssize_t written = write(channel[1], report.data(), report.size());
        _exit(0);
    }
    close(channel[1]);
    std::string report;
    pollfd readable{channel[0], POLLIN, 0};
    char buffer[4096];
    while (poll(&readable, 1, static_cast<int>(2 * kJobBound.count() * 1000)) > 0) {
        const ssize_t n = read(channel[0], buffer, sizeof buffer);
        if (n <= 0) break;
        report.append(buffer, static_cast<size_t>(n));
    }
    close(channel[0]);
    // The pipe ends a moment before the child can be waited for.
    int status = 0;
    pid_t waited = 0;
    for (int i = 0; i < 1000 && (waited = waitpid(child, &status, WNOHANG)) == 0; ++i)
        usleep(10000);
    if (waited == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return Outcome("hang");
    }
    if (!WIFEXITED(status)) return Outcome("crash", "signal " + std::to_string(WTERMSIG(status)));
    std::istringstream lines(report);
    TTaskOutcome outcome;
    std::string flags;
    std::getline(lines, outcome.stage);
    std::getline(lines, flags);
    outcome.finished = flags.size() == 2 && flags[0] == '1';
    outcome.exception = flags.size() == 2 && flags[1] == '1';
    std::getline(lines, outcome.message, '\0');
    return outcome;
}

TEST_F(WriteFailure, AFileSizeLimitReachedPartWayEndsTheTaskWithTheReason) {
    constexpr rlim_t kLimit = 64 * 1024;
    const std::string output = (outputs / "clip.avi").string();
    const TTaskOutcome outcome = ConvertWithFileSizeLimit(input, output, kLimit);
    ASSERT_EQ(outcome.stage, "run") << outcome.message;
    EXPECT_TRUE(outcome.exception);
    EXPECT_FALSE(outcome.finished);
    EXPECT_TRUE(IsClearMessage(outcome.message)) << outcome.message;
    EXPECT_NE(outcome.message.find("File too large"), std::string::npos) << outcome.message;
    // Never complete, so never under its own name: what is left, if it plays, says it is partial.
    EXPECT_FALSE(fs::exists(output));
    for (const auto& entry : fs::directory_iterator(outputs)) {
        EXPECT_EQ(entry.path().filename(), "clip.partial.avi");
        EXPECT_LE(entry.file_size(), kLimit) << "the limit held";
    }
    EXPECT_EQ(EmptyFilesIn(outputs), "");
    EXPECT_EQ(SnapshotFolder(inputs), inputBefore);
}

TEST_F(WriteFailure, AFullDeviceEndsTheTaskWithTheReasonAndIsNotDeleted) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    // The output name leads to a device on which every write fails for want of space.
    const fs::path output = outputs / "full.avi";
    fs::create_symlink("/dev/full", output);
    TFFmpegVCL component;
    component.SetLogLevel(llQuiet);
    ASSERT_TRUE(component.LoadLibraries("", true)) << component.LastErrorText();
    const TTaskOutcome outcome =
        ConvertOnce(component, input, output.string(), Options(), kJobBound);
    ASSERT_NE(outcome.stage, "hang");
    EXPECT_FALSE(outcome.finished);
    EXPECT_TRUE(outcome.stage != "run" || outcome.exception);
    EXPECT_TRUE(IsClearMessage(outcome.message)) << outcome.message;
    EXPECT_NE(outcome.message.find("No space left on device"), std::string::npos)
        << outcome.message;
    EXPECT_TRUE(fs::is_symlink(output)) << "only empty files this job wrote may be deleted";
    EXPECT_TRUE(fs::exists("/dev/full"));
    EXPECT_EQ(SnapshotFolder(inputs), inputBefore);
}

}  // namespace
