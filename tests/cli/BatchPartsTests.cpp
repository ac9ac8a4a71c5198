// The batch pieces of the front end without running the program: shards, the atomic report
// file and what counts as a complete output.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "cli/BatchReport.h"
#include "cli/ConvertSettings.h"
#include "cli/FileShard.h"
#include "cli/OutputFacts.h"
#include "support/TempDir.h"

namespace {

std::vector<std::string> Library(int count, const std::string& folder = "media/") {
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i)
        files.push_back(folder + "clip " + std::to_string(i) + (i % 3 ? ".avi" : ".mp4"));
    return files;
}

class ShardTest : public ::testing::TestWithParam<int> {};

TEST_P(ShardTest, PartsCoverTheListExactlyOnceAndAddedFilesMoveNothing) {
    const int count = GetParam();
    const std::vector<std::string> files = Library(300);
    std::multiset<std::string> seen;
    std::vector<std::vector<std::string>> parts;
    for (int index = 1; index <= count; ++index) {
        parts.push_back(FilesOfShard(files, {index, count}));
        seen.insert(parts.back().begin(), parts.back().end());
        // A fair share each: no part is empty or takes twice its due.
        EXPECT_GT(parts.back().size(), 0u) << index << "/" << count;
        EXPECT_LT(parts.back().size(), 2 * files.size() / count + 1) << index << "/" << count;
        // Each part keeps the list's order.
        EXPECT_TRUE(std::is_sorted(parts.back().begin(), parts.back().end(),
                                   [&](const std::string& a, const std::string& b) {
                                       return std::find(files.begin(), files.end(), a) <
                                              std::find(files.begin(), files.end(), b);
                                   }));
    }
    EXPECT_EQ(seen, std::multiset<std::string>(files.begin(), files.end()));

    // Files added later land somewhere; the earlier ones stay in their parts.
    std::vector<std::string> more = files;
    for (const std::string& added : Library(50, "new/")) more.push_back(added);
    for (int index = 1; index <= count; ++index) {
        std::vector<std::string> part = FilesOfShard(more, {index, count});
        part.resize(std::min(part.size(), parts[index - 1].size()));
        EXPECT_EQ(part, parts[index - 1]) << index << "/" << count;
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, ShardTest, ::testing::Values(1, 2, 3, 7));

TEST(ShardHashTest, IsFnv1aOfTheNormalPath) {
    // The published FNV-1a 64-bit values: every build on every machine agrees.
    EXPECT_EQ(StablePathHash(""), 0xcbf29ce484222325ull);
    EXPECT_EQ(StablePathHash("a"), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(StablePathHash("./in//a.avi"), StablePathHash("in/a.avi"));
    EXPECT_EQ(StablePathHash("in/x/../a.avi"), StablePathHash("in/a.avi"));
    EXPECT_NE(StablePathHash("in/a.avi"), StablePathHash("in/b.avi"));
}

TEST(ShardHashTest, ParseShardAcceptsOnlyAPartOfN) {
    const TShard shard = ParseShard("3/4");
    EXPECT_EQ(shard.Index, 3);
    EXPECT_EQ(shard.Count, 4);
    for (const char* bad : {"0/4", "5/4", "4", "1/0", "-1/2", "1/2/3", "a/b", "1 /2", "", "/"})
        EXPECT_THROW(ParseShard(bad), TUsageError) << bad;
}

// ---- the report file

TEST(BatchReportTest, EveryWriteLeavesOneWholeReportAndNoTemporaryFile) {
    TTempDir dir;
    const std::string path = dir.File("report.json");
    TBatchReport report(path, {{"profile", "MP3"}});
    ASSERT_TRUE(report.Write());
    const auto read = [&] {
        std::ifstream in(path);
        return nlohmann::json::parse(in);
    };
    EXPECT_EQ(read()["files"].size(), 0u);
    EXPECT_EQ(read()["complete"], false);

    TReportRecord record;
    record.Input = "a.avi";
    record.Output = "out/a.mp3";
    record.Status = kReportDone;
    record.SourceDurationUs = 2'000'000;
    record.OutputDurationUs = 1'990'000;
    record.OutputBytes = 1234;
    record.AudioCodec = "libmp3lame";
    report.Add(record);
    record.Input = "a.avi";  // given twice: two records
    record.Status = kReportFailed;
    record.Reason = "no";
    report.Add(record);
    nlohmann::json json = read();
    ASSERT_EQ(json["files"].size(), 2u);
    EXPECT_EQ(json["files"][0]["status"], "done");
    EXPECT_EQ(json["files"][0]["profile"], "MP3");
    EXPECT_DOUBLE_EQ(json["files"][0]["output_seconds"].get<double>(), 1.99);
    EXPECT_TRUE(json["files"][0]["video_codec"].is_null());
    EXPECT_EQ(json["files"][1]["reason"], "no");
    report.Finish();
    EXPECT_EQ(read()["complete"], true);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1)
        << "only the report itself";

    // A later run that takes the report over replaces a record of the same input.
    TBatchReport later(path, {});
    later.LoadEarlier();
    ASSERT_NE(later.Find("a.avi"), nullptr);
    record.Status = kReportDone;
    later.Add(record);
    json = read();
    ASSERT_EQ(json["files"].size(), 2u);
    EXPECT_EQ(json["files"][0]["status"], "done");
    EXPECT_EQ(json["files"][1]["status"], "done") << "the later record of the input is replaced";
}

TEST(BatchReportTest, AFileThatIsNotAReportIsRefusedAndAnUnwritablePlaceSaysWhy) {
    TTempDir dir;
    const std::string path = dir.File("notes.json");
    std::ofstream(path) << "{ not json";
    TBatchReport report(path, {});
    EXPECT_THROW(report.LoadEarlier(), std::runtime_error);

    TBatchReport nowhere(dir.File("missing/report.json"), {});
    EXPECT_FALSE(nowhere.Write());
    EXPECT_NE(nowhere.LastError().find("missing"), std::string::npos) << nowhere.LastError();
    std::string error;
    EXPECT_TRUE(WriteFileAtomically(path, "x", error)) << error;
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "x");
}

// ---- complete outputs

struct TCompleteCase {
    const char* Name;
    TOutputFacts Output;
    std::int64_t SourceUs;
    bool Complete;
};

void PrintTo(const TCompleteCase& c, std::ostream* out) {
    *out << c.Name;
}

class CompleteOutputTest : public ::testing::TestWithParam<TCompleteCase> {};

TEST_P(CompleteOutputTest, JudgesByOpeningAndLength) {
    const TCompleteCase& c = GetParam();
    EXPECT_EQ(ReadsAsComplete(c.Output, c.SourceUs), c.Complete)
        << IncompleteReason(c.Output, c.SourceUs);
    EXPECT_EQ(IncompleteReason(c.Output, c.SourceUs).empty(), c.Complete);
}

TOutputFacts Opened(std::int64_t us) {
    TOutputFacts facts;
    facts.Exists = facts.Opens = true;
    facts.Bytes = 1000;
    facts.DurationUs = us;
    return facts;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompleteOutputTest,
    ::testing::Values(
        TCompleteCase{"Missing", TOutputFacts{}, 2'000'000, false},
        TCompleteCase{"DoesNotOpen", TOutputFacts{true, false, 10, -1, "Invalid data"}, 2'000'000,
                      false},
        TCompleteCase{"SameLength", Opened(2'000'000), 2'000'000, true},
        TCompleteCase{"FramingOff", Opened(2'040'000), 2'000'000, true},
        TCompleteCase{"HalfWritten", Opened(1'000'000), 2'000'000, false},
        TCompleteCase{"LastSecondMissingOfALongOne", Opened(119'000'000), 120'000'000, true},
        TCompleteCase{"TenSecondsMissingOfALongOne", Opened(110'000'000), 120'000'000, false},
        TCompleteCase{"TellsNoLength", Opened(-1), 2'000'000, false},
        TCompleteCase{"SourceOfUnknownLength", Opened(5'000'000), -1, true}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

}  // namespace
