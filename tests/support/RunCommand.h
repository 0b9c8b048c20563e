#pragma once

#include <cstdio>
#include <string>
#include <utility>

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

}  // namespace Varkon::QUILApi::Testing
