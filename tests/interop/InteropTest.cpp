// The client against a WebSocket server that nobody on the team wrote.
#include "support/TestAddresses.h"

#include <quil/Quil.h>

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace {

using Varkon::QUILApi::Quil;
using Varkon::QUILApi::Testing::TestAddress;
using Varkon::QUILApi::Testing::TestPort;

// Runs the reference sensor as a child process and reads what it prints.
class ReferenceSensor {
public:
    explicit ReferenceSensor(const std::string& address, const std::string& port = "80") {
        int out[2];
        if (pipe(out) != 0) {
            return;
        }
        pid = fork();
        if (pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            execl(QUIL_PYTHON, QUIL_PYTHON, QUIL_REFERENCE_SENSOR, address.c_str(), port.c_str(),
                  nullptr);
            _exit(127);
        }
        close(out[1]);
        output = out[0];
    }
    ~ReferenceSensor() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (output >= 0) {
            close(output);
        }
    }

    /// Reads lines until one equals `line`; false at the deadline or the end of output.
    bool WaitForLine(const std::string& line, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            for (auto end = buffer.find('\n'); end != std::string::npos; end = buffer.find('\n')) {
                const std::string next = buffer.substr(0, end);
                buffer.erase(0, end + 1);
                lines.push_back(next);
                if (next == line) {
                    return true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd descriptor{output, POLLIN, 0};
            if (left.count() <= 0 || poll(&descriptor, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char chunk[4096];
            const auto count = read(output, chunk, sizeof chunk);
            if (count <= 0) {
                return false;
            }
            buffer.append(chunk, static_cast<std::size_t>(count));
        }
    }

    std::vector<std::string> lines;

private:
    pid_t pid = -1;
    int output = -1;
    std::string buffer;
};

TEST(InteropTest, ConnectGetSetAndDisconnectAgainstAnIndependentServer) {
    // The sensor's WebSocket service on its usual port, and on another one named in the address.
    const std::string port = std::to_string(TestPort(1));
    const struct {
        std::string host;
        std::string port;
        std::string address;
    } cases[] = {
        {TestAddress(), "80", TestAddress()},
        {TestAddress(1), port, TestAddress(1) + ":" + port},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        ReferenceSensor sensor(c.host, c.port);
        ASSERT_TRUE(sensor.WaitForLine("ready", std::chrono::seconds(20)))
            << "the reference sensor did not start (python3-websockets missing?)";

        auto client = Quil::Create(c.address, TestPort());
        EXPECT_EQ(client->GetHost(), c.host);
        client->Connect();
        const auto identity = client->GetSensorMetaData();
        EXPECT_EQ(identity.serialNumber, "4711");
        EXPECT_EQ(identity.aggregateVersion, "1.0.0");
        EXPECT_EQ(identity.controllerVersions, "I:-,M:-,L:-");
        client->Login("admin", "secret");
        client->Disconnect();

        const std::string disconnect = R"({"msgID":4,"msgType":"DISCONNECT","sessionID":42})";
        ASSERT_TRUE(sensor.WaitForLine(disconnect, std::chrono::seconds(10)));
        EXPECT_EQ(
            sensor.lines,
            (std::vector<std::string>{
                "ready",
                R"({"msgID":1,"msgType":"CONNECT","sessionID":0})",
                R"({"msgData":["SensorMetaData"],"msgID":2,"msgType":"GET","sessionID":42})",
                R"({"msgData":["myRole",{"password":"secret","role":"admin"}],"msgID":3,"msgType":"SET","sessionID":42})",
                disconnect,
            }));
    }
}

}  // namespace
