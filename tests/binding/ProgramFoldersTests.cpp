// The program's own files found from its folder: beside it in the build folder, in the
// installed data and frame-hook folders after installation (relative to bin/, so any prefix
// works), and frame-hook module names resolved to those files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "binding/FrameHook.h"
#include "binding/ProgramFolders.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// A prefix laid out as `cmake --install` lays it out, or a build folder.
class ProgramFoldersTest : public ::testing::Test {
  protected:
    std::string Put(const std::string& relative) {
        const fs::path path = root_.Path() / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "x";
        return path.string();
    }
    std::string Folder(const std::string& relative) {
        const fs::path path = root_.Path() / relative;
        fs::create_directories(path);
        return path.string();
    }

    TTempDir root_;
};

TEST_F(ProgramFoldersTest, InstalledFilesAreFoundFromTheProgramsFolder) {
    const std::string bin = Folder("usr/bin");
    const std::string help = Put("usr/share/daziziz/help.html");
    const std::string german = Put("usr/share/daziziz/translations/daziziz_de.qm");
    const std::string hook = Put("usr/lib/daziziz/framehooks/drawbox.so");

    EXPECT_EQ(FindProgramFile(TProgramFiles::Data, "help.html", bin), help);
    EXPECT_EQ(FindProgramFile(TProgramFiles::Data, "translations/daziziz_de.qm", bin), german);
    EXPECT_EQ(FindProgramFile(TProgramFiles::FrameHooks, "drawbox.so", bin), hook);
    EXPECT_EQ(FrameHookFile("drawbox.so", bin), hook);
    // Each kind only in its own folders.
    EXPECT_EQ(FindProgramFile(TProgramFiles::FrameHooks, "help.html", bin), "");
    EXPECT_EQ(FindProgramFile(TProgramFiles::Data, "drawbox.so", bin), "");
}

TEST_F(ProgramFoldersTest, TheBuildFoldersLayoutComesFirst) {
    // A build folder inside a prefix that holds an older installation.
    const std::string build = Folder("usr/bin");
    const std::string help = Put("usr/bin/help.html");
    const std::string hook = Put("usr/bin/framehooks/drawbox.so");
    Put("usr/share/daziziz/help.html");
    Put("usr/lib/daziziz/framehooks/drawbox.so");

    EXPECT_EQ(FindProgramFile(TProgramFiles::Data, "help.html", build), help);
    EXPECT_EQ(FrameHookFile("drawbox.so", build), hook);
}

TEST_F(ProgramFoldersTest, HookNamesOutsideTheProgramsFoldersStayAsGiven) {
    const std::string bin = Folder("usr/bin");
    Put("usr/lib/daziziz/framehooks/drawbox.so");
    const std::string own = Put("work/drawbox.so");

    // A name with a folder is the user's own module, even when the program has one so called.
    EXPECT_EQ(FrameHookFile(own, bin), own);
    EXPECT_EQ(FrameHookFile("./drawbox.so", bin), "./drawbox.so");
    // Unknown here: left to the dynamic loader's search (LD_LIBRARY_PATH, system folders).
    EXPECT_EQ(FrameHookFile("libother_hook.so", bin), "libother_hook.so");
    // Without a program folder nothing is found, and nothing fails.
    EXPECT_EQ(FrameHookFile("drawbox.so", ""), "drawbox.so");
    EXPECT_EQ(FindProgramFile(TProgramFiles::Data, "help.html", ""), "");
}

TEST(ProgramFolder, IsTheRunningTestProgramsFolder) {
    EXPECT_TRUE(fs::exists(fs::path(ProgramFolder()) / "binding_tests"));
}

}  // namespace
