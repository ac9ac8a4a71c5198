// Fit to size end to end: 10 s clips with and without sound made to fit 1 MB through today's
// H.264 and MKV profiles and the catalogue's MPEG-4 Part 2 one, judged by the file's size
// and by ffprobe; a target below the encoders' lowest rates refused before any pass.
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

struct TFitCase {
    const char* Name;
    const char* Profile;
    bool Sound;  // the source has a sound track
    const char* VideoCodec;
};

class FitToSizeTest : public ::testing::TestWithParam<TFitCase> {
  protected:
    static void SetUpTestSuite() {
        RequireMediaLibraries();
        folder = std::make_unique<TTempDir>();
        // A grainy picture: a simple one reaches the encoders' finest quantisers well below 1 MB.
        clip = TSourceClip{(folder->Path() / "grain.avi").string(), 320, 240, 10.0};
        silentClip = clip;
        silentClip.Path = (folder->Path() / "grain-silent.avi").string();
        TClipSpec clipSpec;
        clipSpec.width = clip.Width;
        clipSpec.height = clip.Height;
        clipSpec.durationSeconds = clip.Seconds;
        clipSpec.videoBitRate = 4000000;
        clipSpec.audioCodec = "pcm_s16le";
        clipSpec.noise = 24;
        WriteClip(clip.Path, clipSpec);
        clipSpec.audioCodec.clear();
        WriteClip(silentClip.Path, clipSpec);
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
    static inline TSourceClip silentClip;  // the same picture without sound
    static inline std::unique_ptr<TProfileConverter> converter;
};

// Near the target with and without sound: a file without sound gets no sound budget.
TEST_P(FitToSizeTest, TheFileIsAtMostTheTargetAndNearIt) {
    const TFitCase& c = GetParam();
    const TConversionOutcome outcome =
        converter->Convert(c.Sound ? clip : silentClip, Settings(c.Profile, kTarget));
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
    EXPECT_EQ(video->codecName, c.VideoCodec);
    EXPECT_EQ(probed.First("audio") != nullptr, c.Sound);
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

INSTANTIATE_TEST_SUITE_P(
    Profiles, FitToSizeTest,
    ::testing::Values(TFitCase{"H264", "MP4 - H.264 + AAC", true, "h264"},
                      TFitCase{"H264Silent", "MP4 - H.264 + AAC", false, "h264"},
                      TFitCase{"Mpeg4Part2", "MP4 - MPEG4 Video (*.mp4)", true, "mpeg4"},
                      TFitCase{"MkvSilent", "MKV - H.264 + every audio and subtitle track", false,
                               "h264"}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST_F(FitToSizeTest, ATargetBelowTheLowestRatesIsRefusedBeforeAnyPass) {
    const TConversionOutcome outcome =
        converter->Convert(clip, Settings("MP4 - H.264 + AAC", 20000));
    EXPECT_FALSE(outcome.Done);
    EXPECT_NE(outcome.Reason.find("needs at least 0."), std::string::npos) << outcome.Reason;
    EXPECT_TRUE(converter->ProgressPercents().empty()) << "no pass ran";
    EXPECT_TRUE(fs::is_empty(out_.Path()));
}

}  // namespace
