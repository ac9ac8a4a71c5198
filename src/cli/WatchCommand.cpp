// `watch`: a folder as the inbox of a converter that keeps running. A file is taken once its size
// and time of change have stayed the same for the settle time (a copy still under way keeps
// changing them); names that start with "." are left alone, so a copy written under such a name
// and renamed when done is taken whole. What was done is kept in the report, which a restart
// reads: a file with a record is not converted again, except one that a stop cut short.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "cli/BatchConversion.h"
#include "cli/CliCommands.h"
#include "cli/CliLibraries.h"
#include "cli/MediaFacts.h"
#include "cli/StopSignal.h"
#include "probe/AVProbe.h"

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

constexpr const char* kDefaultReportName = "daziziz-watch.json";

// What the last scans saw of a file.
struct TSeenFile {
    std::uintmax_t Bytes = 0;
    fs::file_time_type Changed;
    TClock::time_point Since;  // when size and time of change were last seen to change
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "watch: %s\nRun with --help for more information.\n", message.c_str());
    return kExitUsage;
}

bool AlreadyHandled(const TBatchReport& report, const std::string& path) {
    const nlohmann::json* record = report.Find(path);
    return record && record->value("status", "") != kReportStopped;
}

// The files of the folder that are new to the report and have stopped changing, in name order.
std::vector<std::string> SettledFiles(const fs::path& folder, const std::string& reportPath,
                                      const TBatchReport& report,
                                      std::map<std::string, TSeenFile>& seen,
                                      TClock::duration settle) {
    std::vector<std::string> settled;
    const TClock::time_point now = TClock::now();
    std::error_code error;
    std::map<std::string, TSeenFile> present;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code fileError;
        if (!entry.is_regular_file(fileError)) continue;
        const std::string path = entry.path().string();
        if (path == reportPath || AlreadyHandled(report, path)) continue;
        TSeenFile file;
        file.Bytes = entry.file_size(fileError);
        file.Changed = entry.last_write_time(fileError);
        if (fileError) continue;
        file.Since = now;
        const auto earlier = seen.find(path);
        if (earlier != seen.end() && earlier->second.Bytes == file.Bytes &&
            earlier->second.Changed == file.Changed) {
            file.Since = earlier->second.Since;
            if (file.Bytes > 0 && now - file.Since >= settle) settled.push_back(path);
        }
        present[path] = file;
    }
    // Files that went away are forgotten; one that comes back starts its wait again.
    seen = std::move(present);
    std::sort(settled.begin(), settled.end());
    return settled;
}

// The files that hold sound or moving pictures; each other one is recorded as skipped, with a
// line saying why, so that it is not looked at again.
std::vector<std::string> MediaFilesOf(const std::vector<std::string>& files, TAVProbe& probe,
                                      TBatchReport& report) {
    std::vector<std::string> media;
    for (const std::string& file : files) {
        const std::string why = NothingToConvertReason(ReadMediaFacts(probe, file));
        if (why.empty()) {
            media.push_back(file);
            continue;
        }
        std::fprintf(stderr, "%s: Skip: %s\n", file.c_str(), why.c_str());
        TReportRecord record;
        record.Input = file;
        record.Status = kReportSkipped;
        record.Reason = why;
        report.Add(record);
    }
    return media;
}

}  // namespace

int WatchCommand(const TConvertRequest& request, const std::string& folderText,
                 double settleSeconds) {
    TConvertPlan plan;
    TLibraryOptions library;
    try {
        plan = PlanConversion(request);
        library =
            PlanLibraryMode(request.Library, plan, request.OutputFolder, request.Overwrite, true);
    } catch (const TUsageError& error) {
        return UsageError(error.what());
    }
    std::error_code error;
    const fs::path folder = fs::absolute(folderText, error).lexically_normal();
    if (!fs::is_directory(folder, error))
        return UsageError("\"" + folderText + "\" does not exist or is not a folder");
    if (request.OutputFolder.empty()) {
        return UsageError(
            "--output-folder is required: outputs beside their inputs in the watched folder "
            "would be taken as new files");
    }
    if (!fs::is_directory(request.OutputFolder, error)) {
        return UsageError("the output folder \"" + request.OutputFolder +
                          "\" does not exist or is not a folder");
    }
    if (fs::equivalent(folder, request.OutputFolder, error)) {
        return UsageError(
            "the output folder is the watched folder: each output would be converted again");
    }
    if (request.Report == "-") return UsageError("--report -: a watch never ends; name a file");
    std::string reportPath = request.Report.empty()
                                 ? (fs::path(request.OutputFolder) / kDefaultReportName).string()
                                 : request.Report;
    reportPath = fs::absolute(reportPath, error).lexically_normal().string();

    TBatchReport report(reportPath, ReportSettingsOf(plan));
    try {
        report.LoadEarlier();
    } catch (const std::exception& loadError) {
        return UsageError(loadError.what());
    }
    if (!report.Write()) return UsageError(report.LastError());
    if (!LoadMediaLibraries()) return kExitFailed;
    TAVProbe probe;

    // A restart after a crash finds the output of a file it had converted but not yet recorded:
    // complete, it is recorded as skipped rather than converted twice.
    TBatchOptions options{request.Jobs, true, request.Verbose, request.Pipeline};
    options.Hardware = ParseHardwareMode(request.Hardware).value_or(THardwareMode::Off);
    options.Library = std::move(library);
    InstallStopSignalHandlers();
    std::fprintf(stderr, "Watching %s (report: %s); Ctrl-C ends.\n", folder.c_str(),
                 reportPath.c_str());

    const auto settle =
        std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(settleSeconds));
    // Scans a few times within the settle time, at least every half second.
    const auto scanEvery = std::min<TClock::duration>(settle / 4, std::chrono::milliseconds(500));
    std::map<std::string, TSeenFile> seen;
    while (StopSignalNumber() == 0) {
        const std::vector<std::string> settled =
            SettledFiles(folder, reportPath, report, seen, settle);
        const std::vector<std::string> files = MediaFilesOf(settled, probe, report);
        for (const std::string& file : settled) seen.erase(file);
        if (!files.empty()) {
            const int code = ConvertFiles(plan, files, options, report);
            if (code == kExitUsage) return code;
            continue;
        }
        const auto until = TClock::now() + scanEvery;
        while (StopSignalNumber() == 0 && TClock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!report.LastError().empty())
        std::fprintf(stderr, "watch: %s\n", report.LastError().c_str());
    return kExitSignalBase + StopSignalNumber();
}
