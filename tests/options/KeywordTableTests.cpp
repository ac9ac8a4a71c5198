// The keyword table row by row: what each keyword stores, which ones are ignored or refused,
// how values that do not convert are refused, exact matching, and which keywords take values.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "OptionTestSupport.h"

namespace {

template <typename T>
std::string Text(const T& value) {
    if constexpr (std::is_same_v<T, bool>) {
        return value ? "true" : "false";
    } else if constexpr (std::is_floating_point_v<T>) {
        char text[64];
        std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
        return text;
    } else if constexpr (std::is_integral_v<T>) {
        return std::to_string(value);
    } else {
        return std::string(value);
    }
}

#define FIELD(expression) [](const TFFmpegOptions& o) { return Text(o.expression); }

using TField = std::function<std::string(const TFFmpegOptions&)>;
using TOptionList = std::vector<std::pair<std::string, std::string>>;

struct TStoreCase {
    std::string Name;
    TOptionList Before;  // applied first, e.g. a frame size for a crop
    std::string Keyword;
    std::string Value;
    TField Field;
    std::string Expected;
};

std::ostream& operator<<(std::ostream& out, const TStoreCase& c) {
    return out << c.Name;
}

const std::vector<TStoreCase>& StoreCases() {
    static const std::vector<TStoreCase> cases = {
        {"Format",
         {},
         "f",
         "matroska",
         [](const TFFmpegOptions& o) {
             return std::string(o.ForcedInputFormat ? o.ForcedInputFormat->name : "none") + "/" +
                    (o.ForcedOutputFormat ? o.ForcedOutputFormat->name : "none");
         },
         "matroska,webm/matroska"},
        {"Map", {}, "map", "0.1", FIELD(StreamMaps[0].StreamIndex), "1"},
        {"MetaDataMap", {}, "map_meta_data", "1:0", FIELD(MetaDataMaps[0].OutFile), "1"},
        {"RecordingTime", {}, "t", "00:01:30", FIELD(RecordingTime), "90000000"},
        {"FileSizeLimit", {}, "fs", "123456789012", FIELD(FileSizeLimit), "123456789012"},
        {"StartTime", {}, "ss", "1.5", FIELD(StartTime), "1500000"},
        {"TrimRanges",
         {},
         "trim",
         "61-,1:00.5-61",
         [](const TFFmpegOptions& o) {
             std::string text;
             for (const auto& [start, end] : o.TrimRanges)
                 text += std::to_string(start) + "-" +
                         (end == INT64_MAX ? std::string() : std::to_string(end)) + ";";
             return text;
         },
         "61000000-;60500000-61000000;"},
        {"InputTimeOffset", {}, "itsoffset", "-2", FIELD(InputTimeOffset), "-2000000"},
        {"InputTimeScale", {}, "itsscale", "3:2.0", FIELD(InputTimeScales[0][3]), "2"},
        {"Title", {}, "title", "A title", FIELD(Title), "A title"},
        {"Timestamp",
         {},
         "timestamp",
         "2008-03-01 12:00:00Z",
         FIELD(RecordingTimestamp),
         "1204372800"},
        {"Author", {}, "author", "Someone", FIELD(Author), "Someone"},
        {"Copyright", {}, "copyright", "(c) 2008", FIELD(Copyright), "(c) 2008"},
        {"Comment", {}, "comment", "none", FIELD(Comment), "none"},
        {"Genre", {}, "genre", "Jazz", FIELD(Genre), "Jazz"},
        {"Album", {}, "album", "Live", FIELD(Album), "Live"},
        {"DataFrames", {}, "dframes", "7", FIELD(FrameLimits[AVMEDIA_TYPE_DATA]), "7"},
        {"Dump", {}, "dump", "", FIELD(PacketDump), "1"},
        {"Hex", {}, "hex", "", FIELD(HexDump), "1"},
        {"RateEmulation", {}, "re", "", FIELD(RateEmulation), "1"},
        {"LoopInput", {}, "loop_input", "", FIELD(LoopInput), "1"},
        {"LoopOutput", {}, "loop_output", "3", FIELD(LoopOutput), "3"},
        {"Verbose", {}, "v", "0", FIELD(Verbose), "0"},
        {"VideoSync", {}, "vsync", "2", FIELD(VideoSyncMethod), "2"},
        {"AudioSync", {}, "async", "1", FIELD(AudioSyncMethod), "1"},
        {"DriftThreshold", {}, "adrift_threshold", "0.25", FIELD(AudioDriftThreshold), "0.25"},
        {"GlobalHeader", {}, "vglobal", "2", FIELD(VideoGlobalHeader), "2"},
        {"CopyTimestamps", {}, "copyts", "", FIELD(CopyTimestamps), "true"},
        {"Shortest", {}, "shortest", "", FIELD(Shortest), "1"},
        {"JumpThreshold", {}, "dts_delta_threshold", "2.5", FIELD(TimestampJumpThreshold), "2.5"},
        {"ProgramIdAnyValue", {}, "programid", "-5", FIELD(ProgramId), "-5"},
        {"BitRate",
         {},
         "b",
         "800000",
         [](const TFFmpegOptions& o) {
             int64_t value = 0;
             LibAVUtil.av_opt_get_int(o.CodecOptionContexts[AVMEDIA_TYPE_VIDEO].get(), "b", 0,
                                      &value);
             return Text(value);
         },
         "800000"},
        {"VideoBitRate",
         {},
         "vb",
         "900000",
         [](const TFFmpegOptions& o) {
             int64_t value = 0;
             LibAVUtil.av_opt_get_int(o.CodecOptionContexts[AVMEDIA_TYPE_VIDEO].get(), "b", 0,
                                      &value);
             return Text(value);
         },
         "900000"},
        {"VideoFrames", {}, "vframes", "250", FIELD(FrameLimits[AVMEDIA_TYPE_VIDEO]), "250"},
        {"FrameRate",
         {},
         "r",
         "30000/1001",
         [](const TFFmpegOptions& o) {
             return Text(o.FrameRate.num) + "/" + Text(o.FrameRate.den);
         },
         "30000/1001"},
        {"FrameSize",
         {},
         "s",
         "vga",
         [](const TFFmpegOptions& o) { return Text(o.FrameWidth) + "x" + Text(o.FrameHeight); },
         "640x480"},
        {"Aspect", {}, "aspect", "4:3", FIELD(FrameAspectRatio), "1.33333"},
        {"PixelFormat",
         {},
         "pix_fmt",
         "yuv422p",
         FIELD(FramePixelFormat),
         Text(int(AV_PIX_FMT_YUV422P))},
        {"CropTop",
         {{"s", "640x480"}},
         "croptop",
         "8",
         [](const TFFmpegOptions& o) { return Text(o.CropTop) + " " + Text(o.FrameHeight); },
         "8 472"},
        {"CropBottom",
         {{"s", "640x480"}},
         "cropbottom",
         "10",
         [](const TFFmpegOptions& o) { return Text(o.CropBottom) + " " + Text(o.FrameHeight); },
         "10 470"},
        {"CropLeft",
         {{"s", "640x480"}},
         "cropleft",
         "16",
         [](const TFFmpegOptions& o) { return Text(o.CropLeft) + " " + Text(o.FrameWidth); },
         "16 624"},
        {"CropRight",
         {{"s", "640x480"}},
         "cropright",
         "$20",
         [](const TFFmpegOptions& o) { return Text(o.CropRight) + " " + Text(o.FrameWidth); },
         "32 608"},
        {"PadTop", {}, "padtop", "8", FIELD(PadTop), "8"},
        {"PadBottom", {}, "padbottom", "10", FIELD(PadBottom), "10"},
        {"PadLeft", {}, "padleft", "12", FIELD(PadLeft), "12"},
        {"PadRight", {}, "padright", "14", FIELD(PadRight), "14"},
        {"PadColor",
         {},
         "padcolor",
         "$FFFFFF",
         [](const TFFmpegOptions& o) {
             return Text(o.PadColor[0]) + "," + Text(o.PadColor[1] & 0xFF) + "," +
                    Text(o.PadColor[2] & 0xFF);
         },
         "255,128,128"},
        {"Intra", {}, "intra", "", FIELD(IntraOnly), "1"},
        {"VideoDisabled", {}, "vn", "", FIELD(VideoDisabled), "1"},
        {"VideoDiscard", {}, "vdt", "48", FIELD(VideoDiscard), "48"},
        {"QScale", {}, "qscale", "3.5", FIELD(VideoQuantiserScale), "3.5"},
        {"RateControlOverride",
         {},
         "rc_override",
         "0,100,2",
         FIELD(RateControlOverride),
         "0,100,2"},
        {"VideoCodec", {}, "vcodec", "mpeg4", FIELD(VideoCodecName), "mpeg4"},
        {"HardwareDevice",
         {},
         "hwdevice",
         "/dev/dri/renderD128",
         FIELD(HardwareDevice),
         "/dev/dri/renderD128"},
        {"MotionThreshold", {}, "me_threshold", "5", FIELD(MotionEstimationThreshold), "5"},
        {"SameQuality", {}, "sameq", "", FIELD(SameQuality), "1"},
        {"Pass", {}, "pass", "2", FIELD(Pass), "2"},
        {"PassLogFile", {}, "passlogfile", "stats", FIELD(PassLogFileName), "stats"},
        {"Deinterlace", {}, "deinterlace", "", FIELD(Deinterlace), "1"},
        {"NoAutoRotate", {}, "noautorotate", "", FIELD(NoAutoRotate), "1"},
        {"Palette", {}, "palette", "colours.png", FIELD(PaletteFile), "colours.png"},
        {"Psnr", {}, "psnr", "", FIELD(Psnr), "1"},
        {"VideoStats",
         {},
         "vstats",
         "",
         [](const TFFmpegOptions& o) { return Text(!o.VideoStatsFileName.empty()); },
         "true"},
        {"VideoStatsFile",
         {},
         "vstats_file",
         "/tmp/v.log",
         FIELD(VideoStatsFileName),
         "/tmp/v.log"},
        {"IntraMatrix",
         {},
         "intra_matrix",
         "9" + std::string(63, ','),
         [](const TFFmpegOptions& o) {
             return o.IntraMatrix.empty() ? std::string("none") : Text(o.IntraMatrix[0]);
         },
         "9"},
        {"InterMatrix",
         {},
         "inter_matrix",
         "3" + std::string(63, ','),
         [](const TFFmpegOptions& o) {
             return o.InterMatrix.empty() ? std::string("none") : Text(o.InterMatrix[0]);
         },
         "3"},
        {"TopFieldFirst", {}, "top", "1", FIELD(TopFieldFirst), "1"},
        {"DcPrecision", {}, "dc", "10", FIELD(IntraDcPrecision), "10"},
        {"VideoTag",
         {},
         "vtag",
         "XVID",
         FIELD(VideoCodecTag),
         Text(uint32_t('X' | 'V' << 8 | 'I' << 16 | 'D' << 24))},
        {"QpHistogram", {}, "qphist", "", FIELD(QpHistogram), "1"},
        {"AudioBitRate",
         {},
         "ab",
         "192000",
         [](const TFFmpegOptions& o) {
             int64_t value = 0;
             LibAVUtil.av_opt_get_int(o.CodecOptionContexts[AVMEDIA_TYPE_AUDIO].get(), "b", 0,
                                      &value);
             return Text(value);
         },
         "192000"},
        {"AudioFrames", {}, "aframes", "9", FIELD(FrameLimits[AVMEDIA_TYPE_AUDIO]), "9"},
        {"AudioQuality", {}, "aq", "-3", FIELD(AudioQuantiserScale), "-3"},
        {"SampleRate", {}, "ar", "22050", FIELD(AudioSampleRate), "22050"},
        {"Channels", {}, "ac", "1", FIELD(AudioChannels), "1"},
        {"AudioDisabled", {}, "an", "", FIELD(AudioDisabled), "1"},
        {"AudioCodec", {}, "acodec", "mp2", FIELD(AudioCodecName), "mp2"},
        {"AudioTag",
         {},
         "atag",
         "mp4a",
         FIELD(AudioCodecTag),
         Text(uint32_t('m' | 'p' << 8 | '4' << 16 | 'a' << 24))},
        {"VolumeAnyValue", {}, "vol", "-10", FIELD(AudioVolume), "-10"},
        {"AudioLanguage", {}, "alang", "eng", FIELD(AudioLanguage), "eng"},
        {"AudioDisposition", {}, "adisposition", "none", FIELD(AudioDisposition), "0"},
        {"Loudness", {}, "loudness", "gain=-3.5:TP=-2", FIELD(Loudness), "gain=-3.5:TP=-2"},
        {"SubtitleDisabled", {}, "sn", "", FIELD(SubtitleDisabled), "1"},
        {"SubtitleCodec", {}, "scodec", "copy", FIELD(SubtitleStreamCopy), "1"},
        {"SubtitleLanguage", {}, "slang", "fra", FIELD(SubtitleLanguage), "fra"},
        {"SubtitleDisposition",
         {},
         "sdisposition",
         "default+forced",
         FIELD(SubtitleDisposition),
         Text(AV_DISPOSITION_DEFAULT | AV_DISPOSITION_FORCED)},
        {"VideoChannel", {}, "vc", "3", FIELD(VideoChannel), "3"},
        {"VideoStandard", {}, "tvstd", "pal", FIELD(VideoStandard), "pal"},
        {"InputSync", {}, "isync", "", FIELD(InputSync), "1"},
        {"MuxDelayAnyValue", {}, "muxdelay", "-1", FIELD(MuxMaxDelay), "-1"},
        {"MuxPreloadAnyValue", {}, "muxpreload", "0", FIELD(MuxPreload), "0"},
    };
    return cases;
}

// Keywords of the table that set nothing: reported and otherwise ignored, or refused.
const std::vector<std::string> kIgnored = {"L", "h",         "version", "formats", "i",
                                           "y", "benchmark", "apre",    "vpre",    "spre"};
const std::vector<std::string> kRefused = {"threads", "absf", "vbsf", "sbsf"};
// Keywords that the engine carries out itself (target presets, stream creation) and the
// frame-hook keyword, which needs a module (HandlerTests).
const std::vector<std::string> kEngineOwned = {"target", "newvideo", "newaudio", "newsubtitle",
                                               "vhook"};
// The switches: keywords that take no value on a command line.
const std::set<std::string> kSwitches = {
    "L",        "h",           "version",      "formats", "i",      "y",        "benchmark", "dump",
    "hex",      "re",          "loop_input",   "threads", "copyts", "shortest", "intra",     "vn",
    "sameq",    "deinterlace", "noautorotate", "psnr",    "vstats", "newvideo", "qphist",    "an",
    "newaudio", "sn",          "newsubtitle",  "isync",   "absf",   "vbsf",     "sbsf",      "apre",
    "vpre",     "spre"};

class KeywordStores : public OptionTest, public ::testing::WithParamInterface<TStoreCase> {};

TEST_P(KeywordStores, TheValueInItsField) {
    const TStoreCase& c = GetParam();
    for (const auto& [keyword, value] : c.Before) Options().ParseOption(keyword, value);
    const std::string before = DescribeOptionState(Options());
    ASSERT_NE(c.Field(Options()), c.Expected) << "the case must change its field";
    Options().ParseOption(c.Keyword, c.Value);
    EXPECT_EQ(c.Field(Options()), c.Expected);
    EXPECT_NE(DescribeOptionState(Options()), before);
}

INSTANTIATE_TEST_SUITE_P(Table, KeywordStores, ::testing::ValuesIn(StoreCases()),
                         [](const ::testing::TestParamInfo<TStoreCase>& testInfo) {
                             return testInfo.param.Name;
                         });

class IgnoredKeywords : public OptionTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(IgnoredKeywords, ReportAndChangeNothing) {
    const std::string before = DescribeOptionState(Options());
    Options().ParseOption(GetParam(), "file.avi");
    EXPECT_EQ(DescribeOptionState(Options()), before);
    EXPECT_EQ(Options().Log, (std::vector<TLogLine>{{1, "Do nothing: option - " + GetParam()}}));
}

INSTANTIATE_TEST_SUITE_P(Table, IgnoredKeywords, ::testing::ValuesIn(kIgnored));

class RefusedKeywords : public OptionTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(RefusedKeywords, RaiseWhateverTheValue) {
    const std::string before = DescribeOptionState(Options());
    for (const std::string value : {"", "2", "junk"})
        EXPECT_EQ(MessageOf<FFMpegException>([&] { Options().ParseOption(GetParam(), value); }),
                  "TODO: option - " + GetParam());
    EXPECT_EQ(DescribeOptionState(Options()), before);
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedKeywords, ::testing::ValuesIn(kRefused));

TEST(KeywordTable, EveryKeywordHasItsCaseHere) {
    std::vector<std::string> own = TFFmpegOptions::OwnKeywords();
    std::set<std::string> ownSet(own.begin(), own.end());
    EXPECT_EQ(own.size(), 110u);
    EXPECT_EQ(ownSet.size(), own.size()) << "a keyword appears twice";

    std::set<std::string> covered(kIgnored.begin(), kIgnored.end());
    covered.insert(kRefused.begin(), kRefused.end());
    covered.insert(kEngineOwned.begin(), kEngineOwned.end());
    for (const TStoreCase& c : StoreCases()) covered.insert(c.Keyword);
    EXPECT_EQ(covered, ownSet);
}

class KeywordValues : public ::testing::TestWithParam<std::string> {};

TEST_P(KeywordValues, OnlySwitchesTakeNone) {
    EXPECT_EQ(TFFmpegOptions::KeywordTakesValue(GetParam()), !kSwitches.count(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(OwnKeywords, KeywordValues,
                         ::testing::ValuesIn(TFFmpegOptions::OwnKeywords()));
INSTANTIATE_TEST_SUITE_P(LibraryKeywords, KeywordValues,
                         ::testing::Values("gop", "maxrate", "flags", "no_such_option", "VN", ""));

// Numeric keywords and their kind: a value that does not convert is refused before anything
// is stored.
const std::vector<std::pair<std::string, bool>> kNumericKeywords = {{"fs", false},
                                                                    {"dframes", false},
                                                                    {"loop_output", false},
                                                                    {"v", false},
                                                                    {"vsync", false},
                                                                    {"async", false},
                                                                    {"vglobal", false},
                                                                    {"programid", false},
                                                                    {"vframes", false},
                                                                    {"croptop", false},
                                                                    {"cropbottom", false},
                                                                    {"cropleft", false},
                                                                    {"cropright", false},
                                                                    {"padtop", false},
                                                                    {"padbottom", false},
                                                                    {"padleft", false},
                                                                    {"padright", false},
                                                                    {"padcolor", false},
                                                                    {"vdt", false},
                                                                    {"me_threshold", false},
                                                                    {"pass", false},
                                                                    {"top", false},
                                                                    {"dc", false},
                                                                    {"aframes", false},
                                                                    {"ar", false},
                                                                    {"ac", false},
                                                                    {"vol", false},
                                                                    {"vc", false},
                                                                    {"adrift_threshold", true},
                                                                    {"dts_delta_threshold", true},
                                                                    {"qscale", true},
                                                                    {"aq", true},
                                                                    {"muxdelay", true},
                                                                    {"muxpreload", true}};

class NumericKeywords : public OptionTest,
                        public ::testing::WithParamInterface<std::pair<std::string, bool>> {};

TEST_P(NumericKeywords, RefuseTextsThatAreNoNumbers) {
    const auto& [keyword, isFloat] = GetParam();
    Options().ParseOption("s", "640x480");
    const std::string before = DescribeOptionState(Options());
    const char* kind = isFloat ? "floating point" : "integer";
    for (const std::string value : {"", "12abc", "1,5", " ", "inf"})
        EXPECT_EQ(MessageOf<EConvertError>([&] { Options().ParseOption(keyword, value); }),
                  "'" + value + "' is not a valid " + kind + " value")
            << keyword << "=" << value;
    EXPECT_EQ(DescribeOptionState(Options()), before);
}

INSTANTIATE_TEST_SUITE_P(Table, NumericKeywords, ::testing::ValuesIn(kNumericKeywords));

TEST_F(OptionTest, KeywordsMatchExactlyAndUnknownOnesChangeNothing) {
    const std::string before = DescribeOptionState(Options());
    // Another letter case, blanks kept from an option line, or no such option at all: these
    // reach the library templates, which know none of them.
    for (const auto& [keyword, value] :
         std::vector<std::pair<std::string, std::string>>{{"VN", ""},
                                                          {"V", "2"},
                                                          {"AR", "8000"},
                                                          {"vn ", ""},
                                                          {" ar", "8000"},
                                                          {"no_such_option", "1"},
                                                          {"gop", ""},
                                                          {"", ""},
                                                          {"", "5"}})
        EXPECT_NO_THROW(Options().ParseOption(keyword, value)) << keyword;
    EXPECT_EQ(DescribeOptionState(Options()), before);
    EXPECT_TRUE(Options().Log.empty());
}

TEST_F(OptionTest, EmptyMetaDataTextsKeepThePreviousValue) {
    for (const char* keyword : {"title", "author", "copyright", "comment", "genre", "album"}) {
        Options().ParseOption(keyword, "first");
        Options().ParseOption(keyword, "");
    }
    Options().SetTitle("");
    EXPECT_EQ(Options().Title + Options().Author + Options().Copyright + Options().Comment +
                  Options().Genre + Options().Album,
              "firstfirstfirstfirstfirstfirst");
}

TEST_F(OptionTest, EngineKeywordsSayTheyAreNotAvailableInTheOptionLayer) {
    EXPECT_EQ(MessageOf<FFMpegException>([&] { Options().ParseOption("target", "pal-dvd"); }),
              "Target presets are not available yet");
    for (const char* keyword : {"newvideo", "newaudio", "newsubtitle"})
        EXPECT_EQ(MessageOf<FFMpegException>([&] { Options().ParseOption(keyword, ""); }),
                  "Adding streams to an output file is not available yet");
}

TEST_F(OptionTest, OptionTextAppliesLinesInOrderAndStopsAtTheFirstRefusal) {
    EXPECT_THROW(Options().ApplyOptionText("  vcodec=mpeg4\r\nar=22050\r\nac=x\r\ntitle=never\r\n"),
                 EConvertError);
    EXPECT_EQ(Options().VideoCodecName, "mpeg4");
    EXPECT_EQ(Options().AudioSampleRate, 22050);
    EXPECT_EQ(Options().AudioChannels, 2);
    EXPECT_EQ(Options().Title, "");
}

}  // namespace
