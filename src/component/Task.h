// One conversion task of the component, and the component's ordered list of them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "component/OptionRecords.h"
#include "engine/CustomFFmpeg.h"

// An index outside a task list.
class EListError : public std::out_of_range {
  public:
    explicit EListError(int index);
};

// A task: an engine plus its place in the list, the thread that runs it and copies of the
// option records it was given.
class TFFmpeg : public TCustomFFmpeg {
  public:
    TFFmpeg() = default;
    // The worker may be inside one of the component's events: it ends before anything goes.
    ~TFFmpeg() override;

    // Asks a running job to stop and waits for every thread of the task; its terminate event
    // (if the job ran) has been raised when this returns. Never call it on the task's own
    // threads.
    using TCustomFFmpeg::StopAndJoinThreads;

    // Read by events on any thread while the list renumbers: atomic.
    std::atomic<int32_t> Index{-1};     // position in the list, -1 outside one
    std::atomic<uint32_t> ThreadId{0};  // kernel id of the thread running the job, 0 before
    TInputOptions InputOptions;
    TOutputOptions OutputOptions;

    // A fitted output (OutputOptions.FitSizeBytes, see SizeFit.h): makes the task's temporary
    // folder for the pass files and returns the name its options are checked with there (the
    // output's extension, so the same muxer is checked; no file is written). The passes run in
    // Transcode. Throws std::runtime_error when no folder can be made.
    std::string PrepareFit();

  protected:
    // A fitted output runs its passes, each on an engine of its own, on this task's thread, and
    // moves the result to OutputOptions.FileName once it is no larger than the target; any other
    // output runs as the engine's own job.
    void Transcode() override;

  private:
    // Runs one pass to `output` on the calling thread; the task's pause and stop reach it, its
    // log lines and progress (pass `number` of `passes`) go out as the task's. Returns the video
    // bytes it wrote, -1 when it was stopped; throws FFMpegException when it failed.
    int64_t RunPass(const TOutputOptions& output, int number, int passes);
    void RunFit();

    std::string fitFolder_;  // the pass files' temporary folder; removed with the task
};

// Owns its tasks; each task's Index is its position.
class TFFmpegList {
  public:
    // Appends and returns the position.
    int Add(std::unique_ptr<TFFmpeg> task);
    // Throws EListError for a position outside the list.
    TFFmpeg& Get(int index) const;
    int Count() const { return static_cast<int>(tasks_.size()); }
    // Frees every task, then empties the list.
    void Clear();
    // Frees the task at the position and renumbers the later ones; throws EListError.
    void Delete(int index);
    // Takes the task at the position out of the list (renumbering the later ones) without
    // freeing it; throws EListError.
    std::unique_ptr<TFFmpeg> Extract(int index);
    // Takes every task out of the list, in order.
    std::vector<std::unique_ptr<TFFmpeg>> ExtractAll();
    // The first task whose ThreadId is the given id, or nullptr.
    TFFmpeg* FindByThreadId(uint32_t threadId) const;

  private:
    std::vector<std::unique_ptr<TFFmpeg>> tasks_;
};
