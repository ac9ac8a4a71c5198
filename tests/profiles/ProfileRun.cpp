#include "ProfileRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/core/ComponentTaskRunner.h"
#include "app/core/ConversionQueue.h"
#include "app/core/FileList.h"
#include "component/FFmpegVCL.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

std::optional<double> Seconds(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    try {
        return std::stod(it->get<std::string>());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

TSourceClip MakeSourceClip(const std::string& folder, double seconds, int width, int height) {
    TSourceClip clip;
    clip.Path = (std::filesystem::path(folder) / "clip.avi").string();
    clip.Width = width;
    clip.Height = height;
    clip.Seconds = seconds;
    TClipSpec clipSpec;
    clipSpec.width = width;
    clipSpec.height = height;
    clipSpec.durationSeconds = seconds;
    clipSpec.frameRate = {25, 1};
    clipSpec.sampleRate = 48000;
    clipSpec.channels = 2;
    // Samples as they are: the sound lasts exactly as long as the picture.
    clipSpec.audioCodec = "pcm_s16le";
    WriteClip(clip.Path, clipSpec);
    return clip;
}

TJobSettings SettingsFor(const TOutputProfile& profile, const TParameterLists& lists,
                         const std::string& outputFolder) {
    TJobSettings settings;
    settings.OutputFolder = outputFolder;
    settings.Overwrite = true;
    settings.FormatKey = profile.FormatKey;
    settings.Reader = profile.Reader;
    settings.Parameters = ChoiceOf(lists);
    settings.AspectIndex = lists.AspectRatio.Selected;
    settings.Volume = VolumeForPosition(kDefaultVolumePosition);
    return settings;
}

struct TProfileConverter::TState {
    std::mutex mutex;
    std::condition_variable ended;
    bool terminated = false;
    bool failed = false;
    std::string message;
    std::vector<int> percents;
    TFileList list;
    // Last: its threads report into the members above until it is gone.
    TFFmpegVCL component;
    TComponentTaskRunner runner{component};
};

TProfileConverter::TProfileConverter() : state_(std::make_unique<TState>()) {
    RequireMediaLibraries();
    TState& s = *state_;
    s.component.SetLogLevel(llError);
    // Codec threads as the window and daziziz-cli choose them: decoders that thread hold
    // pictures back, which a single thread never shows.
    s.component.SetCodecThreads(0);
    EXPECT_TRUE(s.component.LoadLibraries("", true)) << s.component.LastErrorText();
    s.component.OnTerminate = [&s](int AIndex, bool, bool AException, const std::string& AMessage,
                                   const TTaskResult&) {
        if (AIndex < 0) return;
        std::lock_guard lock(s.mutex);
        s.terminated = true;
        s.failed = AException;
        s.message = AMessage;
        s.ended.notify_all();
    };
    s.component.OnProgress = [&s](int, int, int, int ACurrentDuration, float, float, int64_t,
                                  int ATotalOutputDuration) {
        if (ATotalOutputDuration <= 0) return;
        std::lock_guard lock(s.mutex);
        s.percents.push_back(
            static_cast<int>(int64_t{ACurrentDuration} * 100 / ATotalOutputDuration));
    };
}

std::vector<int> TProfileConverter::ProgressPercents() const {
    std::lock_guard lock(state_->mutex);
    return state_->percents;
}

TProfileConverter::~TProfileConverter() = default;

TConversionOutcome TProfileConverter::Convert(const TSourceClip& clip,
                                              const TJobSettings& settings) {
    TProbeFacts facts;
    facts.HasVideo = true;
    facts.Width = clip.Width;
    facts.Height = clip.Height;
    facts.FrameRateNum = 25;
    facts.FrameRateDen = 1;
    facts.DurationUs = static_cast<std::int64_t>(clip.Seconds * 1e6);
    return Convert(clip.Path, facts, settings);
}

TConversionOutcome TProfileConverter::Convert(const std::string& path, const TProbeFacts& facts,
                                              const TJobSettings& settings) {
    TState& s = *state_;
    s.list.Clear();
    s.list.AddProbedFile(path, facts, settings.FormatKey);
    TConversionQueue queue;
    queue.Start();
    {
        std::lock_guard lock(s.mutex);
        s.terminated = false;
        s.percents.clear();
    }
    const TBuildResult build = BuildNextTask(s.list, queue, settings, s.runner);
    TConversionOutcome outcome;
    outcome.Notes = build.LogLines;
    if (build.Job) {
        outcome.Job = *build.Job;
        outcome.OutputFile = build.Job->OutputFile;
    }
    if (build.Outcome != TBuildOutcome::boStarted) {
        outcome.Reason = build.LogLines.empty() ? build.Message : build.LogLines.back();
        s.runner.ClearTasks();
        return outcome;
    }
    WaitForEnd(outcome);
    return outcome;
}

TConversionOutcome TProfileConverter::Run(const TJobDescription& job) {
    TState& s = *state_;
    TConversionOutcome outcome;
    outcome.Job = job;
    outcome.OutputFile = job.OutputFile;
    s.runner.ClearTasks();
    {
        std::lock_guard lock(s.mutex);
        s.terminated = false;
    }
    const int task = s.runner.AppendTask(job);
    if (task < 0 || !s.runner.SetTaskOutput(task, job)) {
        outcome.Reason = s.runner.LastErrorText();
        s.runner.ClearTasks();
        return outcome;
    }
    s.runner.StartTasks(1);
    WaitForEnd(outcome);
    return outcome;
}

void TProfileConverter::WaitForEnd(TConversionOutcome& outcome) {
    TState& s = *state_;
    std::unique_lock lock(s.mutex);
    if (!s.ended.wait_for(lock, std::chrono::minutes(4), [&] { return s.terminated; })) {
        lock.unlock();
        s.runner.StopTasks();
        outcome.Reason = "no end within four minutes";
    } else {
        outcome.Done = !s.failed;
        outcome.Reason = s.message;
        lock.unlock();
    }
    s.runner.ClearTasks();
}

std::map<std::string, TStreamSpan> StreamSpans(const std::string& path) {
    std::map<std::string, TStreamSpan> spans;
    const nlohmann::json json = FfprobeJson(
        "-show_entries stream=index,codec_type:packet=stream_index,pts_time,duration_time", path);
    if (json.is_discarded() || !json.is_object()) return spans;
    std::map<int, std::string> types;
    for (const nlohmann::json& stream : json.value("streams", nlohmann::json::array()))
        types[stream.value("index", -1)] = stream.value("codec_type", "");
    std::map<std::string, bool> seen;
    for (const nlohmann::json& packet : json.value("packets", nlohmann::json::array())) {
        const std::string& type = types[packet.value("stream_index", -1)];
        const double duration = Seconds(packet, "duration_time").value_or(0.0);
        const std::optional<double> pts = Seconds(packet, "pts_time");
        if (!seen[type]) {
            if (!pts) continue;
            spans[type] = {*pts, *pts, 0};
            seen[type] = true;
        }
        TStreamSpan& span = spans[type];
        const double start = pts.value_or(span.End);
        span.Start = std::min(span.Start, start);
        span.End = std::max(span.End, start + duration);
        span.LongestPacket = std::max(span.LongestPacket, duration);
    }
    return spans;
}

std::string MajorBrand(const std::string& path) {
    const nlohmann::json json = FfprobeJson("-show_entries format_tags=major_brand", path);
    if (json.is_discarded() || !json.is_object()) return {};
    const nlohmann::json tags =
        json.value("format", nlohmann::json::object()).value("tags", nlohmann::json::object());
    return tags.value("major_brand", "");
}

std::vector<std::string> TopLevelBoxes(const std::string& path) {
    std::vector<std::string> boxes;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) return boxes;
    for (;;) {
        unsigned char header[16];
        if (std::fread(header, 1, 8, file.get()) != 8) break;
        std::uint64_t size =
            (std::uint64_t(header[0]) << 24) | (header[1] << 16) | (header[2] << 8) | header[3];
        std::uint64_t headerSize = 8;
        if (size == 1) {  // a 64-bit size follows the type
            if (std::fread(header + 8, 1, 8, file.get()) != 8) break;
            size = 0;
            for (int i = 8; i < 16; ++i) size = size << 8 | header[i];
            headerSize = 16;
        }
        boxes.emplace_back(reinterpret_cast<const char*>(header + 4), 4);
        if (size == 0) break;  // to the end of the file
        if (size < headerSize ||
            std::fseek(file.get(), static_cast<long>(size - headerSize), SEEK_CUR) != 0)
            break;
    }
    return boxes;
}

bool IndexBeforeMedia(const std::string& path) {
    const std::vector<std::string> boxes = TopLevelBoxes(path);
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    return moov != boxes.end() && mdat != boxes.end() && moov < mdat;
}

std::vector<int> ProfileLines() {
    std::vector<int> lines;
    const auto& catalogue = OutputFormatLines();
    for (int i = 0; i < static_cast<int>(catalogue.size()); ++i)
        if (catalogue[i].Profile) lines.push_back(i);
    return lines;
}
