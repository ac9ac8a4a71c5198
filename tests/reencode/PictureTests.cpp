// Picture work without a transcode: the picture graphs' crop, padding and deinterlacer, and
// what the hook step does with the custom hook, the before-hook, the time ranges and the
// modules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

#include "reencode/ReencodeSupport.h"
#include "support/TempDir.h"

namespace {

// Every sample of every plane a value of its own position, so that any move shows.
void Number(AVFrame* picture, int planes, int bytesPerRow[4], int rows[4]) {
    for (int p = 0; p < planes; ++p)
        for (int y = 0; y < rows[p]; ++y)
            for (int x = 0; x < bytesPerRow[p]; ++x)
                picture->data[p][y * picture->linesize[p] + x] =
                    static_cast<uint8_t>(x * 7 + y * 13 + p * 50);
}

class PictureGraphs : public testing::Test {
  protected:
    void SetUp() override { RequireMediaLibraries(); }

    // The picture `text` makes of `picture`; it stays the graph's until the next call.
    const AVFrame* Run(const std::string& text, const AVFrame* picture) {
        graph_ = std::make_unique<TPictureFilter>();
        const bool built = graph_->Build(
            [text](int, int, AVPixelFormat) { return text; }, picture->width, picture->height,
            AVPixelFormat(picture->format), AVRational{1, 1}, AVRational{1, 25}, {}, true);
        EXPECT_TRUE(built) << text << ": " << graph_->Error();
        if (!built) return nullptr;
        const AVFrame* result = graph_->Apply(picture);
        EXPECT_NE(result, nullptr) << text << ": " << graph_->Error();
        return result;
    }
    // An output of `format` for a 4:2:0 source of width × height, nothing changed yet.
    static TOutputPictureShape Shape(int width, int height, AVPixelFormat format) {
        TOutputPictureShape shape;
        shape.SourceWidth = shape.Width = width;
        shape.SourceHeight = shape.Height = height;
        shape.SourceFormat = AV_PIX_FMT_YUV420P;
        shape.Format = format;
        shape.ScalerFlags = SWS_BICUBIC;
        return shape;
    }
    static void Pad(TOutputPictureShape& shape, int top, int bottom, int left, int right,
                    const uint8_t yuv[3]) {
        shape.PadTop = top;
        shape.PadBottom = bottom;
        shape.PadLeft = left;
        shape.PadRight = right;
        shape.Width += left + right;
        shape.Height += top + bottom;
        std::copy(yuv, yuv + 3, shape.PadColour);
        ASSERT_TRUE(PaintsSamples(shape.Format) ||
                    PadFilterColour(shape.PadColour, shape.Format, shape.PadRgb));
    }

    std::unique_ptr<TPictureFilter> graph_;
};

TEST_F(PictureGraphs, CropMovesEachPlaneByItsOwnSubsampling) {
    TFramePtr picture = MakePicture(AV_PIX_FMT_YUV420P, 64, 48);
    int bytes[4] = {64, 32, 32}, rows[4] = {48, 24, 24};
    Number(picture.get(), 3, bytes, rows);
    TOutputPictureShape shape = Shape(64, 48, AV_PIX_FMT_YUV420P);
    shape.CropTop = 4;
    shape.CropLeft = 6;
    shape.CropBottom = 2;
    shape.Width = 64 - 6;
    shape.Height = 48 - 6;
    const AVFrame* cropped =
        Run(OutputPictureText(shape, 64, 48, AV_PIX_FMT_YUV420P), picture.get());
    ASSERT_NE(cropped, nullptr);
    ASSERT_EQ(cropped->width, 58);
    ASSERT_EQ(cropped->height, 42);
    for (int y = 0; y < 42; ++y)
        for (int x = 0; x < 58; ++x)
            ASSERT_EQ(Sample(cropped, 0, x, y), Sample(picture.get(), 0, x + 6, y + 4));
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < 21; ++y)
            for (int x = 0; x < 29; ++x)
                ASSERT_EQ(Sample(cropped, p, x, y), Sample(picture.get(), p, x + 3, y + 2));

    // Packed pixels move by their byte width.
    TFramePtr rgb = MakePicture(AV_PIX_FMT_RGB24, 16, 16);
    int rgbBytes[4] = {48}, rgbRows[4] = {16};
    Number(rgb.get(), 1, rgbBytes, rgbRows);
    shape = Shape(16, 16, AV_PIX_FMT_RGB24);
    shape.SourceFormat = AV_PIX_FMT_RGB24;
    shape.CropTop = 1;
    shape.CropLeft = 2;
    shape.Width = 14;
    shape.Height = 15;
    const AVFrame* moved = Run(OutputPictureText(shape, 16, 16, AV_PIX_FMT_RGB24), rgb.get());
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(PlaneBytes(moved, 0, 14 * 3, 15)[0], Sample(rgb.get(), 0, 6, 1));
    EXPECT_EQ(Sample(moved, 0, 3 * 13 + 2, 14), Sample(rgb.get(), 0, 3 * 15 + 2, 15));
}

TEST_F(PictureGraphs, PaddingPaintsOnlyTheBandsInEveryPlane) {
    TFramePtr picture = MakePicture(AV_PIX_FMT_YUV420P, 16, 12, {0, 0, 0});
    const uint8_t colour[3] = {81, 90, 240};
    TOutputPictureShape shape = Shape(16, 12, AV_PIX_FMT_YUV420P);
    Pad(shape, 2, 4, 4, 6, colour);
    const AVFrame* padded =
        Run(OutputPictureText(shape, 16, 12, AV_PIX_FMT_YUV420P), picture.get());
    ASSERT_NE(padded, nullptr);
    ASSERT_EQ(padded->width, 26);
    ASSERT_EQ(padded->height, 18);
    for (int y = 0; y < 18; ++y)
        for (int x = 0; x < 26; ++x) {
            const bool band = y < 2 || y >= 14 || x < 4 || x >= 20;
            ASSERT_EQ(Sample(padded, 0, x, y), band ? 81 : 0) << x << "," << y;
        }
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 13; ++x) {
            const bool band = y < 1 || y >= 7 || x < 2 || x >= 10;
            ASSERT_EQ(Sample(padded, 1, x, y), band ? 90 : 0) << x << "," << y;
            ASSERT_EQ(Sample(padded, 2, x, y), band ? 240 : 0) << x << "," << y;
        }
}

TEST_F(PictureGraphs, PaddingTurnsTheColourIntoRgbAndKeepsItsPlaceInDeeperSamples) {
    // Pure red in limited-range Y, U, V.
    const uint8_t red[3] = {81, 90, 240};
    TFramePtr picture = MakePicture(AV_PIX_FMT_YUV420P, 4, 4, {0, 128, 128});
    TOutputPictureShape shape = Shape(4, 4, AV_PIX_FMT_RGB24);
    Pad(shape, 2, 0, 0, 0, red);
    const AVFrame* rgb = Run(OutputPictureText(shape, 4, 4, AV_PIX_FMT_YUV420P), picture.get());
    ASSERT_NE(rgb, nullptr);
    EXPECT_NEAR(Sample(rgb, 0, 0, 0), 255, 3);
    EXPECT_NEAR(Sample(rgb, 0, 1, 0), 0, 3);
    EXPECT_NEAR(Sample(rgb, 0, 2, 0), 0, 3);

    // Deeper samples keep the colour's place on their scale.
    shape = Shape(4, 4, AV_PIX_FMT_YUV420P10LE);
    Pad(shape, 0, 0, 2, 0, red);
    const AVFrame* deep = Run(OutputPictureText(shape, 4, 4, AV_PIX_FMT_YUV420P), picture.get());
    ASSERT_NE(deep, nullptr);
    const auto word16 = [&](int plane) {
        return Sample(deep, plane, 0, 0) | (Sample(deep, plane, 1, 0) << 8);
    };
    EXPECT_EQ(word16(0), 81 << 2);
    EXPECT_EQ(word16(2), 240 << 2);

    // Alpha becomes opaque.
    shape = Shape(4, 4, AV_PIX_FMT_YUVA420P);
    Pad(shape, 2, 0, 0, 0, red);
    const AVFrame* alpha = Run(OutputPictureText(shape, 4, 4, AV_PIX_FMT_YUV420P), picture.get());
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(Sample(alpha, 0, 1, 0), 81);
    EXPECT_EQ(Sample(alpha, 3, 1, 0), 255);
}

// A paletted output (a GIF's) is made in RGB and mapped to a palette: each picture's own here;
// a palette file whose name the filter text cannot carry is refused rather than misread.
TEST_F(PictureGraphs, PalettedOutputKeepsThePicturesColour) {
    const uint8_t yuv[3] = {150, 90, 200};
    TFramePtr picture = MakePicture(AV_PIX_FMT_YUV420P, 16, 12, {yuv[0], yuv[1], yuv[2]});
    TOutputPictureShape shape = Shape(8, 6, AV_PIX_FMT_PAL8);
    shape.SourceWidth = 16;
    shape.SourceHeight = 12;
    const AVFrame* mapped =
        Run(OutputPictureText(shape, 16, 12, AV_PIX_FMT_YUV420P), picture.get());
    ASSERT_NE(mapped, nullptr);
    ASSERT_EQ(mapped->format, AV_PIX_FMT_PAL8);
    ASSERT_EQ(mapped->width, 8);
    uint8_t rgb[3];
    YuvToRgb(yuv, rgb);
    // The palette's entries are B, G, R, A in memory.
    const uint8_t* entry = mapped->data[1] + 4 * mapped->data[0][3 * mapped->linesize[0] + 4];
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(entry[2 - c], rgb[c], 3) << c;
    shape.PaletteFile = "/tmp/a:b.png";
    EXPECT_THROW(OutputPictureText(shape, 16, 12, AV_PIX_FMT_YUV420P), FFMpegException);
}

TEST_F(PictureGraphs, DeinterlacingBlendsTheFields) {
    // Alternate rows of 0 and 200 (a comb); the chroma is flat.
    TFramePtr source = MakePicture(AV_PIX_FMT_YUV420P, 16, 8, {0, 128, 128});
    for (int y = 1; y < 8; y += 2)
        std::fill(source->data[0] + y * source->linesize[0],
                  source->data[0] + y * source->linesize[0] + 16, 200);
    const AVFrame* target = Run(
        PictureFilterText("", false, AV_PIX_FMT_NONE, true, AV_PIX_FMT_YUV420P, 8), source.get());
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(Sample(target, 0, 3, 2), 100);  // (200 + 0 + 200) / 4
    EXPECT_EQ(Sample(target, 0, 3, 3), 100);  // (0 + 400 + 0) / 4
    EXPECT_EQ(Sample(target, 0, 3, 0), 50);   // the edges repeat their own row
    EXPECT_EQ(Sample(target, 0, 3, 7), 150);
    EXPECT_EQ(Sample(target, 1, 2, 2), 128);
    EXPECT_EQ(Sample(source.get(), 0, 3, 1), 200) << "the source picture is untouched";
    // Interleaved chroma is not for this filter.
    EXPECT_FALSE(DeinterlaceTakes(AV_PIX_FMT_NV12));
    EXPECT_EQ(PictureFilterText("", false, AV_PIX_FMT_NONE, true, AV_PIX_FMT_NV12, 8), "");
}

// ---- Pre-processing.

class Preprocessing : public testing::Test {
  protected:
    void SetUp() override {
        RequireMediaLibraries();
        engine_.Reset();
    }

    // A flat grey 64x48 picture at `ms` milliseconds, pre-processed.
    TFramePtr Process(int64_t ms, std::vector<uint8_t> fill = {128, 128, 128}) {
        TFramePtr picture = MakePicture(AV_PIX_FMT_YUV420P, 64, 48, fill);
        original_ = picture->data[0];
        originalLinesize_ = picture->linesize[0];
        stream_.Pts = ms * 1000;
        engine_.PreprocessPicture(stream_, picture.get());
        return picture;
    }
    bool Changed(const AVFrame* picture) const { return picture->data[0] != original_; }

    void AddDrawbox() {
        engine_.ParseOption("vhook",
                            std::string(DZ_DRAWBOX_HOOK) + "|-x|8|-y|8|-w|16|-h|16|-c|255,128,128");
        ASSERT_TRUE(engine_.FrameHooksInUse);
    }
    // The drawbox module paints luma 255 at (10, 10).
    static bool Boxed(const AVFrame* picture) { return Sample(picture, 0, 10, 10) == 255; }

    TReencodeEngine engine_;
    TInputStreamState stream_;
    uint8_t* original_ = nullptr;
    int originalLinesize_ = 0;
};

TEST_F(Preprocessing, WithNothingToDoThePictureStaysTheDecoders) {
    TFramePtr picture = Process(0);
    EXPECT_FALSE(Changed(picture.get()));
    EXPECT_EQ(engine_.HookFrameNumber, 1);
}

TEST_F(Preprocessing, ACustomHookSeesTheFrameAsBgrAndItsMarkReachesThePicture) {
    std::vector<int> numbers;
    std::vector<int64_t> times;
    int blue = -1;
    engine_.OnCustomHook = [&](TCustomFFmpeg*, THookBitmap& bitmap, int32_t number, int64_t pts,
                               bool& update, bool&) {
        numbers.push_back(number);
        times.push_back(pts);
        blue = bitmap.Row(0)[0];
        EXPECT_EQ(bitmap.Width(), 64);
        EXPECT_EQ(bitmap.Height(), 48);
        // A white square at (8..23, 8..23).
        for (int y = 8; y < 24; ++y) std::fill(bitmap.Row(y) + 8 * 3, bitmap.Row(y) + 24 * 3, 255);
        EXPECT_TRUE(update);
    };
    TFramePtr first = Process(40);
    TFramePtr second = Process(80);
    EXPECT_EQ(numbers, (std::vector<int>{1, 2}));
    EXPECT_EQ(times, (std::vector<int64_t>{40000, 80000}));
    EXPECT_NEAR(blue, 130, 4) << "grey Y 128 as BGR";
    ASSERT_TRUE(Changed(second.get()));
    EXPECT_NEAR(Sample(second.get(), 0, 12, 12), 235, 4) << "white, limited range";
    EXPECT_NEAR(Sample(second.get(), 0, 40, 30), 128, 3) << "outside the mark";
    EXPECT_EQ(original_[12 * originalLinesize_ + 12], 128) << "the decoder's picture stays";
}

TEST_F(Preprocessing, ACustomHookThatLeavesUpdateFalseChangesNothing) {
    engine_.OnCustomHook = [](TCustomFFmpeg*, THookBitmap& bitmap, int32_t, int64_t, bool& update,
                              bool&) {
        std::fill(bitmap.Bits(), bitmap.Bits() + bitmap.Stride() * bitmap.Height(), 255);
        update = false;
    };
    TFramePtr picture = MakePicture(AV_PIX_FMT_YUV420P, 64, 48, {100, 90, 160});
    // A gradient, so that any conversion round trip would show.
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) picture->data[0][y * picture->linesize[0] + x] = x * 3 + y;
    const std::vector<uint8_t> luma = PlaneBytes(picture.get(), 0, 64, 48);
    const std::vector<uint8_t> chroma = PlaneBytes(picture.get(), 2, 32, 24);
    engine_.PreprocessPicture(stream_, picture.get());
    EXPECT_EQ(PlaneBytes(picture.get(), 0, 64, 48), luma);
    EXPECT_EQ(PlaneBytes(picture.get(), 2, 32, 24), chroma);
}

TEST_F(Preprocessing, ACustomHookThatAsksToStopIsNotCalledAgain) {
    int calls = 0;
    engine_.OnCustomHook = [&](TCustomFFmpeg*, THookBitmap&, int32_t, int64_t, bool&, bool& stop) {
        ++calls;
        stop = true;
    };
    Process(0);
    Process(40);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(engine_.OnCustomHook);
    EXPECT_EQ(engine_.HookAction, haStop);
    EXPECT_FALSE(engine_.FrameHooksInUse);
}

TEST_F(Preprocessing, AnExceptionFromTheCustomHookIsReportedAndItsPaintDropped) {
    int calls = 0;
    engine_.OnCustomHook = [&](TCustomFFmpeg*, THookBitmap& bitmap, int32_t, int64_t, bool&,
                               bool&) {
        ++calls;
        std::fill(bitmap.Bits(), bitmap.Bits() + bitmap.Stride() * bitmap.Height(), 255);
        throw std::runtime_error("brush broke");
    };
    TFramePtr picture = Process(0, {60, 128, 128});
    EXPECT_EQ(Sample(picture.get(), 0, 5, 5), 60);
    EXPECT_EQ(engine_.CountLogs("Error occurs OnCustomHook: brush broke"), 1);
    Process(40);
    EXPECT_EQ(calls, 2) << "an exception does not switch the hook off";
}

TEST_F(Preprocessing, TheBitmapFollowsAPictureSizeChange) {
    int lastWidth = 0;
    engine_.OnCustomHook = [&](TCustomFFmpeg*, THookBitmap& bitmap, int32_t, int64_t, bool& update,
                               bool&) {
        lastWidth = bitmap.Width();
        update = true;
    };
    Process(0);
    TFramePtr larger = MakePicture(AV_PIX_FMT_YUV420P, 128, 96);
    engine_.PreprocessPicture(stream_, larger.get());
    EXPECT_EQ(lastWidth, 128);
    ASSERT_TRUE(engine_.HookBitmap);
    EXPECT_EQ(engine_.HookBitmap->Height(), 96);
}

TEST_F(Preprocessing, AModuleRunsOnlyInsideItsTimeRangeAndStopsAfterTheLast) {
    AddDrawbox();
    engine_.SetHookTimeRanges({{1000000, 2000000}});
    TFramePtr before = Process(500);
    EXPECT_FALSE(Boxed(before.get()));
    EXPECT_EQ(engine_.HookAction, haIgnore);
    EXPECT_FALSE(Changed(before.get())) << "no copy while ignored";
    TFramePtr start = Process(1000);
    EXPECT_TRUE(Boxed(start.get()));
    TFramePtr end = Process(2000);
    EXPECT_TRUE(Boxed(end.get()));
    EXPECT_EQ(original_[10 * originalLinesize_ + 10], 128) << "drawn on a copy";
    TFramePtr after = Process(2040);
    EXPECT_FALSE(Boxed(after.get()));
    EXPECT_EQ(engine_.HookAction, haStop);
    EXPECT_FALSE(engine_.FrameHooksInUse);
    TFramePtr back = Process(1500);
    EXPECT_FALSE(Boxed(back.get())) << "stopping is final for the run";
}

TEST_F(Preprocessing, TheRangeSearchMovesOnAndSkipsGaps) {
    AddDrawbox();
    // Given out of order; kept sorted by their end.
    engine_.SetHookTimeRanges({{3000000, 4000000}, {0, 1000000}});
    EXPECT_TRUE(Boxed(Process(500).get()));
    EXPECT_FALSE(Boxed(Process(2000).get()));
    EXPECT_EQ(engine_.HookAction, haIgnore);
    EXPECT_TRUE(Boxed(Process(3500).get()));
    EXPECT_EQ(engine_.HookRangeIndex, 1);
    EXPECT_FALSE(Boxed(Process(500).get())) << "the search starts at the current range";
}

TEST_F(Preprocessing, TheBeforeHookDecidesPerPictureAndCanStopTheModules) {
    AddDrawbox();
    std::vector<int64_t> asked;
    engine_.OnBeforeHook = [&](TCustomFFmpeg*, int64_t pts, THookAction& action) {
        asked.push_back(pts);
        action = pts == 40000 ? haIgnore : pts >= 120000 ? haStop : haContinue;
    };
    EXPECT_TRUE(Boxed(Process(0).get()));
    EXPECT_FALSE(Boxed(Process(40).get()));
    EXPECT_TRUE(Boxed(Process(80).get()));
    EXPECT_FALSE(Boxed(Process(120).get()));
    EXPECT_FALSE(engine_.FrameHooksInUse);
    EXPECT_FALSE(Boxed(Process(160).get()));
    EXPECT_EQ(asked, (std::vector<int64_t>{0, 40000, 80000, 120000}));
}

TEST_F(Preprocessing, AnExceptionFromTheBeforeHookStopsTheModules) {
    AddDrawbox();
    engine_.OnBeforeHook = [](TCustomFFmpeg*, int64_t, THookAction&) {
        throw std::runtime_error("no answer");
    };
    EXPECT_FALSE(Boxed(Process(0).get()));
    EXPECT_EQ(engine_.CountLogs("Error occurs OnBeforeHook: no answer"), 1);
    EXPECT_EQ(engine_.HookAction, haStop);
    EXPECT_FALSE(engine_.FrameHooksInUse);
}

TEST_F(Preprocessing, TheCustomHookTakesPrecedenceOverModules) {
    AddDrawbox();
    int calls = 0;
    engine_.OnBeforeHook = [&](TCustomFFmpeg*, int64_t, THookAction&) { ++calls; };
    engine_.OnCustomHook = [](TCustomFFmpeg*, THookBitmap&, int32_t, int64_t, bool& update, bool&) {
        update = false;
    };
    EXPECT_FALSE(Boxed(Process(0).get()));
    EXPECT_EQ(calls, 0);
}

}  // namespace
