#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "app/core/ComponentTaskRunner.h"
#include "app/core/ConversionQueue.h"
#include "app/core/FileList.h"
#include "app/core/FileListTexts.h"
#include "app/core/HardwareJob.h"
#include "app/core/JobBuilder.h"
#include "app/core/OutputNames.h"
#include "binding/LibraryErrors.h"
#include "cli/BatchConversion.h"
#include "cli/ChapterSplit.h"
#include "cli/CliCommands.h"
#include "cli/CliLibraries.h"
#include "cli/ConsoleStatus.h"
#include "cli/ConvertSettings.h"
#include "cli/FileShard.h"
#include "cli/LibraryMode.h"
#include "cli/MediaFacts.h"
#include "cli/OutputFacts.h"
#include "cli/ProgressLine.h"
#include "cli/ReplaceOriginal.h"
#include "cli/StopSignal.h"
#include "engine/Loudness.h"

namespace {

using TClock = std::chrono::steady_clock;

// How a file of the run ends: as a row of the list does, or skipped because its output was
// already complete, or kept from starting by a stop (which shows no line).
enum class TFileEnd { Done, Partial, Failed, Stopped, Skipped, NotStarted };

// The word of the file's line: the row state's text, or the command line's own.
std::string FileEndText(TFileEnd end) {
    switch (end) {
        case TFileEnd::Done:
            return RowStateText(TRowState::Done);
        case TFileEnd::Partial:
            return RowStateText(TRowState::DoneWithErrors);
        case TFileEnd::Failed:
            return RowStateText(TRowState::Failed);
        case TFileEnd::Stopped:
            return RowStateText(TRowState::Stopped);
        case TFileEnd::Skipped:
            return "Skip";
        case TFileEnd::NotStarted:
            return "Not started";
    }
    return {};
}

TRowState RowStateOfEnd(TFileEnd end) {
    switch (end) {
        case TFileEnd::Done:
        case TFileEnd::Skipped:
            return TRowState::Done;
        case TFileEnd::Partial:
            return TRowState::DoneWithErrors;
        case TFileEnd::Failed:
            return TRowState::Failed;
        case TFileEnd::Stopped:
            return TRowState::Stopped;
        case TFileEnd::NotStarted:
            return TRowState::Waiting;
    }
    return TRowState::Waiting;
}

const char* ReportStatusOf(TFileEnd end) {
    switch (end) {
        case TFileEnd::Done:
            return kReportDone;
        case TFileEnd::Partial:
            return kReportPartial;
        case TFileEnd::Failed:
            return kReportFailed;
        case TFileEnd::Skipped:
            return kReportSkipped;
        case TFileEnd::Stopped:
        case TFileEnd::NotStarted:
            return kReportStopped;
    }
    return kReportStopped;
}

// One event of the component, as the main thread handles it.
struct TComponentEvent {
    enum TKind { ceProgress, ceLog, ceTerminate } Kind = ceLog;
    int Index = -1;
    TProgressInfo Progress;
    bool Exception = false;
    std::string Text;    // the log line, or the failure's message
    TTaskResult Result;  // terminate
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
    // Drops what the tasks of an earlier chunk left.
    void Clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<TComponentEvent> events_;
};

// Files converted at once per chunk of jobs: the component starts each queued task when another
// ends, and a chunk's inputs are all open until it is done, so a chunk is a few times the job
// count (one file alone when one job runs, which keeps the order of the result lines).
constexpr int kChunkPerJob = 4;

// One file of a chunk: its row, its job and its task.
struct TPlannedFile {
    int Row = -1;
    std::optional<TJobDescription> Job;
    int Task = -1;
    TClock::time_point Started;
    bool ProgressSeen = false;
    std::string KeptPartial;  // what a stopped or failed conversion kept ("NAME.partial.EXT")
    std::string MovedTo;      // where a replacing output went (the original's name)
    std::vector<std::string> Notes;  // the job builder's, for the record
};

// The conversion of the command's files with the window's builder and converter component: up
// to Jobs at once, chunk by chunk.
class TConversionRun {
  public:
    TConversionRun(const TConvertPlan& plan, const TBatchOptions& options, TBatchReport& report)
        : plan_(plan),
          options_(options),
          report_(report),
          status_(TConsoleStatus::StandardErrorIsTerminal()),
          runner_(component_) {
        if (report_.Path() == "-") status_.SendResultsToStandardError();
    }

    int Run(const std::vector<std::string>& files);

  private:
    void WireEvents();
    // The file's rows: one, or with SplitChapters one per chapter.
    void AddFile(const TMediaFacts& facts);
    // The parts of the file a row converts: the plan's ranges, or its chapter's.
    std::vector<TTimeRange> RangesOf(int row) const;
    // A chapter's row gets the chapter in its output's name (after the names are made).
    void NameChapterOutputs();
    // With SkipExisting: skips rows whose output is complete, marks those whose output is not.
    std::vector<int> RowsToConvert();
    void RunChunk(const std::vector<int>& rows);
    // Describes and appends the row's task; false when the row failed (and is reported).
    bool Describe(TPlannedFile& file, TClaimedNames& taken);
    void WaitForChunk(std::vector<TPlannedFile>& files);
    // Prints the row's line (none for a row a stop kept from starting) and records it.
    void Finish(const TPlannedFile& file, TFileEnd end, const std::string& reason, double seconds);
    std::string OutputOf(const TPlannedFile& file) const;
    bool Interrupted() const { return StopSignalNumber() != 0; }
    // Library mode (LibraryMode.h): the rows' names made before anything converts (false: a
    // convert stops), the name of a row's output, the naming of a described job, and what comes
    // after a complete conversion (dropping one not smaller, replacing the original).
    bool NameOutputs();
    std::string PlannedOutputName(int row, bool overwrite) const;
    void NameJob(int row, TJobDescription& job, const TClaimedNames& taken);
    void FinishConverted(TPlannedFile& file, double seconds);

    const TConvertPlan& plan_;
    const TBatchOptions& options_;
    TBatchReport& report_;
    TConsoleStatus status_;
    TEventQueue events_;
    TFileList list_;
    std::vector<std::int64_t> sourceDurationUs_;  // per row
    std::vector<TNameFacts> nameFacts_;           // per row
    std::vector<TChapterPart> chapterPart_;       // per row: NamePart empty for a whole file
    std::vector<std::string> libraryName_;        // per row: LibraryOutputName's, unnumbered
    std::vector<char> overwriteOwn_;              // per row: redo over an incomplete output
    std::vector<char> finished_;                  // per row: its record is written
    // Per row with hardware asked for: what the report says of it, whether its task runs on a
    // device, and whether it must not (the device failed it once). Rows to convert again in
    // software wait in retry_ until their chunk has ended.
    std::vector<std::string> hardwareNote_;
    std::vector<std::vector<int64_t>> cutLeads_;      // per row: TTaskResult::CutLeadsUs
    std::vector<std::vector<std::string>> loudness_;  // per row: TTaskResult::LoudnessNotes
    std::optional<double> albumGain_;                 // --loudness-album: every file's gain, dB
    std::vector<char> onDevice_, softwareOnly_;
    std::vector<int> retry_;
    std::set<std::string> toldReasons_;  // said once on the terminal, then only in the report
    const THardwareSurvey* survey_ = nullptr;
    // Moves the job's video to a hardware encoder where the options and the survey allow; throws
    // std::runtime_error when a demanded kind of device cannot take it.
    void ChooseHardware(int row, TJobDescription& job);
    // A keyframe cut's earlier starts: kept for the record and told on the console.
    void NoteCutLeads(int row, const std::vector<int64_t>& leads);
    void NoteLoudness(int row, const std::vector<std::string>& notes);
    void MeasureAlbum();
    // A file the device failed: its output goes and the row waits for software. False when the
    // failure was not the device's to retry.
    bool RetryInSoftware(const TPlannedFile& file, const std::string& reason,
                         const std::string& keptPartial);
    bool anyFailed_ = false;
    bool stopped_ = false;
    // Last: the component's threads raise events into the members above until it is gone.
    TFFmpegVCL component_;
    TComponentTaskRunner runner_;
};

void TConversionRun::WireEvents() {
    RelayProgress(component_, [this](int index, const TProgressInfo& progress) {
        TComponentEvent event;
        event.Kind = TComponentEvent::ceProgress;
        event.Index = index;
        event.Progress = progress;
        events_.Push(std::move(event));
    });
    if (options_.Verbose) {
        component_.OnLog = [this](int AIndex, TLogLevel, const std::string& AMsg) {
            TComponentEvent event;
            event.Index = AIndex;
            event.Text = AMsg;
            events_.Push(std::move(event));
        };
    }
    component_.OnTerminate = [this](int AIndex, bool, bool AException, const std::string& AMessage,
                                    const TTaskResult& AResult) {
        TComponentEvent event;
        event.Kind = TComponentEvent::ceTerminate;
        event.Index = AIndex;
        event.Exception = AException;
        event.Text = AMessage;
        event.Result = AResult;
        events_.Push(std::move(event));
    };
}

std::string TConversionRun::OutputOf(const TPlannedFile& file) const {
    if (!file.KeptPartial.empty()) return file.KeptPartial;
    if (!file.MovedTo.empty()) return file.MovedTo;
    if (file.Job) return file.Job->OutputFile;
    // A row that failed before its job was described still shows where it would have gone.
    return PlannedOutputName(file.Row, plan_.Settings.Overwrite || overwriteOwn_[file.Row]);
}

void TConversionRun::Finish(const TPlannedFile& file, TFileEnd end, const std::string& reason,
                            double seconds) {
    TFileListRow& row = list_.Row(file.Row);
    row.State = RowStateOfEnd(end);
    const std::string output = OutputOf(file);
    const bool started = end != TFileEnd::NotStarted;
    if (started) {
        std::string line = row.FileName + " -> " + output + ": " + FileEndText(end);
        if (!reason.empty()) line += ": " + reason;
        status_.PrintResult(line);
    }
    finished_[file.Row] = 1;
    // A replacement whose output never came to be checked ends here.
    if (options_.Library.ReplaceOriginal && end != TFileEnd::Done)
        DropReplacement(file.Job ? file.Job->InputFile : row.FileName);
    if (!report_.Enabled()) return;

    TReportRecord record;
    record.Input = row.FileName;
    record.Output = output;
    record.Status = ReportStatusOf(end);
    record.Reason = reason;
    if (end == TFileEnd::Stopped) record.Reason = "stopped before its end";
    if (!started) record.Reason = "stopped before it started";
    record.SourceDurationUs = sourceDurationUs_[file.Row];
    if (started) {
        const TOutputFacts facts = ReadOutputFacts(component_.Probe(), output);
        record.OutputDurationUs = facts.DurationUs;
        record.OutputBytes = facts.Bytes;
    }
    if (file.Job) {
        if (!file.Job->DisableVideo) record.VideoCodec = file.Job->VideoCodec;
        record.AudioCodec = file.Job->AudioCodec;
    }
    record.Seconds = seconds;
    record.Hardware = hardwareNote_[file.Row];
    record.CutLeadsUs = cutLeads_[file.Row];
    record.Loudness = loudness_[file.Row];
    record.Notes = file.Notes;
    report_.Add(record);
}

void TConversionRun::NoteLoudness(int row, const std::vector<std::string>& notes) {
    loudness_[row] = notes;
    for (const std::string& note : notes)
        status_.PrintMessage(list_.Row(row).FileName + ": " + note);
}

void TConversionRun::MeasureAlbum() {
    std::vector<TMeasuredSound> sounds;
    for (int row = 0; row < list_.Count(); ++row) {
        const std::string& file = list_.Row(row).FileName;
        try {
            const TLoudnessFigures figures = MeasureLoudness(file, -1, 0);
            sounds.push_back({figures.Integrated, figures.Seconds});
        } catch (const FFMpegException& error) {
            status_.PrintMessage(std::string(error.what()) + "; left out of the album's loudness");
        }
    }
    const double target = *plan_.Settings.Loudness.Target;
    albumGain_ = AlbumGainFor(sounds, target);
    if (albumGain_)
        status_.PrintMessage("loudness: the files together " +
                             LoudnessNumber(target - *albumGain_) + " LUFS; each gets " +
                             LoudnessNumber(*albumGain_, true) + " dB (album)");
}

void TConversionRun::NoteCutLeads(int row, const std::vector<int64_t>& leads) {
    cutLeads_[row] = leads;
    const std::vector<TTimeRange> ranges = RangesOf(row);
    for (size_t i = 0; i < leads.size() && i < ranges.size(); ++i)
        if (leads[i] > 0)
            status_.PrintMessage(list_.Row(row).FileName + ": the range " + RangeText(ranges[i]) +
                                 " starts at the key frame at " +
                                 RangeTimeText(ranges[i].StartUs - leads[i]) + " s, " +
                                 RangeTimeText(leads[i]) + " s earlier");
}

void TConversionRun::ChooseHardware(int row, TJobDescription& job) {
    onDevice_[row] = 0;
    if (!survey_ || softwareOnly_[row]) return;
    const std::string unsuitable = HardwareUnsuitableReason(job);
    if (!unsuitable.empty()) {
        hardwareNote_[row] = "software: " + unsuitable;
        return;
    }
    const THardwareChoice choice =
        ChooseHardwareEncoder(*survey_, options_.Hardware, job.VideoCodec);
    if (choice.Refused) {
        hardwareNote_[row] = choice.Reason;
        throw std::runtime_error(choice.Reason);
    }
    if (choice.Encoder.empty()) {
        hardwareNote_[row] = choice.Reason;
        if (toldReasons_.insert(choice.Reason).second)
            status_.PrintMessage("--hardware auto: " + choice.Reason);
        return;
    }
    std::string node;
    for (const THardwareDevice& device : survey_->Devices)
        if (device.Api == THardwareApi::Vaapi && device.Opened && node.empty()) node = device.Path;
    UseHardwareEncoder(job, choice.Encoder, plan_.Settings.Parameters.Quality, node);
    hardwareNote_[row] = "encoded with " + choice.Encoder;
    onDevice_[row] = 1;
}

bool TConversionRun::RetryInSoftware(const TPlannedFile& file, const std::string& reason,
                                     const std::string& keptPartial) {
    if (!onDevice_[file.Row] || !file.Job) return false;
    const std::string encoder = file.Job->VideoCodec;
    // The output is this run's own, half-written (under its name, or kept as a partial file):
    // it goes, and the software run takes its name.
    std::error_code error;
    std::filesystem::remove(file.Job->OutputFile, error);
    if (!error && !keptPartial.empty()) std::filesystem::remove(keptPartial, error);
    if (error) return false;
    softwareOnly_[file.Row] = 1;
    onDevice_[file.Row] = 0;
    hardwareNote_[file.Row] = encoder + " failed (" + reason + "); converted again in software";
    status_.PrintMessage(list_.Row(file.Row).FileName + ": " + hardwareNote_[file.Row]);
    retry_.push_back(file.Row);
    return true;
}

bool TConversionRun::NameOutputs() {
    libraryName_.assign(list_.Count(), "");
    if (!options_.Library.NamesOutputs()) return true;
    bool named = true;
    for (int row = 0; row < list_.Count(); ++row) {
        const std::string& input = list_.Row(row).FileName;
        if (list_.Row(row).State == TRowState::Unreadable)
            continue;  // it fails with its own reason
        try {
            libraryName_[row] = LibraryOutputName(options_.Library, nameFacts_[row],
                                                  OutputFolderFor(plan_.Settings, input),
                                                  OutputExtension(plan_.Settings.FormatKey), true);
        } catch (const std::exception& error) {
            named = false;
            if (options_.Library.StopOnBadName) {
                status_.PrintMessage(input + ": " + error.what());
                continue;
            }
            TPlannedFile file;
            file.Row = row;
            anyFailed_ = true;
            Finish(file, TFileEnd::Failed, error.what(), 0);
        }
    }
    if (!named && options_.Library.StopOnBadName)
        status_.PrintMessage("convert: nothing was converted: the names above cannot be made");
    return named || !options_.Library.StopOnBadName;
}

void TConversionRun::AddFile(const TMediaFacts& facts) {
    std::vector<TChapterPart> parts;
    if (plan_.SplitChapters && facts.Ok) {
        parts = ChapterParts(facts.Chapters, facts.Facts.DurationUs);
        if (parts.empty())
            status_.PrintMessage(facts.Path + ": no chapters to split at; converted whole");
    }
    if (parts.empty()) parts.emplace_back();
    for (const TChapterPart& part : parts) {
        AddToFileList(list_, facts, plan_.Settings.FormatKey);
        const bool whole = part.NamePart.empty();
        sourceDurationUs_.push_back(!facts.Ok ? -1
                                    : whole   ? facts.Facts.DurationUs
                                              : part.LengthUs);
        nameFacts_.push_back(NameFactsOf(facts, options_.Library.Profile));
        chapterPart_.push_back(part);
    }
}

std::vector<TTimeRange> TConversionRun::RangesOf(int row) const {
    const TChapterPart& part = chapterPart_[row];
    if (part.NamePart.empty()) return plan_.Settings.Ranges;
    return {part.Range};
}

void TConversionRun::NameChapterOutputs() {
    for (int row = 0; row < list_.Count(); ++row) {
        if (chapterPart_[row].NamePart.empty() || finished_[row]) continue;
        const std::string& input = list_.Row(row).FileName;
        const std::string whole =
            !libraryName_[row].empty()
                ? libraryName_[row]
                : (std::filesystem::path(OutputFolderFor(plan_.Settings, input)) /
                   (std::filesystem::path(input).stem().string() +
                    OutputExtension(plan_.Settings.FormatKey)))
                      .string();
        libraryName_[row] = ChapterOutputName(whole, chapterPart_[row].NamePart);
    }
}

std::string TConversionRun::PlannedOutputName(int row, bool overwrite) const {
    const std::string& input = list_.Row(row).FileName;
    const std::string& named = libraryName_.empty() ? std::string() : libraryName_[row];
    if (named.empty()) {
        return ChooseOutputName(input, OutputFolderFor(plan_.Settings, input),
                                plan_.Settings.FormatKey, overwrite)
            .Path;
    }
    return overwrite ? named : UniqueOutputName(named, OutputExtension(plan_.Settings.FormatKey));
}

void TConversionRun::NameJob(int row, TJobDescription& job, const TClaimedNames& taken) {
    const TLibraryOptions& library = options_.Library;
    if (!libraryName_[row].empty()) {
        // Numbered on the template's name, not the input's, when an earlier file took it.
        job.OutputFile = UnclaimedOutputName(
            PlannedOutputName(row, plan_.Settings.Overwrite || overwriteOwn_[row]),
            libraryName_[row], taken);
        // A relative input's name beside it has no folder part: the current folder, which exists.
        std::error_code error;
        const std::filesystem::path folder = std::filesystem::path(job.OutputFile).parent_path();
        if (!folder.empty()) std::filesystem::create_directories(folder, error);
        if (error)
            throw std::runtime_error("the folder \"" + folder.string() +
                                     "\" cannot be made: " + error.message());
    }
    if (!library.ReplaceOriginal) return;
    // The name AddRowTask will give it; the journal must know it before anything is written.
    job.OutputFile = UnclaimedOutputName(job.OutputFile, job.InputFile, taken);
    std::string error;
    if (!BeginReplacement(
            {job.InputFile, job.OutputFile, sourceDurationUs_[row], library.ArchiveFolder}, error))
        throw std::runtime_error("the journal of the replacement cannot be written: " + error);
}

void TConversionRun::FinishConverted(TPlannedFile& file, double seconds) {
    const TLibraryOptions& library = options_.Library;
    const std::string& input = list_.Row(file.Row).FileName;
    const std::string& output = file.Job->OutputFile;
    if (library.KeepSmaller) {
        if (const std::string why = NotSmallerReason(FileSize(output), FileSize(input));
            !why.empty()) {
            std::error_code error;
            std::filesystem::remove(output, error);
            Finish(file, TFileEnd::Skipped,
                   why + (error ? "; the output could not be removed: " + error.message()
                                : "; the output was removed, the source kept"),
                   seconds);
            return;
        }
    }
    if (library.ReplaceOriginal) {
        const TReplaceOutcome outcome =
            ReplaceOriginal({input, output, sourceDurationUs_[file.Row], library.ArchiveFolder});
        if (!outcome.Note.empty()) status_.PrintMessage(input + ": " + outcome.Note);
        file.MovedTo = outcome.Output;
        if (!outcome.Replaced) {
            anyFailed_ = true;
            Finish(file, TFileEnd::Failed, outcome.Fault, seconds);
            return;
        }
    }
    Finish(file, TFileEnd::Done, "", seconds);
}

std::vector<int> TConversionRun::RowsToConvert() {
    std::vector<int> rows;
    for (int row = 0; row < list_.Count(); ++row) {
        if (finished_[row]) continue;  // a name that could not be made
        if (!options_.SkipExisting || list_.Row(row).State == TRowState::Unreadable) {
            rows.push_back(row);
            continue;
        }
        const std::string& input = list_.Row(row).FileName;
        const std::string output = PlannedOutputName(row, true);
        const TOutputFacts facts = ReadOutputFacts(component_.Probe(), output);
        if (!facts.Exists) {
            rows.push_back(row);
            continue;
        }
        const std::string why = IncompleteReason(facts, sourceDurationUs_[row]);
        if (why.empty()) {
            TPlannedFile file;
            file.Row = row;
            overwriteOwn_[row] = 1;  // its name is the output's own
            Finish(file, TFileEnd::Skipped, "the output is complete", 0);
            continue;
        }
        status_.PrintMessage(input + ": " + output + " is incomplete (" + why +
                             "); it is converted again");
        overwriteOwn_[row] = 1;
        rows.push_back(row);
    }
    return rows;
}

bool TConversionRun::Describe(TPlannedFile& file, TClaimedNames& taken) {
    TJobSettings settings = plan_.Settings;
    if (overwriteOwn_[file.Row]) settings.Overwrite = true;
    settings.Ranges = RangesOf(file.Row);
    settings.Loudness.AlbumGain = albumGain_;
    std::vector<std::string> notes;
    const TRowTask added =
        AddRowTask(list_.Row(file.Row), settings, runner_, taken, notes, [&](TJobDescription& job) {
            ChooseHardware(file.Row, job);
            NameJob(file.Row, job, taken);
        });
    file.Job = added.Job;
    file.Task = added.Task;
    for (const std::string& note : notes)
        status_.PrintMessage(list_.Row(file.Row).FileName + ": " + note);
    file.Notes = std::move(notes);
    if (file.Task >= 0) return true;
    anyFailed_ = true;
    Finish(file, TFileEnd::Failed, added.Reason, 0);
    return false;
}

void TConversionRun::WaitForChunk(std::vector<TPlannedFile>& files) {
    // The component starts the first Jobs tasks at once, then the next one at each end.
    std::size_t nextStart = std::min<std::size_t>(files.size(), options_.Jobs);
    for (std::size_t i = 0; i < nextStart; ++i) files[i].Started = TClock::now();
    std::size_t ended = 0;
    bool stopAsked = false;
    while (ended < files.size()) {
        if (!stopAsked && Interrupted()) {
            // As the Stop button: every running file is stopped and shows "Abort" once its
            // output is finished; none starts any more.
            stopAsked = true;
            stopped_ = true;
            runner_.StopTasks();
        }
        TComponentEvent event;
        if (!events_.Pop(event, std::chrono::milliseconds(50))) continue;
        if (event.Kind == TComponentEvent::ceLog) {
            status_.PrintMessage(event.Text);
            continue;
        }
        if (event.Index < 0 || event.Index >= static_cast<int>(files.size())) continue;
        TPlannedFile& file = files[event.Index];
        const double elapsed = std::chrono::duration<double>(TClock::now() - file.Started).count();
        if (event.Kind == TComponentEvent::ceProgress) {
            file.ProgressSeen = true;
            status_.ShowProgress(ProgressLineText(event.Progress, elapsed));
            continue;
        }
        ++ended;
        if (!stopAsked && nextStart < files.size()) files[nextStart++].Started = TClock::now();
        const bool started = static_cast<std::size_t>(event.Index) < nextStart || file.ProgressSeen;
        if (event.Exception && !stopAsked &&
            RetryInSoftware(file, event.Text, event.Result.Partial ? event.Result.OutputFile : ""))
            continue;
        // The output's place in the line and the record is where it is kept.
        if (event.Result.Partial) file.KeptPartial = event.Result.OutputFile;
        NoteCutLeads(file.Row, event.Result.CutLeadsUs);
        NoteLoudness(file.Row, event.Result.LoudnessNotes);
        if (event.Exception) {
            anyFailed_ = true;
            Finish(file, TFileEnd::Failed, event.Text, elapsed);
        } else if (stopAsked) {
            Finish(file, started ? TFileEnd::Stopped : TFileEnd::NotStarted, "",
                   started ? elapsed : 0);
        } else if (const std::string fault = onDevice_[file.Row] && file.Job
                                                 ? HardwareOutputFault(file.Job->OutputFile)
                                                 : "";
                   !fault.empty() && RetryInSoftware(file, fault, "")) {
            continue;
        } else if (!event.Result.Problem.empty()) {
            // Converted to its end but not whole: not a success for scripts either.
            anyFailed_ = true;
            Finish(file, TFileEnd::Partial, event.Result.Problem, elapsed);
        } else {
            FinishConverted(file, elapsed);
        }
    }
}

void TConversionRun::RunChunk(const std::vector<int>& rows) {
    runner_.ClearTasks();
    events_.Clear();
    std::vector<TPlannedFile> files;
    // Files running side by side never write where another reads or writes, even with
    // --overwrite.
    TClaimedNames taken;
    for (int row = 0; row < list_.Count(); ++row)
        taken.insert(NormalOutputPath(list_.Row(row).FileName));
    for (int row : rows) {
        TPlannedFile file;
        file.Row = row;
        // Task indices are positions in the component's list: failed rows take none.
        if (Describe(file, taken)) files.push_back(std::move(file));
    }
    if (files.empty()) return;
    try {
        runner_.StartTasks(options_.Jobs);
    } catch (const std::exception& error) {
        runner_.StopTasks();
        anyFailed_ = true;
        stopped_ = true;
        for (const TPlannedFile& file : files) Finish(file, TFileEnd::Failed, error.what(), 0);
        return;
    }
    WaitForChunk(files);
}

int TConversionRun::Run(const std::vector<std::string>& files) {
    component_.SetLogLevel(options_.Verbose ? llInfo : llError);
    // Files converted side by side share the cores; one file alone gets them all.
    component_.ShareCoresAmong(options_.Jobs);
    if (options_.Pipeline) {
        component_.SetPipeline(*options_.Pipeline);
        component_.SetPipelineLastTasks(false);
    }
    if (!component_.LoadLibraries(LibraryFolder(), true)) {
        status_.PrintMessage(std::string(kMsgLibrariesMissing) + "\n" + component_.LastErrorText());
        return kExitFailed;
    }
    WireEvents();
    if (files.empty()) return kExitOk;

    // The rows, as the window adds them: probed, checked, with the profile's key.
    try {
        for (const std::string& file : files) {
            AddFile(ReadMediaFacts(component_.Probe(), file));
        }
    } catch (const std::exception& error) {
        status_.PrintMessage(error.what());
        return kExitFailed;
    }
    const TConvertCheck check =
        CheckCanConvert(list_, plan_.Settings.OutputFolder, plan_.Settings.SameFolderAsInput);
    if (check != TConvertCheck::ccReady) {
        status_.PrintMessage("convert: the output folder \"" + plan_.Settings.OutputFolder +
                             "\" does not exist or is not a folder");
        return kExitUsage;
    }
    overwriteOwn_.assign(list_.Count(), 0);
    finished_.assign(list_.Count(), 0);
    hardwareNote_.assign(list_.Count(), "");
    cutLeads_.assign(list_.Count(), {});
    loudness_.assign(list_.Count(), {});
    onDevice_.assign(list_.Count(), 0);
    softwareOnly_.assign(list_.Count(), 0);
    if (!NameOutputs()) return kExitUsage;
    NameChapterOutputs();
    if (plan_.Settings.Loudness.Target && plan_.Settings.Loudness.Album) MeasureAlbum();
    if (options_.Hardware != THardwareMode::Off) {
        survey_ = &WaitForHardwareSurvey();
        // A demanded kind of device that did not open is said once, before the files fail.
        bool opened = options_.Hardware == THardwareMode::Auto;
        std::string why;
        for (const THardwareDevice& device : survey_->Devices) {
            if (HardwareModeName(options_.Hardware) != std::string(HardwareApiName(device.Api)))
                continue;
            opened |= device.Opened;
            why += (why.empty() ? "" : "; ") + device.Reason;
        }
        if (!opened)
            status_.PrintMessage(std::string("convert: --hardware ") +
                                 HardwareModeName(options_.Hardware) + ": no device works: " + why);
    }

    const std::vector<int> rows = RowsToConvert();
    const std::size_t chunk = options_.Jobs == 1 ? 1 : std::size_t(kChunkPerJob) * options_.Jobs;
    for (std::size_t first = 0; first < rows.size() && !stopped_ && !Interrupted();
         first += chunk) {
        const auto begin = rows.begin() + first;
        RunChunk(std::vector<int>(begin, begin + std::min(chunk, rows.size() - first)));
        while (!retry_.empty() && !stopped_ && !Interrupted()) RunChunk(std::exchange(retry_, {}));
    }
    // A stopped run's tasks may still be freeing their encoders: the process ends without
    // waiting for them (EndOfCommand).
    if (!Interrupted()) runner_.ClearTasks();
    status_.ClearProgress();
    // What a stop kept from starting still has its record.
    for (int row = 0; row < list_.Count(); ++row) {
        if (finished_[row]) continue;
        TPlannedFile file;
        file.Row = row;
        Finish(file, TFileEnd::NotStarted, "", 0);
    }
    if (Interrupted()) return kExitSignalBase + StopSignalNumber();
    return anyFailed_ ? kExitFailed : kExitOk;
}

}  // namespace

int ConvertFiles(const TConvertPlan& plan, const std::vector<std::string>& files,
                 const TBatchOptions& options, TBatchReport& report) {
    auto run = std::make_unique<TConversionRun>(plan, options, report);
    const int code = run->Run(files);
    // Stopped by a signal, its tasks are left to end with the process (EndOfCommand) rather
    // than waited for here.
    if (StopSignalNumber() != 0) static_cast<void>(run.release());
    return code;
}

nlohmann::json ReportSettingsOf(const TConvertPlan& plan) {
    const TJobSettings& settings = plan.Settings;
    const TParameterChoice& choice = settings.Parameters;
    std::string volume;
    for (int position = 0; position <= 10; ++position)
        if (VolumeForPosition(position) == settings.Volume) volume = VolumeLabel(position);
    return {
        {"profile", plan.Profile ? plan.Profile->DisplayName : ""},
        {"profile_line", plan.Line},
        {"choices",
         {{"video_codec", choice.VideoCodec},
          {"video_size", choice.VideoSize},
          {"video_bitrate", choice.VideoBitrate},
          {"frame_rate", choice.VideoFramerate},
          {"audio_codec", choice.AudioCodec},
          {"audio_bitrate", choice.AudioBitrate},
          {"sample_rate", choice.SamplingRate},
          {"channels", choice.AudioChannels},
          {"aspect", plan.Lists.AspectRatio.SelectedText()},
          {"letterbox", settings.LetterBoxIndex == 1},
          {"volume", volume},
          {"overwrite", settings.Overwrite}}},
        {"loudness_target", settings.Loudness.Target ? nlohmann::json(*settings.Loudness.Target)
                                                     : nlohmann::json(nullptr)},
    };
}

int ConvertCommand(const TConvertRequest& request) {
    TConvertPlan plan;
    TLibraryOptions library;
    std::vector<std::string> files = request.Files;
    try {
        plan = PlanConversion(request);
        library = PlanLibraryMode(request.Library, plan, request.OutputFolder, request.Overwrite);
        if (request.Shard) files = FilesOfShard(files, ParseShard(*request.Shard));
    } catch (const TUsageError& error) {
        std::fprintf(stderr, "convert: %s\nRun with --help for more information.\n", error.what());
        return kExitUsage;
    }
    TBatchReport report(request.Report, ReportSettingsOf(plan));
    // A report that cannot be written is found before anything is converted.
    if (!report.Write()) {
        std::fprintf(stderr, "convert: %s\n", report.LastError().c_str());
        return kExitUsage;
    }
    InstallStopSignalHandlers();
    TBatchOptions options{request.Jobs, request.SkipExisting, request.Verbose, request.Pipeline};
    options.Hardware = ParseHardwareMode(request.Hardware).value_or(THardwareMode::Off);
    options.Library = std::move(library);
    files = ResumeReplacementsFor(files);
    int code = ConvertFiles(plan, files, options, report);
    report.Finish();
    if (!report.LastError().empty()) {
        std::fprintf(stderr, "convert: %s\n", report.LastError().c_str());
        if (code == kExitOk) code = kExitFailed;
    }
    return code;
}
