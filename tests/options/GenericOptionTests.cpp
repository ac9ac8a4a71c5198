// Library options: which templates take them by their flags, the audio/video/subtitle prefix,
// the bit-rate warning, the debug rule, and the copy onto real contexts by flag mask.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OptionTestSupport.h"
#include "binding/LibHandles.h"

namespace {

const AVMediaType kAllTypes[] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA,
                                 AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_ATTACHMENT};

TCodecContextPtr NewCodecContext() {
    return TCodecContextPtr(LibAVCodec.avcodec_alloc_context3(nullptr));
}

const std::string kBitRateWarning =
    "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";

class GenericOptions : public OptionTest {
  protected:
    // The value of one option in each codec template: video, audio, data, subtitle,
    // attachment.
    std::vector<std::string> InTemplates(const char* name) {
        std::vector<std::string> values;
        for (AVMediaType type : kAllTypes) values.push_back(Read(Template(type), name));
        return values;
    }
};

TEST_F(GenericOptions, GopLandsInTheTemplatesWhoseMediaTypeItFits) {
    const std::vector<std::string> defaults = InTemplates("g");
    Options().ParseOption("gop", "15");
    // A video option: not in the audio and subtitle templates; the data and attachment
    // templates take every codec option.
    EXPECT_EQ(InTemplates("g"),
              (std::vector<std::string>{"15", defaults[1], "15", defaults[3], "15"}));
    EXPECT_NE(defaults[0], "15");
    EXPECT_EQ(Options().OptionNames, std::vector<std::string>{"g"});
}

TEST_F(GenericOptions, RateControlOptionsReachVideoAndAudioButNotSubtitles) {
    const std::string subtitleDefault = Read(Template(AVMEDIA_TYPE_SUBTITLE), "maxrate");
    EXPECT_TRUE(Options().SetGenericOption("maxrate", "2516000"));
    EXPECT_TRUE(Options().SetGenericOptionInt("bufsize", 1835008));
    EXPECT_EQ(InTemplates("maxrate"), (std::vector<std::string>{"2516000", "2516000", "2516000",
                                                                subtitleDefault, "2516000"}));
    EXPECT_EQ(Template(AVMEDIA_TYPE_VIDEO)->rc_buffer_size, 1835008);
    EXPECT_EQ(Template(AVMEDIA_TYPE_AUDIO)->rc_buffer_size, 1835008);
    EXPECT_NE(Template(AVMEDIA_TYPE_SUBTITLE)->rc_buffer_size, 1835008);
    EXPECT_EQ(Options().OptionNames, (std::vector<std::string>{"maxrate", "bufsize"}));
}

TEST_F(GenericOptions, FlagsAddAndRemoveSingleBits) {
    Options().ParseOption("flags", "+global_header+qscale");
    for (AVMediaType type : kAllTypes) {
        EXPECT_TRUE(Template(type)->flags & AV_CODEC_FLAG_GLOBAL_HEADER) << type;
        EXPECT_TRUE(Template(type)->flags & AV_CODEC_FLAG_QSCALE) << type;
    }
    Options().ParseOption("flags", "-qscale");
    EXPECT_TRUE(Template(AVMEDIA_TYPE_VIDEO)->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
    EXPECT_FALSE(Template(AVMEDIA_TYPE_VIDEO)->flags & AV_CODEC_FLAG_QSCALE);
}

struct TBitRateCase {
    const char* Name;
    const char* Keyword;
    const char* Value;
    int64_t Video;  // -1: the template's default stays
    int64_t Audio;
    bool Warning;
    const char* LibraryName;  // the library's own name of what was set
};

class BitRates : public GenericOptions, public ::testing::WithParamInterface<TBitRateCase> {};

TEST_P(BitRates, ReachTheirTemplateAndWarnWhenTheyLookLikeKilobits) {
    const TBitRateCase& c = GetParam();
    const int64_t videoDefault = ReadInt(Template(AVMEDIA_TYPE_VIDEO), "b");
    const int64_t audioDefault = ReadInt(Template(AVMEDIA_TYPE_AUDIO), "b");
    Options().ParseOption(c.Keyword, c.Value);
    EXPECT_EQ(ReadInt(Template(AVMEDIA_TYPE_VIDEO), "b"), c.Video < 0 ? videoDefault : c.Video);
    EXPECT_EQ(ReadInt(Template(AVMEDIA_TYPE_AUDIO), "b"), c.Audio < 0 ? audioDefault : c.Audio);
    const std::vector<TLogLine> expected =
        c.Warning ? std::vector<TLogLine>{{1, kBitRateWarning}} : std::vector<TLogLine>{};
    EXPECT_EQ(Options().Log, expected);
    EXPECT_EQ(Options().OptionNames, std::vector<std::string>{c.LibraryName});
}

INSTANTIATE_TEST_SUITE_P(
    Table, BitRates,
    // The codec options know "ab" themselves, for audio only; "vb" is "b" of the video
    // template by its prefix.
    ::testing::Values(TBitRateCase{"AudioInKilobits", "ab", "128", -1, 128, true, "ab"},
                      TBitRateCase{"AudioInBits", "ab", "192000", -1, 192000, false, "ab"},
                      TBitRateCase{"VideoInKilobits", "vb", "800", 800, -1, true, "b"},
                      TBitRateCase{"VideoInBits", "vb", "2000000", 2000000, -1, false, "b"},
                      TBitRateCase{"BothInBits", "b", "500000", 500000, 500000, false, "b"},
                      TBitRateCase{"BothInKilobits", "b", "500", 500, 500, true, "b"},
                      // No bit rate at all: a constant-quality encode (crf) asks for none.
                      TBitRateCase{"VideoNoneForQuality", "vb", "0", 0, -1, false, "b"},
                      TBitRateCase{"BothNone", "b", "0", 0, 0, false, "b"}),
    [](const ::testing::TestParamInfo<TBitRateCase>& testInfo) { return testInfo.param.Name; });

TEST_F(GenericOptions, BitRatesThatNoTemplateTakesSetNothingAndWarnNothing) {
    const std::string before = DescribeOptionState(Options());
    for (const char* keyword : {"ab", "vb", "b"}) {
        Options().ParseOption(keyword, "");
        Options().ParseOption(keyword, "lots");
    }
    EXPECT_EQ(DescribeOptionState(Options()), before);
    EXPECT_TRUE(Options().Log.empty());
}

TEST_F(GenericOptions, FormatAndScalerTemplatesTakeTheirOwnOptions) {
    EXPECT_TRUE(Options().SetGenericOption("packetsize", "2324"));
    EXPECT_EQ(Options().FormatOptionContext->packet_size, 2324u);
    EXPECT_TRUE(Options().SetGenericOption("sws_flags", "bilinear"));
    EXPECT_EQ(ReadInt(Options().ScalerOptionContext.get(), "sws_flags"), SWS_BILINEAR);
    EXPECT_EQ(Options().OptionNames, (std::vector<std::string>{"packetsize", "sws_flags"}));
}

TEST_F(GenericOptions, BlankNamesOrValuesAndUnknownOptionsAreNotTaken) {
    const std::string before = DescribeOptionState(Options());
    EXPECT_FALSE(Options().SetGenericOption("", "1"));
    EXPECT_FALSE(Options().SetGenericOption(" \t", "1"));
    EXPECT_FALSE(Options().SetGenericOption("b", ""));
    EXPECT_FALSE(Options().SetGenericOption("b", "  "));
    EXPECT_FALSE(Options().SetGenericOption("no_such_option", "1"));
    EXPECT_FALSE(Options().SetGenericOption("g", "many"));  // a value the library refuses
    EXPECT_EQ(DescribeOptionState(Options()), before);
}

TEST_F(GenericOptions, DebuggingInATemplateTurnsTheLogToDebugLevel) {
    Options().SetVerbose(0);
    EXPECT_TRUE(Options().SetGenericOption("debug", "pict"));
    EXPECT_EQ(Options().Verbose, 2);
    EXPECT_EQ(CurrentLogLevel, 2);
    EXPECT_EQ(LibAVUtil.av_log_get_level(), AV_LOG_DEBUG);

    TTestOptions other;
    other.SetVerbose(1);
    EXPECT_TRUE(other.SetGenericOption("fdebug", "ts"));
    EXPECT_EQ(other.Verbose, 2);
    // Other options do not touch the level while neither template debugs.
    TTestOptions quiet;
    quiet.SetVerbose(0);
    EXPECT_TRUE(quiet.SetGenericOption("g", "25"));
    EXPECT_EQ(quiet.Verbose, 0);
}

TEST_F(GenericOptions, CopiesReachOnlyContextsWhoseFlagsMatch) {
    Options().ParseOption("gop", "15");
    Options().ParseOption("maxrate", "2516000");
    Options().ParseOption("flags", "+global_header");
    Options().ParseOption("ab", "224000");
    Options().ParseOption("packetsize", "2048");

    // A new video stream (video and encoding): the video template's options.
    TCodecContextPtr videoEncoder = NewCodecContext();
    const int gopDefault = videoEncoder->gop_size;
    EXPECT_TRUE(Options().CopyGenericOptions(videoEncoder.get(), Template(AVMEDIA_TYPE_VIDEO),
                                             kOptionVideo | kOptionEncoding));
    EXPECT_EQ(videoEncoder->gop_size, 15);
    EXPECT_EQ(videoEncoder->rc_max_rate, 2516000);
    EXPECT_TRUE(videoEncoder->flags & AV_CODEC_FLAG_GLOBAL_HEADER);

    // A new audio stream: the audio bit rate, no GOP (not an audio option).
    TCodecContextPtr audioEncoder = NewCodecContext();
    EXPECT_TRUE(Options().CopyGenericOptions(audioEncoder.get(), Template(AVMEDIA_TYPE_AUDIO),
                                             kOptionAudio | kOptionEncoding));
    EXPECT_EQ(audioEncoder->bit_rate, 224000);
    EXPECT_EQ(audioEncoder->gop_size, gopDefault);
    EXPECT_EQ(audioEncoder->rc_max_rate, 2516000);

    // An input video stream (video and decoding): only options decoders have.
    TCodecContextPtr videoDecoder = NewCodecContext();
    EXPECT_TRUE(Options().CopyGenericOptions(videoDecoder.get(), Template(AVMEDIA_TYPE_VIDEO),
                                             kOptionVideo | kOptionDecoding));
    EXPECT_EQ(videoDecoder->gop_size, gopDefault);
    EXPECT_EQ(videoDecoder->rc_max_rate, 0);
    EXPECT_TRUE(videoDecoder->flags & AV_CODEC_FLAG_GLOBAL_HEADER);

    // A new subtitle stream: flags are a subtitle option, bit rates are not.
    TCodecContextPtr subtitleEncoder = NewCodecContext();
    const int64_t bitRateDefault = subtitleEncoder->bit_rate;
    EXPECT_TRUE(Options().CopyGenericOptions(subtitleEncoder.get(), Template(AVMEDIA_TYPE_SUBTITLE),
                                             kOptionSubtitle | kOptionEncoding));
    EXPECT_TRUE(subtitleEncoder->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
    EXPECT_EQ(subtitleEncoder->bit_rate, bitRateDefault);

    // Output and input format contexts: the packet size is a muxing option.
    TFormatContextPtr output(LibAVFormat.avformat_alloc_context());
    TFormatContextPtr input(LibAVFormat.avformat_alloc_context());
    EXPECT_TRUE(Options().CopyGenericOptions(output.get(), Options().FormatOptionContext.get(),
                                             kOptionEncoding));
    EXPECT_TRUE(Options().CopyGenericOptions(input.get(), Options().FormatOptionContext.get(),
                                             kOptionDecoding));
    EXPECT_EQ(output->packet_size, 2048u);
    EXPECT_EQ(input->packet_size, 0u);
}

TEST_F(GenericOptions, OptionsOfOneMuxerWaitForAContextOfThatMuxer) {
    EXPECT_TRUE(Options().SetGenericOptionInt("muxrate", 10080000));
    EXPECT_TRUE(Options().OptionNames.empty());

    AVFormatContext* raw = nullptr;
    ASSERT_GE(LibAVFormat.avformat_alloc_output_context2(&raw, nullptr, "dvd", nullptr), 0);
    TFormatContextPtr dvd(raw);
    EXPECT_TRUE(Options().CopyGenericOptions(dvd.get(), Options().FormatOptionContext.get(),
                                             kOptionEncoding));
    int64_t muxRate = 0;
    ASSERT_GE(LibAVUtil.av_opt_get_int(dvd.get(), "muxrate", AV_OPT_SEARCH_CHILDREN, &muxRate), 0);
    EXPECT_EQ(muxRate, 10080000);

    // A format without that option, and an input context, are left alone.
    ASSERT_GE(LibAVFormat.avformat_alloc_output_context2(&raw, nullptr, "wav", nullptr), 0);
    TFormatContextPtr wav(raw);
    EXPECT_TRUE(Options().CopyGenericOptions(wav.get(), Options().FormatOptionContext.get(),
                                             kOptionEncoding));
    EXPECT_EQ(LibAVUtil.av_opt_find(wav.get(), "muxrate", nullptr, 0, AV_OPT_SEARCH_CHILDREN),
              nullptr);

    // A value that the muxer refuses is reported by the copy.
    EXPECT_TRUE(Options().SetGenericOption("muxrate", "fast"));
    ASSERT_GE(LibAVFormat.avformat_alloc_output_context2(&raw, nullptr, "vob", nullptr), 0);
    TFormatContextPtr vob(raw);
    EXPECT_FALSE(Options().CopyGenericOptions(vob.get(), Options().FormatOptionContext.get(),
                                              kOptionEncoding));
}

TEST_F(GenericOptions, FreeingTheStateForgetsEveryOptionAndTemplate) {
    Options().ParseOption("gop", "15");
    Options().ParseOption("muxrate", "1411200");
    Options().FreeOptionState();
    EXPECT_TRUE(Options().OptionNames.empty());
    EXPECT_TRUE(Options().PrivateOptions.empty());
    for (const TCodecContextPtr& context : Options().CodecOptionContexts)
        EXPECT_EQ(context, nullptr);
    EXPECT_EQ(Options().FormatOptionContext, nullptr);
    EXPECT_EQ(Options().ScalerOptionContext, nullptr);
    // Without templates nothing is taken, and nothing breaks.
    EXPECT_FALSE(Options().SetGenericOption("g", "12"));
    Options().ParseOption("b", "1000");
    EXPECT_TRUE(Options().Log.empty());
}

}  // namespace
