// The keyword handlers and typed setters: what they store, what they refuse with which
// message, and that a refusal leaves the state as it was.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "OptionTestSupport.h"

namespace {

// Runs an option and returns the FFMpegException message it raised ("" when none).
std::string Refusal(TTestOptions& options, const std::string& keyword, const std::string& value) {
    return MessageOf<FFMpegException>([&] { options.ParseOption(keyword, value); });
}

using HandlerTest = OptionTest;

// ---- Formats.

TEST_F(HandlerTest, PgmyuvIsTheImageSequenceFormatWithItsCompatibilityFlag) {
    Options().SetInputFormat("pgmyuv");
    ASSERT_NE(Options().ForcedInputFormat, nullptr);
    EXPECT_STREQ(Options().ForcedInputFormat->name, "image2");
    EXPECT_EQ(Options().ImageSequenceCompat, 1);
    EXPECT_EQ(Options().Log,
              (std::vector<TLogLine>{{1, "pgmyuv format is deprecated, use image2"}}));
    Options().ParseOption("f", "pgmyuv");
    EXPECT_STREQ(Options().ForcedOutputFormat->name, "image2");
}

TEST_F(HandlerTest, FormatsAreLookedUpOnTheirSide) {
    Options().SetOutputFormat("mp4");
    EXPECT_EQ(Options().ForcedInputFormat, nullptr);
    EXPECT_STREQ(Options().ForcedOutputFormat->name, "mp4");
    // "f" forces both sides; a format that only muxes leaves the input side without one.
    Options().ParseOption("f", "null");
    EXPECT_EQ(Options().ForcedInputFormat, nullptr);
    EXPECT_STREQ(Options().ForcedOutputFormat->name, "null");
    // Empty names change nothing.
    Options().SetInputFormat("");
    Options().SetOutputFormat("");
    Options().ParseOption("f", "");
    EXPECT_STREQ(Options().ForcedOutputFormat->name, "null");
}

TEST_F(HandlerTest, UnknownFormatsAreRefusedAndChangeNothing) {
    Options().ParseOption("f", "mp4");
    const std::string before = DescribeOptionState(Options());
    EXPECT_EQ(MessageOf<FFMpegException>([&] { Options().SetInputFormat("nonesuch"); }),
              "Unknown input format: nonesuch");
    EXPECT_EQ(MessageOf<FFMpegException>([&] { Options().SetOutputFormat("nonesuch"); }),
              "Unknown output format: nonesuch");
    EXPECT_EQ(Refusal(Options(), "f", "nonesuch"), "Unknown input or output format: nonesuch");
    EXPECT_EQ(DescribeOptionState(Options()), before);
}

// ---- Geometry.

TEST_F(HandlerTest, FrameSizeStoresOddSizesBeforeRefusingThem) {
    EXPECT_EQ(Refusal(Options(), "s", "640x481"), "Frame size must be a multiple of 2");
    EXPECT_EQ(Options().FrameWidth, 640);
    EXPECT_EQ(Options().FrameHeight, 481);
    EXPECT_EQ(Refusal(Options(), "s", "big"), "Incorrect frame size");
    EXPECT_EQ(Options().FrameHeight, 481);
    Options().ParseOption("s", "");
    EXPECT_EQ(Options().FrameHeight, 481);
}

TEST_F(HandlerTest, FrameRatesTheLibraryRefusesAreRefused) {
    Options().SetFrameRate("ntsc");
    EXPECT_EQ(Options().FrameRate.num, 30000);
    EXPECT_EQ(Options().FrameRate.den, 1001);
    for (const char* text : {"fast", "-25", "0"})
        EXPECT_EQ(Refusal(Options(), "r", text), "Incorrect frame rate") << text;
    EXPECT_EQ(Options().FrameRate.num, 30000);
}

TEST_F(HandlerTest, CropChecksEvennessAndTheRemainingPicture) {
    // No frame size yet: every crop is outside the picture.
    EXPECT_EQ(Refusal(Options(), "cropleft", "0"),
              "Horizontal crop dimensions are outside the range of the original image.\n"
              "Remember to crop first and scale second.");
    Options().ParseOption("s", "640x480");
    EXPECT_EQ(Refusal(Options(), "croptop", "480"),
              "Vertical crop dimensions are outside the range of the original image.\n"
              "Remember to crop first and scale second.");
    Options().ParseOption("croptop", "8");
    EXPECT_EQ(Options().CropTop, 8);
    EXPECT_EQ(Options().FrameHeight, 472);
    Options().ParseOption("croptop", "-2");
    EXPECT_EQ(Options().CropTop, 8);
    EXPECT_EQ(Refusal(Options(), "croptop", "3"), "Top crop size must be a multiple of 2");
    EXPECT_EQ(Refusal(Options(), "cropbottom", "5"), "Bottom crop size must be a multiple of 2");
    EXPECT_EQ(Refusal(Options(), "cropleft", "7"), "Left crop size must be a multiple of 2");
    EXPECT_EQ(Refusal(Options(), "cropright", "9"), "Right crop size must be a multiple of 2");
    EXPECT_EQ(Refusal(Options(), "cropbottom", "472"),
              "Vertical crop dimensions are outside the range of the original image.\n"
              "Remember to crop first and scale second.");
    Options().SetCropLeft(40);
    Options().SetCropRight(600 - 2);
    EXPECT_EQ(Options().FrameWidth, 2);
    EXPECT_EQ(Options().FrameHeight, 472);
}

TEST_F(HandlerTest, PadChecksEvennessAndLeavesTheFrameSize) {
    Options().ParseOption("s", "320x240");
    Options().ParseOption("padtop", "16");
    Options().SetPadLeft(-4);
    EXPECT_EQ(Options().PadTop, 16);
    EXPECT_EQ(Options().PadLeft, 0);
    EXPECT_EQ(Refusal(Options(), "padtop", "1"), "Top pad size must be a multiple of 2");
    EXPECT_EQ(Refusal(Options(), "padbottom", "3"), "Bottom pad size must be a multiple of 2");
    EXPECT_EQ(Refusal(Options(), "padleft", "5"), "Left pad size must be a multiple of 2");
    EXPECT_EQ(Refusal(Options(), "padright", "7"), "Right pad size must be a multiple of 2");
    EXPECT_EQ(Options().FrameWidth, 320);
    EXPECT_EQ(Options().FrameHeight, 240);
    EXPECT_EQ(Options().PadTop, 16);
}

struct TPadColorCase {
    const char* Name;
    uint32_t Color;  // red in the low byte
    int Y, U, V;     // low bytes
};

class PadColors : public OptionTest, public ::testing::WithParamInterface<TPadColorCase> {};

TEST_P(PadColors, BecomeYuvWithTheFixedPointCoefficients) {
    const TPadColorCase& c = GetParam();
    Options().SetPadColor(c.Color);
    EXPECT_EQ(Options().PadColor[0], c.Y);
    EXPECT_EQ(Options().PadColor[1] & 0xFF, c.U);
    EXPECT_EQ(Options().PadColor[2] & 0xFF, c.V);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PadColors,
    ::testing::Values(TPadColorCase{"Black", 0x000000, 0, 128, 128},
                      TPadColorCase{"White", 0xFFFFFF, 255, 128, 128},
                      TPadColorCase{"Red", 0x0000FF, 76, 85, 255},
                      TPadColorCase{"Green", 0x00FF00, 150, 43, 21},
                      TPadColorCase{"Blue", 0xFF0000, 29, 255, 107},
                      TPadColorCase{"HighByteIgnored", 0xFF000000, 0, 128, 128}),
    [](const ::testing::TestParamInfo<TPadColorCase>& testInfo) { return testInfo.param.Name; });

TEST_F(HandlerTest, PadColorDefaultIsVideoBlackAndRedWrapsInThirtyTwoBits) {
    EXPECT_EQ(Options().PadColor[0], 16);
    EXPECT_EQ(Options().PadColor[1], 128);
    EXPECT_EQ(Options().PadColor[2], 128);
    Options().ParseOption("padcolor", "255");
    // (512*0 - 173*255 - 340*0 + 511) wraps around in 32 bits before the logical shift.
    EXPECT_EQ(Options().PadColor[1], static_cast<int32_t>(((0u - 44115u + 511u) >> 10) + 128u));
}

struct TAspectCase {
    const char* Name;
    const char* Text;
    float Ratio;  // 0: refused
};

class Aspects : public OptionTest, public ::testing::WithParamInterface<TAspectCase> {};

TEST_P(Aspects, AreARatioOrANumber) {
    const TAspectCase& c = GetParam();
    Options().FrameAspectRatio = 0.5f;
    if (c.Ratio == 0.0f) {
        EXPECT_EQ(Refusal(Options(), "aspect", c.Text), "Incorrect aspect ratio specification.");
        EXPECT_FLOAT_EQ(Options().FrameAspectRatio, 0.5f);
    } else {
        Options().SetFrameAspect(c.Text);
        EXPECT_FLOAT_EQ(Options().FrameAspectRatio, c.Ratio);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Aspects,
    ::testing::Values(TAspectCase{"Wide", "16:9", 16.0f / 9.0f}, TAspectCase{"Number", "1.5", 1.5f},
                      TAspectCase{"NegativeKept", "-4:3", -4.0f / 3.0f},
                      TAspectCase{"HexParts", "$10:$9", 16.0f / 9.0f},
                      TAspectCase{"ZeroDenominator", "4:0", 0.0f},
                      TAspectCase{"NegativeDenominator", "4:-3", 0.0f},
                      TAspectCase{"Zero", "0", 0.0f}, TAspectCase{"Letters", "wide", 0.0f},
                      TAspectCase{"TwoColons", "4:3:1", 0.0f},
                      TAspectCase{"LettersInRatio", "a:3", 0.0f}, TAspectCase{"Blank", " ", 0.0f}),
    [](const ::testing::TestParamInfo<TAspectCase>& testInfo) { return testInfo.param.Name; });

TEST_F(HandlerTest, PixelFormatListReportsEveryFormatAndChangesNothing) {
    Options().ParseOption("pix_fmt", "yuv420p");
    Options().ParseOption("pix_fmt", "list");
    EXPECT_EQ(Options().FramePixelFormat, AV_PIX_FMT_YUV420P);
    int formats = 0;
    while (LibAVUtil.av_pix_fmt_desc_get(AVPixelFormat(formats))) ++formats;
    ASSERT_EQ(Options().Log.size(), static_cast<size_t>(formats) + 1);
    EXPECT_EQ(Options().Log[0], (TLogLine{1, "name nb_components nb_bits"}));
    EXPECT_EQ(Options().Log[1].text.rfind("yuv420p ", 0), 0u) << Options().Log[1].text;
    for (const TLogLine& line : Options().Log) {
        EXPECT_EQ(line.level, 1);
        EXPECT_EQ(line.text, TrimText(line.text));
    }
    // An unknown name is the library's "none", not an error.
    Options().ParseOption("pix_fmt", "purple");
    EXPECT_EQ(Options().FramePixelFormat, AV_PIX_FMT_NONE);
}

// ---- Quality, codecs, tags.

TEST_F(HandlerTest, QscaleMustLieInItsRange) {
    Options().ParseOption("qscale", "255");
    EXPECT_FLOAT_EQ(Options().VideoQuantiserScale, 255.0f);
    for (const char* text : {"0", "255.5", "-1"})
        EXPECT_EQ(Refusal(Options(), "qscale", text), "qscale must be > 0.0 and <= 255") << text;
    EXPECT_FLOAT_EQ(Options().VideoQuantiserScale, 255.0f);
}

TEST_F(HandlerTest, CopyIsAFlagThatALaterCodecNameDoesNotClear) {
    Options().ParseOption("acodec", "copy");
    EXPECT_EQ(Options().AudioStreamCopy, 1);
    EXPECT_EQ(Options().AudioCodecName, "");
    Options().SetAudioCodec("mp2");
    EXPECT_EQ(Options().AudioCodecName, "mp2");
    EXPECT_EQ(Options().AudioStreamCopy, 1);
    Options().SetAudioCodec("");
    EXPECT_EQ(Options().AudioCodecName, "mp2");
    Options().ParseOption("vcodec", "copy");
    Options().ParseOption("scodec", "dvdsub");
    EXPECT_EQ(Options().VideoStreamCopy, 1);
    EXPECT_EQ(Options().SubtitleCodecName, "dvdsub");
    EXPECT_EQ(Options().SubtitleStreamCopy, 0);
}

TEST_F(HandlerTest, CodecTagsAreFourCharactersFirstInTheLowByte) {
    Options().SetVideoTag("DIVX");
    EXPECT_EQ(Options().VideoCodecTag & 0xFF, uint32_t('D'));
    EXPECT_EQ(Options().VideoCodecTag >> 24, uint32_t('X'));
    EXPECT_EQ(MessageOf<EAssertionFailed>([&] { Options().ParseOption("vtag", "DIVX5"); }),
              "video tag parameter must be 4 chars");
    EXPECT_EQ(MessageOf<EAssertionFailed>([&] { Options().SetAudioTag("mp4"); }),
              "audio tag parameter must be 4 chars");
    EXPECT_EQ(Options().VideoCodecTag >> 24, uint32_t('X'));
    EXPECT_EQ(Options().AudioCodecTag, 0u);
    Options().SetVideoTag("");
    EXPECT_EQ(Options().VideoCodecTag & 0xFF, uint32_t('D'));
}

// ---- Maps.

TEST_F(HandlerTest, StreamMapsReadFileStreamAndSyncSource) {
    Options().ParseOption("map", "0.1");
    Options().ParseOption("map", "0.1:1.0");
    Options().ParseOption("map", "0x1.010");  // hexadecimal file, octal stream
    Options().ParseOption("map", "2");
    ASSERT_EQ(Options().StreamMapCount, 4);
    auto text = [](const TStreamMap& m) {
        return std::to_string(m.FileIndex) + "." + std::to_string(m.StreamIndex) + ":" +
               std::to_string(m.SyncFileIndex) + "." + std::to_string(m.SyncStreamIndex);
    };
    EXPECT_EQ(text(Options().StreamMaps[0]), "0.1:0.1");
    EXPECT_EQ(text(Options().StreamMaps[1]), "0.1:1.0");
    EXPECT_EQ(text(Options().StreamMaps[2]), "1.8:1.8");
    EXPECT_EQ(text(Options().StreamMaps[3]), "2.0:2.0");
}

TEST_F(HandlerTest, ATwentyFirstMapIsRefusedAndTheTableKept) {
    for (int i = 0; i < MAX_STREAM_MAPS; ++i)
        Options().ParseOption("map", "0." + std::to_string(i));
    for (int i = 0; i < MAX_META_DATA_MAPS; ++i)
        Options().ParseOption("map_meta_data", std::to_string(i) + ":0");
    const std::string before = DescribeOptionState(Options());
    EXPECT_EQ(Refusal(Options(), "map", "0.0"), "Too many stream maps (at most 20)");
    EXPECT_EQ(Refusal(Options(), "map_meta_data", "0:0"), "Too many meta-data maps (at most 20)");
    EXPECT_EQ(DescribeOptionState(Options()), before);
    EXPECT_EQ(Options().StreamMaps[19].StreamIndex, 19);
    EXPECT_EQ(Options().MetaDataMaps[19].OutFile, 19);
}

TEST_F(HandlerTest, MetaDataMapsReadOutputThenInput) {
    Options().ParseOption("map_meta_data", "1:0");
    Options().ParseOption("map_meta_data", "2");
    ASSERT_EQ(Options().MetaDataMapCount, 2);
    EXPECT_EQ(Options().MetaDataMaps[0].OutFile, 1);
    EXPECT_EQ(Options().MetaDataMaps[0].InFile, 0);
    EXPECT_EQ(Options().MetaDataMaps[1].OutFile, 2);
    EXPECT_EQ(Options().MetaDataMaps[1].InFile, 0);
}

TEST_F(HandlerTest, TimestampScalesAreForTheNextInputsStreams) {
    Options().InputFileCount = 2;
    Options().ParseOption("itsscale", "3:2.0");
    EXPECT_DOUBLE_EQ(Options().InputTimeScales[2][3], 2.0);
    EXPECT_DOUBLE_EQ(Options().InputTimeScales[0][3], 0.0);
    const std::string before = DescribeOptionState(Options());
    EXPECT_EQ(Refusal(Options(), "itsscale", "25:1.0"), "stream index over MAX_STREAMS(20)");
    EXPECT_EQ(Refusal(Options(), "itsscale", "-1:1.0"), "stream index over MAX_STREAMS(20)");
    EXPECT_EQ(Refusal(Options(), "itsscale", "99999999999:1.0"),
              "stream index over MAX_STREAMS(20)");
    EXPECT_EQ(Refusal(Options(), "itsscale", "1:inf"),
              "Invalid timestamp scale for stream 1: 1:inf");
    EXPECT_EQ(DescribeOptionState(Options()), before);
    // After the last input there is no next one.
    Options().InputFileCount = MAX_FILES;
    EXPECT_EQ(Refusal(Options(), "itsscale", "0:1.0"), "input file index over MAX_FILES(20)");
}

// ---- Times.

TEST_F(HandlerTest, DurationsAreMicrosecondsAndTheRecordingTimeAlsoSetsTheJobLength) {
    Options().ParseOption("t", "00:01:30");
    EXPECT_EQ(Options().RecordingTime, 90000000);
    EXPECT_EQ(Options().SourceDurationMs, 90000);
    Options().ParseOption("t", "0");
    Options().ParseOption("t", "-5");
    Options().ParseOption("t", "0.0005");  // below a millisecond
    EXPECT_EQ(Options().RecordingTime, 90000000);
    Options().ParseOption("ss", "1:00");
    Options().ParseOption("itsoffset", "-0.5");
    EXPECT_EQ(Options().StartTime, 60000000);
    EXPECT_EQ(Options().InputTimeOffset, -500000);
}

TEST_F(HandlerTest, DurationsLongerThanTheMillisecondCountAreKeptExactly) {
    Options().ParseOption("t", "1000:00:00");
    EXPECT_EQ(Options().RecordingTime, int64_t{3600000000000});
    EXPECT_EQ(Options().SourceDurationMs, INT32_MAX);
}

TEST_F(HandlerTest, TimesTheLibraryCannotReadAreRefused) {
    const std::string before = DescribeOptionState(Options());
    EXPECT_EQ(Refusal(Options(), "t", "soon"), "Invalid duration specification for t: soon");
    EXPECT_EQ(Refusal(Options(), "ss", ""), "Invalid duration specification for ss: ");
    EXPECT_EQ(Refusal(Options(), "itsoffset", "1:xx"),
              "Invalid duration specification for itsoffset: 1:xx");
    EXPECT_EQ(Refusal(Options(), "timestamp", "yesterday"),
              "Invalid date specification for timestamp: yesterday");
    EXPECT_EQ(Refusal(Options(), "trim", "x-2"), "Invalid time \"x\" in the range \"x-2\"");
    EXPECT_EQ(Refusal(Options(), "trim", "5-2"),
              "Invalid range \"5-2\": its end is not after its start");
    EXPECT_EQ(Refusal(Options(), "trim", "1-5, 4-"), "The range \"4-\" overlaps an earlier one");
    EXPECT_EQ(Refusal(Options(), "trim", "3"), "Invalid range \"3\": START-END expected");
    EXPECT_EQ(Refusal(Options(), "loudness", "I=-80:TP=-1"),
              "loudness: the target -80.0 LUFS is outside -70 ... -5");
    EXPECT_EQ(Refusal(Options(), "loudness", "TP=-1"),
              "loudness: \"TP=-1\" needs either I=LUFS or gain=dB");
    EXPECT_EQ(Refusal(Options(), "loudness", "I=-16:TP=1"),
              "loudness: the true-peak ceiling 1.0 dBTP is outside -9 ... 0");
    EXPECT_EQ(Refusal(Options(), "loudness", "I=loud"),
              "loudness: \"loud\" is not a number (in \"I=loud\")");
    EXPECT_TRUE(Options().Loudness.empty());
    EXPECT_TRUE(Options().TrimRanges.empty());
    EXPECT_EQ(DescribeOptionState(Options()), before);
}

TEST_F(HandlerTest, TimestampsRoundToTheNearestSecondHalvesToEven) {
    Options().ParseOption("timestamp", "2008-03-01 12:00:00.5Z");
    EXPECT_EQ(Options().RecordingTimestamp, 1204372800);
    Options().ParseOption("timestamp", "2008-03-01 12:00:01.5Z");
    EXPECT_EQ(Options().RecordingTimestamp, 1204372802);
    Options().ParseOption("timestamp", "2008-03-01 12:00:01.6Z");
    EXPECT_EQ(Options().RecordingTimestamp, 1204372802);
}

TEST_F(HandlerTest, TypedSettersTakeOnlyValuesInTheirRange) {
    Options().SetRecordingTimeMs(3600000);
    EXPECT_EQ(Options().RecordingTime, int64_t{3600000000});
    EXPECT_EQ(Options().SourceDurationMs, 3600000);
    const std::string afterHour = DescribeOptionState(Options());
    Options().SetRecordingTimeMs(0);
    Options().SetRecordingTimeMs(-1);
    Options().SetStartTimeUs(0);
    Options().SetStartTimeUs(-7);
    Options().SetProgramId(-1);
    Options().SetAudioSampleRate(0);
    Options().SetAudioChannels(-1);
    Options().ParseOption("ar", "0");
    Options().ParseOption("ac", "-1");
    Options().SetAudioVolume(-1);
    Options().SetMuxPreload(0.0f);
    Options().SetMuxMaxDelay(-0.5f);
    Options().SetYear(0);
    Options().SetTrack(-3);
    EXPECT_EQ(DescribeOptionState(Options()), afterHour);
    EXPECT_EQ(Options().AudioSampleRate, 44100);
    EXPECT_EQ(Options().AudioChannels, 2);

    Options().SetStartTimeUs(5);
    Options().SetProgramId(0);
    Options().SetAudioVolume(0);
    Options().SetMuxPreload(0.25f);
    Options().SetMuxMaxDelay(1.5f);
    Options().SetYear(2008);
    Options().SetTrack(4);
    Options().SetAudioSyncMethod(-3);
    Options().SetVideoSyncMethod(7);
    EXPECT_EQ(Options().StartTime, 5);
    EXPECT_EQ(Options().AudioVolume, 0);
    EXPECT_FLOAT_EQ(Options().MuxPreload, 0.25f);
    EXPECT_FLOAT_EQ(Options().MuxMaxDelay, 1.5f);
    EXPECT_EQ(Options().Year + Options().Track, 2012);
    EXPECT_EQ(Options().AudioSyncMethod, -3);
    EXPECT_EQ(Options().VideoSyncMethod, 7);
}

TEST_F(HandlerTest, VerboseSetsTheLibraryLevelToo) {
    Options().SetVerbose(-1);
    EXPECT_EQ(LibAVUtil.av_log_get_level(), AV_LOG_QUIET);
    EXPECT_EQ(CurrentLogLevel, -1);
    Options().ParseOption("v", "2");
    EXPECT_EQ(Options().Verbose, 2);
    EXPECT_EQ(LibAVUtil.av_log_get_level(), AV_LOG_DEBUG);
}

// ---- Two-pass, matrices, statistics file.

TEST_F(HandlerTest, PassIsOneOrTwo) {
    Options().ParseOption("pass", "1");
    for (const char* text : {"3", "0", "-1"})
        EXPECT_EQ(Refusal(Options(), "pass", text), "pass number can be only 1 or 2");
    EXPECT_EQ(Options().Pass, 1);
}

std::string MatrixText(int count, int first = 1) {
    std::string text;
    for (int i = 0; i < count; ++i) text += (i ? "," : "") + std::to_string(first + i);
    return text;
}

TEST_F(HandlerTest, MatricesHoldSixtyFourCoefficients) {
    Options().ParseOption("intra_matrix", MatrixText(64) + ",99,junk");
    ASSERT_EQ(Options().IntraMatrix.size(), 64u);
    EXPECT_EQ(Options().IntraMatrix[0], 1);
    EXPECT_EQ(Options().IntraMatrix[63], 64);
    Options().ParseOption("inter_matrix", " 16, 17" + std::string(62, ','));
    ASSERT_EQ(Options().InterMatrix.size(), 64u);
    EXPECT_EQ(Options().InterMatrix[1], 17);
    EXPECT_EQ(Options().InterMatrix[2], 0);

    const std::string short63 = MatrixText(63, 100);
    EXPECT_EQ(Refusal(Options(), "intra_matrix", short63),
              "Syntax error in matrix \"" + short63 + "\" at coeff 62");
    EXPECT_EQ(Refusal(Options(), "inter_matrix", ""), "Syntax error in matrix \"\" at coeff 0");
    EXPECT_EQ(Options().IntraMatrix[0], 1) << "a refused matrix keeps the previous one";
    EXPECT_EQ(Options().InterMatrix[1], 17);
}

TEST_F(HandlerTest, StatisticsFileIsNamedBesideTheProgramWithTheTime) {
    Options().ParseOption("vstats_file", "/tmp/stats.log");
    EXPECT_EQ(Options().VideoStatsFileName, "/tmp/stats.log");
    Options().ParseOption("vstats", "");
    const std::string folder =
        std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/";
    const std::string& name = Options().VideoStatsFileName;
    ASSERT_EQ(name.rfind(folder, 0), 0u) << name;
    EXPECT_TRUE(std::regex_match(name.substr(folder.size()), std::regex("vstats_[0-9]{6}\\.log")))
        << name;
}

// ---- Frame hooks.

class VideoHooks : public OptionTest {
  protected:
    void SetUp() override {
        OptionTest::SetUp();
        if (HasFatalFailure()) return;
        previousFolder_ = std::filesystem::current_path();
        const char* path = getenv("PATH");
        previousPath_ = path ? path : "";
    }
    void TearDown() override {
        std::filesystem::current_path(previousFolder_);
        setenv("PATH", previousPath_.c_str(), 1);
        OptionTest::TearDown();
    }

    // What the test module saw in its last Configure call.
    template <typename T>
    T* ModuleValue(const char* name) {
        void* handle = dlopen(kModule.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (!handle) return nullptr;
        void* symbol = dlsym(handle, name);
        dlclose(handle);
        return static_cast<T*>(symbol);
    }
    std::vector<std::string> LastArguments() {
        std::vector<std::string> arguments;
        std::string joined = ModuleValue<char>("LastArguments");
        size_t start = 0;
        for (size_t end; (end = joined.find('\n', start)) != std::string::npos; start = end + 1)
            arguments.push_back(joined.substr(start, end - start));
        arguments.push_back(joined.substr(start));
        return arguments;
    }

    const std::string kModule = DZ_OPTION_TEST_HOOK;
    const std::string kModuleFolder = std::filesystem::path(kModule).parent_path().string();
    std::filesystem::path previousFolder_;
    std::string previousPath_;
};

TEST_F(VideoHooks, AModuleWithArgumentsIsConfiguredInItsFolder) {
    Options().ParseOption("vhook", kModule + "|-c|red box");
    EXPECT_TRUE(Options().FrameHooksInUse);
    ASSERT_NE(Options().FrameHooks, nullptr);
    EXPECT_EQ(Options().FrameHooks->Next, nullptr);
    EXPECT_EQ(*ModuleValue<int>("LastArgumentCount"), 3);
    EXPECT_EQ(LastArguments(), (std::vector<std::string>{kModule, "-c", "red box"}));
    EXPECT_EQ(std::string(ModuleValue<char>("LastFolder")), kModuleFolder);
    EXPECT_EQ(std::filesystem::current_path(), previousFolder_);
    const std::string path = getenv("PATH");
    EXPECT_EQ(path.rfind(kModuleFolder + ":", 0), 0u) << path;

    // Without "|" the arguments are separated by spaces; the hook joins the chain.
    Options().ParseOption("vhook", kModule + " one  two");
    ASSERT_NE(Options().FrameHooks->Next, nullptr);
    EXPECT_EQ(LastArguments(), (std::vector<std::string>{kModule, "one", "two"}));
    EXPECT_EQ(getenv("PATH"), path) << "the folder is added once";

    const int releasesBefore = *ModuleValue<int>("ReleaseCalls");
    Options().FreeOptionState();
    EXPECT_EQ(Options().FrameHooks, nullptr);
    EXPECT_EQ(*ModuleValue<int>("ReleaseCalls"), releasesBefore + 2);
}

TEST_F(VideoHooks, ARelativeModuleNameIsFoundFromItsFolder) {
    const std::filesystem::path module(kModule);
    std::filesystem::current_path(module.parent_path().parent_path());
    const std::string relative = (module.parent_path().filename() / module.filename()).string();
    Options().ParseOption("vhook", relative + " x");
    EXPECT_EQ(LastArguments(), (std::vector<std::string>{kModule, "x"}));
    EXPECT_EQ(std::filesystem::current_path(), module.parent_path().parent_path());
}

TEST_F(VideoHooks, TheSampleModuleGetsItsArgumentsAndDrawsWithThem) {
    const std::string drawbox = DZ_DRAWBOX_HOOK;
    const std::string refused = drawbox + "|-w|0|-h|4";
    EXPECT_EQ(Refusal(Options(), "vhook", refused),
              "Failed to add video hook function: " + refused);
    Options().ParseOption("vhook", drawbox + "|-x|2|-y|2|-w|4|-h|4|-c|255,128,128");
    ASSERT_NE(Options().FrameHooks, nullptr);

    // A black 8x8 YUV 4:2:0 picture: the box turns its luma white, and nothing else.
    std::vector<uint8_t> luma(64, 0), blue(16, 128), red(16, 128);
    TFrameHookPicture picture{{luma.data(), blue.data(), red.data(), nullptr}, {8, 4, 4, 0}};
    RunFrameHooks(Options().FrameHooks, &picture, AV_PIX_FMT_YUV420P, 8, 8, 0);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(luma[y * 8 + x], x >= 2 && x < 6 && y >= 2 && y < 6 ? 255 : 0)
                << x << "," << y;
}

TEST_F(VideoHooks, AtMostSixtyFourTokensAreTaken) {
    std::string value = kModule;
    for (int i = 1; i < 70; ++i) value += "|" + std::to_string(i);
    Options().ParseOption("vhook", value);
    EXPECT_EQ(*ModuleValue<int>("LastArgumentCount"), 64);
    EXPECT_EQ(LastArguments().back(), "63");
}

TEST_F(VideoHooks, AModuleThatCannotBeAddedIsRefusedWithTheValue) {
    TTempDir folder;
    const std::string missing = folder.File("missing.so") + "|a";
    for (const std::string& value :
         {missing, std::string(), std::string("|||"), std::string("/no/such/folder/hook.so")}) {
        const std::string before = DescribeOptionState(Options());
        EXPECT_EQ(Refusal(Options(), "vhook", value),
                  "Failed to add video hook function: " + value);
        EXPECT_EQ(DescribeOptionState(Options()), before);
        EXPECT_EQ(std::filesystem::current_path(), previousFolder_);
    }
    EXPECT_FALSE(Options().FrameHooksInUse);
}

// ---- Defaults and what the set-up consumes.

TEST_F(HandlerTest, DefaultsUndoEveryOption) {
    const std::string fresh = DescribeOptionState(Options());
    Options().ApplyOptionText(
        "s=640x480\ncroptop=8\npadleft=2\npadcolor=255\nr=25\nmap=0.1\nmap_meta_data=0:0\n"
        "itsscale=1:2\nvcodec=copy\nacodec=mp2\nscodec=dvdsub\nalang=eng\nslang=fra\n"
        "t=10\nss=2\ntimestamp=now\nitsoffset=1\ntitle=x\nintra_matrix=" +
        MatrixText(64) +
        "\nvstats\nrc_override=0,1,2\ntvstd=pal\nb=100000\nmuxrate=1411200\n"
        "vn\nan\nsn\nf=mp4\npix_fmt=rgb24\naspect=4:3\nqscale=2\nvol=512");
    ASSERT_NE(DescribeOptionState(Options()), fresh);
    Options().ApplyOptionDefaults();
    EXPECT_EQ(DescribeOptionState(Options()), fresh);
    EXPECT_TRUE(Options().PrivateOptions.empty());
    // The templates stay: defaults free nothing.
    EXPECT_NE(Options().FormatOptionContext, nullptr);
}

TEST_F(HandlerTest, SetUpConsumesOnlyItsOwnFields) {
    auto fill = [&] {
        Options().SetVideoCodec("copy");
        Options().SetSubtitleCodec("copy");
        Options().ApplyOptionText(
            "f=mp4\nvc=2\nre\nvcodec=mpeg4\nacodec=copy\nscodec=dvdsub\nvn\nan\nsn\n"
            "alang=eng\nslang=fra\ns=320x240\nar=22050\nss=1\ntitle=kept");
    };
    fill();
    Options().ClearInputScopedOptions();
    EXPECT_EQ(Options().ForcedInputFormat, nullptr);
    EXPECT_EQ(Options().ForcedOutputFormat, nullptr);
    EXPECT_EQ(Options().VideoChannel + Options().RateEmulation, 0);
    EXPECT_EQ(Options().VideoCodecName + Options().AudioCodecName + Options().SubtitleCodecName,
              "");
    EXPECT_EQ(Options().VideoStreamCopy + Options().AudioStreamCopy + Options().SubtitleStreamCopy,
              3)
        << "copy is consumed per output stream";
    EXPECT_EQ(Options().StartTime, 1000000) << "the input's seek consumes the start time";

    fill();
    Options().ClearOutputScopedOptions();
    EXPECT_EQ(Options().ForcedOutputFormat, nullptr);
    EXPECT_EQ(Options().VideoChannel, 2);

    Options().ClearVideoStreamOptions();
    EXPECT_EQ(Options().VideoDisabled + Options().VideoStreamCopy, 0);
    EXPECT_EQ(Options().VideoCodecName, "");
    EXPECT_EQ(Options().AudioDisabled, 1);
    Options().ClearAudioStreamOptions();
    EXPECT_EQ(Options().AudioDisabled + Options().AudioStreamCopy, 0);
    EXPECT_EQ(Options().AudioLanguage + Options().AudioCodecName, "");
    EXPECT_EQ(Options().SubtitleLanguage, "fra");
    Options().ClearSubtitleStreamOptions();
    EXPECT_EQ(Options().SubtitleDisabled + Options().SubtitleStreamCopy, 0);
    EXPECT_EQ(Options().SubtitleLanguage + Options().SubtitleCodecName, "");
    // Sticky fields carry over to every later input and output.
    EXPECT_EQ(Options().FrameWidth, 320);
    EXPECT_EQ(Options().AudioSampleRate, 22050);
    EXPECT_EQ(Options().Title, "kept");
}

}  // namespace
