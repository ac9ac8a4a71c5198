// Helpers of the robustness tests: one conversion through the component with a time bound,
// snapshots of folders, and what counts as a message a user can act on.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <utility>

#include "component/FFmpegVCL.h"

// How one conversion ended. `stage` says where: the input was refused ("input"), the output was
// refused ("output"), or the task ran and terminated ("run"); "hang" when it did not end within
// the bound.
struct TTaskOutcome {
    std::string stage;
    bool finished = false;   // run: the task reached the end of its input
    bool exception = false;  // run: the task failed
    std::string message;     // the reason of a refusal or failure
};

// An outcome that is only a stage and a message.
inline TTaskOutcome Outcome(std::string stage, std::string message = {}) {
    TTaskOutcome outcome;
    outcome.stage = std::move(stage);
    outcome.message = std::move(message);
    return outcome;
}

// Converts `input` into `output` as the window does (clear, add, set the output, start one) and
// waits for the task's end, at most `bound`. On a hang the task is asked to stop; the component
// is left for its owner to clear.
TTaskOutcome ConvertOnce(TFFmpegVCL& component, const std::string& input, const std::string& output,
                         TOutputOptions options, std::chrono::seconds bound);

// A message a user can act on: not empty, one to a few lines of printable text, no format
// directive left unfilled and not a bare library error number.
bool IsClearMessage(const std::string& text);

// Every file below a folder with its size and a hash of its bytes.
using TFolderSnapshot = std::map<std::string, std::pair<std::uintmax_t, std::size_t>>;
TFolderSnapshot SnapshotFolder(const std::filesystem::path& folder);

// The names of the empty files below a folder.
std::string EmptyFilesIn(const std::filesystem::path& folder);
