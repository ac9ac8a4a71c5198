// Starting, stopping, pausing, resetting and destroying an engine, and the terminate event
// that every one of those paths ends with exactly once.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/RunControl.h"
#include "support/Ffprobe.h"
#include "support/MediaHandles.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

class EngineLifecycle : public ::testing::Test {
  protected:
    void SetUp() override {
        RequireMediaLibraries();
        engine = std::make_unique<TTestEngine>();
        recorder.Attach(*engine);
        engine->Reset();
    }

    void AddInputAndOutput() {
        engine->AddInput(dir.File("in.wav"));
        engine->AddOutput(dir.File("out.wav"));
    }

    // A transcode that goes round its loop until it is asked to stop.
    void LoopUntilStopped() {
        engine->Body = [this](TTestEngine& e) {
            while (!e.PausePoint()) ++iterations;
            e.Completed = !e.StopRequested;
        };
    }

    // Starts on a worker and waits until the loop has gone round at least once.
    void StartLooping() {
        TFFmpegThread* worker = engine->Start(true, tpNormal);
        ASSERT_NE(worker, nullptr);
        worker->Resume();
        ASSERT_TRUE(WaitUntil([this] { return iterations > 0; }));
    }

    TTempDir dir;
    TEngineRecorder recorder;  // outlives the engine: destruction may still raise events
    std::unique_ptr<TTestEngine> engine;
    std::atomic<int> iterations{0};
};

TEST_F(EngineLifecycle, StartWithoutOutputFailsOnceOnTheCallingThread) {
    engine->AddInput(dir.File("in.wav"));

    EXPECT_EQ(engine->Start(true, tpNormal), nullptr);

    EXPECT_EQ(recorder.TerminateCount(), 1);
    EXPECT_EQ(recorder.TerminateThread(), gettid());
    EXPECT_TRUE(recorder.ErrorAtTerminate());
    EXPECT_EQ(recorder.MessageAtTerminate(), "Must supply at least one output file");
    const auto logs = recorder.Logs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].level, -1);
    EXPECT_EQ(logs[0].text, "Must supply at least one output file");
    EXPECT_FALSE(engine->IsRunning());
    EXPECT_TRUE(engine->IsTerminated());
    EXPECT_EQ(engine->InputFileCount, 0) << "the failed start cleans up";

    // Terminated: Start and Stop are refused even with everything in place.
    engine->AddInput(dir.File("in2.wav"));
    engine->AddOutput(dir.File("out.wav"));
    EXPECT_EQ(engine->Start(true, tpNormal), nullptr);
    EXPECT_EQ(engine->Start(false, tpNormal), nullptr);
    engine->Stop();
    EXPECT_FALSE(engine->IsRunning());
    engine.reset();
    EXPECT_EQ(recorder.TerminateCount(), 1);
}

TEST_F(EngineLifecycle, StartWithoutInputFailsAndCleansUpItsOutputs) {
    engine->AddOutput(dir.File("empty.wav"));
    engine->AddOutput(dir.File("written.wav"), "wav", true);

    EXPECT_EQ(engine->Start(false, tpNormal), nullptr);

    EXPECT_EQ(recorder.TerminateCount(), 1);
    EXPECT_EQ(recorder.MessageAtTerminate(), "Must supply at least one input file");
    EXPECT_EQ(engine->OutputFileCount, 0);
    EXPECT_FALSE(fs::exists(dir.File("empty.wav"))) << "an output left empty is deleted";
    ASSERT_TRUE(fs::exists(dir.File("written.wav"))) << "one with content is kept";
    EXPECT_GT(fs::file_size(dir.File("written.wav")), 0u);
}

TEST_F(EngineLifecycle, ResetAllocatesTheTemplatesAndAllowsAnotherStart) {
    EXPECT_EQ(engine->Start(false, tpNormal), nullptr);
    ASSERT_EQ(recorder.TerminateCount(), 1);

    engine->Reset();
    EXPECT_FALSE(engine->IsTerminated());
    EXPECT_FALSE(engine->HasError());
    EXPECT_EQ(engine->ErrorMessage(), "");
    EXPECT_EQ(engine->SourceDurationMs, -1);
    for (int type = 0; type < AVMEDIA_TYPE_NB; ++type) {
        ASSERT_NE(engine->CodecOptionContexts[type], nullptr) << "media type " << type;
        EXPECT_EQ(engine->CodecOptionContexts[type]->codec_type, type);
    }
    EXPECT_NE(engine->FormatOptionContext, nullptr);
    EXPECT_NE(engine->ScalerOptionContext, nullptr);

    // A whole job, set up as every job is, runs to its end after the reset.
    WriteInputClip(dir.File("in.wav"));
    ASSERT_TRUE(engine->OpenInputFile(dir.File("in.wav"))) << engine->LastError;
    ASSERT_TRUE(engine->OpenOutputFile(dir.File("out.wav"))) << engine->LastError;
    EXPECT_EQ(engine->Start(false, tpNormal), nullptr) << "not threaded: no worker";
    EXPECT_EQ(recorder.TerminateCount(), 2);
    EXPECT_EQ(recorder.TerminateThread(), gettid());
    EXPECT_TRUE(recorder.CompletedAtTerminate()) << engine->ErrorMessage();
    EXPECT_FALSE(recorder.ErrorAtTerminate()) << engine->ErrorMessage();
    const TProbedFile probed = RunFfprobe(dir.File("out.wav"));
    ASSERT_TRUE(probed.ok) << probed.error;
    EXPECT_NEAR(probed.duration, 0.2, 0.02) << "the whole clip";
    EXPECT_FALSE(engine->IsRunning());
    EXPECT_TRUE(engine->IsTerminated());
    EXPECT_EQ(engine->InputFileCount, 0);
    EXPECT_EQ(engine->OutputFileCount, 0);
}

TEST_F(EngineLifecycle, ThreadedStartRunsTheJobOnItsWorker) {
    AddInputAndOutput();
    std::atomic<pid_t> bodyThread{0};
    engine->Body = [&](TTestEngine& e) {
        bodyThread = gettid();
        e.Completed = !e.StopRequested;
    };

    TFFmpegThread* worker = engine->Start(true, tpLower);
    ASSERT_NE(worker, nullptr);
    const pid_t workerId = worker->ThreadId();
    EXPECT_NE(workerId, gettid());
    EXPECT_EQ(worker->Priority(), tpLower);
    EXPECT_TRUE(engine->IsRunning());
    EXPECT_EQ(engine->Start(true, tpNormal), nullptr) << "a running engine refuses Start";
    EXPECT_EQ(bodyThread, 0) << "the worker is held until it is resumed";
    EXPECT_EQ(recorder.TerminateCount(), 0);

    worker->Resume();
    ASSERT_TRUE(recorder.WaitForTerminates(1));
    EXPECT_EQ(bodyThread, workerId);
    EXPECT_EQ(recorder.TerminateThread(), workerId);
    EXPECT_TRUE(recorder.CompletedAtTerminate());
    EXPECT_FALSE(recorder.ErrorAtTerminate());
    EXPECT_FALSE(engine->IsRunning());
    engine.reset();
    EXPECT_EQ(recorder.TerminateCount(), 1);
}

TEST_F(EngineLifecycle, StopOfANeverStartedJobTerminatesFromAnotherThread) {
    engine->Stop();
    engine->Stop();  // the termination is already on its way

    ASSERT_TRUE(recorder.WaitForTerminates(1));
    EXPECT_NE(recorder.TerminateThread(), gettid());
    EXPECT_FALSE(recorder.CompletedAtTerminate());
    EXPECT_FALSE(recorder.ErrorAtTerminate());
    EXPECT_TRUE(engine->IsTerminated());

    engine->Stop();
    EXPECT_EQ(engine->Start(false, tpNormal), nullptr);
    engine.reset();  // waits for every thread the engine made
    EXPECT_EQ(recorder.TerminateCount(), 1);
}

TEST_F(EngineLifecycle, PauseHoldsTheWorkerAndStopWakesIt) {
    AddInputAndOutput();
    LoopUntilStopped();
    StartLooping();

    engine->Pause();
    ASSERT_TRUE(WaitUntil([this] { return engine->IsPaused(); }));
    const int pausedAt = iterations;
    EXPECT_TRUE(engine->IsRunning());

    engine->Resume();
    ASSERT_TRUE(WaitUntil([&] { return iterations > pausedAt; }));
    EXPECT_FALSE(engine->IsPaused());

    engine->Pause();
    ASSERT_TRUE(WaitUntil([this] { return engine->IsPaused(); }));
    const int stoppedAt = iterations;
    engine->Stop();
    ASSERT_TRUE(recorder.WaitForTerminates(1));
    EXPECT_EQ(iterations, stoppedAt) << "the stop is seen at the pause point itself";
    EXPECT_FALSE(recorder.CompletedAtTerminate());
    EXPECT_FALSE(recorder.ErrorAtTerminate());
    EXPECT_FALSE(engine->IsPaused());
    EXPECT_FALSE(engine->IsRunning());
    engine.reset();
    EXPECT_EQ(recorder.TerminateCount(), 1);
}

TEST_F(EngineLifecycle, PauseNeverWaitsWhileHoldingCodecLock) {
    AddInputAndOutput();
    std::atomic<int> stage{0};
    engine->Body = [&](TTestEngine& e) {
        {
            TCodecLock lock;
            e.PausePoint();
            stage = 1;
        }
        e.PausePoint();
        stage = 2;
        while (!e.PausePoint()) {
        }
    };

    TFFmpegThread* worker = engine->Start(true, tpNormal);
    ASSERT_NE(worker, nullptr);
    engine->Pause();  // before the first check
    worker->Resume();
    ASSERT_TRUE(WaitUntil([this] { return engine->IsPaused(); }));
    EXPECT_EQ(stage, 1) << "passed the check made under CodecLock, waits at the next one";
    { TCodecLock lock; }  // other engines may open and close codecs meanwhile

    engine->Resume();
    ASSERT_TRUE(WaitUntil([&] { return stage == 2; }));
    engine->Stop();
    ASSERT_TRUE(recorder.WaitForTerminates(1));
}

// Every thread of a pipelined job (the job's own, each stage, the writer) waits at its check
// points while the job is paused: the pause is seen until the last of them goes on, a stop
// frees them all, and the end of the inputs met during a pause is kept for after it.
TEST(RunControl, PauseHoldsEveryThreadAndDrainingWaitsForTheResume) {
    TRunControl control;
    control.Begin();
    control.Pause();
    std::atomic<int> stopped{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i)
        threads.emplace_back([&] { stopped += control.CheckPoint(true) ? 1 : 0; });
    ASSERT_TRUE(WaitUntil([&] { return control.IsWaiting(); }));
    EXPECT_FALSE(control.CheckPoint(false)) << "a thread holding a lock passes without waiting";
    control.Drain();
    EXPECT_EQ(control.Phase(), TRunPhase::kPaused);
    EXPECT_TRUE(control.IsWaiting());

    control.Resume();
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(control.Phase(), TRunPhase::kDraining);
    EXPECT_FALSE(control.IsWaiting());
    EXPECT_EQ(stopped, 0);

    control.Pause();
    threads.clear();
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&] { stopped += control.CheckPoint(true) ? 1 : 0; });
    ASSERT_TRUE(WaitUntil([&] { return control.IsWaiting(); }));
    control.Stop();
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(stopped, 2);
    control.Resume();
    control.Drain();
    EXPECT_EQ(control.Phase(), TRunPhase::kStopping) << "nothing undoes a stop but a new job";
    control.Begin();
    EXPECT_FALSE(control.CheckPoint(true));
}

TEST_F(EngineLifecycle, FailureInTheRunIsReportedAndLeftOpenCodecsAreClosed) {
    AddInputAndOutput();
    const AVCodec* encoderCodec = LibAVCodec.avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
    const AVCodec* decoderCodec = LibAVCodec.avcodec_find_decoder(AV_CODEC_ID_PCM_S16LE);
    ASSERT_NE(encoderCodec, nullptr);
    ASSERT_NE(decoderCodec, nullptr);
    TCodecContextPtr encoder(LibAVCodec.avcodec_alloc_context3(encoderCodec));
    TCodecContextPtr decoder(LibAVCodec.avcodec_alloc_context3(decoderCodec));
    for (AVCodecContext* context : {encoder.get(), decoder.get()}) {
        context->sample_fmt = AV_SAMPLE_FMT_S16;
        context->sample_rate = 8000;
        LibAVUtil.av_channel_layout_default(&context->ch_layout, 1);
    }
    engine->Body = [&](TTestEngine& e) {
        if (OpenCodecLocked(e.OpenEncoders, encoder.get(), encoderCodec, nullptr) < 0 ||
            OpenCodecLocked(e.OpenDecoders, decoder.get(), decoderCodec, nullptr) < 0)
            throw std::runtime_error("the test's codecs did not open");
        encoder->stats_in = LibAVUtil.av_strdup("first pass");
        throw FFMpegException::Format("Could not write header for output file #%d", 0);
    };

    engine->Start(false, tpNormal);

    EXPECT_EQ(recorder.TerminateCount(), 1);
    EXPECT_TRUE(recorder.ErrorAtTerminate());
    EXPECT_FALSE(recorder.CompletedAtTerminate());
    EXPECT_EQ(recorder.MessageAtTerminate(), "Could not write header for output file #0");
    const auto logs = recorder.Logs();
    ASSERT_FALSE(logs.empty());
    EXPECT_EQ(logs.back().level, -1);
    EXPECT_EQ(logs.back().text, "Could not write header for output file #0");
    EXPECT_TRUE(engine->OpenEncoders.Empty());
    EXPECT_TRUE(engine->OpenDecoders.Empty());
    EXPECT_EQ(LibAVCodec.avcodec_is_open(encoder.get()), 0);
    EXPECT_EQ(LibAVCodec.avcodec_is_open(decoder.get()), 0);
    EXPECT_EQ(encoder->stats_in, nullptr);
    EXPECT_FALSE(fs::exists(dir.File("out.wav")));
}

TEST_F(EngineLifecycle, AnythingThrownEndsTheRunAsAFailure) {
    AddInputAndOutput();
    engine->Body = [](TTestEngine&) { throw 42; };
    engine->Start(false, tpNormal);
    EXPECT_EQ(recorder.TerminateCount(), 1);
    EXPECT_TRUE(recorder.ErrorAtTerminate());
    EXPECT_FALSE(recorder.MessageAtTerminate().empty());
}

TEST_F(EngineLifecycle, LogTextIsCutInsteadOfOverrun) {
    const std::string longText(10000, 'x');
    engine->Log(1, "%s: %s", "in.avi", longText.c_str());
    const auto logs = recorder.Logs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].level, 1);
    EXPECT_EQ(logs[0].text.size(), 4095u);
    EXPECT_EQ(logs[0].text.substr(0, 8), "in.avi: ");
}

// Destroying an engine stops its job, waits for the worker however long it takes and frees
// everything (a sanitizer build reports any leak or use after free).
class EngineDestruction : public EngineLifecycle, public ::testing::WithParamInterface<bool> {};

TEST_P(EngineDestruction, WaitsForTheWorkerAndFreesEverything) {
    const bool paused = GetParam();
    AddInputAndOutput();
    LoopUntilStopped();
    StartLooping();
    if (paused) {
        engine->Pause();
        ASSERT_TRUE(WaitUntil([this] { return engine->IsPaused(); }));
    }

    engine.reset();

    EXPECT_EQ(recorder.TerminateCount(), 1);
    EXPECT_FALSE(recorder.CompletedAtTerminate()) << "a stopped job is not completed";
    EXPECT_FALSE(recorder.ErrorAtTerminate());
    EXPECT_FALSE(fs::exists(dir.File("out.wav")));
}

INSTANTIATE_TEST_SUITE_P(RunningOrPaused, EngineDestruction, ::testing::Bool(),
                         [](const auto& testInfo) {
                             return testInfo.param ? "Paused" : "Running";
                         });

TEST_F(EngineLifecycle, DestroyingAnEngineWhoseWorkerWasNeverResumed) {
    AddInputAndOutput();
    LoopUntilStopped();
    ASSERT_NE(engine->Start(true, tpNormal), nullptr);

    engine.reset();

    EXPECT_EQ(iterations, 0) << "the job never ran";
    EXPECT_EQ(recorder.TerminateCount(), 0);
    EXPECT_FALSE(fs::exists(dir.File("out.wav"))) << "its files are freed all the same";
}

TEST(OpenCodecList, FollowsEveryOpenAndClose) {
    RequireMediaLibraries();
    const AVCodec* codec = LibAVCodec.avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
    ASSERT_NE(codec, nullptr);
    TOpenCodecList list;
    TCodecContextPtr contexts[2];
    for (auto& context : contexts) {
        context.reset(LibAVCodec.avcodec_alloc_context3(codec));
        context->sample_fmt = AV_SAMPLE_FMT_S16;
        context->sample_rate = 8000;
        LibAVUtil.av_channel_layout_default(&context->ch_layout, 1);
        ASSERT_GE(OpenCodecLocked(list, context.get(), codec, nullptr), 0);
    }
    EXPECT_EQ(list.Count(), 2u);

    CloseCodecLocked(list, contexts[0].get());
    EXPECT_FALSE(list.Contains(contexts[0].get()));
    EXPECT_EQ(LibAVCodec.avcodec_is_open(contexts[0].get()), 0);
    EXPECT_TRUE(list.Contains(contexts[1].get()));

    FreeCodecContextLocked(list, contexts[1]);
    EXPECT_EQ(contexts[1], nullptr);
    EXPECT_TRUE(list.Empty());

    // A codec that does not open leaves nothing on the list.
    TCodecContextPtr bad(LibAVCodec.avcodec_alloc_context3(codec));
    bad->sample_fmt = AV_SAMPLE_FMT_S16;  // no sample rate, no channels
    AVCodecContext* badContext = bad.get();
    EXPECT_LT(OpenCodecLocked(list, badContext, codec, nullptr), 0);
    EXPECT_TRUE(list.Empty());
}

}  // namespace
