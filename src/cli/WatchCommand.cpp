// `watch`: a folder as the inbox of a converter that keeps running. A file is taken once its size
// and time of change have stayed the same for the settle time (a copy still under way keeps
// changing them); names that start with "." are left alone, so a copy written under such a name
// and renamed when done is taken whole. The folder is scanned when inotify says it changed, and
// again when a file it holds is due to have settled; a folder without events (a network file
// system, --poll) is scanned at intervals instead. What was done is kept in the report, which a
// restart reads: a file with a record is not converted again, except one that a stop cut short.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
#include "cli/FolderWatch.h"
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
    std::string ScannedBecause;  // why no events tell of its changes; empty when they do
    TClock::time_point LastScan, NextScan;
};

// How often folders are looked at.
struct TScanTimes {
    TClock::duration Settle;
    TClock::duration Gap;         // the least time between two scans of a folder
    TClock::duration ScanEvery;   // a folder without events
    TClock::duration CheckEvery;  // a folder with events, in case one was missed
};

TScanTimes ScanTimesOf(double settleSeconds) {
    TScanTimes times;
    times.Settle =
        std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(settleSeconds));
    // A few times within the settle time, at least every half second.
    times.Gap = std::min<TClock::duration>(times.Settle / 4, std::chrono::milliseconds(500));
    times.ScanEvery = times.Gap;
    // DZ_WATCH_SCAN_SECONDS sets the interval for tests, which make it long so that only events
    // can tell of a new file.
    if (const char* every = std::getenv("DZ_WATCH_SCAN_SECONDS")) {
        times.ScanEvery = std::chrono::duration_cast<TClock::duration>(
            std::chrono::duration<double>(std::max(0.01, std::atof(every))));
    }
    times.CheckEvery = std::max<TClock::duration>(times.ScanEvery, std::chrono::minutes(1));
    return times;
}

// When the folder is next to be scanned, after a scan that converted nothing: when a file it
// holds is due to have settled, else after the interval. A file that has settled but waits for
// the folder's hours is looked at again every little while.
TClock::time_point NextScanOf(const TWatchedFolder& watched, const TScanTimes& times) {
    const TClock::time_point now = watched.LastScan;
    TClock::time_point next =
        now + (watched.ScannedBecause.empty() ? times.CheckEvery : times.ScanEvery);
    for (const auto& [path, file] : watched.Seen) {
        if (file.Bytes > 0)
            next = std::min(next, std::max(file.Since + times.Settle, now + times.Gap));
    }
    return next;
}

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

// Watches each folder by inotify where it can, says how each one is watched.
void StartWatching(std::vector<TWatchedFolder>& folders, TFolderEvents& events,
                   const TScanTimes& times) {
    const double scanSeconds = std::chrono::duration<double>(times.ScanEvery).count();
    for (std::size_t i = 0; i < folders.size(); ++i) {
        TWatchedFolder& watched = folders[i];
        if (watched.ScannedBecause.empty())
            watched.ScannedBecause = WhyScanFolder(watched.Folder.string());
        if (watched.ScannedBecause.empty())
            watched.ScannedBecause = events.Add(watched.Folder.string(), i);
        char how[256];
        if (watched.ScannedBecause.empty()) {
            std::snprintf(how, sizeof how, "by its inotify events");
        } else {
            std::snprintf(how, sizeof how, "by a scan every %g s (%s)", scanSeconds,
                          watched.ScannedBecause.c_str());
        }
        std::fprintf(stderr, "Watching %s (report: %s%s) %s; Ctrl-C ends.\n",
                     watched.Folder.c_str(), watched.ReportPath.c_str(),
                     watched.Hours ? ("; hours " + watched.Hours->Text()).c_str() : "", how);
        watched.NextScan = TClock::now();
    }
}

// Takes in the events that came within `timeout`: a folder that changed is scanned soon, one
// that can no longer be watched is scanned at intervals from now on.
void AwaitChanges(std::vector<TWatchedFolder>& folders, TFolderEvents& events,
                  const TScanTimes& times, TClock::duration timeout) {
    std::vector<std::size_t> lost;
    const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(timeout);
    for (const std::size_t index : events.Wait(waitMs, lost)) {
        TWatchedFolder& watched = folders[index];
        watched.NextScan = std::min(watched.NextScan, watched.LastScan + times.Gap);
    }
    for (const std::size_t index : lost) {
        TWatchedFolder& watched = folders[index];
        watched.ScannedBecause = "its events stopped";
        watched.NextScan = TClock::now();
        std::fprintf(stderr, "%s: no more inotify events; scanned every %g s from now on\n",
                     watched.Folder.c_str(),
                     std::chrono::duration<double>(times.ScanEvery).count());
    }
}

int WatchFolders(std::vector<TWatchedFolder>& folders, double settleSeconds) {
    if (!LoadMediaLibraries()) return kExitFailed;
    TAVProbe probe;
    InstallStopSignalHandlers();
    const TScanTimes times = ScanTimesOf(settleSeconds);
    TFolderEvents events;
    StartWatching(folders, events, times);
    while (StopSignalNumber() == 0) {
        for (TWatchedFolder& watched : folders) {
            if (TClock::now() < watched.NextScan) continue;
            int code = kExitOk;
            const bool converted = ScanFolder(watched, probe, times.Settle, code);
            if (code == kExitUsage) return code;
            watched.LastScan = TClock::now();
            // A conversion takes a while: what was waiting to settle is looked at again at once.
            watched.NextScan = converted ? watched.LastScan : NextScanOf(watched, times);
        }
        TClock::time_point next = TClock::now() + std::chrono::milliseconds(250);
        for (const TWatchedFolder& watched : folders) next = std::min(next, watched.NextScan);
        AwaitChanges(folders, events, times, std::max<TClock::duration>(next - TClock::now(), {}));
    }
    for (const TWatchedFolder& watched : folders) {
        if (!watched.Report->LastError().empty())
            std::fprintf(stderr, "watch: %s\n", watched.Report->LastError().c_str());
    }
    return kExitSignalBase + StopSignalNumber();
}

}  // namespace

int WatchCommand(const TConvertRequest& request, const std::string& folderText,
                 double settleSeconds, const std::string& configFile, bool scanOnly) {
    std::vector<TWatchEntry> entries;
    if (configFile.empty()) {
        if (folderText.empty())
            return UsageError("IN_FOLDER is required (the folder to watch), or --config FILE");
        entries.push_back({folderText, request, std::nullopt, false, ""});
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
        if (scanOnly || entries[i].Poll)
            folders[i].ScannedBecause = scanOnly ? "--poll" : "\"poll\" in the configuration";
    }
    return WatchFolders(folders, settleSeconds);
}
