// Thumbnails of the file list: a phone's turned clip shows upright, the cache serves a file until
// it changes, and a file without a picture says why.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/core/Thumbnails.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

TEST(Thumbnails, TurnedClipIsUprightAndCachedUntilItChanges) {
    RequireMediaLibraries();
    TTempDir dir;
    TClipSpec shape;  // 320x240 as coded
    shape.durationSeconds = 3;
    const std::string coded = dir.File("coded.mkv");
    WriteClip(coded, shape);
    const std::string phone = dir.File("phone.mp4");
    CopyWithDisplayMatrix(coded, phone, 90, false);
    const TThumbnailMaker maker(dir.File("cache"), 64);

    const TThumbnail first = maker.Make(phone);
    ASSERT_TRUE(first.Ok()) << first.Reason;
    EXPECT_EQ(first.Width, 48);
    EXPECT_EQ(first.Height, 64);
    EXPECT_FALSE(first.FromCache);
    ASSERT_TRUE(std::filesystem::exists(maker.CacheFileOf(phone)));

    const TThumbnail again = maker.Make(phone);
    EXPECT_TRUE(again.FromCache);
    EXPECT_EQ(again.Width, first.Width);
    EXPECT_EQ(again.Rgb, first.Rgb);

    // The same name, now a landscape clip: the cache's picture is stale.
    CopyWithDisplayMatrix(coded, phone, 0, false);
    std::filesystem::last_write_time(
        phone, std::filesystem::last_write_time(phone) + std::chrono::seconds(2));
    const TThumbnail changed = maker.Make(phone);
    ASSERT_TRUE(changed.Ok()) << changed.Reason;
    EXPECT_FALSE(changed.FromCache);
    EXPECT_EQ(changed.Width, 64);
    EXPECT_EQ(changed.Height, 48);
}

TEST(Thumbnails, FilesWithoutAPictureSayWhy) {
    RequireMediaLibraries();
    TTempDir dir;
    TClipSpec sound;
    sound.videoCodec.clear();
    const std::string song = dir.File("song.mka");
    WriteClip(song, sound);
    const std::string text = dir.File("notes.mp4");
    std::ofstream(text) << "not a media file\n";
    const TThumbnailMaker maker(dir.File("cache"), 64);
    for (const auto& [file, reason] : {std::pair{song, "no video"},
                                       {text, "the file does not open"},
                                       {dir.File("missing.mp4"), "the file cannot be read"}}) {
        const TThumbnail thumbnail = maker.Make(file);
        EXPECT_FALSE(thumbnail.Ok()) << file;
        EXPECT_EQ(thumbnail.Reason, reason) << file;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("cache"))) << "nothing cached for them";
}

}  // namespace
