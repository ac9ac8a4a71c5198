// What the front-end comparison and the profile runs do not reach: a size fitted from the
// input's, values only an attempt to open the encoder finds, an encoder the libraries lack, and
// the stand-in encoders of libraries built without the preferred ones (hidden here), converted
// with since these libraries never need them.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ProfileRun.h"
#include "app/core/EncoderFit.h"
#include "app/core/OutputNames.h"
#include "app/core/ParameterReaders.h"
#include "support/TempDir.h"

namespace {

TEST(LoadedEncodersTest, TheInstalledLibrariesHaveTheEncodersTheProfilesPrefer) {
    RequireMediaLibraries();
    const TLoadedEncoders encoders;
    for (const char* name :
         {"libopencore_amrnb", "libmp3lame", "libvorbis", "libx264", "libxvid", "aac"})
        EXPECT_TRUE(encoders.Has(name)) << name;
    EXPECT_FALSE(TLoadedEncoders({"libxvid"}).Has("libxvid"));
}

struct TFitCase {
    const char* Name;
    TJobDescription Job;  // codecs, size, rate, channels and bit rate as the reader wrote them
    std::vector<std::string> Hidden;
    TJobDescription Fitted;  // the same fields after fitting
    std::vector<std::string> Log;
};
void PrintTo(const TFitCase& c, std::ostream* os) {
    *os << c.Name;
}

TJobDescription Video(const char* codec, const char* size) {
    TJobDescription job;
    job.VideoCodec = codec;
    job.FrameSize = size;
    return job;
}
TJobDescription Audio(const char* codec, int rate, int channels, int bitrate) {
    TJobDescription job;
    job.AudioCodec = codec;
    job.AudioSampleRate = rate;
    job.AudioChannels = channels;
    job.AudioBitrate = bitrate;
    return job;
}

class EncoderFitTest : public ::testing::TestWithParam<TFitCase> {};
TEST_P(EncoderFitTest, RefusedEntriesBecomeTheNearestTaken) {
    RequireMediaLibraries();
    const TFitCase& c = GetParam();
    TJobDescription job = c.Job;
    std::vector<std::string> log;
    FitJobToEncoders(job, "640x480", TLoadedEncoders(c.Hidden), log);
    EXPECT_EQ(job.VideoCodec, c.Fitted.VideoCodec);
    EXPECT_EQ(job.FrameSize, c.Fitted.FrameSize);
    EXPECT_EQ(job.AudioCodec, c.Fitted.AudioCodec);
    EXPECT_EQ(job.AudioSampleRate, c.Fitted.AudioSampleRate);
    EXPECT_EQ(job.AudioChannels, c.Fitted.AudioChannels);
    EXPECT_EQ(job.AudioBitrate, c.Fitted.AudioBitrate);
    EXPECT_EQ(log, c.Log);
}
INSTANTIATE_TEST_SUITE_P(
    Entries, EncoderFitTest,
    ::testing::Values(TFitCase{"H263InputSize",
                               Video("h263", ""),
                               {},
                               Video("h263", "704x576"),
                               {"h263 does not take the frame size 640x480: 704x576 instead"}},
                      TFitCase{"Mp2At40Kbps",
                               Audio("mp2", 44100, 2, 40000),
                               {},
                               Audio("mp2", 44100, 2, 48000),
                               {"mp2 does not take 40 kbps at 44100 Hz: 48 kbps instead"}},
                      // wmav2 lists no rates: what it takes is found by opening it.
                      TFitCase{"WmaAt96000",
                               Audio("wmav2", 96000, 2, 128000),
                               {},
                               Audio("wmav2", 48000, 2, 128000),
                               {"wmav2 does not take 96000 Hz: 48000 Hz instead"}},
                      TFitCase{"AmrStereoAt16000",
                               Audio("libamr_nb", 16000, 2, 12200),
                               {},
                               Audio("libopencore_amrnb", 8000, 1, 12200),
                               {"libopencore_amrnb does not take 2 channels: 1 channel instead",
                                "libopencore_amrnb does not take 16000 Hz: 8000 Hz instead"}},
                      TFitCase{"AacForAmr",
                               Audio("libamr_nb", 8000, 1, 7400),
                               {"libopencore_amrnb", "libfdk_aac"},
                               Audio("aac", 8000, 1, 24000),
                               {"the libraries have no AMR-NB encoder: the audio is AAC (aac)",
                                "AAC in place of AMR-NB: 7400 bps becomes 24 kbps"}}),
    [](const auto& testInfo) { return testInfo.param.Name; });

TEST(EncoderFitTest, AnEncoderTheLibrariesLackFailsNamingIt) {
    RequireMediaLibraries();
    TJobDescription job = Video("libx264", "640x480");
    std::vector<std::string> log;
    try {
        FitJobToEncoders(job, "640x480", TLoadedEncoders({"libx264"}), log);
        FAIL() << "no error";
    } catch (const TEncoderError& error) {
        EXPECT_STREQ(error.what(), "the media libraries have no encoder for \"libx264\"");
    }
}

// The stand-ins convert: each profile's defaults as libraries without the preferred encoder
// would write them.
struct TStandInCase {
    const char* Profile;
    const char* Hidden;
    const char* VideoCodec;  // ffprobe's name, "" for no video
    const char* VideoTag;
    const char* AudioCodec;
    int SampleRate;
    int Channels;
};
void PrintTo(const TStandInCase& c, std::ostream* os) {
    *os << c.Profile << " without " << c.Hidden;
}

class StandInConversionTest : public ::testing::TestWithParam<TStandInCase> {};
TEST_P(StandInConversionTest, WritesTheFileWithTheStandIn) {
    RequireMediaLibraries();
    const TStandInCase& c = GetParam();
    TTempDir folder;
    const TSourceClip clip = MakeSourceClip(folder.Path().string(), 1.0, 320, 240);
    const TOutputProfile& profile = *FindProfile(c.Profile);
    TParameterLists lists;
    lists.ApplyProfile(profile);
    TJobDescription job;
    job.InputFile = clip.Path;
    job.OutputFile = folder.File("out" + OutputExtension(profile.FormatKey));
    ReadParameters(profile.Reader, ChoiceOf(lists), profile.FormatKey, job);
    job.DisableVideo = IsAudioFormatKey(profile.FormatKey);
    std::vector<std::string> log;
    FitJobToEncoders(job, "320x240", TLoadedEncoders({c.Hidden, "libfdk_aac"}), log);
    ASSERT_FALSE(log.empty()) << "the row's log says which encoder wrote it";

    TProfileConverter converter;
    const TConversionOutcome outcome = converter.Run(job);
    ASSERT_TRUE(outcome.Done) << outcome.Reason;
    const TProbedFile judge = RunFfprobe(job.OutputFile);
    ASSERT_TRUE(judge.ok) << judge.error;
    const TProbedStream* video = judge.First("video");
    if (*c.VideoCodec) {
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->codecName, c.VideoCodec);
        if (*c.VideoTag) {
            EXPECT_EQ(video->codecTag, c.VideoTag);
        }
    } else {
        EXPECT_EQ(video, nullptr);
    }
    const TProbedStream* audio = judge.First("audio");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->codecName, c.AudioCodec);
    EXPECT_EQ(audio->sampleRate, c.SampleRate);
    EXPECT_EQ(audio->channels, c.Channels);
}
INSTANTIATE_TEST_SUITE_P(StandIns, StandInConversionTest,
                         ::testing::Values(TStandInCase{"3GP - Mobile Video Format (*.3gp)",
                                                        "libopencore_amrnb", "mpeg4", "", "aac",
                                                        8000, 1},
                                           TStandInCase{"AVI - XviD Video (*.avi)", "libxvid",
                                                        "mpeg4", "XVID", "mp3", 48000, 2},
                                           TStandInCase{"OGG - Ogg Vorbis Audio (*.ogg)",
                                                        "libvorbis", "", "", "vorbis", 48000, 2}));

}  // namespace
