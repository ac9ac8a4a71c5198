// What the engine reads of a camera's file without converting it: the turn a display matrix
// asks for and the frame rate an encoder takes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/RateFit.h"
#include "engine/StreamChoice.h"
#include "support/TempDir.h"

namespace {

// A display matrix as the containers store it: a turn of `clockwise` degrees, then a mirror.
void MakeMatrix(int32_t matrix[9], int clockwise, bool mirrored) {
    const double radians = clockwise * M_PI / 180.0;
    const double c = std::cos(radians), s = std::sin(radians);
    // Row vectors (x y) times the matrix: a clockwise turn on the screen, 16.16 fixed point.
    const auto fixed = [](double v) { return int32_t(std::lround(v * 65536)); };
    const int32_t values[9] = {fixed(c), fixed(s), 0, fixed(-s), fixed(c), 0, 0, 0, 1 << 30};
    for (int i = 0; i < 9; ++i) matrix[i] = mirrored && i % 3 == 0 ? -values[i] : values[i];
}

struct TTurnCase {
    int Clockwise;
    bool Mirrored;
    const char* Filters;
};

class DisplayTurnTest : public ::testing::TestWithParam<TTurnCase> {
  protected:
    static void SetUpTestSuite() { RequireMediaLibraries(); }
};

TEST_P(DisplayTurnTest, ReadsTheTurnAndItsFilters) {
    int32_t matrix[9];
    MakeMatrix(matrix, GetParam().Clockwise, GetParam().Mirrored);
    const TDisplayTransform transform = DisplayTransformOf(matrix);
    EXPECT_EQ(transform.ClockwiseDegrees, (GetParam().Clockwise + 360) % 360);
    EXPECT_EQ(transform.Mirrored, GetParam().Mirrored);
    EXPECT_EQ(transform.FilterText(), GetParam().Filters);
    EXPECT_EQ(transform.SwapsSides(), GetParam().Clockwise % 180 != 0);
}

INSTANTIATE_TEST_SUITE_P(Turns, DisplayTurnTest,
                         ::testing::Values(TTurnCase{0, false, ""},
                                           TTurnCase{90, false, "transpose=clock"},
                                           TTurnCase{180, false, "hflip,vflip"},
                                           TTurnCase{270, false, "transpose=cclock"},
                                           TTurnCase{-90, false, "transpose=cclock"},
                                           TTurnCase{0, true, "hflip"},
                                           TTurnCase{90, true, "transpose=clock,hflip"},
                                           TTurnCase{270, true, "transpose=cclock,hflip"}));

TEST_F(DisplayTurnTest, LeavesAnOddAngleAlone) {
    int32_t matrix[9];
    MakeMatrix(matrix, 30, false);
    EXPECT_TRUE(DisplayTransformOf(matrix).Identity());
}

struct TRateCase {
    const char* Encoder;
    AVRational Requested;
    AVRational Expected;
};

class RateFitTest : public ::testing::TestWithParam<TRateCase> {
  protected:
    static void SetUpTestSuite() { RequireMediaLibraries(); }
};

TEST_P(RateFitTest, GivesARateTheEncoderTakes) {
    const AVCodec* encoder = LibAVCodec.avcodec_find_encoder_by_name(GetParam().Encoder);
    ASSERT_NE(encoder, nullptr);
    const AVRational requested = GetParam().Requested;
    const AVRational fitted = FitFrameRate(encoder, requested);
    if (GetParam().Expected.num) {
        EXPECT_EQ(FrameRateText(fitted), FrameRateText(GetParam().Expected));
        return;
    }
    // {0, 0}: no rate of its own is near; the nearest fraction within 16 bits.
    EXPECT_LE(fitted.num, 65535);
    EXPECT_NEAR(av_q2d(fitted), av_q2d(requested), av_q2d(requested) * 1e-4);
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, RateFitTest,
    ::testing::Values(
        // A phone's 29.99 is 29.97 for MPEG-4 Part 2, whose time scale has 16 bits.
        TRateCase{"mpeg4", {90000, 3001}, {30000, 1001}},
        TRateCase{"mpeg4", {30000, 1001}, {30000, 1001}},
        // Not near a standard rate: the nearest fraction within 16 bits.
        TRateCase{"mpeg4", {70000, 2001}, {0, 0}},
        // MPEG-1 and MPEG-2 code only their list.
        TRateCase{"mpeg1video", {90000, 3001}, {30000, 1001}},
        TRateCase{"mpeg2video", {25, 1}, {25, 1}}, TRateCase{"mpeg1video", {1000, 1}, {60, 1}},
        // Encoders without a limit keep the rate.
        TRateCase{"libx264", {90000, 3001}, {90000, 3001}}),
    [](const auto& testInfo) {
        return std::string(testInfo.param.Encoder) + "_" + std::to_string(testInfo.index);
    });

}  // namespace
