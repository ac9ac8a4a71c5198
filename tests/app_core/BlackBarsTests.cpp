// Black bars found on clips made with known bars: films letterboxed and pillarboxed get their
// exact crop; pictures that only look like bars for a while (a black start, a night scene, a
// logo in a bar) lose nothing of what they show.
#include <gtest/gtest.h>

#include <string>

#include "app/core/BlackBars.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

constexpr int kWidth = 640, kHeight = 360;

struct TBarCase {
    const char* Name;
    int Letterbox, Pillarbox;
    double BlackSeconds, Dim;
    bool Logo;
    const char* Crop;  // expected
};

class BlackBars : public ::testing::TestWithParam<TBarCase> {};

TEST_P(BlackBars, CropsOnlyWhatEveryPictureHasBlack) {
    RequireMediaLibraries();
    const TBarCase& c = GetParam();
    TTempDir dir;
    TClipSpec shape;
    shape.videoCodec = "libx264";
    shape.audioCodec.clear();
    shape.width = kWidth;
    shape.height = kHeight;
    shape.durationSeconds = 6;
    shape.videoBitRate = 3000000;
    shape.noise = 3;
    shape.letterbox = c.Letterbox;
    shape.pillarbox = c.Pillarbox;
    shape.blackSeconds = c.BlackSeconds;
    shape.dim = c.Dim;
    shape.logoInBottomBar = c.Logo;
    const std::string clip = dir.File("clip.mp4");
    WriteClip(clip, shape);

    const TBlackBarSearch search = FindBlackBars(clip);
    ASSERT_TRUE(search.Crop) << search.Reason;
    EXPECT_EQ(search.Crop->Text(), c.Crop);
    EXPECT_GE(search.Pictures, 4) << "the black pictures say nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Clips, BlackBars,
    ::testing::Values(
        // 2.39:1 in 16:9: a picture 268 rows high between bars of 46.
        TBarCase{"Letterbox", 46, 0, 0, 1, false, "crop=640:268:0:46"},
        // 4:3 in 16:9: 480 columns between bars of 80.
        TBarCase{"Pillarbox", 0, 80, 0, 1, false, "crop=480:360:80:0"},
        // Odd bars round outwards: the picture keeps a black row rather than lose one.
        TBarCase{"OddBars", 45, 0, 0, 1, false, "crop=640:272:0:44"},
        // The first half black all over: the rest tells, and it is letterboxed.
        TBarCase{"BlackStart", 46, 0, 3, 1, false, "crop=640:268:0:46"},
        // A night scene just above black: nothing of it goes.
        TBarCase{"NightScene", 0, 0, 0, 0.12, false, "crop=640:360:0:0"},
        // A white logo in the bottom bar (rows 330 to 344): kept with the rows above it.
        TBarCase{"LogoInBar", 46, 0, 0, 1, true, "crop=640:300:0:46"}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST(BlackBars, AFileWithoutPicturesHasNoCropAndSaysWhy) {
    RequireMediaLibraries();
    TTempDir dir;
    TClipSpec sound;
    sound.videoCodec.clear();
    const std::string clip = dir.File("sound.mka");
    WriteClip(clip, sound);
    EXPECT_FALSE(FindBlackBars(clip).Crop);
    EXPECT_EQ(FindBlackBars(clip).Reason, "no video");
    EXPECT_EQ(FindBlackBars(dir.File("missing.mp4")).Reason, "the file does not open");

    TClipSpec black;
    black.audioCodec.clear();
    black.blackSeconds = black.durationSeconds;
    const std::string dark = dir.File("black.mp4");
    WriteClip(dark, black);
    EXPECT_EQ(FindBlackBars(dark).Reason, "every sampled picture is black");
    // Damaged from its first packets on: no bars invented, or no crop and a reason; no hang.
    TClipSpec film;
    film.audioCodec.clear();
    const std::string damaged = dir.File("damaged.mp4");
    WriteClip(damaged, film);
    DamageFile(damaged, TDamage::Overwritten, 0.02);
    const TBlackBarSearch search = FindBlackBars(damaged);
    if (search.Crop) {
        EXPECT_FALSE(search.Crop->Crops()) << search.Crop->Text() << ": no bars in the clip";
    } else {
        EXPECT_FALSE(search.Reason.empty());
    }
}

}  // namespace
