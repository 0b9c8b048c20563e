#pragma once

#include "support/ReadFile.h"

// Runs the command-line tool as a separate process, as a user would.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace QuilTool::Testing {

struct ToolRun {
    int status = -1;  // exit status
    std::string out;
    std::string err;
};

inline std::string Quoted(const std::string& argument) {
    std::string quoted = "'";
    for (char c : argument) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

using Varkon::QUILApi::Testing::ReadFile;

/// Runs `program` with `arguments` and the variables of `environment` ("NAME=value"); at most
/// `limitSeconds`, then it is killed (status 124).
inline ToolRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                          int limitSeconds = 60, const std::vector<std::string>& environment = {}) {
    static int counter = 0;
    const std::string base =
        "/tmp/quil-tool-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    std::string command = "env";
    for (const auto& variable : environment) {
        command += " " + Quoted(variable);
    }
    command += " timeout " + std::to_string(limitSeconds) + " " + Quoted(program);
    for (const auto& argument : arguments) {
        command += " " + Quoted(argument);
    }
    command += " >" + base + ".out 2>" + base + ".err </dev/null";
    const int raw = std::system(command.c_str());
    ToolRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = ReadFile(base + ".out");
    run.err = ReadFile(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return run;
}

inline ToolRun RunTool(const std::vector<std::string>& arguments, int limitSeconds = 60,
                       const std::vector<std::string>& environment = {}) {
    return RunProgram(QUIL_TOOL, arguments, limitSeconds, environment);
}

/// The tool started in the background, its standard output and error going to files.
class BackgroundTool {
public:
    BackgroundTool(const std::vector<std::string>& arguments, const std::string& outputBase)
        : outputBase(outputBase) {
        pid = fork();
        if (pid == 0) {
            const int out = open((outputBase + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open((outputBase + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(QUIL_TOOL)};
            for (const auto& argument : arguments) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            execv(QUIL_TOOL, argv.data());
            _exit(127);
        }
    }
    ~BackgroundTool() {
        if (pid > 0 && !exited) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

    void Signal(int signal) const { kill(pid, signal); }

    /// The exit status once it ended within `limit`; -1 when it was killed at the deadline or
    /// ended by a signal.
    int Wait(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int raw = 0;
        while (waitpid(pid, &raw, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &raw, 0);
                exited = true;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        exited = true;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    std::string Err() const { return ReadFile(outputBase + ".err"); }

private:
    std::string outputBase;
    pid_t pid = -1;
    bool exited = false;
};

}  // namespace QuilTool::Testing
