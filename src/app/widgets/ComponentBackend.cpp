#include "app/widgets/ComponentBackend.h"

#include <QObject>
#include <QTimer>
#include <utility>

#include "app/core/ComponentTaskRunner.h"
#include "component/FFmpegVCL.h"
#include "component/MainThreadTimer.h"

namespace {

// Runs the component's callbacks on the Qt main thread. Callbacks still waiting when the timer
// goes are dropped with its context object.
class TQtMainThreadTimer : public TMainThreadTimer {
  public:
    void RunLater(int delayMs, std::function<void()> callback) override {
        QTimer::singleShot(delayMs, &context_, std::move(callback));
    }

  private:
    QObject context_;
};

}  // namespace

TComponentBackend::TComponentBackend()
    : timer_(std::make_unique<TQtMainThreadTimer>()),
      component_(std::make_unique<TFFmpegVCL>(timer_.get())),
      runner_(std::make_unique<TComponentTaskRunner>(*component_)) {
    // One file at a time: its codecs may use every core.
    component_->ShareCoresAmong(1);
    InstallRelays();
}

TComponentBackend::~TComponentBackend() {
    runner_.reset();
    // The component's own destruction stops and joins its tasks; their events still find the
    // relays and the lock.
    component_.reset();
}

void TComponentBackend::InstallRelays() {
    // Each relay runs under the component's lock and takes this object's lock after it; nothing
    // here takes them the other way round.
    RelayProgress(*component_, [this](int index, const TProgressInfo& progress) {
        std::lock_guard lock(eventLock_);
        if (events_.OnProgress) events_.OnProgress({index, progress});
    });
    component_->OnLog = [this](int AIndex, TLogLevel ALogLevel, const std::string& AMsg) {
        TTaskLogEvent event;
        event.Index = AIndex;
        // llQuiet (the error that ended a run) is -1, llError 0, llInfo 1, llDebug 2.
        event.Level = static_cast<int>(ALogLevel) - 1;
        event.Message = AMsg;
        std::lock_guard lock(eventLock_);
        if (events_.OnLog) events_.OnLog(event);
    };
    component_->OnTerminate = [this](int AIndex, bool AFinished, bool AException,
                                     const std::string& AMessage, const TTaskResult& AResult) {
        TTaskTerminateEvent event;
        event.Index = AIndex;
        event.Finished = AFinished;
        event.Exception = AException;
        event.Message = AMessage;
        event.Problem = AResult.Problem;
        if (AResult.Partial) event.PartialFile = AResult.OutputFile;
        std::lock_guard lock(eventLock_);
        if (events_.OnTerminate) events_.OnTerminate(event);
    };
}

bool TComponentBackend::LoadLibraries(const std::string& folder, bool useVersionedNames) {
    return component_->LoadLibraries(folder, useVersionedNames);
}

void TComponentBackend::ClearTasks() {
    runner_->ClearTasks();
}

int TComponentBackend::AppendTask(const TJobDescription& job) {
    return runner_->AppendTask(job);
}

bool TComponentBackend::SetTaskOutput(int index, const TJobDescription& job) {
    return runner_->SetTaskOutput(index, job);
}

void TComponentBackend::DeleteTask(int index) {
    runner_->DeleteTask(index);
}

void TComponentBackend::ShareCoresAmong(int parallelFiles) {
    component_->ShareCoresAmong(parallelFiles);
}

void TComponentBackend::StartTasks(int parallelCount) {
    runner_->StartTasks(parallelCount);
}

void TComponentBackend::StopTasks() {
    runner_->StopTasks();
}

void TComponentBackend::StopTask(int index) {
    component_->StopTask(index);
}

std::string TComponentBackend::LastErrorText() const {
    return runner_->LastErrorText();
}

void TComponentBackend::PauseTasks() {
    component_->PauseTasks();
}

void TComponentBackend::ResumeTasks() {
    component_->ResumeTasks();
}

void TComponentBackend::SetEvents(TConversionEvents events) {
    // Replaced under the relays' lock: once this returns, no relay is inside an old handler.
    std::lock_guard lock(eventLock_);
    events_ = std::move(events);
}
