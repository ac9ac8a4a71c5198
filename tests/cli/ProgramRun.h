// Runs the built daziziz-cli as a child process and collects what it wrote and how it ended.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct TProgramResult {
    int ExitCode = -1;  // -1 when a signal ended it
    int Signal = 0;     // the signal that ended it, 0 when it exited
    std::string Out;    // standard output
    std::string Err;    // standard error (the terminal's text when run with one)
};

struct TProgramOptions {
    // Called every few milliseconds while the program runs, with its process id; returns false
    // once it has nothing more to do.
    std::function<bool(pid_t)> WhileRunning;
    // Standard error goes to a pseudo-terminal, as when a user runs the program.
    bool ErrorToTerminal = false;
};

// The program's path (compiled in) followed by the arguments.
TProgramResult RunCli(const std::vector<std::string>& arguments,
                      const TProgramOptions& options = {});

// The text's lines without their line feeds.
std::vector<std::string> LinesOf(const std::string& text);
