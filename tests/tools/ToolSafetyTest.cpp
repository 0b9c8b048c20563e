// The tool at the edges: the sensor is never left changed (signals, a closed output, a refused
// setting during config load), every failure is one line in words, and the exit statuses.
#include "RunTool.h"
#include "TestSensor.h"
#include "support/Wait.h"

#include <quil/sim/VirtualSensor.h>

#include <gtest/gtest.h>

#include <quil/Quil.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <csignal>

namespace QuilTool::Testing {
namespace {

using nlohmann::json;
using Varkon::QUILApi::Sim::VirtualSensor;
using Varkon::QUILApi::Sim::VirtualSensorOptions;
using Varkon::QUILApi::Testing::WaitUntil;

// A virtual sensor on the test's own address and UDP port.
class ToolSafetyTest : public ::testing::Test {
protected:
    void Start() {
        address = TestAddress();
        port = std::to_string(TestPort());
        VirtualSensorOptions options;
        options.address = address;
        options.pointsPerProfile = 32;
        options.profileRate = 500;
        sensor = std::make_unique<VirtualSensor>(options);
        base = "/tmp/quil-tool-safety-" + std::to_string(getpid()) + "-" + port;
    }
    void TearDown() override { std::system(("rm -f " + base + "*").c_str()); }

    ToolRun Tool(std::vector<std::string> arguments, int limitSeconds = 60) {
        arguments.insert(arguments.end(), {"--host", address});
        return RunTool(arguments, limitSeconds, {"QUIL_PASSWORD=maintenance"});
    }

    // The sensor's UDP output settings, which a capture changes for its time.
    json Output() const {
        return {sensor->Read("ProcessInterfaces"), sensor->Read("UDPStreamData")};
    }

    std::string address;
    std::string port;
    std::string base;
    std::unique_ptr<VirtualSensor> sensor;
};

TEST_F(ToolSafetyTest, AnInterruptedCapturePutsTheSensorsOutputBack) {
    const struct {
        int signal;
        const char* name;
    } cases[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
    Start();
    ASSERT_EQ(
        Tool({"set", "udp-stream-data", "enabledDataIDs=[0]", "--role", "maintenance"}).status, 0);
    const json before = Output();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BackgroundTool tool(
            {"stream", "--seconds", "60", "--port", port, "-o", base + ".csv", "--host", address,
             "--role", "maintenance", "--password", "maintenance"},
            base);
        const uint64_t sent = sensor->BlocksSent();
        ASSERT_TRUE(
            WaitUntil([&] { return sensor->BlocksSent() > sent + 20; }, std::chrono::seconds(10)));
        tool.Signal(c.signal);
        EXPECT_EQ(tool.Wait(), 130);
        EXPECT_EQ(tool.Err(), std::string("quil: interrupted by ") + c.name + "\n");
        EXPECT_EQ(Output(), before);
    }
}

TEST_F(ToolSafetyTest, AFailedPutBackIsAFailure) {
    Start();
    BackgroundTool tool(
        {"stream", "--seconds", "60", "--port", port, "-o", base + ".csv", "--host", address,
         "--role", "maintenance", "--password", "maintenance", "--timeout", "2"},
        base);
    const uint64_t sent = sensor->BlocksSent();
    ASSERT_TRUE(
        WaitUntil([&] { return sensor->BlocksSent() > sent + 20; }, std::chrono::seconds(10)));
    Varkon::QUILApi::Sim::FaultRates faults;
    faults.connectionDrop = 1.0;
    sensor->SetFaults(faults);
    tool.Signal(SIGINT);
    EXPECT_EQ(tool.Wait(), 1);
    // The library knows the dropped connection at once, before the tool's own limit.
    EXPECT_EQ(tool.Err(), "quil: could not put the sensor's UDP output back: the sensor at " +
                              address +
                              " did not answer; its UDP output may still be aimed at this host "
                              "(see quil get process-interfaces)\n");
}

TEST_F(ToolSafetyTest, ACaptureWithoutDataSaysWhyAndPutsTheSensorsOutputBack) {
    Start();
    Varkon::QUILApi::Sim::FaultRates faults;
    faults.datagramLoss = 1.0;
    sensor->SetFaults(faults);
    const json before = Output();
    const ToolRun run = Tool(
        {"stream", "--count", "10", "--port", port, "-o", base + ".csv", "--role", "maintenance"});
    EXPECT_EQ(run.status, 1);
    // The likely reasons after two seconds, the failure after five.
    EXPECT_EQ(run.err.rfind("quil: no stream data after 2 s", 0), 0u) << run.err;
    EXPECT_EQ(run.err.substr(run.err.rfind("quil: ")), "quil: no stream data received for 5 s\n");
    EXPECT_EQ(Output(), before);
}

TEST_F(ToolSafetyTest, AClosedOutputEndsTheCaptureAndPutsTheSensorsOutputBack) {
    Start();
    const json before = Output();
    const ToolRun run =
        RunProgram("/bin/bash",
                   {"-c", std::string(QUIL_TOOL) + " stream --seconds 60 --format jsonl --port " +
                              port + " --host " + address + " --role maintenance 2>" + base +
                              ".err | head -c 1000 >/dev/null; "
                              "exit ${PIPESTATUS[0]}"},
                   60, {"QUIL_PASSWORD=maintenance"});
    EXPECT_EQ(run.status, 0);  // the reader has what it wanted: a normal end
    EXPECT_EQ(ReadFile(base + ".err"), "");
    EXPECT_EQ(Output(), before);
}

// Whatever a command writes to standard output, a reader that is already gone ends it as it
// ends a capture: normally, in silence.
TEST_F(ToolSafetyTest, AClosedOutputIsACleanStopForEveryCommand) {
    Start();
    const char* const kClosedPipe =
        "import os, subprocess, sys\n"
        "r, w = os.pipe(); os.close(r)\n"
        "run = subprocess.run(sys.argv[1:], stdout=w, stderr=subprocess.PIPE)\n"
        "print(run.returncode, run.stderr.decode(), end='')";
    const std::vector<std::string> commands[] = {
        {"profile"}, {"profile", "--json"}, {"measure"}, {"image", "-"}, {"get"}};
    for (const auto& command : commands) {
        std::vector<std::string> arguments = {"-c", kClosedPipe, QUIL_TOOL};
        arguments.insert(arguments.end(), command.begin(), command.end());
        arguments.insert(arguments.end(), {"--host", address});
        const ToolRun run = RunProgram("/usr/bin/python3", arguments);
        EXPECT_EQ(run.out, "0 ") << command[0] << run.err;
    }
}

TEST_F(ToolSafetyTest, ConfigLoadPutsBackWhatItWroteWhenTheSensorRefusesALaterSetting) {
    Start();
    const json before = sensor->Read("ProcessInterfaces");
    json changed = before;
    changed["enableModbus"] = true;
    // "operator" may change the process interfaces, but not the start-up setup after them.
    std::ofstream(base + ".json") << json{{"process-interfaces", changed}, {"startup-setup", 2}};
    const ToolRun run =
        Tool({"config", "load", base + ".json", "--role", "operator", "--password", "operator"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "quil: the sensor refused startup-setup = 2: role \"operator\" may not change "
              "\"StartupSetup\"; it needs role \"maintenance\" (give --role maintenance); put "
              "back: process-interfaces\n");
    EXPECT_EQ(sensor->Read("ProcessInterfaces"), before);
    EXPECT_EQ(sensor->Read("StartupSetup").at("numSetup"), 0);
}

TEST_F(ToolSafetyTest, ConfigLoadChecksEveryValueBeforeWritingAny) {
    Start();
    const json before = sensor->Read("LaserPower");
    std::ofstream(base + ".json") << json{{"laser-power", 0.5}, {"exposure-time", 5}};
    const ToolRun run = Tool({"config", "load", base + ".json", "--role", "maintenance"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "quil: " + base +
                           ".json: exposure-time must be a whole number from 10 to 100000 us; "
                           "got \"5\"\n");
    EXPECT_EQ(sensor->Read("LaserPower"), before);
}

// Each bad input gets one line in words and its exit status; nothing reaches the sensor.
TEST_F(ToolSafetyTest, EveryFailureIsOneLineInWords) {
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string error;
    } cases[] = {
        {{"set", "exposure-time", "500.7", "--role", "maintenance"},
         2,
         "exposure-time must be a whole number from 10 to 100000 us; got \"500.7\""},
        {{"set", "exposure-time", "abc", "--role", "maintenance"},
         2,
         "exposure-time must be a whole number from 10 to 100000 us; got \"abc\""},
        {{"set", "exposure-time", "5", "--role", "maintenance"},
         2,
         "exposure-time must be a whole number from 10 to 100000 us; got \"5\""},
        {{"set", "laser-power", "2"}, 2, "laser-power must be a number from 0.05 to 1; got \"2\""},
        {{"set", "trigger", "triggerMode=9"},
         2,
         "trigger.triggerMode must be one of 0 (Continuous), 1 (Software), 2 (Encoder), 3 "
         "(External input); got \"9\""},
        {{"set", "trigger", "triggerMode=2"},
         2,
         "trigger.modeOption must be one of 1 (Forward), 2 (Both directions) for triggerMode 2 "
         "(Encoder); got \"0\""},
        {{"set", "trigger", "speed=3"},
         2,
         "trigger has no member \"speed\" (members: encoderSteps, modeOption, triggerMode, "
         "triggerTime)"},
        {{"set", "resampling", "enabled=maybe"},
         2,
         "resampling.enabled must be true or false; got \"maybe\""},
        {{"set", "udp-stream-data", "enabledDataIDs=[1,7]"},
         2,
         "udp-stream-data.enabledDataIDs must be a list such as [1, 2] of distinct values from 0 "
         "(Measurement values), 1 (Profile: z, x), 2 (Profile: z, brightness), 3 (Profile: z, x, "
         "brightness); got \"[1,7]\""},
        {{"set", "trigger", "triggerMode=sometimes", "--role", "maintenance"},
         2,
         "trigger.triggerMode must be one of 0 (Continuous), 1 (Software), 2 (Encoder), 3 "
         "(External input); got \"sometimes\""},
        {{"set", "active-setup", "1"}, 2, "active-setup is changed with `quil setup activate N`"},
        {{"setup", "store", "7", "--role", "maintenance"},
         2,
         "the setup number must be a whole number from 0 to 3; got \"7\""},
        {{"set", "network", "staticIP=192.0.2.98", "--role", "maintenance"},
         2,
         "set network can make the sensor unreachable at " + TestAddress() +
             "; confirm with --yes"},
        {{"set", "exposure-time", "800"},
         1,
         "cannot set exposure-time: role \"observer\" may not change \"ExposureTime\"; it needs "
         "role \"maintenance\" (give --role maintenance)"},
        {{"login", "maintenance", "--password", "guess"},
         1,
         "wrong password for role \"maintenance\""},
        {{"setup", "reset", "--role", "maintenance"},
         2,
         "setup reset changes every setting of the sensor; confirm with --yes"},
        {{"plot", "heightmap", "map.jpg"},
         2,
         "cannot write map.jpg: unsupported image type \".jpg\" (use .png or .svg for a picture "
         "with axes, .pgm for the bare heights)"},
        {{"image", "camera.jpg"},
         2,
         "cannot write camera.jpg: unsupported image type \".jpg\" (use .pgm or .png, or - for "
         "PGM on standard output)"},
        {{"stream", "--count", "1", "--data-ids", "7", "--port", std::to_string(TestPort()),
          "--role", "maintenance"},
         2,
         "--data-ids must be a list such as [1, 2] of distinct values from 0 (Measurement "
         "values), 1 (Profile: z, x), 2 (Profile: z, brightness), 3 (Profile: z, x, brightness); "
         "got \"[7]\""},
        {{"login", "admin", "--password", "admin"},
         1,
         "the sensor knows no role \"admin\"; the roles are observer, operator and maintenance"},
        {{"backup", "/tmp/quil-backup-never-written", "--setup", "9"},
         2,
         "the setup number must be a whole number from 0 to 3; got \"9\""},
        {{"restore", "/nonexistent/settings.txt", "--yes", "--role", "maintenance"},
         1,
         "cannot read /nonexistent/settings.txt: No such file or directory"},
        {{"image", "/nonexistent/image.pgm"},
         1,
         "cannot write /nonexistent/image.pgm: No such file or directory"},
        {{"info", "--timeout", "0"},
         2,
         "--timeout: the time limit must be a number of seconds above 0; got \"0\"; see quil "
         "info --help"},
        {{"stream", "--count", "1", "--port", std::to_string(TestPort(1)), "--role", "maintenance"},
         1,
         "cannot receive the stream on local UDP port " + std::to_string(TestPort(1)) +
             ": another program uses it; choose another with --port"},
        {{"frobnicate"}, 2, "unknown command \"frobnicate\"; see quil --help"},
        {{"set"}, 2, "name is required; see quil set --help"},
    };
    Start();
    // Holds the port one of the cases asks for.
    boost::asio::io_context io;
    boost::asio::ip::udp::socket taken(
        io, boost::asio::ip::udp::endpoint(boost::asio::ip::udp::v4(), TestPort(1)));
    const json before = {sensor->Read("ExposureTime"), sensor->Read("Network")};
    for (const auto& c : cases) {
        const ToolRun run = Tool(c.arguments);
        SCOPED_TRACE(c.arguments.front() + " " + (c.arguments.size() > 1 ? c.arguments[1] : ""));
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, "quil: " + c.error + "\n");
    }
    EXPECT_EQ(json({sensor->Read("ExposureTime"), sensor->Read("Network")}), before);
}

TEST_F(ToolSafetyTest, ARoleHeldElsewhereIsNamedWithItsHolder) {
    Start();
    auto holder = Varkon::QUILApi::Quil::Create(address, 0);
    holder->Connect();
    holder->Login("maintenance", "maintenance");
    const ToolRun run = Tool({"get", "exposure-time", "--role", "maintenance"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("quil: role \"maintenance\" is held by another session (session ", 0),
              0u)
        << run.err;
    EXPECT_NE(run.err.find("); it must log out first\n"), std::string::npos) << run.err;
    holder->Disconnect();
}

TEST_F(ToolSafetyTest, ActivatingASetupAsksBeforeDiscardingUnstoredChanges) {
    Start();
    ASSERT_EQ(Tool({"set", "exposure-time", "900", "--role", "maintenance"}).status, 0);
    ToolRun run = Tool({"setup", "activate", "1", "--role", "maintenance"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err,
              "quil: setup 0 has changes that are not stored (keep them with `quil setup store "
              "0`), activating setup 1 discards them; confirm with --yes\n");
    EXPECT_EQ(sensor->Read("ExposureTime").at("ExposureTime"), 900);
    run = Tool({"setup", "activate", "1", "--yes", "--role", "maintenance"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(sensor->Read("ActiveSetup").at("active"), 1);
}

// On a terminal, a destructive command asks; only "y" or "yes" lets it go ahead.
TEST_F(ToolSafetyTest, ResetAsksOnATerminal) {
    const struct {
        const char* answer;
        int status;
        int exposureAfter;
    } cases[] = {{"y", 0, 500}, {"n", 2, 900}, {"", 2, 900}};
    Start();
    const std::string terminal =
        "import os, pty, sys\n"
        "pid, fd = pty.fork()\n"
        "if pid == 0:\n"
        "    os.execv(sys.argv[1], sys.argv[1:])\n"
        "asked = b''\n"
        "while not asked.endswith(b'[y/N] '):\n"
        "    asked += os.read(fd, 100)\n"
        "os.write(fd, os.environ['ANSWER'].encode() + b'\\n')\n"
        "print(asked.decode().strip())\n"
        "sys.exit(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        ASSERT_EQ(Tool({"set", "exposure-time", "900", "--role", "maintenance"}).status, 0);
        const ToolRun run =
            RunProgram("/usr/bin/python3",
                       {"-c", terminal, QUIL_TOOL, "setup", "reset", "--host", address, "--role",
                        "maintenance"},
                       30, {"QUIL_PASSWORD=maintenance", std::string("ANSWER=") + c.answer});
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_EQ(run.out, "Reset every setting of the sensor at " + address + "? [y/N]\n");
        EXPECT_EQ(sensor->Read("ExposureTime").at("ExposureTime"), c.exposureAfter);
    }
}

TEST_F(ToolSafetyTest, ResetKeepsTheNetworkAddress) {
    Start();
    ASSERT_EQ(
        Tool({"set", "network", "staticIP=192.0.2.99", "--yes", "--role", "maintenance"}).status,
        0);
    ASSERT_EQ(Tool({"set", "exposure-time", "900", "--role", "maintenance"}).status, 0);
    const ToolRun run = Tool({"setup", "reset", "--yes", "--role", "maintenance"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(sensor->Read("Network").at("staticIP"), "192.0.2.99");
    EXPECT_EQ(sensor->Read("ExposureTime").at("ExposureTime"), 500);
}

TEST_F(ToolSafetyTest, PasswordsComeFromTheEnvironmentAFileOrStandardInput) {
    Start();
    std::ofstream(base + ".secret") << "maintenance\n";
    const std::vector<std::string> login = {"login", "maintenance", "--host", address};
    auto withFile = login;
    withFile.insert(withFile.end(), {"--password-file", base + ".secret"});
    EXPECT_EQ(RunTool(login, 60, {"QUIL_PASSWORD=maintenance"}).status, 0);
    EXPECT_EQ(RunTool(withFile).status, 0);
    const ToolRun fromInput =
        RunProgram("/bin/sh", {"-c", "echo maintenance | " + std::string(QUIL_TOOL) +
                                         " login maintenance --password-file - --host " + address});
    EXPECT_EQ(fromInput.status, 0) << fromInput.err;
    EXPECT_EQ(RunTool({"info"}, 60, {"QUIL_HOST=" + address}).status, 0);
    const ToolRun none = RunTool(login);  // and standard input is no terminal
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err,
              "quil: no password was given for role \"maintenance\"; give it with "
              "--password-file, QUIL_PASSWORD or --password\n");
}

// The environment points at the sensor, the command line at an address where nothing listens:
// every command must go where the command line says, and never change the sensor. QUIL_PORT is
// not a port at all, so a command that took it over --port would stop with a usage error.
TEST_F(ToolSafetyTest, TheCommandLineWinsOverTheEnvironment) {
    Start();
    const std::string nowhere = TestAddress(1);
    const std::vector<std::vector<std::string>> commands = {
        {"info"},
        {"get", "exposure-time"},
        {"set", "exposure-time", "650", "--role", "maintenance", "--password", "maintenance"},
        {"setup", "list"},
        {"config", "save", base + ".config.json"},
        {"backup", base + ".backup.json"},
        {"measure"},
        {"stream", "--count", "1", "--port", port, "-o", base + ".csv"},
        {"record", base + ".pcap", "--count", "1", "--port", port},
        {"plot", "heightmap", base + ".png", "--count", "1", "--port", port},
    };
    for (auto arguments : commands) {
        SCOPED_TRACE(arguments.front());
        arguments.insert(arguments.end(), {"--host", nowhere, "--timeout", "2"});
        const ToolRun run =
            RunTool(arguments, 60, {"QUIL_HOST=" + address, "QUIL_PORT=not-a-port"});
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_NE(run.err.find(nowhere), std::string::npos) << run.err;
    }
    EXPECT_EQ(sensor->Read("ExposureTime").at("ExposureTime"), 500);
}

TEST(ToolTimeoutTest, ASilentSensorIsNamedWithinTheTimeout) {
    Varkon::QUILApi::Sim::TestSensor::Options options;
    options.answerHandshake = false;
    Varkon::QUILApi::Sim::TestSensor silent(TestAddress(), options);
    const auto start = std::chrono::steady_clock::now();
    const ToolRun run = RunTool({"info", "--host", TestAddress(), "--timeout", "0.5"}, 20);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "quil: the sensor at " + TestAddress() + " did not answer within 0.5 s\n");
}

}  // namespace
}  // namespace QuilTool::Testing
