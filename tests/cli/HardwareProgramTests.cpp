// Hardware encoders as a user meets them through daziziz-cli: `encoders` explains each one, and
// `convert --hardware` uses a working device, falls back to software with the reason, or fails
// a demand it cannot meet. The tests that encode through a device run where one works and skip
// themselves, saying why, everywhere else.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "binding/FFmpegLibs.h"
#include "support/Ffprobe.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

namespace fs = std::filesystem;

// Sets environment variables for the programs a test runs, and puts them back.
class TEnvironment {
  public:
    void Set(const std::string& name, const std::string& value) {
        if (!saved_.count(name)) {
            const char* old = getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        setenv(name.c_str(), value.c_str(), 1);
    }
    ~TEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// `encoders` lines: encoder name -> {"available"|"not available", reason}; devices under
// "device <kind>[ path]".
struct TEncoderLine {
    std::string State, Reason;
};
std::map<std::string, TEncoderLine> EncoderLines(const std::string& out) {
    std::map<std::string, TEncoderLine> lines;
    for (const std::string& line : LinesOf(out)) {
        const auto first = line.find('\t');
        const auto second = line.find('\t', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        std::string name = line.substr(0, first);
        if (name == "device") name += " " + line.substr(first + 1, second - first - 1);
        lines[name] = {line.substr(first + 1, second - first - 1), line.substr(second + 1)};
    }
    return lines;
}

const char* const kEncoders[] = {"h264_vaapi", "hevc_vaapi", "vp9_vaapi", "av1_vaapi",
                                 "h264_nvenc", "hevc_nvenc", "h264_qsv",  "hevc_qsv"};
const char* const kVaapiEncoders[] = {"h264_vaapi", "hevc_vaapi", "vp9_vaapi", "av1_vaapi"};

// How the machine is made to look for VAAPI, and what every VAAPI encoder must then say.
struct TDeviceCase {
    const char* Name;
    const char* DriverName;  // LIBVA_DRIVER_NAME, or nullptr to leave it
    bool StandIn;            // a render node that is an ordinary file, given with --render-node
    const char* Expected;    // in the reason ("%s": the stand-in's path)
};

class EncodersCommand : public ::testing::TestWithParam<TDeviceCase> {
  protected:
    void SetUp() override { RequireMediaLibraries(); }
    TTempDir dir;
};

TEST_P(EncodersCommand, ExplainsEveryHardwareEncoderWithTheDevicesOwnReason) {
    const TDeviceCase& device = GetParam();
    TEnvironment environment;
    // No render node unless the case gives one: the same answer on a machine with a chip.
    environment.Set("DAZIZIZ_RENDER_NODES", "");
    if (device.DriverName) environment.Set("LIBVA_DRIVER_NAME", device.DriverName);
    std::vector<std::string> arguments = {"encoders"};
    std::string standIn;
    if (device.StandIn) {
        standIn = dir.File("renderD128");
        std::ofstream(standIn) << "not a graphics device\n";
        arguments.insert(arguments.end(), {"--render-node", standIn});
    }
    const TProgramResult run = RunCli(arguments);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    const auto lines = EncoderLines(run.Out);
    std::string expected = device.Expected;
    if (const auto at = expected.find("%s"); at != std::string::npos)
        expected.replace(at, 2, standIn);

    for (const char* name : kEncoders) ASSERT_TRUE(lines.count(name)) << name << "\n" << run.Out;
    const std::string deviceLine = "device vaapi" + (standIn.empty() ? "" : " " + standIn);
    ASSERT_TRUE(lines.count(deviceLine)) << run.Out;
    EXPECT_NE(lines.at(deviceLine).Reason.find(expected), std::string::npos) << run.Out;
    for (const char* name : kVaapiEncoders) {
        const TEncoderLine& line = lines.at(name);
        EXPECT_EQ(line.State, "not available") << name;
        // The libraries themselves decide which encoders they carry.
        if (!LibAVCodec.avcodec_find_encoder_by_name(name))
            EXPECT_EQ(line.Reason, "encoder missing from these libraries") << name;
        else
            EXPECT_NE(line.Reason.find(expected), std::string::npos) << name << ": " << line.Reason;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Machines, EncodersCommand,
    ::testing::Values(
        TDeviceCase{"NoRenderDevice", nullptr, false, "no render device"},
        TDeviceCase{
            "DriverNameOfAMissingDriver", "dz_missing", false,
            "LIBVA_DRIVER_NAME names the driver \"dz_missing\", but dz_missing_drv_video.so "
            "is not in"},
        TDeviceCase{"RenderNodeTheDriverCannotOpen", nullptr, true,
                    "the vaapi driver did not open %s"}),
    [](const auto& test) { return std::string(test.param.Name); });

class HardwareConvert : public ::testing::Test {
  protected:
    void SetUp() override {
        RequireMediaLibraries();
        clip = dir.File("clip.avi");
        WriteClip(clip, {});
        out = dir.File("out");
        fs::create_directory(out);
    }
    nlohmann::json ReportOf(const std::string& path) {
        std::ifstream in(path);
        return nlohmann::json::parse(in).at("files").at(0);
    }
    TTempDir dir;
    std::string clip, out;
};

// A machine whose only VAAPI device is one its driver cannot open: auto converts in software
// and the report says why; the same file with vaapi demanded fails and leaves nothing behind.
TEST_F(HardwareConvert, AutoFallsBackToSoftwareWithTheReasonAndADemandFailsClearly) {
    TEnvironment environment;
    const std::string standIn = dir.File("renderD128");
    std::ofstream(standIn) << "not a graphics device\n";
    environment.Set("DAZIZIZ_RENDER_NODES", standIn);
    const auto lines = EncoderLines(RunCli({"encoders"}).Out);
    for (const char* name : {"h264_nvenc", "h264_qsv"})
        if (lines.count(name) && lines.at(name).State == "available")
            GTEST_SKIP() << name << " works here, so auto would not fall back to software";

    const std::string report = dir.File("auto.json");
    TProgramResult run = RunCli({"convert", "--profile", "MP4 - H.264 + AAC", "--hardware", "auto",
                                 "--output-folder", out, "--report", report, clip});
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    const TProbedFile probed = RunFfprobe(out + "/clip.mp4");
    ASSERT_TRUE(probed.ok) << probed.error;
    ASSERT_TRUE(probed.First("video"));
    EXPECT_EQ(probed.First("video")->codecName, "h264");
    nlohmann::json record = ReportOf(report);
    EXPECT_EQ(record.at("status"), "done");
    EXPECT_EQ(record.at("video_codec"), "libx264");
    const std::string why = record.at("hardware");
    EXPECT_NE(why.find("software encoder used"), std::string::npos) << why;
    EXPECT_NE(why.find("h264_vaapi: the vaapi driver did not open " + standIn), std::string::npos)
        << why;
    EXPECT_NE(run.Err.find("--hardware auto: software encoder used"), std::string::npos) << run.Err;

    const std::string demandReport = dir.File("vaapi.json");
    run = RunCli({"convert", "--profile", "MP4 - H.264 + AAC", "--hardware", "vaapi",
                  "--output-folder", out, "--report", demandReport, clip});
    EXPECT_EQ(run.ExitCode, 1) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("Fail: --hardware vaapi demanded, but no vaapi encoder for h264 works: "
                           "h264_vaapi: the vaapi driver did not open " +
                           standIn),
              std::string::npos)
        << run.Out;
    EXPECT_NE(run.Err.find("convert: --hardware vaapi: no device works"), std::string::npos)
        << run.Err;
    record = ReportOf(demandReport);
    EXPECT_EQ(record.at("status"), "failed");
    EXPECT_EQ(record.at("reason"), record.at("hardware"));
    // Only the software output of the first run is there.
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
}

TEST_F(HardwareConvert, AProfileWithoutAHardwareCodecSaysSoAndConvertsInSoftware) {
    const std::string report = dir.File("r.json");
    const TProgramResult run = RunCli({"convert", "--profile", "MP4 - MPEG4 Video", "--hardware",
                                       "auto", "--output-folder", out, "--report", report, clip});
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    const std::string why = ReportOf(report).at("hardware");
    EXPECT_NE(why.find("no hardware encoder for mpeg4"), std::string::npos) << why;
}

// ---- through a real device: run on a machine with a graphics chip (README, "Hardware tests")

struct TDeviceProfile {
    const char* Profile;
    const char* Encoder;
    const char* Codec;  // as ffprobe names the output's video
    const char* Extension;
};

class ThroughTheDevice : public HardwareConvert,
                         public ::testing::WithParamInterface<TDeviceProfile> {};

TEST_P(ThroughTheDevice, EncodesWithTheDeviceAndTheOutputReadsBackWhole) {
    const TDeviceProfile& profile = GetParam();
    const TProgramResult survey = RunCli({"encoders"});
    const auto lines = EncoderLines(survey.Out);
    if (!lines.count(profile.Encoder) || lines.at(profile.Encoder).State != "available")
        GTEST_SKIP() << profile.Encoder << " is not available here: "
                     << (lines.count(profile.Encoder) ? lines.at(profile.Encoder).Reason
                                                      : survey.Err);
    const std::string report = dir.File("device.json");
    const TProgramResult run = RunCli({"convert", "--profile", profile.Profile, "--hardware",
                                       "vaapi", "--output-folder", out, "--report", report, clip});
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    const nlohmann::json record = ReportOf(report);
    EXPECT_EQ(record.at("hardware"), std::string("encoded with ") + profile.Encoder);
    EXPECT_EQ(record.at("video_codec"), profile.Encoder);
    // Read back: a stream header a player can start from, and every picture decodes.
    const std::string output = out + "/clip." + profile.Extension;
    const TProbedFile probed = RunFfprobe(output, false, true);
    ASSERT_TRUE(probed.ok) << probed.error;
    const TProbedStream* video = probed.First("video");
    ASSERT_TRUE(video);
    EXPECT_EQ(video->codecName, profile.Codec);
    EXPECT_EQ(video->width, 320);
    EXPECT_EQ(video->height, 240);
    EXPECT_EQ(video->frames, 50);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, ThroughTheDevice,
    ::testing::Values(TDeviceProfile{"MP4 - H.264 + AAC", "h264_vaapi", "h264", "mp4"},
                      TDeviceProfile{"MP4 - H.265 (HEVC) + AAC", "hevc_vaapi", "hevc", "mp4"},
                      TDeviceProfile{"WebM - VP9 + Opus", "vp9_vaapi", "vp9", "webm"}),
    [](const auto& test) { return std::string(test.param.Encoder); });

}  // namespace
