// The built daziziz-cli run as a user runs it, on files generated for each test; ffprobe judges
// what it writes.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "app/core/ProfileCatalogue.h"
#include "app/core/UserData.h"
#include "support/DecodeMedia.h"
#include "support/Ffprobe.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"
#include "support/TrackedMedia.h"

namespace {

namespace fs = std::filesystem;

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override { RequireMediaLibraries(); }

    std::string Clip(const std::string& name, TClipSpec clipSpec = {}) {
        const std::string path = dir.File(name);
        WriteClip(path, clipSpec);
        return path;
    }
    static TClipSpec AudioOnly() {
        TClipSpec clipSpec;
        clipSpec.videoCodec = "";
        clipSpec.audioCodec = "pcm_s16le";
        return clipSpec;
    }
    std::string NotMedia(const std::string& name) {
        const std::string path = dir.File(name);
        std::ofstream(path) << "this is not a media file\n";
        return path;
    }

    TTempDir dir;
};

std::string Joined(const std::vector<std::string>& parts, char separator) {
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i ? std::string(1, separator) : "") + parts[i];
    return text;
}

// ---- profiles

TEST_F(CliTest, ProfilesPrintsEveryLineOfTheFormatListWithItsKey) {
    const TProgramResult run = RunCli({"profiles"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    const auto lines = LinesOf(run.Out);
    const auto& catalogue = OutputFormatLines();
    ASSERT_EQ(lines.size(), 78u);
    ASSERT_EQ(catalogue.size(), 78u);
    for (std::size_t i = 0; i < std::size_t(kCatalogueLineCount); ++i) {
        const std::string key = catalogue[i].Profile ? catalogue[i].Profile->FormatKey : "";
        EXPECT_EQ(lines[i], Joined({std::to_string(i), catalogue[i].Text, key}, '\t'))
            << "line " << i;
    }
    // Today's are marked, with the group the window shows them under.
    EXPECT_EQ(lines[64], "64\t              -----------------------------------------\t");
    EXPECT_EQ(lines[65], "65\tMP4 - H.264 + AAC\tMP4\ttoday: Keep quality");
    EXPECT_EQ(lines[70], "70\tMP4 - Phone (1080p H.264)\tMP4\ttoday: Phone");
    EXPECT_EQ(lines[73], "73\tFLAC (lossless)\tFLAC\ttoday: Lossless");
    for (std::size_t i = std::size_t(kFirstTodaysLine); i < lines.size(); ++i)
        EXPECT_NE(lines[i].find("\ttoday: "), std::string::npos) << lines[i];
    // Spot checks against the list as users know it, independent of the catalogue's code.
    EXPECT_EQ(lines[0], "0\t3GP - Mobile Video Format (*.3gp)\t3GP");
    EXPECT_EQ(lines[18], "18\t              -----------------------------------------\t");
    EXPECT_EQ(lines[23], "23\tMP3 - Mpeg Layer3 Audio (*.mp3)\tMP3");
    EXPECT_EQ(lines[63], "63\tiRiver PMP100 (*.avi)\tAVI");
    EXPECT_EQ(lines[66], "66\tMP4 - H.265 (HEVC) + AAC\tMP4\ttoday: Small file");
    EXPECT_EQ(lines[75], "75\tMP3 (VBR quality)\tMP3\ttoday: Audio");
    EXPECT_EQ(lines[76], "76\tGIF - Animated (palette)\tGIF\ttoday: Chat and web clips");
    EXPECT_TRUE(run.Err.empty()) << run.Err;
}

// ---- probe

TEST_F(CliTest, ProbePrintsTheListTextsAndErrorForAFileItCannotOpen) {
    TClipSpec ntsc;
    ntsc.frameRate = {30000, 1001};
    ntsc.width = 176;
    ntsc.height = 144;
    const std::string video = Clip("clip.avi", ntsc);
    TClipSpec wav = AudioOnly();
    wav.durationSeconds = 3.5;
    const std::string audio = Clip("tone.wav", wav);
    const std::string bad = NotMedia("bad.avi");

    const TProgramResult run = RunCli({"probe", video, bad, audio});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(LinesOf(run.Out),
              (std::vector<std::string>{video + "\t176x144\t29.97\t00:00:02", bad + "\tError",
                                        audio + "\t \t \t00:00:03"}));
    // The reason goes to standard error, naming the file.
    const auto errors = LinesOf(run.Err);
    ASSERT_EQ(errors.size(), 1u) << run.Err;
    EXPECT_EQ(errors[0].rfind(bad + ": ", 0), 0u) << errors[0];
    EXPECT_GT(errors[0].size(), bad.size() + 2);

    const TProgramResult good = RunCli({"probe", video, audio});
    EXPECT_EQ(good.ExitCode, 0) << good.Err;
    EXPECT_EQ(LinesOf(good.Out).size(), 2u);
}

TEST_F(CliTest, ProbeJsonHoldsWhatFfprobeFinds) {
    const std::string video = Clip("clip.mp4");
    const std::string audio = Clip("tone.wav", AudioOnly());
    const std::string missing = dir.File("missing.mp4");

    const TProgramResult run = RunCli({"probe", "--json", video, audio, missing});
    EXPECT_EQ(run.ExitCode, 1);
    const auto json = nlohmann::json::parse(run.Out);
    ASSERT_TRUE(json.is_array());
    ASSERT_EQ(json.size(), 3u);

    const auto& v = json[0];
    const TProbedFile judge = RunFfprobe(video);
    ASSERT_TRUE(judge.ok) << judge.error;
    const TProbedStream* stream = judge.First("video");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(v["path"], video);
    EXPECT_EQ(v["ok"], true);
    EXPECT_TRUE(v["error"].is_null());
    EXPECT_EQ(v["width"], stream->width);
    EXPECT_EQ(v["height"], stream->height);
    EXPECT_EQ(v["frame_rate_num"].get<int>() * stream->frameRate.den,
              v["frame_rate_den"].get<int>() * stream->frameRate.num);
    EXPECT_NEAR(v["duration_us"].get<double>() / 1e6, judge.duration, 0.05);
    EXPECT_EQ(v["stream_count"], judge.streams.size());
    EXPECT_EQ(v["video_stream_count"], 1);
    EXPECT_EQ(v["audio_stream_count"], 1);
    EXPECT_EQ(v["subtitle_stream_count"], 0);
    EXPECT_EQ(v["size_text"], "320x240");
    EXPECT_EQ(v["frame_rate_text"], "25");
    EXPECT_EQ(v["duration_text"], "00:00:02");

    const auto& a = json[1];
    EXPECT_EQ(a["ok"], true);
    EXPECT_TRUE(a["width"].is_null());
    EXPECT_TRUE(a["frame_rate_num"].is_null());
    EXPECT_EQ(a["video_stream_count"], 0);
    EXPECT_EQ(a["audio_stream_count"], 1);
    EXPECT_EQ(a["size_text"], " ");

    const auto& m = json[2];
    EXPECT_EQ(m["path"], missing);
    EXPECT_EQ(m["ok"], false);
    ASSERT_TRUE(m["error"].is_string());
    EXPECT_FALSE(m["error"].get<std::string>().empty());
    EXPECT_TRUE(m["duration_us"].is_null());
    EXPECT_EQ(m["size_text"], "Error");
}

// ---- usage

struct TUsageCase {
    const char* Name;
    std::vector<std::string> Arguments;
    int ExitCode;
    const char* InOutput;  // expected in standard output or standard error
};

void PrintTo(const TUsageCase& usage, std::ostream* out) {
    *out << usage.Name;
}

class CliUsageTest : public ::testing::TestWithParam<TUsageCase> {};

TEST_P(CliUsageTest, ExitsWithItsCodeAndSaysWhy) {
    const TUsageCase& usage = GetParam();
    const TProgramResult run = RunCli(usage.Arguments);
    EXPECT_EQ(run.ExitCode, usage.ExitCode) << run.Out << run.Err;
    EXPECT_NE((run.Out + run.Err).find(usage.InOutput), std::string::npos) << run.Out << run.Err;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CliUsageTest,
    ::testing::Values(
        TUsageCase{"NoCommand", {}, 2, "subcommand is required"},
        TUsageCase{"UnknownCommand", {"transcode"}, 2, "unknown command \"transcode\""},
        TUsageCase{"Version", {"--version"}, 0, "daziziz-cli " DZ_VERSION},
        TUsageCase{"Help", {"--help"}, 0, "profiles"},
        TUsageCase{"ProfilesHelp", {"profiles", "--help"}, 0, "Usage"},
        TUsageCase{"ProfilesTakesNoFile", {"profiles", "holiday.avi"}, 2, "holiday.avi"},
        TUsageCase{"ProbeHelp", {"probe", "--help"}, 0, "--json"},
        TUsageCase{"ConvertHelpListsFitSize", {"convert", "--help"}, 0, "--fit-size"},
        TUsageCase{"ProbeWithoutFile", {"probe"}, 2, "FILE"},
        TUsageCase{"ProbeUnknownOption", {"probe", "--xml", "a.avi"}, 2, "--xml"},
        TUsageCase{"RunHelp", {"run", "--help"}, 0, "-KEYWORD"},
        TUsageCase{"RunWithoutArguments", {"run"}, 2, "nothing to run"},
        TUsageCase{"RunPipelineNeitherOnNorOff",
                   {"run", "--pipeline", "sometimes", "-i", "a.avi", "b.avi"},
                   2,
                   "--pipeline"},
        TUsageCase{"RunInputWithoutName", {"run", "-i"}, 2, "\"-i\" needs an input file name"},
        TUsageCase{"RunKeywordWithoutValue",
                   {"run", "-i", "a.avi", "-vcodec"},
                   2,
                   "\"-vcodec\" needs a value"},
        TUsageCase{"ShardOutsideItsCount",
                   {"convert", "--profile", "MP3 - Mpeg", "--output-folder", "/tmp", "--shard",
                    "3/2", "a.avi"},
                   2,
                   "--shard \"3/2\" is not I/N"},
        TUsageCase{"NoJobs",
                   {"convert", "--profile", "MP3 - Mpeg", "--output-folder", "/tmp", "--jobs", "0",
                    "a.avi"},
                   2,
                   "--jobs"},
        TUsageCase{"ReportNowhere",
                   {"convert", "--profile", "MP3 - Mpeg", "--output-folder", "/tmp", "--report",
                    "/nonexistent/r.json", "a.avi"},
                   2,
                   "cannot write beside /nonexistent/r.json"},
        TUsageCase{"WatchWithoutFolder",
                   {"watch", "--profile", "MP3 - Mpeg", "--output-folder", "/tmp"},
                   2,
                   "IN_FOLDER"},
        TUsageCase{"WatchOwnOutput",
                   {"watch", "--profile", "MP3 - Mpeg", "--output-folder", "/tmp", "/tmp/"},
                   2,
                   "the output folder is the watched folder"},
        TUsageCase{
            "WatchReportToStandardOutput",
            {"watch", "--profile", "MP3 - Mpeg", "--output-folder", "/tmp", "--report", "-", "/"},
            2,
            "a watch never ends"}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// A file cut short (a copy stopped early, a download that broke off) is said to be incomplete,
// before the libraries' own words, by probe and convert alike.
struct TCutShortCase {
    const char* Name;
    const char* File;
    const char* Remux;     // ffmpeg options that write the whole file from the clip; "" none
    std::uintmax_t Bytes;  // kept from its start
};

class CliCutShortTest : public CliTest, public ::testing::WithParamInterface<TCutShortCase> {};

TEST_P(CliCutShortTest, ProbeAndConvertSayTheFileIsIncomplete) {
    const TCutShortCase& c = GetParam();
    std::string path = Clip(c.File);
    if (*c.Remux) {
        const std::string whole = dir.File(std::string("whole-") + c.File);
        ASSERT_EQ(std::system(("ffmpeg -v error -y -i '" + path + "' -c copy " + c.Remux + " '" +
                               whole + "'")
                                  .c_str()),
                  0);
        fs::rename(whole, path);
    }
    fs::resize_file(path, c.Bytes);
    const std::string said = path + ": the file is incomplete or damaged: ";

    const TProgramResult probe = RunCli({"probe", path});
    EXPECT_EQ(probe.ExitCode, 1);
    EXPECT_EQ(probe.Err.rfind(said, 0), 0u) << probe.Err;
    const std::string out = dir.File("out");
    fs::create_directory(out);
    const TProgramResult convert =
        RunCli({"convert", "--profile", "MP4 - H.264 + AAC", "--output-folder", out, path});
    EXPECT_EQ(convert.ExitCode, 1);
    EXPECT_NE(convert.Out.find(": Fail: " + said), std::string::npos) << convert.Out;
    EXPECT_TRUE(fs::is_empty(out));
}

INSTANTIATE_TEST_SUITE_P(Containers, CliCutShortTest,
                         ::testing::Values(TCutShortCase{"Mp4IndexAtTheEnd", "clip.mp4", "", 20000},
                                           TCutShortCase{"Mp4IndexAtTheStart", "clip.mp4",
                                                         "-movflags +faststart", 1500},
                                           TCutShortCase{"Matroska", "clip.mkv", "", 400}),
                         [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// ---- run

// Sends SIGINT once the file has grown past `bytes`: the job is under way and has written its
// header. Returns false once sent, so the watch ends.
std::function<bool(pid_t)> InterruptOnceWritten(const std::string& path, std::uintmax_t bytes) {
    return [path, bytes](pid_t pid) {
        std::error_code error;
        if (fs::file_size(path, error) < bytes || error) return true;
        kill(pid, SIGINT);
        return false;
    };
}

// A clip long enough that a conversion of it is still running when the test interrupts it.
TClipSpec LongClip() {
    TClipSpec clipSpec;
    clipSpec.durationSeconds = 40;
    clipSpec.audioCodec = "mp2";
    return clipSpec;
}

TEST_F(CliTest, RunAppliesTheVocabularyInOrderAndWritesTheOutput) {
    const std::string input = Clip("clip.avi");
    const std::string output = dir.File("out.avi");
    const TProgramResult run = RunCli({"run", "-i", input, "-vcodec", "mpeg4", "-s", "160x120",
                                       "-acodec", "mp2", "-ar", "44100", "-ac", "1", output});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    const TProbedFile judge = RunFfprobe(output);
    ASSERT_TRUE(judge.ok) << judge.error;
    const TProbedStream* video = judge.First("video");
    const TProbedStream* audio = judge.First("audio");
    ASSERT_NE(video, nullptr);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(video->codecName, "mpeg4");
    EXPECT_EQ(video->width, 160);
    EXPECT_EQ(video->height, 120);
    EXPECT_EQ(audio->codecName, "mp2");
    EXPECT_EQ(audio->sampleRate, 44100);
    EXPECT_EQ(audio->channels, 1);
    EXPECT_NEAR(judge.duration, 2.0, 0.2);
    // Without a terminal the engine's progress lines are ordinary lines of the log.
    EXPECT_NE(run.Err.find("frame="), std::string::npos) << run.Err;
    // The engine's one loop writes the very same file.
    const std::string oneLoop = dir.File("one-loop.avi");
    const TProgramResult off =
        RunCli({"run", "--pipeline", "off", "-i", input, "-vcodec", "mpeg4", "-s", "160x120",
                "-acodec", "mp2", "-ar", "44100", "-ac", "1", oneLoop});
    ASSERT_EQ(off.ExitCode, 0) << off.Err;
    EXPECT_EQ(FileBytes(oneLoop), FileBytes(output));
}

// A portrait phone video: upright unless "noautorotate" comes before it; a rate the encoder
// refuses becomes the nearest standard one it takes, and the log says so.
TEST_F(CliTest, RunTurnsPicturesUprightAndFitsTheRate) {
    const std::string coded = Clip("coded.avi");
    const std::string rotated = dir.File("rotated.mp4");
    ASSERT_EQ(std::system(("ffmpeg -v error -y -i '" + coded +
                           "' -c copy -metadata:s:v rotate=90 '" + rotated + "'")
                              .c_str()),
              0);
    const std::string upright = dir.File("upright.avi"), asCoded = dir.File("as-coded.avi");
    const TProgramResult fitted = RunCli(
        {"run", "-i", rotated, "-vcodec", "mpeg4", "-r", "90000/3001", "-acodec", "mp2", upright});
    ASSERT_EQ(fitted.ExitCode, 0) << fitted.Err;
    EXPECT_NE(fitted.Err.find("mpeg4 does not take 90000/3001 fps: 30000/1001 instead"),
              std::string::npos)
        << fitted.Err;
    const TProgramResult kept = RunCli(
        {"run", "-noautorotate", "-i", rotated, "-vcodec", "mpeg4", "-acodec", "mp2", asCoded});
    ASSERT_EQ(kept.ExitCode, 0) << kept.Err;

    const TProbedFile turned = RunFfprobe(upright), same = RunFfprobe(asCoded);
    ASSERT_TRUE(turned.ok && same.ok);
    EXPECT_EQ(turned.First("video")->width, 240);
    EXPECT_EQ(turned.First("video")->height, 320);
    EXPECT_EQ(av_q2d(turned.First("video")->avgFrameRate), 30000 / 1001.0);
    EXPECT_EQ(same.First("video")->width, 320);
    EXPECT_EQ(same.First("video")->height, 240);
}

TEST_F(CliTest, RunReportsAFileItCannotOpenAndWritesNothing) {
    const std::string missing = dir.File("missing.avi");
    const std::string output = dir.File("out.avi");
    const TProgramResult run = RunCli({"run", "-i", missing, output});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Err.find(missing), std::string::npos) << run.Err;
    EXPECT_FALSE(fs::exists(output));

    const std::string input = Clip("clip.avi");
    const TProgramResult badCodec =
        RunCli({"run", "-i", input, "-vcodec", "no-such-encoder", output});
    EXPECT_EQ(badCodec.ExitCode, 1);
    EXPECT_NE(badCodec.Err.find("no-such-encoder"), std::string::npos) << badCodec.Err;
}

TEST_F(CliTest, RunReplacesAnExistingOutputOnlyWithYAndNeverItsInput) {
    const std::string input = Clip("clip.avi");
    const std::string output = dir.File("out.avi");
    std::ofstream(output) << "keep me";

    const TProgramResult refused = RunCli({"run", "-i", input, output});
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_NE(refused.Err.find("add -y"), std::string::npos) << refused.Err;
    EXPECT_EQ(fs::file_size(output), 7u) << "left as it was";

    const TProgramResult replaced = RunCli({"run", "-y", "-i", input, output});
    EXPECT_EQ(replaced.ExitCode, 0) << replaced.Err;
    EXPECT_TRUE(RunFfprobe(output).ok);

    const auto inputSize = fs::file_size(input);
    const TProgramResult self = RunCli({"run", "-i", input, "-y", input});
    EXPECT_EQ(self.ExitCode, 1);
    EXPECT_NE(self.Err.find("an input of the same job"), std::string::npos) << self.Err;
    EXPECT_EQ(fs::file_size(input), inputSize);
}

TEST_F(CliTest, RunStoppedByCtrlCEndsWith130AndAFinishedOutput) {
    const std::string input = Clip("long.avi", LongClip());
    const std::string output = dir.File("out.avi");
    TProgramOptions options;
    options.WhileRunning = InterruptOnceWritten(output, 64 * 1024);
    const TProgramResult run =
        RunCli({"run", "-i", input, "-vcodec", "mpeg4", "-s", "640x480", output}, options);
    EXPECT_EQ(run.ExitCode, 130) << run.Err;
    const TProbedFile judge = RunFfprobe(output, true);
    ASSERT_TRUE(judge.ok) << judge.error;
    const TProbedStream* video = judge.First("video");
    ASSERT_NE(video, nullptr);
    EXPECT_GT(video->packets, 0);
    EXPECT_LT(video->packets, 40 * 25);
}

// ---- convert

TEST_F(CliTest, ConvertWritesWhatTheProfileAndTheChosenEntriesSay) {
    const std::string input = Clip("clip.avi");
    const fs::path out = dir.Path() / "out";
    fs::create_directory(out);
    const TProgramResult run =
        RunCli({"convert", "--profile", "MP4 - MPEG4", "--output-folder", out.string(),
                "--video-size", "176x144", "--frame-rate", "15", "--audio-bitrate", "96", input});
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    const std::string output = (out / "clip.mp4").string();
    EXPECT_EQ(run.Out, input + " -> " + output + ": Done\n");

    const TProbedFile judge = RunFfprobe(output);
    ASSERT_TRUE(judge.ok) << judge.error;
    const TProbedStream* video = judge.First("video");
    const TProbedStream* audio = judge.First("audio");
    ASSERT_NE(video, nullptr);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(video->codecName, "mpeg4");
    EXPECT_EQ(video->width, 176);
    EXPECT_EQ(video->height, 144);
    EXPECT_EQ(video->avgFrameRate.num, 15 * video->avgFrameRate.den);
    // The profile's "mpeg4aac" is written by today's AAC encoder.
    EXPECT_EQ(audio->codecName, "aac");
    EXPECT_EQ(audio->sampleRate, 44100);  // the profile's default
    EXPECT_EQ(audio->channels, 2);
    EXPECT_NEAR(judge.duration, 2.0, 0.2);
}

// Today's profiles: a quality step and a height; an H.264 + AAC source is copied unless
// --reencode asks otherwise, and -v says which streams were copied.
TEST_F(CliTest, ConvertTakesQualityAndCopiesUnlessToldToReencode) {
    TClipSpec camera;
    camera.videoCodec = "libx264";
    camera.width = 640;
    camera.height = 480;
    const std::string input = Clip("camera.mp4", camera);
    const fs::path out = dir.Path() / "out";
    fs::create_directory(out);

    const TProgramResult webm =
        RunCli({"convert", "--profile", "WebM - VP9", "--output-folder", out.string(), "--quality",
                "small", "--video-size", "360p", input});
    ASSERT_EQ(webm.ExitCode, 0) << webm.Out << webm.Err;
    const TProbedFile vp9 = RunFfprobe((out / "camera.webm").string());
    ASSERT_TRUE(vp9.ok) << vp9.error;
    ASSERT_NE(vp9.First("video"), nullptr);
    EXPECT_EQ(vp9.First("video")->codecName, "vp9");
    EXPECT_EQ(vp9.First("video")->width, 480);
    EXPECT_EQ(vp9.First("video")->height, 360);

    const TProgramResult copied = RunCli({"convert", "-v", "--profile", "MP4 - H.264 + AAC",
                                          "--output-folder", out.string(), input});
    ASSERT_EQ(copied.ExitCode, 0) << copied.Out << copied.Err;
    EXPECT_NE(copied.Err.find("video copied as it is (h264 640x480)"), std::string::npos)
        << copied.Err;
    const TProgramResult encoded =
        RunCli({"convert", "-v", "--reencode", "--overwrite", "--profile", "MP4 - H.264 + AAC",
                "--output-folder", out.string(), input});
    ASSERT_EQ(encoded.ExitCode, 0) << encoded.Out << encoded.Err;
    EXPECT_EQ(encoded.Err.find("copied as it is"), std::string::npos) << encoded.Err;
    const TProbedFile h264 = RunFfprobe((out / "camera.mp4").string());
    ASSERT_TRUE(h264.ok) << h264.error;
    EXPECT_EQ(h264.First("video")->codecName, "h264");
}

// The every-track profile from the command line: both sound tracks and both SubRip tracks of
// the source, the default sound track first, with their languages and the forced and default marks.
TEST_F(CliTest, ConvertKeepsEverySoundAndSubtitleTrack) {
    TClipSpec camera;
    camera.videoCodec = "libx264";
    const std::string clip = Clip("camera.mkv", camera);
    const std::string english = dir.File("en.srt"), german = dir.File("de.srt");
    WriteSubRip(english, "Line", 2);
    WriteSubRip(german, "Zeile", 1);
    const std::string input = dir.File("tracks.mkv");
    WriteTrackedFile(input, {{clip, 0, "", 0},
                             {clip, 1, "eng", 0},
                             {clip, 1, "fre", AV_DISPOSITION_DEFAULT},
                             {english, 0, "eng", 0},
                             {german, 0, "ger", AV_DISPOSITION_FORCED}});
    const fs::path out = dir.Path() / "out";
    fs::create_directory(out);
    const TProgramResult result =
        RunCli({"convert", "--profile", "MKV - H.264 + every audio and subtitle track",
                "--output-folder", out.string(), input});
    ASSERT_EQ(result.ExitCode, 0) << result.Out << result.Err;
    const nlohmann::json streams =
        FfprobeJson("-show_streams -show_packets", (out / "tracks.mkv").string());
    std::vector<std::string> seen;
    for (const nlohmann::json& stream : streams["streams"]) {
        const nlohmann::json tags = stream.value("tags", nlohmann::json::object());
        seen.push_back(stream.value("codec_name", "") + " " +
                       tags.value("language", std::string("-")) + " " +
                       std::to_string(stream["disposition"].value("default", -1)) +
                       std::to_string(stream["disposition"].value("forced", -1)));
    }
    EXPECT_EQ(Joined(seen, ','), "h264 - 00,aac fre 10,aac eng 00,subrip eng 00,subrip ger 01");
    std::vector<int> subtitleEvents(5, 0);
    for (const nlohmann::json& packet : streams["packets"])
        ++subtitleEvents[packet.value("stream_index", 0)];
    EXPECT_EQ(subtitleEvents[3], 2);
    EXPECT_EQ(subtitleEvents[4], 1);
}

TEST_F(CliTest, ConvertToAnAudioProfileByLineNumberDropsTheVideo) {
    const std::string input = Clip("clip.avi");
    const TProgramResult run =
        RunCli({"convert", "--profile", "23", "--output-folder", dir.Path().string(), "--channels",
                "mono", "--sample-rate", "22050", "--audio-bitrate", "64", input});
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    const TProbedFile judge = RunFfprobe(dir.File("clip.mp3"));
    ASSERT_TRUE(judge.ok) << judge.error;
    EXPECT_EQ(judge.First("video"), nullptr);
    const TProbedStream* audio = judge.First("audio");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->codecName, "mp3");
    EXPECT_EQ(audio->channels, 1);
    EXPECT_EQ(audio->sampleRate, 22050);
}

TEST_F(CliTest, ConvertGoesOnAfterAFailedFileAndNumbersTheNames) {
    const std::string input = Clip("clip.avi");
    const std::string bad = NotMedia("bad.avi");
    const std::string folder = dir.Path().string();
    const std::vector<std::string> common = {
        "convert", "--profile", "MPEG-1", "--output-folder", folder, "--video-size", "160 x 120"};
    std::vector<std::string> arguments = common;
    arguments.insert(arguments.end(), {input, bad, input});
    const TProgramResult run = RunCli(arguments);
    EXPECT_EQ(run.ExitCode, 1) << run.Err;
    const auto lines = LinesOf(run.Out);
    ASSERT_EQ(lines.size(), 3u) << run.Out;
    EXPECT_EQ(lines[0], input + " -> " + dir.File("clip.mpg") + ": Done");
    const std::string failed = bad + " -> " + dir.File("bad.mpg") + ": Fail: ";
    EXPECT_EQ(lines[1].rfind(failed, 0), 0u) << lines[1];
    EXPECT_GT(lines[1].size(), failed.size()) << "a failure says why";
    EXPECT_EQ(lines[2], input + " -> " + dir.File("clip-1.mpg") + ": Done");
    EXPECT_FALSE(fs::exists(dir.File("bad.mpg")));
    for (const char* name : {"clip.mpg", "clip-1.mpg"}) {
        const TProbedFile judge = RunFfprobe(dir.File(name));
        ASSERT_TRUE(judge.ok) << name << ": " << judge.error;
        ASSERT_NE(judge.First("video"), nullptr);
        EXPECT_EQ(judge.First("video")->codecName, "mpeg1video");
        EXPECT_EQ(judge.First("video")->width, 160);
    }

    // With overwrite the first name is written again and no third name appears.
    arguments = common;
    arguments.insert(arguments.end(), {"--overwrite", input});
    const TProgramResult again = RunCli(arguments);
    EXPECT_EQ(again.ExitCode, 0) << again.Err;
    EXPECT_EQ(again.Out, input + " -> " + dir.File("clip.mpg") + ": Done\n");
    EXPECT_FALSE(fs::exists(dir.File("clip-2.mpg")));
}

TEST_F(CliTest, ConvertWithLetterBoxKeepsThePictureShapeInsideBlackBands) {
    const std::string input = Clip("clip.avi");  // 320x240, 4:3
    const TProgramResult run =
        RunCli({"convert", "--profile", "MPEG-1", "--output-folder", dir.Path().string(),
                "--video-size", "720 x 480", "--letterbox", input});
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    const auto frames = DecodeVideoFrames(dir.File("clip.mpg"), 1);
    ASSERT_EQ(frames.size(), 1u);
    const TDecodedFrame& frame = frames[0];
    ASSERT_EQ(frame.width, 720);
    ASSERT_EQ(frame.height, 480);
    // A 4:3 picture in a 3:2 frame: 640 pixels wide, 40-pixel bands left and right.
    const auto luma = [&](int x, int y) { return int(frame.y[y * frame.width + x]); };
    for (int y : {10, 240, 470}) {
        EXPECT_LE(luma(8, y), 24) << "left band, row " << y;
        EXPECT_LE(luma(711, y), 24) << "right band, row " << y;
    }
    long sum = 0;
    for (int x = 60; x < 660; ++x) sum += luma(x, 240);
    EXPECT_GT(sum / 600, 40) << "the picture itself is not black";
    EXPECT_EQ(ReadFrameNumber(frame), -1) << "the band shifts the digits' grid";
}

TEST_F(CliTest, ConvertShowsProgressOnATerminalOnly) {
    const std::string input = Clip("clip.avi");
    const std::vector<std::string> arguments = {
        "convert",           "--profile",   "MPEG-1", "--output-folder",
        dir.Path().string(), "--overwrite", input};
    TProgramOptions terminal;
    terminal.ErrorToTerminal = true;
    const TProgramResult shown = RunCli(arguments, terminal);
    EXPECT_EQ(shown.ExitCode, 0) << shown.Err;
    EXPECT_NE(shown.Err.find("time left"), std::string::npos) << shown.Err;
    EXPECT_NE(shown.Err.find("frame "), std::string::npos) << shown.Err;
    EXPECT_EQ(shown.Out, input + " -> " + dir.File("clip.mpg") + ": Done\n");

    const TProgramResult piped = RunCli(arguments);
    EXPECT_EQ(piped.ExitCode, 0) << piped.Err;
    EXPECT_EQ(piped.Err, "");
}

TEST_F(CliTest, ConvertStoppedByCtrlCAbortsTheRunningFileAndConvertsNoMore) {
    const std::string input = Clip("long.avi", LongClip());
    const std::string second = Clip("clip.avi");
    TProgramOptions options;
    // Written under a hidden working name until it is complete.
    options.WhileRunning =
        InterruptOnceWritten(dir.File("long.avi.out/.long.converting.avi"), 64 * 1024);
    fs::create_directory(dir.File("long.avi.out"));
    const TProgramResult run =
        RunCli({"convert", "--profile", "AVI - Audio Video", "--output-folder",
                dir.File("long.avi.out"), "--video-size", "640 x 480", input, second},
               options);
    EXPECT_EQ(run.ExitCode, 130) << run.Out << run.Err;
    const std::string partial = dir.File("long.avi.out/long.partial.avi");
    EXPECT_EQ(run.Out, input + " -> " + partial + ": Abort\n");
    // Stopped as the Stop button stops it: the file is finished and readable, under a name that
    // says it is partial; nothing is under the output's own name, nothing else is left.
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.File("long.avi.out")))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"long.partial.avi"});
    const TProbedFile judge = RunFfprobe(partial, true);
    ASSERT_TRUE(judge.ok) << judge.error;
    const TProbedStream* video = judge.First("video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->width, 640);
    EXPECT_GT(video->packets, 0);
    EXPECT_LT(video->packets, 40 * 25);
}

// A fit stopped in its last pass leaves neither the output nor the unfinished pass: what the
// pass made is kept under a name that says it is partial, as any stopped file's.
TEST_F(CliTest, ConvertFitStoppedByCtrlCLeavesNoUnfinishedFile) {
    const std::string input = Clip("long.avi", LongClip());
    const std::string out = dir.File("fit.out");
    fs::create_directory(out);
    TProgramOptions options;
    options.WhileRunning = InterruptOnceWritten(out + "/.long.fitting.avi", 16 * 1024);
    // The pass files' folder is made here: a stopped process ends without freeing its tasks.
    const std::string temporary = dir.File("tmp");
    fs::create_directory(temporary);
    setenv("TMPDIR", temporary.c_str(), 1);
    const TProgramResult run = RunCli({"convert", "--profile", "AVI - Audio Video", "--fit-size",
                                       "1MB", "-v", "--output-folder", out, input},
                                      options);
    unsetenv("TMPDIR");
    EXPECT_TRUE(fs::is_empty(temporary));
    EXPECT_EQ(run.ExitCode, 130) << run.Out << run.Err;
    EXPECT_EQ(run.Out, input + " -> " + out + "/long.partial.avi: Abort\n");
    EXPECT_NE(run.Err.find("Fit to size: pass 2 of 2"), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("What was converted is kept as " + out + "/long.partial.avi"),
              std::string::npos)
        << run.Err;
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(out))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"long.partial.avi"});
    EXPECT_TRUE(RunFfprobe(out + "/long.partial.avi").ok);
}

// Usage errors of convert: found before anything is converted, and naming what is valid.
struct TConvertUsageCase {
    const char* Name;
    std::vector<std::string> Options;  // besides the output folder and one input file
    std::vector<const char*> InError;  // expected in standard error
};

void PrintTo(const TConvertUsageCase& usage, std::ostream* out) {
    *out << usage.Name;
}

class CliConvertUsageTest : public ::testing::TestWithParam<TConvertUsageCase> {
  protected:
    TTempDir dir;
};

TEST_P(CliConvertUsageTest, ExitsWith2AndNamesTheValidChoices) {
    std::vector<std::string> arguments = {"convert", "--output-folder", dir.Path().string()};
    arguments.insert(arguments.end(), GetParam().Options.begin(), GetParam().Options.end());
    arguments.push_back(dir.File("in.avi"));
    const TProgramResult run = RunCli(arguments);
    EXPECT_EQ(run.ExitCode, 2) << run.Err;
    EXPECT_EQ(run.Out, "");
    for (const char* text : GetParam().InError)
        EXPECT_NE(run.Err.find(text), std::string::npos) << text << "\n" << run.Err;
    EXPECT_TRUE(fs::is_empty(dir.Path())) << "nothing is written";
}

INSTANTIATE_TEST_SUITE_P(
    Choices, CliConvertUsageTest,
    ::testing::Values(
        TConvertUsageCase{"SizeNotInTheList",
                          {"--profile", "AVI - Audio Video", "--video-size", "999x999"},
                          {"\"999x999\" is not one of the video sizes", "Valid entries:",
                           "\"Original Video Size\"", "\"320 x 240 (VGA)\"", "\"720 x 576\""}},
        TConvertUsageCase{"AmbiguousBitrate",
                          {"--profile", "MPEG-1", "--video-bitrate", "20"},
                          {"fits more than one", "\"200 Kbps\"", "\"2000 Kbps\""}},
        TConvertUsageCase{"TrailingBlankShows",
                          {"--profile", "Zune Mpeg4", "--video-size", "352x288"},
                          {"\"320 x 240 \"", "\"640 x 480\""}},
        TConvertUsageCase{"ListTheProfileLacks",
                          {"--profile", "MP3 - Mpeg", "--video-codec", "mpeg4"},
                          {"has no video codecs"}},
        TConvertUsageCase{"Channels",
                          {"--profile", "MP3 - Mpeg", "--channels", "quad"},
                          {"\"Stereo\"", "\"Mono\""}},
        TConvertUsageCase{"Aspect",
                          {"--profile", "MP3 - Mpeg", "--aspect", "21:9"},
                          {"\"Original\"", "\"16:9 (Wide Screen)\""}},
        TConvertUsageCase{"Volume",
                          {"--profile", "MP3 - Mpeg", "--volume", "55"},
                          {"0, 20, 40, 60, 80, 100, 120, 140, 160, 180, 200"}},
        TConvertUsageCase{"SeparatorLine", {"--profile", "18"}, {"separator line"}},
        TConvertUsageCase{"LineOutsideTheList", {"--profile", "78"}, {"lines 0 to 77"}},
        TConvertUsageCase{"TodaysSeparator", {"--profile", "64"}, {"separator line"}},
        TConvertUsageCase{"QualityNotAStep",
                          {"--profile", "WebM - VP9", "--quality", "Best"},
                          {"\"Best\" is not one of the qualities", "\"Very high\"", "\"Small\""}},
        TConvertUsageCase{"QualityOfALosslessProfile",
                          {"--profile", "FLAC", "--quality", "High"},
                          {"has no qualities to choose"}},
        TConvertUsageCase{"FitSizeWithoutUnitItKnows",
                          {"--profile", "MP4 - H.264", "--fit-size", "25 MiBs"},
                          {"\"25 MiBs\" is no size", "25MB (1,000,000 bytes)"}},
        TConvertUsageCase{"FitSizeOfANumberAlone",
                          {"--profile", "MP4 - H.264", "--fit-size", "8"},
                          {"8 bytes? write 8MB"}},
        TConvertUsageCase{"ProfileStartOfTodaysAndTheCatalogues",
                          {"--profile", "MP4"},
                          {"more than one profile", "\"MP4 - MPEG4 Video (*.mp4)\"",
                           "\"MP4 - H.264 + AAC\"", "\"MP4 - Phone (1080p H.264)\""}},
        TConvertUsageCase{"FitSizeOfASoundProfile",
                          {"--profile", "FLAC", "--fit-size", "25MB"},
                          {"for video profiles"}},
        TConvertUsageCase{"AmbiguousProfile",
                          {"--profile", "AVI"},
                          {"more than one profile", "\"AVI - DivX Video (*.avi)\""}},
        TConvertUsageCase{"UnknownProfile", {"--profile", "Betamax"}, {"daziziz-cli profiles"}},
        TConvertUsageCase{"TrimEndBeforeStart",
                          {"--profile", "MP4 - H.264 + AAC", "--trim", "5-2"},
                          {"--trim: \"5-2\"", "end 2.000 s is not after the start 5.000 s"}},
        TConvertUsageCase{"TrimRangesOverlap",
                          {"--profile", "MP4 - H.264 + AAC", "--trim", "1-5", "--trim", "4-"},
                          {"the range 4.000- overlaps the range 1.000-5.000"}},
        TConvertUsageCase{"TrimNotATime",
                          {"--profile", "MP4 - H.264 + AAC", "--trim", "1:75-2:00"},
                          {"\"1:75\" is not a time", "[hh:]mm:ss[.fff]"}},
        TConvertUsageCase{"CutWithoutRanges",
                          {"--profile", "MP4 - H.264 + AAC", "--cut", "keyframe"},
                          {"--cut keyframe needs --trim"}},
        TConvertUsageCase{"SplitWithRanges",
                          {"--profile", "MP4 - H.264 + AAC", "--split-chapters", "--trim", "1-2"},
                          {"--split-chapters", "takes no --trim"}},
        TConvertUsageCase{
            "SplitReplacingTheOriginal",
            {"--profile", "MP4 - H.264 + AAC", "--split-chapters", "--replace-original"},
            {"--split-chapters", "cannot --replace-original"}},
        TConvertUsageCase{"NoProfile", {}, {"--profile"}}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// A fit is a ceiling, the same from --fit-size and from a preset the window saved: a target that
// holds the whole source keeps the profile's quality encode (no larger than it, and said in the
// log), and so does one below the source but above the quality encode (made first in the fitted
// run); a smaller target is met.
TEST_F(CliTest, ConvertFitIsACeilingAlikeFromThePresetAndTheOption) {
    TClipSpec clip;
    clip.durationSeconds = 3;
    const std::string input = Clip("clip.avi", clip);
    const int64_t sourceBytes = static_cast<int64_t>(fs::file_size(input));
    TTempDir data;
    const char* before = std::getenv("XDG_DATA_HOME");
    const std::string saved = before ? before : "";
    setenv("XDG_DATA_HOME", data.Path().c_str(), 1);
    const std::string profile = "MP4 - H.264 + AAC";
    // Runs one conversion into a folder of its own; the output's bytes.
    int n = 0;
    const auto convert = [&](const std::vector<std::string>& options, std::string& log) {
        const std::string out = dir.File("out" + std::to_string(++n));
        fs::create_directory(out);
        std::vector<std::string> arguments = {"convert", "-v", "--output-folder", out};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(input);
        const TProgramResult run = RunCli(arguments);
        EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
        log = run.Err;
        std::error_code error;
        const auto bytes = fs::file_size(out + "/clip.mp4", error);
        return error ? int64_t{-1} : static_cast<int64_t>(bytes);
    };
    std::string log;
    const int64_t quality = convert({"--profile", profile}, log);
    ASSERT_GT(quality, 0) << log;

    // The quality encode kept below half the target as it is, above half capped at the fit's
    // rate; fitted below the source's own size, unless the quality encode is within the target.
    enum TWay { kKept, kCapped, kQualityFirst, kFitted };
    const int64_t between = (quality + sourceBytes) / 2;
    ASSERT_LT(quality * 3 / 2, sourceBytes) << "a source the quality encode makes smaller";
    const struct {
        std::string Option;
        int64_t Bytes;
        TWay Way;
    } kTable[] = {{"25MB", 25000000, kKept},
                  {"5MiB", 5242880, kKept},
                  {std::to_string(sourceBytes * 3 / 2) + "B", sourceBytes * 3 / 2, kCapped},
                  {std::to_string(between) + "B", between, kQualityFirst},
                  {"60kB", 60000, kFitted}};
    ASSERT_GT(sourceBytes, 60000);
    for (const auto& row : kTable) {
        SCOPED_TRACE(row.Option);
        std::string optionLog, presetLog;
        const int64_t byOption =
            convert({"--profile", profile, "--fit-size", row.Option}, optionLog);
        TPresetStore store;
        store.Save({"Fitted", {profile, {}, 0, 0, 5, row.Bytes}});
        std::string error;
        ASSERT_TRUE(
            WriteFileAtomically(DefaultDataFolder() / kPresetsFileName, store.Json(), error));
        const int64_t byPreset = convert({"--preset", "Fitted"}, presetLog);
        std::printf("fit %-8s source %lld, quality %lld, --fit-size %lld, preset %lld bytes\n",
                    row.Option.c_str(), (long long)sourceBytes, (long long)quality,
                    (long long)byOption, (long long)byPreset);
        EXPECT_EQ(byOption, byPreset);
        EXPECT_GT(byOption, 0);
        EXPECT_LE(byOption, row.Bytes);
        const bool kept = optionLog.find(
                              "less than the target; kept the profile's quality "
                              "encode") != std::string::npos;
        EXPECT_EQ(kept, row.Way == kKept || row.Way == kCapped) << optionLog;
        EXPECT_EQ(optionLog.find(" kbit/s rather than filling") != std::string::npos,
                  row.Way == kCapped)
            << optionLog;
        EXPECT_EQ(presetLog.find("less than the target") != std::string::npos,
                  row.Way == kKept || row.Way == kCapped)
            << presetLog;
        EXPECT_EQ(optionLog.find("target: kept") != std::string::npos, row.Way == kQualityFirst)
            << optionLog;
        switch (row.Way) {
            case kKept:
                EXPECT_EQ(byOption, quality) << "the quality encode itself";
                break;
            case kCapped:
                EXPECT_NEAR(double(byOption), double(quality), quality * 0.02);
                break;
            case kQualityFirst:
                EXPECT_NEAR(double(byOption), double(quality), 64) << "the quality encode";
                break;
            case kFitted:
                EXPECT_LE(byOption, quality);
                break;
        }
    }
    if (before) {
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    } else {
        unsetenv("XDG_DATA_HOME");
    }
}

// Without --output-folder each output goes beside its input, and never over it: an MP4 input
// with an MP4 profile gets a numbered name.
TEST_F(CliTest, ConvertWithoutOutputFolderWritesBesideEachInput) {
    const fs::path a = dir.Path() / "a", b = dir.Path() / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    const std::string avi = (a / "clip.avi").string();
    WriteClip(avi, {});
    TClipSpec h264;
    h264.videoCodec = "libx264";
    const std::string mp4 = (b / "phone.mp4").string();
    WriteClip(mp4, h264);
    const auto mp4Bytes = fs::file_size(mp4);
    const TProgramResult run =
        RunCli({"convert", "--profile", "MP4 - H.264 + AAC", "--overwrite", avi, mp4});
    EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_EQ(LinesOf(run.Out),
              (std::vector<std::string>{avi + " -> " + (a / "clip.mp4").string() + ": Done",
                                        mp4 + " -> " + (b / "phone-1.mp4").string() + ": Done"}));
    EXPECT_TRUE(fs::exists(a / "clip.mp4"));
    EXPECT_TRUE(fs::exists(b / "phone-1.mp4"));
    EXPECT_EQ(fs::file_size(mp4), mp4Bytes) << "the input is never written over";
    const TProbedFile judge = RunFfprobe(mp4);
    EXPECT_TRUE(judge.ok) << judge.error;
}

TEST_F(CliTest, ConvertRefusesAMissingOutputFolder) {
    const std::string input = Clip("clip.avi");
    const std::string folder = dir.File("not-there");
    const TProgramResult run =
        RunCli({"convert", "--profile", "MP3 - Mpeg", "--output-folder", folder, input});
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_NE(run.Err.find(folder), std::string::npos) << run.Err;
    EXPECT_FALSE(fs::exists(folder));
}

// ---- Ranges cut out of a file, and its chapters

// H.264 with B-frames whose only key frame is its first (a 250-picture interval), AAC, and two
// chapters: "Opening" from 0 s, "Main part" from 4 s.
TClipSpec ChapteredClip(const std::string& format) {
    TClipSpec clip;
    clip.videoCodec = "libx264";
    clip.format = format;
    clip.durationSeconds = 6;
    clip.gopSize = 250;
    clip.bFrames = 2;
    clip.chapters = {{0.0, "Opening"}, {4.0, "Main part"}};
    return clip;
}

// "START TITLE" of each chapter, start in seconds with three decimals.
std::string ChaptersOf(const std::string& path) {
    std::vector<std::string> seen;
    const nlohmann::json probed = FfprobeJson("-show_chapters", path);
    for (const nlohmann::json& chapter : probed["chapters"]) {
        char start[32];
        std::snprintf(start, sizeof start, "%.3f",
                      std::stod(chapter.value("start_time", std::string("-1"))));
        seen.push_back(std::string(start) + " " +
                       chapter.value("tags", nlohmann::json::object()).value("title", ""));
    }
    return Joined(seen, ',');
}

// ffmpeg's PSNR of the output's first picture against the source's picture `sourceFrame`.
double FirstPicturePsnr(const std::string& output, const std::string& source, int sourceFrame) {
    const std::string graph =
        "[0:v]trim=end_frame=1,setpts=PTS-STARTPTS[a];[1:v]trim=start_frame=" +
        std::to_string(sourceFrame) + ":end_frame=" + std::to_string(sourceFrame + 1) +
        ",setpts=PTS-STARTPTS[b];[a][b]psnr";
    const TProgramResult run = RunProgram(
        "/usr/bin/ffmpeg",
        {"-hide_banner", "-i", output, "-i", source, "-filter_complex", graph, "-f", "null", "-"});
    const size_t at = run.Err.find("average:");
    if (at == std::string::npos) return -1;
    const std::string value = run.Err.substr(at + 8, 3);
    return value == "inf" ? 1000 : std::stod(run.Err.substr(at + 8));
}

struct TCutCase {
    const char* Name;
    const char* Format;              // the source's container
    std::vector<std::string> Trims;  // --trim values
    const char* Mode;
    double Length;         // of the output's picture, seconds
    int FirstPicture;      // the source's picture the output starts with
    double Lead;           // how much earlier than asked it starts
    const char* Chapters;  // ChaptersOf the output
};

class CliCutTest : public CliTest, public ::testing::WithParamInterface<TCutCase> {};

// The output holds the ranges joined, from zero, picture and sound together and whole; an exact
// cut starts at the picture asked for, a keyframe cut at the key frame before it and says so;
// the chapters are moved and cut to match.
TEST_P(CliCutTest, ConvertKeepsTheRangesJoined) {
    const TCutCase& cut = GetParam();
    const std::string input = Clip(std::string("source.") + cut.Format, ChapteredClip(cut.Format));
    const fs::path out = dir.Path() / "out";
    fs::create_directory(out);
    std::vector<std::string> arguments = {"convert",
                                          "--profile",
                                          "MP4 - H.264 + AAC",
                                          "--cut",
                                          cut.Mode,
                                          "--report",
                                          (out / "report.json").string(),
                                          "--output-folder",
                                          out.string()};
    for (const std::string& trim : cut.Trims) arguments.insert(arguments.end(), {"--trim", trim});
    arguments.push_back(input);
    const TProgramResult run = RunCli(arguments);
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    const std::string output = (out / "source.mp4").string();

    const nlohmann::json streams = FfprobeJson("-show_streams", output)["streams"];
    double video = -1, audio = -1;
    for (const nlohmann::json& stream : streams) {
        const std::string type = stream.value("codec_type", "");
        if (type != "video" && type != "audio") continue;
        EXPECT_EQ(std::stod(stream.value("start_time", std::string("-1"))), 0.0) << type;
        (type == "video" ? video : audio) = std::stod(stream.value("duration", std::string("-1")));
    }
    const double frame = 1 / 25.0, audioFrame = 1024 / 48000.0;
    // A copied video ends at its last picture that needs no later one: up to its B-frames short.
    const double copyShort = std::string(cut.Mode) == "keyframe" ? 2 * frame : 0;
    EXPECT_NEAR(video, cut.Length - copyShort / 2, frame + copyShort / 2);
    EXPECT_NEAR(audio, video + copyShort / 2, audioFrame + copyShort / 2);
    EXPECT_GE(FirstPicturePsnr(output, input, cut.FirstPicture), 35.0);
    const TProgramResult decode =
        RunProgram("/usr/bin/ffmpeg", {"-v", "error", "-i", output, "-f", "null", "-"});
    EXPECT_EQ(decode.Err, "");
    EXPECT_EQ(ChaptersOf(output), cut.Chapters);

    std::ifstream reportFile(out / "report.json");
    const nlohmann::json record = nlohmann::json::parse(reportFile)["files"][0];
    ASSERT_EQ(record["cut_starts_earlier_seconds"].size(), cut.Trims.size());
    EXPECT_NEAR(record["cut_starts_earlier_seconds"][0].get<double>(), cut.Lead, 0.001);
    EXPECT_EQ(run.Err.find("earlier") != std::string::npos, cut.Lead > 0) << run.Err;
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, CliCutTest,
    ::testing::Values(
        TCutCase{"ExactFromMp4",
                 "mp4",
                 {"3.4-5.4"},
                 "exact",
                 2.0,
                 85,
                 0,
                 "0.000 Opening,0.600 Main part"},
        TCutCase{"ExactJoinedFromMkv",
                 "matroska",
                 {"1-2", "0:03.4-00:00:05.4"},
                 "exact",
                 3.0,
                 25,
                 0,
                 "0.000 Opening,1.600 Main part"},
        TCutCase{"ExactToTheEnd", "mp4", {"4.2-"}, "exact", 1.8, 105, 0, "0.000 Main part"},
        TCutCase{"KeyframeFromMp4",
                 "mp4",
                 {"3.4-5.4"},
                 "keyframe",
                 5.4,
                 0,
                 3.4,
                 "0.000 Opening,4.000 Main part"}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

struct TChapterCase {
    const char* Name;
    const char* Profile;
    const char* Extension;
};

class CliChapterTest : public CliTest, public ::testing::WithParamInterface<TChapterCase> {};

TEST_P(CliChapterTest, ConvertKeepsTheSourcesChapters) {
    const std::string input = Clip("source.mkv", ChapteredClip("matroska"));
    const fs::path out = dir.Path() / "out";
    fs::create_directory(out);
    const TProgramResult run = RunCli(
        {"convert", "--profile", GetParam().Profile, "--output-folder", out.string(), input});
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_EQ(ChaptersOf((out / (std::string("source.") + GetParam().Extension)).string()),
              "0.000 Opening,4.000 Main part");
}

INSTANTIATE_TEST_SUITE_P(
    Containers, CliChapterTest,
    ::testing::Values(TChapterCase{"Mp4", "MP4 - H.264 + AAC", "mp4"},
                      TChapterCase{"Mkv", "MKV - H.264 + every audio and subtitle track", "mkv"},
                      TChapterCase{"Ogg", "Opus", "opus"},
                      TChapterCase{"M4a", "M4A - ALAC (lossless)", "m4a"}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// Each chapter becomes an output of its own, named after it and cut exactly (the first starts
// the Matroska file, the last runs to its end); a file without chapters is converted whole.
TEST_F(CliTest, ConvertSplitAtChaptersGivesAnOutputPerChapter) {
    TClipSpec chaptered = ChapteredClip("matroska");
    chaptered.chapters = {{0.0, "Opening"}, {2.0, "Main: part/one"}, {4.5, ""}};
    const std::string input = Clip("film.mkv", chaptered);
    const std::string plain = Clip("plain.mp4");
    const fs::path out = dir.Path() / "out";
    fs::create_directory(out);
    const TProgramResult run =
        RunCli({"convert", "--profile", "MP4 - H.264 + AAC", "--split-chapters", "--output-folder",
                out.string(), input, plain});
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_NE(run.Err.find(plain + ": no chapters to split at; converted whole"), std::string::npos)
        << run.Err;

    const struct {
        const char* Name;
        double Length;
        const char* Chapters;
    } kParts[] = {{"film - 01 - Opening.mp4", 2.0, "0.000 Opening"},
                  {"film - 02 - Main_ part_one.mp4", 2.5, "0.000 Main: part/one"},
                  {"film - 03 - Chapter 03.mp4", 1.5, "0.000 "}};
    for (const auto& part : kParts) {
        const std::string output = (out / part.Name).string();
        EXPECT_NE(run.Out.find(input + " -> " + output + ": Done"), std::string::npos) << run.Out;
        const nlohmann::json probed = FfprobeJson("-show_streams", output);
        for (const nlohmann::json& stream : probed["streams"]) {
            const std::string type = stream.value("codec_type", "");
            if (type != "video" && type != "audio") continue;
            EXPECT_NEAR(std::stod(stream.value("duration", std::string("-1"))), part.Length,
                        1 / 25.0)
                << part.Name << " " << type;
        }
        EXPECT_EQ(ChaptersOf(output), part.Chapters);
        const TProgramResult decode =
            RunProgram("/usr/bin/ffmpeg", {"-v", "error", "-i", output, "-f", "null", "-"});
        EXPECT_EQ(decode.Err, "") << part.Name;
    }
    EXPECT_TRUE(fs::exists(out / "plain.mp4"));
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 4);

    // Named relatively, without an output folder: the parts go beside the input.
    TProgramOptions inFolder;
    inFolder.WorkingFolder = dir.Path().string();
    const TProgramResult beside = RunCli(
        {"convert", "--profile", "MP4 - H.264 + AAC", "--split-chapters", "film.mkv"}, inFolder);
    EXPECT_EQ(beside.ExitCode, 0) << beside.Out << beside.Err;
    for (const auto& part : kParts) EXPECT_TRUE(fs::exists(dir.Path() / part.Name)) << part.Name;
}

TEST_F(CliTest, ConvertOfARangeOutsideTheFileFailsItNamingBothAndWritesNothing) {
    const std::string input = Clip("short.mp4", ChapteredClip("mp4"));
    const fs::path out = dir.Path() / "out";
    fs::create_directory(out);
    const TProgramResult run = RunCli({"convert", "--profile", "MP4 - H.264 + AAC", "--trim", "5-9",
                                       "--output-folder", out.string(), input});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Out.find(input + ": the range 5.000-9.000 ends after the end of the file"),
              std::string::npos)
        << run.Out;
    EXPECT_TRUE(fs::is_empty(out));
}

}  // namespace
