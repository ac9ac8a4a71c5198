// The job builder's task operations carried out by the converter component, for the window and
// the command line alike: a job description becomes the component's input and output records.
#pragma once

#include <functional>

#include "app/core/JobBuilder.h"
#include "component/FFmpegVCL.h"
#include "engine/EngineTypes.h"

// The component's progress event as the record the engine reports it in, for the window's and
// the command line's relays alike: `handler` becomes the component's OnProgress.
using TTaskProgressHandler = std::function<void(int index, const TProgressInfo& progress)>;
void RelayProgress(TFFmpegVCL& component, TTaskProgressHandler handler);

// The records for a job: every field the job sets, the others at their initial "not set"
// values. Encoder names that today's libraries lack are replaced by those that do their work.
TInputOptions InputOptionsOf(const TJobDescription& job);
TOutputOptions OutputOptionsOf(const TJobDescription& job);

class TComponentTaskRunner : public TTaskRunner {
  public:
    explicit TComponentTaskRunner(TFFmpegVCL& component) : component_(component) {}

    void ClearTasks() override { component_.ClearTasks(); }
    int AppendTask(const TJobDescription& job) override;
    bool SetTaskOutput(int index, const TJobDescription& job) override;
    void DeleteTask(int index) override { component_.DeleteTask(index); }
    void StartTasks(int parallelCount) override { component_.StartTasks(parallelCount); }
    void StopTasks() override { component_.StopTasks(); }
    std::string LastErrorText() const override { return component_.LastErrorText(); }

  private:
    TFFmpegVCL& component_;
};
