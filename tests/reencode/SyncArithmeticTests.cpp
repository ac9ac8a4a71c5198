// The arithmetic that keeps re-encoded streams in step with their input's clock, and the sizes
// sample-per-frame encoders make.
#include <gtest/gtest.h>

#include "reencode/ReencodeSupport.h"

namespace {

using TPlan = TReencodeEngine::TAudioSyncPlan;

struct TVideoSyncCase {
    const char* name;
    int method;
    double syncTime;  // seconds
    AVRational timeBase;
    int64_t syncOpts;  // before
    int frames;        // expected
    int64_t syncOptsAfter;
};

class VideoSync : public testing::TestWithParam<TVideoSyncCase> {};

TEST_P(VideoSync, EmitsDropsOrDuplicatesAsTheClockSays) {
    const TVideoSyncCase& c = GetParam();
    int64_t syncOpts = c.syncOpts;
    EXPECT_EQ(TReencodeEngine::VideoSyncFrames(c.method, c.syncTime, c.timeBase, syncOpts),
              c.frames);
    EXPECT_EQ(syncOpts, c.syncOptsAfter);
}

// At 25 fps frame n starts at n × 0.04 s.
INSTANTIATE_TEST_SUITE_P(
    Table, VideoSync,
    testing::Values(
        TVideoSyncCase{"InStep", 1, 0.40, {1, 25}, 10, 1, 10},
        TVideoSyncCase{"SmallLagIsTolerated", 1, 0.40 - 0.04, {1, 25}, 10, 1, 10},
        TVideoSyncCase{"LagOfTwoFramesDrops", 1, 0.40 - 0.08, {1, 25}, 10, 0, 10},
        TVideoSyncCase{"LeadOf3Point4FramesEmitsThree", 1, 0.40 + 3.4 * 0.04, {1, 25}, 10, 3, 10},
        TVideoSyncCase{"LeadOf1Point05IsTolerated", 1, 0.40 + 1.05 * 0.04, {1, 25}, 10, 1, 10},
        TVideoSyncCase{"AutomaticSyncsAboveOneMillisecond", -1, 0.40 - 0.08, {1, 25}, 10, 0, 10},
        TVideoSyncCase{"AutomaticAtOneMillisecondOnlyRestamps", -1, 0.5, {1, 1000}, 7, 1, 500},
        TVideoSyncCase{"OffRestampsEveryPicture", 0, 0.40 - 0.08, {1, 25}, 10, 1, 8},
        TVideoSyncCase{"RestampMovesTheCounterForward", 2, 0.40 + 3.4 * 0.04, {1, 25}, 10, 1, 13},
        TVideoSyncCase{"RestampStillDropsALaggingPicture", 2, 0.40 - 0.08, {1, 25}, 10, 0, 10},
        TVideoSyncCase{"NtscTimeBase", 1, 1.0, {1001, 30000}, 29, 1, 29}),
    [](const testing::TestParamInfo<TVideoSyncCase>& testInfo) { return testInfo.param.name; });

struct TAudioSyncCase {
    const char* name;
    double syncTime;
    int encRate;
    int64_t syncOpts, fifoFrames;
    int decRate, decChannels;
    int64_t blockBytes;
    bool isStart;
    int method;
    TPlan::TKind kind;
    int64_t bytes;
    bool clearStart;
    int compensation;
};

class AudioSync : public testing::TestWithParam<TAudioSyncCase> {};

TEST_P(AudioSync, PlansSilenceDiscardOrCompensation) {
    const TAudioSyncCase& c = GetParam();
    const TPlan plan =
        TReencodeEngine::PlanAudioSync(c.syncTime, c.encRate, c.syncOpts, c.fifoFrames, c.decRate,
                                       c.decChannels, c.blockBytes, c.isStart, c.method, 0.1);
    EXPECT_EQ(plan.Kind, c.kind);
    if (c.kind == TPlan::Silence || c.kind == TPlan::Discard) {
        EXPECT_EQ(plan.Bytes, c.bytes);
        EXPECT_EQ(plan.Bytes % (2 * c.decChannels), 0) << "whole sample frames only";
        EXPECT_EQ(plan.ClearStart, c.clearStart);
    }
    if (c.kind == TPlan::Compensate) {
        EXPECT_EQ(plan.Compensation, c.compensation);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, AudioSync,
    testing::Values(
        // 0.5 s late at 44.1 kHz stereo: 22050 frames of silence.
        TAudioSyncCase{"HalfSecondOfSilence", 0.5, 44100, 0, 0, 44100, 2, 4608, true, 1,
                       TPlan::Silence, 88200, true, 0},
        // A second would make 176400 + 4608 bytes: cut to fit 131072, the start flag stays.
        TAudioSyncCase{"SilenceIsCutToTheLargestBlock", 1.0, 44100, 0, 0, 44100, 2, 4608, true, 1,
                       TPlan::Silence, 131072 - 4608, false, 0},
        // Six channels: the cut keeps whole sample frames (131072 is no multiple of 12).
        TAudioSyncCase{"CutKeepsWholeFramesOfSixChannels", 1.0, 48000, 0, 0, 48000, 6, 6144, true,
                       1, TPlan::Silence, (131072 - 6144) / 12 * 12, false, 0},
        // A block larger than the largest block gets no silence and no negative size.
        TAudioSyncCase{"HugeBlockGetsNoSilence", 1.0, 48000, 0, 0, 48000, 2, 192000, true, 1,
                       TPlan::Silence, 0, false, 0},
        TAudioSyncCase{"DriftOf40FramesIsLeftAlone", 40.0 / 44100, 44100, 0, 0, 44100, 2, 4608,
                       true, 1, TPlan::Keep, 0, false, 0},
        // The FIFO's frames count as sent.
        TAudioSyncCase{"FifoCountsAsSent", 0.5, 44100, 20000, 2050, 44100, 2, 4608, true, 1,
                       TPlan::Keep, 0, false, 0},
        // Input ahead by 1000 frames at the start: the front of the block goes.
        TAudioSyncCase{"DiscardFromTheFront", 1.0, 44100, 45100, 0, 44100, 2, 8192, true, 1,
                       TPlan::Discard, 4000, true, 0},
        TAudioSyncCase{"DiscardingAllOfABlockKeepsTheStart", 1.0, 44100, 49100, 0, 44100, 2, 4608,
                       true, 1, TPlan::Discard, 4608, false, 0},
        // Silence is counted at the input's rate: 0.5 s at 48 kHz stereo.
        TAudioSyncCase{"SilenceAtTheInputRate", 0.5, 44100, 0, 0, 48000, 2, 4608, true, 1,
                       TPlan::Silence, 96000, true, 0},
        // After the start, 3000 frames (below 4410) of drift: nudged by at most the method.
        TAudioSyncCase{"DriftIsCompensatedUpToTheMethod", 3000.0 / 44100, 44100, 0, 0, 44100, 2,
                       4608, false, 100, TPlan::Compensate, 0, false, 100},
        TAudioSyncCase{"NegativeDriftIsCompensatedToo", 1.0, 44100, 44100 + 3000, 0, 44100, 2, 4608,
                       false, 100, TPlan::Compensate, 0, false, -100},
        TAudioSyncCase{"SmallDriftCompensatedExactly", 1.0, 44100, 44100 - 60, 0, 44100, 2, 4608,
                       false, 100, TPlan::Compensate, 0, false, 60},
        TAudioSyncCase{"WithoutCompensationDriftIsLeft", 3000.0 / 44100, 44100, 0, 0, 44100, 2,
                       4608, false, 1, TPlan::Keep, 0, false, 0},
        // Beyond the threshold (4410 frames) the block is padded even after the start.
        TAudioSyncCase{"LargeDriftPadsAfterTheStart", 1.0, 44100, 44100 - 8820, 0, 44100, 2, 4608,
                       false, 100, TPlan::Silence, 8820 * 4, true, 0},
        // A clock far in the future must not overflow anything.
        TAudioSyncCase{"FarFutureIsBounded", 1e9, 48000, 0, 0, 48000, 2, 4096, true, 1,
                       TPlan::Silence, 131072 - 4096, false, 0}),
    [](const testing::TestParamInfo<TAudioSyncCase>& testInfo) { return testInfo.param.name; });

TEST(SamplePerFrameSizes, FollowTheSampleWidthOfEachCodec) {
    struct {
        AVCodecID codec;
        int64_t bytes;
    } const cases[] = {
        {AV_CODEC_ID_PCM_S16LE, 4000}, {AV_CODEC_ID_PCM_S16BE, 4000},
        {AV_CODEC_ID_PCM_U16LE, 4000}, {AV_CODEC_ID_PCM_S32LE, 8000},
        {AV_CODEC_ID_PCM_U32BE, 8000}, {AV_CODEC_ID_PCM_F32BE, 8000},
        {AV_CODEC_ID_PCM_S24LE, 6000}, {AV_CODEC_ID_PCM_S24DAUD, 6000},
        {AV_CODEC_ID_PCM_MULAW, 2000}, {AV_CODEC_ID_PCM_ALAW, 2000},
        {AV_CODEC_ID_PCM_S8, 2000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TReencodeEngine::SamplePerFrameCodedBytes(c.codec, 4000), c.bytes)
            << LibAVCodec.avcodec_get_name(c.codec);
    // 24-bit: halved toward zero, then tripled.
    EXPECT_EQ(TReencodeEngine::SamplePerFrameCodedBytes(AV_CODEC_ID_PCM_S24BE, 4002), 6003);
}

}  // namespace
