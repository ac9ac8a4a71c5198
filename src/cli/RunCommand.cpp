#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/CliLibraries.h"
#include "cli/ConsoleStatus.h"
#include "cli/StopSignal.h"
#include "engine/CustomFFmpeg.h"

namespace {

// One step of the command line, in the order given.
struct TRunStep {
    enum TKind { rsInput, rsOption, rsOutput } Kind;
    std::string Name;   // file name, or the keyword without its dash
    std::string Value;  // the keyword's value ("" when it takes none)
};

// The command line as steps. A keyword's value is the next argument whatever it looks like
// ("-itsoffset -2"), so the split depends only on the keyword table. Empty on a usage error,
// which `error` then describes.
std::vector<TRunStep> StepsOf(const std::vector<std::string>& arguments, std::string& error) {
    std::vector<TRunStep> steps;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "-i") {
            if (!hasValue) {
                error = "\"-i\" needs an input file name";
                return {};
            }
            steps.push_back({TRunStep::rsInput, arguments[++i], ""});
        } else if (argument.size() > 1 && argument[0] == '-') {
            const std::string keyword = argument.substr(1);
            if (!TFFmpegOptions::KeywordTakesValue(keyword)) {
                steps.push_back({TRunStep::rsOption, keyword, ""});
            } else if (!hasValue) {
                error = "\"" + argument + "\" needs a value";
                return {};
            } else {
                steps.push_back({TRunStep::rsOption, keyword, arguments[++i]});
            }
        } else {
            steps.push_back({TRunStep::rsOutput, argument, ""});
        }
    }
    return steps;
}

// The engine's progress text (its log line while no progress handler is set) starts like this;
// on a terminal it is redrawn in place instead of scrolling.
bool IsProgressText(const std::string& text) {
    return text.rfind("frame=", 0) == 0 || text.rfind("size=", 0) == 0;
}

// The engine replaces an existing output file without asking. On a command line that is done
// only when asked for with "-y" (which the engine itself ignores), and never to an input of the
// same job: it would be destroyed while it is read. Empty when every output may be written.
std::string OutputRefusal(const std::vector<TRunStep>& steps) {
    namespace fs = std::filesystem;
    bool replaceAllowed = false;
    std::vector<fs::path> inputs;
    for (const TRunStep& step : steps) {
        if (step.Kind == TRunStep::rsOption && step.Name == "y") replaceAllowed = true;
        if (step.Kind == TRunStep::rsInput) inputs.emplace_back(step.Name);
    }
    for (const TRunStep& step : steps) {
        std::error_code error;
        if (step.Kind != TRunStep::rsOutput || !fs::exists(step.Name, error)) continue;
        for (const fs::path& input : inputs) {
            if (fs::equivalent(input, step.Name, error)) {
                return step.Name + ": the output is an input of the same job";
            }
        }
        if (!replaceAllowed) return step.Name + ": the file exists; add -y to replace it";
    }
    return {};
}

// Opens the inputs and outputs and passes the options, in the order given; kExitOk, or the
// exit code of a step that failed (its reason printed) or of a stop.
int OpenSteps(TCustomFFmpeg& engine, const std::vector<TRunStep>& steps, TConsoleStatus& status) {
    try {
        for (const TRunStep& step : steps) {
            if (StopSignalNumber() != 0) return kExitSignalBase + StopSignalNumber();
            bool opened = true;
            switch (step.Kind) {
                case TRunStep::rsInput:
                    opened = engine.OpenInputFile(step.Name);
                    break;
                case TRunStep::rsOutput:
                    opened = engine.OpenOutputFile(step.Name);
                    break;
                case TRunStep::rsOption:
                    engine.ParseOption(step.Name, step.Value);
                    break;
            }
            if (!opened) {
                status.PrintMessage(step.Name + ": " + engine.LastError);
                return kExitFailed;
            }
        }
    } catch (const std::exception& error) {
        status.PrintMessage(error.what());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int RunCommand(const std::vector<std::string>& arguments, int codecThreads, bool pipeline) {
    std::string usage;
    const std::vector<TRunStep> steps = StepsOf(arguments, usage);
    if (steps.empty()) {
        if (usage.empty()) usage = "nothing to run: give \"-i FILE\" and an output file";
        std::fprintf(stderr, "run: %s\nRun with --help for more information.\n", usage.c_str());
        return kExitUsage;
    }
    if (const std::string refusal = OutputRefusal(steps); !refusal.empty()) {
        std::fprintf(stderr, "run: %s\n", refusal.c_str());
        return kExitFailed;
    }
    InstallStopSignalHandlers();
    if (!LoadMediaLibraries()) return kExitFailed;

    TConsoleStatus status(TConsoleStatus::StandardErrorIsTerminal());
    std::mutex mutex;
    std::condition_variable ended;
    bool terminated = false;

    TCustomFFmpeg engine;
    engine.Reset();
    // Before the inputs open: their decoders are made there.
    engine.ThreadCount = codecThreads;
    engine.Pipeline = pipeline;
    // The events run on the job's worker; they only print and signal.
    engine.OnLog = [&](TCustomFFmpeg* sender, int level, const std::string& text) {
        // The error that ends a job (level -1) is reported once, at the end.
        if (level < 0 || level > sender->Verbose) return;
        if (IsProgressText(text) && status.ProgressInPlace()) {
            status.ShowProgress(text);
        } else {
            status.PrintMessage(text);
        }
    };
    engine.OnTerminate = [&](TCustomFFmpeg*) {
        std::lock_guard lock(mutex);
        terminated = true;
        ended.notify_all();
    };

    if (const int code = OpenSteps(engine, steps, status); code != kExitOk) return code;
    if (StopSignalNumber() != 0) return kExitSignalBase + StopSignalNumber();

    TFFmpegThread* worker = engine.Start(true, tpNormal);
    if (worker) worker->Resume();
    // A start that fails raises the terminate event before it returns; one that is refused
    // raises none.
    bool stopAsked = false;
    {
        std::unique_lock lock(mutex);
        while (!terminated && (worker || engine.IsRunning())) {
            ended.wait_for(lock, std::chrono::milliseconds(50));
            if (!stopAsked && StopSignalNumber() != 0) {
                stopAsked = true;
                lock.unlock();
                engine.Stop();
                lock.lock();
            }
        }
    }
    status.KeepProgress();
    if (engine.IsCompleted()) return kExitOk;
    if (engine.HasError()) {
        status.PrintMessage(engine.ErrorMessage());
        return kExitFailed;
    }
    if (stopAsked) return kExitSignalBase + StopSignalNumber();
    status.PrintMessage("The job could not be started.");
    return kExitFailed;
}
