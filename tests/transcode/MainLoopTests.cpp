// The main loop: stop requests, limits, the shortest input, progress reports and damaged
// inputs, on real runs judged by ffprobe; the pipelined run against the one loop, byte for byte.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "TranscodeTestSupport.h"
#include "support/EngineModes.h"
#include "support/WaitUntil.h"

namespace {

namespace fs = std::filesystem;

std::string LongClip() {
    TClipSpec clipSpec;
    clipSpec.durationSeconds = 8.0;
    clipSpec.width = 160;
    clipSpec.height = 120;
    return TClipCache::Instance().Clip("long.mp4", clipSpec);
}

std::string VideoOnlyClip() {
    TClipSpec clipSpec;
    clipSpec.audioCodec = "";
    return TClipCache::Instance().Clip("video.mp4", clipSpec);
}

// Conversions of the main loop by an engine in the given mode.
class MainLoopFixture : public ::testing::Test {
  protected:
    explicit MainLoopFixture(bool pipeline) : engine(pipeline) {}
    void SetUp() override { RequireMediaLibraries(); }

    // Opens the input and an output that copies every stream.
    void CopyJob(const std::string& input, const std::string& outputName,
                 const std::vector<std::pair<std::string, std::string>>& outputOptions = {}) {
        ASSERT_TRUE(engine.OpenInputFile(input)) << engine.LastError;
        engine.Apply({{"vcodec", "copy"}, {"acodec", "copy"}});
        engine.Apply(outputOptions);
        ASSERT_TRUE(engine.OpenOutputFile(dir.File(outputName))) << engine.LastError;
    }
    TProbedFile Probe(const std::string& name) {
        TProbedFile probed = RunFfprobe(dir.File(name), true);
        EXPECT_TRUE(probed.ok) << probed.error;
        return probed;
    }
    int64_t Packets(const TProbedFile& file, const char* type) {
        const TProbedStream* stream = file.First(type);
        return stream ? stream->packets : -1;
    }

    TTempDir dir;
    TTranscodeEngine engine;
};

class MainLoop : public MainLoopFixture, public ::testing::WithParamInterface<bool> {
  protected:
    MainLoop() : MainLoopFixture(GetParam()) {}
};

TEST_P(MainLoop, StopInTheMiddleStillWritesTheTrailer) {
    engine.Apply({{"re", ""}});  // real time: the copy lasts as long as the clip
    CopyJob(LongClip(), "stopped.mkv");
    engine.ProgressIntervalUs = 20000;
    TFFmpegThread* worker = engine.Start(true, tpNormal);
    ASSERT_NE(worker, nullptr);
    worker->Resume();
    ASSERT_TRUE(WaitUntil([&] {
        const auto progress = engine.Progress();
        return !progress.empty() && progress.back().CurrentDuration >= 500;
    }));
    engine.Stop();
    ASSERT_TRUE(WaitUntil([&] { return engine.TerminateCount() == 1; }));

    EXPECT_FALSE(engine.CompletedAtTerminate()) << "a stopped job is not completed";
    EXPECT_FALSE(engine.HasError()) << engine.ErrorMessage();
    const auto progress = engine.Progress();
    const int64_t size = static_cast<int64_t>(fs::file_size(dir.File("stopped.mkv")));
    EXPECT_EQ(progress.back().CurrentSize, size) << "the last report comes after the trailer";
    const TProbedFile probed = Probe("stopped.mkv");
    EXPECT_GT(probed.duration, 0.4);
    EXPECT_LT(probed.duration, 7.0);
    EXPECT_GT(Packets(probed, "video"), 10);
    EXPECT_TRUE(engine.OpenEncoders.Empty());
    EXPECT_TRUE(engine.OpenDecoders.Empty());
}

TEST_P(MainLoop, VideoFrameLimitEndsTheJob) {
    CopyJob(Mp4Clip(), "limited.mkv", {{"vframes", "10"}});
    ASSERT_TRUE(engine.RunToEnd()) << engine.ErrorMessage();
    const TProbedFile probed = Probe("limited.mkv");
    EXPECT_EQ(Packets(probed, "video"), 10);
    EXPECT_LT(probed.duration, 1.0) << "the audio ends with the video";
    EXPECT_EQ(engine.Progress().back().FrameNumber, 10);
}

TEST_P(MainLoop, RecordingTimeEndsTheJob) {
    CopyJob(Mp4Clip(), "second.mkv", {{"t", "1"}});
    ASSERT_TRUE(engine.RunToEnd()) << engine.ErrorMessage();
    const TProbedFile probed = Probe("second.mkv");
    EXPECT_GE(probed.duration, 0.96);
    EXPECT_LT(probed.duration, 1.3);
    EXPECT_GE(Packets(probed, "video"), 25);
    EXPECT_LE(Packets(probed, "video"), 30);
}

TEST_P(MainLoop, FileSizeLimitEndsTheJob) {
    CopyJob(Mp4Clip(), "whole.mkv");
    ASSERT_TRUE(engine.RunToEnd()) << engine.ErrorMessage();
    const auto whole = fs::file_size(dir.File("whole.mkv"));
    engine.Reset();
    CopyJob(Mp4Clip(), "small.mkv", {{"fs", std::to_string(whole / 3)}});
    ASSERT_TRUE(engine.RunToEnd()) << engine.ErrorMessage();
    const auto small = fs::file_size(dir.File("small.mkv"));
    EXPECT_GT(small, whole / 3);
    EXPECT_LT(small, whole * 2 / 3);
    EXPECT_TRUE(Probe("small.mkv").ok);
}

TEST_P(MainLoop, ShortestInputEndsTheJob) {
    for (bool shortest : {false, true}) {
        SCOPED_TRACE(shortest ? "shortest" : "to the end of every input");
        engine.Reset();
        ASSERT_TRUE(engine.OpenInputFile(VideoOnlyClip())) << engine.LastError;
        ASSERT_TRUE(engine.OpenInputFile(WavClip(1.0))) << engine.LastError;
        engine.Apply({{"vcodec", "copy"}, {"acodec", "copy"}});
        if (shortest) engine.Apply({{"shortest", ""}});
        const std::string name = shortest ? "shortest.mkv" : "longest.mkv";
        ASSERT_TRUE(engine.OpenOutputFile(dir.File(name))) << engine.LastError;
        ASSERT_TRUE(engine.RunToEnd()) << engine.ErrorMessage();
        const TProbedFile probed = Probe(name);
        if (shortest) {
            EXPECT_LT(Packets(probed, "video"), 35);
            EXPECT_LT(probed.duration, 1.5);
        } else {
            EXPECT_EQ(Packets(probed, "video"), 50);
        }
    }
}

TEST_P(MainLoop, ProgressNeverGoesBackAndEndsWithTheFileSize) {
    engine.ProgressIntervalUs = 0;  // a report after every packet
    CopyJob(Mp4Clip(), "out.mkv");
    const int32_t sourceDuration = engine.SourceDurationMs;
    ASSERT_TRUE(engine.RunToEnd()) << engine.ErrorMessage();
    const auto progress = engine.Progress();
    ASSERT_GT(progress.size(), 10u);
    for (size_t i = 0; i < progress.size(); ++i) {
        SCOPED_TRACE("report " + std::to_string(i));
        EXPECT_EQ(progress[i].TotalOutputDuration, sourceDuration);
        EXPECT_EQ(progress[i].Quality, -1.0f);
        EXPECT_GE(progress[i].FrameNumber, 1);
        if (i > 0) {
            EXPECT_GE(progress[i].CurrentDuration, progress[i - 1].CurrentDuration);
        }
    }
    EXPECT_NEAR(progress.back().CurrentDuration, 2000, 100);
    EXPECT_EQ(progress.back().FrameNumber, 50);
    EXPECT_EQ(progress.back().CurrentSize,
              static_cast<int64_t>(fs::file_size(dir.File("out.mkv"))));
    EXPECT_GT(progress.back().BitRate, 0.0f);
    // The statistics line of the last report goes to the log all the same.
    bool statistics = false;
    for (const auto& log : engine.Logs())
        statistics |= log.level == 1 && log.text.rfind("video:", 0) == 0 &&
                      log.text.find("muxing overhead") != std::string::npos;
    EXPECT_TRUE(statistics);
}

TEST_P(MainLoop, ProgressIntervalGatesTheReports) {
    engine.ProgressIntervalUs = int64_t(3600) * 1000000;
    CopyJob(Mp4Clip(), "out.mkv");
    ASSERT_TRUE(engine.RunToEnd()) << engine.ErrorMessage();
    EXPECT_EQ(engine.Progress().size(), 1u) << "only the last report";
}

TEST_P(MainLoop, AudioOnlyReportsWithoutVideoValues) {
    engine.ProgressIntervalUs = 0;
    CopyJob(WavClip(1.0), "out.wav");
    ASSERT_TRUE(engine.RunToEnd()) << engine.ErrorMessage();
    const auto progress = engine.Progress();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().FrameNumber, -1);
    EXPECT_EQ(progress.back().FPS, -1);
    EXPECT_EQ(progress.back().Quality, -1.0f);
    EXPECT_NEAR(progress.back().CurrentDuration, 1000, 50);
    // Without a progress target the report is a line in the log.
    TTranscodeEngine quiet(GetParam());
    quiet.OnProgress = nullptr;
    ASSERT_TRUE(quiet.OpenInputFile(WavClip(1.0))) << quiet.LastError;
    quiet.Apply({{"acodec", "copy"}});
    ASSERT_TRUE(quiet.OpenOutputFile(dir.File("quiet.wav"))) << quiet.LastError;
    ASSERT_TRUE(quiet.RunToEnd()) << quiet.ErrorMessage();
    bool line = false;
    for (const auto& log : quiet.Logs())
        line |= log.text.rfind("size=", 0) == 0 && log.text.find("kbits/s") != std::string::npos;
    EXPECT_TRUE(line);
}

struct TDamageCase {
    const char* name;
    TDamage damage;
    double fraction;
    bool reencode;
    std::string (*clip)();
    const char* extension;
    // The damage leaves the header whole, so the job must reach the transcode loop and meet it.
    bool opens;
};

std::ostream& operator<<(std::ostream& out, const TDamageCase& c) {
    return out << c.name;
}

class DamagedInput : public MainLoopFixture,
                     public ::testing::WithParamInterface<std::tuple<TDamageCase, bool>> {
  protected:
    DamagedInput() : MainLoopFixture(std::get<1>(GetParam())) {}
};

// A damaged input never brings the engine down: the job ends with a clear error, or converts
// what can be read into a file ffprobe reads.
TEST_P(DamagedInput, EndsCleanly) {
    const TDamageCase& c = std::get<0>(GetParam());
    const std::string input = dir.File(std::string("damaged.") + c.extension);
    fs::copy_file(c.clip(), input);
    DamageFile(input, c.damage, c.fraction, 7);
    if (!engine.OpenInputFile(input)) {
        EXPECT_FALSE(c.opens) << engine.LastError;
        EXPECT_FALSE(engine.LastError.empty());
        return;
    }
    if (c.reencode)
        engine.Apply({{"acodec", "pcm_s16le"}, {"vn", ""}});
    else
        engine.Apply({{"vcodec", "copy"}, {"acodec", "copy"}});
    ASSERT_TRUE(engine.OpenOutputFile(dir.File("out.mkv"))) << engine.LastError;
    engine.Start(false, tpNormal);
    EXPECT_EQ(engine.TerminateCount(), 1);
    if (engine.HasError()) {
        EXPECT_FALSE(engine.ErrorMessage().empty());
    } else {
        EXPECT_TRUE(engine.IsCompleted());
        EXPECT_TRUE(RunFfprobe(dir.File("out.mkv")).ok);
    }
    EXPECT_TRUE(engine.OpenEncoders.Empty());
    EXPECT_TRUE(engine.OpenDecoders.Empty());
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedInput,
    // A transport stream reads from its start, so a cut copy meets the damage in the loop; an
    // MP4 cut short loses the index at its end and never opens.
    ::testing::Combine(
        ::testing::Values(
            TDamageCase{"TruncatedCopy", TDamage::Truncated, 0.6, false, MpegTsClip, "ts", true},
            TDamageCase{"OverwrittenCopy", TDamage::Overwritten, 0.3, false, Mp4Clip, "mp4", false},
            TDamageCase{"TruncatedHeader", TDamage::Truncated, 0.02, false, Mp4Clip, "mp4", false},
            TDamageCase{"TruncatedDecode", TDamage::Truncated, 0.5, true, MpegPsClip, "mpg", true},
            TDamageCase{"OverwrittenDecode", TDamage::Overwritten, 0.2, true, MpegPsClip, "mpg",
                        true}),
        EngineModes()),
    TCaseAndModeName());

INSTANTIATE_TEST_SUITE_P(Modes, MainLoop, EngineModes(), TEngineModeName());

// ---- Clocks: a broadcast capture of several programs, a jump within one.

struct TClockCase {
    const char* name;
    // The ffmpeg inputs and options that make the transport stream.
    const char* capture;
    int width;             // of the picture converted
    int channels;          // of the sound converted
    double sourceSeconds;  // the source's length as the clock of its converted streams gives it
    int programId = 0;     // the "programid" option, 0 for none
};

std::ostream& operator<<(std::ostream& out, const TClockCase& c) {
    return out << c.name;
}

class Clocks : public MainLoopFixture,
               public ::testing::WithParamInterface<std::tuple<TClockCase, bool>> {
  protected:
    Clocks() : MainLoopFixture(std::get<1>(GetParam())) {}
};

// Two programs 20,000 s apart, as a broadcast capture holds them: the one holding the larger
// picture is converted, on its own clock; its sound has stereo in program 1 and mono in program
// 2, which tells which program it came from.
#define DZ_PICTURES(size) "-f lavfi -i testsrc=size=" size ":rate=25:duration=3 "
#define DZ_TONE "-f lavfi -i sine=f=440:sample_rate=48000:duration=3 "
#define DZ_PROGRAMS                                            \
    "-map 0:v -map 1:a -map 2:v -map 3:a -ac:a:0 2 -ac:a:1 1 " \
    "-program title=first:program_num=1:st=0:st=1 "            \
    "-program title=second:program_num=2:st=2:st=3 "
constexpr const char* kLargerPictureFirst = DZ_PICTURES("640x360") DZ_TONE
    "-itsoffset 20000 " DZ_PICTURES("320x240") "-itsoffset 20000 " DZ_TONE DZ_PROGRAMS;
constexpr const char* kLargerPictureSecond = DZ_PICTURES("320x240") DZ_TONE
    "-itsoffset 20000 " DZ_PICTURES("640x360") "-itsoffset 20000 " DZ_TONE DZ_PROGRAMS;
// One program whose sound runs on a clock 72,000 s from the pictures': the file's length spans
// both clocks.
constexpr const char* kClocksApartInOne = DZ_PICTURES("320x240") "-itsoffset 72000 " DZ_TONE;
// One program whose clock jumps 5 s ahead after 1.5 s, pictures and sound alike: a pause within
// the jump threshold, kept in step.
constexpr const char* kJumpWithinOne =
    "-f lavfi -i \"testsrc=size=320x240:rate=25:duration=3,setpts='PTS+gte(N\\\\,38)*5/TB'\" "
    "-f lavfi -i \"sine=f=440:sample_rate=48000:duration=3,asetpts='PTS+gte(T\\\\,1.5)*5/TB'\" ";
// Pictures missing from 1.5 s to 4.5 s while the sound goes on (a reception loss): kept in step.
constexpr const char* kPicturesMissing =
    "-f lavfi -i \"testsrc=size=320x240:rate=25:duration=6,select='not(between(t\\,1.5\\,4.5))'\" "
    "-f lavfi -i sine=f=440:sample_rate=48000:duration=6 -fps_mode passthrough ";
#undef DZ_PICTURES
#undef DZ_TONE
#undef DZ_PROGRAMS

// What the libraries log while it lives, as one text (their lines come in pieces).
class TLibraryText {
  public:
    TLibraryText() {
        current = this;
        LibAVUtil.av_log_set_callback(&Callback);
    }
    ~TLibraryText() {
        LibAVUtil.av_log_set_callback(LibAVUtil.av_log_default_callback);
        current = nullptr;
    }
    std::string Text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

  private:
    static void Callback(void*, int level, const char* format, va_list args) {
        if (level > AV_LOG_INFO || !current) return;
        char piece[1024];
        std::vsnprintf(piece, sizeof piece, format, args);
        std::lock_guard lock(current->mutex_);
        current->text_ += piece;
    }
    static inline TLibraryText* current = nullptr;
    mutable std::mutex mutex_;
    std::string text_;
};

std::string MakeCapture(const TClockCase& c, const std::string& path) {
    const std::string command = std::string("ffmpeg -v error -y ") + c.capture +
                                "-c:v mpeg2video -c:a mp2 -f mpegts '" + path + "'";
    return std::system(command.c_str()) == 0 ? path : std::string();
}

TEST_P(Clocks, OneProgramOnItsOwnClock) {
    const TClockCase& c = std::get<0>(GetParam());
    const std::string input = MakeCapture(c, dir.File("capture.ts"));
    ASSERT_FALSE(input.empty()) << "ffmpeg could not make the capture";
    if (c.programId) engine.SetProgramId(c.programId);
    ASSERT_TRUE(engine.OpenInputFile(input)) << engine.LastError;
    engine.Apply({{"vcodec", "mpeg4"}, {"acodec", "aac"}});
    ASSERT_TRUE(engine.OpenOutputFile(dir.File("out.mp4"))) << engine.LastError;
    {
        const TLibraryText library;
        ASSERT_TRUE(engine.RunToEnd()) << engine.ErrorMessage();
        // The log describes the output as written: the encoder's channels, not a blank.
        EXPECT_NE(library.Text().find(std::string("Audio: aac (LC), 48000 Hz, ") +
                                      (c.channels == 1 ? "mono" : "stereo")),
                  std::string::npos)
            << library.Text();
    }

    const TProbedFile probed = Probe("out.mp4");
    ASSERT_NE(probed.First("video"), nullptr);
    ASSERT_NE(probed.First("audio"), nullptr);
    EXPECT_EQ(probed.First("video")->width, c.width) << "the program of the larger picture";
    EXPECT_EQ(probed.First("audio")->channels, c.channels) << "the sound of that program";
    // Within a frame and an audio frame of the source's length as its clock gives it, which
    // is the engine's too; a gap kept waits without copies.
    EXPECT_NEAR(probed.duration, c.sourceSeconds, 0.1);
    EXPECT_NEAR(probed.First("video")->duration, c.sourceSeconds, 0.1);
    EXPECT_NEAR(engine.SourceDurationMs / 1000.0, c.sourceSeconds, 0.1);
    EXPECT_LE(engine.DuplicatedFrames, 25) << "at most a second of copies";
    EXPECT_LT(probed.size, 1'000'000);
}

INSTANTIATE_TEST_SUITE_P(
    Captures, Clocks,
    ::testing::Combine(
        ::testing::Values(TClockCase{"LargerPictureFirst", kLargerPictureFirst, 640, 2, 3.0},
                          TClockCase{"LargerPictureSecond", kLargerPictureSecond, 640, 1, 3.0},
                          // The program asked for wins over the larger picture.
                          TClockCase{"ProgramAskedFor", kLargerPictureSecond, 320, 2, 3.0, 1},
                          TClockCase{"ClocksApartInOne", kClocksApartInOne, 320, 1, 3.0},
                          TClockCase{"JumpWithinOne", kJumpWithinOne, 320, 1, 8.0},
                          TClockCase{"PicturesMissing", kPicturesMissing, 320, 1, 6.0}),
        EngineModes()),
    TCaseAndModeName());

// ---- The pipelined run gives the one loop's file, byte for byte.

using TOptions = std::vector<std::pair<std::string, std::string>>;

template <int kFps>
std::string ClipAtRate() {
    TClipSpec clipSpec;
    clipSpec.frameRate = {kFps, 1};
    clipSpec.width = 160;
    clipSpec.height = 120;
    return TClipCache::Instance().Clip(std::to_string(kFps) + "fps.mkv", clipSpec);
}

std::string FlacClip() {
    TClipSpec clipSpec;
    clipSpec.videoCodec = "";
    clipSpec.audioCodec = "flac";
    clipSpec.sampleRate = 44100;
    clipSpec.channels = 1;
    return TClipCache::Instance().Clip("tone.flac", clipSpec);
}

// The MP4 clip's picture and its sound twice, as two tracks of one Matroska file (copied by
// the engine: the clip writer makes one sound track).
std::string TwoTrackClip() {
    static TTempDir folder;
    static const std::string path = [] {
        const std::string made = folder.File("two-tracks.mkv");
        TTranscodeEngine engine(false);
        if (!engine.OpenInputFile(Mp4Clip())) return engine.LastError;
        engine.Apply({{"map", "0:0"},
                      {"map", "0:1"},
                      {"map", "0:1"},
                      {"vcodec", "copy"},
                      {"acodec", "copy"}});
        if (!engine.OpenOutputFile(made)) return engine.LastError;
        engine.Apply({{"acodec", "copy"}, {"newaudio", ""}});
        return engine.RunToEnd() ? made : engine.ErrorMessage();
    }();
    return path;
}

std::string WavTwoSeconds() {
    return WavClip(2.0);
}

struct TExactCase {
    const char* name;
    std::string (*clip)();
    const char* output;  // its extension picks the muxer
    TOptions options;    // before the output opens
    TOptions added;      // after it: the options of a further stream, ending with its keyword
    int streams;         // in the output
    bool changesRate;    // pictures are dropped or duplicated
};

std::ostream& operator<<(std::ostream& out, const TExactCase& c) {
    return out << c.name;
}

class PipelineExactness : public ::testing::TestWithParam<TExactCase> {
  protected:
    void SetUp() override { RequireMediaLibraries(); }

    void Run(TTranscodeEngine& engine, const TExactCase& c, const std::string& output) {
        ASSERT_TRUE(engine.OpenInputFile(c.clip())) << engine.LastError;
        // Matroska otherwise writes a random segment id and the time of writing.
        engine.Apply({{"fflags", "bitexact"}});
        engine.Apply(c.options);
        ASSERT_TRUE(engine.OpenOutputFile(output)) << engine.LastError;
        engine.Apply(c.added);
        ASSERT_TRUE(engine.RunToEnd()) << engine.ErrorMessage();
    }

    TTempDir dir;
};

// The same frames, drops, duplicates, packet order and sizes: the whole files are equal.
TEST_P(PipelineExactness, WritesTheOneLoopsFileByteForByte) {
    const TExactCase& c = GetParam();
    const std::string oneLoopFile = dir.File(std::string("one-loop-") + c.output);
    const std::string pipelinedFile = dir.File(std::string("pipelined-") + c.output);
    TTranscodeEngine oneLoop(false);
    TTranscodeEngine pipelined(true);
    ASSERT_NO_FATAL_FAILURE(Run(oneLoop, c, oneLoopFile));
    ASSERT_NO_FATAL_FAILURE(Run(pipelined, c, pipelinedFile));
    EXPECT_FALSE(oneLoop.RanPipelined());
    EXPECT_TRUE(pipelined.RanPipelined()) << "the job fell back to the one loop";

    const TProbedFile probed = RunFfprobe(oneLoopFile);
    ASSERT_TRUE(probed.ok) << probed.error;
    EXPECT_EQ(probed.streams.size(), static_cast<size_t>(c.streams));
    EXPECT_EQ(pipelined.DroppedFrames, oneLoop.DroppedFrames);
    EXPECT_EQ(pipelined.DuplicatedFrames, oneLoop.DuplicatedFrames);
    if (c.changesRate) {
        EXPECT_GT(oneLoop.DroppedFrames + oneLoop.DuplicatedFrames, 0);
    }
    const std::string expected = FileBytes(oneLoopFile);
    const std::string actual = FileBytes(pipelinedFile);
    EXPECT_EQ(actual.size(), expected.size());
    // Compared as a whole, not printed: the files are tens of kilobytes.
    EXPECT_TRUE(actual == expected) << "the pipelined file differs from the one loop's";
}

// clang-format off
const TExactCase kExactCases[] = {
    {"Mpeg4Mp3Avi", Mp4Clip, "out.avi",
     {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}, {"ar", "44100"}}, {}, 2, false},
    // Without macroblock-tree rate control: with it a second libx264 run in one process now
    // and then writes other bits than the first, whichever loop runs it.
    {"X264AacMp4", Mp4Clip, "out.mp4",
     {{"vcodec", "libx264"}, {"x264-params", "mbtree=0"}, {"acodec", "aac"}}, {}, 2, false},
    {"FlacToMp3", FlacClip, "out.mp3",
     {{"acodec", "libmp3lame"}, {"ar", "22050"}, {"ac", "2"}}, {}, 1, false},
    {"WavToAac", WavTwoSeconds, "out.m4a", {{"acodec", "aac"}, {"ar", "44100"}, {"ac", "2"}}, {},
     1, false},
    {"ThirtyTo25Fps", ClipAtRate<30>, "out.avi",
     {{"vcodec", "mpeg4"}, {"r", "25"}, {"acodec", "mp2"}}, {}, 2, true},
    {"TwentyFourTo30Fps", ClipAtRate<24>, "out.avi",
     {{"vcodec", "mpeg4"}, {"r", "30"}, {"acodec", "mp2"}}, {}, 2, true},
    {"VideoCopiedAudioEncoded", Mp4Clip, "out.mkv",
     {{"vcodec", "copy"}, {"acodec", "libmp3lame"}, {"ar", "44100"}}, {}, 2, false},
    // Each track from a track of its own: two outputs of one sound track keep the one loop.
    {"TwoAudioTracksMkv", TwoTrackClip, "out.mkv",
     {{"map", "0:0"}, {"map", "0:1"}, {"map", "0:2"}, {"vcodec", "mpeg4"},
      {"acodec", "libmp3lame"}, {"ar", "44100"}},
     {{"acodec", "aac"}, {"ac", "1"}, {"newaudio", ""}}, 3, false},
    {"CroppedScaledPadded", Mp4Clip, "out.avi",
     {{"vcodec", "mpeg4"}, {"cropleft", "16"}, {"cropright", "16"}, {"croptop", "8"},
      {"s", "144x112"}, {"padleft", "16"}, {"padright", "16"}, {"padtop", "8"},
      {"padbottom", "8"}, {"acodec", "mp2"}}, {}, 2, false},
    {"Volume", Mp4Clip, "out.avi",
     {{"vcodec", "mpeg4"}, {"acodec", "mp2"}, {"vol", "512"}}, {}, 2, false},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Jobs, PipelineExactness, ::testing::ValuesIn(kExactCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Jobs the pipeline does not take run in the one loop even when it is asked for.
TEST(PipelineFallback, FrameLimitAndTwoInputsRunInTheOneLoop) {
    RequireMediaLibraries();
    TTempDir dir;
    TTranscodeEngine limited(true);
    ASSERT_TRUE(limited.OpenInputFile(Mp4Clip())) << limited.LastError;
    limited.Apply({{"vcodec", "mpeg4"}, {"vframes", "10"}});
    ASSERT_TRUE(limited.OpenOutputFile(dir.File("limited.avi"))) << limited.LastError;
    ASSERT_TRUE(limited.RunToEnd()) << limited.ErrorMessage();
    EXPECT_FALSE(limited.RanPipelined()) << "a frame limit";

    TTranscodeEngine twoInputs(true);
    ASSERT_TRUE(twoInputs.OpenInputFile(VideoOnlyClip())) << twoInputs.LastError;
    ASSERT_TRUE(twoInputs.OpenInputFile(WavClip(1.0))) << twoInputs.LastError;
    twoInputs.Apply({{"vcodec", "mpeg4"}, {"acodec", "mp2"}, {"ar", "44100"}});
    ASSERT_TRUE(twoInputs.OpenOutputFile(dir.File("joined.avi"))) << twoInputs.LastError;
    ASSERT_TRUE(twoInputs.RunToEnd()) << twoInputs.ErrorMessage();
    EXPECT_FALSE(twoInputs.RanPipelined()) << "two input files";
    EXPECT_EQ(RunFfprobe(dir.File("joined.avi")).streams.size(), 2u);
}

}  // namespace
