// Which encoder a job gets when a graphics chip is asked for, on surveys of machines of every
// kind, and how a job of today's profiles is moved onto the chosen hardware encoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/core/HardwareJob.h"
#include "app/core/ProfileCatalogue.h"
#include "app/core/TodaysEncoding.h"
#include "component/HardwareEncoders.h"
#include "support/TempDir.h"

namespace {

// A machine: which of the encoders work ("" reason: available).
THardwareSurvey Machine(const std::vector<std::string>& working) {
    THardwareSurvey survey;
    const struct {
        const char* Name;
        THardwareApi Api;
        const char* Format;
    } kAll[] = {
        {"h264_vaapi", THardwareApi::Vaapi, "h264"}, {"hevc_vaapi", THardwareApi::Vaapi, "hevc"},
        {"vp9_vaapi", THardwareApi::Vaapi, "vp9"},   {"h264_nvenc", THardwareApi::Nvenc, "h264"},
        {"hevc_nvenc", THardwareApi::Nvenc, "hevc"}, {"h264_qsv", THardwareApi::Qsv, "h264"},
        {"hevc_qsv", THardwareApi::Qsv, "hevc"}};
    for (const auto& encoder : kAll) {
        const bool works = std::count(working.begin(), working.end(), encoder.Name) > 0;
        survey.Encoders.push_back(
            {encoder.Name, encoder.Api, encoder.Format, works,
             works ? "one frame encoded" : std::string(encoder.Name) + " broke"});
    }
    return survey;
}

struct TChoiceCase {
    const char* Name;
    std::vector<std::string> Working;
    THardwareMode Mode;
    const char* Software;
    const char* Encoder;  // chosen, "" for software
    bool Refused;
    const char* InReason;  // a part of the reason, "" for none at all
};

class HardwareChoice : public ::testing::TestWithParam<TChoiceCase> {
  protected:
    void SetUp() override { RequireMediaLibraries(); }
};

TEST_P(HardwareChoice, TakesAWorkingDeviceOrSaysWhyNot) {
    const TChoiceCase& c = GetParam();
    const THardwareChoice choice = ChooseHardwareEncoder(Machine(c.Working), c.Mode, c.Software);
    EXPECT_EQ(choice.Encoder, c.Encoder);
    EXPECT_EQ(choice.Refused, c.Refused);
    if (*c.InReason)
        EXPECT_NE(choice.Reason.find(c.InReason), std::string::npos) << choice.Reason;
    else
        EXPECT_EQ(choice.Reason, "");
}

using M = THardwareMode;
INSTANTIATE_TEST_SUITE_P(
    Machines, HardwareChoice,
    ::testing::Values(
        TChoiceCase{"OffTakesNothing", {"h264_vaapi"}, M::Off, "libx264", "", false, ""},
        TChoiceCase{"AutoTakesTheSameCodec",
                    {"h264_vaapi", "hevc_vaapi"},
                    M::Auto,
                    "libx265",
                    "hevc_vaapi",
                    false,
                    ""},
        TChoiceCase{"AutoTakesAnotherKindWhenTheFirstFails",
                    {"h264_nvenc"},
                    M::Auto,
                    "libx264",
                    "h264_nvenc",
                    false,
                    ""},
        TChoiceCase{"AutoWithNothingWorkingNamesEachFailure",
                    {},
                    M::Auto,
                    "libx264",
                    "",
                    false,
                    "h264_vaapi: h264_vaapi broke; h264_nvenc: h264_nvenc broke"},
        TChoiceCase{"AutoLeavesOtherCodecsInSoftware",
                    {"h264_vaapi"},
                    M::Auto,
                    "mpeg4",
                    "",
                    false,
                    "no hardware encoder for mpeg4"},
        TChoiceCase{"AutoHasNoAv1EncoderInTheseLibraries",
                    {"h264_vaapi"},
                    M::Auto,
                    "libaom-av1",
                    "",
                    false,
                    "no hardware encoder for av1 in these libraries"},
        TChoiceCase{"ADemandTakesOnlyItsKind",
                    {"h264_vaapi", "h264_nvenc"},
                    M::Nvenc,
                    "libx264",
                    "h264_nvenc",
                    false,
                    ""},
        TChoiceCase{"ADemandOfAKindThatFailsIsRefused",
                    {"h264_nvenc"},
                    M::Vaapi,
                    "libx264",
                    "",
                    true,
                    "--hardware vaapi demanded, but no vaapi encoder for h264 works"},
        TChoiceCase{"ADemandForACodecWithoutHardwareIsRefused",
                    {"h264_qsv"},
                    M::Qsv,
                    "libmp3lame",
                    "",
                    true,
                    "no hardware encoder for mp3"}),
    [](const auto& test) { return std::string(test.param.Name); });

TEST(HardwareModes, NamesReadBackAndNothingElseIsAMode) {
    for (M mode : {M::Off, M::Auto, M::Vaapi, M::Nvenc, M::Qsv})
        EXPECT_EQ(ParseHardwareMode(HardwareModeName(mode)), mode);
    EXPECT_EQ(ParseHardwareMode("VAAPI"), std::nullopt);
    EXPECT_EQ(ParseHardwareMode("cuda"), std::nullopt);
}

// The value each quality step gives an encoder's rate control; a smaller file at each step down.
int RateValue(const std::string& encoder, int step) {
    for (const THardwareOption& option : HardwareQualityOptions(encoder, step))
        if (option.Name == "global_quality" || option.Name == "cq") return std::stoi(option.Value);
    return -1;
}

TEST(HardwareQuality, EachStepDownGivesEveryEncoderAHigherQuantiserInItsOwnRateControl) {
    for (const char* encoder : {"h264_vaapi", "hevc_vaapi", "vp9_vaapi", "h264_nvenc", "hevc_nvenc",
                                "h264_qsv", "hevc_qsv"}) {
        for (int step = 1; step < 4; ++step)
            EXPECT_GT(RateValue(encoder, step), RateValue(encoder, step - 1)) << encoder << step;
        EXPECT_GT(RateValue(encoder, 0), 0) << encoder;
    }
    // VAAPI's own constant-QP mode; NVENC's constant quality needs its bit rate out of the way.
    const auto vaapi = HardwareQualityOptions("h264_vaapi", 2);
    EXPECT_EQ(vaapi.front().Name, "rc_mode");
    EXPECT_EQ(vaapi.front().Value, "CQP");
    const auto nvenc = HardwareQualityOptions("hevc_nvenc", 2);
    EXPECT_TRUE(std::any_of(nvenc.begin(), nvenc.end(),
                            [](const auto& o) { return o.Name == "b" && o.Value == "0"; }));
    EXPECT_TRUE(HardwareQualityOptions("libx264", 2).empty());
}

// A job of today's H.264 profile as the builder makes it, moved to a hardware encoder.
TJobDescription TodaysH264Job(const std::string& quality) {
    TJobDescription job;
    job.FormatKey = "MP4";
    job.VideoCodec = "libx264";
    job.AudioCodec = "aac";
    ApplyTodaysEncoding(job, quality);
    return job;
}

TEST(HardwareJob, TheSoftwareEncodersLinesGiveWayToTheDevicesAtTheSameStep) {
    for (const std::string& quality : QualityEntries()) {
        TJobDescription job = TodaysH264Job(quality);
        const std::vector<std::string> before = job.OptionLines;
        UseHardwareEncoder(job, "h264_vaapi", quality, "/dev/dri/renderD129");
        EXPECT_EQ(job.VideoCodec, "h264_vaapi");
        const auto& lines = job.OptionLines;
        const auto has = [&](const std::string& line) {
            return std::count(lines.begin(), lines.end(), line) == 1;
        };
        for (const std::string& line : QualitySettingFor("libx264", quality).OptionLines)
            EXPECT_FALSE(has(line)) << line;
        for (const std::string& line : SpeedOptionLines("libx264")) EXPECT_FALSE(has(line)) << line;
        EXPECT_TRUE(has("pix_fmt=nv12"));
        EXPECT_FALSE(has("pix_fmt=yuv420p"));
        EXPECT_TRUE(has("movflags=+faststart")) << "the container's lines stay";
        EXPECT_TRUE(has("hwdevice=/dev/dri/renderD129"));
        const int step =
            static_cast<int>(std::find(QualityEntries().begin(), QualityEntries().end(), quality) -
                             QualityEntries().begin());
        for (const THardwareOption& option : HardwareQualityOptions("h264_vaapi", step))
            EXPECT_TRUE(has(option.Name + "=" + option.Value)) << quality;
        EXPECT_LT(lines.size(), before.size() + 5);
    }
}

TEST(HardwareJob, ABitRateTheJobSetsStaysAndOnlyVaapiIsToldItsDevice) {
    TJobDescription job = TodaysH264Job("High");
    job.VideoBitrate = 2000000;
    UseHardwareEncoder(job, "h264_nvenc", "High", "/dev/dri/renderD128");
    EXPECT_EQ(job.VideoBitrate, 2000000);
    for (const std::string& line : job.OptionLines) {
        EXPECT_FALSE(line.starts_with("cq=")) << line;
        EXPECT_FALSE(line.starts_with("hwdevice=")) << line;
    }
}

TEST(HardwareJob, OnlyEncodedVideoInOnePassGoesToADevice) {
    TJobDescription job = TodaysH264Job("Standard");
    EXPECT_EQ(HardwareUnsuitableReason(job), "");
    job.FitSizeBytes = 25000000;
    EXPECT_NE(HardwareUnsuitableReason(job).find("two passes"), std::string::npos);
    job.FitSizeBytes = -1;
    job.VideoCodec = "copy";
    EXPECT_EQ(HardwareUnsuitableReason(job), "no video is encoded");
    job.VideoCodec = "libx264";
    job.DisableVideo = true;
    EXPECT_EQ(HardwareUnsuitableReason(job), "no video is encoded");
}

}  // namespace
