// `watch`: a folder as the inbox of a converter that keeps running. A file is taken once its size
// and time of change have stayed the same for the settle time (a copy still under way keeps
// changing them); names that start with "." are left alone, so a copy written under such a name
// and renamed when done is taken whole. What was done is kept in the report, which a restart
// reads: a file with a record is not converted again, except one that a stop cut short.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/BatchConversion.h"
#include "cli/CliCommands.h"
#include "cli/CliLibraries.h"
#include "cli/MediaFacts.h"
#include "cli/StopSignal.h"
#include "cli/WatchConfig.h"
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

// One watched folder: what it converts with, its report, and what the scans saw of it.
struct TWatchedFolder {
    fs::path Folder;
    TConvertPlan Plan;
    TBatchOptions Options;
    std::string ReportPath;
    std::unique_ptr<TBatchReport> Report;
    std::optional<TWatchHours> Hours;
    std::map<std::string, TSeenFile> Seen;
    bool ToldWaiting = false;
};

// The folder's plan and report from a request as `watch` takes it; the usage error, or empty.
std::string PrepareFolder(const TConvertRequest& request, const std::string& folderText,
                          TWatchedFolder& watched) {
    TLibraryOptions library;
    try {
        watched.Plan = PlanConversion(request);
        library = PlanLibraryMode(request.Library, watched.Plan, request.OutputFolder,
                                  request.Overwrite, true);
    } catch (const TUsageError& error) {
        return error.what();
    }
    std::error_code error;
    watched.Folder = fs::absolute(folderText, error).lexically_normal();
    if (!fs::is_directory(watched.Folder, error))
        return "\"" + folderText + "\" does not exist or is not a folder";
    if (request.OutputFolder.empty()) {
        return "--output-folder is required: outputs beside their inputs in the watched folder "
               "would be taken as new files";
    }
    if (!fs::is_directory(request.OutputFolder, error)) {
        return "the output folder \"" + request.OutputFolder +
               "\" does not exist or is not a folder";
    }
    if (fs::equivalent(watched.Folder, request.OutputFolder, error))
        return "the output folder is the watched folder: each output would be converted again";
    if (request.Report == "-") return "--report -: a watch never ends; name a file";
    const std::string reportPath =
        request.Report.empty() ? (fs::path(request.OutputFolder) / kDefaultReportName).string()
                               : request.Report;
    watched.ReportPath = fs::absolute(reportPath, error).lexically_normal().string();
    watched.Report =
        std::make_unique<TBatchReport>(watched.ReportPath, ReportSettingsOf(watched.Plan));
    try {
        watched.Report->LoadEarlier();
    } catch (const std::exception& loadError) {
        return loadError.what();
    }
    if (!watched.Report->Write()) return watched.Report->LastError();
    // A restart after a crash finds the output of a file it had converted but not yet recorded:
    // complete, it is recorded as skipped rather than converted twice.
    watched.Options = TBatchOptions{request.Jobs, true, request.Verbose, request.Pipeline};
    watched.Options.Hardware = ParseHardwareMode(request.Hardware).value_or(THardwareMode::Off);
    watched.Options.Library = std::move(library);
    return {};
}

// The minute of the day by the local clock; DZ_TEST_CLOCK ("23:10") sets it for tests.
int MinuteOfDay() {
    if (const char* fixed = std::getenv("DZ_TEST_CLOCK")) {
        int hour = 0, minute = 0;
        if (std::sscanf(fixed, "%d:%d", &hour, &minute) == 2) return hour * 60 + minute;
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return local.tm_hour * 60 + local.tm_min;
}

// One scan of the folder; converts what has settled when its hours allow. True when it did.
bool ScanFolder(TWatchedFolder& watched, TAVProbe& probe, TClock::duration settle, int& code) {
    const std::vector<std::string> settled =
        SettledFiles(watched.Folder, watched.ReportPath, *watched.Report, watched.Seen, settle);
    if (settled.empty()) return false;
    // Outside its hours a file waits (and stays settled); a running conversion is not stopped.
    if (watched.Hours && !watched.Hours->Contains(MinuteOfDay())) {
        if (!watched.ToldWaiting) {
            std::fprintf(stderr, "%s: %zu file(s) wait for the hours %s\n", watched.Folder.c_str(),
                         settled.size(), watched.Hours->Text().c_str());
        }
        watched.ToldWaiting = true;
        return false;
    }
    watched.ToldWaiting = false;
    const std::vector<std::string> files = MediaFilesOf(settled, probe, *watched.Report);
    for (const std::string& file : settled) watched.Seen.erase(file);
    if (files.empty()) return false;
    code = ConvertFiles(watched.Plan, files, watched.Options, *watched.Report);
    return true;
}

int WatchFolders(std::vector<TWatchedFolder>& folders, double settleSeconds) {
    if (!LoadMediaLibraries()) return kExitFailed;
    TAVProbe probe;
    InstallStopSignalHandlers();
    for (const TWatchedFolder& watched : folders) {
        std::fprintf(stderr, "Watching %s (report: %s)%s; Ctrl-C ends.\n", watched.Folder.c_str(),
                     watched.ReportPath.c_str(),
                     watched.Hours ? (", hours " + watched.Hours->Text()).c_str() : "");
    }
    const auto settle =
        std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(settleSeconds));
    // Scans a few times within the settle time, at least every half second.
    const auto scanEvery = std::min<TClock::duration>(settle / 4, std::chrono::milliseconds(500));
    while (StopSignalNumber() == 0) {
        bool converted = false;
        for (TWatchedFolder& watched : folders) {
            int code = kExitOk;
            converted |= ScanFolder(watched, probe, settle, code);
            if (code == kExitUsage) return code;
        }
        if (converted) continue;
        const auto until = TClock::now() + scanEvery;
        while (StopSignalNumber() == 0 && TClock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (const TWatchedFolder& watched : folders) {
        if (!watched.Report->LastError().empty())
            std::fprintf(stderr, "watch: %s\n", watched.Report->LastError().c_str());
    }
    return kExitSignalBase + StopSignalNumber();
}

}  // namespace

int WatchCommand(const TConvertRequest& request, const std::string& folderText,
                 double settleSeconds, const std::string& configFile) {
    std::vector<TWatchEntry> entries;
    if (configFile.empty()) {
        if (folderText.empty())
            return UsageError("IN_FOLDER is required (the folder to watch), or --config FILE");
        entries.push_back({folderText, request, std::nullopt, ""});
    } else {
        if (!folderText.empty()) return UsageError("--config names the folders; give no folder");
        try {
            entries = ReadWatchConfig(configFile, request);
        } catch (const TUsageError& error) {
            return UsageError(error.what());
        }
    }
    std::vector<TWatchedFolder> folders(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string why = PrepareFolder(entries[i].Request, entries[i].Folder, folders[i]);
        if (!why.empty())
            return UsageError(entries[i].Where.empty() ? why : entries[i].Where + ": " + why);
        folders[i].Hours = entries[i].Hours;
    }
    return WatchFolders(folders, settleSeconds);
}
