#include "component/FFmpegVCL.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "binding/FFmpegLibs.h"

namespace {

TLogLevel MapLogLevel(int level) {
    if (level < 0) return llQuiet;
    switch (level) {
        case 0:
            return llError;
        case 1:
            return llInfo;
        case 2:
            return llDebug;
        default:
            return llAll;
    }
}

// A task's verbosity and the libraries' level (which all threads read) from the log level;
// the libraries' level is written only when it changes.
void ApplyVerbose(TFFmpeg& task, TLogLevel logLevel) {
    const int verbose = static_cast<int>(logLevel) - 1;
    task.Verbose = verbose;
    if (CurrentLogLevel != verbose) SetLibraryLogLevel(verbose);
}

}  // namespace

void ApplyThreadPriority(uint32_t threadId, TConvertPriority priority) {
    const pid_t thread = static_cast<pid_t>(threadId);
    // Linux schedules threads one by one: these calls with a thread's id change that thread
    // only. A new thread inherits its creator's settings, which may be a worker's, so the
    // normal priority is set explicitly too.
    errno = 0;
    const int processNice = getpriority(PRIO_PROCESS, getpid());
    const int baseNice = errno == 0 ? processNice : 0;
    const sched_param parameters{};
    sched_setscheduler(thread, priority == tpIdle ? SCHED_IDLE : SCHED_OTHER, &parameters);
    // The component only ever lowers a worker below the process.
    setpriority(PRIO_PROCESS, thread, std::min(baseNice + std::max(NiceOffset(priority), 0), 19));
}

TCustomFFmpegVCL::TCustomFFmpegVCL(TMainThreadTimer* mainThreadTimer)
    : mainThreadTimer_(mainThreadTimer), probe_(std::make_unique<TAVProbe>()) {
    RegisterLogSink(this);
}

TCustomFFmpegVCL::~TCustomFFmpegVCL() {
    ShutDown();
}

void TCustomFFmpegVCL::ShutDown() {
    if (shutDown_) return;
    shutDown_ = true;
    alive_.reset();
    StopAndJoinTasks();
    // No task thread is left; once out of the registry no other thread's line arrives either.
    UnregisterLogSink(this);
    std::vector<std::unique_ptr<TFFmpeg>> gone;
    {
        std::lock_guard lock(lock_);
        gone = tasks_.ExtractAll();
    }
}

// ---- Properties.

void TCustomFFmpegVCL::SetLogLevel(TLogLevel value) {
    logLevel_ = value;
    if (FFmpegLibsLoaded()) SetLibraryLogLevel(static_cast<int>(value) - 1);
}

void TCustomFFmpegVCL::SetProgressInterval(int32_t value) {
    progressInterval_ = std::max(value, 100);
}

void TCustomFFmpegVCL::SetThreadPriority(TConvertPriority value) {
    threadPriority_ = std::clamp(value, tpIdle, tpNormal);
}

// ---- Operations.

bool TCustomFFmpegVCL::LoadLibraries(const std::string& folder, bool useVersionedNames) {
    if (!LoadFFmpegLibs(folder, useVersionedNames)) {
        lastError_ = FFmpegLibsError();
        return false;
    }
    InstallLibraryLogCallback();
    SetLibraryLogLevel(static_cast<int>(LogLevel()) - 1);
    return true;
}

void TCustomFFmpegVCL::WireEvents(TFFmpeg& task) {
    task.OnLog = [this](TCustomFFmpeg* sender, int level, const std::string& text) {
        DoLog(static_cast<TFFmpeg*>(sender), level, text);
    };
    task.OnProgress = [this](TCustomFFmpeg* sender, const TProgressInfo& info) {
        DoProgress(static_cast<TFFmpeg*>(sender), info);
    };
    task.OnTerminate = [this](TCustomFFmpeg* sender) {
        // The job's files are closed: the output gets its name before anyone hears of the end
        // (and before the component's lock, as the check whether it plays makes the libraries
        // log).
        auto* ended = static_cast<TFFmpeg*>(sender);
        ended->SettleOutput();
        DoTerminate(ended);
    };
}

int TCustomFFmpegVCL::AppendTask(const std::string& fileName, TInputOptions* options) {
    if (!FFmpegLibsLoaded()) {
        lastError_ = "The media libraries are not loaded";
        return -1;
    }
    auto task = std::make_unique<TFFmpeg>();
    try {
        task->Reset();
        ApplyVerbose(*task, LogLevel());
        // Before the input opens: its decoders are made there.
        task->ThreadCount = CodecThreads();
        task->Pipeline = Pipeline();
        if (options) {
            if (options->FileName.empty()) options->FileName = fileName;
            task->InputOptions = *options;
            ApplyInputOptions(*task, *options);
        } else {
            InitInputOptions(task->InputOptions);
            task->InputOptions.FileName = fileName;  // the passes of a fit open it again
        }
        if (!task->OpenInputFile(fileName)) {
            lastError_ = task->LastError;
            return -1;
        }
        WireEvents(*task);
        std::lock_guard lock(lock_);
        return tasks_.Add(std::move(task));
    } catch (const std::exception& error) {
        lastError_ = error.what();
        return -1;
    }
}

bool TCustomFFmpegVCL::AddTaskInput(int index, const std::string& fileName,
                                    TInputOptions* options) {
    TFFmpeg& task = tasks_.Get(index);
    try {
        TInputOptions record;
        InitInputOptions(record);
        if (options) record = *options;
        if (record.FileName.empty()) record.FileName = fileName;
        if (options) ApplyInputOptions(task, record);
        if (!task.OpenInputFile(fileName)) {
            lastError_ = task.LastError;
            return false;
        }
        task.MoreInputs.push_back(std::move(record));
        return true;
    } catch (const std::exception& error) {
        lastError_ = error.what();
        return false;
    }
}

bool TCustomFFmpegVCL::SetTaskOutput(int index, const std::string& fileName,
                                     TOutputOptions* options) {
    TFFmpeg& task = tasks_.Get(index);
    try {
        if (options) {
            if (options->FileName.empty()) options->FileName = fileName;
            task.OutputOptions = *options;
            ApplyOutputOptions(task, *options);
            if (options->CustomHook) {
                task.OnCustomHook = [this](TCustomFFmpeg* sender, THookBitmap& bitmap,
                                           int32_t frameNumber, int64_t pts, bool& update,
                                           bool& stopHook) {
                    DoCustomHook(static_cast<TFFmpeg*>(sender), bitmap, frameNumber, pts, update,
                                 stopHook);
                };
            } else if (options->BeforeHook) {
                task.OnBeforeHook = [this](TCustomFFmpeg* sender, int64_t pts,
                                           THookAction& action) {
                    DoBeforeHook(static_cast<TFFmpeg*>(sender), pts, action);
                };
            } else {
                task.SetHookTimeRanges(ParseHookTimeRanges(options->HookTimeRanges));
            }
        } else {
            InitOutputOptions(task.OutputOptions);
        }
        // A fitted output or a GIF is checked under a name of its own: its passes write elsewhere.
        const bool fitted = options && (options->FitSizeBytes > 0 || options->PaletteColours > 0);
        if (!task.OpenOutputFile(fitted ? task.PrepareFit() : task.BeginOutput(fileName))) {
            lastError_ = task.WithOwnName(task.LastError);
            return false;
        }
        if (options) ApplyOutputStreamOptions(task, *options);
        return true;
    } catch (const std::exception& error) {
        lastError_ = error.what();
        return false;
    }
}

void TCustomFFmpegVCL::StartTasks(int parallelCount) {
    ClearPendingLogText();
    // The libraries' level is process-wide: set here, on the main thread, rather than by each
    // start (which may run on a worker while other threads read the level); each start sets
    // its task's own verbosity.
    const int verbose = static_cast<int>(LogLevel()) - 1;
    if (FFmpegLibsLoaded() && CurrentLogLevel != verbose) SetLibraryLogLevel(verbose);
    // The whole first batch is taken at once, so that a task of it that ends at once starts
    // the task after the batch, not one of the batch.
    std::vector<int> batch;
    uint64_t generation = 0;
    {
        std::lock_guard lock(lock_);
        nextIndex_ = 0;
        terminatedCount_ = 0;
        parallelCount_ = parallelCount;
        pendingCount_ = tasks_.Count();
        generation = ++runGeneration_;
        for (int left = parallelCount;;) {
            const int index = TakeNextIndex();
            if (index < 0) break;
            batch.push_back(index);
            if (--left <= 0) break;
        }
    }
    for (int index : batch) LaunchTask(index, generation);
}

int TCustomFFmpegVCL::TakeNextIndex() {
    if (pendingCount_ <= 0) return -1;
    --pendingCount_;
    // Counted before the task starts: a start that fails ends the task at once, and the next
    // start its end makes must take the task after it.
    return nextIndex_++;
}

void TCustomFFmpegVCL::LaunchTask(int index, uint64_t generation) {
    bool onMainThread = false;
    {
        std::lock_guard lock(lock_);
        onMainThread = parallelCount_ <= 0 && mainThreadTimer_;
    }
    if (!onMainThread) {
        // Without a main-thread timer, tasks meant for the main thread run on a worker thread
        // each, still one after another.
        RunTaskOnWorker(index, generation);
        return;
    }
    std::weak_ptr<char> alive = alive_;
    mainThreadTimer_->RunLater(100, [this, alive, index, generation] {
        if (alive.expired()) return;
        RunTaskOnMainThread(index, generation);
    });
}

void TCustomFFmpegVCL::RunTaskOnWorker(int index, uint64_t generation) {
    std::lock_guard startLock(startLock_);
    TFFmpeg* task = nullptr;
    {
        std::lock_guard lock(lock_);
        if (generation != runGeneration_.load() || index >= tasks_.Count()) return;
        task = &tasks_.Get(index);
        if (PipelineLastTasks() && index >= tasks_.Count() - parallelCount_) task->Pipeline = true;
    }
    const TConvertPriority priority = ThreadPriority();
    task->ProgressIntervalUs = int64_t{ProgressInterval()} * 1000;
    task->Verbose = static_cast<int>(LogLevel()) - 1;
    TFFmpegThread* worker = task->Start(true, priority);
    if (!worker) {
        task->ThreadId = 0;
        return;
    }
    const uint32_t threadId = static_cast<uint32_t>(worker->ThreadId());
    task->ThreadId = threadId;
    ApplyThreadPriority(threadId, priority);
    worker->Resume();
}

void TCustomFFmpegVCL::RunTaskOnMainThread(int index, uint64_t generation) {
    TFFmpeg* task = nullptr;
    {
        std::lock_guard lock(lock_);
        if (generation != runGeneration_.load() || index >= tasks_.Count()) return;
        task = &tasks_.Get(index);
    }
    task->ThreadId = CurrentThreadId();
    task->ProgressIntervalUs = int64_t{ProgressInterval()} * 1000;
    task->Verbose = static_cast<int>(LogLevel()) - 1;
    // The whole conversion runs here, inside the timer's callback; no lock is held meanwhile.
    task->Start(false, ThreadPriority());
}

void TCustomFFmpegVCL::StopTasks() {
    std::lock_guard lock(lock_);
    pendingCount_ = 0;
    for (int i = 0; i < tasks_.Count(); ++i) tasks_.Get(i).Stop();
}

void TCustomFFmpegVCL::StopTask(int index) {
    std::lock_guard lock(lock_);
    if (index >= 0 && index < tasks_.Count()) tasks_.Get(index).Stop();
}

void TCustomFFmpegVCL::PauseTasks() {
    std::lock_guard lock(lock_);
    for (int i = 0; i < tasks_.Count(); ++i) tasks_.Get(i).Pause();
}

void TCustomFFmpegVCL::ResumeTasks() {
    std::lock_guard lock(lock_);
    for (int i = 0; i < tasks_.Count(); ++i) tasks_.Get(i).Resume();
}

void TCustomFFmpegVCL::StopAndJoinTasks() {
    {
        std::lock_guard lock(lock_);
        pendingCount_ = 0;
        ++runGeneration_;
    }
    // A start decided before the new generation is either done or will see it.
    { std::lock_guard startLock(startLock_); }
    // Only this thread changes the list, so it reads it without the lock; the workers must get
    // the lock for their events while they are waited for.
    for (int i = 0; i < tasks_.Count(); ++i) tasks_.Get(i).StopAndJoinThreads();
}

void TCustomFFmpegVCL::ClearTasks() {
    StopAndJoinTasks();
    std::vector<std::unique_ptr<TFFmpeg>> gone;
    {
        std::lock_guard lock(lock_);
        gone = tasks_.ExtractAll();
        parallelCount_ = 0;
    }
    lastError_.clear();
    // The tasks are freed here, with no thread of theirs left.
}

void TCustomFFmpegVCL::DeleteTask(int index) {
    tasks_.Get(index).StopAndJoinThreads();
    std::unique_ptr<TFFmpeg> gone;
    std::lock_guard startLock(startLock_);
    std::lock_guard lock(lock_);
    gone = tasks_.Extract(index);
}

// ---- Events.

void TCustomFFmpegVCL::DoBeforeHook(TFFmpeg* sender, int64_t APTS, THookAction& AHookAction) {
    if (OnBeforeHook) OnBeforeHook(sender ? sender->Index.load() : -1, APTS, AHookAction);
}

void TCustomFFmpegVCL::DoCustomHook(TFFmpeg* sender, THookBitmap& ABitmap, int32_t AFrameNumber,
                                    int64_t APTS, bool& AUpdate, bool& AStopHook) {
    if (OnCustomHook)
        OnCustomHook(sender ? sender->Index.load() : -1, ABitmap, AFrameNumber, APTS, AUpdate,
                     AStopHook);
}

void TCustomFFmpegVCL::DoLog(TFFmpeg* sender, int level, const std::string& text) {
    if (!OnLog) return;
    std::lock_guard lock(lock_);
    OnLog(sender ? sender->Index.load() : -1, MapLogLevel(level), text);
}

void TCustomFFmpegVCL::DoProgress(TFFmpeg* sender, const TProgressInfo& info) {
    if (!OnProgress) return;
    std::lock_guard lock(lock_);
    OnProgress(sender ? sender->Index.load() : -1, info.FrameNumber, info.FPS, info.CurrentDuration,
               info.Quality, info.BitRate, info.CurrentSize, info.TotalOutputDuration);
}

void TCustomFFmpegVCL::DoTerminate(TFFmpeg* sender) {
    int next = -1;
    uint64_t generation = 0;
    {
        std::lock_guard lock(lock_);
        if (!sender) {
            if (OnTerminate) OnTerminate(-1, true, false, std::string(), TTaskResult());
            ClearPendingLogText();
            return;
        }
        // The task no longer runs on its thread: later lines of that thread (the main thread's
        // above all, where every task run there has its id) are not the task's.
        sender->ThreadId = 0;
        if (OnTerminate)
            OnTerminate(sender->Index.load(), sender->IsCompleted(), sender->HasError(),
                        sender->ErrorText(), sender->Result());
        ++terminatedCount_;
        if (pendingCount_ > 0) {
            next = TakeNextIndex();
            generation = runGeneration_.load();
        } else if (terminatedCount_ >= tasks_.Count()) {
            if (OnTerminate) OnTerminate(-1, true, false, std::string(), TTaskResult());
            ClearPendingLogText();
        }
    }
    // Started outside the component's lock: a start may make the libraries log, and their
    // lines take the registry's lock before any component's.
    if (next >= 0) LaunchTask(next, generation);
}

void TCustomFFmpegVCL::RouteLogLine(uint32_t threadId, int level, const std::string& line) {
    std::lock_guard lock(lock_);
    DoLog(tasks_.FindByThreadId(threadId), level, line);
}

int32_t CodecThreadsPerFile(int parallelFiles) {
    if (parallelFiles <= 1) return 0;
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    return std::max(1, cores / parallelFiles);
}

bool PipelinePerFile(int parallelFiles) {
    return CodecThreadsPerFile(parallelFiles) != 1;
}

void TCustomFFmpegVCL::ShareCoresAmong(int parallelFiles) {
    SetCodecThreads(CodecThreadsPerFile(parallelFiles));
    SetPipeline(PipelinePerFile(parallelFiles));
    SetPipelineLastTasks(true);
}
