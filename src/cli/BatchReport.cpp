#include "cli/BatchReport.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

nlohmann::json Optional(std::int64_t value) {
    return value < 0 ? nlohmann::json(nullptr) : nlohmann::json(value);
}

nlohmann::json SecondsOf(std::int64_t us) {
    return us < 0 ? nlohmann::json(nullptr) : nlohmann::json(static_cast<double>(us) / 1e6);
}

nlohmann::json TextOrNull(const std::string& text) {
    return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
    const std::filesystem::path target(path);
    // A name of this process's own; created with the permissions the user's mask gives any file.
    static std::atomic<unsigned> serial{0};
    const std::string temporary =
        (target.parent_path() / ("." + target.filename().string() + "." + std::to_string(getpid()) +
                                 "." + std::to_string(serial++)))
            .string();
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = "cannot write beside " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    std::size_t written = 0;
    while (ok && written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            written += static_cast<std::size_t>(n);
    }
    // On disk before the rename, so that even a machine that goes down keeps one whole version.
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
    }
    return ok;
}

TBatchReport::TBatchReport(std::string path, nlohmann::json settings)
    : path_(std::move(path)), settings_(std::move(settings)) {}

void TBatchReport::LoadEarlier() {
    if (!Enabled() || path_ == "-") return;
    std::ifstream in(path_);
    replaceEarlier_ = true;
    if (!in) return;
    nlohmann::json earlier;
    try {
        earlier = nlohmann::json::parse(in);
    } catch (const nlohmann::json::exception& error) {
        throw std::runtime_error(path_ + " is not a report of this program: " + error.what());
    }
    if (!earlier.is_object() || !earlier.contains("files") || !earlier["files"].is_array())
        throw std::runtime_error(path_ + " is not a report of this program: it has no \"files\"");
    for (const nlohmann::json& record : earlier["files"]) {
        if (!record.is_object() || !record.contains("input") || !record["input"].is_string())
            continue;
        byInput_[record["input"].get<std::string>()] = files_.size();
        files_.push_back(record);
    }
}

const nlohmann::json* TBatchReport::Find(const std::string& input) const {
    const auto found = byInput_.find(input);
    return found == byInput_.end() ? nullptr : &files_[found->second];
}

void TBatchReport::Add(const TReportRecord& record) {
    nlohmann::json entry = {
        {"input", record.Input},
        {"output", TextOrNull(record.Output)},
        {"status", record.Status},
        {"reason", record.Reason},
        {"source_seconds", SecondsOf(record.SourceDurationUs)},
        {"output_seconds", SecondsOf(record.OutputDurationUs)},
        {"output_bytes", Optional(record.OutputBytes)},
        {"video_codec", TextOrNull(record.VideoCodec)},
        {"audio_codec", TextOrNull(record.AudioCodec)},
        {"seconds", record.Seconds},
        {"hardware", TextOrNull(record.Hardware)},
        {"notes", record.Notes},
    };
    if (!record.CutLeadsUs.empty()) {
        nlohmann::json leads = nlohmann::json::array();
        for (const std::int64_t lead : record.CutLeadsUs) leads.push_back(SecondsOf(lead));
        entry["cut_starts_earlier_seconds"] = std::move(leads);
    }
    if (!record.Loudness.empty()) entry["loudness"] = record.Loudness;
    for (const auto& [key, value] : settings_.items()) entry[key] = value;
    const auto found = byInput_.find(record.Input);
    if (replaceEarlier_ && found != byInput_.end()) {
        files_[found->second] = std::move(entry);
    } else {
        byInput_[record.Input] = files_.size();
        files_.push_back(std::move(entry));
    }
    if (path_ != "-") Write();
}

void TBatchReport::Finish() {
    complete_ = true;
    Write();
}

bool TBatchReport::Write() {
    if (!Enabled()) return true;
    const nlohmann::json report = {
        {"program", "daziziz-cli"},
        {"version", DZ_VERSION},
        {"complete", complete_},
        {"files", files_},
    };
    const std::string text = report.dump(2) + "\n";
    if (path_ == "-") {
        if (!complete_) return true;
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        return true;
    }
    std::string error;
    if (WriteFileAtomically(path_, text, error)) return true;
    lastError_ = error;
    return false;
}
