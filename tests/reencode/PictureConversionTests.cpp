// Whole conversions that change pictures: crop, scale and pad, the hooks, frame-rate
// conversion, the frame limit, the statistics file and a stop in the middle. Outputs that tests
// compare pixel by pixel use a lossless encoder, so the comparison can be exact.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>

#include "reencode/ReencodeSupport.h"
#include "support/DecodeMedia.h"
#include "support/EngineModes.h"
#include "support/Ffprobe.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

// The part of a decoded picture from (left, top), width × height.
TDecodedFrame Region(const TDecodedFrame& frame, int left, int top, int width, int height) {
    TDecodedFrame region;
    region.width = width;
    region.height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            region.y.push_back(frame.y[size_t(top + y) * frame.width + left + x]);
    return region;
}

uint8_t Luma(const TDecodedFrame& frame, int x, int y) {
    return frame.y[size_t(y) * frame.width + x];
}
uint8_t ChromaU(const TDecodedFrame& frame, int x, int y) {
    return frame.u[size_t(y) * ((frame.width + 1) / 2) + x];
}
uint8_t ChromaV(const TDecodedFrame& frame, int x, int y) {
    return frame.v[size_t(y) * ((frame.width + 1) / 2) + x];
}

class PictureConversion : public testing::TestWithParam<bool> {
  protected:
    void SetUp() override { RequireMediaLibraries(); }

    // A clip without sound (the picture is what these tests look at).
    std::string MakeClip(AVRational rate = {25, 1}, double seconds = 1.0) {
        const std::string path = folder_.File("clip" + std::to_string(clips_++) + ".mkv");
        TClipSpec clipSpec;
        clipSpec.audioCodec.clear();
        clipSpec.frameRate = rate;
        clipSpec.durationSeconds = seconds;
        WriteClip(path, clipSpec);
        return path;
    }

    TTempDir folder_;
    TReencodeEngine engine_{GetParam()};
    int clips_ = 0;
};

const TOptionList kLossless = {{"vcodec", "ffv1"}, {"an", ""}};

TOptionList With(TOptionList options, const TOptionList& more) {
    options.insert(options.end(), more.begin(), more.end());
    return options;
}

TEST_P(PictureConversion, CropKeepsExactlyTheChosenPart) {
    const std::string input = MakeClip();
    const std::string output = folder_.File("cropped.mkv");
    ASSERT_EQ(Convert(engine_, input, {}, output,
                      With(kLossless, {{"croptop", "40"},
                                       {"cropbottom", "8"},
                                       {"cropleft", "32"},
                                       {"cropright", "16"}})),
              "");
    const auto source = DecodeVideoFrames(input, 3);
    const auto result = DecodeVideoFrames(output, 3);
    ASSERT_EQ(result.size(), 3u);
    ASSERT_EQ(result[0].width, 272);
    ASSERT_EQ(result[0].height, 192);
    for (size_t i = 0; i < result.size(); ++i) {
        for (int y = 0; y < 192; y += 7)
            for (int x = 0; x < 272; x += 5)
                ASSERT_EQ(Luma(result[i], x, y), Luma(source[i], x + 32, y + 40))
                    << "frame " << i << " at " << x << "," << y;
        EXPECT_EQ(ChromaU(result[i], 10, 10), ChromaU(source[i], 10 + 16, 10 + 20));
    }
}

TEST_P(PictureConversion, PaddingFramesThePictureInThePadColour) {
    const std::string input = MakeClip();
    const std::string output = folder_.File("padded.mkv");
    // Red, as the option layer turns it into Y, U, V.
    TReencodeEngine options;
    options.Reset();
    options.ParseOption("padcolor", "255");
    const uint8_t colour[3] = {uint8_t(options.PadColor[0] & 0xFF),
                               uint8_t(options.PadColor[1] & 0xFF),
                               uint8_t(options.PadColor[2] & 0xFF)};
    ASSERT_EQ(Convert(engine_, input, {}, output,
                      With(kLossless, {{"padtop", "16"},
                                       {"padbottom", "8"},
                                       {"padleft", "24"},
                                       {"padright", "32"},
                                       {"padcolor", "255"}})),
              "");
    const auto source = DecodeVideoFrames(input, 2);
    const auto result = DecodeVideoFrames(output, 2);
    ASSERT_EQ(result.size(), 2u);
    const TDecodedFrame& frame = result[1];
    ASSERT_EQ(frame.width, 320 + 24 + 32);
    ASSERT_EQ(frame.height, 240 + 16 + 8);
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const bool border = y < 16 || y >= 16 + 240 || x < 24 || x >= 24 + 320;
            const uint8_t expected = border ? colour[0] : Luma(source[1], x - 24, y - 16);
            ASSERT_EQ(Luma(frame, x, y), expected) << x << "," << y;
        }
    for (int y = 0; y < frame.height / 2; y += 3)
        for (int x = 0; x < frame.width / 2; x += 3) {
            const bool border = y < 8 || y >= 8 + 120 || x < 12 || x >= 12 + 160;
            if (!border) continue;
            ASSERT_EQ(ChromaU(frame, x, y), colour[1]) << x << "," << y;
            ASSERT_EQ(ChromaV(frame, x, y), colour[2]) << x << "," << y;
        }
}

TEST_P(PictureConversion, ATurnedPictureIsCroppedAndPaddedUpright) {
    // A phone's portrait clip: 320x240 coded, shown turned a quarter clockwise (240x320).
    const std::string coded = MakeClip();
    const std::string input = folder_.File("turned.mp4");
    CopyWithDisplayMatrix(coded, input, 90, false);
    const std::string output = folder_.File("turned.mkv");
    ASSERT_EQ(
        Convert(
            engine_, input, {}, output,
            With(kLossless,
                 {{"croptop", "16"}, {"cropleft", "8"}, {"padbottom", "16"}, {"padright", "8"}})),
        "");
    const auto source = DecodeVideoFrames(coded, 2);
    const auto result = DecodeVideoFrames(output, 2);
    ASSERT_EQ(result.size(), 2u);
    const TDecodedFrame& frame = result[1];
    ASSERT_EQ(frame.width, 240);
    ASSERT_EQ(frame.height, 320);
    // Upright (x, y) is coded (y, 239 - x); the crop takes 16 rows and 8 columns off the
    // upright picture's top and left, the padding adds them at its bottom and right.
    for (int y = 0; y < 320; ++y)
        for (int x = 0; x < 240; ++x) {
            const bool pad = y >= 320 - 16 || x >= 240 - 8;
            const uint8_t expected = pad ? 16 : Luma(source[1], y + 16, 239 - (x + 8));
            ASSERT_EQ(Luma(frame, x, y), expected) << x << "," << y;
        }
}

TEST_P(PictureConversion, DeinterlacingBlendsEachRowWithItsNeighbours) {
    const std::string input = MakeClip();
    const std::string output = folder_.File("deinterlaced.mkv");
    ASSERT_EQ(Convert(engine_, input, {}, output, With(kLossless, {{"deinterlace", ""}})), "");
    const auto source = DecodeVideoFrames(input, 3);
    const auto result = DecodeVideoFrames(output, 3);
    ASSERT_EQ(result.size(), 3u);
    for (size_t i = 0; i < result.size(); ++i)
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; x += 3) {
                // The edges repeat their own row.
                const int above = Luma(source[i], x, std::max(y - 1, 0));
                const int below = Luma(source[i], x, std::min(y + 1, 239));
                const int expected = (above + 2 * Luma(source[i], x, y) + below + 2) >> 2;
                ASSERT_EQ(Luma(result[i], x, y), expected)
                    << "frame " << i << " at " << x << "," << y;
            }
}

TEST_P(PictureConversion, DeinterlacingPassesPicturesItCannotTakeAsTheyAreAndSaysSo) {
    // Packed RGB: not the planar 8-bit samples the blend works on.
    const std::string input = folder_.File("rgb.mkv");
    TClipSpec rgb;
    rgb.audioCodec.clear();
    rgb.videoCodec = "ffv1";
    rgb.pixelFormat = AV_PIX_FMT_BGR0;
    rgb.durationSeconds = 0.2;
    WriteClip(input, rgb);
    const std::string plain = folder_.File("plain.mkv");
    const std::string output = folder_.File("rgb-deinterlaced.mkv");
    ASSERT_EQ(Convert(engine_, input, {}, plain, kLossless), "");
    ASSERT_EQ(engine_.CountLogs("deinterlace error."), 0);
    ASSERT_EQ(Convert(engine_, input, {}, output, With(kLossless, {{"deinterlace", ""}})), "");
    EXPECT_EQ(engine_.CountLogs("deinterlace error."), 5) << "once per picture";
    const auto expected = DecodeVideoFrames(plain);
    const auto result = DecodeVideoFrames(output);
    ASSERT_EQ(result.size(), 5u);
    ASSERT_EQ(expected.size(), 5u);
    for (size_t i = 0; i < result.size(); ++i) EXPECT_EQ(result[i].y, expected[i].y) << i;
}

TEST_P(PictureConversion, AFullRangeSourceIsConvertedToLimitedRangeOnce) {
    // A camera's motion JPEG: full-range YUV. The test's decoder converts it to limited range
    // as the output's scaler should, once.
    const std::string input = folder_.File("camera.avi");
    TClipSpec camera;
    camera.audioCodec.clear();
    camera.videoCodec = "mjpeg";
    camera.pixelFormat = AV_PIX_FMT_YUVJ420P;
    camera.videoBitRate = 4000000;
    camera.durationSeconds = 0.4;
    WriteClip(input, camera);
    const std::string output = folder_.File("limited.mkv");
    ASSERT_EQ(Convert(engine_, input, {}, output, With(kLossless, {{"pix_fmt", "yuv420p"}})), "");
    const auto source = DecodeVideoFrames(input, 2);
    const auto result = DecodeVideoFrames(output, 2);
    ASSERT_EQ(result.size(), 2u);
    for (int y = 0; y < 240; y += 2)
        for (int x = 0; x < 320; x += 2)
            ASSERT_NEAR(Luma(result[1], x, y), Luma(source[1], x, y), 1) << x << "," << y;
    EXPECT_EQ(engine_.CountLogs("Input picture changed"), 0) << "the pictures never changed";
}

TEST_P(PictureConversion, ScaledCroppedAndPaddedPictureHasTheRightSizeAndBorders) {
    const std::string input = MakeClip();
    const std::string output = folder_.File("scaled.avi");
    // 320x240 cropped by 16 left and right to 288x240, scaled to 144x120, framed by 16, 8, 8
    // and 24 pixels: 176x144 in the default pad colour (black).
    ASSERT_EQ(Convert(engine_, input, {}, output,
                      {{"an", ""},
                       {"vcodec", "mpeg4"},
                       {"qscale", "2"},
                       {"cropleft", "16"},
                       {"cropright", "16"},
                       {"s", "144x120"},
                       {"padleft", "16"},
                       {"padright", "16"},
                       {"padtop", "8"},
                       {"padbottom", "16"}}),
              "");
    const TProbedFile probe = RunFfprobe(output);
    ASSERT_TRUE(probe.ok) << probe.error;
    ASSERT_NE(probe.First("video"), nullptr);
    EXPECT_EQ(probe.First("video")->width, 176);
    EXPECT_EQ(probe.First("video")->height, 144);

    const auto frames = DecodeVideoFrames(output);
    ASSERT_EQ(frames.size(), 25u);
    for (const TDecodedFrame& frame : {frames[3], frames[20]}) {
        // The borders are black (Y 16), away from the edge coding smears.
        for (int x = 0; x < 176; x += 4) {
            EXPECT_NEAR(Luma(frame, x, 2), 16, 6) << x;
            EXPECT_NEAR(Luma(frame, x, 140), 16, 6) << x;
        }
        for (int y = 0; y < 144; y += 4) {
            EXPECT_NEAR(Luma(frame, 4, y), 16, 6) << y;
            EXPECT_NEAR(Luma(frame, 172, y), 16, 6) << y;
        }
        // Inside: the picture, not the pad.
        int64_t sum = 0, count = 0;
        for (int y = 8; y < 128; y += 2)
            for (int x = 16; x < 160; x += 2, ++count) sum += Luma(frame, x, y);
        EXPECT_GT(sum / count, 40);
    }
}

TEST_P(PictureConversion, ScalingKeepsTheFramesInOrder) {
    const std::string input = MakeClip();
    const std::string output = folder_.File("half.avi");
    ASSERT_EQ(Convert(engine_, input, {}, output,
                      {{"an", ""},
                       {"vcodec", "mpeg4"},
                       {"qscale", "2"},
                       {"s", "160x120"},
                       {"padtop", "8"},
                       {"padbottom", "8"}}),
              "");
    const auto frames = DecodeVideoFrames(output);
    ASSERT_EQ(frames.size(), 25u);
    for (int i = 0; i < 25; ++i) EXPECT_EQ(ReadFrameNumber(Region(frames[i], 0, 8, 160, 120)), i);
}

// ---- Hooks.

TEST_P(PictureConversion, ACustomHookMarkReachesTheEncodedFrames) {
    const std::string input = MakeClip();
    const std::string output = folder_.File("marked.mkv");
    int calls = 0;
    const auto hook = [&](TCustomFFmpeg*, THookBitmap& bitmap, int32_t number, int64_t,
                          bool& update, bool&) {
        ++calls;
        // A white square at the bottom right of odd frames; even frames are left alone.
        update = number % 2 == 1;
        if (!update) return;
        for (int y = 200; y < 232; ++y)
            std::fill(bitmap.Row(y) + 270 * 3, bitmap.Row(y) + 310 * 3, 255);
    };
    ASSERT_EQ(Convert(engine_, input, {}, output, kLossless,
                      [&](TReencodeEngine& engine) { engine.OnCustomHook = hook; }),
              "");
    EXPECT_EQ(calls, 25);
    const auto source = DecodeVideoFrames(input);
    const auto frames = DecodeVideoFrames(output);
    ASSERT_EQ(frames.size(), 25u);
    for (int i = 0; i < 25; ++i) {
        if (i % 2 == 0) {
            EXPECT_NEAR(Luma(frames[i], 290, 216), 235, 4) << "frame " << i;
            EXPECT_EQ(ReadFrameNumber(frames[i]), i) << "the rest of the picture is the frame's";
        } else {
            EXPECT_EQ(frames[i].y, source[i].y) << "frame " << i;
        }
    }
}

TEST_P(PictureConversion, ACustomHookThatLeavesUpdateFalseChangesNothing) {
    const std::string input = MakeClip();
    const std::string output = folder_.File("unmarked.mkv");
    const auto hook = [&](TCustomFFmpeg*, THookBitmap& bitmap, int32_t, int64_t, bool& update,
                          bool&) {
        std::fill(bitmap.Bits(), bitmap.Bits() + bitmap.Stride() * bitmap.Height(), 255);
        update = false;
    };
    ASSERT_EQ(Convert(engine_, input, {}, output, kLossless,
                      [&](TReencodeEngine& engine) { engine.OnCustomHook = hook; }),
              "");
    const auto source = DecodeVideoFrames(input);
    const auto result = DecodeVideoFrames(output);
    ASSERT_EQ(result.size(), source.size());
    for (size_t i = 0; i < result.size(); ++i) {
        EXPECT_EQ(result[i].y, source[i].y) << "frame " << i;
        EXPECT_EQ(result[i].v, source[i].v) << "frame " << i;
    }
}

TEST_P(PictureConversion, AFrameHookModuleWorksOnlyInsideItsTimeRange) {
    const std::string input = MakeClip();
    const std::string output = folder_.File("boxed.mkv");
    ASSERT_EQ(Convert(engine_, input, {}, output,
                      With(kLossless, {{"vhook", std::string(DZ_DRAWBOX_HOOK) +
                                                     "|-x|280|-y|200|-w|20|-h|20|-c|255,128,128"}}),
                      [](TReencodeEngine& engine) {
                          engine.SetHookTimeRanges({{400000, 600000}});
                      }),
              "");
    const auto frames = DecodeVideoFrames(output);
    ASSERT_EQ(frames.size(), 25u);
    // Frame i is at i × 40 ms: frames 10 to 15 lie in the range.
    for (int i = 0; i < 25; ++i)
        EXPECT_EQ(Luma(frames[i], 290, 210) == 255, i >= 10 && i <= 15) << "frame " << i;
    EXPECT_FALSE(engine_.FrameHooksInUse) << "switched off after the last range";
}

// ---- Frame rate and frame limit.

// The engine's verbosity for the drop and duplicate lines, leaving the libraries' log level.
const auto kLogSync = [](TReencodeEngine& engine) { engine.Verbose = 3; };

TEST_P(PictureConversion, ThirtyToTwentyFiveFramesASecondDropsFrames) {
    const std::string input = MakeClip({30, 1}, 2.0);
    const std::string output = folder_.File("25.avi");
    ASSERT_EQ(Convert(engine_, input, {}, output,
                      {{"an", ""}, {"vcodec", "mpeg4"}, {"qscale", "3"}, {"r", "25"}}, kLogSync),
              "");
    // 60 pictures for 50 frames; the output may run up to a frame behind at the end.
    EXPECT_GE(engine_.DroppedFrames, 9);
    EXPECT_LE(engine_.DroppedFrames, 10);
    EXPECT_EQ(engine_.DuplicatedFrames, 0);
    EXPECT_EQ(engine_.CountLogs("*** drop!"), engine_.DroppedFrames);
    EXPECT_GE(engine_.CountLogs(" dup=0 drop=" + std::to_string(engine_.DroppedFrames)), 1)
        << "the last progress line reports the count";
    const auto frames = DecodeVideoFrames(output);
    ASSERT_EQ(frames.size(), 60u - engine_.DroppedFrames);
    // Output frame k shows a picture from about its time (the output may lag by up to 1.1 of
    // its frames, 1.32 input frames), and no picture twice.
    int last = -1;
    for (size_t k = 0; k < frames.size(); ++k) {
        const int number = ReadFrameNumber(frames[k]);
        EXPECT_GT(number, last) << "output frame " << k;
        EXPECT_NEAR(number, k * 30.0 / 25.0, 1.35) << "output frame " << k;
        last = number;
    }
}

TEST_P(PictureConversion, FifteenToThirtyFramesASecondDuplicatesFrames) {
    const std::string input = MakeClip({15, 1}, 2.0);
    const std::string output = folder_.File("30.avi");
    ASSERT_EQ(Convert(engine_, input, {}, output,
                      {{"an", ""}, {"vcodec", "mpeg4"}, {"qscale", "3"}, {"r", "30"}}, kLogSync),
              "");
    // 30 pictures for 60 frames: nearly every picture is emitted twice; the output may run up
    // to a frame behind.
    EXPECT_GE(engine_.DuplicatedFrames, 28);
    EXPECT_LE(engine_.DuplicatedFrames, 30);
    EXPECT_EQ(engine_.DroppedFrames, 0);
    EXPECT_EQ(engine_.CountLogs("*** 1 dup!"), engine_.DuplicatedFrames);
    EXPECT_GE(engine_.CountLogs(" dup=" + std::to_string(engine_.DuplicatedFrames) + " drop=0"), 1)
        << "the last progress line reports the count";
    const auto frames = DecodeVideoFrames(output);
    ASSERT_EQ(frames.size(), 30u + engine_.DuplicatedFrames);
    int last = 0;
    for (size_t k = 0; k < frames.size(); ++k) {
        const int number = ReadFrameNumber(frames[k]);
        EXPECT_NEAR(number, k / 2.0, 1.0) << "output frame " << k;
        EXPECT_GE(number, last) << "output frame " << k;
        last = number;
    }
}

TEST_P(PictureConversion, TheFrameLimitStopsTheVideoEvenAmidDuplicates) {
    const std::string input = MakeClip({5, 1}, 2.0);
    const std::string output = folder_.File("limited.avi");
    ASSERT_EQ(Convert(engine_, input, {}, output,
                      {{"an", ""}, {"vcodec", "mpeg4"}, {"r", "25"}, {"vframes", "12"}}),
              "");
    const TProbedFile probe = RunFfprobe(output, false, true);
    ASSERT_TRUE(probe.ok) << probe.error;
    ASSERT_NE(probe.First("video"), nullptr);
    EXPECT_EQ(probe.First("video")->frames, 12);
}

// ---- Statistics and stopping.

TEST_P(PictureConversion, TheStatisticsFileHasOneLinePerEncodedPicture) {
    const std::string input = MakeClip();
    const std::string output = folder_.File("stats.avi");
    const std::string stats = folder_.File("video.stats");
    ASSERT_EQ(Convert(engine_, input, {}, output,
                      {{"an", ""}, {"vcodec", "mpeg4"}, {"psnr", ""}, {"vstats_file", stats}}),
              "");
    std::ifstream file(stats);
    const std::regex line(
        R"(frame= +\d+ q= *\d+\.\d PSNR= +(inf|[0-9.]+) f_size= +\d+ s_size= +\d+kB time= \d+\.\d{3} )"
        R"(br= +\d+\.\dkbits/s avg_br= +\d+\.\dkbits/s type= [IPB])");
    int lines = 0, intra = 0;
    int lastFrame = 0;
    for (std::string text; std::getline(file, text); ++lines) {
        EXPECT_TRUE(std::regex_match(text, line)) << text;
        intra += text.back() == 'I';
        const int frame = std::stoi(text.substr(6));
        EXPECT_GT(frame, lastFrame);
        lastFrame = frame;
    }
    EXPECT_EQ(lines, 25);
    EXPECT_GE(intra, 1);
}

TEST_P(PictureConversion, FixedQualityReachesEveryPicture) {
    const std::string input = MakeClip();
    const std::string stats = folder_.File("fixed.stats");
    ASSERT_EQ(Convert(engine_, input, {}, folder_.File("fixed.avi"),
                      {{"an", ""}, {"vcodec", "mpeg4"}, {"qscale", "5"}, {"vstats_file", stats}}),
              "");
    std::ifstream file(stats);
    int lines = 0;
    for (std::string text; std::getline(file, text); ++lines)
        EXPECT_NE(text.find(" q= 5.0 "), std::string::npos) << text;
    EXPECT_EQ(lines, 25);
}

TEST_P(PictureConversion, AStopDuringTheRunEndsItWithAReadableFile) {
    const std::string input = MakeClip({25, 1}, 2.0);
    const std::string output = folder_.File("stopped.avi");
    const auto hook = [](TCustomFFmpeg* sender, THookBitmap&, int32_t number, int64_t, bool& update,
                         bool&) {
        update = false;
        if (number == 10) sender->Stop();
    };
    EXPECT_EQ(Convert(engine_, input, {}, output, {{"an", ""}, {"vcodec", "mpeg4"}},
                      [&](TReencodeEngine& engine) { engine.OnCustomHook = hook; }),
              "the run did not complete");
    EXPECT_FALSE(engine_.HasError());
    const TProbedFile probe = RunFfprobe(output, false, true);
    ASSERT_TRUE(probe.ok) << probe.error;
    ASSERT_NE(probe.First("video"), nullptr);
    EXPECT_GE(probe.First("video")->frames, 8);
    EXPECT_LE(probe.First("video")->frames, 10);
}

}  // namespace

namespace {

TEST_P(PictureConversion, TwoPassesLandCloserToTheTargetBitRateThanOne) {
    const std::string input = MakeClip({25, 1}, 2.0);
    const std::string log = folder_.File("passes");
    // A target the one-pass rate control misses by far on so short a clip.
    const TOptionList video = {{"an", ""}, {"vcodec", "mpeg4"}, {"b", "50k"}};
    const auto sizeOf = [](const std::string& path) {
        return StreamBytes(path, AVMEDIA_TYPE_VIDEO);
    };

    const std::string single = folder_.File("single.avi");
    ASSERT_EQ(Convert(engine_, input, {}, single, video), "");
    const std::string first = folder_.File("first.avi");
    ASSERT_EQ(
        Convert(engine_, input, {}, first, With(video, {{"pass", "1"}, {"passlogfile", log}})), "");
    std::ifstream statistics(log + "-0.log");
    ASSERT_TRUE(statistics.good()) << "the first pass writes " << log << "-0.log";
    int lines = 0;
    for (std::string text; std::getline(statistics, text);) lines += !text.empty();
    EXPECT_GE(lines, 50) << "a line per picture";
    statistics.close();

    const std::string second = folder_.File("second.avi");
    ASSERT_EQ(
        Convert(engine_, input, {}, second, With(video, {{"pass", "2"}, {"passlogfile", log}})),
        "");
    const double target = 50000.0 / 8 * 2;
    const double singleError = std::fabs(sizeOf(single) - target);
    const double twoPassError = std::fabs(sizeOf(second) - target);
    EXPECT_LT(twoPassError, singleError / 2);
}

TEST_P(PictureConversion, ASecondPassItsFirstCannotMeetEndsWithTheRateItNeeds) {
    // The library's encoder would refuse these rates and then corrupt the heap closing itself.
    const std::string input = MakeClip({25, 1}, 2.0);
    const std::string log = folder_.File("passes");
    const TOptionList video = {{"an", ""}, {"vcodec", "mpeg4"}, {"passlogfile", log}};
    ASSERT_EQ(Convert(engine_, input, {}, folder_.File("first.avi"),
                      With(video, {{"b", "50k"}, {"pass", "1"}})),
              "");

    const std::string second = folder_.File("second.avi");
    const std::string refusal =
        Convert(engine_, input, {}, second, With(video, {{"b", "5k"}, {"pass", "2"}}));
    std::smatch needed;
    ASSERT_TRUE(std::regex_search(
        refusal, needed,
        std::regex("^run: Bit rate 5 kbit/s is too low for the second pass of output stream #0.0: "
                   "its first pass needs at least ([0-9]+) kbit/s$")))
        << refusal;
    EXPECT_FALSE(std::filesystem::exists(second));
    // The rate it names is one the encoder takes.
    EXPECT_EQ(Convert(engine_, input, {}, second,
                      With(video, {{"b", needed[1].str() + "k"}, {"pass", "2"}})),
              "");
    EXPECT_GT(StreamBytes(second, AVMEDIA_TYPE_VIDEO), 0);
}

}  // namespace

namespace {

TEST_P(PictureConversion, APictureSizeChangeMidStreamIsScaledToTheOutputSize) {
    // Two MPEG-2 transport streams, 320x240 then 160x120 a second later, joined byte by byte:
    // the decoder changes its picture size in the middle of the stream.
    const std::string first = MakeClip({25, 1}, 1.0);
    TClipSpec small;
    small.audioCodec.clear();
    small.width = 160;
    small.height = 120;
    small.durationSeconds = 1.0;
    const std::string second = folder_.File("small.mkv");
    WriteClip(second, small);
    const std::string partA = folder_.File("a.ts"), partB = folder_.File("b.ts");
    const TOptionList mpeg2 = {{"vcodec", "mpeg2video"}, {"qscale", "2"}};
    ASSERT_EQ(Convert(engine_, first, {}, partA, mpeg2), "");
    // The second part keeps its offset timestamps ("vsync" 0) instead of filling the first
    // second with copies of its first picture.
    ASSERT_EQ(Convert(engine_, second, {{"itsoffset", "1"}}, partB, With(mpeg2, {{"vsync", "0"}})),
              "");
    const std::string joined = folder_.File("joined.ts");
    {
        std::ofstream out(joined, std::ios::binary);
        for (const std::string& part : {partA, partB}) {
            std::ifstream in(part, std::ios::binary);
            out << in.rdbuf();
        }
    }
    for (const std::string& size : {std::string("320x240"), std::string("240x180")}) {
        SCOPED_TRACE(size);
        const std::string output = folder_.File("resized" + size + ".avi");
        const int changesBefore = engine_.CountLogs("Input picture changed to 160x120");
        ASSERT_EQ(Convert(engine_, joined, {}, output,
                          {{"vcodec", "mpeg4"}, {"qscale", "2"}, {"s", size}}),
                  "");
        // Every picture of both parts is there, at the output's size and readable (the
        // decoder may give up the last picture before the change).
        const auto frames = DecodeVideoFrames(output);
        ASSERT_GE(frames.size(), 49u);
        ASSERT_LE(frames.size(), 50u);
        int restarts = 0, last = -1;
        for (size_t i = 0; i < frames.size(); ++i) {
            const int number = ReadFrameNumber(frames[i]);
            ASSERT_GE(number, 0) << "frame " << i;
            if (number != last + 1) {
                ++restarts;
                EXPECT_EQ(number, 0) << "frame " << i;
            }
            last = number;
        }
        EXPECT_EQ(restarts, 1);
        EXPECT_EQ(last, 24);
        // Once per run, not once per picture.
        EXPECT_EQ(engine_.CountLogs("Input picture changed to 160x120") - changesBefore, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, PictureConversion, EngineModes(), TEngineModeName());

}  // namespace
