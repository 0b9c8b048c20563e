// The command-line tool as users run it: output, files and exit status.
#include "RunTool.h"
#include "TestSensor.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

namespace QuilTool::Testing {
namespace {

using nlohmann::json;
using Varkon::QUILApi::Sim::TestSensor;

TEST(ToolTest, AFailureIsOneLineOnStandardErrorAndStatusOne) {
    // Nothing listens there: the line names the address and port tried, and why it failed.
    const std::string port = std::to_string(TestPort());
    const struct {
        std::string host;
        std::string tried;
    } cases[] = {{TestAddress(), TestAddress() + " port 80"},
                 {TestAddress() + ":" + port, TestAddress() + " port " + port}};
    for (const auto& c : cases) {
        const ToolRun run = RunTool({"info", "--host", c.host});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "quil: could not connect to " + c.tried +
                               ": connection refused (nothing accepts connections there; check "
                               "the address and the port)\n");
    }
}

TEST(ToolTest, UnknownSettingsAreRefusedBeforeConnecting) {
    const ToolRun run = RunTool({"get", "colour", "--host", TestAddress()});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("quil: unknown setting \"colour\" (known: exposure-time, ", 0), 0u)
        << run.err;
}

TEST(ToolTest, UsageErrorsShowHowToGetHelp) {
    const ToolRun run = RunTool({"frobnicate"});
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
}

#ifdef QUIL_SIM
// The virtual sensor as a program: on a port other than 80, as an ordinary user runs it, and
// reached there through "host:port"; its version, and a usage error's status.
TEST(ToolTest, TheVirtualSensorServesOnAnotherPort) {
    const ToolRun version = RunProgram(QUIL_SIM, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("quil-sim ", 0), 0u) << version.out;
    const ToolRun wrong = RunProgram(QUIL_SIM, {"--frobnicate"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_EQ(wrong.err.rfind("quil-sim: ", 0), 0u) << wrong.err;

    const std::string port = std::to_string(TestPort());
    const std::string base = "/tmp/quil-tool-sim-" + std::to_string(getpid()) + "-" + port;
    Varkon::QUILApi::Testing::BackgroundProcess sim(
        QUIL_SIM, {"--address", TestAddress(), "--ws-port", port}, base);
    ToolRun info;
    EXPECT_TRUE(Varkon::QUILApi::Testing::WaitUntil(
        [&] {
            info = RunTool({"info", "--host", TestAddress() + ":" + port});
            return info.status == 0;
        },
        std::chrono::seconds(20)))
        << info.err;
    EXPECT_NE(info.out.find("serial:      SIM-000001"), std::string::npos) << info.out;
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
}
#endif

TEST(ToolTest, DiscoverListsTheSensorsOfASubnet) {
    const std::string first = TestAddress(0);
    const std::string network = first.substr(0, first.rfind('.') + 1);
    TestSensor one(TestAddress(0));
    TestSensor other(TestAddress(3));
    for (TestSensor* sensor : {&one, &other}) {
        sensor->SetResource("SensorMetaData",
                            {{"sensorType", "QL-2D 100"},
                             {"serialNumber", "S-" + std::to_string(sensor == &one)},
                             {"vendorName", "Varkon"},
                             {"aggregateVersion", "2.1.0"}});
    }
    const ToolRun run = RunTool({"discover", "--subnet", network + "0/29"});
    EXPECT_EQ(run.status, 0) << run.err;
    const auto row = [](const std::string& address, const std::string& serial) {
        return address + std::string(16 - address.size(), ' ') + "QL-2D 100           " + serial +
               "             2.1.0\n";
    };
    EXPECT_EQ(run.out, "address         type                serial          firmware\n" +
                           row(TestAddress(0), "S-1") + row(TestAddress(3), "S-0"));

    const struct {
        std::string subnet;
        int status;
        std::string err;
    } failures[] = {
        {network + "4/30", 1, "quil: no sensor answered in " + network + "4/30\n"},
        {network + "0/8", 2,
         "quil: the subnet " + network +
             "0/8 is too large to search; give one of at most /20 (4094 addresses)\n"},
        {"sensors", 2,
         "quil: \"sensors\" is no subnet; write it as address/prefix, e.g. 192.168.0.0/24\n"},
    };
    for (const auto& f : failures) {
        const ToolRun failed = RunTool({"discover", "--subnet", f.subnet});
        EXPECT_EQ(failed.status, f.status) << f.subnet;
        EXPECT_EQ(failed.err, f.err);
    }
}

TEST(ToolTest, SetWritesTheValueAndShowsWhatTheSensorHolds) {
    TestSensor sensor(TestAddress());
    sensor.SetResource("ExposureTime", {{"ExposureTime", 100}});
    sensor.SetResource("ExposureTimeMeta", {{"timeUnit", "us"}});
    sensor.SetResource("ExposureTimeLimits", {{"minTime", 10}, {"maxTime", 100000}});
    const ToolRun run = RunTool({"set", "exposure-time", "500", "--host", TestAddress()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "exposure-time = 500\n");
    EXPECT_EQ(sensor.GetResource("ExposureTime"), json({{"ExposureTime", 500}}));
}

// The check reads the limits it needs and nothing else: not the unit (only words of a refusal
// need it) and not the current value (only single members that change need it).
TEST(ToolTest, SetAsksTheSensorOnlyWhatTheCheckNeeds) {
    TestSensor sensor(TestAddress());
    sensor.SetResource("ExposureTime", {{"ExposureTime", 100}});
    sensor.SetResource("ExposureTimeMeta", {{"timeUnit", "us"}});
    sensor.SetResource("ExposureTimeLimits", {{"minTime", 10}, {"maxTime", 100000}});
    ASSERT_EQ(RunTool({"set", "exposure-time", "500", "--host", TestAddress()}).status, 0);
    std::vector<std::string> requests;
    for (const auto& text : sensor.Received()) {
        const json request = json::parse(text);
        if (request["msgType"] != "CONNECT") {
            requests.push_back(request["msgType"].get<std::string>() + " " +
                               request["msgData"][0].get<std::string>());
        }
    }
    EXPECT_EQ(requests, (std::vector<std::string>{"GET ExposureTimeLimits", "SET ExposureTime",
                                                  "GET ExposureTime"}));
}

TEST(ToolTest, SetChangesSingleMembersOfARecord) {
    TestSensor sensor(TestAddress());
    sensor.SetResource(
        "Trigger",
        {{"triggerMode", 1}, {"modeOption", 0}, {"triggerTime", 100}, {"encoderSteps", 0}});
    sensor.SetResource("TriggerLimits",
                       {{"minTime", 100}, {"maxTime", 10000}, {"minSteps", 0}, {"maxSteps", 10}});
    sensor.SetResource("TriggerMeta", json::parse(R"({"timeUnit":"us","options":[],
        "triggerModes":[{"id":1,"name":"Software","options":[0]},
                        {"id":2,"name":"Encoder","options":[0]}]})"));
    const ToolRun run =
        RunTool({"set", "trigger", "triggerMode=2", "triggerTime=1000", "--host", TestAddress()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(
        sensor.GetResource("Trigger"),
        json({{"triggerMode", 2}, {"modeOption", 0}, {"triggerTime", 1000}, {"encoderSteps", 0}}));
}

TEST(ToolTest, GetShowsValueUnitAndLimits) {
    TestSensor sensor(TestAddress());
    sensor.SetResource("ExposureTime", {{"ExposureTime", 120}});
    sensor.SetResource("ExposureTimeMeta", {{"timeUnit", "us"}});
    sensor.SetResource("ExposureTimeLimits", {{"minTime", 10}, {"maxTime", 100000}});
    ToolRun run = RunTool({"get", "exposure-time", "--host", TestAddress()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "exposure-time = 120 us\n  limits: {\"maxTime\":100000,\"minTime\":10}\n");
    run = RunTool({"get", "exposure-time", "--json", "--host", TestAddress()});
    EXPECT_EQ(json::parse(run.out), json::parse(R"({"name":"exposure-time","value":120,"unit":"us",
                              "limits":{"minTime":10,"maxTime":100000},"schema":1})"));
}

TEST(ToolTest, GetOfAllShowsWhatItCanAndNamesWhatItCannot) {
    TestSensor sensor(TestAddress());  // knows only the exposure time
    sensor.SetResource("ExposureTime", {{"ExposureTime", 120}});
    sensor.SetResource("ExposureTimeMeta", {{"timeUnit", "us"}});
    sensor.SetResource("ExposureTimeLimits", {{"minTime", 10}, {"maxTime", 100000}});
    const ToolRun run = RunTool({"get", "--host", TestAddress()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.rfind("exposure-time = 120 us\n", 0), 0u) << run.out;
    EXPECT_NE(run.err.find("quil: laser-power: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("quil: 16 settings could not be read\n"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace QuilTool::Testing
