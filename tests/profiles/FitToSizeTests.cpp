// Fit to size end to end: a 10 s clip made to fit 1 MB through today's H.264 profile and the
// catalogue's MPEG-4 Part 2 one, judged by the file's size and by ffprobe; a target below the
// encoders' lowest rates refused before any pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "ProfileRun.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kTarget = 1000000;

class FitToSizeTest : public ::testing::TestWithParam<const char*> {
  protected:
    static void SetUpTestSuite() {
        RequireMediaLibraries();
        folder = std::make_unique<TTempDir>();
        // A grainy picture: a simple one reaches the encoders' finest quantisers well below 1 MB.
        clip = TSourceClip{(folder->Path() / "grain.avi").string(), 320, 240, 10.0};
        TClipSpec clipSpec;
        clipSpec.width = clip.Width;
        clipSpec.height = clip.Height;
        clipSpec.durationSeconds = clip.Seconds;
        clipSpec.videoBitRate = 4000000;
        clipSpec.audioCodec = "pcm_s16le";
        clipSpec.noise = 24;
        WriteClip(clip.Path, clipSpec);
        converter = std::make_unique<TProfileConverter>();
    }
    static void TearDownTestSuite() {
        converter.reset();
        folder.reset();
    }

    TJobSettings Settings(const char* profileName, int64_t target) {
        const TOutputProfile& profile = *FindProfile(profileName);
        TParameterLists lists;
        lists.ApplyProfile(profile);
        TJobSettings settings = SettingsFor(profile, lists, out_.Path().string());
        settings.FitSizeBytes = target;
        return settings;
    }

    TTempDir out_;
    static inline std::unique_ptr<TTempDir> folder;
    static inline TSourceClip clip;
    static inline std::unique_ptr<TProfileConverter> converter;
};

TEST_P(FitToSizeTest, TheFileIsAtMostTheTargetAndNearIt) {
    const TConversionOutcome outcome = converter->Convert(clip, Settings(GetParam(), kTarget));
    ASSERT_TRUE(outcome.Done) << outcome.Reason;
    const int64_t bytes = static_cast<int64_t>(fs::file_size(outcome.OutputFile));
    EXPECT_LE(bytes, kTarget);
    EXPECT_GE(bytes, kTarget * 9 / 10);
    // Only the output is left in its folder: no unfinished pass beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(out_.Path()), fs::directory_iterator()), 1);

    const TProbedFile probed = RunFfprobe(outcome.OutputFile);
    ASSERT_TRUE(probed.ok) << probed.error;
    EXPECT_EQ(probed.size, bytes);
    const TProbedStream* video = probed.First("video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->codecName, outcome.Job.VideoCodec == "libx264" ? "h264" : "mpeg4");
    EXPECT_NE(probed.First("audio"), nullptr) << "sound with the picture";
    EXPECT_NEAR(probed.duration, 10.0, 0.3);

    // One bar across both passes: the first pass fills its first half, the second the other; a
    // second pass run again (the log says so) starts again at the half, never before it.
    const std::vector<int> percents = converter->ProgressPercents();
    ASSERT_FALSE(percents.empty());
    const auto second =
        std::find_if(percents.begin(), percents.end(), [](int p) { return p >= 50; });
    ASSERT_NE(second, percents.end()) << "the second pass is shown";
    EXPECT_TRUE(std::is_sorted(percents.begin(), second));
    EXPECT_TRUE(std::all_of(second, percents.end(), [](int p) { return p >= 50 && p <= 100; }));
}

INSTANTIATE_TEST_SUITE_P(Profiles, FitToSizeTest,
                         ::testing::Values("MP4 - H.264 + AAC", "MP4 - MPEG4 Video (*.mp4)"),
                         [](const auto& testInfo) {
                             return std::string(testInfo.param).find("H.264") != std::string::npos
                                        ? std::string("H264")
                                        : std::string("Mpeg4Part2");
                         });

TEST_F(FitToSizeTest, ATargetBelowTheLowestRatesIsRefusedBeforeAnyPass) {
    const TConversionOutcome outcome =
        converter->Convert(clip, Settings("MP4 - H.264 + AAC", 20000));
    EXPECT_FALSE(outcome.Done);
    EXPECT_NE(outcome.Reason.find("needs at least 0."), std::string::npos) << outcome.Reason;
    EXPECT_TRUE(converter->ProgressPercents().empty()) << "no pass ran";
    EXPECT_TRUE(fs::is_empty(out_.Path()));
}

}  // namespace
