// Output names against real files in a folder of their own; the list's texts; aspect and letter
// box arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/core/FileList.h"
#include "app/core/FileListTexts.h"
#include "app/core/JobBuilder.h"
#include "app/core/OutputNames.h"
#include "support/TempDir.h"

namespace {

void Touch(const std::string& path, const std::string& contents = "x") {
    std::ofstream(path, std::ios::binary) << contents;
}

class OutputNameTest : public ::testing::Test {
  protected:
    TTempDir dir_;
    std::string in_ = dir_.File("in");
    std::string out_ = dir_.File("out");
    void SetUp() override {
        std::filesystem::create_directory(in_);
        std::filesystem::create_directory(out_);
        Touch(in_ + "/a.avi");
    }
    std::string Out(const std::string& name) const { return out_ + "/" + name; }
};

TEST_F(OutputNameTest, ExtensionIsTheLowerCaseKey) {
    EXPECT_EQ(OutputExtension("MP4"), ".mp4");
    EXPECT_EQ(OutputExtension("3GP"), ".3gp");
    EXPECT_EQ(OutputExtension("VOB"), ".vob");
}

TEST_F(OutputNameTest, WithoutOverwriteEachConversionGetsTheNextFreeNumber) {
    for (const char* expected : {"a.mp4", "a-1.mp4", "a-2.mp4"}) {
        const TOutputName name = ChooseOutputName(in_ + "/a.avi", out_, "MP4", false);
        EXPECT_EQ(name.Path, Out(expected));
        EXPECT_EQ(name.LogLine, "");
        Touch(name.Path);
    }
}

TEST_F(OutputNameTest, NumberingTakesTheFirstGap) {
    Touch(Out("clip.mp4"));
    Touch(Out("clip-1.mp4"));
    Touch(Out("clip-3.mp4"));
    EXPECT_EQ(UniqueOutputName(Out("clip.avi"), ".mp4"), Out("clip-2.mp4"));
}

TEST_F(OutputNameTest, DanglingLinkCountsAsTaken) {
    std::filesystem::create_symlink(dir_.File("nowhere"), Out("a.mp4"));
    EXPECT_EQ(ChooseOutputName(in_ + "/a.avi", out_, "MP4", false).Path, Out("a-1.mp4"));
}

TEST_F(OutputNameTest, WithOverwriteTheSameNameIsUsedAgain) {
    Touch(Out("a.mp4"));
    for (int i = 0; i < 2; ++i) {
        const TOutputName name = ChooseOutputName(in_ + "/a.avi", out_, "MP4", true);
        EXPECT_EQ(name.Path, Out("a.mp4"));
        EXPECT_EQ(name.LogLine, "");
    }
}

TEST_F(OutputNameTest, FolderWithTrailingSlashGivesTheSamePath) {
    EXPECT_EQ(ChooseOutputName(in_ + "/a.avi", out_ + "/", "MP4", true).Path, Out("a.mp4"));
}

TEST_F(OutputNameTest, OverwriteNeverReplacesTheInputItself) {
    Touch(in_ + "/b.mp4", "source");
    const TOutputName name = ChooseOutputName(in_ + "/b.mp4", in_, "MP4", true);
    EXPECT_EQ(name.Path, in_ + "/b-1.mp4");
    EXPECT_NE(name.LogLine.find(in_ + "/b.mp4"), std::string::npos) << name.LogLine;
    EXPECT_NE(name.LogLine.find(in_ + "/b-1.mp4"), std::string::npos) << name.LogLine;

    // Reached through another spelling of the same folder.
    const TOutputName other = ChooseOutputName(in_ + "/b.mp4", out_ + "/../in", "MP4", true);
    EXPECT_NE(other.LogLine, "");
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::path(other.Path).parent_path(), in_));
    EXPECT_EQ(std::filesystem::path(other.Path).filename(), "b-1.mp4");

    // Without overwrite the input is an existing file like any other.
    EXPECT_EQ(ChooseOutputName(in_ + "/b.mp4", in_, "MP4", false).Path, in_ + "/b-1.mp4");
}

// ---- Texts of the file list ----

TEST(FileListTextTest, DurationTexts) {
    EXPECT_EQ(DurationText((3600LL + 2 * 60 + 5) * 1000000 + 900000), "01:02:05");
    EXPECT_EQ(DurationText(100LL * 3600 * 1000000), "100:00:00");
    EXPECT_EQ(DurationText(0), "00:00:00");
    EXPECT_EQ(DurationText(59999999), "00:00:59");
    EXPECT_EQ(DurationText(-1), "Unknown");
    EXPECT_EQ(DurationText(INT64_MIN), "Unknown");  // the libraries' "no value"
}

TEST(FileListTextTest, FrameRateTexts) {
    EXPECT_EQ(FrameRateText(true, 30000, 1001), "29.97");
    EXPECT_EQ(FrameRateText(true, 25, 1), "25");
    EXPECT_EQ(FrameRateText(true, 24000, 1001), "23.98");
    EXPECT_EQ(FrameRateText(true, 25, 2), "12.5");
    EXPECT_EQ(FrameRateText(true, 15000, 1001), "14.99");
    EXPECT_EQ(FrameRateText(true, 30000, 1001, ','), "29,97");
    // Half a hundredth goes to the even neighbour.
    EXPECT_EQ(FrameRateText(true, 2001, 200), "10");    // 10.005 -> 10.00
    EXPECT_EQ(FrameRateText(true, 1001, 8), "125.12");  // 125.125 -> 125.12
    EXPECT_EQ(FrameRateText(true, 1003, 8), "125.38");  // 125.375 -> 125.38
    EXPECT_EQ(FrameRateText(true, 25, 0), " ");
    EXPECT_EQ(FrameRateText(false, 25, 1), " ");
}

TEST(FileListTextTest, SizeProgressAndFrameTexts) {
    EXPECT_EQ(VideoSizeText(true, 640, 480), "640x480");
    EXPECT_EQ(VideoSizeText(false, 640, 480), " ");
    EXPECT_EQ(ProgressText(500, 1000), "50%");
    EXPECT_EQ(ProgressText(1500, 1000), "100%");
    EXPECT_EQ(ProgressPosition(1500, 1000), 150);
    EXPECT_EQ(ProgressText(10, 0), "0%");  // no total yet: no division by zero
    EXPECT_EQ(FramesText(-1), " ");
    EXPECT_EQ(FramesText(123), "123");
    EXPECT_EQ(FileSizeText(4096), "File Size : 4.0 KB");
}

TEST(FileListTextTest, ColumnsInOrder) {
    const auto& columns = FileListColumns();
    ASSERT_EQ(columns.size(), 8u);
    const char* captions[] = {"Video File Name", "Video Size", "FrameRate", "Duration",
                              "Output",          "Progress",   "Frames",    "Status"};
    const int widths[] = {310, 90, 80, 60, 65, 100, 60, 197};
    for (int i = 0; i < 8; ++i) {
        EXPECT_STREQ(columns[i].Caption, captions[i]);
        EXPECT_EQ(columns[i].Width, widths[i]);
        EXPECT_EQ(columns[i].Centred, i != 0 && i != 7);
    }
}

TEST(FileListTextTest, OpenDialogFilterOffersTodaysTypesAndAllFiles) {
    const std::string filter = kOpenDialogFilter;
    EXPECT_EQ(filter.rfind("All Supported Files|*.avi;*.mpeg;", 0), 0u);
    EXPECT_EQ(filter.back(), '|');
    const auto filters = OpenDialogFilters();
    ASSERT_GE(filters.size(), 3u);
    EXPECT_EQ(filters[1].Name, "3GPP Files (*.3gp)");
    EXPECT_EQ(filters.back().Name, "All Files (*)");
    EXPECT_EQ(filters.back().Patterns, std::vector<std::string>{"*"});
    // Every pattern of a type's own pair is in the first pair, so "All Supported Files" finds
    // whatever a narrower filter finds.
    const auto& all = filters.front().Patterns;
    for (std::size_t i = 1; i + 1 < filters.size(); ++i) {
        for (const std::string& pattern : filters[i].Patterns) {
            if (pattern == "*.cue") continue;  // a cue sheet is no media file
            EXPECT_NE(std::find(all.begin(), all.end(), pattern), all.end())
                << filters[i].Name << " " << pattern;
        }
    }
    for (const char* wanted : {"*.flac", "*.mkv", "*.webm", "*.ts", "*.m2ts", "*.mts", "*.opus",
                               "*.m4v", "*.m4a", "*.3gp", "*.ogv"}) {
        EXPECT_NE(std::find(all.begin(), all.end(), wanted), all.end()) << wanted;
    }
    const auto entries = OpenDialogFilterEntries();
    EXPECT_NE(std::find(entries.begin(), entries.end(),
                        "RealMedia Files (*.rm, *.rmvb, *.ram, *.ra) (*.rm *.rmvb *.ram *.ra)"),
              entries.end());
}

// With the libraries loaded, the first pair also offers what their demuxers read beyond the
// fixed list: raw HEVC and H.264 streams among them.
TEST(FileListTextTest, SupportedFilesTakeTheDemuxersExtensions) {
    RequireMediaLibraries();
    const auto filters = OpenDialogFilters();
    const auto& all = filters.front().Patterns;
    for (const char* wanted : {"*.hevc", "*.h264", "*.flac", "*.avi"})
        EXPECT_EQ(std::count(all.begin(), all.end(), wanted), 1) << wanted;
    EXPECT_EQ(std::count(all.begin(), all.end(), "*.txt"), 0) << "a text file is no video";
    EXPECT_LT(FixedDialogFilters().front().Patterns.size(), all.size());
}

TEST(FileListTest, RowsOfProbedAndFailedFiles) {
    TFileList list;
    list.AddProbedFile("/m/a.avi", {true, 640, 480, 30000, 1001, 3725900000}, "MP4");
    list.AddFailedFile("/m/b.txt");
    list.AddProbedFile("/m/c.mp3", {false, 0, 0, 0, 0, 5000000}, "MP4");
    ASSERT_EQ(list.Count(), 3);
    const TFileListRow& a = list.Row(0);
    EXPECT_TRUE(a.Checked);
    EXPECT_EQ(a.VideoSize, "640x480");
    EXPECT_EQ(a.FrameRate, "29.97");
    EXPECT_EQ(a.Duration, "01:02:05");
    EXPECT_EQ(a.Output, "MP4");
    EXPECT_EQ(a.State, TRowState::Waiting);
    const TFileListRow& b = list.Row(1);
    EXPECT_FALSE(b.Checked);  // an unreadable file is never converted
    EXPECT_EQ(b.VideoSize + b.FrameRate + b.Duration + b.Output, "");
    EXPECT_EQ(b.State, TRowState::Unreadable);
    EXPECT_EQ(list.Row(2).VideoSize, " ");
    EXPECT_EQ(list.Row(2).FrameRate, " ");
    EXPECT_EQ(list.Row(2).Duration, "00:00:05");

    list.SetFormatKey("AVI");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(list.Row(i).Output, "AVI");
    list.RemoveRows({2, 0, 2, 7});
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Row(0).FileName, "/m/b.txt");
}

// ---- Aspect and letter box ----

TEST(AspectTest, TextsByChoice) {
    EXPECT_EQ(AspectText(1, "1280x720"), "4:3");
    EXPECT_EQ(AspectText(2, "640x480"), "16:9");
    EXPECT_EQ(AspectText(0, "640x480"), "1.3333");
    EXPECT_EQ(AspectText(0, "720x576"), "1.25");
    EXPECT_EQ(AspectText(0, "1280x720"), "1.7778");
    EXPECT_EQ(AspectText(0, "352x288"), "1.2222");
    EXPECT_EQ(AspectText(0, "400x400"), "1");
    EXPECT_EQ(AspectText(0, " 720x480 "), "1.5");
    // No video, or a size that is not two numbers.
    EXPECT_EQ(AspectText(0, " "), "1.3333");
    EXPECT_EQ(AspectText(0, ""), "1.3333");
    EXPECT_EQ(AspectText(0, "wide"), "1.3333");
    EXPECT_EQ(AspectText(0, "640x0"), "1.3333");
    EXPECT_EQ(AspectText(0, "640xabc"), "1.3333");
}

TEST(AspectTest, RoundsHalvesToEven) {
    // Exactly 312.5 and 937.5 ten-thousandths.
    EXPECT_EQ(AspectText(0, "512x16384"), "0.0312");
    EXPECT_EQ(AspectText(0, "1536x16384"), "0.0938");
}

struct TBoxCase {
    int InW, InH, OutW, OutH;
    int PicW, PicH, Top, Bottom, Left, Right;
};
void PrintTo(const TBoxCase& c, std::ostream* os) {
    *os << c.InW << "x" << c.InH << " in " << c.OutW << "x" << c.OutH;
}

class LetterBoxTest : public ::testing::TestWithParam<TBoxCase> {};
TEST_P(LetterBoxTest, FitsAndPadsWithEvenBands) {
    const TBoxCase& c = GetParam();
    const auto box = LetterBoxFor(c.InW, c.InH, c.OutW, c.OutH);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->PictureWidth, c.PicW);
    EXPECT_EQ(box->PictureHeight, c.PicH);
    EXPECT_EQ(box->Top, c.Top);
    EXPECT_EQ(box->Bottom, c.Bottom);
    EXPECT_EQ(box->Left, c.Left);
    EXPECT_EQ(box->Right, c.Right);
    for (int band : {box->Top, box->Bottom, box->Left, box->Right}) EXPECT_EQ(band % 2, 0);
    EXPECT_EQ(box->PictureWidth + box->Left + box->Right, c.OutW);
    EXPECT_EQ(box->PictureHeight + box->Top + box->Bottom, c.OutH);
}
INSTANTIATE_TEST_SUITE_P(Shapes, LetterBoxTest,
                         ::testing::Values(TBoxCase{1280, 720, 640, 480, 640, 360, 60, 60, 0, 0},
                                           TBoxCase{640, 480, 720, 480, 640, 480, 0, 0, 40, 40},
                                           TBoxCase{1920, 1080, 480, 272, 480, 270, 0, 2, 0, 0},
                                           TBoxCase{1920, 1080, 320, 240, 320, 180, 30, 30, 0, 0},
                                           TBoxCase{720, 576, 1280, 720, 900, 720, 0, 0, 190, 190},
                                           TBoxCase{480, 640, 640, 480, 360, 480, 0, 0, 140, 140},
                                           TBoxCase{640, 480, 176, 144, 176, 132, 6, 6, 0, 0}));

TEST(LetterBoxTest, NoneForTheSameShapeOrUnknownSizes) {
    EXPECT_FALSE(LetterBoxFor(704, 576, 352, 288).has_value());
    EXPECT_FALSE(LetterBoxFor(1280, 720, 640, 360).has_value());
    EXPECT_FALSE(LetterBoxFor(0, 0, 640, 480).has_value());
    EXPECT_FALSE(LetterBoxFor(640, 480, 641, 480).has_value());
}

}  // namespace
