// What the tool tells about itself: every example of its help runs against a virtual sensor,
// and the bash completion offers its commands and options, both taken from the help.
#include "RunTool.h"

#include <quil/sim/VirtualSensor.h>

#include <gtest/gtest.h>

#include <sstream>

namespace QuilTool::Testing {
namespace {

// The lines under "Example:" or "Examples:" of a help text.
std::vector<std::string> Examples(const std::string& help) {
    std::vector<std::string> examples;
    std::istringstream lines(help);
    bool inExamples = false;
    for (std::string line; std::getline(lines, line);) {
        if (line == "Example:" || line == "Examples:") {
            inExamples = true;
        } else if (inExamples && line.rfind("  ", 0) == 0) {
            examples.push_back(line.substr(2));
        } else {
            inExamples = false;
        }
    }
    return examples;
}

std::string Directory(const std::string& path) {
    return path.substr(0, path.find_last_of('/'));
}

TEST(ToolHelpTest, EveryExampleRunsAgainstAVirtualSensor) {
    const std::string address = TestAddress();
    Varkon::QUILApi::Sim::VirtualSensorOptions options;
    options.address = address;
    options.pointsPerProfile = 64;
    options.profileRate = 1000;
    Varkon::QUILApi::Sim::VirtualSensor sensor(options);
    const std::string folder = "/tmp/quil-tool-examples-" + std::to_string(getpid());
    std::system(("rm -rf " + folder + " && mkdir -p " + folder).c_str());

    // In an order in which each example finds what it needs (a saved file before its load).
    const char* commands[] = {"",
                              "info",
                              "get",
                              "set",
                              "config",
                              "config save",
                              "config load",
                              "backup",
                              "restore",
                              "setup",
                              "setup list",
                              "setup store",
                              "setup activate",
                              "setup reset",
                              "login",
                              "profile",
                              "image",
                              "measure",
                              "record",
                              "stream",
                              "plot",
                              "plot profile",
                              "plot heightmap",
                              "replay",
                              "demo"};
    std::size_t run = 0;
    for (const char* command : commands) {
        std::vector<std::string> arguments;
        std::istringstream words(command);
        for (std::string word; words >> word;) {
            arguments.push_back(word);
        }
        arguments.push_back("--help");
        if (std::string(command) == "stream") {
            // A black box kept by the gateway: a folder of pieces of the recording made before.
            std::system(("mkdir -p " + folder + "/box/kept/jam-0812 && cp " + folder +
                         "/line.pcap " + folder + "/box/kept/jam-0812/00000001.pcap")
                            .c_str());
        }
        const ToolRun help = RunTool(arguments);
        ASSERT_EQ(help.status, 0) << command;
        const auto examples = Examples(help.out);
        EXPECT_FALSE(examples.empty()) << "no example in the help of \"" << command << "\"";
        for (std::string example : examples) {
            SCOPED_TRACE(example);
            // The demo starts its own virtual sensor: on a test address of its own.
            const auto demo = example.find("quil demo");
            if (demo != std::string::npos) {
                example.insert(demo + 9, " --address " + TestAddress(1) + " --port " +
                                             std::to_string(TestPort(1)));
            }
            const ToolRun result = RunProgram(
                "/bin/bash", {"-c", "cd " + folder + " && " + example}, 60,
                {"PATH=" + Directory(QUIL_TOOL) + ":/usr/bin:/bin", "QUIL_HOST=" + address,
                 "QUIL_PASSWORD=maintenance", "QUIL_PORT=" + std::to_string(TestPort())});
            EXPECT_EQ(result.status, 0) << result.out << result.err;
            ++run;
        }
    }
    EXPECT_GE(run, 25u);
    std::system(("rm -rf " + folder).c_str());
}

TEST(ToolHelpTest, CompletionOffersCommandsAndOptionsFromTheHelp) {
    const struct {
        std::string line;  // what was typed, the word to complete last
        std::vector<std::string> offered;
    } cases[] = {
        {"quil st", {"stream"}},
        {"quil setup a", {"activate"}},
        {"quil stream --al", {"--allow-loss"}},
        {"quil plot heightmap --col", {"--colours"}},
        {"quil stream --format j", {"jsonl"}},
        {"quil get exp", {"exposure-time"}},
        {"quil set fov", {"fov", "fov-distance"}},
        {"quil set --host 127.0.0.1 exp", {"exposure-time"}},
        {"quil get --json --timeout 3 exp", {"exposure-time"}},
        {"quil stream --format p", {"ply", "pcd"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string script =
            "source /usr/share/bash-completion/bash_completion; source " +
            std::string(QUIL_TOOL_COMPLETION) + "; PATH=" + Directory(QUIL_TOOL) +
            ":$PATH; COMP_LINE='" + c.line +
            "'; COMP_POINT=${#COMP_LINE}; read -ra COMP_WORDS "
            "<<< \"$COMP_LINE\"; COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _quil quil "
            "\"${COMP_WORDS[-1]}\" \"${COMP_WORDS[-2]}\"; printf '%s\\n' \"${COMPREPLY[@]}\"";
        const ToolRun run = RunProgram("/bin/bash", {"-c", script});
        std::string expected;
        for (const auto& word : c.offered) {
            expected += word + "\n";
        }
        EXPECT_EQ(run.out, expected) << run.err;
    }
}

}  // namespace
}  // namespace QuilTool::Testing
