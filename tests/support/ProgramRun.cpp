#include "ProgramRun.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string(what) + " failed: " + std::strerror(errno));
}

}  // namespace

TProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                          const TProgramOptions& options) {
    int out[2], err[2];
    Check(pipe2(out, O_CLOEXEC) == 0, "pipe2");
    if (options.ErrorToTerminal) {
        Check(openpty(&err[0], &err[1], nullptr, nullptr, nullptr) == 0, "openpty");
        fcntl(err[0], F_SETFD, FD_CLOEXEC);
        fcntl(err[1], F_SETFD, FD_CLOEXEC);
    } else {
        Check(pipe2(err, O_CLOEXEC) == 0, "pipe2");
    }

    std::vector<std::string> texts{program};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    Check(pid >= 0, "fork");
    if (pid == 0) {
        // The child: its own process group, so a signal meant for it reaches nothing else;
        // signals as a freshly started program has them.
        setpgid(0, 0);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        if (!options.WorkingFolder.empty() && chdir(options.WorkingFolder.c_str()) != 0) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);

    TProgramResult result;
    std::string* targets[2] = {&result.Out, &result.Err};
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    bool watching = static_cast<bool>(options.WhileRunning);
    int open = 2;
    while (open > 0) {
        const int ready = poll(fds, 2, 20);
        if (ready < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                targets[i]->append(buffer, n);
            } else if (n == 0 || errno != EINTR) {
                // End of a pipe; a terminal reports EIO once its last writer is gone.
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
        if (watching) watching = options.WhileRunning(pid);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.ExitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.Signal = WTERMSIG(status);
    return result;
}

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1) {
        lines.push_back(text.substr(start, at - start));
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}
