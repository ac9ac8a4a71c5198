// Batches at scale, run as users run them: several files at once, parts of a list, a run killed
// and run again, a watched folder, and the recipes of docs/scale.md. ffprobe judges the outputs.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/Ffprobe.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

const std::vector<std::string> kMp4 = {"--profile", "MP4 - MPEG4", "--video-size", "160 x 120"};

// What ffprobe finds in an output, rounded so that equal conversions compare equal.
struct TOutputSummary {
    std::string VideoCodec, AudioCodec;
    int Width = 0;
    long DurationCs = -1;  // hundredths of a second
    bool operator==(const TOutputSummary&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TOutputSummary& s) {
    return out << s.VideoCodec << "/" << s.AudioCodec << " " << s.Width << " " << s.DurationCs;
}

// Every file of a folder (not the reports, not hidden working files) by name, as ffprobe reads
// it.
std::map<std::string, TOutputSummary> Outputs(const fs::path& folder) {
    std::map<std::string, TOutputSummary> outputs;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".json" || entry.path().filename().string()[0] == '.')
            continue;
        const TProbedFile judge = RunFfprobe(entry.path().string());
        TOutputSummary summary;
        if (judge.ok) {
            if (const TProbedStream* video = judge.First("video")) {
                summary.VideoCodec = video->codecName;
                summary.Width = video->width;
            }
            if (const TProbedStream* audio = judge.First("audio"))
                summary.AudioCodec = audio->codecName;
            summary.DurationCs = std::lround(judge.duration * 100);
        }
        outputs[entry.path().filename().string()] = summary;
    }
    return outputs;
}

nlohmann::json ReadJson(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in);  // throws on a broken report
}

// Input path -> status of each record.
std::multimap<std::string, std::string> Statuses(const nlohmann::json& report) {
    std::multimap<std::string, std::string> statuses;
    for (const auto& record : report["files"]) statuses.emplace(record["input"], record["status"]);
    return statuses;
}

std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class BatchTest : public ::testing::Test {
  protected:
    void SetUp() override { RequireMediaLibraries(); }

    std::string Clip(const std::string& name, double seconds = 2.0) {
        const std::string path = dir.File(name);
        fs::create_directories(fs::path(path).parent_path());
        TClipSpec clipSpec;
        clipSpec.durationSeconds = seconds;
        clipSpec.audioCodec = "mp2";
        WriteClip(path, clipSpec);
        return path;
    }
    std::string Folder(const std::string& name) {
        fs::create_directories(dir.Path() / name);
        return dir.File(name);
    }

    TTempDir dir;
};

// ---- --jobs

TEST_F(BatchTest, TwoJobsGiveTheSameLinesOutputsAndRecordsAsOne) {
    // Two inputs of one name (numbered outputs), another container, and a file that fails.
    const std::vector<std::string> inputs = {Clip("a.avi"), Clip("sub/a.avi"), Clip("b.mkv"),
                                             dir.File("bad.avi"), Clip("c.avi", 3.0)};
    std::ofstream(dir.File("bad.avi")) << "not media";
    std::map<int, TProgramResult> runs;
    std::map<int, nlohmann::json> reports;
    for (int jobs : {1, 2}) {
        const std::string out = Folder("out" + std::to_string(jobs));
        const std::string report = dir.File("report" + std::to_string(jobs) + ".json");
        runs[jobs] = RunCli(Joined(Joined({"convert", "--output-folder", out, "--jobs",
                                           std::to_string(jobs), "--report", report},
                                          kMp4),
                                   inputs));
        EXPECT_EQ(runs[jobs].ExitCode, 1) << runs[jobs].Out << runs[jobs].Err;
        reports[jobs] = ReadJson(report);
        EXPECT_EQ(reports[jobs]["complete"], true);
    }
    // The same lines (in the order files finish), but for the folder.
    std::vector<std::string> lines1 = LinesOf(runs[1].Out), lines2 = LinesOf(runs[2].Out);
    ASSERT_EQ(lines1.size(), inputs.size()) << runs[1].Out;
    for (std::string& line : lines2)
        line = std::regex_replace(line, std::regex("/out2/"), "/out1/");
    EXPECT_EQ(Sorted(lines1), Sorted(lines2));
    EXPECT_NE(runs[1].Out.find(dir.File("out1/a-1.mp4") + ": Done"), std::string::npos);

    const auto outputs = Outputs(dir.Path() / "out1");
    EXPECT_EQ(outputs.size(), 4u);
    EXPECT_EQ(outputs, Outputs(dir.Path() / "out2"));
    for (const auto& [name, summary] : outputs) {
        EXPECT_EQ(summary.VideoCodec, "mpeg4") << name;
        EXPECT_EQ(summary.AudioCodec, "aac") << name;
        EXPECT_EQ(summary.Width, 160) << name;
        EXPECT_NEAR(summary.DurationCs, name == "c.mp4" ? 300 : 200, 10) << name;
    }
    EXPECT_EQ(Statuses(reports[1]), Statuses(reports[2]));
    for (const auto& record : reports[2]["files"]) {
        if (record["status"] != "done") continue;
        EXPECT_NEAR(record["output_seconds"].get<double>(), record["source_seconds"].get<double>(),
                    0.1);
        EXPECT_EQ(record["output_bytes"].get<std::int64_t>(),
                  static_cast<std::int64_t>(fs::file_size(record["output"].get<std::string>())));
        EXPECT_EQ(record["video_codec"], "mpeg4");
        EXPECT_EQ(record["profile"], "MP4 - MPEG4 Video (*.mp4)");
        EXPECT_EQ(record["choices"]["video_size"], "160 x 120 (QVGA)");
        EXPECT_GT(record["seconds"].get<double>(), 0);
    }
}

TEST_F(BatchTest, FilesSideBySideNeverWriteOverAnInputOfTheRunEvenWithOverwrite) {
    // x.avi's output would be x.mp4, which is the other input, read at the same time.
    const std::string mp4 = dir.File("x.mp4");
    WriteClip(mp4, {});
    const std::string avi = Clip("x.avi");
    const auto size = fs::file_size(mp4);
    const TProgramResult run = RunCli(Joined(
        {"convert", "--output-folder", dir.Path().string(), "--jobs", "2", "--overwrite", avi, mp4},
        kMp4));
    EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_EQ(fs::file_size(mp4), size);
    EXPECT_NE(run.Out.find(avi + " -> " + dir.File("x-1.mp4") + ": Done"), std::string::npos)
        << run.Out;
    EXPECT_NE(run.Out.find(mp4 + " -> " + dir.File("x-2.mp4") + ": Done"), std::string::npos)
        << run.Out;
}

TEST_F(BatchTest, FilesSideBySideNeverTakeADanglingLinkForAFreeName) {
    // The second a.avi's output would be a-1.mp4, a link to nowhere: writing through it would
    // create a file outside the output folder.
    const std::string out = Folder("out");
    const std::string nowhere = dir.File("nowhere.mp4");
    fs::create_symlink(nowhere, out + "/a-1.mp4");
    const std::string first = Clip("a.avi"), second = Clip("sub/a.avi");
    const TProgramResult run =
        RunCli(Joined({"convert", "--output-folder", out, "--jobs", "2", first, second}, kMp4));
    EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_NE(run.Out.find(second + " -> " + out + "/a-2.mp4: Done"), std::string::npos) << run.Out;
    EXPECT_FALSE(fs::exists(nowhere));
    EXPECT_TRUE(fs::is_symlink(out + "/a-1.mp4"));
}

// ---- --shard

TEST_F(BatchTest, TwoShardsConvertWhatOneRunConvertsEachFileOnce) {
    std::vector<std::string> inputs;
    for (int i = 0; i < 6; ++i) inputs.push_back(Clip("in/clip" + std::to_string(i) + ".avi"));
    const std::string parts = Folder("parts"), whole = Folder("whole");
    std::vector<std::string> partLines;
    for (const char* shard : {"1/2", "2/2"}) {
        const TProgramResult run =
            RunCli(Joined(Joined({"convert", "--output-folder", parts, "--shard", shard, "--report",
                                  parts + "/" + std::string(1, shard[0]) + ".json"},
                                 kMp4),
                          inputs));
        EXPECT_EQ(run.ExitCode, 0) << run.Err;
        const auto lines = LinesOf(run.Out);
        EXPECT_LT(lines.size(), inputs.size()) << shard << " takes a part, not all";
        partLines.insert(partLines.end(), lines.begin(), lines.end());
    }
    const TProgramResult one =
        RunCli(Joined(Joined({"convert", "--output-folder", whole}, kMp4), inputs));
    EXPECT_EQ(one.ExitCode, 0) << one.Err;
    for (std::string& line : partLines)
        line = std::regex_replace(line, std::regex("/parts/"), "/whole/");
    EXPECT_EQ(Sorted(partLines), Sorted(LinesOf(one.Out)));
    const auto outputs = Outputs(whole);
    EXPECT_EQ(outputs.size(), inputs.size());
    EXPECT_EQ(Outputs(parts), outputs);
}

// ---- kills, stops and re-runs

TEST_F(BatchTest, ARunKilledMidFileLeavesAValidReportAndARerunFinishesTheRestOnce) {
    const std::vector<std::string> inputs = {Clip("first.avi"), Clip("long.avi", 30.0),
                                             Clip("last.avi")};
    const std::string out = Folder("out");
    const std::string report = dir.File("report.json");
    TProgramOptions options;
    const std::string longOutput = out + "/long.mp4";
    const std::string working = out + "/.long.converting.mp4";
    // Killed outright while the long file is being written: no handler runs.
    options.WhileRunning = [&](pid_t pid) {
        std::error_code error;
        if (fs::file_size(working, error) < 32 * 1024 || error) return true;
        kill(pid, SIGKILL);
        return false;
    };
    const std::vector<std::string> big = {"--profile", "MP4 - MPEG4", "--video-size", "640 x 480"};
    const TProgramResult killed =
        RunCli(Joined(Joined({"convert", "--output-folder", out, "--report", report}, big), inputs),
               options);
    ASSERT_EQ(killed.Signal, SIGKILL) << killed.Out << killed.Err;
    const nlohmann::json partial = ReadJson(report);
    EXPECT_EQ(partial["complete"], false);
    EXPECT_EQ(Statuses(partial), (std::multimap<std::string, std::string>{{inputs[0], "done"}}));
    // Cut short, its index never written: it never got the output's name.
    EXPECT_FALSE(fs::exists(longOutput));
    EXPECT_FALSE(RunFfprobe(working).ok);

    const TProgramResult rerun = RunCli(Joined(
        Joined({"convert", "--output-folder", out, "--report", report, "--skip-existing"}, big),
        inputs));
    EXPECT_EQ(rerun.ExitCode, 0) << rerun.Out << rerun.Err;
    EXPECT_EQ(Statuses(ReadJson(report)),
              (std::multimap<std::string, std::string>{
                  {inputs[0], "skipped"}, {inputs[1], "done"}, {inputs[2], "done"}}));
    // Each output once, under its own name, complete.
    const auto outputs = Outputs(out);
    ASSERT_EQ(outputs.size(), 3u);
    EXPECT_NEAR(outputs.at("long.mp4").DurationCs, 3000, 10);
    EXPECT_NEAR(outputs.at("first.mp4").DurationCs, 200, 10);

    // A third run finds everything complete.
    const TProgramResult third = RunCli(
        Joined(Joined({"convert", "--output-folder", out, "--report", "-", "--skip-existing"}, big),
               inputs));
    EXPECT_EQ(third.ExitCode, 0) << third.Err;
    const auto json = nlohmann::json::parse(third.Out);
    for (const auto& record : json["files"]) EXPECT_EQ(record["status"], "skipped") << record;
    EXPECT_EQ(LinesOf(third.Err).size(), 3u) << "the lines go to standard error";
}

TEST_F(BatchTest, CtrlCStopsEveryRunningFileAndRecordsThoseNotStarted) {
    const std::vector<std::string> inputs = {Clip("a.avi", 30.0), Clip("b.avi", 30.0),
                                             Clip("c.avi")};
    const std::string out = Folder("out");
    const std::string report = dir.File("report.json");
    TProgramOptions options;
    options.WhileRunning = [&](pid_t pid) {
        std::error_code e1, e2;
        if (fs::file_size(out + "/.a.converting.mp4", e1) < 32 * 1024 || e1 ||
            fs::file_size(out + "/.b.converting.mp4", e2) < 32 * 1024 || e2)
            return true;
        kill(pid, SIGINT);
        return false;
    };
    const TProgramResult run =
        RunCli(Joined(Joined({"convert", "--output-folder", out, "--jobs", "2", "--report", report,
                              "--profile", "MP4 - MPEG4", "--video-size", "640 x 480"},
                             {}),
                      inputs),
               options);
    EXPECT_EQ(run.ExitCode, 130) << run.Out << run.Err;
    EXPECT_EQ(Sorted(LinesOf(run.Out)),
              (std::vector<std::string>{inputs[0] + " -> " + out + "/a.partial.mp4: Abort",
                                        inputs[1] + " -> " + out + "/b.partial.mp4: Abort"}));
    const nlohmann::json json = ReadJson(report);
    EXPECT_EQ(json["complete"], true);
    ASSERT_EQ(json["files"].size(), 3u);
    for (const auto& record : json["files"]) {
        EXPECT_EQ(record["status"], "stopped");
        const bool started = record["input"] != inputs[2];
        EXPECT_EQ(record["reason"],
                  started ? "stopped before its end" : "stopped before it started");
    }
    // Stopped as Stop stops them: finished files, shorter than their sources, kept under names
    // that say so (the records too); nothing under an output's own name, nothing hidden left.
    for (const auto& record : json["files"]) {
        if (record["input"] == inputs[2]) continue;
        EXPECT_NE(record["output"].get<std::string>().find(".partial.mp4"), std::string::npos);
    }
    EXPECT_EQ(Outputs(out).size(), 2u);
    for (const auto& entry : fs::directory_iterator(out))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    for (const char* name : {"a.partial.mp4", "b.partial.mp4"}) {
        const TProbedFile judge = RunFfprobe(out + "/" + name);
        ASSERT_TRUE(judge.ok) << name << ": " << judge.error;
        EXPECT_LT(judge.duration, 29.0) << name;
    }
}

// ---- honest results

TEST_F(BatchTest, ADamagedInputIsDoneWithErrorsInTheLineTheReportAndTheExitStatus) {
    TClipSpec phone;
    phone.durationSeconds = 20.0;
    phone.fastStart = true;  // its index in front: the half that is left still opens
    const std::string damaged = dir.File("damaged.mp4");
    WriteClip(damaged, phone);
    DamageFile(damaged, TDamage::Truncated, 0.5);
    const std::string whole = Clip("whole.avi");
    const std::string out = Folder("out");
    const std::string report = dir.File("report.json");
    const TProgramResult run = RunCli(
        Joined({"convert", "--output-folder", out, "--report", report, damaged, whole}, kMp4));
    EXPECT_EQ(run.ExitCode, 1) << run.Out << run.Err;
    const std::vector<std::string> lines = LinesOf(run.Out);
    ASSERT_EQ(lines.size(), 2u) << run.Out;
    EXPECT_EQ(lines[0].rfind(damaged + " -> " + out +
                                 "/damaged.mp4: Done with errors: the input "
                                 "is damaged after 00:",
                             0),
              0u)
        << lines[0];
    EXPECT_NE(lines[0].find(" of 20.0 s converted"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1], whole + " -> " + out + "/whole.mp4: Done");
    const nlohmann::json json = ReadJson(report);
    EXPECT_EQ(Statuses(json),
              (std::multimap<std::string, std::string>{{damaged, "partial"}, {whole, "done"}}));
    const nlohmann::json& record = json["files"][0];
    EXPECT_EQ(record["reason"], lines[0].substr(lines[0].find("the input")));
    EXPECT_NEAR(record["source_seconds"].get<double>(), 20.0, 0.1);
    EXPECT_LT(record["output_seconds"].get<double>(), 15.0);
    // What could be converted plays under the output's name.
    EXPECT_NEAR(Outputs(out).at("damaged.mp4").DurationCs,
                std::lround(record["output_seconds"].get<double>() * 100), 50);
}

// A small file system of its own, filled by the first file: needs a mount namespace of the
// user's own (unshare), else the test is skipped.
TEST_F(BatchTest, AFullDiskFailsThatFileWithTheSystemsReasonAndTheNextStillConverts) {
    const std::string out = Folder("small-disk");
    const std::string kept = Folder("kept");
    const char* unshare = "/usr/bin/unshare";
    const TProgramResult can =
        RunProgram(unshare, {"-rm", "sh", "-c", "mount -t tmpfs tmpfs " + out});
    if (can.ExitCode != 0) GTEST_SKIP() << "no mount namespace here: " << can.Err;

    const std::vector<std::string> inputs = {Clip("big.avi", 20.0), Clip("small.avi", 1.0)};
    const std::string report = dir.File("report.json");
    std::string command = "mount -t tmpfs -o size=256k tmpfs " + out + " && \"" + DZ_CLI_PROGRAM +
                          "\" convert --output-folder " + out + " --report " + report;
    for (const std::string& option : kMp4) command += " \"" + option + "\"";
    for (const std::string& input : inputs) command += " " + input;
    // What the small disk holds is looked at before it goes with the namespace; then the disk is
    // filled to the brim and the small file tried once more.
    command += "; code=$?; ls -A " + out + "; cp -a " + out + "/. " + kept + "; head -c 1M " +
               "/dev/zero > " + out + "/filler; \"" + DZ_CLI_PROGRAM +
               "\" convert --output-folder " + out + " \"" + kMp4[0] + "\" \"" + kMp4[1] + "\" " +
               inputs[1] + "; exit $code";
    const TProgramResult run = RunProgram(unshare, {"-rm", "sh", "-c", command});
    EXPECT_EQ(run.ExitCode, 1) << run.Out << run.Err;
    const std::vector<std::string> lines = LinesOf(run.Out);
    ASSERT_EQ(lines.size(), 4u) << run.Out << run.Err;
    EXPECT_EQ(lines[0], inputs[0] + " -> " + out + "/big.mp4: Fail: " + out +
                            "/big.mp4: Error while writing file (No space left on device)");
    EXPECT_EQ(lines[1], inputs[1] + " -> " + out + "/small.mp4: Done");
    // Only the complete file is left: the unplayable one is gone, and with it the space it took.
    EXPECT_EQ(lines[2], "small.mp4");
    // Full from the start: the header cannot be written, for the same reason.
    EXPECT_EQ(lines[3], inputs[1] + " -> " + out + "/small-1.mp4: Fail: " + out +
                            "/small-1.mp4: Error while writing file (No space left on device)");
    EXPECT_NEAR(Outputs(kept).at("small.mp4").DurationCs, 100, 10);
    EXPECT_EQ(Statuses(ReadJson(report)), (std::multimap<std::string, std::string>{
                                              {inputs[0], "failed"}, {inputs[1], "done"}}));
}

TEST_F(BatchTest, WorkingAndPartialFilesAreNoOutputsForSkipExistingOrTheNumbering) {
    const std::string input = Clip("clip.avi", 1.0);
    const std::string out = Folder("out");
    // What an earlier run stopped or killed outright left beside the output.
    WriteClip(out + "/clip.partial.mp4", {});
    WriteClip(out + "/.clip.converting.mp4", {});
    const auto partialBytes = fs::file_size(out + "/clip.partial.mp4");
    const TProgramResult run = RunCli(Joined(
        {"convert", "--output-folder", out, "--skip-existing", "--report", "-", input}, kMp4));
    EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    const nlohmann::json json = nlohmann::json::parse(run.Out);
    EXPECT_EQ(json["files"][0]["status"], "done");
    EXPECT_EQ(json["files"][0]["output"], out + "/clip.mp4");
    EXPECT_NEAR(Outputs(out).at("clip.mp4").DurationCs, 100, 10);
    // Left as they were: they are not this run's to delete.
    EXPECT_EQ(fs::file_size(out + "/clip.partial.mp4"), partialBytes);
    EXPECT_TRUE(fs::exists(out + "/.clip.converting.mp4"));
}

TEST_F(BatchTest, AReadOnlyFolderFailsEachFileWithTheSystemsReason) {
    const std::string input = Clip("clip.avi", 1.0);
    const std::string readOnly = Folder("read-only");
    fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    std::vector<std::string> arguments =
        Joined({DZ_CLI_PROGRAM, "convert", "--output-folder", readOnly, input}, kMp4);
    // A superuser writes anywhere: it runs as nobody.
    if (geteuid() == 0)
        arguments.insert(arguments.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups"});
    const TProgramResult run = RunProgram(
        geteuid() == 0 ? "/usr/bin/setpriv" : DZ_CLI_PROGRAM,
        geteuid() == 0 ? arguments
                       : std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    fs::permissions(readOnly, fs::perms::owner_all);
    EXPECT_EQ(run.ExitCode, 1) << run.Out << run.Err;
    EXPECT_EQ(run.Out, input + " -> " + readOnly + "/clip.mp4: Fail: Could not open '" + readOnly +
                           "/clip.mp4': Permission denied\n");
    EXPECT_TRUE(fs::is_empty(readOnly));
}

// ---- watch

// Copies a file in slices, one slice per call, no faster than one per `every`.
class TSlowCopy {
  public:
    TSlowCopy(const std::string& from, const std::string& to, int slices,
              std::chrono::milliseconds every)
        : to_(to), every_(every) {
        std::ifstream in(from, std::ios::binary);
        data_.assign(std::istreambuf_iterator<char>(in), {});
        slice_ = data_.size() / slices + 1;
    }
    bool Done() const { return written_ >= data_.size(); }
    void Step() {
        if (Done() || TClock::now() < next_) return;
        std::ofstream out(to_, std::ios::binary | std::ios::app);
        const std::size_t n = std::min(slice_, data_.size() - written_);
        out.write(data_.data() + written_, static_cast<std::streamsize>(n));
        written_ += n;
        next_ = TClock::now() + every_;
    }

  private:
    std::string to_;
    std::chrono::milliseconds every_;
    std::vector<char> data_;
    std::size_t slice_ = 0, written_ = 0;
    TClock::time_point next_;
};

bool RecordOf(const std::string& report, const std::string& input, std::string& status) {
    if (!fs::exists(report)) return false;
    try {
        const nlohmann::json json = ReadJson(report);
        for (const auto& record : json["files"]) {
            if (record["input"] == input) {
                status = record["status"];
                return true;
            }
        }
    } catch (const std::exception&) {
        ADD_FAILURE() << "the report is not valid JSON at some moment";
    }
    return false;
}

TEST_F(BatchTest, WatchConvertsAFileCopiedInSlowlyOnceItIsCompleteAndNeverTwice) {
    const std::string source = Clip("source.avi", 3.0);
    const std::string in = Folder("in"), out = Folder("out");
    const std::string report = out + "/daziziz-watch.json";
    const std::vector<std::string> watch =
        Joined({"watch", "--output-folder", out, "--settle", "3", in}, kMp4);
    const std::string first = in + "/first.avi", second = in + "/second.avi";
    const auto deadline = TClock::now() + std::chrono::seconds(120);

    // Slices every 0.4 s: each pause far shorter than the settle time, even on a busy machine.
    TSlowCopy copy(source, first, 8, std::chrono::milliseconds(400));
    bool outputBeforeComplete = false;
    TProgramOptions options;
    options.WhileRunning = [&](pid_t pid) {
        copy.Step();
        if (!copy.Done() && fs::exists(out + "/first.mp4")) outputBeforeComplete = true;
        std::string status;
        if ((RecordOf(report, first, status) && status == "done") || TClock::now() > deadline) {
            kill(pid, SIGINT);
            return false;
        }
        return true;
    };
    const TProgramResult run1 = RunCli(watch, options);
    EXPECT_EQ(run1.ExitCode, 130) << run1.Out << run1.Err;
    EXPECT_FALSE(outputBeforeComplete);
    EXPECT_EQ(run1.Out, first + " -> " + out + "/first.mp4: Done\n");
    const TProbedFile judge = RunFfprobe(out + "/first.mp4");
    ASSERT_TRUE(judge.ok) << judge.error;
    EXPECT_NEAR(judge.duration, 3.0, 0.1) << "converted whole, not while it grew";

    // A restart: the recorded file stays as it is; a new one (copied under a hidden name and
    // renamed) is converted.
    const auto restarted = TClock::now();
    options.WhileRunning = [&](pid_t pid) {
        if (!fs::exists(second) && TClock::now() > restarted + std::chrono::seconds(4)) {
            fs::copy_file(source, in + "/.second.avi");
            fs::rename(in + "/.second.avi", second);
        }
        std::string status;
        if ((RecordOf(report, second, status) && status == "done") || TClock::now() > deadline) {
            kill(pid, SIGINT);
            return false;
        }
        return true;
    };
    const TProgramResult run2 = RunCli(watch, options);
    EXPECT_EQ(run2.ExitCode, 130) << run2.Out << run2.Err;
    EXPECT_EQ(run2.Out, second + " -> " + out + "/second.mp4: Done\n");
    EXPECT_EQ(Statuses(ReadJson(report)),
              (std::multimap<std::string, std::string>{{first, "done"}, {second, "done"}}));
    EXPECT_EQ(Outputs(out).size(), 2u) << "no numbered second output of the first file";
}

// With scans an hour apart, only the folder's inotify events can tell of a file moved in once the
// watch is under way (the first file converted shows it is).
TEST_F(BatchTest, WatchTakesAFileMovedInFromItsEventAlone) {
    const std::string in = Folder("in"), out = Folder("out");
    const std::string report = out + "/daziziz-watch.json";
    const std::string first = Clip("in/first.avi"), source = Clip("second.avi");
    const std::string second = in + "/second.avi";
    const auto deadline = TClock::now() + std::chrono::seconds(120);
    TProgramOptions options;
    options.WhileRunning = [&](pid_t pid) {
        std::string status;
        if (!fs::exists(second) && RecordOf(report, first, status) && status == "done")
            fs::rename(source, second);
        if ((RecordOf(report, second, status) && status == "done") || TClock::now() > deadline) {
            kill(pid, SIGINT);
            return false;
        }
        return true;
    };
    ::setenv("DZ_WATCH_SCAN_SECONDS", "3600", 1);
    const TProgramResult run =
        RunCli(Joined({"watch", "--output-folder", out, "--settle", "0.5", in}, kMp4), options);
    ::unsetenv("DZ_WATCH_SCAN_SECONDS");
    EXPECT_EQ(run.ExitCode, 130) << run.Out << run.Err;
    EXPECT_NE(run.Err.find(" by its inotify events;"), std::string::npos) << run.Err;
    EXPECT_EQ(Statuses(ReadJson(report)),
              (std::multimap<std::string, std::string>{{first, "done"}, {second, "done"}}));
}

// Only files with sound or moving pictures are taken: a cover picture and a text lying in the
// folder are skipped with a line each and recorded, and not looked at again.
TEST_F(BatchTest, WatchSkipsStillPicturesAndTexts) {
    const std::string in = Folder("in"), out = Folder("out");
    const std::string report = out + "/daziziz-watch.json";
    const std::string cover = in + "/cover.png", notes = in + "/notes.txt";
    const std::string still = "ffmpeg -v error -y -f lavfi -i color=c=red:s=64x64 -frames:v 1 ";
    ASSERT_EQ(std::system((still + cover).c_str()), 0);
    std::ofstream(notes) << "Holiday clips, first week\n";
    const std::string clip = Clip("in/clip.avi");
    const auto deadline = TClock::now() + std::chrono::seconds(60);
    TProgramOptions options;
    options.WhileRunning = [&](pid_t pid) {
        std::string status;
        if ((RecordOf(report, clip, status) && status == "done") || TClock::now() > deadline) {
            // A scan or two more: a skipped file must not come back.
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            kill(pid, SIGINT);
            return false;
        }
        return true;
    };
    // Scanned, as a share would be.
    const TProgramResult run = RunCli(
        Joined({"watch", "--poll", "--output-folder", out, "--settle", "0.5", in}, kMp4), options);
    EXPECT_EQ(run.ExitCode, 130) << run.Out << run.Err;
    EXPECT_NE(run.Err.find(" by a scan every 0.125 s (--poll);"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, clip + " -> " + out + "/clip.mp4: Done\n");
    for (const std::string& skipped : {cover, notes}) {
        const auto at = run.Err.find(skipped + ": Skip: ");
        EXPECT_NE(at, std::string::npos) << run.Err;
        EXPECT_EQ(run.Err.find(skipped + ": Skip: ", at + 1), std::string::npos) << "once only";
    }
    EXPECT_EQ(Statuses(ReadJson(report)),
              (std::multimap<std::string, std::string>{
                  {clip, "done"}, {cover, "skipped"}, {notes, "skipped"}}));
    EXPECT_EQ(Outputs(out).size(), 1u) << "no cover.mp4, no notes.mp4";
}

// ---- the recipes of docs/scale.md

// The fenced block that follows "<!-- recipe: NAME -->".
std::string Recipe(const std::string& name) {
    std::ifstream in(DZ_SOURCE_DIR "/docs/scale.md");
    const std::string text(std::istreambuf_iterator<char>(in), {});
    const std::string marker = "<!-- recipe: " + name + " -->";
    const auto at = text.find(marker);
    if (at == std::string::npos) return {};
    const auto open = text.find('\n', text.find("```", at)) + 1;
    return text.substr(open, text.find("```", open) - open);
}

// Runs a shell command line; its exit status, its standard output and error in `output`.
int Shell(const std::string& command, std::string& output) {
    const std::string line = command + " 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Installed(const std::string& program) {
    std::string ignored;
    return Shell("command -v " + program, ignored) == 0;
}

TEST_F(BatchTest, GnuParallelRecipeSharesTheLibraryBetweenTwoHostsEachFileOnce) {
    if (!Installed("parallel"))
        GTEST_SKIP() << "GNU parallel is not installed (build.sh installs it)";
    const std::string recipe = Recipe("gnu-parallel");
    ASSERT_FALSE(recipe.empty());
    std::vector<std::string> inputs;
    for (int i = 0; i < 8; ++i)
        inputs.push_back(Clip("shared/in/clip" + std::to_string(i) + ".avi"));
    const std::string shared = dir.File("shared");
    // No SSH server runs here: GNU parallel logs in through this stand-in, which notes the host
    // and runs the command on this machine with the login shell an SSH login sets (the worker
    // GNU parallel sends runs the command in $SHELL, which CI's environment may not have).
    const std::string ssh = dir.File("ssh");
    std::ofstream(ssh) << "#!/bin/bash\n"
                          "while [ $# -gt 0 ]; do case $1 in -[oplFiJ]) shift 2;; -*) shift;; "
                          "*) break;; esac; done\n"
                          "echo \"$1\" >> '"
                       << dir.File("hosts.log")
                       << "'\n"
                          "shift; [ \"$1\" = -- ] && shift\n"
                          "export SHELL=/bin/bash\n"
                          "exec bash -c \"$*\"\n";
    fs::permissions(ssh, fs::perms::owner_all);
    fs::create_directories(dir.Path() / "home");
    const std::string environment =
        "export PATH='" + fs::path(DZ_CLI_PROGRAM).parent_path().string() + "':\"$PATH\" HOME='" +
        dir.File("home") + "' PARALLEL_SSH='" + ssh + "' SHARED='" + shared +
        "' HOSTS=2/host1,2/host2 PARTS=4\n";
    const std::string script = dir.File("recipe.sh");
    std::ofstream(script) << environment << recipe;

    std::string output;
    ASSERT_EQ(Shell("bash '" + script + "'", output), 0) << output;
    std::ifstream hostLog(dir.File("hosts.log"));
    std::set<std::string> hosts;
    for (std::string host; std::getline(hostLog, host);) hosts.insert(host);
    EXPECT_EQ(hosts, (std::set<std::string>{"host1", "host2"}));

    // The four parts' reports together: every file done exactly once.
    std::multimap<std::string, std::string> statuses;
    for (int part = 1; part <= 4; ++part) {
        const auto some =
            Statuses(ReadJson(shared + "/reports/part-" + std::to_string(part) + ".json"));
        statuses.insert(some.begin(), some.end());
    }
    ASSERT_EQ(statuses.size(), inputs.size()) << output;
    for (const auto& [input, status] : statuses) EXPECT_EQ(status, "done") << input;
    const auto outputs = Outputs(shared + "/out");
    EXPECT_EQ(outputs.size(), inputs.size());
    for (const auto& [name, summary] : outputs) EXPECT_NEAR(summary.DurationCs, 200, 10) << name;

    // Run again, as after a host went down: nothing is converted twice.
    output.clear();
    ASSERT_EQ(Shell("bash '" + script + "'", output), 0) << output;
    for (int part = 1; part <= 4; ++part) {
        for (const auto& [input, status] :
             Statuses(ReadJson(shared + "/reports/part-" + std::to_string(part) + ".json")))
            EXPECT_EQ(status, "skipped") << input;
    }
    EXPECT_EQ(Outputs(shared + "/out").size(), inputs.size());
}

TEST(BatchRecipeTest, SlurmAndKubernetesRecipesPassTheirCheckers) {
    TTempDir dir;
    const std::string slurm = Recipe("slurm"), kubernetes = Recipe("kubernetes");
    ASSERT_FALSE(slurm.empty());
    ASSERT_FALSE(kubernetes.empty());
    std::ofstream(dir.File("convert-library.sh")) << slurm;
    std::ofstream(dir.File("job.yaml")) << kubernetes;

    std::string output;
    EXPECT_EQ(Shell("bash -n '" + dir.File("convert-library.sh") + "'", output), 0) << output;
    if (Installed("shellcheck")) {
        EXPECT_EQ(Shell("shellcheck -s bash '" + dir.File("convert-library.sh") + "'", output), 0)
            << output;
    }
    EXPECT_NE(slurm.find("--shard \"$PART/$PARTS\""), std::string::npos);
    EXPECT_NE(slurm.find("#SBATCH --array="), std::string::npos);

    if (Installed("yamllint")) {
        EXPECT_EQ(Shell("yamllint -d '{extends: default, rules: {document-start: disable, "
                        "line-length: {max: 100}}}' '" +
                            dir.File("job.yaml") + "'",
                        output),
                  0)
            << output;
    }
    if (Installed("python3")) {
        // The folded command as the container's shell receives it: the manifest's fields read
        // by name, each where it first stands.
        output.clear();
        EXPECT_EQ(Shell("python3 -c 'import sys, yaml; job = yaml.safe_load(open(sys.argv[1])); "
                        "fields = {}; walk = lambda n: [(fields.setdefault(k, v), walk(v)) for k, "
                        "v in n.items()] if isinstance(n, dict) else [walk(x) for x in n] if "
                        "isinstance(n, list) else None; walk(job); "
                        "assert fields[\"completionMode\"] == \"Indexed\"; "
                        "print(fields[\"args\"][0])' '" +
                            dir.File("job.yaml") + "'",
                        output),
                  0)
            << output;
        EXPECT_NE(output.find("--shard \"$((JOB_COMPLETION_INDEX + 1))/8\""), std::string::npos)
            << output;
        EXPECT_EQ(output.find('\n'), output.size() - 1) << "one command line: " << output;
    }
}

}  // namespace
