// Whole conversions that change the sound: volume, channel count and rate, the sample formats
// of sample-per-frame encoders, and audio synchronisation on a clean input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <utility>

#include "reencode/ReencodeSupport.h"
#include "support/DecodeMedia.h"
#include "support/EngineModes.h"
#include "support/Ffprobe.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

class AudioConversion : public testing::TestWithParam<bool> {
  protected:
    void SetUp() override { RequireMediaLibraries(); }

    // A clip of PCM sound (exact samples in, no encoder delay) and, unless told otherwise, no
    // picture.
    std::string MakeClip(int sampleRate, int channels, bool withVideo = false) {
        const std::string path = folder_.File("clip" + std::to_string(clips_++) + ".mkv");
        TClipSpec clipSpec;
        clipSpec.videoCodec = withVideo ? "mpeg4" : "";
        clipSpec.audioCodec = "pcm_s16le";
        clipSpec.sampleRate = sampleRate;
        clipSpec.channels = channels;
        clipSpec.durationSeconds = 2.0;
        WriteClip(path, clipSpec);
        return path;
    }

    TTempDir folder_;
    TReencodeEngine engine_{GetParam()};
    int clips_ = 0;
};

float Peak(const TDecodedAudio& audio) {
    float peak = 0;
    for (float sample : audio.samples) peak = std::max(peak, std::fabs(sample));
    return peak;
}

double Rms(const TDecodedAudio& audio, int channel) {
    double sum = 0;
    size_t count = 0;
    for (size_t i = channel; i < audio.samples.size(); i += audio.channels, ++count)
        sum += double(audio.samples[i]) * audio.samples[i];
    return count ? std::sqrt(sum / count) : 0;
}

// The s16 value a decoded float sample came from.
int ToS16(float sample) {
    return static_cast<int>(std::lrint(sample * 32768.0f));
}

TEST_P(AudioConversion, VolumeScalesEverySampleAndClamps) {
    const std::string input = MakeClip(48000, 2);
    const TDecodedAudio source = DecodeAudioSamples(input);
    ASSERT_GT(Peak(source), 0.4f);

    struct {
        const char* volume;
        int factor;  // of 256
    } const cases[] = {{"512", 512}, {"768", 768}, {"1", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.volume);
        const std::string output = folder_.File(std::string("vol") + c.volume + ".wav");
        ASSERT_EQ(Convert(engine_, input, {}, output,
                          {{"acodec", "pcm_s16le"}, {"ar", "48000"}, {"vol", c.volume}}),
                  "");
        const TDecodedAudio result = DecodeAudioSamples(output);
        ASSERT_EQ(result.samples.size(), source.samples.size());
        int clamped = 0;
        for (size_t i = 0; i < source.samples.size(); ++i) {
            const int in = ToS16(source.samples[i]);
            const int expected = std::clamp((in * c.factor + 128) >> 8, -32768, 32767);
            ASSERT_EQ(ToS16(result.samples[i]), expected) << "sample " << i;
            clamped += expected != (in * c.factor + 128) >> 8;
        }
        if (c.factor == 768) {
            EXPECT_GT(clamped, 1000) << "a tone at half scale tripled clips";
        }
        if (c.factor == 1) {
            EXPECT_LT(Peak(result), 0.003f) << "near silence";
        }
    }
}

TEST_P(AudioConversion, MonoToStereoKeepsPitchLevelAndLength) {
    const std::string input = MakeClip(48000, 1);
    const std::string output = folder_.File("stereo.wav");
    ASSERT_EQ(Convert(engine_, input, {}, output,
                      {{"acodec", "pcm_s16le"}, {"ar", "48000"}, {"ac", "2"}}),
              "");
    const TDecodedAudio source = DecodeAudioSamples(input);
    const TDecodedAudio result = DecodeAudioSamples(output);
    ASSERT_EQ(result.channels, 2);
    EXPECT_NEAR(result.Seconds(), 2.0, 0.01);
    for (double second : {0.0, 1.0})
        EXPECT_NEAR(MeasureToneFrequency(result, second + 0.2, 0.6), ToneFrequencyAt(second + 0.5),
                    3);
    // Both channels carry the mono signal at its own level.
    EXPECT_NEAR(Rms(result, 0), Rms(source, 0), 0.01);
    EXPECT_NEAR(Rms(result, 1), Rms(source, 0), 0.01);
}

TEST_P(AudioConversion, StereoToMonoAveragesTheChannels) {
    const std::string input = MakeClip(44100, 2);
    const std::string output = folder_.File("mono.wav");
    ASSERT_EQ(Convert(engine_, input, {}, output,
                      {{"acodec", "pcm_s16le"}, {"ar", "44100"}, {"ac", "1"}}),
              "");
    const TDecodedAudio source = DecodeAudioSamples(input);
    const TDecodedAudio result = DecodeAudioSamples(output);
    ASSERT_EQ(result.channels, 1);
    EXPECT_NEAR(result.Seconds(), 2.0, 0.01);
    EXPECT_NEAR(Rms(result, 0), (Rms(source, 0) + Rms(source, 1)) / 2, 0.01);
    EXPECT_NEAR(MeasureToneFrequency(result, 1.2, 0.6), ToneFrequencyAt(1.5), 3);
}

TEST_P(AudioConversion, RateConversionKeepsPitchAndLength) {
    const std::string input = MakeClip(48000, 2);
    struct {
        const char* rate;
        const char* file;
        const char* codec;
    } const cases[] = {{"44100", "44k.wav", "pcm_s16le"},
                       {"22050", "22k.mp3", "libmp3lame"},
                       {"32000", "32k.mp2", "mp2"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string output = folder_.File(c.file);
        ASSERT_EQ(Convert(engine_, input, {}, output, {{"acodec", c.codec}, {"ar", c.rate}}), "");
        const TProbedFile probe = RunFfprobe(output);
        ASSERT_TRUE(probe.ok) << probe.error;
        ASSERT_NE(probe.First("audio"), nullptr);
        EXPECT_EQ(probe.First("audio")->sampleRate, std::atoi(c.rate));
        const TDecodedAudio result = DecodeAudioSamples(output);
        EXPECT_NEAR(result.Seconds(), 2.0, 0.06);
        for (double second : {0.0, 1.0})
            EXPECT_NEAR(MeasureToneFrequency(result, second + 0.2, 0.6),
                        ToneFrequencyAt(second + 0.5), 4);
    }
}

TEST_P(AudioConversion, SurroundIsMixedByTheLibraryAtTheEncodersFrameSize) {
    // Down through an encoder of whole float frames, up through one of its own frame size.
    struct {
        int from, to;
        const char* channels;
        const char* codec;
        const char* file;
    } const cases[] = {{6, 2, "2", "aac", "down.m4a"}, {2, 6, "6", "flac", "up.flac"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string input = MakeClip(48000, c.from);
        const double level = Rms(DecodeAudioSamples(input), 0);
        const std::string output = folder_.File(c.file);
        ASSERT_EQ(Convert(engine_, input, {}, output,
                          {{"acodec", c.codec}, {"ar", "44100"}, {"ac", c.channels}}),
                  "");
        const TDecodedAudio result = DecodeAudioSamples(output);
        ASSERT_EQ(result.channels, c.to);
        EXPECT_NEAR(result.Seconds(), 2.0, 0.05);
        // The front pair carries the sound; an up-mix leaves every other channel silent.
        for (int channel = 0; channel < c.to; ++channel) {
            if (channel < 2)
                EXPECT_GT(Rms(result, channel), 0.3 * level) << "channel " << channel;
            else
                EXPECT_LT(Rms(result, channel), 1e-3 * level) << "channel " << channel;
        }
    }
}

TEST_P(AudioConversion, SoundThatChangesRateAndChannelsPartWayKeepsBothParts) {
    // MPEG audio frames each say their rate and channels: two files one after the other are
    // one stream that changes from 32 kHz stereo to 48 kHz mono at 2 s.
    std::string joined;
    for (const auto& [rate, channels] : {std::pair{32000, 2}, std::pair{48000, 1}}) {
        const std::string part = folder_.File("part" + std::to_string(rate) + ".mp2");
        TClipSpec clipSpec;
        clipSpec.videoCodec = "";
        clipSpec.audioCodec = "mp2";
        clipSpec.sampleRate = rate;
        clipSpec.channels = channels;
        WriteClip(part, clipSpec);
        std::ifstream in(part, std::ios::binary);
        joined.append(std::istreambuf_iterator<char>(in), {});
    }
    const std::string input = folder_.File("joined.mp2");
    std::ofstream(input, std::ios::binary) << joined;

    const std::string output = folder_.File("joined.flac");
    ASSERT_EQ(Convert(engine_, input, {}, output,
                      {{"acodec", "flac"}, {"ar", "44100"}, {"ac", "2"}, {"vol", "128"}}),
              "");
    const TDecodedAudio result = DecodeAudioSamples(output);
    EXPECT_NEAR(result.Seconds(), 4.0, 0.1);
    // Each part's tone where it belongs, both channels alike (the mono part spread to both).
    for (double second : {0.0, 2.0}) {
        EXPECT_NEAR(MeasureToneFrequency(result, second + 0.2, 0.6), ToneFrequencyAt(0.5), 4);
        EXPECT_NEAR(MeasureToneFrequency(result, second + 1.2, 0.6), ToneFrequencyAt(1.5), 4);
    }
    EXPECT_NEAR(Rms(result, 0), Rms(result, 1), 0.01);
    EXPECT_LT(Peak(result), 0.3) << "the volume holds across the change";
}

TEST_P(AudioConversion, SamplePerFrameEncodersTakeEveryFormat) {
    const std::string input = MakeClip(44100, 2);
    struct {
        const char* codec;
        const char* file;
        const char* probed;
    } const cases[] = {{"pcm_s24le", "s24.wav", "pcm_s24le"},
                       {"pcm_s32le", "s32.wav", "pcm_s32le"},
                       {"pcm_f32be", "f32.au", "pcm_f32be"},
                       {"pcm_mulaw", "mulaw.au", "pcm_mulaw"},
                       {"pcm_u8", "u8.wav", "pcm_u8"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codec);
        const std::string output = folder_.File(c.file);
        ASSERT_EQ(Convert(engine_, input, {}, output, {{"acodec", c.codec}, {"ar", "44100"}}), "");
        const TProbedFile probe = RunFfprobe(output);
        ASSERT_TRUE(probe.ok) << probe.error;
        ASSERT_NE(probe.First("audio"), nullptr);
        EXPECT_EQ(probe.First("audio")->codecName, c.probed);
        const TDecodedAudio result = DecodeAudioSamples(output);
        EXPECT_NEAR(result.Seconds(), 2.0, 0.001);
        EXPECT_NEAR(MeasureToneFrequency(result, 0.2, 0.6), ToneFrequencyAt(0.5), 3);
    }
}

TEST_P(AudioConversion, NoSampleIsLostAtTheEnd) {
    // 2 s at 44.1 kHz are 88200 sample frames: 19 FLAC frames of 4608 and a short one of 648.
    const std::string input = MakeClip(44100, 2);
    const TDecodedAudio source = DecodeAudioSamples(input);
    ASSERT_EQ(source.samples.size(), 88200u * 2);
    const std::string lossless = folder_.File("same.flac");
    ASSERT_EQ(Convert(engine_, input, {}, lossless, {{"acodec", "flac"}, {"ar", "44100"}}), "");
    const TDecodedAudio same = DecodeAudioSamples(lossless);
    EXPECT_EQ(same.samples, source.samples) << "lossless, to the last sample";

    // Through the resampler: what it still holds at the end comes out too.
    const std::string resampledInput = MakeClip(48000, 2);
    const std::string resampled = folder_.File("resampled.flac");
    ASSERT_EQ(
        Convert(engine_, resampledInput, {}, resampled, {{"acodec", "flac"}, {"ar", "44100"}}), "");
    EXPECT_NEAR(double(DecodeAudioSamples(resampled).samples.size()) / 2, 88200, 2);

    // An encoder that takes whole frames only gets the tail padded, not dropped.
    const std::string padded = folder_.File("padded.mp2");
    ASSERT_EQ(Convert(engine_, input, {}, padded, {{"acodec", "mp2"}, {"ar", "44100"}}), "");
    EXPECT_GE(DecodeAudioSamples(padded).samples.size(), 88200u * 2);
}

TEST_P(AudioConversion, SynchronisationMethodsLeaveACleanInputAlone) {
    const std::string input = MakeClip(48000, 2, true);
    for (const char* method : {"1", "100"}) {
        SCOPED_TRACE(method);
        const std::string output = folder_.File(std::string("async") + method + ".avi");
        ASSERT_EQ(
            Convert(
                engine_, input, {}, output,
                {{"async", method}, {"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}, {"ar", "44100"}},
                [](TReencodeEngine& engine) { engine.Verbose = 3; }),
            "");
        EXPECT_EQ(engine_.CountLogs("audio samples"), 0) << "nothing added or discarded";
        EXPECT_EQ(engine_.CountLogs("compensating"), 0) << "no drift to make up for";
        const TDecodedAudio result = DecodeAudioSamples(output);
        EXPECT_NEAR(result.Seconds(), 2.0, 0.06);
        EXPECT_NEAR(MeasureToneFrequency(result, 1.2, 0.6), ToneFrequencyAt(1.5), 4);
    }
}

TEST_P(AudioConversion, AudioThatStartsLateIsPaddedWithSilence) {
    // A file whose picture starts at 0 and whose sound starts at 0.5 s: with "async" 1 the
    // sound-only output starts with half a second of silence, so the tone stays where the
    // input's clock puts it.
    const std::string picture = MakeClip(44100, 2, true);
    const std::string sound = MakeClip(44100, 2);
    const std::string late = folder_.File("late.mkv");
    ASSERT_EQ(Convert(engine_, {{picture, {}}, {sound, {{"itsoffset", "0.5"}}}}, late,
                      {{"map", "0:0"},
                       {"map", "1:0"},
                       {"vcodec", "mpeg4"},
                       {"acodec", "pcm_s16le"},
                       {"ar", "44100"}}),
              "");
    const std::string output = folder_.File("padded.wav");
    ASSERT_EQ(Convert(engine_, late, {}, output,
                      {{"vn", ""}, {"async", "1"}, {"acodec", "pcm_s16le"}, {"ar", "44100"}},
                      [](TReencodeEngine& engine) { engine.Verbose = 3; }),
              "");
    EXPECT_EQ(engine_.CountLogs("adding 22050 audio samples of silence"), 1);
    const TDecodedAudio result = DecodeAudioSamples(output);
    EXPECT_NEAR(result.Seconds(), 2.5, 0.01);
    TDecodedAudio head = result;
    head.samples.resize(size_t(0.45 * 44100) * 2);
    EXPECT_EQ(Peak(head), 0.0f);
    EXPECT_NEAR(MeasureToneFrequency(result, 0.7, 0.6), ToneFrequencyAt(0.5), 3);

    // Without synchronisation the sound simply starts at once.
    const std::string direct = folder_.File("direct.wav");
    ASSERT_EQ(
        Convert(engine_, late, {}, direct, {{"vn", ""}, {"acodec", "pcm_s16le"}, {"ar", "44100"}}),
        "");
    EXPECT_NEAR(DecodeAudioSamples(direct).Seconds(), 2.0, 0.01);
}

INSTANTIATE_TEST_SUITE_P(Modes, AudioConversion, EngineModes(), TEngineModeName());

}  // namespace
