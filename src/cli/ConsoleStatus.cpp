#include "cli/ConsoleStatus.h"

#include <unistd.h>

#include <cstdio>

namespace {

// Texts from the engine may end in their own line end, "\r\n" included.
std::string WithoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace

TConsoleStatus::TConsoleStatus(bool progressInPlace) : inPlace_(progressInPlace) {}

bool TConsoleStatus::StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

void TConsoleStatus::ShowProgress(const std::string& line) {
    if (!inPlace_) return;
    std::lock_guard lock(mutex_);
    // Back to the line's start, the new text, and the rest of an older, longer text erased.
    std::fprintf(stderr, "\r%s\033[K", WithoutLineEnd(line).c_str());
    std::fflush(stderr);
    progressShown_ = true;
}

void TConsoleStatus::ClearProgress() {
    std::lock_guard lock(mutex_);
    ClearProgressLocked();
}

void TConsoleStatus::KeepProgress() {
    std::lock_guard lock(mutex_);
    if (!progressShown_) return;
    std::fputc('\n', stderr);
    std::fflush(stderr);
    progressShown_ = false;
}

void TConsoleStatus::ClearProgressLocked() {
    if (!progressShown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    progressShown_ = false;
}

void TConsoleStatus::PrintResult(const std::string& line) {
    std::lock_guard lock(mutex_);
    ClearProgressLocked();
    std::FILE* out = resultsToError_ ? stderr : stdout;
    std::fputs(line.c_str(), out);
    std::fputc('\n', out);
    std::fflush(out);
}

void TConsoleStatus::PrintMessage(const std::string& line) {
    std::lock_guard lock(mutex_);
    ClearProgressLocked();
    std::fputs(WithoutLineEnd(line).c_str(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}
