// The test's standard error into a file while this lives, readable meanwhile: the lines that the
// parts of the gateway running in the test tell.
#pragma once

#include "support/ReadFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <iostream>
#include <string>

namespace Varkon::QuilGateway::Testing {

class StandardError {
public:
    explicit StandardError(std::string path) : path(std::move(path)) {
        std::cerr.flush();
        saved = dup(STDERR_FILENO);
        const int file = open(this->path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(file, STDERR_FILENO);
        close(file);
    }
    ~StandardError() {
        std::cerr.flush();
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
    StandardError(const StandardError&) = delete;
    StandardError& operator=(const StandardError&) = delete;

    std::string Text() const { return Varkon::QUILApi::Testing::ReadFile(path); }

private:
    std::string path;
    int saved = -1;
};

}  // namespace Varkon::QuilGateway::Testing
