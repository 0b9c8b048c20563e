#pragma once

// Runs the command-line tool as a separate process, as a user would, against sensors on the
// test's own addresses and ports.

#include "support/ReadFile.h"
#include "support/RunCommand.h"
#include "support/TestAddresses.h"

#include <string>
#include <vector>

namespace QuilTool::Testing {

using ToolRun = Varkon::QUILApi::Testing::ProgramRun;
using Varkon::QUILApi::Testing::RunProgram;

using Varkon::QUILApi::Testing::ReadFile;
using Varkon::QUILApi::Testing::TestAddress;
using Varkon::QUILApi::Testing::TestPort;

inline ToolRun RunTool(const std::vector<std::string>& arguments, int limitSeconds = 60,
                       const std::vector<std::string>& environment = {}) {
    return RunProgram(QUIL_TOOL, arguments, limitSeconds, environment);
}

/// The tool started in the background, its standard output and error going to files.
class BackgroundTool : public Varkon::QUILApi::Testing::BackgroundProcess {
public:
    BackgroundTool(const std::vector<std::string>& arguments, const std::string& outputBase)
        : BackgroundProcess(QUIL_TOOL, arguments, outputBase) {}
};

}  // namespace QuilTool::Testing
