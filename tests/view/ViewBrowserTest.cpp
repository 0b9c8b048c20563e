// The view's page in Debian's chromium, driven by view_browser_test.js (playwright-core) against
// `quil view`: each test hands the script its own addresses and ports and checks its verdict.
#include "support/TestAddresses.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

using Varkon::QUILApi::Testing::TestAddress;
using Varkon::QUILApi::Testing::TestPort;

// Runs the script's `scenario`; its output goes into the test's log.
void RunScenario(const std::string& scenario) {
    const std::string artefacts = std::string(QUIL_VIEW_ARTEFACTS) + "/" + scenario;
    std::filesystem::remove_all(artefacts);
    std::filesystem::create_directories(artefacts);
    const std::string command = std::string(QUIL_NODE) + " " + QUIL_VIEW_SCRIPT + " " + scenario +
                                " --tool " + QUIL_TOOL + " --address " + TestAddress() +
                                " --udp-port " + std::to_string(TestPort(0)) + " --listen-port " +
                                std::to_string(TestPort(1)) + " --sensor-port " +
                                std::to_string(TestPort(2)) + " --second-port " +
                                std::to_string(TestPort(3)) + " --out " + artefacts + " 2>&1";
    FILE* output = popen(command.c_str(), "r");
    ASSERT_NE(output, nullptr);
    std::string log;
    std::array<char, 4096> chunk{};
    while (fgets(chunk.data(), chunk.size(), output) != nullptr) {
        log += chunk.data();
    }
    const int status = pclose(output);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
    std::printf("%s", log.c_str());
}

TEST(ViewBrowserTest, ShowsTheVirtualSensorLive) {
    RunScenario("live");
}

TEST(ViewBrowserTest, RecordsAndShowsTheRecording) {
    RunScenario("recording");
}

}  // namespace
