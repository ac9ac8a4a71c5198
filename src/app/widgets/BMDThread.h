// A background worker: runs a piece of work on a thread of its own and reports its start, its
// progress and its end to the owner through events. The start event runs on the thread that
// starts the worker, before the worker runs; the update and terminate events run on the thread
// the component lives on (the main thread). A group starts, stops, suspends and resumes its
// members together and reports for them as one.
#pragma once

#include <sys/types.h>

#include <QObject>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/EngineTypes.h"

class TBMDThread;
class TBMDThreadGroup;
class TBMDExecuteThread;

// Data is handed by reference so that a handler can replace it for the later events of the run.
using TBMDThreadDataNotifyEvent =
    std::function<void(QObject* Sender, TBMDExecuteThread* Thread, void*& Data)>;
using TBMDThreadUpdateNotifyEvent =
    std::function<void(QObject* Sender, TBMDExecuteThread* Thread, void*& Data, int Percent)>;

// What a worker and a group have in common: group membership, the rank for a group's update
// event, the lock that keeps the component's event handlers from overlapping, and the
// operations that a group passes on to its members.
class TBMDThreadBase : public QObject {
  public:
    explicit TBMDThreadBase(QObject* owner = nullptr);
    ~TBMDThreadBase() override;
    TBMDThreadBase(const TBMDThreadBase&) = delete;
    TBMDThreadBase& operator=(const TBMDThreadBase&) = delete;

    virtual bool IsRunning() const = 0;
    virtual void Start(void* data = nullptr) = 0;
    virtual void Stop() = 0;
    virtual void Suspend() = 0;
    virtual void Resume() = 0;

    TBMDThreadGroup* ThreadGroup() const { return group_; }
    // Joins the group (null leaves the current one). Refused, returning false, when the group
    // would become a member of itself through the chain of groups.
    bool SetThreadGroup(TBMDThreadGroup* group);

    int UpdatePriority = 0;

  protected:
    std::recursive_mutex handlerLock_;

  private:
    friend class TBMDThreadGroup;
    TBMDThreadGroup* group_ = nullptr;
};

// One run of a worker. The work reads Terminated() between its steps and returns when it is
// true; while the worker is suspended that call waits until it is resumed or stopped.
class TBMDExecuteThread {
  public:
    TBMDThread* Owner() const { return owner_; }
    void*& Data() { return data_; }
    int Percent() const { return percent_.load(); }
    void SetPercent(int percent) { percent_.store(percent); }
    bool Terminated();
    // The kernel's id of the thread once it runs; 0 before.
    pid_t ThreadId() const { return threadId_.load(); }

  private:
    friend class TBMDThread;
    TBMDExecuteThread(TBMDThread* owner, void* data, std::uint64_t serial)
        : owner_(owner), data_(data), serial_(serial) {}
    void RequestTerminate();
    void SetSuspended(bool suspended);

    TBMDThread* owner_;
    void* data_;
    const std::uint64_t serial_;
    std::atomic<int> percent_{0};
    std::atomic<pid_t> threadId_{0};
    std::atomic<bool> bodyDone_{false};
    std::mutex stateLock_;
    std::condition_variable stateChanged_;
    bool suspended_ = false;
    bool terminateRequested_ = false;
    std::thread thread_;
};

class TBMDThread : public TBMDThreadBase {
  public:
    explicit TBMDThread(QObject* owner = nullptr);
    ~TBMDThread() override;

    bool IsRunning() const override { return thread_ != nullptr; }
    // Does nothing while a run is in progress. Otherwise OnStart runs here, on the calling
    // thread, before the worker is released.
    void Start(void* data = nullptr) override;
    // Asks the running work to end (resuming it first, so that it can see the request).
    void Stop() override;
    void Suspend() override;
    void Resume() override;
    // Waits until the running work returns and delivers the run's end at once, so that the
    // next start is not refused. Called on the component's own thread.
    void WaitFor();

    // The running thread, or null.
    TBMDExecuteThread* Thread() const { return thread_.get(); }
    // Whether the last run was asked to end before its work returned.
    bool Terminated() const { return lastRunTerminated_.load(); }

    unsigned RefreshInterval() const { return refreshInterval_; }
    void SetRefreshInterval(unsigned ms);
    TThreadPriority Priority() const { return priority_; }
    // Also changes the running thread's priority. Raising it above normal needs a privilege
    // that a user's process usually lacks; the thread then keeps its priority.
    void SetPriority(TThreadPriority priority);
    bool UpdateEnabled() const { return updateEnabled_; }
    void SetUpdateEnabled(bool enabled);

    TBMDThreadDataNotifyEvent OnExecute;  // the work, on the worker thread, without the lock
    TBMDThreadUpdateNotifyEvent OnUpdate;
    TBMDThreadDataNotifyEvent OnStart;
    TBMDThreadDataNotifyEvent OnTerminate;

  private:
    void RunBody(TBMDExecuteThread* run);
    void ThreadEnded(std::uint64_t serial);
    void UpdateTick();
    void ApplyPriority(const TBMDExecuteThread& run) const;

    QTimer updateTimer_;
    std::unique_ptr<TBMDExecuteThread> thread_;
    std::uint64_t nextSerial_ = 1;
    TThreadPriority priority_ = tpNormal;
    unsigned refreshInterval_ = 100;
    bool updateEnabled_ = false;
    std::atomic<bool> lastRunTerminated_{false};
};

class TBMDThreadGroup : public TBMDThreadBase {
  public:
    explicit TBMDThreadGroup(QObject* owner = nullptr);
    ~TBMDThreadGroup() override;

    // Each passes the call on to every member, in the order they joined.
    bool IsRunning() const override { return runningCount_ > 0; }
    void Start(void* data = nullptr) override;
    void Stop() override;
    void Suspend() override;
    void Resume() override;

    const std::vector<TBMDThreadBase*>& Members() const { return members_; }
    int RunningCount() const { return runningCount_; }

    // Sender is the member that reports; the group's own events fire when the first member
    // starts, when the last one ends, and for the update of the highest-ranked running member.
    TBMDThreadUpdateNotifyEvent OnUpdate;
    TBMDThreadDataNotifyEvent OnStart;
    TBMDThreadDataNotifyEvent OnTerminate;
    TBMDThreadUpdateNotifyEvent OnThreadUpdate;
    TBMDThreadDataNotifyEvent OnThreadStart;
    TBMDThreadDataNotifyEvent OnThreadTerminate;

  private:
    friend class TBMDThreadBase;
    friend class TBMDThread;
    void MemberStarted(TBMDThreadBase* member, TBMDExecuteThread* thread, void*& data);
    void MemberEnded(TBMDThreadBase* member, TBMDExecuteThread* thread, void*& data);
    void MemberUpdated(TBMDThreadBase* member, TBMDExecuteThread* thread, void*& data, int percent);

    std::vector<TBMDThreadBase*> members_;
    int runningCount_ = 0;
};
