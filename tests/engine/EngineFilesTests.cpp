// What the engine does with files: the clean-up of outputs, the size helper, the wording of
// the libraries' error codes and the hook bitmap's layout.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>

#include "EngineTestSupport.h"
#include "engine/LibraryErrors.h"
#include "support/MediaHandles.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

namespace fs = std::filesystem;

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(EngineCleanup, DeletesOnlyTheOutputsItLeftEmpty) {
    RequireMediaLibraries();
    TTempDir dir;
    TTestEngine engine;
    engine.Reset();
    engine.AddInput(dir.File("in.wav"));
    engine.AddOutput(dir.File("empty.wav"));
    engine.AddOutput(dir.File("written.wav"), "wav", true);
    // An image sequence writes no byte stream of its own: a file of the same name is not the
    // job's to delete.
    WriteBytes(dir.File("still.png"), "");
    engine.AddOutput(dir.File("still.png"), "image2");

    engine.Cleanup();

    EXPECT_FALSE(fs::exists(dir.File("empty.wav")));
    ASSERT_TRUE(fs::exists(dir.File("written.wav")));
    EXPECT_GT(fs::file_size(dir.File("written.wav")), 0u);
    EXPECT_TRUE(fs::exists(dir.File("still.png")));
    EXPECT_TRUE(fs::exists(dir.File("in.wav")));
    EXPECT_EQ(engine.OutputFileCount, 0);
    EXPECT_EQ(engine.InputFileCount, 0);
    for (const TOutputFile& file : engine.OutputFiles) EXPECT_EQ(file.Context, nullptr);
    for (const TInputFile& file : engine.InputFiles) EXPECT_EQ(file.Context, nullptr);

    engine.HookBitmap = std::make_unique<THookBitmap>(16, 16);
    engine.Cleanup();  // a second clean-up finds nothing left to free
    EXPECT_EQ(engine.HookBitmap, nullptr);
}

TEST(FileSizeHelper, MeasuresRegularFilesOnly) {
    TTempDir dir;
    WriteBytes(dir.File("empty"), "");
    WriteBytes(dir.File("five"), "12345");
    EXPECT_EQ(FileSize(dir.File("empty")), 0);
    EXPECT_EQ(FileSize(dir.File("five")), 5);
    EXPECT_EQ(FileSize(dir.File("missing")), -1);
    EXPECT_EQ(FileSize(dir.Path().string()), -1);
    // A device reads as 0 bytes: the clean-up must never take it for an empty output.
    EXPECT_EQ(FileSize("/dev/null"), -1);
}

struct TErrorCase {
    int code;
    bool badImageSequenceName;
    const char* text;
};

std::ostream& operator<<(std::ostream& out, const TErrorCase& c) {
    return out << "code " << c.code << (c.badImageSequenceName ? " on an image sequence" : "");
}

class LibraryErrorWording : public ::testing::TestWithParam<TErrorCase> {};

TEST_P(LibraryErrorWording, NamesTheFile) {
    const TErrorCase& c = GetParam();
    EXPECT_EQ(LibraryErrorText(c.code, "clip.avi", c.badImageSequenceName), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, LibraryErrorWording,
    ::testing::Values(
        TErrorCase{AVERROR(ENOENT), false, "clip.avi: no such file or directory"},
        TErrorCase{AVERROR_INVALIDDATA, false, "clip.avi: Error while parsing header"},
        TErrorCase{AVERROR(EINVAL), false, "clip.avi: Error while parsing header"},
        TErrorCase{AVERROR(EINVAL), true,
                   "clip.avi: Incorrect image filename syntax.\n"
                   "Use '%d' to specify the image number:\n"
                   "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\n"
                   "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'."},
        TErrorCase{AVERROR(EIO), false,
                   "clip.avi: I/O error occurred\n"
                   "Usually that means that input file is truncated and/or corrupted."},
        TErrorCase{AVERROR_EOF, false,
                   "clip.avi: I/O error occurred\n"
                   "Usually that means that input file is truncated and/or corrupted."},
        TErrorCase{AVERROR(ENOMEM), false, "clip.avi: memory allocation error occurred"},
        TErrorCase{AVERROR_DEMUXER_NOT_FOUND, false, "clip.avi: Unknown format"},
        TErrorCase{AVERROR_MUXER_NOT_FOUND, false, "clip.avi: Unknown format"},
        TErrorCase{AVERROR(EACCES), false, "clip.avi: Error while opening file"},
        TErrorCase{AVERROR_ENCODER_NOT_FOUND, true, "clip.avi: Error while opening file"}));

// The codes today's libraries really return when opening common bad inputs get their own
// wording, not the catch-all.
TEST(LibraryErrorWording, FitsWhatOpeningBadInputsReturns) {
    RequireMediaLibraries();
    TTempDir dir;
    auto openError = [](const std::string& path) {
        AVFormatContext* input = nullptr;
        const int code = LibAVFormat.avformat_open_input(&input, path.c_str(), nullptr, nullptr);
        TInputPtr closing(input);
        return code;
    };

    const std::string missing = dir.File("missing.avi");
    EXPECT_EQ(LibraryErrorText(openError(missing), missing),
              missing + ": no such file or directory");

    const std::string text = dir.File("notes.avi");
    WriteBytes(text, "");
    DamageFile(text, TDamage::NotMedia);
    EXPECT_EQ(LibraryErrorText(openError(text), text), text + ": Error while parsing header");
}

class HookBitmapLayout : public ::testing::TestWithParam<int> {};

TEST_P(HookBitmapLayout, RowsArePaddedToFourBytes) {
    const int width = GetParam();
    THookBitmap bitmap(width, 3);
    EXPECT_EQ(bitmap.Stride() % 4, 0);
    EXPECT_GE(bitmap.Stride(), width * 3);
    EXPECT_LT(bitmap.Stride(), width * 3 + 4);
    EXPECT_EQ(bitmap.Row(2) - bitmap.Row(0), 2 * bitmap.Stride());
    bitmap.Row(2)[width * 3 - 1] = 0xFF;  // the last byte of the last pixel is writable
    EXPECT_EQ(bitmap.Bits()[2 * bitmap.Stride() + width * 3 - 1], 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Widths, HookBitmapLayout, ::testing::Values(1, 2, 3, 4, 5, 641));

TEST(HookBitmapLayout, ANonPositiveSizeLeavesItEmpty) {
    THookBitmap bitmap(4, 4);
    bitmap.SetSize(0, 4);
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_EQ(bitmap.Width(), 0);
    EXPECT_EQ(bitmap.Stride(), 0);
}

}  // namespace
