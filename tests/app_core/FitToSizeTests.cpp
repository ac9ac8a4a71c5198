// Fit to size: the target's text, the plan's rates, the correction after an overshoot and the
// refusal of a target no encoder can meet.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/core/FitToSize.h"
#include "component/SizeFit.h"

namespace {

struct TSizeText {
    const char* Text;
    std::optional<int64_t> Bytes;
};

class TargetSizeText : public ::testing::TestWithParam<TSizeText> {};

TEST_P(TargetSizeText, ReadsUnitsOfThousandsAndOf1024) {
    EXPECT_EQ(ParseTargetSize(GetParam().Text), GetParam().Bytes) << GetParam().Text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TargetSizeText,
    ::testing::Values(TSizeText{"25MB", 25000000}, TSizeText{"25 MB", 25000000},
                      TSizeText{"25mb", 25000000}, TSizeText{"2.5MiB", 2621440},
                      TSizeText{"10MiB", 10485760}, TSizeText{"800kB", 800000},
                      TSizeText{"1KiB", 1024}, TSizeText{"1000000B", 1000000},
                      TSizeText{"1000000", std::nullopt}, TSizeText{" 8 ", std::nullopt},
                      TSizeText{"1GB", 1000000000}, TSizeText{"7B", 7}, TSizeText{"", std::nullopt},
                      TSizeText{"MB", std::nullopt}, TSizeText{"0MB", std::nullopt},
                      TSizeText{"-5MB", std::nullopt}, TSizeText{"25 MBs", std::nullopt},
                      TSizeText{"25TB", std::nullopt}, TSizeText{"0.1B", std::nullopt},
                      TSizeText{"nanMB", std::nullopt}));

TEST(TargetSizeText, ANumberWithoutItsUnitIsToldApart) {
    for (const char* bare : {"8", " 25 ", "2.5", "1000000"})
        EXPECT_TRUE(IsBareNumber(bare)) << bare;
    for (const char* other : {"8MB", "8 B", "", " ", ".", "-8", "8e6", "MB"})
        EXPECT_FALSE(IsBareNumber(other)) << other;
}

TFitRequest Request(int64_t target, double seconds, const char* video, const char* audio,
                    int64_t audioRate, const char* format) {
    TFitRequest request;
    request.TargetBytes = target;
    request.Seconds = seconds;
    request.Width = 640;
    request.Height = 360;
    request.FrameRate = 25;
    request.VideoEncoder = video;
    request.AudioEncoder = audio;
    request.AudioBitrate = audioRate;
    request.FormatKey = format;
    return request;
}

struct TPlanCase {
    const char* Name;
    TFitRequest Request;
    int64_t AudioBitrate;  // the plan's
    int64_t LeastVideo;    // the plan's video rate lies between these, bits per second
    int64_t MostVideo;
};

class FitPlan : public ::testing::TestWithParam<TPlanCase> {};

// Every plan adds up: video, sound and container within the aim, the aim within the target.
TEST_P(FitPlan, SharesTheTargetBetweenVideoSoundAndContainer) {
    const TPlanCase& c = GetParam();
    const TFitPlan plan = PlanFit(c.Request);
    ASSERT_TRUE(plan.Fits()) << c.Name;
    EXPECT_EQ(plan.AudioBitrate, c.AudioBitrate) << c.Name;
    EXPECT_GE(plan.VideoBitrate, c.LeastVideo) << c.Name;
    EXPECT_LE(plan.VideoBitrate, c.MostVideo) << c.Name;
    const double total =
        double(plan.VideoBitrate + plan.AudioBitrate) * c.Request.Seconds / 8 + plan.OverheadBytes;
    EXPECT_LE(total, c.Request.TargetBytes * kFitAim + 1) << c.Name;
    EXPECT_GE(total, c.Request.TargetBytes * kFitAim * 0.99) << c.Name;
    EXPECT_LT(plan.LeastTargetBytes, c.Request.TargetBytes) << c.Name;
}

INSTANTIATE_TEST_SUITE_P(
    Plans, FitPlan,
    ::testing::Values(
        // 1 MB over 10 s: 768 kbit/s in all; the sound keeps its 128.
        TPlanCase{"mp4_10s_1MB", Request(1000000, 10, "libx264", "aac", 128000, "MP4"), 128000,
                  600000, 640000},
        // 1 MB over 60 s: 128 kbit/s in all; the sound takes a quarter, rounded to 32 kbit/s.
        TPlanCase{"mp4_60s_1MB", Request(1000000, 60, "libx264", "aac", 128000, "MP4"), 32000,
                  85000, 95000},
        // No sound: all for the video, less the AVI index of 24 bytes a frame.
        TPlanCase{"avi_silent", Request(5000000, 60, "mpeg4", "", 0, "AVI"), 0, 620000, 640000},
        // No sound in MP4: no budget for it, and an index of 12 bytes a picture (22 kB).
        TPlanCase{"mp4_60s_1MB_silent", Request(1000000, 60, "libx264", "", 0, "MP4"), 0, 122000,
                  126000},
        // A transport stream's tables and packet headers take over 500 kB of 5 MB in a minute.
        TPlanCase{"ts_60s_5MB", Request(5000000, 60, "libx264", "aac", 128000, "TS"), 128000,
                  430000, 445000},
        // A VBR sound (no rate asked) is counted at 128 kbit/s; MPEG streams cost 3% more.
        TPlanCase{"vob_vbr_sound", Request(25000000, 300, "mpeg2video", "mp2", -1, "VOB"), 128000,
                  470000, 490000}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST(FitPlan, RefusesATargetBelowTheEncodersLowestRates) {
    // 5 minutes in 1 MB: 27 kbit/s for 640x360 at 25 fps and sound.
    const TFitPlan plan = PlanFit(Request(1000000, 300, "libx264", "aac", 128000, "MP4"));
    EXPECT_FALSE(plan.Fits());
    // The floors: 0.005 bit per pixel (28.8 kbit/s) and 32 kbit/s of sound over 300 s, and the
    // MP4 index: 12 bytes for each of 25 frames and 50 sound packets a second.
    const double least = (28800.0 + 32000) * 300 / 8 + 1536 + 300 * 75 * 12;
    EXPECT_GE(plan.LeastTargetBytes, least / kFitAim);
    EXPECT_LT(plan.LeastTargetBytes, least / kFitAim * 1.05);
    // The least target itself is met.
    EXPECT_TRUE(
        PlanFit(Request(plan.LeastTargetBytes + 1, 300, "libx264", "aac", 128000, "MP4")).Fits());
}

struct TCorrection {
    int64_t Rate, Result, Target, Other;
    int64_t Expected;
};

class CorrectedRate : public ::testing::TestWithParam<TCorrection> {};

TEST_P(CorrectedRate, ScalesTheVideoByItsOvershoot) {
    const TCorrection& c = GetParam();
    const int64_t corrected = CorrectedVideoBitrate(c.Rate, c.Result, c.Target, c.Other);
    EXPECT_NEAR(double(corrected), double(c.Expected), 2.0);
    if (c.Result > c.Target) {
        EXPECT_LT(corrected, c.Rate);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Overshoots, CorrectedRate,
    ::testing::Values(
        // 20% over with 200 kB of sound: the video's 1 MB made 950 kB -> 750 kB.
        TCorrection{800000, 1200000, 1000000, 200000, 600000},
        // No other bytes: 10% over -> 0.95 / 1.1 of the rate.
        TCorrection{1000000, 1100000, 1000000, 0, 863636},
        // Just over: the aim's 95%.
        TCorrection{1000000, 1000001, 1000000, 0, 949999},
        // Under the target (a caller asking for more): scaled up.
        TCorrection{500000, 500000, 1000000, 0, 950000}));

TEST(FitJobToSize, SetsTheRatesOrRefusesWithTheLeastTarget) {
    TFileListRow row;
    row.VideoSize = "640x360";
    row.FrameRateNum = 25;
    row.DurationMs = 10000;
    TJobDescription job;
    job.FormatKey = "MP4";
    job.VideoCodec = "libx264";
    job.AudioCodec = "aac";
    job.AudioBitrate = 128000;
    job.VideoBitrate = 2000000;  // the profile's, replaced
    std::vector<std::string> log;

    TJobDescription fitted = job;
    EXPECT_TRUE(FitJobToSize(fitted, row, 1000000, log));
    EXPECT_EQ(fitted.FitSizeBytes, 1000000);
    EXPECT_GT(fitted.VideoBitrate, 600000);
    EXPECT_LT(fitted.VideoBitrate, 640000);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("Fit to size 1.00 MB: video ", 0), 0u) << log[0];

    // 10 s needs 10 * (28.8 + 32) kbit/s / 8 / 0.96 and the container: 0.10 MB.
    TJobDescription small = job;
    try {
        FitJobToSize(small, row, 20000, log);
        FAIL() << "a 20 kB target was taken";
    } catch (const TFitError& error) {
        EXPECT_NE(std::string(error.what()).find("needs at least 0.10 MB"), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(small.FitSizeBytes, -1);

    // A ceiling: a profile whose own rate makes less than the target keeps its rates.
    TJobDescription modest = job;
    modest.VideoBitrate = 200000;
    log.clear();
    EXPECT_FALSE(FitJobToSize(modest, row, 1000000, log));
    EXPECT_EQ(modest.VideoBitrate, 200000);
    EXPECT_EQ(modest.AudioBitrate, 128000);
    EXPECT_EQ(modest.FitSizeBytes, -1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("the profile's own 200 kbit/s makes a smaller file (about 0.4"),
              std::string::npos)
        << log[0];

    TFileListRow unknown = row;
    unknown.DurationMs = -1;
    EXPECT_THROW(FitJobToSize(small, unknown, 1000000, log), TFitError);
    TJobDescription sound = job;
    sound.DisableVideo = true;
    EXPECT_THROW(FitJobToSize(sound, row, 1000000, log), TFitError);
}

TEST(FitToSize, MegabytesForMessagesRoundUp) {
    EXPECT_EQ(MegabytesText(1000000), "1.00 MB");
    EXPECT_EQ(MegabytesText(1000001), "1.01 MB");
    EXPECT_EQ(MegabytesText(99999), "0.10 MB");
    EXPECT_EQ(MegabytesText(25000000), "25.00 MB");
}

}  // namespace
