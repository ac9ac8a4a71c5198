// `estimate`: the expected output size and time of each file with a profile and its choices,
// before anything is converted.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <thread>

#include "app/core/FitToSize.h"
#include "app/core/JobBuilder.h"
#include "app/core/OutputEstimate.h"
#include "binding/FFmpegLibs.h"
#include "cli/CliCommands.h"
#include "cli/CliLibraries.h"
#include "cli/ConvertSettings.h"
#include "cli/MediaFacts.h"
#include "cli/StopSignal.h"
#include "probe/AVProbe.h"

namespace {

// The estimate of one file; false (and the reason on standard error) when it has none.
bool EstimateFile(const TConvertPlan& plan, TAVProbe& probe, const std::string& path,
                  const std::atomic<bool>& stop) {
    const TMediaFacts facts = ReadMediaFacts(probe, path);
    std::string reason = facts.Ok ? NothingToConvertReason(facts) : facts.Error;
    std::optional<TOutputEstimate> estimate;
    if (reason.empty()) {
        TFileList list;
        AddToFileList(list, facts, plan.Settings.FormatKey);
        std::vector<std::string> logLines;
        try {
            const TJobDescription job = DescribeJob(list.Row(0), plan.Settings, logLines);
            estimate = EstimateOutput(job, list.Row(0), TSampleRequest{}, &stop);
            if (!estimate) reason = "stopped";
        } catch (const std::exception& error) {
            reason = error.what();
        }
    }
    if (!estimate) {
        // The probe's reasons name the file themselves.
        if (reason.rfind(path, 0) == 0)
            std::fprintf(stderr, "%s\n", reason.c_str());
        else
            std::fprintf(stderr, "%s: %s\n", path.c_str(), reason.c_str());
        std::printf("%s\t-\t-\n", path.c_str());
        return false;
    }
    std::printf("%s\t%" PRId64 "\t%.0f\n", path.c_str(), estimate->Bytes, estimate->Seconds);
    if (estimate->LargerThanSource())
        std::fprintf(stderr, "%s: the output is expected to be larger than its source: %s\n",
                     path.c_str(), EstimateText(*estimate).c_str());
    std::fflush(stdout);
    return true;
}

}  // namespace

int EstimateCommand(const TConvertRequest& request) {
    TConvertPlan plan;
    try {
        plan = PlanConversion(request);
    } catch (const TUsageError& error) {
        std::fprintf(stderr, "estimate: %s\nRun with --help for more information.\n", error.what());
        return kExitUsage;
    }
    if (!LoadMediaLibraries()) return kExitFailed;
    // Reasons are printed here; the libraries' own chatter would only repeat them.
    SetLibraryLogLevel(request.Verbose ? 32 : -1);
    InstallStopSignalHandlers();
    // Ctrl-C stops the piece being converted at its next progress report.
    std::atomic<bool> stop{false}, done{false};
    std::thread watcher([&stop, &done] {
        while (!done.load() && !stop.load()) {
            if (StopSignalNumber() != 0) stop = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    TAVProbe probe;
    bool all = true;
    for (const std::string& path : request.Files) {
        if (stop.load()) break;
        all = EstimateFile(plan, probe, path, stop) && all;
    }
    done = true;
    watcher.join();
    if (StopSignalNumber() != 0) return kExitSignalBase + StopSignalNumber();
    return all ? kExitOk : kExitFailed;
}
