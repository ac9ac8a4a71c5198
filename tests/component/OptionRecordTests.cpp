// The option records: initial values, the hand-over to an engine in the records' order, hook
// time ranges, recording timestamps and system colours.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <sstream>

#include "ComponentTestSupport.h"
#include "binding/LibHandles.h"
#include "support/TempDir.h"

namespace {

// Every engine field a record can reach, as one comparable text.
std::string Describe(TFFmpeg& e) {
    std::ostringstream out;
    out << "fmt " << (e.ForcedOutputFormat ? e.ForcedOutputFormat->name : "-") << " in "
        << (e.ForcedInputFormat ? e.ForcedInputFormat->name : "-") << " mux " << e.MuxMaxDelay
        << '/' << e.MuxPreload << " a " << e.AudioCodecName << '/' << e.AudioStreamCopy << '/'
        << e.AudioDisabled << '/' << e.AudioVolume << '/' << e.AudioChannels << '/'
        << e.AudioSampleRate << '/' << e.AudioLanguage << '/' << e.AudioSyncMethod << '/'
        << e.AudioCodecTag << " v " << e.VideoCodecName << '/' << e.VideoStreamCopy << '/'
        << e.VideoDisabled << '/' << e.FrameRate.num << ':' << e.FrameRate.den << '/'
        << e.FrameWidth << 'x' << e.FrameHeight << '/' << e.FrameAspectRatio << '/'
        << e.VideoSyncMethod << '/' << e.VideoCodecTag << " crop " << e.CropTop << ','
        << e.CropBottom << ',' << e.CropLeft << ',' << e.CropRight << " pad " << e.PadTop << ','
        << e.PadBottom << ',' << e.PadLeft << ',' << e.PadRight << " colour " << e.PadColor[0]
        << ',' << e.PadColor[1] << ',' << e.PadColor[2] << " s " << e.SubtitleDisabled << '/'
        << e.SubtitleLanguage << " copyts " << e.CopyTimestamps << " t " << e.RecordingTime
        << " stamp " << e.RecordingTimestamp << " meta " << e.Year << '/' << e.Track << '/'
        << e.Title << '/' << e.Author << '/' << e.Copyright << '/' << e.Comment << '/' << e.Album
        << '/' << e.Genre << " ss " << e.StartTime << " program " << e.ProgramId << " options "
        << e.OptionNames.size() << '/' << e.PrivateOptions.size();
    return out.str();
}

std::string TemplateOption(void* context, const char* name) {
    uint8_t* text = nullptr;
    if (LibAVUtil.av_opt_get(context, name, 0, &text) < 0 || !text) return "(none)";
    TLibMemoryPtr<uint8_t> owned(text);
    return std::string(reinterpret_cast<char*>(text));
}

std::string VideoTemplate(TFFmpeg& e, const char* name) {
    return TemplateOption(e.CodecOptionContexts[AVMEDIA_TYPE_VIDEO].get(), name);
}
std::string AudioTemplate(TFFmpeg& e, const char* name) {
    return TemplateOption(e.CodecOptionContexts[AVMEDIA_TYPE_AUDIO].get(), name);
}

class OptionRecords : public ::testing::Test {
  protected:
    void SetUp() override {
        RequireMediaLibraries();
        engine.Reset();
        fresh.Reset();
    }
    TFFmpeg engine, fresh;
};

TEST_F(OptionRecords, InitialisedRecordsSetNothingButThePadColour) {
    TOutputOptions output;
    output.FrameSize = "640x480";
    output.Title[0] = 'x';
    output.TargetType = 3;
    InitOutputOptions(output);
    TInputOptions input;
    input.StartTime = 5;
    input.OptionText = "ss=1";
    InitInputOptions(input);
    EXPECT_EQ(output.FrameSize, "");
    EXPECT_EQ(output.TargetType, 0);
    EXPECT_EQ(input.StartTime, -1);

    ApplyInputOptions(engine, input);
    ApplyOutputOptions(engine, output);

    // The pad colour is always handed over: black.
    fresh.SetPadColor(0);
    EXPECT_EQ(Describe(engine), Describe(fresh));
    EXPECT_EQ(engine.PadColor[0], 0);
}

// One record change and what the engine holds afterwards.
struct THandOverCase {
    const char* name;
    std::function<void(TOutputOptions&)> fill;
    std::function<void(TFFmpeg&)> check;
};

TEST_F(OptionRecords, OutputFieldsReachTheEngineInTheRecordsOrder) {
    const THandOverCase cases[] = {
        {"option text first, fields after",
         [](TOutputOptions& o) {
             o.OptionText = "s=640x480\r\nvcodec=mpeg4\nalang=eng\r\ntitle=From text";
             o.FrameSize = "320x240";
             o.VideoCodec = "copy";
         },
         [](TFFmpeg& e) {
             EXPECT_EQ(e.FrameWidth, 320);
             EXPECT_EQ(e.VideoStreamCopy, 1);
             EXPECT_EQ(e.AudioLanguage, "") << "handed over also when empty";
             EXPECT_EQ(e.Title, "From text") << "an empty title keeps the engine's";
         }},
        {"frame size before the crop bands",
         [](TOutputOptions& o) {
             o.FrameSize = "320x240";
             o.CropTop = 10;
             o.CropBottom = 20;
             o.CropLeft = 40;
         },
         [](TFFmpeg& e) {
             EXPECT_EQ(e.FrameHeight, 210);
             EXPECT_EQ(e.FrameWidth, 280);
             EXPECT_EQ(e.CropRight, 0);
         }},
        {"generic options by the libraries' names",
         [](TOutputOptions& o) {
             o.VideoBitrate = 800000;
             o.VideoMaxRate = 900000;
             o.VideoMinRate = 100000;
             o.VideoBufferSize = 300000;
             o.VideoBitrateTolerance = 7000;
             o.GopSize = 17;
             o.AudioBitrate = 96000;
             o.PacketSize = 2048;
             o.MuxRate = 0;  // not positive: not set
         },
         [](TFFmpeg& e) {
             EXPECT_EQ(VideoTemplate(e, "b"), "800000");
             EXPECT_EQ(VideoTemplate(e, "maxrate"), "900000");
             EXPECT_EQ(VideoTemplate(e, "minrate"), "100000");
             EXPECT_EQ(VideoTemplate(e, "bufsize"), "300000");
             EXPECT_EQ(VideoTemplate(e, "bt"), "7000");
             EXPECT_EQ(VideoTemplate(e, "g"), "17");
             EXPECT_EQ(AudioTemplate(e, "b"), "96000");
             EXPECT_EQ(TemplateOption(e.FormatOptionContext.get(), "packetsize"), "2048");
             EXPECT_TRUE(e.PrivateOptions.empty());
         }},
        {"flags, languages and sync methods",
         [](TOutputOptions& o) {
             o.DisableAudio = true;
             o.DisableVideo = true;
             o.DisableSubtitle = true;
             o.SubtitleLanguage = "ger";
             o.CopyTimestamps = true;
             o.AudioSyncMethod = 1;
             o.VideoSyncMethod = 2;
             o.AudioVolume = 0;
             o.AudioChannels = 1;
             o.AudioSampleRate = 22050;
             o.RecordingTime = 1500;
             o.MuxDelay = 0.25f;
             o.MuxPreload = 0.125f;
         },
         [](TFFmpeg& e) {
             EXPECT_EQ(e.AudioDisabled, 1);
             EXPECT_EQ(e.VideoDisabled, 1);
             EXPECT_EQ(e.SubtitleDisabled, 1);
             EXPECT_EQ(e.SubtitleLanguage, "ger");
             EXPECT_TRUE(e.CopyTimestamps);
             EXPECT_EQ(e.AudioSyncMethod, 1);
             EXPECT_EQ(e.VideoSyncMethod, 2);
             EXPECT_EQ(e.AudioVolume, 0) << "0 is a volume";
             EXPECT_EQ(e.AudioChannels, 1);
             EXPECT_EQ(e.AudioSampleRate, 22050);
             EXPECT_EQ(e.RecordingTime, 1500000);
             EXPECT_FLOAT_EQ(e.MuxMaxDelay, 0.25f);
             EXPECT_FLOAT_EQ(e.MuxPreload, 0.125f);
         }},
        {"meta-data texts end at their first NUL or at their end",
         [](TOutputOptions& o) {
             std::fill(std::begin(o.Title), std::end(o.Title), 'T');  // no NUL at all
             std::strcpy(o.Genre, "Jazz");
             std::strcpy(o.Album, "Al");
             o.Album[3] = 'x';  // behind the NUL
             o.Year = 1999;
             o.Track = 0;  // not positive: not set
         },
         [](TFFmpeg& e) {
             EXPECT_EQ(e.Title, std::string(512, 'T'));
             EXPECT_EQ(e.Genre, "Jazz");
             EXPECT_EQ(e.Album, "Al");
             EXPECT_EQ(e.Year, 1999);
             EXPECT_EQ(e.Track, 0);
         }},
        {"the target preset after the fields",
         [](TOutputOptions& o) {
             o.FrameSize = "320x240";
             o.FrameRate = "30000/1001";
             o.VideoBitrate = 500000;
             o.TargetType = 1;
             o.TargetNorm = 0;  // auto: from the frame rate
         },
         [](TFFmpeg& e) {
             EXPECT_EQ(e.FrameWidth, 352);
             EXPECT_EQ(e.FrameHeight, 240);
             EXPECT_EQ(e.VideoCodecName, "mpeg1video");
             EXPECT_EQ(VideoTemplate(e, "b"), "1150000");
         }},
        {"a target norm chosen by the record",
         [](TOutputOptions& o) {
             o.FrameRate = "30000/1001";
             o.TargetType = 3;
             o.TargetNorm = 1;
         },
         [](TFFmpeg& e) {
             EXPECT_EQ(e.FrameWidth, 720);
             EXPECT_EQ(e.FrameHeight, 576);
             EXPECT_EQ(e.FrameRate.num, 25);
         }},
        {"no preset for other target types",
         [](TOutputOptions& o) {
             o.FrameSize = "320x240";
             o.TargetType = 4;
         },
         [](TFFmpeg& e) {
             EXPECT_EQ(e.FrameWidth, 320);
             EXPECT_EQ(e.ForcedOutputFormat, nullptr);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TFFmpeg e;
        e.Reset();
        TOutputOptions options;
        c.fill(options);
        ApplyOutputOptions(e, options);
        c.check(e);
    }
}

TEST_F(OptionRecords, SystemPadColoursAreResolvedBeforeTheHandOver) {
    TOutputOptions options;
    options.PadColor = SystemColor(scBtnFace);
    ApplyOutputOptions(engine, options);
    fresh.SetPadColor(212 | 208 << 8 | 200 << 16);
    EXPECT_EQ(Describe(engine), Describe(fresh));

    EXPECT_EQ(ColorToRGB(0x00123456), 0x00123456u);
    EXPECT_EQ(ColorToRGB(SystemColor(scWindow)), 0x00FFFFFFu);
    EXPECT_EQ(ColorToRGB(SystemColor(scInfoBk)), 0x00E1FFFFu);
    EXPECT_EQ(ColorToRGB(kSystemColorFlag | 200), 0u) << "an unknown system colour is black";
}

TEST_F(OptionRecords, InputFieldsFollowTheOptionText) {
    TInputOptions options;
    options.OptionText = "ss=3\nprogramid=4";
    options.StartTime = 2500;
    ApplyInputOptions(engine, options);
    EXPECT_EQ(engine.StartTime, 2500000);
    EXPECT_EQ(engine.ProgramId, 4) << "-1 sets no program";

    TInputOptions zero;
    zero.StartTime = 0;
    zero.ProgramId = 0;
    zero.OptionText = "ss=3";
    ApplyInputOptions(fresh, zero);
    EXPECT_EQ(fresh.StartTime, 3000000) << "a start time of 0 sets none";
    EXPECT_EQ(fresh.ProgramId, 0);

    TInputOptions large;
    large.StartTime = 2000000000;  // 2e9 ms: beyond 32 bits in microseconds
    TFFmpeg third;
    third.Reset();
    ApplyInputOptions(third, large);
    EXPECT_EQ(third.StartTime, int64_t{2000000000} * 1000);
}

TEST_F(OptionRecords, RefusedValuesRaiseTheEnginesErrors) {
    TOutputOptions badSize;
    badSize.FrameSize = "huge";
    EXPECT_THROW(ApplyOutputOptions(engine, badSize), FFMpegException);
    TOutputOptions badText;
    badText.OptionText = "vtag=toolong";
    EXPECT_ANY_THROW(ApplyOutputOptions(fresh, badText));
    TInputOptions badFormat;
    badFormat.InputFormat = "no-such-demuxer";
    TFFmpeg third;
    third.Reset();
    try {
        ApplyInputOptions(third, badFormat);
        FAIL() << "an unknown format is refused";
    } catch (const FFMpegException& error) {
        EXPECT_STREQ(error.what(), "Unknown input format: no-such-demuxer");
    }
}

struct TRangeCase {
    const char* text;
    std::vector<std::pair<int64_t, int64_t>> parsed;  // in the text's order, microseconds
};

TEST(HookTimeRanges, EntriesAreParsedAndFiltered) {
    const TRangeCase cases[] = {
        {"", {}},
        {"   ", {}},
        {"5000-9000,1000-2000,7-3", {{5000000, 9000000}, {1000000, 2000000}}},
        {"abc-100", {{-1000, 100000}}},
        {" 1000 -  2000 , 3-3", {{1000000, 2000000}, {3000, 3000}}},
        {"$10-$20", {{16000, 32000}}},
        {"100", {}},    // no end: -1
        {"5-", {}},     // empty end: -1
        {"-5-10", {}},  // empty start, end "5-10" is no number
        {"1-2,,3-4,", {{1000, 2000}, {3000, 4000}}},
        {"0-0", {{0, 0}}},
        {"1-2 junk", {}},  // trailing text is no number
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::pair<int64_t, int64_t>> parsed;
        for (const auto& range : ParseHookTimeRanges(c.text))
            parsed.emplace_back(range.StartUs, range.EndUs);
        EXPECT_EQ(parsed, c.parsed);
    }
}

TEST(RecordingTimestamp, LocalDateTimesBecomeSecondsSince1970) {
    EXPECT_EQ(LocalDateTimeToUnixSeconds(25569.0, 0), 0);
    EXPECT_EQ(LocalDateTimeToUnixSeconds(25569.5, 0), 43200);
    // UTC = local + bias: an hour east of Greenwich, local midnight is 23:00 the day before.
    EXPECT_EQ(LocalDateTimeToUnixSeconds(25569.0, -60), -3600);
    EXPECT_EQ(LocalDateTimeToUnixSeconds(25569.0, 300), 18000);
    // 2008-07-01 12:00 local, five hours west: 17:00 UTC.
    EXPECT_EQ(LocalDateTimeToUnixSeconds(39630.5, 300), 1214931600);
    // To the nearest second.
    EXPECT_EQ(LocalDateTimeToUnixSeconds(39630.5 + 1.4 / 86400, 0), 1214913601);
    EXPECT_EQ(LocalDateTimeToUnixSeconds(39630.5 + 1.6 / 86400, 0), 1214913602);
    EXPECT_EQ(LocalDateTimeToUnixSeconds(25569.0 - 1.6 / 86400, 0), -2);

    int64_t seconds = 0;
    EXPECT_FALSE(RecordingTimestampOf(-1.0, seconds));
    const int64_t before = std::time(nullptr);
    ASSERT_TRUE(RecordingTimestampOf(0.0, seconds));
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, std::time(nullptr));
}

TEST(RecordingTimestamp, TheBiasIsTheStandardTimeOffset) {
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    setenv("TZ", "EST5EDT", 1);
    EXPECT_EQ(TimeZoneBiasMinutes(), 300) << "daylight saving time is not applied";
    setenv("TZ", "CET-1CEST", 1);
    EXPECT_EQ(TimeZoneBiasMinutes(), -60);
    RequireMediaLibraries();
    TFFmpeg engine;
    engine.Reset();
    TOutputOptions options;
    options.Timestamp = 39630.5;  // 2008-07-01 12:00 in Central Europe
    ApplyOutputOptions(engine, options);
    EXPECT_EQ(engine.RecordingTimestamp, 1214910000);
    if (saved)
        setenv("TZ", previous.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

}  // namespace
