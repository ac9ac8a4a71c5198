// Copy when it fits: which source streams today's profiles copy, that a copied stream keeps
// every packet as it was, and what the copy saves against encoding again (printed, not asserted:
// timings belong to the benchmarks).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ProfileRun.h"
#include "app/core/StreamCopy.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The MD5 of one stream's packets as the libraries' own program reads them ("v" or "a").
std::string PacketMd5(const std::string& path, const char* stream) {
    const std::string command = "ffmpeg -v error -i " + ShellQuoted(path) + " -map 0:" + stream +
                                " -c copy -f md5 - 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return {};
    char line[256] = {};
    if (!std::fgets(line, sizeof line, pipe.get())) return {};
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

bool Noted(const TConversionOutcome& outcome, const std::string& start) {
    return std::any_of(outcome.Notes.begin(), outcome.Notes.end(),
                       [&](const std::string& note) { return note.rfind(start, 0) == 0; });
}

// An H.264 + AAC MP4, 640x480 at 25 fps, stereo 48 kHz: what a phone or a camera hands over.
class StreamCopyTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        RequireMediaLibraries();
        folder = std::make_unique<TTempDir>();
        source = (folder->Path() / "camera.mp4").string();
        TClipSpec clipSpec;
        clipSpec.videoCodec = "libx264";
        clipSpec.audioCodec = "aac";
        clipSpec.width = 640;
        clipSpec.height = 480;
        clipSpec.durationSeconds = 4;
        clipSpec.videoBitRate = 1000000;
        WriteClip(source, clipSpec);
        converter = std::make_unique<TProfileConverter>();
    }
    static void TearDownTestSuite() {
        converter.reset();
        folder.reset();
    }

    TConversionOutcome Convert(const TParameterLists& lists, bool reencode, double* seconds) {
        const TOutputProfile& profile = *FindProfile("MP4 - H.264 + AAC");
        TJobSettings settings = SettingsFor(profile, lists, out_.Path().string());
        settings.Reencode = reencode;
        TSourceClip clip{source, 640, 480, 4};
        const auto start = std::chrono::steady_clock::now();
        TConversionOutcome outcome = converter->Convert(clip, settings);
        *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return outcome;
    }

    static inline std::unique_ptr<TTempDir> folder;
    static inline std::string source;
    static inline std::unique_ptr<TProfileConverter> converter;
    TTempDir out_;
};

TEST_F(StreamCopyTest, FittingStreamsAreCopiedBitExact) {
    TParameterLists lists;
    lists.ApplyProfile(*FindProfile("MP4 - H.264 + AAC"));
    double copySeconds = 0, encodeSeconds = 0;
    const TConversionOutcome copied = Convert(lists, false, &copySeconds);
    ASSERT_TRUE(copied.Done) << copied.Reason;
    EXPECT_TRUE(Noted(copied, "video copied as it is (h264 640x480)"));
    EXPECT_TRUE(Noted(copied, "audio copied as it is (aac 48000 Hz, 2 channels)"));
    const std::string sourceVideo = PacketMd5(source, "v");
    ASSERT_EQ(sourceVideo.rfind("MD5=", 0), 0u) << sourceVideo;
    EXPECT_EQ(PacketMd5(copied.OutputFile, "v"), sourceVideo);
    EXPECT_EQ(PacketMd5(copied.OutputFile, "a"), PacketMd5(source, "a"));
    const TProbedFile judge = RunFfprobe(copied.OutputFile);
    ASSERT_TRUE(judge.ok) << judge.error;
    EXPECT_NEAR(judge.duration, 4.0, 0.1);
    EXPECT_TRUE(IndexBeforeMedia(copied.OutputFile)) << "a copy is written with fast start too";

    // --reencode: every stream through its encoder, the packets new.
    const TConversionOutcome encoded = Convert(lists, true, &encodeSeconds);
    ASSERT_TRUE(encoded.Done) << encoded.Reason;
    EXPECT_FALSE(Noted(encoded, "video copied"));
    EXPECT_FALSE(Noted(encoded, "audio copied"));
    EXPECT_NE(PacketMd5(encoded.OutputFile, "v"), sourceVideo);
    std::printf("| copy %.3f s | encode %.3f s | encode / copy %.1f |\n", copySeconds,
                encodeSeconds, encodeSeconds / std::max(copySeconds, 1e-6));
    RecordProperty("copy_seconds", std::to_string(copySeconds));
    RecordProperty("encode_seconds", std::to_string(encodeSeconds));
}

TEST_F(StreamCopyTest, AnotherSizeOrRateEncodesThePictureAndCopiesTheSound) {
    const struct {
        const char* What;
        TChoiceList TParameterLists::*List;
        const char* Entry;
    } kChanges[] = {
        {"size", &TParameterLists::VideoSize, "360p"},
        {"frame rate", &TParameterLists::VideoFramerate, "30 fps"},
    };
    for (const auto& change : kChanges) {
        SCOPED_TRACE(change.What);
        TParameterLists lists;
        lists.ApplyProfile(*FindProfile("MP4 - H.264 + AAC"));
        TChoiceList& list = lists.*change.List;
        list.Selected = static_cast<int>(
            std::find(list.Items.begin(), list.Items.end(), change.Entry) - list.Items.begin());
        double seconds = 0;
        const TConversionOutcome outcome = Convert(lists, false, &seconds);
        ASSERT_TRUE(outcome.Done) << outcome.Reason;
        EXPECT_FALSE(Noted(outcome, "video copied"));
        EXPECT_TRUE(Noted(outcome, "audio copied"));
        EXPECT_EQ(PacketMd5(outcome.OutputFile, "a"), PacketMd5(source, "a"));
    }
}

// The decision itself, on sources described by hand: one difference is enough to encode.
TEST(CopyDecisionTest, OnlyWhatFitsIsCopied) {
    RequireMediaLibraries();
    TSourceStreams source;
    source.Video = TSourceStreams::TVideo{"h264", 1280, 720, {30000, 1001}};
    source.Audio = TSourceStreams::TAudio{"aac", 48000, 2};
    TJobDescription fits;
    fits.VideoCodec = "libx264";
    fits.AudioCodec = "aac";
    fits.AudioSampleRate = 48000;
    fits.AudioChannels = 2;
    fits.AudioVolume = 255;

    const struct {
        const char* What;
        void (*Change)(TJobDescription&);
        bool VideoCopied;
        bool AudioCopied;
    } kCases[] = {
        {"nothing", [](TJobDescription&) {}, true, true},
        {"same size named", [](TJobDescription& j) { j.FrameSize = "1280x720"; }, true, true},
        {"same rate, other terms",
         [](TJobDescription& j) {
             j.FrameRate = {{60000, 2002}};
         },
         true, true},
        {"other codec", [](TJobDescription& j) { j.VideoCodec = "libx265"; }, false, true},
        {"other size", [](TJobDescription& j) { j.FrameSize = "640x360"; }, false, true},
        {"other rate",
         [](TJobDescription& j) {
             j.FrameRate = {{25, 1}};
         },
         false, true},
        {"letter box", [](TJobDescription& j) { j.PadTop = j.PadBottom = 20; }, false, true},
        {"louder", [](TJobDescription& j) { j.AudioVolume = 300; }, true, false},
        {"other sample rate", [](TJobDescription& j) { j.AudioSampleRate = 44100; }, true, false},
        {"mono", [](TJobDescription& j) { j.AudioChannels = 1; }, true, false},
        {"other audio codec", [](TJobDescription& j) { j.AudioCodec = "libopus"; }, true, false},
        {"no video written",
         [](TJobDescription& j) {
             j.DisableVideo = true;
             j.VideoCodec.clear();
         },
         false, true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.What);
        TJobDescription job = fits;
        c.Change(job);
        std::vector<std::string> log;
        CopyStreamsThatFit(job, source, log);
        EXPECT_EQ(job.VideoCodec == "copy", c.VideoCopied);
        EXPECT_EQ(job.AudioCodec == "copy", c.AudioCopied);
        EXPECT_EQ(log.size(), std::size_t(c.VideoCopied) + std::size_t(c.AudioCopied));
        if (c.AudioCopied) {
            EXPECT_EQ(job.AudioVolume, -1) << "copied sound takes no volume";
        }
    }

    // A phone's portrait video is stored sideways with a turn in its display matrix: its
    // pictures are made upright, so they are encoded even where all else fits.
    TSourceStreams turned = source;
    turned.Video->Turned = true;
    TJobDescription job = fits;
    std::vector<std::string> log;
    CopyStreamsThatFit(job, turned, log);
    EXPECT_EQ(job.VideoCodec, "libx264");
    EXPECT_EQ(job.AudioCodec, "copy");
}

}  // namespace
