// Picture work without a transcode: crop and pad geometry, the deinterlacer, and what
// pre-processing does with the custom hook, the before-hook, the time ranges and the modules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

#include "reencode/ReencodeSupport.h"
#include "support/TempDir.h"

namespace {

TFrameHookPicture Planes(const AVFrame* picture) {
    TFrameHookPicture planes{};
    for (int i = 0; i < 4; ++i) {
        planes.data[i] = picture->data[i];
        planes.linesize[i] = picture->linesize[i];
    }
    return planes;
}

class PictureGeometry : public testing::Test {
  protected:
    void SetUp() override { RequireMediaLibraries(); }
};

TEST_F(PictureGeometry, CropMovesEachPlaneByItsOwnSubsampling) {
    TFramePtr picture = MakePicture(AV_PIX_FMT_YUV420P, 64, 48);
    TFrameHookPicture cropped{};
    ASSERT_TRUE(
        TReencodeEngine::OffsetPlanes(Planes(picture.get()), AV_PIX_FMT_YUV420P, 4, 6, cropped));
    EXPECT_EQ(cropped.data[0], picture->data[0] + 4 * picture->linesize[0] + 6);
    EXPECT_EQ(cropped.data[1], picture->data[1] + 2 * picture->linesize[1] + 3);
    EXPECT_EQ(cropped.data[2], picture->data[2] + 2 * picture->linesize[2] + 3);
    EXPECT_EQ(cropped.linesize[0], picture->linesize[0]);

    // Packed pixels move by their byte width.
    TFramePtr rgb = MakePicture(AV_PIX_FMT_RGB24, 16, 16);
    ASSERT_TRUE(TReencodeEngine::OffsetPlanes(Planes(rgb.get()), AV_PIX_FMT_RGB24, 1, 2, cropped));
    EXPECT_EQ(cropped.data[0], rgb->data[0] + rgb->linesize[0] + 6);

    // Pixels that are not whole bytes cannot be cropped this way.
    TFramePtr mono = MakePicture(AV_PIX_FMT_MONOWHITE, 16, 16);
    EXPECT_FALSE(
        TReencodeEngine::OffsetPlanes(Planes(mono.get()), AV_PIX_FMT_MONOWHITE, 0, 8, cropped));
}

TEST_F(PictureGeometry, FillPaintsOnlyTheRectangleInEveryPlane) {
    TFramePtr picture = MakePicture(AV_PIX_FMT_YUV420P, 32, 24, {0, 0, 0});
    const uint8_t colour[3] = {81, 90, 240};
    TReencodeEngine::FillRectangle(Planes(picture.get()), AV_PIX_FMT_YUV420P, 32, 24, 4, 2, 8, 6,
                                   colour);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(Sample(picture.get(), 0, x, y), x >= 4 && x < 12 && y >= 2 && y < 8 ? 81 : 0)
                << x << "," << y;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) {
            const bool inside = x >= 2 && x < 6 && y >= 1 && y < 4;
            ASSERT_EQ(Sample(picture.get(), 1, x, y), inside ? 90 : 0) << x << "," << y;
            ASSERT_EQ(Sample(picture.get(), 2, x, y), inside ? 240 : 0) << x << "," << y;
        }

    // Cut at the picture's edges; nothing outside it is touched (the sanitizer build checks).
    TReencodeEngine::FillRectangle(Planes(picture.get()), AV_PIX_FMT_YUV420P, 32, 24, 28, 20, 100,
                                   100, colour);
    EXPECT_EQ(Sample(picture.get(), 0, 31, 23), 81);
    EXPECT_EQ(Sample(picture.get(), 0, 27, 23), 0);
}

TEST_F(PictureGeometry, FillTurnsTheColourIntoRgbAndKeepsOtherComponents) {
    // Pure red in limited-range Y, U, V.
    const uint8_t red[3] = {81, 90, 240};
    TFramePtr rgb = MakePicture(AV_PIX_FMT_RGB24, 4, 4, {0});
    TReencodeEngine::FillRectangle(Planes(rgb.get()), AV_PIX_FMT_RGB24, 4, 4, 0, 0, 4, 4, red);
    EXPECT_NEAR(Sample(rgb.get(), 0, 0, 0), 255, 3);
    EXPECT_NEAR(Sample(rgb.get(), 0, 1, 0), 0, 3);
    EXPECT_NEAR(Sample(rgb.get(), 0, 2, 0), 0, 3);

    // 5-6-5 pixels share their bytes: each component lands in its own bits.
    TFramePtr packed = MakePicture(AV_PIX_FMT_RGB565LE, 2, 2, {0});
    TReencodeEngine::FillRectangle(Planes(packed.get()), AV_PIX_FMT_RGB565LE, 2, 2, 0, 0, 1, 1,
                                   red);
    const unsigned word = Sample(packed.get(), 0, 0, 0) | (Sample(packed.get(), 0, 1, 0) << 8);
    EXPECT_EQ(word >> 11, 31u);
    EXPECT_LE(word & 0x7FF, 0x40u) << "green and blue stay near zero";
    EXPECT_EQ(Sample(packed.get(), 0, 2, 0), 0) << "the next pixel is untouched";

    // Deeper samples keep the colour's place on their scale; alpha becomes opaque.
    TFramePtr deep = MakePicture(AV_PIX_FMT_YUVA420P10LE, 4, 4, {0, 0, 0, 0});
    TReencodeEngine::FillRectangle(Planes(deep.get()), AV_PIX_FMT_YUVA420P10LE, 4, 4, 0, 0, 4, 4,
                                   red);
    const auto word16 = [&](int plane) {
        return Sample(deep.get(), plane, 0, 0) | (Sample(deep.get(), plane, 1, 0) << 8);
    };
    EXPECT_EQ(word16(0), 81 << 2);
    EXPECT_EQ(word16(2), 240 << 2);
    EXPECT_EQ(word16(3), 1023);
}

TEST_F(PictureGeometry, DeinterlacingBlendsTheFields) {
    // Alternate rows of 0 and 200 (a comb); the chroma is flat.
    TFramePtr source = MakePicture(AV_PIX_FMT_YUV420P, 16, 8, {0, 128, 128});
    for (int y = 1; y < 8; y += 2)
        std::fill(source->data[0] + y * source->linesize[0],
                  source->data[0] + y * source->linesize[0] + 16, 200);
    TFramePtr target = MakePicture(AV_PIX_FMT_YUV420P, 16, 8);
    TFrameHookPicture out = Planes(target.get());
    ASSERT_TRUE(
        TReencodeEngine::BlendDeinterlace(Planes(source.get()), out, AV_PIX_FMT_YUV420P, 16, 8));
    EXPECT_EQ(Sample(target.get(), 0, 3, 2), 100);  // (200 + 0 + 200) / 4
    EXPECT_EQ(Sample(target.get(), 0, 3, 3), 100);  // (0 + 400 + 0) / 4
    EXPECT_EQ(Sample(target.get(), 0, 3, 0), 50);   // the edges repeat their own row
    EXPECT_EQ(Sample(target.get(), 0, 3, 7), 150);
    EXPECT_EQ(Sample(target.get(), 1, 2, 2), 128);
    // Interleaved chroma is not for this filter.
    TFramePtr nv12 = MakePicture(AV_PIX_FMT_NV12, 16, 8);
    TFrameHookPicture nvOut = Planes(nv12.get());
    EXPECT_FALSE(
        TReencodeEngine::BlendDeinterlace(Planes(nv12.get()), nvOut, AV_PIX_FMT_NV12, 16, 8));
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

TEST_F(Preprocessing, DeinterlacingWorksOnACopy) {
    engine_.Deinterlace = 1;
    TFramePtr picture = MakePicture(AV_PIX_FMT_YUV420P, 16, 8, {0, 128, 128});
    for (int y = 1; y < 8; y += 2)
        std::fill(picture->data[0] + y * picture->linesize[0],
                  picture->data[0] + y * picture->linesize[0] + 16, 200);
    uint8_t* decoded = picture->data[0];
    engine_.PreprocessPicture(stream_, picture.get());
    ASSERT_NE(picture->data[0], decoded);
    EXPECT_EQ(Sample(picture.get(), 0, 0, 2), 100);
    EXPECT_EQ(decoded[picture->linesize[0]], 200) << "the decoder's picture is untouched";

    // A format the filter cannot take is reported and passes as it was.
    TFramePtr nv12 = MakePicture(AV_PIX_FMT_NV12, 16, 8);
    uint8_t* nvData = nv12->data[0];
    engine_.PreprocessPicture(stream_, nv12.get());
    EXPECT_EQ(nv12->data[0], nvData);
    EXPECT_EQ(engine_.CountLogs("deinterlace error."), 1);
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
