#include "RobustnessSupport.h"

#include <condition_variable>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <regex>

namespace fs = std::filesystem;

TTaskOutcome ConvertOnce(TFFmpegVCL& component, const std::string& input, const std::string& output,
                         TOutputOptions options, std::chrono::seconds bound) {
    TTaskOutcome outcome;
    component.ClearTasks();
    const int index = component.AppendTask(input);
    if (index < 0) return Outcome("input", component.LastErrorText());
    if (!component.SetTaskOutput(index, output, &options))
        return Outcome("output", component.LastErrorText());

    // Shared with the handler, which runs on the task's thread.
    struct TEnd {
        std::mutex mutex;
        std::condition_variable changed;
        bool ended = false;
        TTaskOutcome outcome = Outcome("run");
    };
    auto end = std::make_shared<TEnd>();
    component.OnTerminate = [end](int AIndex, bool AFinished, bool AException,
                                  const std::string& AMessage, const TTaskResult&) {
        if (AIndex < 0) return;
        std::lock_guard lock(end->mutex);
        end->ended = true;
        end->outcome.finished = AFinished;
        end->outcome.exception = AException;
        end->outcome.message = AMessage;
        end->changed.notify_all();
    };
    component.StartTasks(1);
    std::unique_lock lock(end->mutex);
    if (!end->changed.wait_for(lock, bound, [&] { return end->ended; })) {
        lock.unlock();
        component.StopTasks();
        lock.lock();
        if (!end->changed.wait_for(lock, std::chrono::seconds(10), [&] { return end->ended; }))
            return Outcome("hang", "the task neither ended nor stopped");
        return Outcome("hang", "the task ended only when stopped");
    }
    outcome = end->outcome;
    lock.unlock();
    // Joined: the output is closed (and deleted when empty) by now.
    component.ClearTasks();
    return outcome;
}

bool IsClearMessage(const std::string& text) {
    if (text.empty() || text.size() > 2000) return false;
    for (unsigned char c : text)
        if (c < 0x20 && c != '\n' && c != '\t') return false;
    static const std::regex leftover("%[-+ #0-9.]*(l|ll|z)?[sdiuxXfgcp]");
    static const std::regex bareNumber("^(Error number )?-?[0-9]+( occurred)?$");
    return !std::regex_search(text, leftover) && !std::regex_match(text, bareNumber);
}

TFolderSnapshot SnapshotFolder(const fs::path& folder) {
    TFolderSnapshot snapshot;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream file(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(file)), {});
        snapshot[entry.path().string()] = {entry.file_size(), std::hash<std::string>{}(bytes)};
    }
    return snapshot;
}

std::string EmptyFilesIn(const fs::path& folder) {
    std::string names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.file_size() == 0)
            names += entry.path().filename().string() + " ";
    return names;
}
