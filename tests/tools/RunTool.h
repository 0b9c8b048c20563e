#pragma once

// Runs the command-line tool as a separate process, as a user would.

#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
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

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

/// Runs `program` with `arguments`; at most `limitSeconds`, then it is killed (status 124).
inline ToolRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      int limitSeconds = 60) {
    static int counter = 0;
    const std::string base =
        "/tmp/quil-tool-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    std::string command = "timeout " + std::to_string(limitSeconds) + " " + Quoted(program);
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

inline ToolRun RunTool(const std::vector<std::string>& arguments, int limitSeconds = 60) {
    return RunProgram(QUIL_TOOL, arguments, limitSeconds);
}

}  // namespace QuilTool::Testing
