// What the window keeps and shows of a run beyond a row's percentage: time left, the queue's
// progress, the honest counts of an ended run, failure reasons, and the saved queue and presets.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "app/core/FileListTexts.h"
#include "app/core/QueueProgress.h"
#include "app/core/UserData.h"
#include "support/TempDir.h"

namespace {

TFileList ListOf(std::initializer_list<std::int64_t> durationsMs) {
    TFileList list;
    int n = 0;
    for (std::int64_t ms : durationsMs) {
        list.AddProbedFile("/m/clip" + std::to_string(n++) + ".mp4",
                           {true, 64, 48, 25, 1, ms < 0 ? -1 : ms * 1000}, "AVI");
    }
    return list;
}

TEST(QueueProgressTest, TimeLeftFollowsThePaceSeenSoFar) {
    EXPECT_EQ(TimeLeftMs(0, 60000, 5000), std::nullopt);     // nothing done yet
    EXPECT_EQ(TimeLeftMs(10000, 60000, 500), std::nullopt);  // too early to tell a pace
    EXPECT_EQ(TimeLeftMs(10000, 60000, 5000), 25000);        // twice real time
    EXPECT_EQ(TimeLeftMs(70000, 60000, 5000), 0);            // never below zero
    EXPECT_DOUBLE_EQ(SpeedFactor(10000, 4000), 2.5);
    EXPECT_EQ(SpeedFactor(10000, 0), 0);
    EXPECT_EQ(ClockText(192000), "00:03:12");
    EXPECT_EQ(ClockText(-5), "00:00:00");
}

TEST(QueueProgressTest, SizesInUnitsPeopleRead) {
    EXPECT_EQ(ByteSizeText(512), "512 bytes");
    EXPECT_EQ(ByteSizeText(1536), "1.5 KB");
    EXPECT_EQ(ByteSizeText(1048620), "1.0 MB");
    EXPECT_EQ(ByteSizeText(3LL * 1024 * 1024 * 1024 / 2), "1.50 GB");
}

TEST(QueueProgressTest, WeighsRowsByLengthAndCountsPositions) {
    TFileList list = ListOf({10000, 30000, -1, 20000});
    list.Row(3).Checked = false;
    list.AddFailedFile("/m/broken.mp4", "Invalid data");
    list.Row(4).Checked = true;  // checked by hand: still never run
    TQueueProgress progress;
    progress.Start(list, 1000);
    ASSERT_EQ(progress.Count(), 3);
    // The row of unknown length weighs as the average of the known ones.
    EXPECT_EQ(progress.TotalMs(), 10000 + 30000 + 20000);
    EXPECT_EQ(progress.Position(), 1);
    progress.RowProgress(0, 5000);
    progress.RowProgress(3, 5000);  // not part of the run
    EXPECT_EQ(progress.Percent(), 8);
    progress.RowEnded(0);
    EXPECT_EQ(progress.Position(), 2);
    progress.RowProgress(1, 99999);  // capped at its length
    EXPECT_EQ(progress.DoneMs(), 40000);
    EXPECT_EQ(progress.TimeLeftMs(11000), 5000);
    progress.RowEnded(1);
    progress.RowEnded(2);
    EXPECT_EQ(progress.Position(), 3);
    EXPECT_EQ(progress.Percent(), 100);
}

TEST(QueueProgressTest, CountsOfAnEndedRunAreHonest) {
    TFileList list = ListOf({1000, 1000, 1000, 1000, 1000});
    list.AddFailedFile("/m/unreadable.mp4", "Invalid data");
    for (int r : {0, 1, 2}) list.Row(r).State = TRowState::Done;
    list.Row(3).State = TRowState::Failed;
    list.Row(4).State = TRowState::Failed;
    TRunCounts counts = CountRunResults(list);
    EXPECT_EQ(counts.Done, 3);
    EXPECT_EQ(counts.Failed, 2);
    EXPECT_EQ(counts.Stopped, 0);
    EXPECT_FALSE(counts.AllDone());
    list.Row(3).State = TRowState::Done;
    list.Row(4).State = TRowState::Waiting;  // never reached after a stop
    counts = CountRunResults(list);
    EXPECT_EQ(counts.Stopped, 1);
    list.Row(4).Checked = false;
    EXPECT_TRUE(CountRunResults(list).AllDone());  // the unreadable row is not part of a run
    // A file converted to its end from a damaged input is no success.
    list.Row(2).State = TRowState::DoneWithErrors;
    counts = CountRunResults(list);
    EXPECT_EQ(counts.Done, 3);
    EXPECT_EQ(counts.Partial, 1);
    EXPECT_FALSE(counts.AllDone());
}

// How a row's conversion ends, and what its status then says.
struct TRowEndCase {
    bool failed, stopped;
    const char* message;
    const char* problem;
    const char* partial;
    TRowState state;
    const char* said;
};

class RowEndTest : public ::testing::TestWithParam<TRowEndCase> {};

TEST_P(RowEndTest, ProgressAndStatus) {
    const TRowEndCase& c = GetParam();
    EXPECT_EQ(RowResultState(c.failed, c.stopped, c.problem), c.state);
    EXPECT_EQ(RowEndText(c.message, c.problem, c.partial), c.said);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, RowEndTest,
    ::testing::Values(
        TRowEndCase{false, false, "", "", "", TRowState::Done, ""},
        TRowEndCase{false, false, "", "the input is damaged after 00:10; 10.0 of 20.2 s converted",
                    "", TRowState::DoneWithErrors,
                    "the input is damaged after 00:10; 10.0 of 20.2 s converted"},
        TRowEndCase{false, true, "", "", "/o/a.partial.mp4", TRowState::Stopped,
                    "what was converted is kept as /o/a.partial.mp4"},
        // A failure counts over a problem; a stop over a finished file's problem.
        TRowEndCase{true, true, "/o/a.mkv: Error while writing file (No space left on device)", "",
                    "/o/a.partial.mkv", TRowState::Failed,
                    "/o/a.mkv: Error while writing file (No space left on device); what was "
                    "converted is kept as /o/a.partial.mkv"},
        TRowEndCase{true, false, "Permission denied", "", "", TRowState::Failed,
                    "Permission denied"}));

TEST(QueueProgressTest, FailureReasonLosesTheRepeatedPath) {
    EXPECT_EQ(FailureReason("/x/damaged.mp4: /x/damaged.mp4: Error while parsing header",
                            "/x/damaged.mp4"),
              "Error while parsing header");
    EXPECT_EQ(FailureReason("  Encoder not found \n", "/x/a.mp4"), "Encoder not found");
    EXPECT_EQ(FailureReason("/x/a.mp4.part: no space", "/x/a.mp4"), "/x/a.mp4.part: no space");
    EXPECT_EQ(FailureReason("", "/x/a.mp4"), "");
}

TEST(FileListStateTest, UnreadableRowsKeepErrorAndStayOutOfTheQueue) {
    TFileList list = ListOf({1000});
    list.AddFailedFile("/m/bad.mp4", "Invalid data found when processing input");
    EXPECT_FALSE(list.Row(1).Checked);
    EXPECT_TRUE(list.Contains("/m/bad.mp4"));
    EXPECT_FALSE(list.Contains("/m/other.mp4"));
    // Adding more files and starting a run clear the others' results, never an "Error".
    list.Row(0).State = TRowState::Done;
    list.ClearProgress();
    list.ClearProgressAndFrames();
    EXPECT_EQ(list.Row(0).State, TRowState::Waiting);
    EXPECT_EQ(list.Row(1).State, TRowState::Unreadable);
    EXPECT_EQ(list.Row(1).Status, "Invalid data found when processing input");
    EXPECT_FALSE(IsRunnableRow(list.Row(1)));
}

class UserDataTest : public ::testing::Test {
  protected:
    TTempDir dir_;
};

TEST_F(UserDataTest, AtomicWriteReplacesWholeFilesAndLeavesNoTemporary) {
    const auto path = dir_.Path() / "deeper" / "queue.json";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, "first", error)) << error;
    ASSERT_TRUE(WriteFileAtomically(path, "second", error)) << error;
    EXPECT_EQ(ReadWholeFile(path), "second");
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".part"));
    // A folder in the target's place: the write fails with a reason, the folder stays.
    std::filesystem::create_directories(dir_.Path() / "taken");
    EXPECT_FALSE(WriteFileAtomically(dir_.Path() / "taken", "x", error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(std::filesystem::is_directory(dir_.Path() / "taken"));
    EXPECT_EQ(ReadWholeFile(dir_.Path() / "missing.json"), std::nullopt);
}

TEST_F(UserDataTest, SavedQueueComesBackWithStatesAndInterruptedRowsNotDone) {
    TSavedQueue saved;
    TFileList list = ListOf({1000, 2000, 3000});
    list.AddFailedFile("/m/bad.mp4", "Invalid data");
    list.Row(0).State = TRowState::Done;
    list.Row(0).OutputFile = "/out/clip0.avi";
    list.Row(1).State = TRowState::Converting;
    list.Row(1).Percent = 57;
    list.Row(1).Frames = "120";
    list.Row(1).OutputFile = "/out/clip1.avi";
    list.Row(2).Checked = false;
    for (int r = 0; r < list.Count(); ++r) saved.Rows.push_back(list.Row(r));
    saved.OutputFolder = "/out";
    saved.Choices.Profile = "AVI - Audio Video Interleave (*.avi)";
    saved.Choices.Parameters.VideoSize = "320 x 240 (VGA)";
    saved.Choices.VolumePosition = 7;
    saved.Choices.FitSizeBytes = 25'000'000;

    const auto back = ReadSavedQueue(SavedQueueJson(saved), "Partial output: ");
    ASSERT_TRUE(back);
    ASSERT_EQ(back->Rows.size(), 4u);
    EXPECT_EQ(back->Rows[0].State, TRowState::Done);
    EXPECT_EQ(back->Rows[1].State, TRowState::Waiting);
    EXPECT_EQ(back->Rows[1].Frames, "");
    EXPECT_EQ(back->Rows[1].Status, "Partial output: clip1.avi");
    EXPECT_EQ(back->Rows[1].OutputFile, "/out/clip1.avi");
    EXPECT_FALSE(back->Rows[2].Checked);
    EXPECT_EQ(back->Rows[2].DurationMs, 3000);
    EXPECT_EQ(back->Rows[3].State, TRowState::Unreadable);
    EXPECT_EQ(back->Rows[3].Status, "Invalid data");
    EXPECT_EQ(back->OutputFolder, "/out");
    EXPECT_EQ(back->Choices.Profile, saved.Choices.Profile);
    EXPECT_EQ(back->Choices.Parameters.VideoSize, "320 x 240 (VGA)");
    EXPECT_EQ(back->Choices.VolumePosition, 7);
    EXPECT_EQ(back->Choices.FitSizeBytes, 25'000'000);

    for (const char* damaged : {"", "{", "[]", R"({"version": 1})", R"({"version": 9, "rows": []})",
                                R"({"version": 1, "rows": [{"checked": true}]})"}) {
        EXPECT_EQ(ReadSavedQueue(damaged, ""), std::nullopt) << damaged;
    }
}

// A queue saved before states were kept by name held each row's "Progress" text, written as
// the window of that time wrote it; it loads with the same rows and states.
TEST_F(UserDataTest, QueueSavedWithProgressTextsLoadsWithTheSameStates) {
    const std::pair<const char*, TRowState> rows[] = {
        {"", TRowState::Waiting},
        {"Done", TRowState::Done},
        {"Done with errors", TRowState::DoneWithErrors},
        {"Fail", TRowState::Failed},
        {"Abort", TRowState::Stopped},
        {"Error", TRowState::Unreadable},
        {"57%", TRowState::Waiting},  // converting when the window went: not done
    };
    nlohmann::json saved = nlohmann::json::array();
    for (const auto& [progress, state] : rows) {
        const std::string name = "/m/" + std::to_string(saved.size()) + ".avi";
        saved.push_back({{"file", name},
                         {"checked", state != TRowState::Unreadable},
                         {"video_size", "64x48"},
                         {"frame_rate", "25"},
                         {"duration", "00:00:02"},
                         {"duration_ms", 2000},
                         {"output", "AVI"},
                         {"progress", progress},
                         {"frames", "50"},
                         {"status", progress[0] == 'E' ? "Invalid data" : ""},
                         {"output_file", "/out/" + std::to_string(saved.size()) + ".avi"}});
    }
    const nlohmann::json whole = {{"version", 1},
                                  {"output_folder", "/out"},
                                  {"same_folder_as_input", false},
                                  {"choices", {{"profile", "AVI"}, {"volume_position", 5}}},
                                  {"rows", saved}};
    const auto back = ReadSavedQueue(whole.dump(2) + "\n", "Partial output: ");
    ASSERT_TRUE(back);
    ASSERT_EQ(back->Rows.size(), std::size(rows));
    for (std::size_t r = 0; r < std::size(rows); ++r) {
        const TFileListRow& row = back->Rows[r];
        EXPECT_EQ(row.FileName, "/m/" + std::to_string(r) + ".avi");
        EXPECT_EQ(row.State, rows[r].second) << rows[r].first;
        EXPECT_EQ(row.Checked, rows[r].second != TRowState::Unreadable);
        EXPECT_EQ(row.DurationMs, 2000);
    }
    EXPECT_EQ(back->Rows[5].Status, "Invalid data");
    EXPECT_EQ(back->Rows[6].Status, "Partial output: 6.avi");
    EXPECT_EQ(back->Rows[6].Frames, "");
    EXPECT_EQ(back->Choices.Profile, "AVI");
    // Saved again, it keeps the states by name and comes back the same.
    TSavedQueue again = *back;
    const auto reread = ReadSavedQueue(SavedQueueJson(again), "");
    ASSERT_TRUE(reread);
    for (std::size_t r = 0; r < std::size(rows); ++r)
        EXPECT_EQ(reread->Rows[r].State, back->Rows[r].State);
}

TEST_F(UserDataTest, PresetsSaveRenameDeleteExportAndImport) {
    TPresetStore store;
    TPreset phone{"Phone", {"MP4 - MPEG4 Video (*.mp4)", {}, 2, 1, 5}};
    phone.Choices.Parameters.VideoSize = "320 x 240 (VGA)";
    EXPECT_TRUE(store.Save(phone));
    EXPECT_FALSE(store.Save(TPreset{}));  // no name
    EXPECT_TRUE(store.Save({"Archive", {"AVI - Audio Video Interleave (*.avi)", {}, 0, 0, 5}}));
    phone.Choices.AspectIndex = 1;
    EXPECT_TRUE(store.Save(phone));  // same name: replaced, not added
    ASSERT_EQ(store.Presets().size(), 2u);
    EXPECT_EQ(store.Find("Phone")->Choices.AspectIndex, 1);

    EXPECT_FALSE(store.Rename("Phone", "Archive"));  // taken
    EXPECT_FALSE(store.Rename("Nobody", "X"));
    EXPECT_TRUE(store.Rename("Phone", "Small phone"));
    EXPECT_EQ(store.Find("Phone"), nullptr);
    ASSERT_NE(store.Find("Small phone"), nullptr);

    const std::string exported = store.Json();
    EXPECT_TRUE(store.Remove("Archive"));
    EXPECT_FALSE(store.Remove("Archive"));
    EXPECT_EQ(store.Presets().size(), 1u);

    TPresetStore other;
    EXPECT_EQ(other.Import("not json"), std::nullopt);
    EXPECT_EQ(other.Import(exported), 2);
    EXPECT_EQ(other.Find("Small phone")->Choices.Parameters.VideoSize, "320 x 240 (VGA)");
    EXPECT_EQ(other.Find("Archive")->Choices.Profile, "AVI - Audio Video Interleave (*.avi)");
    EXPECT_FALSE(other.Load(R"({"version": 1, "presets": [{"name": ""}]})"));
    EXPECT_EQ(other.Presets().size(), 2u);  // a refused load changes nothing
}

TEST_F(UserDataTest, ChoicesSelectEntriesByTextAndKeepTheRest) {
    TParameterLists lists;
    lists.ApplyProfile(*FindProfile("AVI - Audio Video Interleave (*.avi)"));
    const int bitrate = lists.VideoBitrate.Selected;
    TParameterChoice choice;
    choice.VideoSize = "320 x 240 (VGA)";
    choice.VideoBitrate = "no such entry";
    choice.AudioChannels = "Mono";
    SelectChoices(lists, choice);
    EXPECT_EQ(lists.VideoSize.SelectedText(), "320 x 240 (VGA)");
    EXPECT_EQ(lists.VideoBitrate.Selected, bitrate);
    EXPECT_EQ(lists.AudioChannels.SelectedText(), "Mono");
}

TEST(UserDataFolderTest, FollowsXdgDataHome) {
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string before = saved ? saved : "";
    setenv("XDG_DATA_HOME", "/tmp/xdg-data", 1);
    EXPECT_EQ(DefaultDataFolder(), std::filesystem::path("/tmp/xdg-data/Vavuror/daziziz"));
    setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored, as the XDG rules say
    EXPECT_EQ(DefaultDataFolder().filename(), "daziziz");
    EXPECT_NE(DefaultDataFolder().string().find("/.local/share/"), std::string::npos);
    if (saved) {
        setenv("XDG_DATA_HOME", before.c_str(), 1);
    } else {
        unsetenv("XDG_DATA_HOME");
    }
}

}  // namespace
