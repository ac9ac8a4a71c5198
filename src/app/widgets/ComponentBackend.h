// The converter component behind the window: the job builder's operations through the shared
// task runner, and the component's events relayed to whichever handlers the window has given.
//
// The component reads its event handlers on its worker threads without a lock, so they are set
// once, here, before any task exists. They relay to the window's handlers under a lock of their
// own, which SetEvents takes too: the window can attach and detach at any time.
#pragma once

#include <memory>
#include <mutex>

#include "app/widgets/ConversionBackend.h"

class TComponentTaskRunner;
class TFFmpegVCL;
class TMainThreadTimer;

class TComponentBackend : public TConversionBackend {
  public:
    // Create on the Qt main thread: tasks the component runs there are started by its timers.
    TComponentBackend();
    // Stops every task and waits for its threads; their last events reach no handler of a
    // window that has detached.
    ~TComponentBackend() override;
    TComponentBackend(const TComponentBackend&) = delete;
    TComponentBackend& operator=(const TComponentBackend&) = delete;

    bool LoadLibraries(const std::string& folder, bool useVersionedNames) override;
    void ClearTasks() override;
    int AppendTask(const TJobDescription& job) override;
    bool SetTaskOutput(int index, const TJobDescription& job) override;
    void DeleteTask(int index) override;
    void StartTasks(int parallelCount) override;
    void ShareCoresAmong(int parallelFiles) override;
    void StopTasks() override;
    void StopTask(int index) override;
    std::string LastErrorText() const override;
    void PauseTasks() override;
    void ResumeTasks() override;
    void SetEvents(TConversionEvents events) override;

  private:
    void InstallRelays();

    // Declared before the component, which uses them until it is gone.
    std::unique_ptr<TMainThreadTimer> timer_;
    std::mutex eventLock_;
    TConversionEvents events_;
    std::unique_ptr<TFFmpegVCL> component_;
    std::unique_ptr<TComponentTaskRunner> runner_;
};
