// Target presets: norm detection, the preset table and the target text.
#include <gtest/gtest.h>

#include "TranscodeTestSupport.h"

namespace {

class TargetPresets : public ::testing::Test {
  protected:
    void SetUp() override { RequireMediaLibraries(); }

    int64_t VideoOption(const char* name) {
        int64_t value = 0;
        LibAVUtil.av_opt_get_int(engine.CodecOptionContexts[AVMEDIA_TYPE_VIDEO].get(), name, 0,
                                 &value);
        return value;
    }
    int64_t AudioOption(const char* name) {
        int64_t value = 0;
        LibAVUtil.av_opt_get_int(engine.CodecOptionContexts[AVMEDIA_TYPE_AUDIO].get(), name, 0,
                                 &value);
        return value;
    }
    std::string FormatName() const {
        return engine.ForcedOutputFormat ? engine.ForcedOutputFormat->name : "(none)";
    }

    TTempDir dir;
    TTranscodeEngine engine;
};

TEST_F(TargetPresets, VcdAfterA25FpsInputIsPal) {
    ASSERT_TRUE(engine.OpenInputFile(Mp4Clip())) << engine.LastError;
    engine.ParseOption("target", "vcd");
    EXPECT_TRUE(engine.Logged("Assuming PAL for target."));
    EXPECT_EQ(engine.FrameWidth, 352);
    EXPECT_EQ(engine.FrameHeight, 288);
    EXPECT_EQ(av_cmp_q(engine.FrameRate, AVRational{25, 1}), 0);
    EXPECT_EQ(VideoOption("g"), 15);
    EXPECT_EQ(VideoOption("b"), 1150000);
    EXPECT_EQ(VideoOption("maxrate"), 1150000);
    EXPECT_EQ(VideoOption("minrate"), 1150000);
    EXPECT_EQ(AudioOption("b"), 224000);
    EXPECT_EQ(engine.AudioSampleRate, 44100);
    EXPECT_EQ(engine.AudioChannels, 2);
    EXPECT_FLOAT_EQ(engine.MuxPreload, 0.44f);
    EXPECT_EQ(engine.VideoCodecName, "mpeg1video");
    EXPECT_EQ(engine.AudioCodecName, "mp2");
    EXPECT_EQ(FormatName(), "vcd");
    EXPECT_FLOAT_EQ(engine.FrameAspectRatio, 320.0f / 240.0f) << "the input's aspect stays";

    // The preset makes a working output: the streams get the preset's codecs and size.
    ASSERT_TRUE(engine.OpenOutputFile(dir.File("out.mpg"))) << engine.LastError;
    EXPECT_EQ(engine.OutputFiles[0].Streams[0].Codec->codec_id, AV_CODEC_ID_MPEG1VIDEO);
    EXPECT_EQ(engine.OutputFiles[0].Streams[0].Codec->width, 352);
    EXPECT_EQ(engine.OutputFiles[0].Streams[0].Codec->gop_size, 15);
    EXPECT_EQ(engine.OutputFiles[0].Streams[1].Codec->codec_id, AV_CODEC_ID_MP2);
}

TEST_F(TargetPresets, NormDetectionFallsBackAndNeedsARate) {
    try {
        engine.SetTarget("vcd", "auto", "ntsc");
        ADD_FAILURE() << "no frame rate: nothing raised";
    } catch (const FFMpegException& error) {
        EXPECT_STREQ(error.what(), "frame_rate is invalid.");
    }
    engine.FrameRate = AVRational{15, 1};
    engine.SetTarget("dvd", "auto", "ntsc");
    EXPECT_TRUE(engine.Logged("Assuming NTSC for target."));
    EXPECT_EQ(engine.FrameHeight, 480);
    EXPECT_EQ(av_cmp_q(engine.FrameRate, AVRational{30000, 1001}), 0);
    EXPECT_EQ(VideoOption("g"), 18);
    EXPECT_FLOAT_EQ(engine.FrameAspectRatio, 16.0f / 9.0f);
}

TEST_F(TargetPresets, QuietEngineDoesNotReportTheNorm) {
    engine.SetVerbose(0);
    engine.FrameRate = AVRational{25, 1};
    engine.SetTarget("svcd", "auto", "ntsc");
    EXPECT_FALSE(engine.Logged("Assuming PAL for target."));
    EXPECT_EQ(engine.FrameWidth, 480);
    EXPECT_EQ(engine.FrameHeight, 576);
    EXPECT_EQ(VideoOption("maxrate"), 2516000);
    EXPECT_EQ(FormatName(), "svcd");
}

struct TTargetText {
    const char* text;
    int width, height;
    AVRational rate;
    const char* format;
    const char* pixelFormat;  // nullptr: not set by the preset
};

std::ostream& operator<<(std::ostream& out, const TTargetText& c) {
    return out << c.text;
}

class TargetTexts : public TargetPresets, public ::testing::WithParamInterface<TTargetText> {};

TEST_P(TargetTexts, NormAndTypeFromTheText) {
    const TTargetText& c = GetParam();
    engine.FrameRate = AVRational{30000, 1001};  // "auto" would pick NTSC
    engine.ParseTarget(c.text);
    EXPECT_EQ(engine.FrameWidth, c.width);
    EXPECT_EQ(engine.FrameHeight, c.height);
    EXPECT_EQ(av_cmp_q(engine.FrameRate, c.rate), 0);
    EXPECT_EQ(FormatName(), c.format);
    if (c.pixelFormat) {
        EXPECT_EQ(engine.FramePixelFormat, LibAVUtil.av_get_pix_fmt(c.pixelFormat));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TargetTexts,
    ::testing::Values(TTargetText{"pal-dvd", 720, 576, {25, 1}, "dvd", nullptr},
                      TTargetText{"dvd", 720, 480, {30000, 1001}, "dvd", nullptr},
                      TTargetText{"  film-vcd ", 352, 240, {24000, 1001}, "vcd", nullptr},
                      TTargetText{"ntsc-svcd", 480, 480, {30000, 1001}, "svcd", nullptr},
                      TTargetText{"pal-dv", 720, 576, {25, 1}, "dv", "yuv420p"},
                      TTargetText{"ntsc-dv", 720, 480, {30000, 1001}, "dv", "yuv411p"},
                      TTargetText{"pal-dv50", 720, 576, {25, 1}, "dv", "yuv422p"}));

TEST_F(TargetPresets, ChannelRulesAndUnknownTypes) {
    engine.AudioChannels = 1;
    engine.ParseTarget("pal-svcd");
    EXPECT_EQ(engine.AudioChannels, 2) << "mono becomes stereo";
    engine.AudioChannels = 6;
    engine.ParseTarget("pal-dvd");
    EXPECT_EQ(engine.AudioChannels, 6) << "only mono is changed";
    EXPECT_EQ(engine.AudioSampleRate, 48000);
    engine.ParseTarget("pal-dv");
    EXPECT_EQ(engine.AudioChannels, 2);
    try {
        engine.ParseTarget("pal-laserdisc");
        ADD_FAILURE() << "nothing raised";
    } catch (const FFMpegException& error) {
        EXPECT_STREQ(error.what(), "Unknown target type");
    }
}

}  // namespace
