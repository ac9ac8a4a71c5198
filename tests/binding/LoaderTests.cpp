// The library loader: which files it opens and in which order, how a missing file or entry point
// stops it and leaves nothing loaded, the folder's effect on PATH and the current directory, and
// the log-level scale.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "binding/FFmpegLibs.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kVersionedFiles = {
    "libavcodec.so.59",   "libavformat.so.59", "libavutil.so.57", "libswscale.so.6",
    "libswresample.so.4", "libavfilter.so.8",  "libc.so.6"};
const std::vector<std::string> kPlainFiles = {"libavcodec.so", "libavformat.so",   "libavutil.so",
                                              "libswscale.so", "libswresample.so", "libavfilter.so",
                                              "libc.so.6"};

// What the loader asked for, and where it stood when it asked.
std::vector<std::string> openedPaths;
std::vector<fs::path> directoriesAtOpen;
// A file name the recording opener refuses, as if the file were not there.
std::string refusedFileName;

std::string MissingFilePath(const std::string& fileName) {
    return "/nonexistent-dz/" + fileName;
}

void* RecordingOpener(const std::string& path) {
    openedPaths.push_back(path);
    directoriesAtOpen.push_back(fs::current_path());
    if (!refusedFileName.empty() && fs::path(path).filename() == refusedFileName)
        return dlopen(MissingFilePath(refusedFileName).c_str(), RTLD_NOW);
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

// The loader's message for a file dlopen refuses, as dlopen words it.
std::string OpenFailureText(const std::string& path) {
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW);
    EXPECT_EQ(handle, nullptr) << path;
    const char* text = dlerror();
    return text ? text : "";
}

bool AnyModuleLoaded() {
    return AVCodecLoaded() || AVFormatLoaded() || AVUtilLoaded() || SwScaleLoaded() ||
           SwResampleLoaded() || AVFilterLoaded() || MyUtilLoaded();
}

// Every test starts with the libraries unloaded and the opener recording, and puts back the
// libraries, PATH and the current directory as it found them.
class LoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        wasLoaded_ = FFmpegLibsLoaded();
        UnloadFFmpegLibs();
        if (const char* path = std::getenv("PATH")) path_ = path;
        directory_ = fs::current_path();
        openedPaths.clear();
        directoriesAtOpen.clear();
        refusedFileName.clear();
        SetLibraryOpener(RecordingOpener);
    }
    void TearDown() override {
        SetLibraryOpener(nullptr);
        UnloadFFmpegLibs();
        if (path_)
            setenv("PATH", path_->c_str(), 1);
        else
            unsetenv("PATH");
        fs::current_path(directory_);
        if (wasLoaded_) {
            EXPECT_TRUE(LoadFFmpegLibs("", true)) << FFmpegLibsError();
        }
    }

    void ExpectNothingLoaded() {
        EXPECT_FALSE(FFmpegLibsLoaded());
        EXPECT_FALSE(AnyModuleLoaded());
    }

    bool wasLoaded_ = false;
    std::optional<std::string> path_;
    fs::path directory_;
};

class LoaderFileNamesTest : public LoaderTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LoaderFileNamesTest, OpensEachModuleOnceInOrder) {
    const bool versioned = GetParam();
    const auto& expected = versioned ? kVersionedFiles : kPlainFiles;
    ASSERT_TRUE(LoadFFmpegLibs("", versioned)) << FFmpegLibsError();
    EXPECT_EQ(openedPaths, expected);
    const std::vector<std::string> reported = {
        AVCodecFileName(),    AVFormatFileName(), AVUtilFileName(), SwScaleFileName(),
        SwResampleFileName(), AVFilterFileName(), MyUtilFileName()};
    EXPECT_EQ(reported, expected);
    EXPECT_TRUE(AVCodecLoaded() && AVFormatLoaded() && AVUtilLoaded() && SwScaleLoaded() &&
                SwResampleLoaded() && AVFilterLoaded() && MyUtilLoaded());
    EXPECT_EQ(FFmpegLibsError(), "");
    // The tables point into the libraries that were loaded.
    EXPECT_EQ(LibAVUtil.avutil_version() >> 16, unsigned(LIBAVUTIL_VERSION_MAJOR));
}

INSTANTIATE_TEST_SUITE_P(VersionedAndPlain, LoaderFileNamesTest, ::testing::Bool(),
                         [](const auto& testInfo) {
                             return testInfo.param ? "Versioned" : "Plain";
                         });

// A module whose file cannot be opened stops the chain there, and everything opened before it
// is let go again.
class LoaderMissingFileTest : public LoaderTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(LoaderMissingFileTest, StopsAtTheMissingFileAndUnloadsTheRest) {
    const size_t missing = GetParam();
    refusedFileName = kVersionedFiles[missing];
    const std::string systemText = OpenFailureText(MissingFilePath(refusedFileName));

    EXPECT_FALSE(LoadFFmpegLibs("", true));
    const std::vector<std::string> tried(kVersionedFiles.begin(),
                                         kVersionedFiles.begin() + missing + 1);
    EXPECT_EQ(openedPaths, tried);
    EXPECT_EQ(FFmpegLibsError(), "Load libraray " + refusedFileName + " error: " + systemText);
    ExpectNothingLoaded();

    // Every handle was dropped: the next load opens all seven files again.
    refusedFileName.clear();
    openedPaths.clear();
    ASSERT_TRUE(LoadFFmpegLibs("", true)) << FFmpegLibsError();
    EXPECT_EQ(openedPaths, kVersionedFiles);
    EXPECT_EQ(FFmpegLibsError(), "");
}

INSTANTIATE_TEST_SUITE_P(
    EachModule, LoaderMissingFileTest, ::testing::Range<size_t>(0, kVersionedFiles.size()),
    [](const auto& testInfo) {
        std::string name = kVersionedFiles[testInfo.param];
        std::replace_if(
            name.begin(), name.end(),
            [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
        return name;
    });

TEST_F(LoaderTest, FileInTheFolderThatIsNoLibraryFailsTheLoad) {
    TTempDir folder;
    const std::string fake = folder.File("libavformat.so.59");
    std::ofstream(fake) << "not a shared library\n";
    const std::string systemText = OpenFailureText(fake);

    EXPECT_FALSE(LoadFFmpegLibs(folder.Path().string(), true));
    // Files the folder holds are opened by their full path, the others by the loader's search.
    EXPECT_EQ(openedPaths, (std::vector<std::string>{"libavcodec.so.59", fake}));
    EXPECT_EQ(FFmpegLibsError(), "Load libraray libavformat.so.59 error: " + systemText);
    ExpectNothingLoaded();
}

TEST_F(LoaderTest, LibraryWithoutAnEntryPointFailsWithItsName) {
    TTempDir folder;
    const std::string fake = folder.File("libswscale.so.6");
    fs::copy_file(DZ_FAKE_SWSCALE, fake);

    EXPECT_FALSE(LoadFFmpegLibs(folder.Path().string(), true));
    EXPECT_EQ(openedPaths, (std::vector<std::string>{"libavcodec.so.59", "libavformat.so.59",
                                                     "libavutil.so.57", fake}));
    const std::string prefix = "Load function sws_getCachedContext@libswscale.so.6 error: ";
    const std::string error = FFmpegLibsError();
    ASSERT_EQ(error.substr(0, prefix.size()), prefix) << error;
    // The system's own words follow, naming the symbol it could not find.
    EXPECT_NE(error.find("sws_getCachedContext", prefix.size()), std::string::npos) << error;
    ExpectNothingLoaded();
}

TEST_F(LoaderTest, RelativeFolderIsTakenFromWhereTheCallerStands) {
    TTempDir parent;
    fs::create_directory(parent.Path() / "Common Files");
    const std::string fake = (parent.Path() / "Common Files" / "libswscale.so.6").string();
    fs::copy_file(DZ_FAKE_SWSCALE, fake);
    fs::current_path(parent.Path());

    EXPECT_FALSE(LoadFFmpegLibs("Common Files", true));
    ASSERT_EQ(openedPaths.size(), 4u);
    EXPECT_EQ(fs::path(openedPaths[3]), fs::absolute(fake)) << openedPaths[3];
    EXPECT_TRUE(fs::equivalent(fs::current_path(), parent.Path()));
    fs::current_path(directory_);
}

TEST_F(LoaderTest, SecondLoadChangesNothing) {
    ASSERT_TRUE(LoadFFmpegLibs("", true)) << FFmpegLibsError();
    openedPaths.clear();
    setenv("PATH", "/usr/bin:/bin", 1);
    TTempDir folder;

    EXPECT_TRUE(LoadFFmpegLibs(folder.Path().string(), false));
    EXPECT_TRUE(openedPaths.empty());
    EXPECT_STREQ(std::getenv("PATH"), "/usr/bin:/bin");
    EXPECT_EQ(fs::current_path(), directory_);
    EXPECT_EQ(AVCodecFileName(), "libavcodec.so.59");
}

TEST_F(LoaderTest, EmptyFolderTouchesNeitherPathNorDirectory) {
    setenv("PATH", "/usr/bin:/bin", 1);
    ASSERT_TRUE(LoadFFmpegLibs("", true)) << FFmpegLibsError();
    EXPECT_STREQ(std::getenv("PATH"), "/usr/bin:/bin");
    ASSERT_FALSE(directoriesAtOpen.empty());
    for (const auto& directory : directoriesAtOpen) EXPECT_EQ(directory, directory_);
    EXPECT_EQ(fs::current_path(), directory_);
}

// PATH before and after a load from a folder; "{F}" stands for the folder, "{UF}" for it in
// upper case, nullptr for an unset PATH.
struct TPathCase {
    const char* name;
    const char* before;
    const char* after;
};

void PrintTo(const TPathCase& path, std::ostream* out) {
    *out << path.name;
}

class LoaderPathTest : public LoaderTest, public ::testing::WithParamInterface<TPathCase> {};

std::string Fill(std::string text, const std::string& folder) {
    std::string upper = folder;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    for (const auto& [key, value] : {std::pair{"{UF}", upper}, std::pair{"{F}", folder}})
        for (size_t at; (at = text.find(key)) != std::string::npos;)
            text.replace(at, std::string(key).size(), value);
    return text;
}

TEST_P(LoaderPathTest, FolderIsCurrentWhileLoadingAndOnPathAfterwards) {
    TTempDir folder;
    const std::string name = folder.Path().string();
    if (GetParam().before)
        setenv("PATH", Fill(GetParam().before, name).c_str(), 1);
    else
        unsetenv("PATH");

    ASSERT_TRUE(LoadFFmpegLibs(name, true)) << FFmpegLibsError();
    ASSERT_NE(std::getenv("PATH"), nullptr);
    EXPECT_EQ(std::string(std::getenv("PATH")), Fill(GetParam().after, name));
    ASSERT_EQ(directoriesAtOpen.size(), kVersionedFiles.size());
    for (const auto& directory : directoriesAtOpen)
        EXPECT_TRUE(fs::equivalent(directory, folder.Path())) << directory;
    EXPECT_EQ(fs::current_path(), directory_);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoaderPathTest,
    ::testing::Values(TPathCase{"Absent", "/usr/bin:/bin", "{F}:/usr/bin:/bin"},
                      TPathCase{"AlreadyFirst", "{F}:/usr/bin", "{F}:/usr/bin"},
                      TPathCase{"AlreadyInside", "/usr/bin:{F}:/bin", "/usr/bin:{F}:/bin"},
                      // Another letter case is another folder, and PATH keeps its case.
                      TPathCase{"OtherCase", "/usr/Bin:{UF}", "{F}:/usr/Bin:{UF}"},
                      TPathCase{"Unset", nullptr, "{F}"}, TPathCase{"Empty", "", "{F}"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// The program's scale: -1 quiet, 0 error, 1 information, 2 debug, 3 everything.
struct TLevelCase {
    int library;
    int scale;
};

void PrintTo(const TLevelCase& level, std::ostream* out) {
    *out << "library " << level.library << ", scale " << level.scale;
}

class LibraryLevelTest : public ::testing::TestWithParam<TLevelCase> {};

TEST_P(LibraryLevelTest, ReadsBackOntoTheScale) {
    EXPECT_EQ(LibraryLevelToLogLevel(GetParam().library), GetParam().scale);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, LibraryLevelTest,
    ::testing::Values(TLevelCase{AV_LOG_QUIET, -1}, TLevelCase{-1, -1}, TLevelCase{AV_LOG_PANIC, 0},
                      TLevelCase{AV_LOG_FATAL, 0}, TLevelCase{AV_LOG_ERROR, 0},
                      TLevelCase{AV_LOG_WARNING, 1}, TLevelCase{AV_LOG_INFO, 1},
                      TLevelCase{AV_LOG_VERBOSE, 2}, TLevelCase{AV_LOG_DEBUG, 2},
                      TLevelCase{AV_LOG_TRACE, 3}));

class ScaleLevelTest : public ::testing::TestWithParam<TLevelCase> {};

TEST_P(ScaleLevelTest, SetsTheLibraryLevelAndReadsItBack) {
    EXPECT_EQ(LogLevelToLibraryLevel(GetParam().scale), GetParam().library);
    RequireMediaLibraries();
    const int saved = LibAVUtil.av_log_get_level();
    SetLibraryLogLevel(GetParam().scale);
    EXPECT_EQ(LibAVUtil.av_log_get_level(), GetParam().library);
    EXPECT_EQ(CurrentLogLevel, std::clamp(GetParam().scale, -1, 3));
    LibAVUtil.av_log_set_level(saved);
    CurrentLogLevel = LibraryLevelToLogLevel(saved);
}

INSTANTIATE_TEST_SUITE_P(Levels, ScaleLevelTest,
                         ::testing::Values(TLevelCase{AV_LOG_QUIET, -2},
                                           TLevelCase{AV_LOG_QUIET, -1},
                                           TLevelCase{AV_LOG_ERROR, 0}, TLevelCase{AV_LOG_INFO, 1},
                                           TLevelCase{AV_LOG_DEBUG, 2}, TLevelCase{AV_LOG_TRACE, 3},
                                           TLevelCase{AV_LOG_TRACE, 7}));

}  // namespace
