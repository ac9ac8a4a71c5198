// Runs a program as a child process (the built daziziz-cli, for the tests of the command line and
// of the front ends) and collects what it wrote and how it ended.
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
    // The folder the program starts in (empty: the test's own), for inputs named relatively.
    std::string WorkingFolder;
};

// The program at `program` with the arguments.
TProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                          const TProgramOptions& options = {});

#ifdef DZ_CLI_PROGRAM
// daziziz-cli as built beside the tests (its path compiled in) with the arguments.
inline TProgramResult RunCli(const std::vector<std::string>& arguments,
                             const TProgramOptions& options = {}) {
    return RunProgram(DZ_CLI_PROGRAM, arguments, options);
}
#endif

// The text's lines without their line feeds.
std::vector<std::string> LinesOf(const std::string& text);
