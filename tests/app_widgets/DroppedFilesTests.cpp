// Which files a drop adds, and the kernel version test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/core/DroppedFiles.h"
#include "app/widgets/FontAdjustment.h"
#include "support/TempDir.h"

namespace {

TEST(DroppedFilesTest, FoldersStandForTheirMediaFilesAndFilesForThemselves) {
    TTempDir dir;
    const auto touch = [&](const std::filesystem::path& relative) {
        const auto path = dir.Path() / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << "x";
        return path.string();
    };
    const std::string loose = touch("loose.txt");
    touch("films/b.avi");
    touch("films/A.MKV");
    touch("films/a.MP4");
    touch("films/notes.txt");
    touch("films/2024/summer.mov");
    touch("films/2024/._summer.mov");  // hidden companions are not media
    touch("films/.cache/c.avi");
    const std::string folder = (dir.Path() / "films").string();

    const auto files =
        ExpandDroppedPaths({loose, folder, (dir.Path() / "gone.avi").string(), folder + "/b.avi"});
    // A missing file named on its own stays: its row will say that it is missing.
    EXPECT_EQ(files, (std::vector<std::string>{
                         loose, folder + "/2024/summer.mov", folder + "/A.MKV", folder + "/a.MP4",
                         folder + "/b.avi", (dir.Path() / "gone.avi").string()}));
}

TEST(DroppedFilesTest, SupportedKindsFollowTheOpenDialogsFilter) {
    for (const char* name : {"a.avi", "b.VOB", "c.qt", "d.mjpeg", "e.aiff", "f.flv", "g.m4a",
                             "h.mkv", "i.FLAC", "j.webm", "k.m2ts", "l.opus", "m.ogv"}) {
        EXPECT_TRUE(IsSupportedMediaFile(name)) << name;
    }
    for (const char* name : {"b.txt", "avi", "c.avi.part", "d."}) {
        EXPECT_FALSE(IsSupportedMediaFile(name)) << name;
    }
}

TEST(KernelVersionTest, ReadsTheMajorVersion) {
    EXPECT_EQ(KernelMajorVersion("6.1.0-18-amd64"), 6);
    EXPECT_EQ(KernelMajorVersion("5.15.0"), 5);
    EXPECT_EQ(KernelMajorVersion("10.2"), 10);
    EXPECT_EQ(KernelMajorVersion(""), 0);
    EXPECT_EQ(KernelMajorVersion("unknown"), 0);
}

}  // namespace
