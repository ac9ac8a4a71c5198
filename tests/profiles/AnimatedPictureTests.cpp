// The chat and web profiles (GIF with a palette made for the clip, animated WebP): silent, looped
// pictures at the chosen width and rate, fitted to a size by making them again with less, and a
// file with sound only refused by name.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ProfileRun.h"
#include "app/core/ParameterReaders.h"
#include "app/core/ProbeFacts.h"
#include "probe/AVProbe.h"
#include "support/TestMedia.h"

namespace {

constexpr int kGifLine = 76;
constexpr int kWebPLine = 77;

// What a viewer sees of an animation.
struct TAnimation {
    int Width = 0, Height = 0;
    int64_t Frames = 0;
    double Seconds = 0;
    int Loops = -1;  // 0: forever; -1: played once
    bool Sound = false;
};

std::string Bytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

uint32_t LittleEndian(const std::string& bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}

// ffprobe reads the GIF; the loop count is the application extension that browsers follow.
TAnimation ReadGif(const std::string& path) {
    const TProbedFile judge = RunFfprobe(path, false, true);
    EXPECT_TRUE(judge.ok) << judge.error;
    TAnimation animation;
    if (const TProbedStream* video = judge.First("video")) {
        animation.Width = video->width;
        animation.Height = video->height;
        animation.Frames = video->frames;
    }
    animation.Seconds = judge.duration;
    animation.Sound = judge.First("audio") != nullptr;
    const std::string bytes = Bytes(path);
    const size_t loop = bytes.find("NETSCAPE2.0");
    if (loop != std::string::npos && loop + 15 < bytes.size())
        animation.Loops = int(LittleEndian(bytes, loop + 13, 2));
    return animation;
}

// The ffprobe of Debian 12 reads no animated WebP: its RIFF chunks are read here (VP8X: canvas,
// ANIM: loops, ANMF: a frame and its milliseconds).
TAnimation ReadWebP(const std::string& path) {
    const std::string bytes = Bytes(path);
    TAnimation animation;
    EXPECT_EQ(bytes.compare(0, 4, "RIFF"), 0);
    EXPECT_EQ(bytes.compare(8, 4, "WEBP"), 0);
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const std::string tag = bytes.substr(at, 4);
        const uint32_t size = LittleEndian(bytes, at + 4, 4);
        if (tag == "VP8X" && size >= 10) {
            animation.Width = 1 + int(LittleEndian(bytes, at + 12, 3));
            animation.Height = 1 + int(LittleEndian(bytes, at + 15, 3));
        } else if (tag == "ANIM" && size >= 6) {
            animation.Loops = int(LittleEndian(bytes, at + 12, 2));
        } else if (tag == "ANMF" && size >= 16) {
            ++animation.Frames;
            animation.Seconds += LittleEndian(bytes, at + 8 + 12, 3) / 1000.0;
        }
        at += 8 + size + (size & 1);
    }
    return animation;
}

TAnimation ReadAnimation(const std::string& path) {
    return std::filesystem::path(path).extension() == ".gif" ? ReadGif(path) : ReadWebP(path);
}

TParameterLists ListsOf(int line) {
    TParameterLists lists;
    lists.ApplyProfile(*OutputFormatLines()[line].Profile);
    return lists;
}

std::string LineName(const ::testing::TestParamInfo<int>& info) {
    return info.param == kGifLine ? "Gif" : "WebP";
}

class AnimatedPictureTest : public TProfileSuite<2000, 640, 480> {};

TEST_P(AnimatedPictureTest, SilentLoopAtTheChosenWidthAndRate) {
    const TOutputProfile& profile = *OutputFormatLines()[GetParam()].Profile;
    for (const char* rate : {"", "10 fps"}) {
        TParameterLists lists = ListsOf(GetParam());
        if (*rate) {
            const auto& items = lists.VideoFramerate.Items;
            lists.VideoFramerate.Selected =
                int(std::find(items.begin(), items.end(), rate) - items.begin());
        }
        TTempDir out;
        const TConversionOutcome outcome =
            converter->Convert(clip, SettingsFor(profile, lists, out.Path().string()));
        ASSERT_TRUE(outcome.Done) << outcome.Reason;
        const TAnimation animation = ReadAnimation(outcome.OutputFile);
        // 480 px wide, the 4:3 shape kept.
        EXPECT_EQ(animation.Width, 480);
        EXPECT_EQ(animation.Height, 360);
        const double fps = std::stod(lists.VideoFramerate.SelectedText());
        EXPECT_NEAR(animation.Frames, clip.Seconds * fps, 1.5) << rate;
        EXPECT_NEAR(animation.Seconds, clip.Seconds, 0.15) << rate;
        EXPECT_EQ(animation.Loops, 0) << "loops forever";
        EXPECT_FALSE(animation.Sound);
    }
}

TEST_P(AnimatedPictureTest, FileWithSoundOnlyIsRefusedByName) {
    TClipSpec shape;
    shape.videoCodec.clear();
    shape.durationSeconds = 1;
    const std::string sound = (folder->Path() / "sound.m4a").string();
    WriteClip(sound, shape);
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(sound)) << probe.LastErrorText();
    const TParameterLists lists = ListsOf(GetParam());
    TTempDir out;
    const TConversionOutcome outcome = converter->Convert(
        sound, ReadProbeFacts(probe),
        SettingsFor(*OutputFormatLines()[GetParam()].Profile, lists, out.Path().string()));
    EXPECT_FALSE(outcome.Done);
    EXPECT_NE(outcome.Reason.find("sound.m4a has no pictures"), std::string::npos)
        << outcome.Reason;
    EXPECT_TRUE(std::filesystem::is_empty(out.Path())) << "nothing is left behind";
}

// Targets below what the profiles' own choices make of a 12-second clip (a GIF about 3 MB, a
// WebP about 0.2 MB), so that the fit has to make the file again with less.
class AnimatedFitTest : public TProfileSuite<12000, 640, 480> {};

TEST_P(AnimatedFitTest, TargetIsFilledWithoutGoingOver) {
    const int64_t kTarget = GetParam() == kGifLine ? 1'000'000 : 150'000;
    const TParameterLists lists = ListsOf(GetParam());
    TJobSettings settings =
        SettingsFor(*OutputFormatLines()[GetParam()].Profile, lists, folder->Path().string());
    settings.FitSizeBytes = kTarget;
    const TConversionOutcome outcome = converter->Convert(clip, settings);
    ASSERT_TRUE(outcome.Done) << outcome.Reason;
    const int64_t bytes = int64_t(std::filesystem::file_size(outcome.OutputFile));
    EXPECT_LE(bytes, kTarget);
    EXPECT_GE(bytes, kTarget * 9 / 10);
    const TAnimation animation = ReadAnimation(outcome.OutputFile);
    EXPECT_NEAR(animation.Seconds, clip.Seconds, 0.3) << "the whole clip, with fewer pictures";
    EXPECT_EQ(animation.Loops, 0);
    for (const auto& entry : std::filesystem::directory_iterator(folder->Path()))
        EXPECT_EQ(entry.path().filename().string().rfind('.', 0), std::string::npos)
            << "no working file is left: " << entry.path();
}

INSTANTIATE_TEST_SUITE_P(Chat, AnimatedPictureTest, ::testing::Values(kGifLine, kWebPLine),
                         LineName);
INSTANTIATE_TEST_SUITE_P(Chat, AnimatedFitTest, ::testing::Values(kGifLine, kWebPLine), LineName);

}  // namespace
