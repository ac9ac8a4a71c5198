// The conversion of a batch of files with one plan, as `convert` and `watch` run it: up to Jobs
// files at once through the converter component's parallel tasks, one result line per file,
// and a record per file in the report.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/BatchReport.h"
#include "cli/ConvertSettings.h"
#include "cli/LibraryMode.h"
#include "component/HardwareEncoders.h"

struct TBatchOptions {
    int Jobs = 1;  // files converted at once
    // A file whose output (the unnumbered name) exists and reads as complete is skipped; one
    // whose output is there but incomplete is converted again over that output.
    bool SkipExisting = false;
    bool Verbose = false;  // the converter's log lines on standard error
    // Each task's stages on threads of their own (true) or the engine's one loop (false); unset:
    // on while a file has two cores or more to itself.
    std::optional<bool> Pipeline;
    // H.264, H.265, VP9 and AV1 on a graphics chip: auto takes one that works, a named kind is
    // demanded (a file fails without it). A file the device fails is converted again in
    // software.
    THardwareMode Hardware = THardwareMode::Off;
    TLibraryOptions Library{};  // names, smaller outputs only, replacing the originals
};

// Converts the files; returns the exit code (kExitOk, kExitFailed, kExitUsage for a missing
// output folder, or kExitSignalBase + the signal when stopped). Every file gets its record in
// the report, also those a stop left unconverted.
int ConvertFiles(const TConvertPlan& plan, const std::vector<std::string>& files,
                 const TBatchOptions& options, TBatchReport& report);

// The profile and choices of the plan, as each record of the report repeats them.
nlohmann::json ReportSettingsOf(const TConvertPlan& plan);
