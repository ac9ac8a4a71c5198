// The pipelined run of a job: the job's thread reads and decodes, each re-encoding audio and
// video output has a thread that converts and encodes, and one writer hands the packets to the
// muxers, all joined by short queues. The writer makes its writes in the very order the one
// loop makes them (per delivery, output by output), so the files are the same byte for byte.
//
// Threads and what they own while the run lasts:
// - the job's thread: reading, the input records, decoding, pre-processing, stream copies'
//   packets and subtitle encoding (as packets for the writer); it raises every event.
// - a stage per re-encoding audio or video output: its output record but for what the writer
//   keeps (below), and its encoder. It sees the input's clock only as each job brings it.
// - the writer: the muxers and byte streams, the copied outputs' records, each output's
//   ost.Coded and WrittenFrameNumber, the byte counts, and the progress report.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/JobStages.h"
#include "engine/RunControl.h"
#include "engine/RunScheduler.h"
#include "engine/RunState.h"

// A bounded first-in first-out queue between two threads.
template <typename T>
class TStageQueue {
  public:
    explicit TStageQueue(size_t capacity) : capacity_(capacity) {}

    // Waits while the queue is full. False once it is aborted: the item is dropped.
    bool Push(T&& item) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return aborted_ || items_.size() < capacity_; });
        if (aborted_) return false;
        items_.push_back(std::move(item));
        changed_.notify_all();
        return true;
    }
    // Waits for an item. False once the queue is aborted, or closed and empty.
    bool Pop(T& item) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return aborted_ || closed_ || !items_.empty(); });
        if (aborted_ || items_.empty()) return false;
        item = std::move(items_.front());
        items_.pop_front();
        changed_.notify_all();
        return true;
    }
    // No more items: what is in the queue can still be taken.
    void Close() { Set(closed_); }
    // Everything stops: waiting threads return at once, the items are dropped.
    void Abort() { Set(aborted_); }

  private:
    void Set(bool& flag) {
        std::lock_guard lock(mutex_);
        flag = true;
        changed_.notify_all();
    }

    const size_t capacity_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<T> items_;
    bool closed_ = false;
    bool aborted_ = false;
};

// What the job's thread hands to an output's stage: one picture, one block of s16 samples, or
// the end of the input. The input's clock comes with it as the one loop reads it at that
// moment: the time of the stream the output keeps in step with, the picture's quality, the
// samples' channels and rate.
struct TStageJob {
    enum TKind { kPicture, kSamples, kDrain };
    TKind Kind = kDrain;
    TFramePtr Picture;
    std::vector<uint8_t> Samples;
    int64_t SyncPts = 0;
    int64_t SyncNextPts = AV_NOPTS_VALUE;  // until when the source shows the picture
    float Quality = 0.0f;
    int32_t SampleChannels = 0;
    int32_t SampleRate = 0;
    TRunPhase Phase = TRunPhase::kRunning;  // the job's phase then
};

// What one job gave: the packets, in the encoder's order, and the output's frame count after it.
struct TStageBatch {
    std::vector<TPacketPtr> Packets;
    int32_t FrameNumber = 0;
};

// One output's share of a delivery, for the writer: the stage's next batch, a copied packet
// (with the input's time base and clock then), or encoded subtitle packets.
struct TWriteItem {
    enum TKind { kFromStage, kCopy, kSubtitle };
    TKind Kind = kFromStage;
    int32_t Output = 0;
    TPacketPtr Copied;
    AVRational SourceTimeBase{0, 1};
    int64_t SourcePts = 0;
    std::vector<TPacketPtr> Packets;
};
// Every write of one delivery, in output order.
using TWriteStep = std::vector<TWriteItem>;

class TPipelinedRun final : public TRunScheduler {
  public:
    // Works through the job's stages; `job` is the job's phase, read as work is handed on.
    TPipelinedRun(TJobStages& stages, const TRunPhaseSource& job);
    // Stops whatever still runs and waits for it; the outputs' records are as the set-up left
    // them for the shutdown.
    ~TPipelinedRun();
    TPipelinedRun(const TPipelinedRun&) = delete;
    TPipelinedRun& operator=(const TPipelinedRun&) = delete;

    // Starts the stages and the writer.
    void Start();
    // On the job's thread, after the last delivery: waits until everything is written, raises
    // the events left, and throws the first failure of any thread.
    void Finish();

    // The scheduler's part (RunScheduler.h). There is one input, read to its end: no limit
    // asks how far the outputs have got.
    int NextInputFile() override;
    // What the one loop's delivery does for every output of the input stream, as jobs and
    // writes. Throws the failure of another thread when that ended the run.
    void Deliver(TInputStreamState& ist, int istIndex, const AVPacket* packet, uint8_t* samples,
                 int samplesSize, AVFrame* picture, AVSubtitle* subtitle) override;
    void Drain(int istIndex) override;
    // The writer reports the progress; the job's thread raises the events left.
    void PacketDone() override;
    // The packet goes into the batch of the job the output's stage works on (or the subtitles
    // the job's thread encodes for the writer).
    void Write(AVFormatContext* file, TOutputStreamState& ost, AVPacket* packet,
               bool encoder) override;
    // A re-encoded output's frames as of the packets the writer has written.
    int32_t FramesWritten(const TOutputStreamState& ost) const override;
    void Raise(std::function<void()> event) override;

  private:
    struct TStage {
        TOutputStreamState* Output = nullptr;
        TInputStreamState* Sync =
            nullptr;              // the output's own sync stream, read by the job's thread
        TInputStreamState Clock;  // the input's clock as the jobs bring it
        TStageQueue<TStageJob> Jobs;
        TStageQueue<TStageBatch> Batches;
        std::thread Thread;
        TStage(size_t jobs, size_t batches) : Jobs(jobs), Batches(batches) {}
    };

    void RunStage(TStage& stage);
    void WorkOn(TStage& stage, TStageJob& job);
    void RunWriter();
    bool Write(TWriteItem& item);
    TStageJob JobFor(const TStage& stage, const TInputStreamState& ist, const uint8_t* samples,
                     int samplesSize, const AVFrame* picture);
    // On the job's thread: raises the events the other threads left, in their order.
    void RaiseDeferredEvents();
    // Ends the run for every thread, keeping the first failure.
    void Fail(std::exception_ptr failure);
    // After a queue refused an item: throws the failure that ended the run.
    [[noreturn]] void ThrowFailure();
    void AbortAll();
    void JoinAll();
    // Lists the calling thread as one of the engine's while it runs `body`.
    void AsEngineThread(const std::function<void()>& body);

    TJobStages& stages_;
    const TRunPhaseSource& job_;
    std::vector<std::unique_ptr<TStage>> outputStages_;  // by output index; none for others
    TStageQueue<TWriteStep> steps_;
    std::thread writer_;
    const std::thread::id jobThread_;

    std::mutex mutex_;  // the failure and the events
    std::exception_ptr failure_;
    std::vector<std::function<void()>> events_;
};
