// Ranges as users type them, the checks against a file's length, and the source's chapters
// moved and cut to match the parts kept.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/core/TimeRanges.h"
#include "engine/RangeCut.h"

namespace {

struct TTimeCase {
    const char* Text;
    std::int64_t Us;  // -1: refused
};

class RangeTimeTest : public ::testing::TestWithParam<TTimeCase> {};

TEST_P(RangeTimeTest, ReadsSecondsAndClockTimesAndRefusesTheRest) {
    const TTimeCase& time = GetParam();
    if (time.Us < 0) {
        EXPECT_THROW(ParseRangeTime(time.Text), TRangeError) << time.Text;
        return;
    }
    EXPECT_EQ(ParseRangeTime(time.Text), time.Us) << time.Text;
}

INSTANTIATE_TEST_SUITE_P(Texts, RangeTimeTest,
                         ::testing::Values(TTimeCase{"75.5", 75500000}, TTimeCase{" 3 ", 3000000},
                                           TTimeCase{"0.040", 40000}, TTimeCase{"1:15.5", 75500000},
                                           TTimeCase{"01:01:15.250", 3675250000},
                                           TTimeCase{"90:00", 5400000000}, TTimeCase{"", -1},
                                           TTimeCase{"abc", -1}, TTimeCase{"1:75", -1},
                                           TTimeCase{"1:60:00", -1}, TTimeCase{"1:2:3:4", -1},
                                           TTimeCase{"1.5:00", -1}, TTimeCase{"1.2.3", -1},
                                           TTimeCase{"+5", -1}, TTimeCase{"5s", -1}));

TEST(TimeRangeTest, ARangeEndsAfterItsStartOrRunsToTheEnd) {
    EXPECT_EQ(ParseTimeRange("3.4-5.4"), (TTimeRange{3400000, 5400000}));
    EXPECT_EQ(ParseTimeRange("1:00-"), (TTimeRange{60000000, -1}));
    EXPECT_EQ(RangeText(ParseTimeRange("1:00-")), "60.000-");
    for (const char* refused : {"5-2", "5-5", "5", "-5", "a-b"})
        EXPECT_THROW(ParseTimeRange(refused), TRangeError) << refused;
    EXPECT_EQ(TrimOptionLine({{1000000, 2500000}, {7000000, -1}}), "trim=1.000-2.500,7.000-");
}

TEST(TimeRangeTest, ProblemsNameTheFileAndTheRange) {
    const std::vector<TTimeRange> apart = {{5000000, 6000000}, {1000000, 2000000}};
    EXPECT_EQ(RangesProblem(apart, 10000000, "a.mp4"), "");
    EXPECT_EQ(RangesProblem(apart, -1, "a.mp4"), "") << "an unknown length is not checked";
    EXPECT_EQ(RangesProblem({{1000000, 5000000}, {4000000, -1}}, -1, "a.mp4"),
              "a.mp4: the range 4.000- overlaps the range 1.000-5.000");
    EXPECT_EQ(RangesProblem({{0, -1}, {12000000, 13000000}}, 10000000, "a.mp4"),
              "a.mp4: the range 12.000-13.000 overlaps the range 0.000-");
    EXPECT_EQ(RangesProblem({{12000000, -1}}, 10000000, "a.mp4"),
              "a.mp4: the range 12.000- starts after the end of the file (10.000 s)");
    EXPECT_EQ(RangesProblem({{8000000, 11000000}}, 10000000, "a.mp4"),
              "a.mp4: the range 8.000-11.000 ends after the end of the file (10.000 s)");
}

// Chapters "A" [0, 4 s) and "B" [4, 10 s) through the pieces kept.
struct TChapterMapCase {
    const char* Name;
    std::vector<TCutPiece> Pieces;
    std::vector<TChapterSpan> Expected;
};

class ChapterMapTest : public ::testing::TestWithParam<TChapterMapCase> {};

TEST_P(ChapterMapTest, ChaptersFollowThePiecesKept) {
    const std::vector<TChapterSpan> chapters = {{0, 4000000, 0}, {4000000, 10000000, 1}};
    const std::vector<TChapterSpan> spans = MapChapterSpans(chapters, GetParam().Pieces);
    ASSERT_EQ(spans.size(), GetParam().Expected.size());
    for (size_t i = 0; i < spans.size(); ++i) {
        EXPECT_EQ(spans[i].Start, GetParam().Expected[i].Start) << i;
        EXPECT_EQ(spans[i].End, GetParam().Expected[i].End) << i;
        EXPECT_EQ(spans[i].Source, GetParam().Expected[i].Source) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pieces, ChapterMapTest,
    ::testing::Values(
        TChapterMapCase{"Whole", {{0, INT64_MAX, 0}}, {{0, 4000000, 0}, {4000000, 10000000, 1}}},
        TChapterMapCase{
            "AcrossTheBoundary", {{3400000, 5400000, 0}}, {{0, 600000, 0}, {600000, 2000000, 1}}},
        TChapterMapCase{"InsideOne", {{5000000, 6000000, 0}}, {{0, 1000000, 1}}},
        // Two pieces of one chapter that follow each other in the output are one chapter.
        TChapterMapCase{"TwoPiecesOfOneChapter",
                        {{5000000, 6000000, 0}, {8000000, INT64_MAX, 1000000}},
                        {{0, 3000000, 1}}},
        TChapterMapCase{"BackAgain",
                        {{5000000, 6000000, 0}, {1000000, 2000000, 1000000}},
                        {{0, 1000000, 1}, {1000000, 2000000, 0}}},
        TChapterMapCase{"AfterTheChapters", {{12000000, INT64_MAX, 0}}, {}}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

}  // namespace
