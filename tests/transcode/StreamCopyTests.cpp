// Stream copy end to end: generated files copied into other containers, judged by ffprobe.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "TranscodeTestSupport.h"
#include "support/EngineModes.h"

namespace {

namespace fs = std::filesystem;

struct TCopyCase {
    const char* name;
    std::string (*input)();
    const char* outputExtension;
};

std::ostream& operator<<(std::ostream& out, const TCopyCase& c) {
    return out << c.name;
}

class StreamCopy : public ::testing::TestWithParam<std::tuple<TCopyCase, bool>> {
  protected:
    void SetUp() override { RequireMediaLibraries(); }
    TTempDir dir;
};

TEST_P(StreamCopy, KeepsEveryPacketAndTheDuration) {
    const TCopyCase& c = std::get<0>(GetParam());
    const std::string input = c.input();
    const std::string output = dir.File(std::string("out.") + c.outputExtension);
    TTranscodeEngine engine(std::get<1>(GetParam()));
    ASSERT_TRUE(engine.OpenInputFile(input)) << engine.LastError;
    engine.Apply({{"vcodec", "copy"}, {"acodec", "copy"}});
    ASSERT_TRUE(engine.OpenOutputFile(output)) << engine.LastError;
    ASSERT_TRUE(engine.RunToEnd()) << engine.ErrorMessage();
    EXPECT_EQ(engine.TerminateCount(), 1);

    const TProbedFile before = RunFfprobe(input, true);
    const TProbedFile after = RunFfprobe(output, true);
    ASSERT_TRUE(after.ok) << after.error;
    ASSERT_EQ(after.streams.size(), before.streams.size());
    // Containers estimate the durations of single streams each their own way; the file's
    // duration is what a player shows.
    EXPECT_NEAR(after.duration, before.duration, 1.0 / 25 + 0.001);
    for (const char* type : {"video", "audio"}) {
        SCOPED_TRACE(type);
        const TProbedStream* in = before.First(type);
        const TProbedStream* out = after.First(type);
        ASSERT_NE(in, nullptr);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out->codecName, in->codecName);
        // The clips start with a key frame: every packet is copied.
        EXPECT_EQ(out->packets, in->packets);
        if (std::string(type) == "video") {
            EXPECT_EQ(out->width, in->width);
            EXPECT_EQ(out->height, in->height);
        } else {
            EXPECT_EQ(out->sampleRate, in->sampleRate);
            EXPECT_EQ(out->channels, in->channels);
        }
    }
    // The last report tells the file's size on disk.
    const auto progress = engine.Progress();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().CurrentSize, static_cast<int64_t>(fs::file_size(output)));
    EXPECT_EQ(progress.back().Quality, -1.0f) << "copied video has no quantiser";
}

INSTANTIATE_TEST_SUITE_P(
    Containers, StreamCopy,
    ::testing::Combine(::testing::Values(TCopyCase{"Mp4ToMkv", Mp4Clip, "mkv"},
                                         TCopyCase{"Mp4ToMov", Mp4Clip, "mov"},
                                         TCopyCase{"Mp4ToAvi", Mp4Clip, "avi"},
                                         TCopyCase{"MpegPsToTs", MpegPsClip, "ts"},
                                         TCopyCase{"MpegPsToMkv", MpegPsClip, "mkv"}),
                       EngineModes()),
    TCaseAndModeName());

class StreamCopyStart : public ::testing::TestWithParam<bool> {};

TEST_P(StreamCopyStart, BeginsAtTheFirstKeyFrame) {
    RequireMediaLibraries();
    TTempDir dir;
    // Starting 0.54 s in (picture 14) with a key frame every 12 pictures: the copy waits for
    // picture 24.
    TTranscodeEngine engine(GetParam());
    ASSERT_TRUE(engine.OpenInputFile(Mp4Clip())) << engine.LastError;
    engine.Apply({{"vcodec", "copy"}, {"an", ""}, {"ss", "0.54"}});
    const std::string output = dir.File("out.mkv");
    ASSERT_TRUE(engine.OpenOutputFile(output)) << engine.LastError;
    ASSERT_TRUE(engine.RunToEnd()) << engine.ErrorMessage();
    const TProbedFile probed = RunFfprobe(output, true);
    ASSERT_TRUE(probed.ok) << probed.error;
    ASSERT_NE(probed.First("video"), nullptr);
    EXPECT_EQ(probed.First("video")->packets, 50 - 24);
}

INSTANTIATE_TEST_SUITE_P(Modes, StreamCopyStart, EngineModes(), TEngineModeName());

}  // namespace
