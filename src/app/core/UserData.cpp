#include "app/core/UserData.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/core/FileListTexts.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Version 1 kept a row's state as its "Progress" text ("Done", "57%", "Error"); version 2 keeps
// it by name.
constexpr int kFormatVersion = 2;
constexpr int kTextStatesVersion = 1;

// The saved names of the row states, in the enumeration's order.
constexpr const char* kStateKeys[] = {"waiting", "converting", "done",      "done_with_errors",
                                      "failed",  "stopped",    "unreadable"};
static_assert(std::size(kStateKeys) == static_cast<std::size_t>(TRowState::Unreadable) + 1);

TRowState StateOfKey(const std::string& key) {
    for (std::size_t i = 0; i < std::size(kStateKeys); ++i) {
        if (key == kStateKeys[i]) return static_cast<TRowState>(i);
    }
    return TRowState::Waiting;
}

// A version 1 row's state from its "Progress" text, as that version wrote it (untranslated).
void ReadStateText(const std::string& text, TFileListRow& row) {
    if (!text.empty() && text.back() == '%') {
        row.State = TRowState::Converting;
        row.Percent = std::clamp(std::atoi(text.c_str()), 0, 100);
        return;
    }
    for (TRowState state : {TRowState::Done, TRowState::DoneWithErrors, TRowState::Failed,
                            TRowState::Stopped, TRowState::Unreadable}) {
        if (text == RowStateText(state)) row.State = state;
    }
}

json ChoiceJson(const TParameterChoice& c) {
    return {{"video_codec", c.VideoCodec},
            {"video_size", c.VideoSize},
            {"video_bitrate", c.VideoBitrate},
            {"frame_rate", c.VideoFramerate},
            {"audio_codec", c.AudioCodec},
            {"audio_bitrate", c.AudioBitrate},
            {"sample_rate", c.SamplingRate},
            {"channels", c.AudioChannels},
            {"quality", c.Quality}};
}

TParameterChoice ChoiceOfJson(const json& j) {
    TParameterChoice c;
    c.VideoCodec = j.value("video_codec", "");
    c.VideoSize = j.value("video_size", "");
    c.VideoBitrate = j.value("video_bitrate", "");
    c.VideoFramerate = j.value("frame_rate", "");
    c.AudioCodec = j.value("audio_codec", "");
    c.AudioBitrate = j.value("audio_bitrate", "");
    c.SamplingRate = j.value("sample_rate", "");
    c.AudioChannels = j.value("channels", "");
    c.Quality = j.value("quality", "");
    return c;
}

json ChoicesJson(const TSavedChoices& c) {
    return {{"profile", c.Profile},
            {"parameters", ChoiceJson(c.Parameters)},
            {"aspect", c.AspectIndex},
            {"letter_box", c.LetterBoxIndex},
            {"volume_position", c.VolumePosition},
            {"fit_size_bytes", c.FitSizeBytes}};
}

TSavedChoices ChoicesOfJson(const json& j) {
    TSavedChoices c;
    c.Profile = j.value("profile", "");
    if (j.contains("parameters") && j["parameters"].is_object()) {
        c.Parameters = ChoiceOfJson(j["parameters"]);
    }
    c.AspectIndex = j.value("aspect", 0);
    c.LetterBoxIndex = j.value("letter_box", 0);
    c.VolumePosition = j.value("volume_position", 5);
    c.FitSizeBytes = std::max<int64_t>(j.value("fit_size_bytes", int64_t{0}), 0);
    return c;
}

json RowJson(const TFileListRow& r) {
    return {{"file", r.FileName},        {"checked", r.Checked},
            {"video_size", r.VideoSize}, {"frame_rate", r.FrameRate},
            {"duration", r.Duration},    {"duration_ms", r.DurationMs},
            {"output", r.Output},        {"state", kStateKeys[static_cast<int>(r.State)]},
            {"percent", r.Percent},      {"frames", r.Frames},
            {"status", r.Status},        {"output_file", r.OutputFile}};
}

TFileListRow RowOfJson(const json& j, int version) {
    TFileListRow r;
    r.FileName = j.at("file").get<std::string>();
    r.Checked = j.value("checked", true);
    r.VideoSize = j.value("video_size", "");
    r.FrameRate = j.value("frame_rate", "");
    r.Duration = j.value("duration", "");
    r.DurationMs = j.value("duration_ms", static_cast<std::int64_t>(-1));
    r.Output = j.value("output", "");
    if (version == kTextStatesVersion) {
        ReadStateText(j.value("progress", ""), r);
    } else {
        r.State = StateOfKey(j.value("state", ""));
        r.Percent = std::clamp(j.value("percent", 0), 0, 100);
    }
    r.Frames = j.value("frames", "");
    r.Status = j.value("status", "");
    r.OutputFile = j.value("output_file", "");
    return r;
}

void SelectText(TChoiceList& list, const std::string& text) {
    if (text.empty()) return;
    const auto at = std::find(list.Items.begin(), list.Items.end(), text);
    if (at != list.Items.end()) list.Selected = static_cast<int>(at - list.Items.begin());
}

}  // namespace

fs::path XdgBaseFolder(const char* variable, const char* belowHome, const char* homeless) {
    const char* value = std::getenv(variable);
    if (value && *value == '/') return value;
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : homeless) / belowHome;
}

fs::path DefaultDataFolder() {
    return XdgBaseFolder("XDG_DATA_HOME", ".local/share", "/tmp") / "Vavuror" / "daziziz";
}

bool WriteFileAtomically(const fs::path& path, const std::string& text, std::string& error) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    const fs::path temporary = path.string() + ".part";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = temporary.string() + ": " + std::strerror(errno);
        return false;
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = temporary.string() + ": " + std::strerror(errno);
            ::close(fd);
            fs::remove(temporary, ec);
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    // On disk before the rename, so that a power cut cannot leave an empty file in its place.
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    ::close(fd);
    if (!synced) {
        error = temporary.string() + ": " + std::strerror(syncError);
        fs::remove(temporary, ec);
        return false;
    }
    fs::rename(temporary, path, ec);
    if (ec) {
        error = path.string() + ": " + ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

std::optional<std::string> ReadWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return text.str();
}

void SelectChoices(TParameterLists& lists, const TParameterChoice& choice) {
    SelectText(lists.VideoCodec, choice.VideoCodec);
    SelectText(lists.VideoSize, choice.VideoSize);
    SelectText(lists.VideoBitrate, choice.VideoBitrate);
    SelectText(lists.VideoFramerate, choice.VideoFramerate);
    SelectText(lists.AudioCodec, choice.AudioCodec);
    SelectText(lists.AudioBitrate, choice.AudioBitrate);
    SelectText(lists.SamplingRate, choice.SamplingRate);
    SelectText(lists.AudioChannels, choice.AudioChannels);
    SelectText(lists.Quality, choice.Quality);
}

std::string SavedQueueJson(const TSavedQueue& queue) {
    json rows = json::array();
    for (const TFileListRow& row : queue.Rows) rows.push_back(RowJson(row));
    const json whole = {{"version", kFormatVersion},
                        {"output_folder", queue.OutputFolder},
                        {"same_folder_as_input", queue.SameFolderAsInput},
                        {"choices", ChoicesJson(queue.Choices)},
                        {"rows", rows}};
    return whole.dump(2) + "\n";
}

std::optional<TSavedQueue> ReadSavedQueue(const std::string& text,
                                          const std::string& partialPrefix) {
    try {
        const json whole = json::parse(text);
        const int version = whole.is_object() ? whole.value("version", 0) : 0;
        if (version != kFormatVersion && version != kTextStatesVersion) return std::nullopt;
        TSavedQueue queue;
        queue.OutputFolder = whole.value("output_folder", "");
        queue.SameFolderAsInput = whole.value("same_folder_as_input", false);
        if (whole.contains("choices")) queue.Choices = ChoicesOfJson(whole["choices"]);
        for (const json& row : whole.at("rows")) {
            TFileListRow data = RowOfJson(row, version);
            if (data.State == TRowState::Converting) {
                data.State = TRowState::Waiting;
                data.Percent = 0;
                data.Frames.clear();
                // The output folder is the row's; its name is enough.
                data.Status = data.OutputFile.empty()
                                  ? ""
                                  : partialPrefix + fs::path(data.OutputFile).filename().string();
            }
            queue.Rows.push_back(std::move(data));
        }
        return queue;
    } catch (const json::exception&) {
        return std::nullopt;
    }
}

const TPreset* TPresetStore::Find(const std::string& name) const {
    const auto at = std::find_if(presets_.begin(), presets_.end(),
                                 [&](const TPreset& p) { return p.Name == name; });
    return at == presets_.end() ? nullptr : &*at;
}

bool TPresetStore::Save(const TPreset& preset) {
    if (preset.Name.empty()) return false;
    for (TPreset& existing : presets_) {
        if (existing.Name == preset.Name) {
            existing = preset;
            return true;
        }
    }
    presets_.push_back(preset);
    return true;
}

bool TPresetStore::Rename(const std::string& oldName, const std::string& newName) {
    if (newName.empty() || !Find(oldName)) return false;
    if (oldName == newName) return true;
    if (Find(newName)) return false;
    for (TPreset& preset : presets_) {
        if (preset.Name == oldName) preset.Name = newName;
    }
    return true;
}

bool TPresetStore::Remove(const std::string& name) {
    const auto at = std::remove_if(presets_.begin(), presets_.end(),
                                   [&](const TPreset& p) { return p.Name == name; });
    if (at == presets_.end()) return false;
    presets_.erase(at, presets_.end());
    return true;
}

std::string TPresetStore::Json() const {
    json list = json::array();
    for (const TPreset& preset : presets_) {
        list.push_back({{"name", preset.Name}, {"choices", ChoicesJson(preset.Choices)}});
    }
    return json{{"version", kFormatVersion}, {"presets", list}}.dump(2) + "\n";
}

namespace {

std::optional<std::vector<TPreset>> PresetsOfJson(const std::string& text) {
    try {
        const json whole = json::parse(text);
        const int version = whole.is_object() ? whole.value("version", 0) : 0;
        if (version != kFormatVersion && version != kTextStatesVersion) return std::nullopt;
        std::vector<TPreset> presets;
        for (const json& entry : whole.at("presets")) {
            TPreset preset;
            preset.Name = entry.at("name").get<std::string>();
            preset.Choices = ChoicesOfJson(entry.at("choices"));
            if (preset.Name.empty()) return std::nullopt;
            presets.push_back(std::move(preset));
        }
        return presets;
    } catch (const json::exception&) {
        return std::nullopt;
    }
}

}  // namespace

bool TPresetStore::Load(const std::string& text) {
    auto presets = PresetsOfJson(text);
    if (!presets) return false;
    presets_.clear();
    for (const TPreset& preset : *presets) Save(preset);
    return true;
}

std::optional<int> TPresetStore::Import(const std::string& text) {
    const auto presets = PresetsOfJson(text);
    if (!presets) return std::nullopt;
    for (const TPreset& preset : *presets) Save(preset);
    return static_cast<int>(presets->size());
}
