// `convert --loudness` as a user runs it, on speech-like and music-like sound made at test time;
// ffmpeg's ebur128 judges the outputs.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace {

struct TMeasured {
    double Integrated = NAN;  // LUFS
    double TruePeak = NAN;    // dBTP
};

// ebur128's summary of the file's sound.
TMeasured Measure(const std::string& path) {
    const TProgramResult run =
        RunProgram("/usr/bin/ffmpeg", {"-hide_banner", "-nostats", "-i", path, "-map", "0:a:0",
                                       "-af", "ebur128=peak=true", "-f", "null", "-"});
    const std::string summary = run.Err.substr(std::min(run.Err.find("Summary:"), run.Err.size()));
    TMeasured measured;
    std::smatch match;
    if (std::regex_search(summary, match, std::regex(R"(I:\s+(-?[0-9.]+) LUFS)")))
        measured.Integrated = std::stod(match[1]);
    if (std::regex_search(summary, match, std::regex(R"(Peak:\s+(-?[0-9.inf]+) dBFS)")))
        measured.TruePeak = std::stod(match[1]);
    return measured;
}

class LoudnessCliTest : public ::testing::Test {
  protected:
    void SetUp() override { RequireMediaLibraries(); }

    // Made once per clip: a WAV of lavfi's aevalsrc expression.
    std::string Clip(const std::string& name, const std::string& expression, int rate,
                     int channels) {
        const std::string path = dir.File(name + ".wav");
        if (std::filesystem::exists(path)) return path;
        const TProgramResult made = RunProgram(
            "/usr/bin/ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                "aevalsrc='" + expression + "':s=" + std::to_string(rate) + ":d=5",
                                "-ac", std::to_string(channels), path});
        if (made.ExitCode != 0) throw std::runtime_error("ffmpeg: " + made.Err);
        return path;
    }
    // Syllables of a voice: harmonics of 180 Hz in bursts, about -35 LUFS with peaks about 14 dB
    // above that (as mono; a phone recording).
    std::string Speech(int channels = 1) {
        return Clip("speech" + std::to_string(channels),
                    "0.05*(sin(2*PI*180*t)+0.6*sin(2*PI*360*t)+0.4*sin(2*PI*540*t)+0.3*sin(2*PI*"
                    "900*t))*gt(sin(2*PI*2.3*t)+0.3*sin(2*PI*7*t),0.1)*pow(abs(sin(PI*5*t)),2)",
                    48000, channels);
    }
    // A dense chord in stereo at 44.1 kHz, about -11 LUFS.
    std::string Music() {
        return Clip("music",
                    "0.215*sin(2*PI*220*t)+0.17*sin(2*PI*277*t)+0.155*sin(2*PI*330*t)+0.086*sin(2*"
                    "PI*1760*t)*(0.5+0.5*sin(2*PI*2*t))|0.19*sin(2*PI*165*t)+0.17*sin(2*PI*440*t)+"
                    "0.13*sin(2*PI*554*t)+0.07*random(0)",
                    44100, 2);
    }

    TTempDir dir;
};

struct TLoudnessCase {
    const char* Target;  // as typed
    double Lufs;
    double Ceiling;
    const char* Profile;
    const char* Extension;
};

std::string FormatCeiling(double ceiling) {
    return std::to_string(static_cast<int>(ceiling));
}

class LoudnessTargets : public LoudnessCliTest,
                        public ::testing::WithParamInterface<TLoudnessCase> {};

// Both clips reach the target within 0.5 LU, their true peaks at most 0.1 dB over the ceiling,
// through one gain or (the -2 dBTP rows, for the speech) loudnorm, and each file's line says which.
TEST_P(LoudnessTargets, BothClipsReachTheTargetUnderTheCeiling) {
    const TLoudnessCase& c = GetParam();
    const std::string out = dir.File("out");
    std::filesystem::create_directory(out);
    const TProgramResult run =
        RunCli({"convert", "--profile", c.Profile, "--loudness", c.Target, "--true-peak",
                FormatCeiling(c.Ceiling), "--output-folder", out, Speech(), Music()});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    for (const char* clip : {"speech1", "music"}) {
        const std::string output = out + "/" + clip + "." + c.Extension;
        const TMeasured measured = Measure(output);
        EXPECT_NEAR(measured.Integrated, c.Lufs, 0.5) << output;
        EXPECT_LE(measured.TruePeak, c.Ceiling + 0.1) << output;
        EXPECT_TRUE(std::regex_search(
            run.Err,
            std::regex(
                std::string(clip) +
                R"(\.wav: loudness: -[0-9.]+ LUFS, peak -[0-9.]+ dBTP; (linear gain [-+][0-9.]+ dB|dynamic to ))")))
            << run.Err;
    }
}

std::vector<TLoudnessCase> LoudnessCases() {
    const struct {
        const char* Profile;
        const char* Extension;
    } kOutputs[] = {{"M4A - Mpeg4 Audio File", "m4a"},
                    {"MP3 (VBR quality)", "mp3"},
                    {"Opus", "opus"},
                    {"FLAC (lossless)", "flac"}};
    const struct {
        const char* Target;
        double Lufs;
        double Ceiling;
    } kTargets[] = {
        {"ebu", -23, -1}, {"podcast", -16, -1}, {"streaming", -14, -1}, {"-14", -14, -2}};
    std::vector<TLoudnessCase> cases;
    for (const auto& target : kTargets)
        for (const auto& output : kOutputs)
            cases.push_back(
                {target.Target, target.Lufs, target.Ceiling, output.Profile, output.Extension});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(PresetsAndCodecs, LoudnessTargets, ::testing::ValuesIn(LoudnessCases()),
                         [](const auto& tested) {
                             std::string name = std::string(tested.param.Extension) + "_" +
                                                tested.param.Target + "_tp" +
                                                FormatCeiling(-tested.param.Ceiling);
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

// One gain for the batch: the loud and the quiet clip keep their difference, and the batch as a
// whole lands near the target.
TEST_F(LoudnessCliTest, AlbumKeepsTheClipsDifference) {
    const std::string speech = Speech(2), music = Music();
    const std::string out = dir.File("out");
    std::filesystem::create_directory(out);
    const TProgramResult run =
        RunCli({"convert", "--profile", "FLAC (lossless)", "--loudness", "-16", "--loudness-album",
                "--report", "-", "--output-folder", out, speech, music});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_NE(run.Err.find("(album)"), std::string::npos) << run.Err;
    // Each file's record says what was measured and done, as its line does.
    const nlohmann::json records = nlohmann::json::parse(run.Out)["files"];
    EXPECT_EQ(records.size(), 2u);
    for (const nlohmann::json& record : records)
        EXPECT_NE(record.value("loudness", nlohmann::json::array()).dump().find("linear gain"),
                  std::string::npos)
            << record.dump();
    const double before = Measure(music).Integrated - Measure(speech).Integrated;
    const TMeasured loud = Measure(out + "/music.flac");
    const TMeasured quiet = Measure(out + "/speech2.flac");
    EXPECT_NEAR(loud.Integrated - quiet.Integrated, before, 0.5);
    EXPECT_GT(before, 20);  // the clips are as different as made
    EXPECT_LE(loud.TruePeak, -0.9);
}

// Targets out of range, unknown names and stray options are refused before anything is written;
// a file without sound converts as usual, with a note.
TEST_F(LoudnessCliTest, BadRequestsAreRefusedAndSilentFilesConvert) {
    const std::string out = dir.File("out");
    std::filesystem::create_directory(out);
    const std::string music = Music();
    const struct {
        std::vector<std::string> Options;
        const char* Message;
    } kRefused[] = {
        {{"--loudness", "-80"}, "outside -70 ... -5"},
        {{"--loudness", "-3"}, "outside -70 ... -5"},
        {{"--loudness", "loud"}, "neither a loudness in LUFS"},
        {{"--loudness", "ebu", "--true-peak", "2"}, "a ceiling in dBTP"},
        {{"--true-peak", "-1"}, "--true-peak needs --loudness"},
        {{"--loudness-album"}, "--loudness-album needs --loudness"},
        {{"--loudness", "ebu", "--trim", "1-2"}, "cannot be combined with --trim"},
        {{"--loudness", "ebu", "--split-chapters"}, "or --split-chapters"},
    };
    for (const auto& refused : kRefused) {
        std::vector<std::string> arguments = {"convert", "--profile", "Opus", "--output-folder",
                                              out};
        arguments.insert(arguments.end(), refused.Options.begin(), refused.Options.end());
        arguments.push_back(music);
        const TProgramResult run = RunCli(arguments);
        EXPECT_EQ(run.ExitCode, 2) << refused.Message;
        EXPECT_NE(run.Err.find(refused.Message), std::string::npos) << run.Err;
    }
    EXPECT_TRUE(std::filesystem::is_empty(out));

    const std::string mute = dir.File("mute.mkv");
    ASSERT_EQ(RunProgram("/usr/bin/ffmpeg", {"-v", "error", "-f", "lavfi", "-i",
                                             "testsrc=d=1:s=160x120", "-c:v", "mpeg4", mute})
                  .ExitCode,
              0);
    const TProgramResult run = RunCli({"convert", "--profile", "MP4 - H.264 + AAC", "--loudness",
                                       "ebu", "--output-folder", out, mute});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_NE(run.Err.find("mute.mkv: loudness: no sound to normalise"), std::string::npos)
        << run.Err;
    EXPECT_TRUE(std::filesystem::exists(out + "/mute.mp4"));
}

}  // namespace
