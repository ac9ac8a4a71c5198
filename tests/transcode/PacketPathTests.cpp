// The packet path on real runs: volume on decoded samples, subtitles, and the reports of a job
// stopped before its first packet.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>

#include "TranscodeTestSupport.h"
#include "support/DecodeMedia.h"
#include "support/EngineModes.h"

namespace {

float Peak(const TDecodedAudio& audio) {
    float peak = 0.0f;
    for (float sample : audio.samples) peak = std::max(peak, std::fabs(sample));
    return peak;
}

class PacketPath : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override { RequireMediaLibraries(); }
    TTempDir dir;
};

TEST_P(PacketPath, VolumeScalesTheDecodedSamples) {
    const float inputPeak = Peak(DecodeAudioSamples(WavClip(1.0)));
    ASSERT_GT(inputPeak, 0.3f);
    ASSERT_LT(inputPeak, 0.7f);
    struct TCase {
        const char* volume;
        float peak;
    };
    for (const TCase& c :
         {TCase{"128", inputPeak / 2}, TCase{"256", inputPeak},
          TCase{"512", std::min(1.0f, inputPeak * 2)}, TCase{"1024", 32767.0f / 32768}}) {
        SCOPED_TRACE(std::string("volume ") + c.volume);
        TTranscodeEngine engine(GetParam());
        ASSERT_TRUE(engine.OpenInputFile(WavClip(1.0))) << engine.LastError;
        engine.Apply({{"acodec", "pcm_s16le"}, {"vol", c.volume}});
        const std::string output = dir.File(std::string("vol") + c.volume + ".wav");
        ASSERT_TRUE(engine.OpenOutputFile(output)) << engine.LastError;
        ASSERT_TRUE(engine.RunToEnd()) << engine.ErrorMessage();
        const TDecodedAudio audio = DecodeAudioSamples(output);
        EXPECT_NEAR(audio.Seconds(), 1.0, 0.01);
        EXPECT_NEAR(Peak(audio), c.peak, 0.002);
    }
}

TEST_P(PacketPath, SubtitlesAreDecodedAndEncodedAgain) {
    const std::string input = dir.File("in.srt");
    std::ofstream(input) << "1\n00:00:00,500 --> 00:00:01,000\nHello\n\n"
                            "2\n00:00:01,200 --> 00:00:01,800\nWorld\n\n"
                            "3\n00:00:02,000 --> 00:00:02,500\nAgain\n";
    TTranscodeEngine engine(GetParam());
    ASSERT_TRUE(engine.OpenInputFile(input)) << engine.LastError;
    engine.Apply({{"scodec", "subrip"}});
    const std::string output = dir.File("out.mkv");
    ASSERT_TRUE(engine.OpenOutputFile(output)) << engine.LastError;
    ASSERT_TRUE(engine.RunToEnd()) << engine.ErrorMessage();
    const TProbedFile probed = RunFfprobe(output, true);
    ASSERT_TRUE(probed.ok) << probed.error;
    ASSERT_NE(probed.First("subtitle"), nullptr);
    EXPECT_EQ(probed.First("subtitle")->codecName, "subrip");
    EXPECT_EQ(probed.First("subtitle")->packets, 3);
}

TEST_P(PacketPath, StopBeforeTheFirstPacket) {
    // Asked to stop while it sets up, the job reads nothing, still writes its trailer and ends
    // with a last report that has no time to tell yet.
    TTranscodeEngine engine(GetParam());
    ASSERT_TRUE(engine.OpenInputFile(WavClip(1.0))) << engine.LastError;
    engine.Apply({{"acodec", "copy"}});
    const std::string output = dir.File("out.wav");
    ASSERT_TRUE(engine.OpenOutputFile(output)) << engine.LastError;
    auto recorder = engine.OnLog;
    engine.OnLog = [&, recorder](TCustomFFmpeg* sender, int level, const std::string& text) {
        recorder(sender, level, text);
        if (text == "Stream mapping:") sender->Stop();
    };
    engine.Start(false, tpNormal);
    EXPECT_EQ(engine.TerminateCount(), 1);
    EXPECT_FALSE(engine.CompletedAtTerminate());
    EXPECT_FALSE(engine.HasError()) << engine.ErrorMessage();
    const auto progress = engine.Progress();
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0].CurrentDuration, -1);
    EXPECT_EQ(progress[0].TotalOutputDuration, 1000);
    const TProbedFile probed = RunFfprobe(output);
    EXPECT_TRUE(probed.ok) << "a header and a trailer: " << probed.error;
}

// A frame-threaded decoder gives each picture out several packets late; every picture still
// lands on its own place: frame n of the output shows frame n of the input, none doubled.
TEST_P(PacketPath, FrameThreadedDecodingKeepsEveryPictureInPlace) {
    for (int threads : {1, 4}) {
        SCOPED_TRACE(threads);
        TTranscodeEngine engine(GetParam());
        engine.ThreadCount = threads;
        ASSERT_TRUE(engine.OpenInputFile(Mp4Clip())) << engine.LastError;
        engine.Apply({{"vcodec", "mpeg4"}, {"qscale", "2"}, {"an", ""}});
        const std::string output = dir.File("threads" + std::to_string(threads) + ".avi");
        ASSERT_TRUE(engine.OpenOutputFile(output)) << engine.LastError;
        ASSERT_TRUE(engine.RunToEnd()) << engine.ErrorMessage();
        const std::vector<TDecodedFrame> frames = DecodeVideoFrames(output);
        ASSERT_EQ(frames.size(), 50u);
        for (size_t i = 0; i < frames.size(); ++i)
            ASSERT_EQ(ReadFrameNumber(frames[i]), static_cast<int>(i));
    }
}

TEST_P(PacketPath, TimestampJumpMovesTheFileOffset) {
    // Two transport streams one after the other: the second starts its clock again at 0.
    const std::string input = dir.File("joined.ts");
    {
        std::ofstream joined(input, std::ios::binary);
        for (int i = 0; i < 2; ++i) joined << std::ifstream(MpegTsClip(), std::ios::binary).rdbuf();
    }
    for (bool copyTimestamps : {false, true}) {
        SCOPED_TRACE(copyTimestamps ? "timestamps copied" : "timestamps corrected");
        TTranscodeEngine engine(GetParam());
        engine.Verbose = 3;  // the engine's own messages only: the libraries stay as they are
        if (copyTimestamps) engine.Apply({{"copyts", ""}});
        ASSERT_TRUE(engine.OpenInputFile(input)) << engine.LastError;
        const int64_t offset = engine.InputFiles[0].TimeOffset;
        engine.Apply({{"vcodec", "copy"}, {"acodec", "copy"}});
        const std::string output = dir.File(copyTimestamps ? "copied.ts" : "corrected.mkv");
        ASSERT_TRUE(engine.OpenOutputFile(output)) << engine.LastError;
        engine.Start(false, tpNormal);
        bool reported = false;
        for (const auto& log : engine.Logs())
            reported |= log.text.rfind("timestamp discontinuity ", 0) == 0;
        if (copyTimestamps) {
            EXPECT_FALSE(reported);
            EXPECT_EQ(engine.InputFiles[0].TimeOffset, offset)
                << "copied timestamps keep the offset";
            // The muxer may refuse the second half's earlier timestamps; the first half is kept.
            if (!engine.IsCompleted()) {
                EXPECT_FALSE(engine.ErrorMessage().empty());
            }
            const TProbedFile probed = RunFfprobe(output, true);
            ASSERT_TRUE(probed.ok) << probed.error;
            ASSERT_NE(probed.First("video"), nullptr);
            EXPECT_GE(probed.First("video")->packets, 25) << "the first half is written";
            continue;
        }
        ASSERT_TRUE(engine.IsCompleted()) << engine.ErrorMessage();
        EXPECT_TRUE(reported);
        EXPECT_NE(engine.InputFiles[0].TimeOffset, offset) << "the jump moved the file's offset";
        const TProbedFile probed = RunFfprobe(output, true);
        ASSERT_TRUE(probed.ok) << probed.error;
        EXPECT_NEAR(probed.duration, 2.0, 0.1) << "the second half follows the first";
        EXPECT_EQ(probed.First("video")->packets, 50);
    }
}

TEST_P(PacketPath, ReportLineWithQuantiserHistogramAndPsnr) {
    TTranscodeEngine engine(GetParam());
    engine.OnProgress = nullptr;
    ASSERT_TRUE(engine.OpenInputFile(Mp4Clip())) << engine.LastError;
    engine.Apply({{"vcodec", "mpeg4"}, {"an", ""}, {"qphist", ""}, {"psnr", ""}, {"qscale", "4"}});
    ASSERT_TRUE(engine.OpenOutputFile(dir.File("out.mkv"))) << engine.LastError;
    ASSERT_TRUE(engine.RunToEnd()) << engine.ErrorMessage();
    std::string last;
    for (const auto& log : engine.Logs())
        if (log.text.rfind("frame=", 0) == 0) last = log.text;
    ASSERT_FALSE(last.empty());
    EXPECT_NE(last.find("frame=   50 "), std::string::npos) << last;
    EXPECT_NE(last.find("q=4.0 L"), std::string::npos) << last;
    EXPECT_NE(last.find("PSNR=Y:"), std::string::npos) << last;
    EXPECT_NE(last.find(" *:"), std::string::npos) << last;
    // 32 histogram digits after "L": quantiser 4 has been counted, so its digit is not 0.
    const size_t histogram = last.find("L") + 1;
    ASSERT_LT(histogram + 32, last.size());
    EXPECT_NE(last[histogram + 4], '0') << last;
    EXPECT_EQ(last[histogram + 30], '0') << last;
}

INSTANTIATE_TEST_SUITE_P(Modes, PacketPath, EngineModes(), TEngineModeName());

}  // namespace
