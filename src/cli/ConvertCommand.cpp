#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <string>

#include "app/core/ComponentTaskRunner.h"
#include "app/core/ConversionQueue.h"
#include "app/core/FileList.h"
#include "app/core/FileListTexts.h"
#include "app/core/JobBuilder.h"
#include "app/core/OutputNames.h"
#include "cli/CliCommands.h"
#include "cli/CliLibraries.h"
#include "cli/ConsoleStatus.h"
#include "cli/ConvertSettings.h"
#include "cli/MediaFacts.h"
#include "cli/ProgressLine.h"
#include "cli/StopSignal.h"

namespace {

using TClock = std::chrono::steady_clock;

// One event of the component, as the main thread handles it.
struct TComponentEvent {
    enum TKind { ceProgress, ceLog, ceTerminate } Kind = ceLog;
    int Index = -1;
    TProgressFigures Progress;
    bool Exception = false;
    std::string Text;  // the log line, or the failure's message
};

// The component's events, handed from its threads to the main thread in the order raised. The
// handlers run under the component's lock: they only queue, never wait for anything else.
class TEventQueue {
  public:
    void Push(TComponentEvent event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        arrived_.notify_one();
    }
    // The next event, or none when `timeout` passes first.
    bool Pop(TComponentEvent& event, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, timeout, [this] { return !events_.empty(); })) return false;
        event = std::move(events_.front());
        events_.pop_front();
        return true;
    }

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<TComponentEvent> events_;
};

// The conversion of the command's files, one after another, through the window's queue, builder
// and component.
class TConversionRun {
  public:
    TConversionRun(const TConvertPlan& plan, bool verbose)
        : plan_(plan),
          verbose_(verbose),
          status_(TConsoleStatus::StandardErrorIsTerminal()),
          runner_(component_) {}

    int Run(const std::vector<std::string>& files);

  private:
    void WireEvents();
    // Handles one outcome of the builder: waits for a started task, reports a failed row.
    void Handle(const TBuildResult& build);
    // Waits for the end of the started task, showing its progress; stops it on a signal.
    void WaitForTask(const TBuildResult& build);
    void PrintResult(const TBuildResult& build, const std::string& status,
                     const std::string& reason);
    bool Interrupted() const { return StopSignalNumber() != 0; }

    const TConvertPlan& plan_;
    const bool verbose_;
    TConsoleStatus status_;
    TEventQueue events_;
    TFileList list_;
    TConversionQueue queue_;
    bool anyFailed_ = false;
    bool stopped_ = false;
    // Last: the component's threads raise events into the members above until it is gone.
    TFFmpegVCL component_;
    TComponentTaskRunner runner_;
};

void TConversionRun::WireEvents() {
    component_.OnProgress = [this](int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration,
                                   float, float, int64_t ACurrentSize, int ATotalOutputDuration) {
        TComponentEvent event;
        event.Kind = TComponentEvent::ceProgress;
        event.Index = AIndex;
        event.Progress = {AFrameNumber, AFPS, ACurrentDuration, ATotalOutputDuration, ACurrentSize};
        events_.Push(std::move(event));
    };
    if (verbose_) {
        component_.OnLog = [this](int AIndex, TLogLevel, const std::string& AMsg) {
            TComponentEvent event;
            event.Index = AIndex;
            event.Text = AMsg;
            events_.Push(std::move(event));
        };
    }
    component_.OnTerminate = [this](int AIndex, bool, bool AException,
                                    const std::string& AMessage) {
        TComponentEvent event;
        event.Kind = TComponentEvent::ceTerminate;
        event.Index = AIndex;
        event.Exception = AException;
        event.Text = AMessage;
        events_.Push(std::move(event));
    };
}

void TConversionRun::PrintResult(const TBuildResult& build, const std::string& result,
                                 const std::string& reason) {
    const TFileListRow& row = list_.Row(build.Row);
    // A row that failed before its job was described still shows where it would have gone.
    const std::string output =
        build.Job ? build.Job->OutputFile
                  : ChooseOutputName(row.FileName, plan_.Settings.OutputFolder,
                                     plan_.Settings.FormatKey, plan_.Settings.Overwrite)
                        .Path;
    std::string line = row.FileName + " -> " + output + ": " + result;
    if (!reason.empty()) line += ": " + reason;
    status_.PrintResult(line);
}

void TConversionRun::WaitForTask(const TBuildResult& build) {
    const auto started = TClock::now();
    bool stopAsked = false;
    for (;;) {
        if (!stopAsked && Interrupted()) {
            // As the Stop button: the queue ends, the running file is stopped and shows "Abort"
            // once its output is finished.
            stopAsked = true;
            stopped_ = true;
            queue_.Stop(true);
            runner_.StopTasks();
        }
        TComponentEvent event;
        if (!events_.Pop(event, std::chrono::milliseconds(50))) continue;
        if (event.Kind == TComponentEvent::ceLog) {
            status_.PrintMessage(event.Text);
        } else if (event.Kind == TComponentEvent::ceProgress) {
            const double elapsed = std::chrono::duration<double>(TClock::now() - started).count();
            status_.ShowProgress(ProgressLineText(event.Progress, elapsed));
        } else if (event.Index >= 0) {
            queue_.MarkResult(list_, event.Exception);
            if (event.Exception) anyFailed_ = true;
            PrintResult(build, list_.Row(build.Row).Progress,
                        event.Exception ? event.Text : std::string());
            return;
        }
    }
}

void TConversionRun::Handle(const TBuildResult& build) {
    // Notes of the builder (a name changed, ...); on a failure the last one is the reason.
    std::vector<std::string> notes = build.LogLines;
    std::string reason;
    if (build.Outcome == TBuildOutcome::boRowFailed ||
        build.Outcome == TBuildOutcome::boStartFailed) {
        if (!notes.empty()) {
            reason = notes.back();
            notes.pop_back();
            const std::string prefix = list_.Row(build.Row).FileName + ": ";
            if (reason.rfind(prefix, 0) == 0) reason.erase(0, prefix.size());
        }
        if (reason.empty()) reason = build.Message;
    }
    for (const std::string& note : notes) status_.PrintMessage(note);

    switch (build.Outcome) {
        case TBuildOutcome::boStarted:
            WaitForTask(build);
            break;
        case TBuildOutcome::boRowFailed:
        case TBuildOutcome::boStartFailed:
            anyFailed_ = true;
            PrintResult(build, kStatusFail, reason);
            break;
        case TBuildOutcome::boNoRowLeft:
            break;
    }
}

int TConversionRun::Run(const std::vector<std::string>& files) {
    component_.SetLogLevel(verbose_ ? llInfo : llError);
    component_.SetCodecThreads(0);
    if (!component_.LoadLibraries(LibraryFolder(), true)) {
        status_.PrintMessage(std::string(kMsgLibrariesMissing) + "\n" + component_.LastErrorText());
        return kExitFailed;
    }
    WireEvents();

    // The rows, as the window adds them: probed, checked, with the profile's key.
    try {
        for (const std::string& file : files) {
            AddToFileList(list_, ReadMediaFacts(component_.Probe(), file),
                          plan_.Settings.FormatKey);
        }
    } catch (const std::exception& error) {
        status_.PrintMessage(error.what());
        return kExitFailed;
    }
    const TConvertCheck check = CheckCanConvert(list_, plan_.Settings.OutputFolder);
    if (check != TConvertCheck::ccReady) {
        status_.PrintMessage("convert: the output folder \"" + plan_.Settings.OutputFolder +
                             "\" does not exist or is not a folder");
        return kExitUsage;
    }

    // Convert, as the window's button does, then the timer's ticks move the queue on; here
    // the ticks follow each other at once.
    if (!Interrupted()) {
        queue_.Start();
        runner_.ClearTasks();
        Handle(BuildNextTask(list_, queue_, plan_.Settings, runner_));
        while (!stopped_ && queue_.IsActive()) {
            if (Interrupted()) {
                stopped_ = true;
                queue_.Stop(true);
                break;
            }
            const TTimerAction action = queue_.Tick();
            if (action == TTimerAction::taBuildNext) {
                Handle(BuildNextTask(list_, queue_, plan_.Settings, runner_));
            } else if (action == TTimerAction::taReportCompletion) {
                break;
            }
        }
    }
    runner_.ClearTasks();
    status_.ClearProgress();
    if (Interrupted()) return kExitSignalBase + StopSignalNumber();
    return anyFailed_ ? kExitFailed : kExitOk;
}

}  // namespace

int ConvertCommand(const TConvertRequest& request) {
    TConvertPlan plan;
    try {
        plan = PlanConversion(request);
    } catch (const TUsageError& error) {
        std::fprintf(stderr, "convert: %s\nRun with --help for more information.\n", error.what());
        return kExitUsage;
    }
    InstallStopSignalHandlers();
    TConversionRun run(plan, request.Verbose);
    return run.Run(request.Files);
}
