// Looking before converting, as a user runs it: `daziziz-cli estimate` against the conversion it
// foretells (the same files converted with the same choices, their real sizes beside the
// estimates; files without an estimate never keep the others from theirs), and the black bars
// `probe --crop` finds and `convert --crop auto` takes away.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/Ffprobe.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields;
}

struct TEstimateCase {
    const char* Name;
    std::vector<std::string> Choices;  // --profile and the rest
    double Seconds;                    // the clip's length: 24 s is sampled, 8 s converted whole
    // H.264 with B-frames and a subtitle file beside it, which the profile copies and keeps: a
    // copy's size is the source's, so the estimate is held closer.
    bool CopiedWithSubtitles = false;
};

class EstimateTest : public ::testing::TestWithParam<TEstimateCase> {
  protected:
    void SetUp() override { RequireMediaLibraries(); }
    TTempDir dir;
};

TEST_P(EstimateTest, IsWithinAFifthOfTheRealOutput) {
    const TEstimateCase& c = GetParam();
    TClipSpec shape;
    shape.width = 320;
    shape.height = 180;
    shape.durationSeconds = c.Seconds;
    shape.videoBitRate = 3000000;
    shape.noise = 6;
    if (c.CopiedWithSubtitles) {
        shape.videoCodec = "libx264";
        shape.bFrames = 3;
        shape.noise = 0;
        std::ofstream(dir.File("clip.de.srt")) << "1\n00:00:01,000 --> 00:00:03,000\nHallo\n";
    }
    const std::string clip = dir.File("clip.mkv");
    WriteClip(clip, shape);
    const auto filesBeside = std::distance(fs::directory_iterator(dir.Path()), {});

    std::vector<std::string> arguments = {"estimate"};
    arguments.insert(arguments.end(), c.Choices.begin(), c.Choices.end());
    arguments.push_back(clip);
    const TProgramResult estimate = RunCli(arguments);
    ASSERT_EQ(estimate.ExitCode, 0) << estimate.Err;
    const auto lines = LinesOf(estimate.Out);
    ASSERT_EQ(lines.size(), 1u) << estimate.Out;
    const auto fields = Fields(lines[0]);
    ASSERT_EQ(fields.size(), 3u) << lines[0];
    EXPECT_EQ(fields[0], clip);
    const double expected = std::stod(fields[1]);
    EXPECT_GE(std::stod(fields[2]), 0);
    // The pieces went with their temporary folder: nothing beside the clip.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), filesBeside);

    arguments[0] = "convert";
    arguments.insert(arguments.end() - 1, {"--output-folder", dir.File("out")});
    fs::create_directory(dir.File("out"));
    const TProgramResult convert = RunCli(arguments);
    ASSERT_EQ(convert.ExitCode, 0) << convert.Err;
    const fs::directory_iterator output(dir.File("out"));
    ASSERT_NE(output, fs::directory_iterator());
    const double real = double(fs::file_size(output->path()));
    EXPECT_NEAR(expected / real, 1.0, c.CopiedWithSubtitles ? 0.03 : 0.2)
        << "estimate " << expected << ", real " << real;
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, EstimateTest,
    ::testing::Values(
        TEstimateCase{"QualityH264Sampled", {"--profile", "MP4 - H.264 + AAC", "--reencode"}, 24},
        TEstimateCase{"QualityH264Whole", {"--profile", "MP4 - H.264 + AAC", "--reencode"}, 8},
        TEstimateCase{"BitRateMpeg4", {"--profile", "MP4 - MPEG4 Video (*.mp4)"}, 24},
        // VBR sound alone: measured on the pieces, whatever rate the profile names.
        TEstimateCase{"SoundVbrMp3", {"--profile", "MP3 (VBR quality)"}, 24},
        TEstimateCase{"FitToSize", {"--profile", "MP4 - H.264 + AAC", "--fit-size", "400kB"}, 24},
        TEstimateCase{"CopiedWithSubtitles",
                      {"--profile", "MKV - H.264 + every audio and subtitle track"},
                      24,
                      true}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// A missing file and one that is no media get "-" and their reason; the others are estimated
// still, in order, and one expected to grow says so.
TEST(Estimate, FilesWithoutAnEstimateKeepNoOtherFromIts) {
    RequireMediaLibraries();
    TTempDir dir;
    TClipSpec small;
    small.durationSeconds = 3;
    small.videoBitRate = 100000;
    small.audioBitRate = 32000;
    const std::string clip = dir.File("small.mp4");
    WriteClip(clip, small);
    const std::string text = dir.File("notes.mp4");
    std::ofstream(text) << "not a media file\n";
    const std::string missing = dir.File("missing.mp4");
    // Opens, but its pictures do not decode.
    const std::string damaged = dir.File("damaged.mp4");
    WriteClip(damaged, small);
    DamageFile(damaged, TDamage::Overwritten, 0.02);

    // MPEG-4 Part 2 at its profile's rate: far more than the clip's 100 kbit/s.
    const TProgramResult run = RunCli(
        {"estimate", "--profile", "MP4 - MPEG4 Video (*.mp4)", missing, clip, text, damaged});
    EXPECT_EQ(run.ExitCode, 1);
    const auto lines = LinesOf(run.Out);
    ASSERT_EQ(lines.size(), 4u) << run.Out;
    EXPECT_EQ(lines[0], missing + "\t-\t-");
    EXPECT_EQ(Fields(lines[1]).size(), 3u);
    EXPECT_EQ(Fields(lines[1])[0], clip);
    EXPECT_GT(std::stoll(Fields(lines[1])[1]), int64_t(fs::file_size(clip)));
    EXPECT_EQ(lines[2], text + "\t-\t-");
    EXPECT_EQ(lines[3].substr(0, damaged.size()), damaged);
    EXPECT_NE(run.Err.find(missing), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find(text), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find(clip + ": the output is expected to be larger than its source"),
              std::string::npos)
        << run.Err;
}

// The crop probe finds is the crop convert applies; files without pictures keep their line.
TEST(BlackBarCrop, ProbeShowsItAndConvertAutoApplies) {
    RequireMediaLibraries();
    TTempDir dir;
    TClipSpec film;
    film.videoCodec = "libx264";
    film.width = 640;
    film.height = 360;
    film.letterbox = 46;
    film.videoBitRate = 2000000;
    film.durationSeconds = 4;
    const std::string clip = dir.File("film.mp4");
    WriteClip(clip, film);
    TClipSpec sound;
    sound.videoCodec.clear();
    const std::string song = dir.File("song.mka");
    WriteClip(song, sound);

    const TProgramResult probe = RunCli({"probe", "--crop", clip, song});
    ASSERT_EQ(probe.ExitCode, 0) << probe.Err;
    const auto lines = LinesOf(probe.Out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Fields(lines[0]).back(), "crop=640:268:0:46");
    EXPECT_EQ(Fields(lines[1]).size(), 4u) << "no crop column without pictures";
    EXPECT_NE(probe.Err.find(song + ": no crop: no video"), std::string::npos) << probe.Err;

    fs::create_directory(dir.File("out"));
    const TProgramResult convert =
        RunCli({"convert", "--crop", "auto", "--profile", "MP4 - H.264 + AAC", "--output-folder",
                dir.File("out"), clip});
    ASSERT_EQ(convert.ExitCode, 0) << convert.Err;
    const TProbedFile probed = RunFfprobe(dir.File("out/film.mp4"));
    ASSERT_TRUE(probed.ok) << probed.error;
    ASSERT_NE(probed.First("video"), nullptr);
    EXPECT_EQ(probed.First("video")->width, 640);
    EXPECT_EQ(probed.First("video")->height, 268);
}

}  // namespace
