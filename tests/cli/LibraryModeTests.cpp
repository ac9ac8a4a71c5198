// Library mode: output names from templates, outputs kept only when smaller, and originals
// replaced by their checked conversion, also when the program is killed in the middle.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "app/core/OutputNames.h"
#include "cli/ConvertSettings.h"
#include "cli/LibraryMode.h"
#include "cli/ReplaceOriginal.h"
#include "cli/WatchConfig.h"
#include "support/Ffprobe.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

namespace fs = std::filesystem;

// ---- names

// 2020-05-06 12:00 UTC: the same day in every time zone within eleven hours of it.
constexpr std::int64_t kRecorded = 1588766400;
// 2021-01-02 12:00 UTC.
constexpr std::int64_t kChanged = 1609588800;

struct TNameCase {
    const char* Label;
    std::string Input;  // below the library folder
    std::string Template;
    std::string Title;
    std::string Expected;  // below the output folder
    bool KeepTree = false;
    std::int64_t Created = kRecorded;
};

const std::string kLongTitle = "a" + [] {
    std::string text;
    for (int i = 0; i < 150; ++i) text += "\xC3\xA9";  // é, two bytes
    return text;
}();

const TNameCase kNames[] = {
    {"spaces", "my holiday clip.avi", "{name}", "", "my holiday clip.mp4"},
    {"accents and a dash", "Überraschung – café.mov", "{name}", "", "Überraschung – café.mp4"},
    {"Japanese", "日本語のビデオ.mkv", "{name}", "", "日本語のビデオ.mp4"},
    {"emoji", "party 🎉.webm", "{name} {ext}", "", "party 🎉 webm.mp4"},
    {"double quotes", "a.avi", "{title}", "The \"Best\" Day", "The _Best_ Day.mp4"},
    {"apostrophe", "it's mine.avi", "{name}", "", "it's mine.mp4"},
    {"colon", "b.avi", "{title}", "Star Wars: Episode IV", "Star Wars_ Episode IV.mp4"},
    {"slashes", "c.avi", "{title}", "AC/DC \\ Live", "AC_DC _ Live.mp4"},
    {"shell and share characters", "d.avi", "{title}", "Who? *Me* <you|them>",
     "Who_ _Me_ _you_them_.mp4"},
    {"control characters", "e.avi", "{title}", "Tab\there\nnewline", "Tab_here_newline.mp4"},
    {"leading dot", ".hidden clip.avi", "{name}", "", "_hidden clip.mp4"},
    {"trailing dots and blanks", "f.avi", "{title}", "The End... ", "The End.mp4"},
    {"a Windows device name", "con.avi", "{name}", "", "con_.mp4"},
    {"bytes that are no UTF-8", "g.avi", "{title}", "caf\xE9", "caf_.mp4"},
    {"very long title, cut between characters", "h.avi", "{title}", kLongTitle,
     kLongTitle.substr(0, 199) + ".mp4"},
    {"no title: the name", "untitled.avi", "{title}", "", "untitled.mp4"},
    {"every token", "trip/day one.mov",
     "{date} {name} {width}x{height} {codec} {duration} {ext} {folder} ({profile})", "",
     "2020-05-06 day one 1920x1080 h264 1h02m03s mov trip (MP4 - H.264 + AAC).mp4"},
    {"no recorded date: the time of change", "old.avi", "{date} {name}", "", "2021-01-02 old.mp4",
     false, 0},
    {"kept tree, folder names made safe", "2019/Summer: Greece/clip.avi", "", "",
     "2019/Summer_ Greece/clip.mp4", true},
    {"kept tree and a template", "Show: S01/E01: Pilot.mkv", "{folder} - {name}", "",
     "Show_ S01/Show_ S01 - E01_ Pilot.mp4", true},
    // Two inputs that give a name an earlier one of the batch took.
    {"the colon row's title again", "b2.avi", "{title}", "Star Wars: Episode IV",
     "Star Wars_ Episode IV-1.mp4"},
    {"the spaces row's name in another folder", "other/my holiday clip.avi", "{name}", "",
     "my holiday clip-1.mp4"},
};

// One batch: each name as LibraryOutputName makes it, then numbered as the batch numbers a name
// an earlier file claimed (UnclaimedOutputName, on the template's own name).
TEST(NameTemplate, MakesNamesEveryShareCanHoldForAwkwardInputs) {
    TTempDir temp;
    const fs::path library = temp.Path() / "library", out = temp.Path() / "out";
    TClaimedNames claimed;
    for (const TNameCase& name : kNames) {
        SCOPED_TRACE(name.Label);
        const fs::path input = library / name.Input;
        fs::create_directories(input.parent_path());
        std::ofstream(input).put('x');
        const utimbuf changed{kChanged, kChanged};
        ASSERT_EQ(::utime(input.c_str(), &changed), 0);

        TLibraryOptions options;
        if (!name.Template.empty()) options.Name = TNameTemplate::Parse(name.Template);
        if (name.KeepTree) options.KeepTreeRoot = library.string();
        options.Profile = "MP4 - H.264 + AAC";
        const TNameFacts facts{input.string(), options.Profile, 1920,         1080,
                               "h264",         3723'000'000,    name.Created, name.Title};
        const std::string wanted = LibraryOutputName(options, facts, out.string(), ".mp4", false);
        const std::string made = UnclaimedOutputName(wanted, wanted, claimed);
        claimed.insert(NormalOutputPath(made));
        EXPECT_EQ(fs::path(made).lexically_relative(out).string(), name.Expected);
    }
}

TEST(NameTemplate, RefusesTemplatesThatCannotNameAFile) {
    const struct {
        std::string Template, Said;
    } kBad[] = {
        {"{nmae}", "unknown token {nmae}"},  {"{name", "never closed"},
        {"{folder}/{name}", "not a folder"}, {"", "gives an empty name"},
        {" .. ", "gives an empty name"},
    };
    for (const auto& bad : kBad) {
        try {
            TNameTemplate::Parse(bad.Template);
            ADD_FAILURE() << "accepted \"" << bad.Template << "\"";
        } catch (const TUsageError& error) {
            EXPECT_NE(std::string(error.what()).find(bad.Said), std::string::npos) << error.what();
        }
    }
}

TEST(NameTemplate, RefusesNamesThatCannotBeMadeForAFile) {
    TTempDir temp;
    const fs::path library = temp.Path() / "library";
    fs::create_directories(library / "sub");
    for (const char* file : {"README", "clip.mp4", "top.avi"})
        std::ofstream(library / file).put('x');
    const struct {
        std::string Input, Template, OutputFolder, KeepTree, Said;
    } kBad[] = {
        {"README", "{ext}", "out", "", "empty name"},
        {"clip.mp4", "{name}", "library", "", "the input file itself"},
        {"top.avi", "", "out", "library/sub", "not below --keep-tree"},
    };
    for (const auto& bad : kBad) {
        TLibraryOptions options;
        if (!bad.Template.empty()) options.Name = TNameTemplate::Parse(bad.Template);
        if (!bad.KeepTree.empty()) options.KeepTreeRoot = (temp.Path() / bad.KeepTree).string();
        TNameFacts facts;
        facts.Input = (library / bad.Input).string();
        try {
            LibraryOutputName(options, facts, (temp.Path() / bad.OutputFolder).string(), ".mp4",
                              true);
            ADD_FAILURE() << bad.Input << " was named";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(bad.Said), std::string::npos) << error.what();
        }
    }
}

TEST(KeepSmaller, SaysBothSizesWhenTheOutputIsNotSmaller) {
    EXPECT_EQ(NotSmallerReason(12'300'000, 11'900'000), "not smaller: 12.3 MB against 11.9 MB");
    EXPECT_EQ(NotSmallerReason(845'000, 845'000), "not smaller: 0.845 MB against 0.845 MB");
    EXPECT_EQ(NotSmallerReason(1'234'000'000, 153'000'000), "not smaller: 1234 MB against 153 MB");
    EXPECT_EQ(NotSmallerReason(844'999, 845'000), "");
}

// ---- the program

const std::vector<std::string> kMp4 = {"convert", "--profile", "MP4 - MPEG4", "--video-size",
                                       "160 x 120"};

std::vector<std::string> With(std::vector<std::string> arguments,
                              const std::vector<std::string>& more) {
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

TClipSpec SmallClip(const std::string& title = "") {
    TClipSpec shape;
    shape.width = 160;
    shape.height = 120;
    shape.durationSeconds = 1.0;
    shape.audioCodec = "mp2";
    shape.title = title;
    return shape;
}

class LibraryProgram : public ::testing::Test {
  protected:
    void SetUp() override { RequireMediaLibraries(); }
};

TEST_F(LibraryProgram, NamesFromATitleAreNumberedWhenTakenOnDiskOrInTheBatch) {
    TTempDir temp;
    const fs::path out = temp.Path() / "out";
    fs::create_directories(out);
    const std::string a = temp.File("a.avi"), b = temp.File("b.avi");
    WriteClip(a, SmallClip("Same: Title"));
    WriteClip(b, SmallClip("Same: Title"));
    std::ofstream(out / "Same_ Title.mp4") << "someone else's";

    const TProgramResult run =
        RunCli(With(kMp4, {"--output-folder", out.string(), "--name", "{title}", a, b}));
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(FileBytes((out / "Same_ Title.mp4").string()), "someone else's");
    for (const char* name : {"Same_ Title-1.mp4", "Same_ Title-2.mp4"}) {
        const TProbedFile judged = RunFfprobe((out / name).string());
        ASSERT_TRUE(judged.ok) << name << "\n" << run.Out;
        EXPECT_NEAR(judged.duration, 1.0, 0.1);
    }
}

TEST_F(LibraryProgram, ABadTemplateOrANameOverTheInputStopsBeforeAnythingRuns) {
    TTempDir temp;
    const std::string clip = temp.File("clip.mp4");
    WriteClip(clip, SmallClip());
    const std::string before = FileBytes(clip);
    const struct {
        std::vector<std::string> Options;
        std::string Said;
    } kBad[] = {
        {{"--name", "{name} {resolution}"}, "unknown token {resolution}"},
        {{"--output-folder", temp.Path().string(), "--name", "{name}"}, "the input file itself"},
        {{"--replace-original", "--name", "{title}"}, "--name does not go with it"},
        {{"--archive-folder", temp.Path().string()}, "give --replace-original too"},
    };
    for (const auto& bad : kBad) {
        const TProgramResult run = RunCli(With(With(kMp4, bad.Options), {clip}));
        EXPECT_EQ(run.ExitCode, 2) << run.Err;
        EXPECT_NE(run.Err.find(bad.Said), std::string::npos) << run.Err;
        EXPECT_EQ(FileBytes(clip), before);
        EXPECT_EQ(std::distance(fs::directory_iterator(temp.Path()), fs::directory_iterator()), 1);
    }
}

TEST_F(LibraryProgram, KeepSmallerRemovesTheOutputThatGrewAndKeepsTheOneThatShrank) {
    TTempDir temp;
    const fs::path out = temp.Path() / "out";
    fs::create_directories(out);
    // Sound at a low rate grows as FLAC; a picture at a high rate shrinks at 160x120.
    TClipSpec sound = SmallClip();
    sound.videoCodec.clear();
    sound.audioBitRate = 32000;
    TClipSpec picture = SmallClip();
    picture.width = 640;
    picture.height = 480;
    picture.videoBitRate = 4'000'000;
    const std::string grows = temp.File("grows.mp2"), shrinks = temp.File("shrinks.avi");
    WriteClip(grows, sound);
    WriteClip(shrinks, picture);
    const std::string report = temp.File("report.json");

    for (const auto& [profile, input, output, kept] :
         {std::tuple{"FLAC", grows, out / "grows.flac", false},
          std::tuple{"MP4 - MPEG4", shrinks, out / "shrinks.mp4", true}}) {
        const TProgramResult run =
            RunCli({"convert", "--profile", profile, "--keep-smaller", "--output-folder",
                    out.string(), "--report", report, input});
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        EXPECT_TRUE(fs::exists(input));
        EXPECT_EQ(fs::exists(output), kept) << run.Out;
        const nlohmann::json record = nlohmann::json::parse(FileBytes(report))["files"][0];
        if (kept) {
            EXPECT_EQ(record["status"], "done");
            EXPECT_LT(fs::file_size(output), fs::file_size(input));
            continue;
        }
        EXPECT_EQ(record["status"], "skipped");
        const std::string reason = record["reason"];
        const auto source = static_cast<std::int64_t>(fs::file_size(input));
        const std::string sourceText = NotSmallerReason(source, source);
        EXPECT_EQ(reason.rfind("not smaller: ", 0), 0u) << reason;
        EXPECT_NE(reason.find(sourceText.substr(sourceText.find(" against "))), std::string::npos)
            << reason;
        EXPECT_NE(run.Out.find(": Skip: " + reason), std::string::npos) << run.Out;
    }
}

// ---- replacing the original

// A folder of originals with its own trash, journal folder and (on another file system, where
// /dev/shm is one) archive folder, set in the environment of this process and so of the
// programs it starts.
class ReplaceOriginalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RequireMediaLibraries();
        library_ = temp_.Path() / "library";
        fs::create_directories(library_);
        ::setenv("XDG_DATA_HOME", (temp_.Path() / "data").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (temp_.Path() / "state").c_str(), 1);
        original_ = (library_ / "holiday.avi").string();
        WriteClip(original_, SmallClip());
        originalBytes_ = FileBytes(original_);
        final_ = (library_ / "holiday.mp4").string();
    }
    void TearDown() override {
        ::unsetenv("DZ_TEST_STOP_AT");
        ::unsetenv("XDG_DATA_HOME");
        ::unsetenv("XDG_STATE_HOME");
        if (!archive_.empty()) fs::remove_all(archive_);
    }

    // An archive folder on another file system than the library; empty when there is none.
    std::string OtherFileSystemArchive() {
        struct stat here {
        }, there{};
        if (::stat(library_.c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0 ||
            here.st_dev == there.st_dev)
            return {};
        archive_ = fs::path("/dev/shm") / ("dz-archive-" + std::to_string(::getpid()));
        fs::create_directories(archive_);
        return archive_.string();
    }

    TProgramResult Convert(const std::string& archive, const std::string& stopAt = "") {
        if (stopAt.empty())
            ::unsetenv("DZ_TEST_STOP_AT");
        else
            ::setenv("DZ_TEST_STOP_AT", stopAt.c_str(), 1);
        std::vector<std::string> arguments = With(kMp4, {"--replace-original"});
        if (!archive.empty()) arguments = With(arguments, {"--archive-folder", archive});
        return RunCli(With(arguments, {original_}));
    }

    // Where the original is once set aside, and whether the trash records it.
    std::string AsidePath(const std::string& archive) const {
        return archive.empty() ? (temp_.Path() / "data/Trash/files/holiday.avi").string()
                               : archive + "/holiday.avi";
    }
    bool SetAsideWhole(const std::string& archive) const {
        if (FileBytes(AsidePath(archive)) != originalBytes_) return false;
        if (!archive.empty()) return true;
        const std::string info =
            FileBytes((temp_.Path() / "data/Trash/info/holiday.avi.trashinfo").string());
        return info.find("Path=" + original_ + "\n") != std::string::npos;
    }
    bool OutputPlays(const std::string& path) const {
        const TProbedFile judged = RunFfprobe(path);
        return judged.ok && std::abs(judged.duration - 1.0) < 0.1;
    }
    std::vector<std::string> LibraryFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(library_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    bool JournalEmpty() const { return fs::is_empty(temp_.Path() / "state/daziziz/replacing"); }

    TTempDir temp_;
    fs::path library_, archive_;
    std::string original_, originalBytes_, final_;
};

TEST_F(ReplaceOriginalTest, TheCheckedOutputTakesTheOriginalsNameAndTheOriginalGoesToTheTrash) {
    const TProgramResult run = Convert("");
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_NE(run.Out.find(original_ + " -> " + final_ + ": Done"), std::string::npos) << run.Out;
    EXPECT_TRUE(SetAsideWhole(""));
    EXPECT_TRUE(OutputPlays(final_));
    EXPECT_EQ(LibraryFiles(), std::vector<std::string>{"holiday.mp4"});
    EXPECT_TRUE(JournalEmpty());
}

TEST_F(ReplaceOriginalTest, ABrokenOutputNeverReplacesItsOriginal) {
    const struct {
        TDamage Damage;
        bool FastStart;
    } kBroken[] = {{TDamage::Overwritten, false}, {TDamage::Truncated, true}};
    for (const auto& broken : kBroken) {
        TClipSpec shape = SmallClip();
        shape.fastStart = broken.FastStart;
        WriteClip(final_, shape);
        DamageFile(final_, broken.Damage, 0.3);
        const TReplaceOutcome outcome = ReplaceOriginal({original_, final_, 1'000'000, ""});
        EXPECT_FALSE(outcome.Replaced);
        EXPECT_NE(outcome.Fault.find("failed its check"), std::string::npos) << outcome.Fault;
        EXPECT_EQ(FileBytes(original_), originalBytes_);
        EXPECT_EQ(LibraryFiles(), std::vector<std::string>{"holiday.avi"}) << outcome.Fault;
        EXPECT_TRUE(JournalEmpty());
    }
}

struct TKillPoint {
    const char* Point;
    bool Archive;  // the archive folder on another file system, not the trash
};

void PrintTo(const TKillPoint& kill, std::ostream* out) {
    *out << kill.Point << (kill.Archive ? " (archive)" : " (trash)");
}

class ReplaceKillTest : public ReplaceOriginalTest,
                        public ::testing::WithParamInterface<TKillPoint> {};

// Killed at each point of the step, the original is in its place or set aside whole with the
// checked output in the library, never neither; the next run (the same command) completes it.
TEST_P(ReplaceKillTest, LeavesTheOriginalOrTheCheckedOutputAndTheNextRunCompletes) {
    const TKillPoint& kill = GetParam();
    const std::string archive = kill.Archive ? OtherFileSystemArchive() : "";
    if (kill.Archive && archive.empty()) GTEST_SKIP() << "/dev/shm is on the same file system";

    const TProgramResult killed = Convert(archive, kill.Point);
    ASSERT_EQ(killed.Signal, SIGKILL) << killed.Err;
    const bool originalHere = FileBytes(original_) == originalBytes_;
    EXPECT_TRUE(originalHere || (SetAsideWhole(archive) && OutputPlays(final_)))
        << "neither the original nor a checked output";
    EXPECT_TRUE(originalHere || !fs::exists(original_)) << "the original is changed";

    const TProgramResult next = Convert(archive);
    ASSERT_EQ(next.ExitCode, 0) << next.Out << next.Err;
    EXPECT_TRUE(SetAsideWhole(archive));
    EXPECT_TRUE(OutputPlays(final_));
    EXPECT_EQ(LibraryFiles(), std::vector<std::string>{"holiday.mp4"}) << next.Out;
    EXPECT_TRUE(JournalEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    EveryPoint, ReplaceKillTest,
    ::testing::Values(TKillPoint{"before-check", false}, TKillPoint{"checking", false},
                      TKillPoint{"checked", false}, TKillPoint{"trash-info-written", false},
                      TKillPoint{"set-aside", false}, TKillPoint{"naming", false},
                      TKillPoint{"named", false}, TKillPoint{"archive-copying", true},
                      TKillPoint{"archive-part-written", true},
                      TKillPoint{"archive-copied", true}));

// ---- watched folders with their own profile and hours

TEST(WatchHours, TakeTheHoursOfTheDayTheySayAlsoAcrossMidnight) {
    const struct {
        std::string Text;
        std::vector<std::pair<std::string, bool>> Times;
    } kHours[] = {
        {"22:00-06:00",
         {{"21:59", false},
          {"22:00", true},
          {"23:59", true},
          {"00:00", true},
          {"05:59", true},
          {"06:00", false},
          {"12:00", false}}},
        {"09:30-17:00", {{"09:29", false}, {"09:30", true}, {"16:59", true}, {"17:00", false}}},
        {"00:00-24:00", {{"00:00", true}, {"12:00", true}, {"23:59", true}}},
    };
    for (const auto& hours : kHours) {
        const std::optional<TWatchHours> parsed = ParseWatchHours(hours.Text);
        ASSERT_TRUE(parsed) << hours.Text;
        for (const auto& [time, inside] : hours.Times) {
            const int minute = std::stoi(time.substr(0, 2)) * 60 + std::stoi(time.substr(3));
            EXPECT_EQ(parsed->Contains(minute), inside) << hours.Text << " at " << time;
        }
    }
    for (const char* bad : {"25:00-06:00", "22:00", "22-06", "22:00-06:60", "22:00-06:00 "})
        EXPECT_FALSE(ParseWatchHours(bad)) << bad;
}

TEST(WatchConfig, NamesTheLineAndTheKeyOfAMistake) {
    TTempDir temp;
    const std::string in = temp.Path().string(), out = in;
    const auto entry = [&](const std::string& more) {
        return "{\"folders\": [\n {\"folder\": \"" + in + "\",\n  \"output_folder\": \"" + out +
               "\",\n" + more + "}\n]}\n";
    };
    const struct {
        std::string Text, Said;
    } kBad[] = {
        {entry("  \"profile\": \"FLAC\"\n  \"hours\": \"22:00-06:00\""), "line 5: syntax error"},
        {entry("  \"profile\": \"FLAC\",\n  \"hour\": \"22:00-06:00\""),
         "line 5, key \"hour\": is not a key of a folder"},
        {entry("  \"profile\": \"FLAC\",\n  \"hours\": \"22:00-30:00\""),
         "line 5, key \"hours\": \"22:00-30:00\" is no range of hours"},
        {entry("  \"profile\": \"FLAC\",\n  \"jobs\": \"two\""), "line 5, key \"jobs\": must be"},
        {entry("  \"profile\": \"MP4\""), "line 4, key \"profile\": --profile \"MP4\" fits more"},
        {entry("  \"name\": \"{name}\""), "line 2, key \"folder\": the folder needs \"profile\""},
        {"{\"folder\": []}", "line 1, key \"folder\": is not a key of the file"},
        {"{\"folders\": [\n {\"folder\": 5,\n  \"output_folder\": \"/o\"}]}",
         "line 2, key \"folder\": must be a text"},
    };
    for (const auto& bad : kBad) {
        const std::string path = temp.File("watch.json");
        std::ofstream(path) << bad.Text;
        try {
            ReadWatchConfig(path, {});
            ADD_FAILURE() << "accepted:\n" << bad.Text;
        } catch (const TUsageError& error) {
            EXPECT_NE(std::string(error.what()).find(path + ": " + bad.Said), std::string::npos)
                << error.what();
        }
    }
}

// The TOML form of the configuration: what a good one says is what its JSON form says; a
// mistake is named by its line and key.
struct TTomlCase {
    const char* Name;
    const char* File;  // the file's name: ".toml", or TOML that is not named so
    const char* Text;
    const char* Said;  // the start of the message after "FILE: ", empty for a good file
};

class WatchTomlConfig : public ::testing::TestWithParam<TTomlCase> {};

// What the configuration asks of each folder, in a line.
std::string Summary(const std::vector<TWatchEntry>& entries) {
    std::string text;
    for (const TWatchEntry& entry : entries) {
        const TConvertRequest& request = entry.Request;
        text += entry.Folder + "|" + request.OutputFolder + "|" + request.Profile + "|" +
                std::to_string(request.Jobs) + "|" + request.Library.Name.value_or("") + "|" +
                (request.Library.KeepSmaller ? "smaller" : "any") + "|" +
                (entry.Hours ? entry.Hours->Text() : "always") + (entry.Poll ? "|poll" : "") + "\n";
    }
    return text;
}

constexpr const char* kJsonFolders = R"x({"folders": [
    {"folder": "/srv/in/phone", "output_folder": "/srv/out", "profile": "MP4 - MPEG4",
     "jobs": 2, "name": "{date} été \"x\""},
    {"folder": "/srv/in/music", "output_folder": "/srv/out/music", "profile": "FLAC (lossless)",
     "keep_smaller": true, "hours": "22:00-06:00", "poll": true}]})x";

TEST_P(WatchTomlConfig, SaysWhatItsJsonFormSaysOrNamesTheMistake) {
    TTempDir temp;
    const std::string path = temp.File(GetParam().File);
    std::ofstream(path) << GetParam().Text;
    const std::string json = temp.File("watch.json");
    std::ofstream(json) << kJsonFolders;
    try {
        const std::vector<TWatchEntry> entries = ReadWatchConfig(path, {});
        EXPECT_STREQ(GetParam().Said, "") << "accepted";
        EXPECT_EQ(Summary(entries), Summary(ReadWatchConfig(json, {})));
    } catch (const TUsageError& error) {
        EXPECT_EQ(std::string(error.what()).rfind(path + ": " + GetParam().Said, 0), 0u)
            << error.what();
        EXPECT_STRNE(GetParam().Said, "");
    }
}

constexpr const char* kTomlFolderList = R"x(# phone clips by day, music by night
[[folder]]
folder = "/srv/in/phone"
output_folder = "/srv/out"   # beside the others
profile = "MP4 - MPEG4"
jobs = 2
name = "{date} \u00e9t\u00e9 \"x\""

[[folder]]
"folder" = '/srv/in/music'
output_folder = '/srv/out/music'
profile = "FLAC (lossless)"
keep_smaller = true
hours = "22:00-06:00"
poll = true
)x";

// Written by an editor that puts a byte order mark first.
constexpr const char* kTomlNamedFolders =
    "\xEF\xBB\xBF"
    R"x([folder.phone]
folder = "/srv/in/phone"
output_folder = "/srv/out"
profile = "MP4 - MPEG4"
jobs = +2
name = '{date} été "x"'
[folder.music]
folder = "/srv/in/music"
output_folder = "/srv/out/music"
profile = "FLAC (lossless)"
keep_smaller = true
hours = "22:00-06:00"
poll = true
)x";

INSTANTIATE_TEST_SUITE_P(
    Files, WatchTomlConfig,
    ::testing::Values(
        TTomlCase{"FolderList", "watch.toml", kTomlFolderList, ""},
        TTomlCase{"NamedFoldersMarkedUtf8NotNamedToml", "watch.conf", kTomlNamedFolders, ""},
        TTomlCase{"KeyBeforeAFolder", "a.toml", "profile = \"FLAC (lossless)\"\n[[folder]]\n",
                  "line 1, key \"profile\": keys belong to a folder"},
        TTomlCase{"UnknownKey", "a.toml",
                  "[[folder]]\nfolder = \"/in\"\noutput_folder = \"/out\"\nhour = \"22:00-06:00\"",
                  "line 4, key \"hour\": is not a key of a folder"},
        TTomlCase{"NumberWithAFraction", "a.toml", "[[folder]]\nfolder = \"/in\"\njobs = 1.5\n",
                  "line 3, key \"jobs\": is no value this file takes"},
        TTomlCase{"JobsAsText", "a.toml",
                  "[[folder]]\nfolder = \"/in\"\noutput_folder = \"/out\"\nprofile = \"FLAC "
                  "(lossless)\"\njobs = \"two\"\n",
                  "line 5, key \"jobs\": must be a whole number"},
        TTomlCase{"KeyTwice", "a.toml", "[[folder]]\nfolder = \"/in\"\nfolder = \"/in2\"\n",
                  "line 3, key \"folder\": is given twice"},
        TTomlCase{"OpenText", "a.toml", "[[folder]]\nfolder = \"/in\n",
                  "line 2, key \"folder\": the text has no closing quote"},
        TTomlCase{"TableTwice", "a.toml", "[folder.a]\nfolder = \"/in\"\n[folder.a]\n",
                  "line 3: the table [folder.a] is given twice"},
        TTomlCase{"OtherTable", "a.toml", "[output]\nfolder = \"/in\"\n",
                  "line 1: the tables of the file are [[folder]] or [folder.NAME]"},
        TTomlCase{"NoProfile", "a.toml", "\n[[folder]]\nfolder = \"/in\"\noutput_folder = \"/o\"\n",
                  "line 3, key \"folder\": the folder needs \"profile\" or \"preset\""},
        TTomlCase{"ListForAText", "a.toml",
                  "[[folder]]\nfolder = [\"/in\", \"/in2\"]\noutput_folder = \"/o\"\n",
                  "line 2, key \"folder\": must be a text"},
        TTomlCase{"Empty", "a.toml", "# nothing yet\n", "no folder"}),
    [](const auto& tested) { return std::string(tested.param.Name); });

TEST_F(LibraryProgram, TwoWatchedFoldersEachConvertWithTheirProfileInTheirHours) {
    TTempDir temp;
    for (const char* folder : {"day", "night", "day-out", "night-out"})
        fs::create_directories(temp.Path() / folder);
    const std::string config = temp.File("watch.json");
    const nlohmann::json folders = {{"folders",
                                     {{{"folder", temp.File("day")},
                                       {"profile", "MP4 - MPEG4"},
                                       {"video_size", "160 x 120"},
                                       {"output_folder", temp.File("day-out")},
                                       {"hours", "09:00-17:00"}},
                                      {{"folder", temp.File("night")},
                                       {"profile", "FLAC (lossless)"},
                                       {"output_folder", temp.File("night-out")},
                                       {"hours", "22:00-06:00"},
                                       {"poll", true}}}}};
    std::ofstream(config) << folders.dump(2);
    const std::string clip = temp.File("clip.avi");
    WriteClip(clip, SmallClip());
    const std::string bytes = FileBytes(clip);
    const fs::path dayOutput = temp.Path() / "day-out/clip.mp4";
    const fs::path nightOutput = temp.Path() / "night-out/clip.flac";

    // Copied in slices into both folders; at noon only the day folder converts.
    const auto watchAt = [&](const char* clock, const fs::path& awaited, bool copy) {
        ::setenv("DZ_TEST_CLOCK", clock, 1);
        std::size_t copied = copy ? 0 : bytes.size();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        TProgramOptions options;
        options.WhileRunning = [&](pid_t pid) {
            if (copied < bytes.size()) {
                const std::size_t slice = std::min(bytes.size() - copied, bytes.size() / 3 + 1);
                for (const char* folder : {"day", "night"})
                    std::ofstream(temp.Path() / folder / "clip.avi", std::ios::app)
                        << bytes.substr(copied, slice);
                copied += slice;
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                return true;
            }
            if (!fs::exists(awaited) && std::chrono::steady_clock::now() < deadline) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            ::kill(pid, SIGINT);
            return false;
        };
        const TProgramResult run =
            RunCli({"watch", "--config", config, "--settle", "0.5"}, options);
        ::unsetenv("DZ_TEST_CLOCK");
        return run;
    };
    const TProgramResult noon = watchAt("12:00", dayOutput, true);
    EXPECT_EQ(noon.ExitCode, 130) << noon.Err;
    const TProbedFile day = RunFfprobe(dayOutput.string());
    ASSERT_TRUE(day.ok) << noon.Out << noon.Err;
    ASSERT_TRUE(day.First("video"));
    EXPECT_EQ(day.First("video")->width, 160);
    EXPECT_FALSE(fs::exists(nightOutput));
    EXPECT_NE(noon.Err.find("file(s) wait for the hours 22:00-06:00"), std::string::npos)
        << noon.Err;
    EXPECT_NE(noon.Err.find("day (report: " + temp.File("day-out/daziziz-watch.json") +
                            "; hours 09:00-17:00) by its inotify events;"),
              std::string::npos)
        << noon.Err;
    EXPECT_NE(noon.Err.find(" by a scan every 0.125 s (\"poll\" in the configuration);"),
              std::string::npos)
        << noon.Err;

    const TProgramResult night = watchAt("23:00", nightOutput, false);
    EXPECT_EQ(night.ExitCode, 130) << night.Err;
    const TProbedFile sound = RunFfprobe(nightOutput.string());
    ASSERT_TRUE(sound.ok) << night.Out << night.Err;
    ASSERT_TRUE(sound.First("audio"));
    EXPECT_EQ(sound.First("audio")->codecName, "flac");
    EXPECT_EQ(night.Out.find("day/clip.avi"), std::string::npos) << "converted once only";
}

}  // namespace
