#include "cli/ReplaceOriginal.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "app/core/UserData.h"
#include "cli/BatchReport.h"
#include "cli/OutputCheck.h"
#include "cli/SetAside.h"
#include "cli/StopPoint.h"
#include "component/Task.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kConverting = "converting";
constexpr const char* kChecking = "checking";
constexpr const char* kSettingAside = "setting-aside";
constexpr const char* kNaming = "naming";

struct TJournal {
    TReplaceRequest Request;
    std::string State;
    std::string Final;  // the output's name once the original is away
    TSetAsidePlace Place;
    long Pid = 0;  // the run that wrote it
};

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    return fs::absolute(path, error).lexically_normal().string();
}

TReplaceRequest Absolute(TReplaceRequest request) {
    request.Original = AbsolutePath(request.Original);
    request.Output = AbsolutePath(request.Output);
    if (!request.ArchiveFolder.empty()) request.ArchiveFolder = AbsolutePath(request.ArchiveFolder);
    return request;
}

bool Present(const std::string& path) {
    std::error_code error;
    return !path.empty() && fs::exists(fs::symlink_status(path, error));
}

std::string JournalPath(const std::string& original) {
    char name[32];
    std::snprintf(name, sizeof name, "%016zx.json", std::hash<std::string>{}(original));
    return (fs::path(ReplacementJournalFolder()) / name).string();
}

bool WriteJournal(const TJournal& journal, std::string& error) {
    const TReplaceRequest& request = journal.Request;
    const nlohmann::json record = {{"original", request.Original},
                                   {"output", request.Output},
                                   {"source_us", request.SourceDurationUs},
                                   {"archive_folder", request.ArchiveFolder},
                                   {"state", journal.State},
                                   {"final", journal.Final},
                                   {"destination", journal.Place.Destination},
                                   {"info_file", journal.Place.InfoFile},
                                   {"info_text", journal.Place.InfoText},
                                   {"pid", journal.Pid}};
    std::error_code made;
    fs::create_directories(ReplacementJournalFolder(), made);
    return WriteFileAtomically(JournalPath(request.Original), record.dump(1), error);
}

bool ReadJournal(const fs::path& path, TJournal& journal) {
    const std::string text = [&] {
        FILE* file = std::fopen(path.c_str(), "rb");
        std::string bytes;
        if (!file) return bytes;
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            bytes.append(buffer, got);
        std::fclose(file);
        return bytes;
    }();
    const nlohmann::json record = nlohmann::json::parse(text, nullptr, false);
    if (!record.is_object()) return false;
    journal.Request.Original = record.value("original", "");
    journal.Request.Output = record.value("output", "");
    journal.Request.SourceDurationUs = record.value("source_us", std::int64_t{-1});
    journal.Request.ArchiveFolder = record.value("archive_folder", "");
    journal.State = record.value("state", "");
    journal.Final = record.value("final", "");
    journal.Place = {record.value("destination", ""), record.value("info_file", ""),
                     record.value("info_text", "")};
    journal.Pid = record.value("pid", 0L);
    return !journal.Request.Original.empty() && !journal.Request.Output.empty();
}

void RemoveJournal(const std::string& original) {
    ::unlink(JournalPath(original).c_str());
}

// The output's name once the original is away: the original's with the output's extension,
// unless another file has it (then the output keeps its own).
std::string FinalName(const TReplaceRequest& request, std::string& note) {
    const fs::path wanted =
        fs::path(request.Original).replace_extension(fs::path(request.Output).extension());
    if (wanted == fs::path(request.Output) || wanted == fs::path(request.Original) ||
        !Present(wanted.string()))
        return wanted.string();
    note = "\"" + wanted.string() + "\" is another file; the output keeps the name \"" +
           request.Output + "\"";
    return request.Output;
}

TReplaceOutcome Kept(const TJournal& journal, const std::string& fault) {
    RemoveJournal(journal.Request.Original);
    TReplaceOutcome outcome;
    outcome.Output = Present(journal.Request.Output) ? journal.Request.Output : "";
    outcome.Fault = fault;
    return outcome;
}

// Checks the output and chooses the original's place; the journal then says so.
std::optional<TReplaceOutcome> Check(TJournal& journal) {
    const TReplaceRequest& request = journal.Request;
    if (const std::string fault = OutputCheckFault(request.Output, request.SourceDurationUs);
        !fault.empty()) {
        std::error_code error;
        fs::remove(request.Output, error);
        return Kept(journal, "the output failed its check (" + fault +
                                 "); it was removed and the original kept");
    }
    try {
        journal.Place = request.ArchiveFolder.empty()
                            ? TrashPlaceFor(request.Original)
                            : ArchivePlaceFor(request.Original, request.ArchiveFolder);
    } catch (const std::exception& error) {
        return Kept(journal, std::string(error.what()) +
                                 "; the original is kept and the checked output is \"" +
                                 request.Output + "\"");
    }
    journal.State = kSettingAside;
    std::string error;
    if (!WriteJournal(journal, error))
        return Kept(journal, "the journal: " + error + "; the original is kept");
    StopPointReached("checked");
    return std::nullopt;
}

// Carries the journal's step on from its state to the end.
TReplaceOutcome Continue(TJournal& journal) {
    const TReplaceRequest& request = journal.Request;
    if (journal.State == kChecking) {
        if (auto kept = Check(journal)) return *kept;
    }
    if (journal.State == kSettingAside) {
        if (Present(request.Original)) {
            if (const std::string why = SetAside(request.Original, journal.Place); !why.empty())
                return Kept(journal, why + "; the original is kept and the checked output is \"" +
                                         request.Output + "\"");
        }
        StopPointReached("set-aside");
        journal.State = kNaming;
        std::string error;
        // Not written: the next run finds "setting-aside" with the original away, and names.
        WriteJournal(journal, error);
        StopPointReached("naming");
    }
    TReplaceOutcome outcome;
    outcome.Replaced = true;
    outcome.Output = request.Output;
    if (journal.Final != request.Output && Present(request.Output)) {
        if (::renameat2(AT_FDCWD, request.Output.c_str(), AT_FDCWD, journal.Final.c_str(),
                        RENAME_NOREPLACE) == 0) {
            outcome.Output = journal.Final;
        } else {
            outcome.Note = "\"" + journal.Final + "\" could not be taken (" + std::strerror(errno) +
                           "); the output keeps the name \"" + request.Output + "\"";
        }
    } else if (!Present(request.Output)) {
        outcome.Output = journal.Final;
    }
    StopPointReached("named");
    RemoveJournal(request.Original);
    return outcome;
}

bool OtherRunAlive(long pid) {
    return pid > 0 && pid != static_cast<long>(::getpid()) &&
           ::kill(static_cast<pid_t>(pid), 0) == 0;
}

}  // namespace

std::string ReplacementJournalFolder() {
    return (XdgBaseFolder("XDG_STATE_HOME", ".local/state") / "daziziz/replacing").string();
}

bool BeginReplacement(const TReplaceRequest& request, std::string& error) {
    TJournal journal{Absolute(request), kConverting, {}, {}, static_cast<long>(::getpid())};
    return WriteJournal(journal, error);
}

void DropReplacement(const std::string& original) {
    RemoveJournal(AbsolutePath(original));
}

TReplaceOutcome ReplaceOriginal(const TReplaceRequest& given) {
    StopPointReached("before-check");
    // The journal holds whole paths: the next run may start in another folder.
    const TReplaceRequest request = Absolute(given);
    TJournal journal{request, kChecking, {}, {}, static_cast<long>(::getpid())};
    std::string note;
    journal.Final = FinalName(request, note);
    std::string error;
    if (!WriteJournal(journal, error))
        return Kept(journal, "the journal: " + error + "; the original is kept");
    StopPointReached("checking");
    TReplaceOutcome outcome = Continue(journal);
    if (outcome.Note.empty()) outcome.Note = note;
    // Said as the command line spelled the files.
    const fs::path givenFinal =
        fs::path(given.Original).replace_extension(fs::path(given.Output).extension());
    if (outcome.Output == request.Output) outcome.Output = given.Output;
    if (outcome.Output == journal.Final && journal.Final != request.Output)
        outcome.Output = givenFinal.string();
    return outcome;
}

std::vector<TResumedReplacement> ResumeReplacements() {
    std::vector<fs::path> journals;
    std::error_code error;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(ReplacementJournalFolder(), error))
        if (entry.path().extension() == ".json") journals.push_back(entry.path());
    std::sort(journals.begin(), journals.end());
    std::vector<TResumedReplacement> resumed;
    for (const fs::path& path : journals) {
        TJournal journal;
        if (!ReadJournal(path, journal) || OtherRunAlive(journal.Pid)) continue;
        journal.Pid = static_cast<long>(::getpid());
        TResumedReplacement step;
        step.Original = journal.Request.Original;
        if (journal.State == kConverting) {
            // Never checked: what the conversion wrote goes, the original stays.
            const std::string& output = journal.Request.Output;
            for (const std::string& file : {output, WorkingNameBeside(output, "converting"),
                                            WorkingNameBeside(output, "fitting")})
                fs::remove(file, error);
            RemoveJournal(journal.Request.Original);
            step.Undone = true;
            step.Outcome.Fault = "the conversion was cut short; the original is kept";
        } else {
            step.Outcome = Continue(journal);
        }
        resumed.push_back(step);
    }
    return resumed;
}
