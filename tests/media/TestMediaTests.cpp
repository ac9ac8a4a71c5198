// The generated test media are what every other test relies on: each clip must be what it was
// asked to be, as ffprobe judges it, and its frame numbers and tone must read back after lossy
// coding; damaged files must be damaged the way they claim.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "binding/FFmpegLibs.h"
#include "support/DecodeMedia.h"
#include "support/Ffprobe.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

struct TClipCase {
    const char* name;
    const char* file;        // the extension picks the muxer unless the clipSpec names one
    const char* formatName;  // part of ffprobe's format_name
    const char* videoCodec;  // ffprobe's codec names; "" for none
    const char* audioCodec;
    TClipSpec clipSpec;
};

void PrintTo(const TClipCase& c, std::ostream* os) {
    *os << c.name;
}

TClipSpec ClipSpecOf(std::string video, std::string audio, auto&&... changes) {
    TClipSpec clipSpec;
    clipSpec.videoCodec = std::move(video);
    clipSpec.audioCodec = std::move(audio);
    (changes(clipSpec), ...);
    return clipSpec;
}
auto Rate(int rate) {
    return [=](TClipSpec& s) { s.sampleRate = rate; };
}
auto Mono() {
    return [](TClipSpec& s) { s.channels = 1; };
}
auto Seconds(double d) {
    return [=](TClipSpec& s) { s.durationSeconds = d; };
}
auto Size(int w, int h) {
    return [=](TClipSpec& s) { s.width = w, s.height = h; };
}
auto Fps(int num, int den) {
    return [=](TClipSpec& s) { s.frameRate = {num, den}; };
}
auto Format(const char* f) {
    return [=](TClipSpec& s) { s.format = f; };
}
auto Pixels(AVPixelFormat f) {
    return [=](TClipSpec& s) { s.pixelFormat = f; };
}
auto AudioBitRate(int64_t b) {
    return [=](TClipSpec& s) { s.audioBitRate = b; };
}

// Encoders with sample formats u8, s16, s16p, s32, s32p (mp3), flt, fltp, dbl; pictures drawn
// in YUV420P and converted to YUVJ420P, RGB24 and YUV444P.
const TClipCase kClips[] = {
    {"Mp4", "a.mp4", "mp4", "mpeg4", "aac", ClipSpecOf("mpeg4", "aac")},
    {"Mp4H264", "a.mp4", "mp4", "h264", "aac", ClipSpecOf("libx264", "aac")},
    {"MkvMono", "a.mkv", "matroska", "mpeg4", "aac", ClipSpecOf("mpeg4", "aac", Mono())},
    {"MovPng", "a.mov", "mov", "png", "pcm_s16le", ClipSpecOf("png", "pcm_s16le", Seconds(1))},
    {"AviMp3", "a.avi", "avi", "mpeg4", "mp3", ClipSpecOf("mpeg4", "libmp3lame", Rate(44100))},
    {"AviMjpegAc3", "a.avi", "avi", "mjpeg", "ac3", ClipSpecOf("mjpeg", "ac3")},
    {"Mpeg1", "a.mpg", "mpeg", "mpeg1video", "mp2", ClipSpecOf("mpeg1video", "mp2")},
    {"Mpeg2Ntsc", "a.mpg", "mpeg", "mpeg2video", "mp2",
     ClipSpecOf("mpeg2video", "mp2", Fps(30000, 1001), Size(352, 240))},
    {"Mpegts", "a.ts", "mpegts", "mpeg2video", "mp2", ClipSpecOf("mpeg2video", "mp2")},
    {"Flv", "a.flv", "flv", "flv1", "mp3", ClipSpecOf("flv", "libmp3lame", Rate(44100))},
    {"Wmv", "a.wmv", "asf", "wmv2", "wmav2", ClipSpecOf("wmv2", "wmav2", Rate(44100))},
    {"ThreeGpQcif", "a.3gp", "3gp", "h263", "amr_nb",
     ClipSpecOf("h263", "libopencore_amrnb", Size(176, 144), Mono(), Rate(8000),
                AudioBitRate(12200))},
    {"OggVorbis", "a.ogg", "ogg", "", "vorbis", ClipSpecOf("", "libvorbis")},
    {"OggTheora", "a.ogv", "ogg", "theora", "vorbis", ClipSpecOf("libtheora", "libvorbis")},
    {"WebM", "a.webm", "webm", "vp8", "opus", ClipSpecOf("libvpx", "libopus")},
    {"Mkv444", "a.mkv", "matroska", "h264", "",
     ClipSpecOf("libx264", "", Pixels(AV_PIX_FMT_YUV444P))},
    {"VideoOnlyHalfSecond", "a.avi", "avi", "mpeg4", "", ClipSpecOf("mpeg4", "", Seconds(0.5))},
    {"Mp3", "a.mp3", "mp3", "", "mp3", ClipSpecOf("", "libmp3lame", Mono(), Rate(22050))},
    {"WavS16", "a.wav", "wav", "", "pcm_s16le", ClipSpecOf("", "pcm_s16le")},
    {"WavU8", "a.wav", "wav", "", "pcm_u8", ClipSpecOf("", "pcm_u8", Mono(), Rate(8000))},
    {"WavS24", "a.wav", "wav", "", "pcm_s24le", ClipSpecOf("", "pcm_s24le")},
    {"WavFloat", "a.wav", "wav", "", "pcm_f32le", ClipSpecOf("", "pcm_f32le")},
    {"WavImaAdpcm", "a.wav", "wav", "", "adpcm_ima_wav", ClipSpecOf("", "adpcm_ima_wav")},
    {"WavNamedFormat", "a.bin", "wav", "", "pcm_f64le", ClipSpecOf("", "pcm_f64le", Format("wav"))},
    {"OneMinute", "a.mkv", "matroska", "mpeg4", "aac",
     ClipSpecOf("mpeg4", "aac", Seconds(60), Size(80, 60), Fps(5, 1), Mono(), Rate(8000))},
};

bool HasEncoder(const std::string& name) {
    return name.empty() || LibAVCodec.avcodec_find_encoder_by_name(name.c_str());
}

int64_t FrameCount(const TClipSpec& clipSpec) {
    return std::llround(clipSpec.durationSeconds * av_q2d(clipSpec.frameRate));
}

// Audio ends up to an encoder frame late (the last frame is filled up) and starts with the
// encoder's priming samples; two frames of the longest encoders here cover both.
double AudioSlack(const TClipSpec& clipSpec) {
    return 2048.0 / clipSpec.sampleRate;
}

// A 2x2 box filter: what a scaler makes of the picture at half size (luma is all that counts).
TDecodedFrame HalfSize(const TDecodedFrame& f) {
    TDecodedFrame half;
    half.width = f.width / 2;
    half.height = f.height / 2;
    for (int y = 0; y < half.height; ++y)
        for (int x = 0; x < half.width; ++x) {
            const uint8_t* p = &f.y[size_t(2 * y) * f.width + 2 * x];
            half.y.push_back(uint8_t((p[0] + p[1] + p[f.width] + p[f.width + 1] + 2) / 4));
        }
    return half;
}

void QuietLibraries() {
    RequireMediaLibraries();
    LibAVUtil.av_log_set_level(AV_LOG_ERROR);
}

class ClipTest : public ::testing::TestWithParam<TClipCase> {
  protected:
    void SetUp() override {
        QuietLibraries();
        const TClipSpec& clipSpec = GetParam().clipSpec;
        if (!HasEncoder(clipSpec.videoCodec) || !HasEncoder(clipSpec.audioCodec))
            GTEST_SKIP() << "encoder not in this build of the libraries";
        path_ = dir_.File(GetParam().file);
        ASSERT_NO_THROW(WriteClip(path_, clipSpec));
    }
    TTempDir dir_;
    std::string path_;
};

TEST_P(ClipTest, FfprobeSeesWhatWasAskedFor) {
    const TClipCase& c = GetParam();
    const TClipSpec& clipSpec = c.clipSpec;
    const TProbedFile probe = RunFfprobe(path_, true);
    ASSERT_TRUE(probe.ok) << probe.error;
    EXPECT_NE(probe.formatName.find(c.formatName), std::string::npos) << probe.formatName;
    EXPECT_EQ(probe.size, int64_t(std::filesystem::file_size(path_)));
    EXPECT_EQ(probe.streams.size(),
              size_t(!clipSpec.videoCodec.empty() + !clipSpec.audioCodec.empty()));
    double tolerance = 0;
    if (const TProbedStream* v = probe.First("video")) {
        EXPECT_EQ(v->codecName, c.videoCodec);
        EXPECT_EQ(v->width, clipSpec.width);
        EXPECT_EQ(v->height, clipSpec.height);
        EXPECT_EQ(av_cmp_q(v->frameRate, clipSpec.frameRate), 0)
            << v->frameRate.num << "/" << v->frameRate.den;
        EXPECT_EQ(v->packets, FrameCount(clipSpec));
        tolerance = 1 / av_q2d(clipSpec.frameRate);
    } else {
        EXPECT_STREQ(c.videoCodec, "");
    }
    if (const TProbedStream* a = probe.First("audio")) {
        EXPECT_EQ(a->codecName, c.audioCodec);
        EXPECT_EQ(a->sampleRate, clipSpec.sampleRate);
        EXPECT_EQ(a->channels, clipSpec.channels);
        tolerance = std::max(tolerance, AudioSlack(clipSpec));
    } else {
        EXPECT_STREQ(c.audioCodec, "");
    }
    EXPECT_NEAR(probe.duration, clipSpec.durationSeconds, tolerance);
}

TEST_P(ClipTest, FramesCarryTheirNumbersAndTimes) {
    const TClipSpec& clipSpec = GetParam().clipSpec;
    if (clipSpec.videoCodec.empty()) GTEST_SKIP() << "no video";
    const auto frames = DecodeVideoFrames(path_);
    ASSERT_EQ(int64_t(frames.size()), FrameCount(clipSpec));
    const double frameSeconds = 1 / av_q2d(clipSpec.frameRate);
    int untimed = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i].width, clipSpec.width);
        ASSERT_EQ(frames[i].height, clipSpec.height);
        ASSERT_EQ(ReadFrameNumber(frames[i]), int(i)) << "frame " << i;
        // Half of 320x240 leaves 4x4 pixels to a cell of the digits; smaller is not promised.
        if (clipSpec.width >= 320 && clipSpec.height >= 240) {
            ASSERT_EQ(ReadFrameNumber(HalfSize(frames[i])), int(i)) << "frame " << i << ", half";
        }
        if (frames[i].seconds < 0) {
            ++untimed;
            continue;
        }
        ASSERT_NEAR(frames[i].seconds, double(i) * frameSeconds, frameSeconds / 2) << i;
    }
    // MPEG program streams leave the time of the last picture, flushed from the decoder, open.
    EXPECT_LE(untimed, 1);
}

TEST_P(ClipTest, ToneChangesPitchEachSecond) {
    const TClipSpec& clipSpec = GetParam().clipSpec;
    if (clipSpec.audioCodec.empty()) GTEST_SKIP() << "no audio";
    const TDecodedAudio audio = DecodeAudioSamples(path_);
    EXPECT_EQ(audio.sampleRate, clipSpec.sampleRate);
    EXPECT_EQ(audio.channels, clipSpec.channels);
    EXPECT_NEAR(audio.Seconds(), clipSpec.durationSeconds, AudioSlack(clipSpec));
    // The middle of each second, away from the steps and the encoder's start-up delay.
    for (double t = 0.5; t < clipSpec.durationSeconds; t += 1.0)
        EXPECT_NEAR(MeasureToneFrequency(audio, t - 0.3, 0.6), ToneFrequencyAt(t),
                    ToneFrequencyAt(t) * 0.01)
            << "at " << t << " s";
}

INSTANTIATE_TEST_SUITE_P(Containers, ClipTest, ::testing::ValuesIn(kClips),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(ClipPatternTest, PicturesWithoutDigitsReadAsUnknown) {
    for (const uint8_t level : {uint8_t(0), uint8_t(16), uint8_t(128), uint8_t(255)}) {
        TDecodedFrame flat;
        flat.width = 320;
        flat.height = 240;
        flat.y.assign(320 * 240, level);
        EXPECT_EQ(ReadFrameNumber(flat), -1) << int(level);
    }
    EXPECT_EQ(ReadFrameNumber(TDecodedFrame{}), -1);
}

TEST(ClipPatternTest, ToneStaysInsideNarrowBand) {
    EXPECT_EQ(ToneFrequencyAt(0), 440);
    EXPECT_EQ(ToneFrequencyAt(1.5), 550);
    for (double t = 0; t < 120; t += 0.5) EXPECT_LT(ToneFrequencyAt(t), 4000 / 2.5);
}

TEST(WriteClipTest, FailuresNameTheCallAndTheFile) {
    QuietLibraries();
    TTempDir dir;
    auto failure = [](const std::string& path, const TClipSpec& clipSpec) -> std::string {
        try {
            WriteClip(path, clipSpec);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "no exception";
    };
    const std::string missingFolder = dir.File("no/such/folder/a.mp4");
    EXPECT_EQ(failure(missingFolder, TClipSpec{}).find("avio_open failed on " + missingFolder), 0u)
        << failure(missingFolder, TClipSpec{});
    const std::string path = dir.File("a.mp4");
    const std::string noEncoder = failure(path, ClipSpecOf("no-such-encoder", "aac"));
    EXPECT_NE(noEncoder.find("no-such-encoder"), std::string::npos) << noEncoder;
    EXPECT_NE(noEncoder.find(path), std::string::npos) << noEncoder;
    const std::string audioAsVideo = failure(path, ClipSpecOf("aac", ""));
    EXPECT_NE(audioAsVideo.find("no video encoder"), std::string::npos) << audioAsVideo;
    const std::string unknownFormat = failure(dir.File("a.unknown-extension"), TClipSpec{});
    EXPECT_NE(unknownFormat.find("avformat_alloc_output_context2"), std::string::npos);
    const std::string badRate = failure(path, ClipSpecOf("", "libmp3lame", Rate(12345)));
    EXPECT_NE(badRate.find("avcodec_open2 failed on " + path + " (libmp3lame)"), std::string::npos)
        << badRate;
}

class DamageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QuietLibraries();
        TClipSpec clipSpec;
        clipSpec.durationSeconds = 0.5;
        WriteClip(path_, clipSpec);
        original_ = Bytes();
    }
    std::vector<char> Bytes() const {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    TTempDir dir_;
    const std::string path_ = dir_.File("clip.mp4");  // header at the end: damage anywhere shows
    std::vector<char> original_;
};

TEST_F(DamageTest, TruncatedKeepsTheLeadingFraction) {
    DamageFile(path_, TDamage::Truncated, 0.25);
    const auto bytes = Bytes();
    ASSERT_EQ(bytes.size(), size_t(0.25 * double(original_.size())));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), original_.begin()));
    EXPECT_FALSE(RunFfprobe(path_).ok);
}

TEST_F(DamageTest, OverwrittenChangesRunsFromTheFractionOn) {
    DamageFile(path_, TDamage::Overwritten, 0.5, 7);
    const auto bytes = Bytes();
    ASSERT_EQ(bytes.size(), original_.size());
    const size_t from = original_.size() / 2;
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + from, original_.begin()));
    size_t changed = 0;
    for (size_t i = from; i < bytes.size(); ++i) changed += bytes[i] != original_[i];
    EXPECT_GT(changed, (bytes.size() - from) / 4);
    EXPECT_LT(changed, bytes.size() - from);

    // The same seed damages the same way; another seed differently.
    const auto damaged = bytes;
    std::ofstream(path_, std::ios::binary)
        .write(original_.data(), std::streamsize(original_.size()));
    DamageFile(path_, TDamage::Overwritten, 0.5, 7);
    EXPECT_EQ(Bytes(), damaged);
    std::ofstream(path_, std::ios::binary)
        .write(original_.data(), std::streamsize(original_.size()));
    DamageFile(path_, TDamage::Overwritten, 0.5, 8);
    EXPECT_NE(Bytes(), damaged);
}

TEST_F(DamageTest, EmptyAndNotMediaAreRejectedByTheJudge) {
    DamageFile(path_, TDamage::Empty);
    EXPECT_EQ(std::filesystem::file_size(path_), 0u);
    TProbedFile probe = RunFfprobe(path_);
    EXPECT_FALSE(probe.ok);
    EXPECT_FALSE(probe.error.empty());

    DamageFile(path_, TDamage::NotMedia);
    const auto bytes = Bytes();
    ASSERT_FALSE(bytes.empty());
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(),
                            [](char c) { return std::isprint(uint8_t(c)) || c == '\n'; }));
    probe = RunFfprobe(path_);
    EXPECT_FALSE(probe.ok);
    EXPECT_FALSE(probe.error.empty());
}

TEST_F(DamageTest, MissingFilesAreReportedNotInvented) {
    const std::string missing = dir_.File("missing.mp4");
    EXPECT_THROW(DamageFile(missing, TDamage::Empty), std::exception);
    EXPECT_FALSE(std::filesystem::exists(missing));
    const TProbedFile probe = RunFfprobe(missing);
    EXPECT_FALSE(probe.ok);
    EXPECT_FALSE(probe.error.empty());
    EXPECT_THROW(DecodeVideoFrames(missing), std::runtime_error);
    EXPECT_THROW(DecodeAudioSamples(missing), std::runtime_error);
}

}  // namespace
