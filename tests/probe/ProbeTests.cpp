// The media probe against generated files, with ffprobe as the judge of what a file holds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "binding/FFmpegLibs.h"
#include "probe/AVProbe.h"
#include "support/Ffprobe.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

// Collects the lines the libraries log without an object: the probe's own messages.
class TLogCapture {
  public:
    struct TLine {
        int level;
        std::string text;
    };

    TLogCapture() {
        current = this;
        LibAVUtil.av_log_set_callback(&Callback);
    }
    ~TLogCapture() {
        LibAVUtil.av_log_set_callback(LibAVUtil.av_log_default_callback);
        current = nullptr;
    }

    std::vector<TLine> Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(lines_, {});
    }

  private:
    static void Callback(void* object, int level, const char* format, va_list args) {
        if (object || !current) return;
        char text[1024];
        std::vsnprintf(text, sizeof text, format, args);
        std::lock_guard lock(current->mutex_);
        current->lines_.push_back({level, text});
    }

    static inline TLogCapture* current = nullptr;
    std::mutex mutex_;
    std::vector<TLine> lines_;
};

void ExpectOneLine(TLogCapture& log, int level, const std::string& text) {
    const auto lines = log.Take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, level);
    EXPECT_EQ(lines[0].text, text);
}

void ExpectEmpty(const TAVProbe& probe) {
    EXPECT_EQ(probe.FormatName(), "");
    EXPECT_EQ(probe.StreamCount(), -1);
    EXPECT_EQ(probe.ProgramCount(), -1);
    EXPECT_EQ(probe.AudioStreamCount(), -1);
    EXPECT_EQ(probe.VideoStreamCount(), -1);
    EXPECT_EQ(probe.SubtitleStreamCount(), -1);
    EXPECT_EQ(probe.FirstAudioStream(), -1);
    EXPECT_EQ(probe.FirstVideoStream(), -1);
    EXPECT_EQ(probe.FirstSubtitleStream(), -1);
}

void ExpectPreset(const TAVVideoStreamInfo& testInfo) {
    EXPECT_EQ(std::string(testInfo.Language, sizeof testInfo.Language), std::string(4, '\0'));
    EXPECT_EQ(std::string(testInfo.CodecName, sizeof testInfo.CodecName), std::string(32, '\0'));
    for (int64_t value :
         {testInfo.StartTime, testInfo.StartTimeUs, testInfo.Duration, testInfo.DurationUs})
        EXPECT_EQ(value, -1);
    for (int32_t value : {testInfo.BitRate, testInfo.Height, testInfo.Width, testInfo.PixelFormat,
                          testInfo.FrameRateNum, testInfo.FrameRateDen})
        EXPECT_EQ(value, -1);
    EXPECT_EQ(testInfo.DisplayAspect, -1.0f);
}

void ExpectPreset(const TAVFileInfo& testInfo) {
    for (int64_t value : {testInfo.StartTime, testInfo.Duration, testInfo.Timestamp})
        EXPECT_EQ(value, -1);
    for (int32_t value : {testInfo.BitRate, testInfo.Year, testInfo.Track}) EXPECT_EQ(value, -1);
    for (const char* text :
         {testInfo.Title, testInfo.Author, testInfo.Copyright, testInfo.Comment, testInfo.Album})
        EXPECT_EQ(std::string(text, 512), std::string(512, '\0'));
    EXPECT_EQ(std::string(testInfo.Genre, sizeof testInfo.Genre), std::string(32, '\0'));
}

// A record full of garbage, so a test sees that the probe presets every field itself.
template <typename Record>
Record Garbage() {
    Record record;
    std::memset(static_cast<void*>(&record), 0x5A, sizeof record);
    return record;
}

bool operator==(const TAVVideoStreamInfo& a, const TAVVideoStreamInfo& b) {
    return std::memcmp(a.Language, b.Language, sizeof a.Language) == 0 &&
           std::memcmp(a.CodecName, b.CodecName, sizeof a.CodecName) == 0 &&
           a.StartTime == b.StartTime && a.StartTimeUs == b.StartTimeUs &&
           a.Duration == b.Duration && a.DurationUs == b.DurationUs && a.BitRate == b.BitRate &&
           a.Height == b.Height && a.Width == b.Width && a.DisplayAspect == b.DisplayAspect &&
           a.PixelFormat == b.PixelFormat && a.FrameRateNum == b.FrameRateNum &&
           a.FrameRateDen == b.FrameRateDen;
}

class ProbeTest : public ::testing::Test {
  protected:
    void SetUp() override { RequireMediaLibraries(); }

    std::string Clip(const std::string& name, TClipSpec clipSpec = {}) {
        const std::string path = dir_.File(name);
        WriteClip(path, clipSpec);
        return path;
    }
    static TClipSpec AudioOnly() {
        TClipSpec clipSpec;
        clipSpec.videoCodec.clear();
        clipSpec.durationSeconds = 1.0;
        return clipSpec;
    }

    TTempDir dir_;
};

// ---- Generated files, compared with ffprobe --------------------------------------------------

struct TMediaCase {
    const char* name;
    const char* fileName;
    const char* format;
    const char* videoCodec;
    const char* audioCodec;
    int width, height;
    AVRational frameRate;
    int sampleRate;
    double seconds;
};

std::ostream& operator<<(std::ostream& out, const TMediaCase& c) {
    return out << c.name;
}

const TMediaCase kMediaCases[] = {
    {"Mp4", "clip.mp4", "", "mpeg4", "aac", 320, 240, {25, 1}, 48000, 2.0},
    {"Avi", "clip.avi", "", "mpeg4", "mp2", 352, 288, {25, 1}, 44100, 2.0},
    {"Matroska", "clip.mkv", "", "mpeg4", "aac", 320, 240, {25, 1}, 48000, 2.0},
    {"MpegProgram", "clip.mpg", "mpeg", "mpeg1video", "mp2", 352, 240, {30000, 1001}, 44100, 2.0},
    {"Flv", "clip.flv", "", "flv", "aac", 320, 240, {15, 1}, 44100, 2.0},
    {"Wmv", "clip.wmv", "asf", "wmv2", "wmav2", 320, 240, {25, 1}, 44100, 2.0},
    {"Mov", "clip.mov", "", "mpeg4", "aac", 176, 144, {24, 1}, 48000, 1.5},
    {"MpegTransport", "clip.ts", "mpegts", "mpeg2video", "mp2", 720, 576, {25, 1}, 48000, 1.0},
    {"Mp4Ntsc", "ntsc.mp4", "", "mpeg4", "aac", 640, 480, {30000, 1001}, 48000, 2.0},
    {"MatroskaFilm", "film.mkv", "", "mpeg4", "", 320, 240, {24000, 1001}, 48000, 2.0},
    {"VideoOnlyMp4", "video.mp4", "", "mpeg4", "", 320, 240, {25, 1}, 48000, 1.0},
    {"VideoOnlyAvi", "mjpeg.avi", "", "mjpeg", "", 160, 120, {10, 1}, 48000, 1.0},
    {"AudioOnlyM4a", "tone.m4a", "", "", "aac", 0, 0, {25, 1}, 44100, 1.0},
    {"AudioOnlyWav", "tone.wav", "", "", "pcm_s16le", 0, 0, {25, 1}, 22050, 1.0},
};

class ProbeMatchesFfprobe : public ProbeTest, public ::testing::WithParamInterface<TMediaCase> {};

TEST_P(ProbeMatchesFfprobe, CountsSizesRatesAndDurations) {
    const TMediaCase& c = GetParam();
    TClipSpec clipSpec;
    clipSpec.format = c.format;
    clipSpec.videoCodec = c.videoCodec;
    clipSpec.audioCodec = c.audioCodec;
    if (c.width) {
        clipSpec.width = c.width;
        clipSpec.height = c.height;
    }
    clipSpec.frameRate = c.frameRate;
    clipSpec.sampleRate = c.sampleRate;
    clipSpec.durationSeconds = c.seconds;
    const std::string path = Clip(c.fileName, clipSpec);
    const TProbedFile judge = RunFfprobe(path);
    ASSERT_TRUE(judge.ok) << judge.error;

    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrorText();
    EXPECT_EQ(probe.LastErrorText(), "");
    EXPECT_EQ(probe.FormatName(), "");

    // Counts and first indexes, by ffprobe and by what was written.
    int videoCount = 0, audioCount = 0, firstVideo = -1, firstAudio = -1;
    for (size_t i = 0; i < judge.streams.size(); ++i) {
        const std::string& type = judge.streams[i].codecType;
        if (type == "video" && videoCount++ == 0) firstVideo = int(i);
        if (type == "audio" && audioCount++ == 0) firstAudio = int(i);
    }
    EXPECT_EQ(probe.StreamCount(), int(judge.streams.size()));
    EXPECT_EQ(probe.VideoStreamCount(), videoCount);
    EXPECT_EQ(probe.AudioStreamCount(), audioCount);
    EXPECT_EQ(probe.SubtitleStreamCount(), 0);
    EXPECT_EQ(probe.FirstVideoStream(), firstVideo);
    EXPECT_EQ(probe.FirstAudioStream(), firstAudio);
    EXPECT_EQ(probe.FirstSubtitleStream(), -1);
    EXPECT_EQ(probe.VideoStreamCount(), *c.videoCodec ? 1 : 0);
    EXPECT_EQ(probe.AudioStreamCount(), *c.audioCodec ? 1 : 0);
    EXPECT_EQ(probe.ProgramCount(), std::string(c.format) == "mpegts" ? 1 : 0);

    TAVFileInfo file = Garbage<TAVFileInfo>();
    probe.GetFileInfo(file);
    ASSERT_GT(judge.duration, 0);
    EXPECT_NEAR(file.Duration / 1e6, judge.duration, 1e-6);
    EXPECT_NEAR(file.Duration / 1e6, c.seconds, 0.2);
    if (judge.bitRate > 0) {
        EXPECT_EQ(file.BitRate, judge.bitRate);
    }
    EXPECT_EQ(file.Title[0], '\0');

    TAVVideoStreamInfo video = Garbage<TAVVideoStreamInfo>();
    TLogCapture log;
    probe.GetVideoStreamInfo(-1, video);
    const TProbedStream* judged = judge.First("video");
    if (!judged) {
        ExpectOneLine(log, AV_LOG_ERROR, "no video stream.\n");
        ExpectPreset(video);
        return;
    }
    EXPECT_TRUE(log.Take().empty());
    EXPECT_EQ(video.Width, judged->width);
    EXPECT_EQ(video.Height, judged->height);
    EXPECT_EQ(video.Width, c.width);
    EXPECT_EQ(video.Height, c.height);
    EXPECT_EQ(video.FrameRateNum, judged->frameRate.num);
    EXPECT_EQ(video.FrameRateDen, judged->frameRate.den);
    EXPECT_EQ(av_cmp_q(AVRational{video.FrameRateNum, video.FrameRateDen}, c.frameRate), 0);
    EXPECT_STREQ(video.CodecName, judged->codecName.c_str());
    EXPECT_STREQ(LibAVUtil.av_get_pix_fmt_name(AVPixelFormat(video.PixelFormat)),
                 judged->pixelFormat.c_str());
    if (judged->duration >= 0) {
        EXPECT_NEAR(video.DurationUs / 1e6, judged->duration, 1e-6);
    }
    if (video.StartTime != AV_NOPTS_VALUE) {
        EXPECT_GE(video.StartTimeUs, 0);
    }
    // Asking by the stream's own index gives the same record as asking for the first one.
    TAVVideoStreamInfo byIndex = Garbage<TAVVideoStreamInfo>();
    probe.GetVideoStreamInfo(probe.FirstVideoStream(), byIndex);
    EXPECT_TRUE(byIndex == video);
}

INSTANTIATE_TEST_SUITE_P(Containers, ProbeMatchesFfprobe, ::testing::ValuesIn(kMediaCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// ---- Files that cannot be probed -------------------------------------------------------------

enum class TBroken { Missing, Empty, NotMedia, TruncatedMp4 };

struct TBrokenCase {
    const char* name;
    TBroken kind;
    const char* expectedText;  // filled with the path
};

std::ostream& operator<<(std::ostream& out, const TBrokenCase& c) {
    return out << c.name;
}

const TBrokenCase kBrokenCases[] = {
    {"Missing", TBroken::Missing, "%s: no such file or directory"},
    // Today's libraries answer "invalid data" when no demuxer recognises the file.
    {"Empty", TBroken::Empty, "%s: Error while parsing header"},
    {"NotMedia", TBroken::NotMedia, "%s: Error while parsing header"},
    // The index of an mp4 is written last: its first bytes show an mp4 that cannot be read.
    {"TruncatedMp4", TBroken::TruncatedMp4,
     "%s: the file is incomplete or damaged: Error while parsing header"},
};

class ProbeRefusesFile : public ProbeTest, public ::testing::WithParamInterface<TBrokenCase> {};

TEST_P(ProbeRefusesFile, WithTheTableTextAndLeavesTheProbeEmpty) {
    const TBrokenCase& c = GetParam();
    std::string path = dir_.File("broken.mp4");
    switch (c.kind) {
        case TBroken::Missing:
            path = dir_.File("no such 100%d file.mp4");
            break;
        case TBroken::Empty:
            DamageFile(Clip("broken.mp4"), TDamage::Empty);
            break;
        case TBroken::NotMedia:
            DamageFile(Clip("broken.mp4"), TDamage::NotMedia);
            break;
        case TBroken::TruncatedMp4:
            DamageFile(Clip("broken.mp4"), TDamage::Truncated, 0.9);
            break;
    }
    char expected[4096];
    std::snprintf(expected, sizeof expected, c.expectedText, path.c_str());

    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Clip("good.mp4"))) << probe.LastErrorText();
    EXPECT_FALSE(probe.LoadFile(path));
    EXPECT_EQ(probe.LastErrorText(), expected);
    ExpectEmpty(probe);

    TLogCapture log;
    TAVVideoStreamInfo video = Garbage<TAVVideoStreamInfo>();
    probe.GetVideoStreamInfo(-1, video);
    ExpectPreset(video);
    ExpectOneLine(log, AV_LOG_INFO, "file not loaded.\n");
    TAVFileInfo file = Garbage<TAVFileInfo>();
    probe.GetFileInfo(file);
    ExpectPreset(file);
    ExpectOneLine(log, AV_LOG_INFO, "file not loaded.\n");
}

INSTANTIATE_TEST_SUITE_P(Table, ProbeRefusesFile, ::testing::ValuesIn(kBrokenCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Damaged files of every kind: the probe either reads them or refuses them with a message
// naming the file; it never crashes, hangs or hands back nonsense.
struct TDamageCase {
    const char* fileName;
    const char* format;
    const char* videoCodec;
    const char* audioCodec;
    TDamage damage;
    double fraction;
    unsigned seed;
};

std::string DamageCaseName(const TDamageCase& c) {
    return std::string(c.fileName + 2) + (c.damage == TDamage::Truncated
                                              ? "Truncated" + std::to_string(int(c.fraction * 100))
                                              : "Overwritten" + std::to_string(c.seed));
}

void PrintTo(const TDamageCase& c, std::ostream* out) {
    *out << DamageCaseName(c);
}

class ProbeSurvivesDamage : public ProbeTest, public ::testing::WithParamInterface<TDamageCase> {};

TEST_P(ProbeSurvivesDamage, ReadsOrRefusesCleanly) {
    const TDamageCase& c = GetParam();
    TClipSpec clipSpec;
    clipSpec.format = c.format;
    clipSpec.videoCodec = c.videoCodec;
    clipSpec.audioCodec = c.audioCodec;
    clipSpec.durationSeconds = 1.0;
    const std::string path = Clip(c.fileName, clipSpec);
    DamageFile(path, c.damage, c.fraction, c.seed);

    TAVProbe probe;
    if (!probe.LoadFile(path)) {
        EXPECT_EQ(probe.LastErrorText().rfind(path + ": ", 0), 0u) << probe.LastErrorText();
        ExpectEmpty(probe);
        return;
    }
    EXPECT_GE(probe.StreamCount(), 0);
    EXPECT_LE(probe.VideoStreamCount() + probe.AudioStreamCount() + probe.SubtitleStreamCount(),
              probe.StreamCount());
    // Every value is in range or says "unknown" (AV_NOPTS_VALUE for times, -1 for the
    // microsecond fields, 0 for rates).
    TAVFileInfo file;
    probe.GetFileInfo(file);
    EXPECT_TRUE(file.Duration >= 0 || file.Duration == AV_NOPTS_VALUE) << file.Duration;
    EXPECT_GE(file.BitRate, 0);
    TAVVideoStreamInfo video;
    for (int32_t index = 0; index < probe.StreamCount(); ++index) {
        probe.GetVideoStreamInfo(index, video);
        EXPECT_FALSE(std::isnan(video.DisplayAspect));
        EXPECT_FALSE(std::isinf(video.DisplayAspect));
        if (video.CodecName[0] == '\0') continue;  // not a video stream
        SCOPED_TRACE("stream " + std::to_string(index));
        EXPECT_TRUE(video.Duration >= 0 || video.Duration == AV_NOPTS_VALUE) << video.Duration;
        EXPECT_GE(video.DurationUs, -1);
        EXPECT_GE(video.BitRate, 0);
        EXPECT_GE(video.Width, 0);
        EXPECT_GE(video.Height, 0);
        EXPECT_GE(video.DisplayAspect, 0.0f);
        EXPECT_GE(video.FrameRateNum, 0);
        EXPECT_GE(video.FrameRateDen, 0);
    }
}

std::vector<TDamageCase> DamageCases() {
    const TDamageCase kinds[] = {
        {"d.mp4", "", "mpeg4", "aac", TDamage::Truncated, 0, 0},
        {"d.avi", "", "mpeg4", "mp2", TDamage::Truncated, 0, 0},
        {"d.mkv", "", "mpeg4", "aac", TDamage::Truncated, 0, 0},
        {"d.mpg", "mpeg", "mpeg1video", "mp2", TDamage::Truncated, 0, 0},
        {"d.flv", "", "flv", "aac", TDamage::Truncated, 0, 0},
        {"d.wmv", "asf", "wmv2", "wmav2", TDamage::Truncated, 0, 0},
        {"d.ts", "mpegts", "mpeg2video", "mp2", TDamage::Truncated, 0, 0},
    };
    std::vector<TDamageCase> cases;
    for (TDamageCase kind : kinds) {
        for (double fraction : {0.02, 0.5}) {
            kind.damage = TDamage::Truncated;
            kind.fraction = fraction;
            cases.push_back(kind);
        }
        for (unsigned seed : {1u, 2u, 3u}) {
            kind.damage = TDamage::Overwritten;
            kind.fraction = 0.0;
            kind.seed = seed;
            cases.push_back(kind);
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Containers, ProbeSurvivesDamage, ::testing::ValuesIn(DamageCases()),
                         [](const auto& testInfo) { return DamageCaseName(testInfo.param); });

// ---- State, indexes and messages -------------------------------------------------------------

TEST_F(ProbeTest, WithoutAFileEverythingReadsUnsetAndEachQuestionLogsWhy) {
    TAVProbe probe;
    ExpectEmpty(probe);
    EXPECT_EQ(probe.LastErrorText(), "");

    TLogCapture log;
    TAVFileInfo file = Garbage<TAVFileInfo>();
    probe.GetFileInfo(file);
    ExpectPreset(file);
    ExpectOneLine(log, AV_LOG_INFO, "file not loaded.\n");

    TAVVideoStreamInfo video = Garbage<TAVVideoStreamInfo>();
    probe.GetVideoStreamInfo(0, video);
    ExpectPreset(video);
    ExpectOneLine(log, AV_LOG_INFO, "file not loaded.\n");
}

TEST_F(ProbeTest, AudioOnlyFileHasNoVideoStreamToDescribe) {
    const std::string path = Clip("tone.m4a", AudioOnly());
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrorText();
    EXPECT_EQ(probe.StreamCount(), 1);
    EXPECT_EQ(probe.VideoStreamCount(), 0);
    EXPECT_EQ(probe.FirstVideoStream(), -1);
    EXPECT_EQ(probe.AudioStreamCount(), 1);
    EXPECT_EQ(probe.FirstAudioStream(), 0);

    TLogCapture log;
    TAVVideoStreamInfo video = Garbage<TAVVideoStreamInfo>();
    probe.GetVideoStreamInfo(-1, video);
    ExpectPreset(video);
    ExpectOneLine(log, AV_LOG_ERROR, "no video stream.\n");

    // The file information does not depend on a video stream.
    TAVFileInfo file;
    probe.GetFileInfo(file);
    EXPECT_NEAR(file.Duration / 1e6, 1.0, 0.1);
    EXPECT_TRUE(log.Take().empty());
}

TEST_F(ProbeTest, IndexesOutsideTheFileOrOfOtherStreamsAreRefused) {
    const std::string path = Clip("clip.mp4");
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrorText();
    ASSERT_EQ(probe.StreamCount(), 2);
    const int audio = probe.FirstAudioStream();
    ASSERT_GE(audio, 0);

    TLogCapture log;
    TAVVideoStreamInfo video = Garbage<TAVVideoStreamInfo>();
    probe.GetVideoStreamInfo(probe.StreamCount(), video);
    ExpectPreset(video);
    ExpectOneLine(log, AV_LOG_ERROR, "stream index #2 is invalid.\n");

    video = Garbage<TAVVideoStreamInfo>();
    probe.GetVideoStreamInfo(audio, video);
    ExpectPreset(video);
    ExpectOneLine(log, AV_LOG_ERROR,
                  "stream #" + std::to_string(audio) + " is not video stream.\n");

    // Not a valid argument, but it must not read outside the stream table.
    video = Garbage<TAVVideoStreamInfo>();
    probe.GetVideoStreamInfo(-5, video);
    ExpectPreset(video);
    ExpectOneLine(log, AV_LOG_ERROR, "stream index #-5 is invalid.\n");
}

TEST_F(ProbeTest, OpeningAndClosingKeepTheFieldsConsistent) {
    const std::string video = Clip("clip.avi", [] {
        TClipSpec clipSpec;
        clipSpec.audioCodec = "mp2";
        clipSpec.durationSeconds = 1.0;
        return clipSpec;
    }());
    const std::string audio = Clip("tone.wav", [] {
        TClipSpec clipSpec = AudioOnly();
        clipSpec.audioCodec = "pcm_s16le";
        return clipSpec;
    }());
    const std::string missing = dir_.File("missing.avi");

    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(video, "avi"));
    EXPECT_EQ(probe.FormatName(), "avi");
    EXPECT_EQ(probe.VideoStreamCount(), 1);

    // The next open replaces the first file entirely.
    ASSERT_TRUE(probe.LoadFile(audio));
    EXPECT_EQ(probe.FormatName(), "");
    EXPECT_EQ(probe.StreamCount(), 1);
    EXPECT_EQ(probe.VideoStreamCount(), 0);
    EXPECT_EQ(probe.FirstVideoStream(), -1);

    // A failure empties the probe; its message outlives a later success and a close.
    EXPECT_FALSE(probe.LoadFile(missing));
    ExpectEmpty(probe);
    ASSERT_TRUE(probe.LoadFile(video, "avi"));
    EXPECT_EQ(probe.LastErrorText(), missing + ": no such file or directory");
    probe.CloseFile();
    ExpectEmpty(probe);
    EXPECT_EQ(probe.LastErrorText(), missing + ": no such file or directory");
    probe.CloseFile();
    ExpectEmpty(probe);

    // An unknown forced format is refused before the file is looked at, and closes the old one.
    ASSERT_TRUE(probe.LoadFile(video));
    EXPECT_FALSE(probe.LoadFile(video, "no-such-demuxer"));
    EXPECT_EQ(probe.LastErrorText(), "Unknown input format: no-such-demuxer");
    ExpectEmpty(probe);
}

TEST_F(ProbeTest, DisplayAspectFollowsTheSampleAspect) {
    // MPEG-4 part 2 always codes a sample aspect: square when nothing else is asked for.
    TClipSpec square;
    square.width = 640;
    square.height = 480;
    square.audioCodec.clear();
    square.durationSeconds = 0.4;
    // Raw pictures carry no sample aspect at all: the library says 0/1.
    TClipSpec unknown = square;
    unknown.videoCodec = "rawvideo";
    unknown.pixelFormat = AV_PIX_FMT_YUV420P;
    unknown.durationSeconds = 0.2;

    TAVProbe probe;
    TAVVideoStreamInfo video;
    ASSERT_TRUE(probe.LoadFile(Clip("square.avi", square))) << probe.LastErrorText();
    probe.GetVideoStreamInfo(-1, video);
    EXPECT_NEAR(video.DisplayAspect, 1.3333f, 1e-4);

    ASSERT_TRUE(probe.LoadFile(Clip("raw.nut", unknown))) << probe.LastErrorText();
    probe.GetVideoStreamInfo(-1, video);
    EXPECT_EQ(video.Width, 640);
    EXPECT_EQ(video.DisplayAspect, 0.0f);
}

// A broadcast capture: two programs whose clocks lie 20,000 s apart, and a program whose sound
// runs 72,000 s from its pictures. The file list shows what a conversion takes: the program of
// the larger picture, as long as its streams last.
TEST_F(ProbeTest, ACaptureIsListedForTheStreamsConverted) {
    const std::string pictures = "-f lavfi -i testsrc=rate=25:duration=3:size=";
    const std::string tone = "-f lavfi -i sine=sample_rate=48000:duration=3 ";
    const struct {
        const char* name;
        std::string inputs;
        int width;
    } captures[] = {
        {"programs.ts",
         pictures + "320x240 " + tone + "-itsoffset 20000 " + pictures + "640x360 " +
             "-itsoffset 20000 " + tone +
             "-map 0 -map 1 -map 2 -map 3 -program program_num=1:st=0:st=1 "
             "-program program_num=2:st=2:st=3 ",
         640},
        {"apart.ts", pictures + "320x240 -itsoffset 72000 " + tone, 320},
    };
    for (const auto& capture : captures) {
        SCOPED_TRACE(capture.name);
        const std::string path = dir_.File(capture.name);
        const std::string command = "ffmpeg -v error -y " + capture.inputs +
                                    "-c:v mpeg2video -c:a mp2 -f mpegts '" + path + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        TAVProbe probe;
        ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrorText();
        TAVFileInfo file;
        probe.GetFileInfo(file);
        EXPECT_NEAR(file.Duration / 1e6, 3.0, 0.1);
        TAVVideoStreamInfo video;
        probe.GetVideoStreamInfo(-1, video);
        EXPECT_EQ(video.Width, capture.width);
    }
}

// The container's texts, read from a meta-data file the libraries' own text demuxer reads.
TEST_F(ProbeTest, FileInfoCarriesTheContainersTexts) {
    const std::string longTitle(600, 't');
    const std::string path = dir_.File("tags.txt");
    {
        std::ofstream out(path);
        out << ";FFMETADATA1\n"
            << "title=" << longTitle << "\n"
            << "artist=Somebody\n"
            << "copyright=(c) nobody\n"
            << "comment=just a test\n"
            << "album=Probe Songs\n"
            << "date=2008-05-01\n"
            << "track=3/12\n"
            << "genre=" << std::string(40, 'g') << "\n"
            << "creation_time=2008-05-01T12:00:00.000000Z\n";
    }
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrorText();
    EXPECT_EQ(probe.StreamCount(), 0);
    TAVFileInfo file = Garbage<TAVFileInfo>();
    probe.GetFileInfo(file);
    EXPECT_EQ(std::string(file.Title), longTitle.substr(0, 511));
    EXPECT_STREQ(file.Author, "Somebody");
    EXPECT_STREQ(file.Copyright, "(c) nobody");
    EXPECT_STREQ(file.Comment, "just a test");
    EXPECT_STREQ(file.Album, "Probe Songs");
    EXPECT_EQ(file.Year, 2008);
    EXPECT_EQ(file.Track, 3);
    EXPECT_EQ(std::string(file.Genre), std::string(31, 'g'));
    EXPECT_EQ(file.Timestamp, 1209643200);
    // A container that knows no duration says so with the libraries' no-value code.
    const TProbedFile judge = RunFfprobe(path);
    ASSERT_TRUE(judge.ok) << judge.error;
    EXPECT_EQ(judge.duration, -1.0);
    EXPECT_EQ(file.Duration, AV_NOPTS_VALUE);

    // Asked by name, the same demuxer gives the same answers and is remembered.
    ASSERT_TRUE(probe.LoadFile(path, "ffmetadata")) << probe.LastErrorText();
    EXPECT_EQ(probe.FormatName(), "ffmetadata");
    TAVFileInfo again;
    probe.GetFileInfo(again);
    EXPECT_EQ(again.Timestamp, file.Timestamp);
    EXPECT_STREQ(again.Title, file.Title);
    EXPECT_EQ(again.Track, file.Track);
}

// ---- Libraries missing -----------------------------------------------------------------------

struct TMissingLibraryCase {
    const char* name;
    bool avcodec, avformat, avutil, swscale;  // which to unload
    const char* expected;
};

std::ostream& operator<<(std::ostream& out, const TMissingLibraryCase& c) {
    return out << c.name;
}

const TMissingLibraryCase kMissingLibraryCases[] = {
    {"AVCodec", true, false, false, false, "LibAVCodec not loaded."},
    {"AVFormat", false, true, false, false, "LibAVFormat not loaded."},
    {"AVUtil", false, false, true, false, "LibAVUtil not loaded."},
    {"SwScale", false, false, false, true, "LibSwScale not loaded."},
    {"FirstInOrderWins", false, true, false, true, "LibAVFormat not loaded."},
};

class ProbeNeedsLibraries : public ProbeTest,
                            public ::testing::WithParamInterface<TMissingLibraryCase> {};

TEST_P(ProbeNeedsLibraries, RaisesTheFirstMissingAndWorksAgainAfterReload) {
    const TMissingLibraryCase& c = GetParam();
    const std::string path = Clip("clip.mp4");
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(dir_.File("missing.mp4")) == false);
    const std::string earlierError = probe.LastErrorText();

    if (c.avcodec) UnloadAVCodec();
    if (c.avformat) UnloadAVFormat();
    if (c.avutil) UnloadAVUtil();
    if (c.swscale) UnloadSwScale();
    try {
        probe.LoadFile(path);
        ADD_FAILURE() << "no error raised";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), c.expected);
    }
    EXPECT_THROW(TAVProbe::CheckLibraries(), std::runtime_error);
    EXPECT_EQ(probe.LastErrorText(), earlierError);
    ExpectEmpty(probe);

    std::string error;
    if (c.avcodec) {
        ASSERT_TRUE(LoadAVCodec(error, true, true)) << error;
    }
    if (c.avformat) {
        ASSERT_TRUE(LoadAVFormat(error, true, true)) << error;
    }
    if (c.avutil) {
        ASSERT_TRUE(LoadAVUtil(error, true)) << error;
    }
    if (c.swscale) {
        ASSERT_TRUE(LoadSwScale(error, true)) << error;
    }
    EXPECT_NO_THROW(TAVProbe::CheckLibraries());
    EXPECT_TRUE(probe.LoadFile(path)) << probe.LastErrorText();
}

INSTANTIATE_TEST_SUITE_P(Modules, ProbeNeedsLibraries, ::testing::ValuesIn(kMissingLibraryCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ProbeTest, AllLibrariesUnloadedThenReloaded) {
    const std::string path = Clip("clip.mp4");
    UnloadFFmpegLibs();
    TAVProbe probe;
    try {
        probe.LoadFile(path);
        ADD_FAILURE() << "no error raised";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "LibAVCodec not loaded.");
    }
    ExpectEmpty(probe);
    RequireMediaLibraries();
    EXPECT_TRUE(probe.LoadFile(path)) << probe.LastErrorText();
    EXPECT_EQ(probe.VideoStreamCount(), 1);
}

}  // namespace
