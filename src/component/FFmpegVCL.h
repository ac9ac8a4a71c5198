// The converter component: a list of conversion tasks, each an engine with its option records,
// run one after another or several at once on worker threads, reporting through five events.
//
// Threads. The public operations are called on the owner's main thread. The events run on the
// thread that caused them: a task's worker thread (hooks, progress, log, terminate), the main
// thread for tasks run there (parallel count 0 or less with a main-thread timer), a thread of
// the engine's own for a task stopped before it started, any thread at all for library log
// lines. Handlers that touch a user interface must hand their values over to it.
//
// Locks. The component's lock serialises the log, progress and terminate events and the stop,
// pause and resume operations; the hook events take no lock. Library log lines are routed with
// the process-wide component registry locked and then the component's lock, always in that
// order. A log, progress or terminate handler runs under the component's lock, so it must
// neither wait for another thread that may be logging nor call anything that makes the libraries
// log (other threads route their lines the other way round).
//
// Lifetime. ClearTasks, DeleteTask and destruction stop the tasks concerned and wait for their
// threads before they free anything, so no event of those tasks runs once they have returned.
// Never call them (or destroy the component) from one of its event handlers.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "component/LogCapture.h"
#include "component/MainThreadTimer.h"
#include "component/OptionRecords.h"
#include "component/Task.h"
#include "engine/CustomFFmpeg.h"
#include "probe/AVProbe.h"

// The worker priorities the component offers: tpIdle to tpNormal.
using TConvertPriority = TThreadPriority;

// Gives the thread with the kernel id `threadId` the scheduling that stands for `priority`:
// tpNormal the process's own nice value, tpLower 5 and tpLowest 10 above it, tpIdle the idle
// scheduling class and nice 19. Whatever the system refuses (an unprivileged thread cannot
// raise its priority again) is left as it is, quietly.
void ApplyThreadPriority(uint32_t threadId, TConvertPriority priority);

class TCustomFFmpegVCL : private TLogSink {
  public:
    // The events. AIndex is the task's position in the list, -1 where none applies.
    using TBeforeHookEvent =
        std::function<void(int AIndex, int64_t APTS, THookAction& AHookAction)>;
    using TCustomHookEvent = std::function<void(int AIndex, THookBitmap& ABitmap, int AFrameNumber,
                                                int64_t APTS, bool& AUpdate, bool& AStopHook)>;
    using TLogEvent = std::function<void(int AIndex, TLogLevel ALogLevel, const std::string& AMsg)>;
    using TProgressEvent = std::function<void(int AIndex, int AFrameNumber, int AFPS,
                                              int ACurrentDuration, float AQuality, float ABitRate,
                                              int64_t ACurrentSize, int ATotalOutputDuration)>;
    // AResult: where the output is and whether the whole input was converted (see TTaskResult);
    // empty for the end of the whole run.
    using TTerminateEvent =
        std::function<void(int AIndex, bool AFinished, bool AException, const std::string& AMessage,
                           const TTaskResult& AResult)>;

    static constexpr const char* kVersion = "2.0b";

    // Tasks run on the main thread (StartTasks with 0 or less) are started through
    // `mainThreadTimer`, which must outlive the component. Without one such tasks run on a
    // worker thread each, one after another.
    explicit TCustomFFmpegVCL(TMainThreadTimer* mainThreadTimer = nullptr);
    virtual ~TCustomFFmpegVCL();
    TCustomFFmpegVCL(const TCustomFFmpegVCL&) = delete;
    TCustomFFmpegVCL& operator=(const TCustomFFmpegVCL&) = delete;

    // A text of the owner's; it changes nothing.
    std::string About;

    // Loads the libraries (see LoadFFmpegLibs), installs the log capture and applies LogLevel.
    // False leaves the loader's message in LastErrorText.
    bool LoadLibraries(const std::string& folder, bool useVersionedNames);
    // Adds a task converting `fileName`, configured by `options` (whose empty FileName is
    // filled in). Returns the task's index, or -1 with the reason in LastErrorText.
    int AppendTask(const std::string& fileName, TInputOptions* options = nullptr);
    // Opens one more input for the task at `index` (before its output is given), configured by
    // `options` (whose empty FileName is filled in). False leaves the reason in LastErrorText.
    // An index outside the list throws EListError.
    bool AddTaskInput(int index, const std::string& fileName, TInputOptions* options = nullptr);
    // Gives the task at `index` its output file, configured by `options` (whose empty FileName
    // is filled in). False leaves the reason in LastErrorText; the task stays in the list
    // either way. An index outside the list throws EListError.
    bool SetTaskOutput(int index, const std::string& fileName, TOutputOptions* options = nullptr);
    // Starts the tasks: up to `parallelCount` at once, each further one when another ends; with
    // 0 or less one at a time on the main thread. At least one starts when there is one.
    void StartTasks(int parallelCount);
    // Stops every task; those not yet started report their end and none starts any more.
    void StopTasks();
    // Stops the running task at `index` alone: it reports its end, and the next waiting task
    // takes its place. An index outside the list changes nothing.
    void StopTask(int index);
    void PauseTasks();
    void ResumeTasks();
    // Stops every task, waits for their threads, frees them; clears LastErrorText.
    void ClearTasks();
    // Stops the task at `index`, waits for its threads and frees it; the later tasks move up.
    // An index outside the list throws EListError.
    void DeleteTask(int index);
    // The message of the last failed load, add or set-output; cleared only by ClearTasks.
    std::string LastErrorText() const { return lastError_; }
    TAVProbe& Probe() { return *probe_; }

  protected:
    TLogLevel LogLevel() const { return logLevel_.load(); }
    void SetLogLevel(TLogLevel value);
    // Milliseconds between progress events of a task; at least 100.
    int32_t ProgressInterval() const { return progressInterval_.load(); }
    void SetProgressInterval(int32_t value);
    // The priority of the worker threads started from now on; values above tpNormal count as
    // tpNormal.
    TConvertPriority ThreadPriority() const { return threadPriority_.load(); }
    void SetThreadPriority(TConvertPriority value);
    // Threads of every decoder and encoder of the tasks added from now on: 1 by default, 0 one
    // per core; negative values count as 0.
    int32_t CodecThreads() const { return codecThreads_.load(); }
    void SetCodecThreads(int32_t value) { codecThreads_ = value < 0 ? 0 : value; }
    // Whether the tasks added from now on run their stages on threads of their own (on by
    // default) or in the engine's one loop; the output is the same either way.
    bool Pipeline() const { return pipeline_.load(); }
    void SetPipeline(bool value) { pipeline_ = value; }
    // Whether the last tasks of a run, as many as run at once, run their stages on threads of
    // their own even while Pipeline is off: as the others end, they get the cores to themselves.
    // Off by default.
    bool PipelineLastTasks() const { return pipelineLastTasks_.load(); }
    void SetPipelineLastTasks(bool value) { pipelineLastTasks_ = value; }
    // The tasks added from now on run `parallelFiles` at once: CodecThreads and Pipeline as
    // CodecThreadsPerFile and PipelinePerFile give them, the last tasks pipelined.
    void ShareCoresAmong(int parallelFiles);
    std::string Version() const { return kVersion; }

    // Assign before StartTasks; they are read by the worker threads without a lock.
    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TLogEvent OnLog;
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;

    // What each task's engine events reach; sender nullptr where no task applies.
    virtual void DoBeforeHook(TFFmpeg* sender, int64_t APTS, THookAction& AHookAction);
    virtual void DoCustomHook(TFFmpeg* sender, THookBitmap& ABitmap, int32_t AFrameNumber,
                              int64_t APTS, bool& AUpdate, bool& AStopHook);
    // `level` on the scale -1 quiet, 0 error, 1 information, 2 debug, 3 everything.
    virtual void DoLog(TFFmpeg* sender, int level, const std::string& text);
    virtual void DoProgress(TFFmpeg* sender, const TProgressInfo& info);
    // The end of a task: reports it, starts the next pending one or announces the end of the
    // whole run.
    virtual void DoTerminate(TFFmpeg* sender);

    // Stops every task, waits for every thread and frees the tasks, and leaves the registry.
    // A derived class whose code the events reach calls it first in its own destructor.
    void ShutDown();

    // The task list, for derived classes. Read it on the main thread, or inside an event.
    const TFFmpegList& Tasks() const { return tasks_; }

  private:
    void RouteLogLine(uint32_t threadId, int level, const std::string& line) override;

    // Under the lock: the index of the next task to start (counted as started), or -1.
    int TakeNextIndex();
    // Starts the task at `index` unless the run `generation` has been cancelled meanwhile:
    // through the main-thread timer, or at once on a worker thread.
    void LaunchTask(int index, uint64_t generation);
    void RunTaskOnWorker(int index, uint64_t generation);
    void RunTaskOnMainThread(int index, uint64_t generation);
    // Stops further starts and every task, and waits for every thread of every task.
    void StopAndJoinTasks();
    void WireEvents(TFFmpeg& task);

    TMainThreadTimer* const mainThreadTimer_;
    // Scheduled main-thread starts hold a weak copy: expired, the component is gone.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
    bool shutDown_ = false;

    std::string lastError_;
    std::atomic<TLogLevel> logLevel_{llInfo};
    std::atomic<int32_t> progressInterval_{500};
    std::atomic<TConvertPriority> threadPriority_{tpNormal};
    std::atomic<int32_t> codecThreads_{1};
    std::atomic<bool> pipeline_{true};
    std::atomic<bool> pipelineLastTasks_{false};
    std::unique_ptr<TAVProbe> probe_;

    // The component's lock: events, stop, pause, resume, the counts and changes of the list.
    mutable std::recursive_mutex lock_;
    TFFmpegList tasks_;
    int32_t nextIndex_ = -1;
    int32_t parallelCount_ = 0;
    int32_t terminatedCount_ = 0;
    int32_t pendingCount_ = 0;
    // Each StartTasks, ClearTasks and the destruction begin a new generation; a start decided
    // in an earlier one is dropped.
    std::atomic<uint64_t> runGeneration_{0};
    // Held while a task is started on a worker (taken before the component's lock, never
    // after it), so that ClearTasks can wait until no start is half done.
    std::recursive_mutex startLock_;
};

// The codec threads each of `parallelFiles` conversions at once should have: 0 (one per core)
// for one file, else the cores shared out, at least one each.
int32_t CodecThreadsPerFile(int parallelFiles);
// Whether each of `parallelFiles` conversions at once should run its stages on threads of their
// own: only while a file has two cores or more. With a core or less each, the files side by side
// keep every core busy already, and the stages' hand-offs only cost CPU time.
bool PipelinePerFile(int parallelFiles);

class TFFmpegVCL : public TCustomFFmpegVCL {
  public:
    using TCustomFFmpegVCL::TCustomFFmpegVCL;
    ~TFFmpegVCL() override { ShutDown(); }

    using TCustomFFmpegVCL::CodecThreads;
    using TCustomFFmpegVCL::LogLevel;
    using TCustomFFmpegVCL::Pipeline;
    using TCustomFFmpegVCL::PipelineLastTasks;
    using TCustomFFmpegVCL::ProgressInterval;
    using TCustomFFmpegVCL::SetCodecThreads;
    using TCustomFFmpegVCL::SetLogLevel;
    using TCustomFFmpegVCL::SetPipeline;
    using TCustomFFmpegVCL::SetPipelineLastTasks;
    using TCustomFFmpegVCL::SetProgressInterval;
    using TCustomFFmpegVCL::SetThreadPriority;
    using TCustomFFmpegVCL::ShareCoresAmong;
    using TCustomFFmpegVCL::ThreadPriority;
    using TCustomFFmpegVCL::Version;

    using TCustomFFmpegVCL::OnBeforeHook;
    using TCustomFFmpegVCL::OnCustomHook;
    using TCustomFFmpegVCL::OnLog;
    using TCustomFFmpegVCL::OnProgress;
    using TCustomFFmpegVCL::OnTerminate;
};
