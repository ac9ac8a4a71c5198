// The parameter readers and the codec mappings on the texts the lists really show.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/core/CodecMapping.h"
#include "app/core/ParameterReaders.h"
#include "app/core/ProfileCatalogue.h"
#include "app/core/TodaysEncoding.h"

namespace {

struct TMapping {
    const char* Entry;
    const char* Encoder;
};
void PrintTo(const TMapping& mapping, std::ostream* os) {
    *os << '"' << mapping.Entry << '"';
}

class VideoCodecMappingTest : public ::testing::TestWithParam<TMapping> {};
TEST_P(VideoCodecMappingTest, MapsEntry) {
    EXPECT_EQ(MapVideoCodec(GetParam().Entry), GetParam().Encoder);
}
INSTANTIATE_TEST_SUITE_P(
    Entries, VideoCodecMappingTest,
    ::testing::Values(TMapping{"mpeg4", "mpeg4"}, TMapping{"h264", "libx264"},
                      TMapping{"xvid", "libxvid"}, TMapping{"wmv2x", "wmv2"},
                      TMapping{"mpeg4_qt", "mpeg4"}, TMapping{"mpeg1video", "mpeg1video"},
                      TMapping{"mpeg2video", "mpeg2video"}, TMapping{"msmpeg4", "msmpeg4"},
                      TMapping{"flv", "flv"}, TMapping{"wmv2", "wmv2"}, TMapping{"rv10", "rv10"},
                      TMapping{"rv20", "rv20"}, TMapping{"h263", "h263"},
                      TMapping{"rawvideo", "rawvideo"}, TMapping{"h265", "libx265"},
                      TMapping{"vp9", "libvpx-vp9"}, TMapping{"av1", "libsvtav1"},
                      TMapping{"", ""}));

class AudioCodecMappingTest : public ::testing::TestWithParam<TMapping> {};
TEST_P(AudioCodecMappingTest, MapsEntry) {
    EXPECT_EQ(MapAudioCodec(GetParam().Entry), GetParam().Encoder);
}
INSTANTIATE_TEST_SUITE_P(
    Entries, AudioCodecMappingTest,
    ::testing::Values(TMapping{"aac", "libfaac"}, TMapping{"ac3", "ac3"}, TMapping{"flac", "flac"},
                      TMapping{"asf", "mp3"}, TMapping{"mp3", "libmp3lame"},
                      TMapping{"m4a", "mpeg4aac"}, TMapping{"mpeg4aac", "libfaac"},
                      TMapping{"ra", "ac3"}, TMapping{"wma7x", "wmav2"},
                      TMapping{"wav", "pcm_s16le"}, TMapping{"mpeg4aac_qt", "libfaac"},
                      TMapping{"amr_nb", "libamr_nb"}, TMapping{"mp2", "mp2"},
                      TMapping{"wmav2", "wmav2"}, TMapping{"vorbis", "vorbis"},
                      TMapping{"pcm_s16le", "pcm_s16le"}, TMapping{"pcm_s16be", "pcm_s16be"},
                      TMapping{"opus", "libopus"}, TMapping{"", ""}));

TEST(CodecMappingTest, NarrowVideoMappingRenamesOnlyH264AndXvid) {
    EXPECT_EQ(MapVideoCodec("h264", true), "libx264");
    EXPECT_EQ(MapVideoCodec("xvid", true), "libxvid");
    EXPECT_EQ(MapVideoCodec("wmv2x", true), "wmv2x");
    EXPECT_EQ(MapVideoCodec("mpeg4_qt", true), "mpeg4_qt");
    EXPECT_EQ(MapVideoCodec("mpeg4", true), "mpeg4");
}

TEST(SizeTextTest, SizesOfTheLists) {
    EXPECT_EQ(ParseSizeText("352 x 288 (CIF)"), "352x288");
    EXPECT_EQ(ParseSizeText("320 x 240"), "320x240");
    EXPECT_EQ(ParseSizeText("320 x 240 "), "320x240");
    EXPECT_EQ(ParseSizeText("1920 x 1072"), "1920x1072");
    // These keep the input's size.
    EXPECT_EQ(ParseSizeText("Original Video Size"), "");
    EXPECT_EQ(ParseSizeText("Auto"), "");
    EXPECT_EQ(ParseSizeText(""), "");
}

struct TRateCase {
    const char* Entry;
    int Num;
    int Den;  // 0: no rate (the input's)
};
void PrintTo(const TRateCase& rate, std::ostream* os) {
    *os << '"' << rate.Entry << '"';
}

class FrameRateTextTest : public ::testing::TestWithParam<TRateCase> {};
TEST_P(FrameRateTextTest, GivesExactRate) {
    const auto rate = ParseFrameRateText(GetParam().Entry);
    if (GetParam().Den == 0) {
        EXPECT_FALSE(rate.has_value());
    } else {
        ASSERT_TRUE(rate.has_value());
        EXPECT_EQ(*rate, (TFrameRate{GetParam().Num, GetParam().Den}));
    }
}
INSTANTIATE_TEST_SUITE_P(
    Entries, FrameRateTextTest,
    ::testing::Values(TRateCase{"Auto", 0, 0}, TRateCase{"", 0, 0},
                      TRateCase{"14.985 fps", 15000, 1001}, TRateCase{"15.0 fps", 15, 1},
                      TRateCase{"23.975 fps", 24000, 1001}, TRateCase{"25.0 fps", 25, 1},
                      TRateCase{"29.97 fps", 30000, 1001}, TRateCase{"30.0 fps", 30, 1},
                      TRateCase{"11 fps", 11, 1}, TRateCase{"15 fps", 15, 1},
                      TRateCase{"20 fps", 20, 1}, TRateCase{"23.976 fps [NTSC]", 24000, 1001},
                      TRateCase{"24 fps", 24, 1}, TRateCase{"25 fps [PAL]", 25, 1},
                      TRateCase{"29.97 fps [NTSC]", 30000, 1001}, TRateCase{"50 fps", 50, 1},
                      TRateCase{"59.94 fps", 60000, 1001}, TRateCase{"12.5 fps", 25, 2}));

TEST(FrameRateTextTest, EveryCatalogueRateParses) {
    for (const TCatalogueLine& line : OutputFormatLines()) {
        if (!line.Profile) continue;
        for (const std::string& entry : line.Profile->VideoFramerates.Items) {
            EXPECT_NO_THROW(ParseFrameRateText(entry)) << line.Text << ": " << entry;
        }
    }
}

TEST(FrameRateTextTest, NonsenseIsAnError) {
    EXPECT_THROW(ParseFrameRateText("fast fps"), TParameterError);
    EXPECT_THROW(ParseFrameRateText("0 fps"), TParameterError);
}

TParameterChoice Choice(const char* videoCodec, const char* size, const char* videoBitrate,
                        const char* framerate, const char* audioCodec, const char* audioBitrate,
                        const char* sampleRate, const char* channels, const char* quality = "") {
    return {videoCodec,   size,       videoBitrate, framerate, audioCodec,
            audioBitrate, sampleRate, channels,     quality};
}

TJobDescription Read(TParameterReader reader, const TParameterChoice& choice,
                     const std::string& key) {
    TJobDescription job;
    ReadParameters(reader, choice, key, job);
    return job;
}

TEST(GenericReaderTest, VideoProfileChoices) {
    const auto job = Read(TParameterReader::prGeneric,
                          Choice("H264", "352 x 288 (CIF)", "1200 Kbps", "29.97 fps", "mp3",
                                 "128 Kbps", "44100 Hz", "Stereo"),
                          "MP4");
    EXPECT_EQ(job.VideoCodec, "libx264");
    EXPECT_EQ(job.AudioCodec, "libmp3lame");
    EXPECT_EQ(job.FrameSize, "352x288");
    EXPECT_EQ(job.FrameRateText(), "30000/1001");
    EXPECT_EQ(job.VideoBitrate, 1200000);
    EXPECT_EQ(job.AudioBitrate, 128000);
    EXPECT_EQ(job.AudioSampleRate, 44100);
    EXPECT_EQ(job.AudioChannels, 2);
    EXPECT_FALSE(job.DisableVideo);
}

TEST(GenericReaderTest, OriginalSizeAndAutoRateSendNeither) {
    const auto job = Read(TParameterReader::prGeneric,
                          Choice("MPEG4", "Original Video Size", "384  Kbps", "Auto", "ac3",
                                 "128 Kbps", "8000  Hz", "Mono"),
                          "RM");
    EXPECT_EQ(job.FrameSize, "");
    EXPECT_FALSE(job.FrameRate.has_value());
    EXPECT_EQ(job.FrameRateText(), "");
    EXPECT_EQ(job.VideoBitrate, 384000);
    EXPECT_EQ(job.AudioSampleRate, 8000);
    EXPECT_EQ(job.AudioChannels, 1);
}

TEST(GenericReaderTest, AutoSizeKeepsTheInputSize) {
    const auto job =
        Read(TParameterReader::prGeneric,
             Choice("MPEG4", "Auto", "1200 Kbps", "Auto", "mp3", "128 Kbps", "48000 Hz", "Stereo"),
             "AVI");
    EXPECT_EQ(job.FrameSize, "");
}

TEST(GenericReaderTest, AudioProfileSendsNoVideo) {
    const auto job = Read(TParameterReader::prGeneric,
                          Choice("", "", "", "", "mp3", "192 Kbps", "48000 Hz", "Stereo"), "MP3");
    EXPECT_EQ(job.VideoCodec, "");
    EXPECT_EQ(job.FrameSize, "");
    EXPECT_FALSE(job.FrameRate.has_value());
    EXPECT_EQ(job.VideoBitrate, 0);  // "000": the engine's default
    EXPECT_EQ(job.AudioCodec, "libmp3lame");
    EXPECT_EQ(job.AudioBitrate, 192000);
    EXPECT_TRUE(job.DisableVideo);
}

TEST(GenericReaderTest, PlainBitsPerSecondAreNotMultiplied) {
    const auto job = Read(TParameterReader::prGeneric,
                          Choice("MPEG4", "176 x 144", "120 Kbps", "15 fps", "amr_nb", "12200 bps",
                                 "8000  Hz", "Stereo"),
                          "3GP");
    EXPECT_EQ(job.AudioBitrate, 12200);
    EXPECT_EQ(job.AudioCodec, "libamr_nb");
    EXPECT_EQ(job.AudioChannels, 1);  // 3GP is always mono
}

TEST(GenericReaderTest, StereoGivesOneChannelFor3gpAnd3g2Only) {
    const auto choice = Choice("MPEG4", "", "", "", "mp3", "128 Kbps", "44100 Hz", kChannelsStereo);
    EXPECT_EQ(Read(TParameterReader::prGeneric, choice, "3GP").AudioChannels, 1);
    EXPECT_EQ(Read(TParameterReader::prGeneric, choice, "3G2").AudioChannels, 1);
    EXPECT_EQ(Read(TParameterReader::prGeneric, choice, "AVI").AudioChannels, 2);
}

TEST(GenericReaderTest, VideoIsOffForTheAudioProfilesOnly) {
    const auto choice = Choice("MPEG4", "", "", "", "mp3", "128 Kbps", "44100 Hz", kChannelsStereo);
    for (const char* key : {"AAC", "AU", "M4A", "MP2", "MP3", "OGG", "RA", "WAV", "WMA"})
        EXPECT_TRUE(Read(TParameterReader::prGeneric, choice, key).DisableVideo) << key;
    for (const char* key : {"ASF", "MP4", "AVI", "3GP", "VOB", "MPG", "WMV", "FLV", "MOV", "RM"})
        EXPECT_FALSE(Read(TParameterReader::prGeneric, choice, key).DisableVideo) << key;
}

TEST(GenericReaderTest, EmptyAudioBitrateOrSampleRateIsAnError) {
    EXPECT_THROW(Read(TParameterReader::prGeneric,
                      Choice("MPEG4", "", "", "", "mp3", "", "44100 Hz", "Stereo"), "AVI"),
                 TParameterError);
    EXPECT_THROW(Read(TParameterReader::prGeneric,
                      Choice("MPEG4", "", "", "", "mp3", "128 Kbps", "", "Stereo"), "AVI"),
                 TParameterError);
}

TEST(MobileAmrReaderTest, AlwaysAmrMonoWithPlainBitRate) {
    const auto job = Read(TParameterReader::prMobileAmr,
                          Choice("H264", "176 x 144 (QCIF)", "128 Kbps", "14.985 fps", "mpeg4aac",
                                 "7400 bps", "8000  bps", "Stereo"),
                          "3GP");
    EXPECT_EQ(job.VideoCodec, "libx264");
    EXPECT_EQ(job.AudioCodec, "libamr_nb");  // whatever the list shows
    EXPECT_EQ(job.FrameSize, "176x144");
    EXPECT_EQ(job.FrameRateText(), "15000/1001");
    EXPECT_EQ(job.VideoBitrate, 128000);
    EXPECT_EQ(job.AudioBitrate, 7400);
    EXPECT_EQ(job.AudioSampleRate, 8000);
    EXPECT_EQ(job.AudioChannels, 1);
    EXPECT_FALSE(job.DisableVideo);
}

TEST(MobileAmrReaderTest, KbpsTextIsNotMultiplied) {
    const auto job =
        Read(TParameterReader::prMobileAmr,
             Choice("MPEG4", "", "", "", "amr_nb", "128 Kbps", "8000 Hz", "Mono"), "3G2");
    EXPECT_EQ(job.AudioBitrate, 128);
    EXPECT_EQ(job.VideoCodec, "mpeg4");
}

TEST(Mp4AacReaderTest, AlwaysFaacAndLeavesChannelsAndVideoFlagUnset) {
    const auto job = Read(
        TParameterReader::prMp4Aac,
        Choice("MPEG4", "320 x 240", "512 Kbps", "Auto", "mpeg4aac", "64 Kbps", "44100 Hz", "Mono"),
        "MP4");
    EXPECT_EQ(job.VideoCodec, "mpeg4");
    EXPECT_EQ(job.AudioCodec, "libfaac");
    EXPECT_EQ(job.FrameSize, "320x240");
    EXPECT_EQ(job.VideoBitrate, 512000);
    EXPECT_EQ(job.AudioBitrate, 64000);
    EXPECT_EQ(job.AudioSampleRate, 44100);
    EXPECT_EQ(job.AudioChannels, -1);
    EXPECT_FALSE(job.DisableVideo);
    EXPECT_EQ(Read(TParameterReader::prMp4Aac,
                   Choice("H264", "1280 x 720", "2500 Kbps", "23.975 fps", "mpeg4aac", "64 Kbps",
                          "48000 Hz", "Stereo"),
                   "MP4")
                  .VideoCodec,
              "libx264");
}

// Every profile's preselected entries give a job: no default fails to convert.
TEST(ReaderOnDefaultsTest, EveryProfileDefaultsRead) {
    for (const TCatalogueLine& line : OutputFormatLines()) {
        if (!line.Profile) continue;
        TParameterLists lists;
        lists.ApplyProfile(*line.Profile);
        TJobDescription job;
        EXPECT_NO_THROW(
            ReadParameters(line.Profile->Reader, ChoiceOf(lists), line.Profile->FormatKey, job))
            << line.Text;
        // Today's Opus, lossless and VBR profiles leave the rate to the quality or the codec.
        if (!line.Profile->AudioBitrates.Items.empty()) {
            EXPECT_GT(job.AudioBitrate, 0) << line.Text;
        }
        // The animated pictures (GIF, WebP) have no sound.
        EXPECT_EQ(job.AudioSampleRate > 0, !line.Profile->AudioCodecs.Items.empty()) << line.Text;
    }
}

// Height entries: the width follows the input's shape, both sides even; 16:9 when the input's
// size is unknown.
TEST(HeightSizeTest, WidthFollowsTheShapeAndSidesAreEven) {
    EXPECT_EQ(HeightOfEntry("1080p"), 1080);
    EXPECT_EQ(HeightOfEntry(" 360p "), 360);
    EXPECT_EQ(HeightOfEntry("Original"), std::nullopt);
    EXPECT_EQ(HeightOfEntry("p"), std::nullopt);
    EXPECT_EQ(HeightOfEntry("0p"), std::nullopt);
    EXPECT_EQ(HeightOfEntry("320 x 240"), std::nullopt);
    EXPECT_EQ(ParseSizeText("Original"), "");
    const struct {
        const char* Input;
        int Height;
        const char* Size;
    } kCases[] = {
        {"1920x1080", 720, "1280x720"},
        {"1920x800", 360, "864x360"},
        {"720x576", 480, "600x480"},
        {"853x480", 360, "640x360"},
        // The entry names the short side: a portrait picture keeps its shape upright.
        {"1080x1920", 720, "720x1280"},
        {"1440x2560", 1080, "1080x1920"},
        {"2160x3840", 1080, "1080x1920"},
        // Never larger: a picture already that small or smaller keeps its size.
        {"1080x1920", 1080, ""},
        {"1280x720", 1080, ""},
        {"640x480", 1080, ""},
        {"1920x800", 1080, ""},
        {"720x1280", 1080, ""},
        // Unknown sizes count as 16:9 landscape.
        {"", 1080, "1920x1080"},
        {"junk", 480, "854x480"},
        {"640x0", 480, "854x480"},
        {"3x2", 1, "2x2"},
    };
    for (const auto& c : kCases) EXPECT_EQ(SizeForHeight(c.Input, c.Height), c.Size) << c.Input;
}

// Width entries (the animated pictures'): the height follows the shape, even; never larger, and
// nothing guessed for an unknown size.
TEST(WidthSizeTest, HeightFollowsTheShape) {
    EXPECT_EQ(WidthOfEntry("480 px wide"), 480);
    EXPECT_EQ(WidthOfEntry("Original"), std::nullopt);
    EXPECT_EQ(WidthOfEntry("0 px wide"), std::nullopt);
    EXPECT_EQ(WidthOfEntry("720p"), std::nullopt);
    const struct {
        const char* Input;
        int Width;
        const char* Size;
    } kCases[] = {
        {"1920x1080", 480, "480x270"}, {"640x480", 480, "480x360"}, {"1080x1920", 360, "360x640"},
        {"1920x800", 240, "240x100"},  {"320x240", 480, ""},        {"junk", 480, ""},
    };
    for (const auto& c : kCases) EXPECT_EQ(SizeForWidth(c.Input, c.Width), c.Size) << c.Input;
}

TEST(TodaysReaderTest, EmptyListsLeaveTheirValuesUnset) {
    const TJobDescription job =
        Read(TParameterReader::prToday,
             Choice("VP9", "720p", "", "Auto", "opus", "", "48000 Hz", "Stereo", "High"), "WEBM");
    EXPECT_EQ(job.VideoCodec, "libvpx-vp9");
    EXPECT_EQ(job.AudioCodec, "libopus");
    EXPECT_EQ(job.FrameSize, "720p") << "the builder measures it against the input";
    EXPECT_EQ(job.VideoBitrate, -1);
    EXPECT_EQ(job.AudioBitrate, -1);
    EXPECT_EQ(job.AudioChannels, 2);
    EXPECT_EQ(job.AudioSampleRate, 48000);
    EXPECT_FALSE(job.DisableVideo);
    EXPECT_TRUE(Read(TParameterReader::prToday,
                     Choice("", "", "", "", "flac", "", "96000 Hz", "Mono"), "FLAC")
                    .DisableVideo);
}

// Each step of each encoder: the setting that reaches the encoder.
struct TQualityCase {
    const char* Encoder;
    const char* Step;
    const char* Line;  // "" when the step gives a bit rate per channel
    int PerChannel;
};
void PrintTo(const TQualityCase& c, std::ostream* os) {
    *os << c.Encoder << " " << c.Step;
}
class QualityStepTest : public ::testing::TestWithParam<TQualityCase> {};
TEST_P(QualityStepTest, StepReachesTheEncodersOwnSetting) {
    const TQualityCase& c = GetParam();
    const TQualitySetting setting = QualitySettingFor(c.Encoder, c.Step);
    if (*c.Line) {
        EXPECT_EQ(setting.OptionLines, std::vector<std::string>{c.Line});
    } else {
        EXPECT_TRUE(setting.OptionLines.empty());
    }
    EXPECT_EQ(setting.BitratePerChannel, c.PerChannel);
}
INSTANTIATE_TEST_SUITE_P(Steps, QualityStepTest,
                         ::testing::Values(TQualityCase{"libx264", "Very high", "crf=18", 0},
                                           TQualityCase{"libx264", "Small", "crf=28", 0},
                                           TQualityCase{"libx265", "Standard", "crf=26", 0},
                                           TQualityCase{"libvpx-vp9", "High", "crf=28", 0},
                                           TQualityCase{"libsvtav1", "Standard", "crf=35", 0},
                                           TQualityCase{"libmp3lame", "Very high", "aq=0", 0},
                                           TQualityCase{"libmp3lame", "Small", "aq=6", 0},
                                           TQualityCase{"libopus", "High", "", 64000},
                                           TQualityCase{"libopus", "Small", "", 32000},
                                           TQualityCase{"flac", "High", "", 0},
                                           TQualityCase{"aac", "High", "", 0},
                                           TQualityCase{"libx264", "Best", "", 0}));

bool Has(const TJobDescription& job, const std::string& line) {
    return std::find(job.OptionLines.begin(), job.OptionLines.end(), line) != job.OptionLines.end();
}

TEST(TodaysEncodingTest, QualitySpeedTagAndFastStart) {
    TJobDescription hevc;
    hevc.FormatKey = "MP4";
    hevc.VideoCodec = "libx265";
    hevc.AudioCodec = "aac";
    hevc.AudioBitrate = 160000;
    ApplyTodaysEncoding(hevc, "");
    EXPECT_TRUE(Has(hevc, "crf=26")) << "no step chosen is the standard one";
    EXPECT_TRUE(Has(hevc, "b=0"));
    EXPECT_TRUE(Has(hevc, "preset=veryfast"));
    EXPECT_TRUE(Has(hevc, "vtag=hvc1"));
    EXPECT_TRUE(Has(hevc, "movflags=+faststart"));
    EXPECT_EQ(hevc.AudioBitrate, 160000);

    TJobDescription webm;
    webm.FormatKey = "WEBM";
    webm.VideoCodec = "libvpx-vp9";
    webm.VideoBitrate = 1500000;  // a rate the job sets outweighs the quality
    webm.AudioCodec = "libopus";
    webm.AudioChannels = 1;
    ApplyTodaysEncoding(webm, "Very high");
    EXPECT_FALSE(Has(webm, "crf=24"));
    EXPECT_FALSE(Has(webm, "b=0"));
    EXPECT_TRUE(Has(webm, "row-mt=1"));
    EXPECT_FALSE(Has(webm, "movflags=+faststart"));
    EXPECT_EQ(webm.AudioBitrate, 80000);

    TJobDescription mp3;
    mp3.FormatKey = "MP3";
    mp3.DisableVideo = true;
    mp3.VideoCodec = "libx264";
    mp3.AudioCodec = "libmp3lame";
    mp3.AudioBitrate = 192000;
    ApplyTodaysEncoding(mp3, "High");
    EXPECT_EQ(mp3.OptionLines, std::vector<std::string>{"aq=2"});
    EXPECT_EQ(mp3.AudioBitrate, -1) << "a VBR level, not a rate";

    TJobDescription copied;
    copied.FormatKey = "MOV";
    copied.VideoCodec = "copy";
    copied.AudioCodec = "copy";
    ApplyTodaysEncoding(copied, "High");
    EXPECT_EQ(copied.OptionLines, std::vector<std::string>{"movflags=+faststart"});
}

}  // namespace
