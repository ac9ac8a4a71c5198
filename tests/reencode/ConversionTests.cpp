// Whole conversions of generated clips into the common output formats, judged by ffprobe and by
// decoding the results.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "reencode/ReencodeSupport.h"
#include "support/DecodeMedia.h"
#include "support/EngineModes.h"
#include "support/Ffprobe.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

struct TFormatCase {
    const char* name;
    const char* file;  // output file name; its extension picks the muxer
    TOptionList options;
    const char* format;      // ffprobe's format name
    const char* videoCodec;  // nullptr: no video expected
    int width, height;
    AVRational frameRate;
    bool readableDigits;  // the frame numbers survive the codec
    const char* audioCodec;
    int sampleRate, channels;
};

void PrintTo(const TFormatCase& c, std::ostream* out) {
    *out << c.name;
}

class Formats : public testing::TestWithParam<std::tuple<TFormatCase, bool>> {
  protected:
    void SetUp() override { RequireMediaLibraries(); }
    TTempDir folder_;
    TReencodeEngine engine_{std::get<1>(GetParam())};
};

TEST_P(Formats, ConvertsAClipEndToEnd) {
    const TFormatCase& c = std::get<0>(GetParam());
    const std::string input = folder_.File("clip.mkv");
    // PCM: the input's audio lasts exactly as long as its video, with no encoder delay.
    TClipSpec clipSpec;
    clipSpec.audioCodec = "pcm_s16le";
    clipSpec.durationSeconds = 2.0;
    WriteClip(input, clipSpec);
    const std::string output = folder_.File(c.file);
    ASSERT_EQ(Convert(engine_, input, {}, output, c.options), "");

    const TProbedFile probe = RunFfprobe(output, false, true);
    ASSERT_TRUE(probe.ok) << probe.error;
    EXPECT_EQ(probe.formatName, c.format);
    EXPECT_NEAR(probe.duration, 2.0, 0.15);
    const TProbedStream* video = probe.First("video");
    const TProbedStream* audio = probe.First("audio");
    double videoSeconds = -1;
    if (c.videoCodec) {
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->codecName, c.videoCodec);
        EXPECT_EQ(video->width, c.width);
        EXPECT_EQ(video->height, c.height);
        const AVRational rate = video->avgFrameRate.num ? video->avgFrameRate : video->frameRate;
        EXPECT_NEAR(av_q2d(rate), av_q2d(c.frameRate), 0.01);
        videoSeconds = video->frames / av_q2d(c.frameRate);
        EXPECT_NEAR(videoSeconds, 2.0, 0.05) << video->frames << " frames";
        // Every picture once, in order.
        const auto frames = DecodeVideoFrames(output);
        EXPECT_EQ(frames.size(), 50u);
        for (size_t i = 0; c.readableDigits && i < frames.size(); ++i)
            EXPECT_EQ(ReadFrameNumber(frames[i]), int(i)) << "frame " << i;
    } else {
        EXPECT_EQ(video, nullptr);
    }
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->codecName, c.audioCodec);
    EXPECT_EQ(audio->sampleRate, c.sampleRate);
    EXPECT_EQ(audio->channels, c.channels);
    const TDecodedAudio samples = DecodeAudioSamples(output);
    EXPECT_NEAR(samples.Seconds(), 2.0, 0.1);
    if (c.videoCodec) {
        EXPECT_LE(std::fabs(samples.Seconds() - videoSeconds), 1 / av_q2d(c.frameRate))
            << "audio " << samples.Seconds() << " s, video " << videoSeconds << " s";
    }
    // The tone's first second is 440 Hz whatever the conversion.
    EXPECT_NEAR(MeasureToneFrequency(samples, 0.2, 0.6), 440, 5);
}

// clang-format off
const TFormatCase kFormats[] = {
    {"Mpeg4AviMp3", "out.avi", {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}, {"ar", "44100"}},
     "avi", "mpeg4", 320, 240, {25, 1}, true, "mp3", 44100, 2},
    {"H264Mp4Aac", "out.mp4", {{"vcodec", "libx264"}, {"acodec", "aac"}, {"ar", "48000"}},
     "mov,mp4,m4a,3gp,3g2,mj2", "h264", 320, 240, {25, 1}, true, "aac", 48000, 2},
    {"Mpeg2VobAc3", "out.vob",
     {{"vcodec", "mpeg2video"}, {"acodec", "ac3"}, {"ar", "48000"}, {"s", "352x288"}},
     "mpeg", "mpeg2video", 352, 288, {25, 1}, true, "ac3", 48000, 2},
    {"Mpeg1PsMp2", "out.mpg", {{"vcodec", "mpeg1video"}, {"acodec", "mp2"}, {"ar", "44100"}},
     "mpeg", "mpeg1video", 320, 240, {25, 1}, true, "mp2", 44100, 2},
    {"Flv1FlvMp3", "out.flv", {{"vcodec", "flv"}, {"acodec", "libmp3lame"}, {"ar", "44100"}},
     "flv", "flv1", 320, 240, {25, 1}, true, "mp3", 44100, 2},
    {"Wmv2WmvWma2", "out.wmv", {{"vcodec", "wmv2"}, {"acodec", "wmav2"}, {"ar", "44100"}},
     "asf", "wmv2", 320, 240, {25, 1}, true, "wmav2", 44100, 2},
    // RealVideo 1 leaves blocks of earlier pictures in the digits: frames are counted only.
    {"Rv10RmAc3", "out.rm", {{"vcodec", "rv10"}, {"acodec", "ac3"}, {"ar", "48000"}},
     "rm", "rv10", 320, 240, {25, 1}, false, "ac3", 48000, 2},
    {"Mp3Audio", "out.mp3", {{"vn", ""}, {"acodec", "libmp3lame"}, {"ar", "44100"}},
     "mp3", nullptr, 0, 0, {0, 1}, false, "mp3", 44100, 2},
    {"WavAudio", "out.wav", {{"vn", ""}, {"acodec", "pcm_s16le"}, {"ar", "44100"}},
     "wav", nullptr, 0, 0, {0, 1}, false, "pcm_s16le", 44100, 2},
    {"OggVorbisAudio", "out.ogg", {{"vn", ""}, {"acodec", "libvorbis"}, {"ar", "44100"}},
     "ogg", nullptr, 0, 0, {0, 1}, false, "vorbis", 44100, 2},
    {"AacAudio", "out.aac", {{"vn", ""}, {"acodec", "aac"}, {"ar", "48000"}},
     "aac", nullptr, 0, 0, {0, 1}, false, "aac", 48000, 2},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, Formats,
                         testing::Combine(testing::ValuesIn(kFormats), EngineModes()),
                         TCaseAndModeName());

// Encoders that print with their own printf: their banners and notes stay off the terminal
// (standard error), which only the libraries' log reaches.
struct TBannerCase {
    const char* name;
    const char* file;
    const char* encoder;
    const char* banner;  // how its notes begin
};

void PrintTo(const TBannerCase& c, std::ostream* out) {
    *out << c.name;
}

class EncoderBanners : public testing::TestWithParam<TBannerCase> {
  protected:
    void SetUp() override {
        RequireMediaLibraries();
        if (!LibAVCodec.avcodec_find_encoder_by_name(GetParam().encoder))
            GTEST_SKIP() << "the libraries lack " << GetParam().encoder;
    }
    TTempDir folder_;
    TReencodeEngine engine_;
};

TEST_P(EncoderBanners, StayOffStandardError) {
    const TBannerCase& c = GetParam();
    TClipSpec clipSpec;
    clipSpec.durationSeconds = 0.4;
    const std::string input = folder_.File("clip.mkv");
    WriteClip(input, clipSpec);
    // Standard error goes to a file while the job runs.
    const std::string errors = folder_.File("stderr.txt");
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int file = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(saved, 0);
    ASSERT_GE(file, 0);
    dup2(file, STDERR_FILENO);
    close(file);
    const std::string failure =
        Convert(engine_, input, {}, folder_.File(c.file), {{"vcodec", c.encoder}, {"an", ""}});
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    ASSERT_EQ(failure, "");

    std::ifstream written(errors);
    const std::string text((std::istreambuf_iterator<char>(written)),
                           std::istreambuf_iterator<char>());
    EXPECT_EQ(text.find(c.banner), std::string::npos) << text;
    const TProbedFile probe = RunFfprobe(folder_.File(c.file));
    ASSERT_NE(probe.First("video"), nullptr) << probe.error;
}

INSTANTIATE_TEST_SUITE_P(Encoders, EncoderBanners,
                         testing::Values(TBannerCase{"X265", "out.mp4", "libx265", "x265 ["},
                                         TBannerCase{"SvtAv1", "out.mkv", "libsvtav1", "Svt["}),
                         [](const testing::TestParamInfo<TBannerCase>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

}  // namespace
