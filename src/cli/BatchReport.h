// The machine-readable report of a batch: one record per input file, kept on disk as JSON that
// is valid at every moment. Each change rewrites it whole into a temporary file beside it,
// which is then renamed over it, so a run killed at any point leaves the report of everything
// that had finished.
//
//   {"program": "daziziz-cli", "version": "...", "complete": false,
//    "files": [{"input": ..., "output": ..., "status": "done", "reason": "", ...}, ...]}
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

inline constexpr const char* kReportDone = "done";
// Converted to its end without the whole input (a damaged input): the reason says what is missing.
inline constexpr const char* kReportPartial = "partial";
inline constexpr const char* kReportFailed = "failed";
inline constexpr const char* kReportStopped = "stopped";
inline constexpr const char* kReportSkipped = "skipped";

struct TReportRecord {
    std::string Input;
    std::string Output;
    std::string Status;  // kReportDone ... kReportSkipped
    std::string Reason;  // why it failed, stopped or was skipped; empty when done
    std::int64_t SourceDurationUs = -1;
    std::int64_t OutputDurationUs = -1;
    std::int64_t OutputBytes = -1;
    std::string VideoCodec, AudioCodec;  // the encoders the job used; empty for none
    double Seconds = 0;                  // wall time of its conversion
    // With a graphics chip asked for: the hardware encoder used, or why the video was encoded
    // in software (no device, the device failed on this file); empty when not asked.
    std::string Hardware;
    // With --trim: per range, how much earlier than asked the output starts it, µs (a copied
    // video starts at a key frame); empty without ranges.
    std::vector<std::int64_t> CutLeadsUs;
    // With --loudness: per sound stream what was measured and done; empty without.
    std::vector<std::string> Loudness;
    // What the job builder said of the file: tracks kept and left out, and why.
    std::vector<std::string> Notes;
};

class TBatchReport {
  public:
    // path: the report file, "-" for standard output (written once, by Finish), or empty for
    // no report. settings: the profile and choices, copied into every record.
    TBatchReport(std::string path, nlohmann::json settings);

    bool Enabled() const { return !path_.empty(); }
    // Takes over the records of a report already at the path (none when there is no file);
    // from then on a record replaces the earlier one of its input (a file given twice to one
    // run otherwise has two). Throws std::runtime_error when the file is there but is not such a
    // report.
    void LoadEarlier();
    // The record of an input, or nullptr.
    const nlohmann::json* Find(const std::string& input) const;
    // Adds the record and writes the report.
    void Add(const TReportRecord& record);
    // Marks the run complete and writes the report.
    void Finish();
    // Writes the report as it stands; false (with LastError) when it could not be written.
    bool Write();

    const std::string& LastError() const { return lastError_; }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    nlohmann::json settings_;
    nlohmann::json files_ = nlohmann::json::array();
    std::map<std::string, std::size_t> byInput_;
    bool complete_ = false;
    bool replaceEarlier_ = false;
    std::string lastError_;
};

// Writes text into the file atomically: a temporary file in the same folder, flushed to disk,
// then renamed over the target. False, with the reason in `error`, when any step fails; the
// target is then untouched.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error);
