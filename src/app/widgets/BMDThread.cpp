#include "app/widgets/BMDThread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>
#include <algorithm>

// --- TBMDThreadBase ---

TBMDThreadBase::TBMDThreadBase(QObject* owner) : QObject(owner) {}

TBMDThreadBase::~TBMDThreadBase() {
    SetThreadGroup(nullptr);
}

bool TBMDThreadBase::SetThreadGroup(TBMDThreadGroup* group) {
    if (group == group_) return true;
    for (TBMDThreadBase* link = group; link; link = link->group_) {
        if (link == this) return false;
    }
    if (group_) std::erase(group_->members_, this);
    group_ = group;
    if (group_) group_->members_.push_back(this);
    return true;
}

// --- TBMDExecuteThread ---

bool TBMDExecuteThread::Terminated() {
    std::unique_lock lock(stateLock_);
    stateChanged_.wait(lock, [this] { return !suspended_ || terminateRequested_; });
    return terminateRequested_;
}

void TBMDExecuteThread::RequestTerminate() {
    std::lock_guard lock(stateLock_);
    suspended_ = false;
    terminateRequested_ = true;
    stateChanged_.notify_all();
}

void TBMDExecuteThread::SetSuspended(bool suspended) {
    std::lock_guard lock(stateLock_);
    suspended_ = suspended;
    stateChanged_.notify_all();
}

// --- TBMDThread ---

TBMDThread::TBMDThread(QObject* owner) : TBMDThreadBase(owner) {
    updateTimer_.setInterval(static_cast<int>(refreshInterval_));
    connect(&updateTimer_, &QTimer::timeout, this, [this] { UpdateTick(); });
}

TBMDThread::~TBMDThread() {
    updateTimer_.stop();
    // Taken out of thread_, the run's end notification finds nothing and only the run is
    // forgotten: nothing is reported any more. Events are processed while waiting in case the
    // work waits for this thread.
    std::unique_ptr<TBMDExecuteThread> run = std::move(thread_);
    if (!run) return;
    run->RequestTerminate();
    if (QThread::currentThread() == thread() && QCoreApplication::instance()) {
        while (!run->bodyDone_.load()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    if (run->thread_.joinable()) run->thread_.join();
}

void TBMDThread::Start(void* data) {
    // A run whose work has returned but whose end has not been delivered yet ends now, so
    // that a start right after it is not lost.
    if (thread_ && thread_->bodyDone_.load()) ThreadEnded(thread_->serial_);
    if (thread_) return;

    thread_.reset(new TBMDExecuteThread(this, data, nextSerial_++));
    TBMDExecuteThread* run = thread_.get();
    lastRunTerminated_ = false;
    if (ThreadGroup()) ThreadGroup()->MemberStarted(this, run, run->data_);
    if (OnStart) {
        std::lock_guard lock(handlerLock_);
        OnStart(this, run, run->data_);
    }
    // A handler may have stopped the run already; the work then sees the request at once.
    run->thread_ = std::thread([this, run] { RunBody(run); });
    updateTimer_.setInterval(static_cast<int>(refreshInterval_));
    if (updateEnabled_) updateTimer_.start();
}

void TBMDThread::RunBody(TBMDExecuteThread* run) {
    run->threadId_.store(gettid());
    ApplyPriority(*run);
    if (OnExecute) OnExecute(this, run, run->data_);
    {
        std::lock_guard lock(run->stateLock_);
        lastRunTerminated_.store(run->terminateRequested_);
    }
    const std::uint64_t serial = run->serial_;
    run->bodyDone_.store(true);
    // The end is delivered on the component's own thread. The run is not touched after this
    // line: the component may already have ended it.
    QMetaObject::invokeMethod(
        this, [this, serial] { ThreadEnded(serial); }, Qt::QueuedConnection);
}

void TBMDThread::ThreadEnded(std::uint64_t serial) {
    if (!thread_ || thread_->serial_ != serial) return;  // delivered early by Start
    updateTimer_.stop();
    std::unique_ptr<TBMDExecuteThread> run = std::move(thread_);
    if (run->thread_.joinable()) run->thread_.join();
    if (ThreadGroup()) ThreadGroup()->MemberEnded(this, run.get(), run->data_);
    if (OnTerminate) {
        std::lock_guard lock(handlerLock_);
        OnTerminate(this, run.get(), run->data_);
    }
    if (updateEnabled_) updateTimer_.start();
}

void TBMDThread::UpdateTick() {
    if (!thread_) return;
    TBMDExecuteThread* run = thread_.get();
    if (ThreadGroup()) ThreadGroup()->MemberUpdated(this, run, run->data_, run->Percent());
    if (OnUpdate) {
        std::lock_guard lock(handlerLock_);
        OnUpdate(this, run, run->data_, run->Percent());
    }
}

void TBMDThread::WaitFor() {
    if (!thread_) return;
    if (thread_->thread_.joinable()) thread_->thread_.join();
    ThreadEnded(thread_->serial_);
}

void TBMDThread::Stop() {
    if (thread_) thread_->RequestTerminate();
}

void TBMDThread::Suspend() {
    if (thread_) thread_->SetSuspended(true);
}

void TBMDThread::Resume() {
    if (thread_) thread_->SetSuspended(false);
}

void TBMDThread::SetRefreshInterval(unsigned ms) {
    refreshInterval_ = ms;
    updateTimer_.setInterval(static_cast<int>(ms));
}

void TBMDThread::SetPriority(TThreadPriority priority) {
    priority_ = priority;
    if (thread_) ApplyPriority(*thread_);
}

void TBMDThread::ApplyPriority(const TBMDExecuteThread& run) const {
    const pid_t id = run.ThreadId();
    if (id != 0) setpriority(PRIO_PROCESS, static_cast<id_t>(id), NiceOffset(priority_));
}

void TBMDThread::SetUpdateEnabled(bool enabled) {
    updateEnabled_ = enabled;
    if (enabled) {
        updateTimer_.start();
    } else {
        updateTimer_.stop();
    }
}

// --- TBMDThreadGroup ---

TBMDThreadGroup::TBMDThreadGroup(QObject* owner) : TBMDThreadBase(owner) {}

TBMDThreadGroup::~TBMDThreadGroup() {
    for (TBMDThreadBase* member : members_) member->group_ = nullptr;
    members_.clear();
}

void TBMDThreadGroup::Start(void* data) {
    for (TBMDThreadBase* member : std::vector(members_)) member->Start(data);
}

void TBMDThreadGroup::Stop() {
    for (TBMDThreadBase* member : std::vector(members_)) member->Stop();
}

void TBMDThreadGroup::Suspend() {
    for (TBMDThreadBase* member : std::vector(members_)) member->Suspend();
}

void TBMDThreadGroup::Resume() {
    for (TBMDThreadBase* member : std::vector(members_)) member->Resume();
}

void TBMDThreadGroup::MemberStarted(TBMDThreadBase* member, TBMDExecuteThread* thread,
                                    void*& data) {
    std::lock_guard lock(handlerLock_);
    ++runningCount_;
    if (OnThreadStart) OnThreadStart(member, thread, data);
    if (runningCount_ == 1 && OnStart) OnStart(this, thread, data);
    if (ThreadGroup()) ThreadGroup()->MemberStarted(this, thread, data);
}

void TBMDThreadGroup::MemberEnded(TBMDThreadBase* member, TBMDExecuteThread* thread, void*& data) {
    std::lock_guard lock(handlerLock_);
    runningCount_ = std::max(0, runningCount_ - 1);
    if (OnThreadTerminate) OnThreadTerminate(member, thread, data);
    if (ThreadGroup()) ThreadGroup()->MemberEnded(this, thread, data);
    if (runningCount_ == 0 && OnTerminate) OnTerminate(this, thread, data);
}

void TBMDThreadGroup::MemberUpdated(TBMDThreadBase* member, TBMDExecuteThread* thread, void*& data,
                                    int percent) {
    std::lock_guard lock(handlerLock_);
    if (OnThreadUpdate) OnThreadUpdate(member, thread, data, percent);
    const bool outranked = std::any_of(members_.begin(), members_.end(), [&](auto* other) {
        return other != member && other->IsRunning() &&
               other->UpdatePriority > member->UpdatePriority;
    });
    if (!outranked && OnUpdate) OnUpdate(this, thread, data, percent);
    if (ThreadGroup()) ThreadGroup()->MemberUpdated(this, thread, data, percent);
}
