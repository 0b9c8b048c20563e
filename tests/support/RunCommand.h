// Other programs run from tests: a shell command, a program to its end, or a program in the
// background. Programs are started with posix_spawn, not fork: the test's threads may hold locks
// that a forked child would need.
#pragma once

#include "support/ReadFile.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Varkon::QUILApi::Testing {

/// Standard output of the shell command `command`, and its exit status.
inline std::pair<std::string, int> RunCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {"", -1};
    }
    char buffer[4096];
    std::size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, count);
    }
    return {output, pclose(pipe)};
}

/// A program running in the background, its standard output and error going to the files
/// `outputBase`.out and `outputBase`.err and its input from /dev/null; killed when destroyed
/// while it runs. A `program` without a slash is looked up in PATH.
class BackgroundProcess {
public:
    BackgroundProcess(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& outputBase,
                      const std::vector<std::string>& environment = {})
        : outputBase(outputBase) {
        std::vector<std::string> words{program};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> variables = environment;
        for (char** inherited = environ; *inherited != nullptr; ++inherited) {
            const std::string variable = *inherited;
            const std::string name = variable.substr(0, variable.find('=') + 1);
            bool given = false;
            for (const auto& other : environment) {
                given = given || other.compare(0, name.size(), name) == 0;
            }
            if (!given) {
                variables.push_back(variable);
            }
        }
        std::vector<char*> envp;
        for (auto& variable : variables) {
            envp.push_back(variable.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (outputBase + ".out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (outputBase + ".err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
            pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~BackgroundProcess() {
        if (Running()) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    bool Running() const { return pid > 0 && !exited; }
    /// Whether Wait killed it at its deadline.
    bool TimedOut() const { return timedOut; }
    void Signal(int signal) const {
        if (Running()) {
            kill(pid, signal);
        }
    }

    /// The exit status once it ended within `limit`; -1 when it was killed at the deadline,
    /// ended by a signal or never started.
    int Wait(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        if (!Running()) {
            return pid > 0 ? status : -1;
        }
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int raw = 0;
        while (waitpid(pid, &raw, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &raw, 0);
                exited = true;
                timedOut = true;
                return status = -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        exited = true;
        return status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    std::string Out() const { return ReadFile(outputBase + ".out"); }
    std::string Err() const { return ReadFile(outputBase + ".err"); }

private:
    std::string outputBase;
    pid_t pid = -1;
    bool exited = false;
    bool timedOut = false;
    int status = -1;
};

struct ProgramRun {
    int status = -1;  // exit status
    std::string out;
    std::string err;
};

/// Runs `program` with `arguments` and the variables of `environment` ("NAME=value") added to
/// this process's; at most `limitSeconds`, then it is killed (status 124).
inline ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                             int limitSeconds = 60,
                             const std::vector<std::string>& environment = {}) {
    static int counter = 0;
    const std::string base =
        "/tmp/quil-test-run-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    ProgramRun run;
    {
        BackgroundProcess process(program, arguments, base, environment);
        run.status = process.Wait(std::chrono::seconds(limitSeconds));
        if (process.TimedOut()) {
            run.status = 124;
        }
        run.out = process.Out();
        run.err = process.Err();
    }
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return run;
}

}  // namespace Varkon::QUILApi::Testing
