#include "engine/CustomFFmpeg.h"

#include <unistd.h>

#include <algorithm>
#include <cfenv>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "engine/LibraryErrors.h"

namespace {

// The codecs' arithmetic expects floating-point exceptions masked; the previous state comes
// back when the program unloads the engine.
struct TFloatingPointMask {
    TFloatingPointMask() { std::feholdexcept(&saved); }
    ~TFloatingPointMask() { std::fesetenv(&saved); }
    std::fenv_t saved;
} floatingPointMask;

}  // namespace

// ---- Threads ----

TEngineThread::TEngineThread(std::function<void()> body) : body_(std::move(body)) {
    thread_ = std::thread([this] { Main(); });
}

TEngineThread::~TEngineThread() {
    Join();
}

void TEngineThread::Main() {
    {
        std::unique_lock lock(mutex_);
        threadId_ = gettid();
        changed_.notify_all();
        changed_.wait(lock, [this] { return gate_ != TGate::Held; });
        if (gate_ == TGate::Cancelled) {
            finished_ = true;
            return;
        }
    }
    body_();
    finished_ = true;
}

void TEngineThread::Resume() {
    std::lock_guard lock(mutex_);
    if (gate_ != TGate::Held) return;
    gate_ = TGate::Released;
    changed_.notify_all();
}

pid_t TEngineThread::ThreadId() const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return threadId_ != 0; });
    return threadId_;
}

void TEngineThread::Join() {
    if (!thread_.joinable()) return;
    if (IsCurrentThread()) {
        // The body still uses its engine: neither waiting for itself nor letting go is sound.
        std::fprintf(stderr, "engine thread %d asked to wait for itself\n",
                     static_cast<int>(gettid()));
        std::abort();
    }
    {
        std::lock_guard lock(mutex_);
        if (gate_ == TGate::Held) gate_ = TGate::Cancelled;
        changed_.notify_all();
    }
    thread_.join();
}

TFFmpegThread::TFFmpegThread(TCustomFFmpeg& engine) : TEngineThread([&engine] { engine.Run(); }) {}

TDoTerminateThread::TDoTerminateThread(TCustomFFmpeg& engine)
    : TEngineThread([&engine] { engine.Terminate(); }) {}

// ---- Engine ----

TCustomFFmpeg::TCustomFFmpeg() {
    ApplyEngineDefaults();
}

TCustomFFmpeg::~TCustomFFmpeg() {
    StopAndJoinThreads();
    Cleanup();
}

void TCustomFFmpeg::ApplyEngineDefaults() {
    ApplyOptionDefaults();
    InputFileCount = 0;
    OutputFileCount = 0;
    VideoBytesWritten = AudioBytesWritten = GlobalHeaderBytes = 0;
    DuplicatedFrames = DroppedFrames = 0;
    DecodeErrors = ReadError = 0;
    FirstDamageUs = -1;
    {
        std::lock_guard lock(stateMutex_);
        worker_ = nullptr;
    }
    RunControl.Begin();
    HookFrameNumber = 0;
    HookAction = haContinue;
    HookTimeRanges.clear();
    HookRangeIndex = 0;
    {
        std::lock_guard lock(errorMutex_);
        errorMessage_.clear();
    }
    ErrorFlag = false;
}

void TCustomFFmpeg::Reset() {
    if (!FFmpegLibsLoaded() || Running.load()) return;
    JoinThreads();
    Cleanup();
    ApplyEngineDefaults();
    Completed = false;
    Terminated = false;
    AllocateOptionContexts();
}

TFFmpegThread* TCustomFFmpeg::Start(bool threaded, TThreadPriority priority) {
    if (Running.load() || Terminated.load() || terminatePending_.load()) return nullptr;
    if (OutputFileCount <= 0) {
        FailStart("Must supply at least one output file");
        return nullptr;
    }
    if (InputFileCount <= 0) {
        FailStart("Must supply at least one input file");
        return nullptr;
    }
    RunControl.Begin();
    Completed = false;
    Running = true;
    if (!threaded) {
        Run();
        return nullptr;
    }
    TFFmpegThread* worker = nullptr;
    try {
        worker = AddThread(std::make_unique<TFFmpegThread>(*this));
    } catch (const std::system_error& error) {
        Running = false;
        FailStart(FormatText("Cannot start a worker thread: %s", error.what()).c_str());
        return nullptr;
    }
    worker->SetPriority(priority);
    std::lock_guard lock(stateMutex_);
    worker_ = worker;
    return worker;
}

void TCustomFFmpeg::FailStart(const char* message) {
    Cleanup();
    SetError(message);
    Terminate();
}

void TCustomFFmpeg::Run() {
    Completed = false;
    // Reports the end on every way out, also when a log handler throws from the catch below.
    struct TRunEnd {
        TCustomFFmpeg& engine;
        ~TRunEnd() { engine.FinishRun(); }
    } runEnd{*this};
    try {
        Transcode();
    } catch (const std::exception& error) {
        SetError(error.what());
    } catch (...) {
        SetError("Transcode failed with an unknown error");
    }
}

void TCustomFFmpeg::FinishRun() {
    // Encoders still open here were never drained (a stop, a failure): some take seconds to let
    // go of the pictures they hold (SVT-AV1 finishes each one), and the output does not need
    // them. They are set aside until the files are closed and the end is reported.
    std::vector<TCodecContextPtr> undrained = TakeUndrainedEncoders();
    CloseAllCodecsLocked(OpenEncoders);
    CloseAllCodecsLocked(OpenDecoders);
    Cleanup();
    Terminate();
    undrained.clear();
}

std::vector<TCodecContextPtr> TCustomFFmpeg::TakeUndrainedEncoders() {
    std::vector<TCodecContextPtr> taken;
    for (TOutputFile& file : OutputFiles)
        for (TOutputStream& stream : file.Streams)
            if (stream.Codec && OpenEncoders.Contains(stream.Codec.get())) {
                ReleaseOpenCodecLocked(OpenEncoders, stream.Codec.get());
                taken.push_back(std::move(stream.Codec));
            }
    return taken;
}

void TCustomFFmpeg::NoteInputDamage(int64_t inputTimeUs) {
    if (FirstDamageUs < 0) FirstDamageUs = std::max<int64_t>(inputTimeUs, 0);
}

void TCustomFFmpeg::Stop() {
    if (Running.load()) {
        RunControl.Stop();
        std::lock_guard lock(stateMutex_);
        if (worker_) worker_->Resume();
        return;
    }
    if (Terminated.load() || terminatePending_.exchange(true)) return;
    auto* terminator = AddThread(std::make_unique<TDoTerminateThread>(*this));
    terminator->SetPriority(tpIdle);
    terminator->Resume();
}

void TCustomFFmpeg::Pause() {
    std::lock_guard lock(stateMutex_);
    if (worker_) RunControl.Pause();
}

void TCustomFFmpeg::Resume() {
    std::lock_guard lock(stateMutex_);
    if (!worker_) return;
    worker_->Resume();
    RunControl.Resume();
}

bool TCustomFFmpeg::PausePoint() {
    return RunControl.CheckPoint(!CodecLockHeldByThisThread());
}

bool TCustomFFmpeg::IsPaused() const {
    return RunControl.IsWaiting();
}

void TCustomFFmpeg::Terminate() {
    if (Terminated.exchange(true)) return;
    Running = false;
    {
        std::lock_guard lock(stateMutex_);
        worker_ = nullptr;
    }
    RunControl.Resume();
    terminatePending_ = false;
    if (OnTerminate) OnTerminate(this);
}

void TCustomFFmpeg::Cleanup() {
    if (!FFmpegLibsLoaded()) return;
    FreeRunState();
    CloseOutputFiles();
    CloseInputFiles();
    FreeOptionState();  // also releases the frame-hook chain
    FreeHookState();
}

void TCustomFFmpeg::CloseOutputFiles() {
    const int count = std::min(OutputFileCount, MAX_FILES);
    for (int i = 0; i < count; ++i) {
        TOutputPtr output = std::move(OutputFiles[i].Context);
        if (!output) continue;
        // Only a file this job opened may be deleted for being empty: a format that writes no
        // byte stream of its own (an image sequence, say) leaves the name alone.
        const bool openedFile =
            output->oformat && !(output->oformat->flags & AVFMT_NOFILE) && output->pb;
        const std::string url = output->url ? output->url : "";
        output.reset();  // closes the byte stream, so the size below is final
        if (openedFile && !url.empty() && FileSize(url.c_str()) == 0) std::remove(url.c_str());
    }
    for (int i = 0; i < MAX_FILES; ++i)
        for (int j = 0; j < MAX_STREAMS; ++j) FreeOutputStreamSlot(i, j);
    OutputFileCount = 0;
}

void TCustomFFmpeg::CloseInputFiles() {
    const int count = std::min(InputFileCount, MAX_FILES);
    for (int i = 0; i < count; ++i) InputFiles[i].Context.reset();
    for (int i = 0; i < MAX_FILES; ++i) {
        for (TCodecContextPtr& decoder : InputFiles[i].Decoders)
            FreeCodecContextLocked(OpenDecoders, decoder);
        InputFiles[i] = TInputFile{};
    }
    InputFileCount = 0;
}

void TCustomFFmpeg::FreeHookState() {
    HookBitmap.reset();
    ToRGBContext.reset();
    FromRGBContext.reset();
}

void TCustomFFmpeg::SetHookTimeRanges(std::vector<THookTimeRange> ranges) {
    std::sort(ranges.begin(), ranges.end(),
              [](const THookTimeRange& a, const THookTimeRange& b) { return a.EndUs < b.EndUs; });
    HookTimeRanges = std::move(ranges);
    HookRangeIndex = 0;
}

std::string TCustomFFmpeg::ErrorMessage() const {
    std::lock_guard lock(errorMutex_);
    return errorMessage_;
}

void TCustomFFmpeg::SetError(const std::string& message) {
    DoLog(-1, message);
    {
        std::lock_guard lock(errorMutex_);
        errorMessage_ = message;
    }
    ErrorFlag = true;
}

bool TCustomFFmpeg::RunsOnThread(pid_t threadId) const {
    std::lock_guard lock(runThreadsMutex_);
    return std::find(runThreads_.begin(), runThreads_.end(), threadId) != runThreads_.end();
}

void TCustomFFmpeg::NoteRunThread(pid_t threadId, bool running) {
    std::lock_guard lock(runThreadsMutex_);
    if (running)
        runThreads_.push_back(threadId);
    else
        runThreads_.erase(std::remove(runThreads_.begin(), runThreads_.end(), threadId),
                          runThreads_.end());
}

void TCustomFFmpeg::DoLog(int level, const std::string& text) {
    // The events of a job come from its own thread, whichever of its stages logged.
    Scheduler->Raise([this, level, text] {
        if (OnLog) OnLog(this, level, text);
    });
}

void TCustomFFmpeg::TOneLoop::Raise(std::function<void()> event) {
    event();  // the one loop runs on the job's thread alone
}

void TCustomFFmpeg::Log(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatTextV(format, args);
    va_end(args);
    DoLog(level, text);
}

void TCustomFFmpeg::StopAndJoinThreads() {
    RunControl.Stop();
    JoinThreads();
}

void TCustomFFmpeg::JoinThreads() {
    std::vector<std::unique_ptr<TEngineThread>> joining;
    {
        std::lock_guard lock(threadsMutex_);
        // A thread cannot wait for itself: the calling one (if it is ours) stays listed.
        auto others =
            std::stable_partition(threads_.begin(), threads_.end(),
                                  [](const auto& thread) { return thread->IsCurrentThread(); });
        std::move(others, threads_.end(), std::back_inserter(joining));
        threads_.erase(others, threads_.end());
    }
    for (auto& thread : joining) thread->Join();
    std::lock_guard lock(stateMutex_);
    for (auto& thread : joining)
        if (worker_ == thread.get()) worker_ = nullptr;
}

template <typename Thread>
Thread* TCustomFFmpeg::AddThread(std::unique_ptr<Thread> thread) {
    Thread* added = thread.get();
    std::lock_guard lock(threadsMutex_);
    // Threads that have ended are joined at once (they no longer wait for anything).
    std::erase_if(threads_,
                  [](const auto& old) { return old->Finished() && !old->IsCurrentThread(); });
    threads_.push_back(std::move(thread));
    return added;
}
