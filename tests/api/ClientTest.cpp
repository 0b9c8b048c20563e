// The client through its public interface, against the in-process test sensor.
#include "TestSensor.h"
#include "support/ExpectThrow.h"
#include "support/Wait.h"

#include <quil/Quil.h>

#include <gtest/gtest.h>

#include "support/TestAddresses.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace Varkon::QUILApi {
namespace {

using nlohmann::json;
using Sim::Connection;
using Sim::TestSensor;
using std::chrono::milliseconds;
using Testing::Throws;

const json kIdentity = {{"vendorName", "V"}, {"sensorType", "T"}, {"serialNumber", "S"}};

std::size_t CountEntries(const char* directory) {
    std::size_t count = 0;
    if (DIR* dir = opendir(directory)) {
        while (readdir(dir) != nullptr) {
            ++count;
        }
        closedir(dir);
    }
    return count;
}

TEST(ClientTest, SessionRequestsAreExact) {
    TestSensor sensor(Testing::TestAddress());
    auto client = Quil::Create(Testing::TestAddress(), Testing::TestPort());
    client->Connect();
    client->Login("admin", "pw");
    client->Login("service", "");
    client->Logout();
    client->Disconnect();
    EXPECT_EQ(
        sensor.Received(),
        (std::vector<std::string>{
            R"({"msgID":1,"msgType":"CONNECT","sessionID":0})",
            R"({"msgData":["myRole",{"password":"pw","role":"admin"}],"msgID":2,"msgType":"SET","sessionID":17})",
            R"({"msgData":["myRole",{"role":"service"}],"msgID":3,"msgType":"SET","sessionID":17})",
            R"({"msgData":["myRole",{"role":"observer"}],"msgID":4,"msgType":"SET","sessionID":17})",
            R"({"msgID":5,"msgType":"DISCONNECT","sessionID":17})",
        }));
    EXPECT_TRUE(sensor.WaitForOpenConnections(0, milliseconds(5000)));
}

TEST(ClientTest, RoleErrorsCarryTheirTexts) {
    TestSensor sensor(Testing::TestAddress());
    auto client = Quil::Create(Testing::TestAddress(), Testing::TestPort());
    client->Connect();
    sensor.SetError("myRole", "PasswordWrong");
    EXPECT_TRUE(Throws<std::domain_error>(
        [&] { client->Login("admin", "bad"); },
        "SET returned an error: You password was wrong for role <admin>"));
    sensor.SetError("myRole", "RoleTaken", {{"takenBy", Testing::TestAddress(1)}});
    EXPECT_TRUE(Throws<std::domain_error>(
        [&] { client->Login("admin", "pw"); },
        "SET returned an error: Your role is already used by <" + Testing::TestAddress(1) + ">"));
    sensor.SetError("myRole", "InvalidArgument");
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { client->Logout(); },
        "SET returned an error: Invalid parameters passed for resource <myRole>"));
    sensor.SetError("SensorMetaData", "Forbidden", {{"NeededRole", "admin"}});
    EXPECT_TRUE(
        Throws<std::domain_error>([&] { client->GetSensorMetaData(); },
                                  "GET returned an error: Your role is not allowed to access "
                                  "resource <SensorMetaData>, you need role <admin>."));
}

TEST(ClientTest, DisconnectWithoutConnectSendsNothing) {
    TestSensor sensor(Testing::TestAddress());
    auto client = Quil::Create(Testing::TestAddress(), Testing::TestPort());
    EXPECT_NO_THROW(client->Disconnect());
    EXPECT_TRUE(sensor.Handshakes().empty());
    EXPECT_TRUE(Throws<std::runtime_error>(
        [&] { client->GetSensorMetaData(); },
        "No matching response found to request with sessionID: 0 msgID: 2"));
}

TEST(ClientTest, ConnectTwiceKeepsTheConnection) {
    TestSensor sensor(Testing::TestAddress());
    auto client = Quil::Create(Testing::TestAddress(), Testing::TestPort());
    client->Connect();
    client->Connect();
    EXPECT_EQ(sensor.Handshakes().size(), 1u);
    ASSERT_EQ(sensor.Received().size(), 2u);
    EXPECT_EQ(sensor.Received()[1], R"({"msgID":2,"msgType":"CONNECT","sessionID":17})");
}

TEST(ClientTest, UnansweredConnectFailsAfterItsLimitAndCanBeRepeated) {
    TestSensor sensor(Testing::TestAddress());
    sensor.SetHandler([](Connection&, const std::string&) {});
    auto client = Quil::Create(Testing::TestAddress(), Testing::TestPort());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Throws<std::runtime_error>(
        [&] { client->Connect(); },
        "No matching response found to request with sessionID: 0 msgID: 1"));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, milliseconds(500));
    EXPECT_LT(elapsed, milliseconds(5000));

    sensor.SetHandler([&sensor](Connection& connection, const std::string& text) {
        sensor.AnswerByDefault(connection, text);
    });
    client->Connect();
    EXPECT_EQ(sensor.Handshakes().size(), 1u);
}

TEST(ClientTest, UnknownHostFailsOnlyInConnect) {
    auto client = Quil::Create(Testing::TestAddress(), Testing::TestPort());  // nothing listens
    EXPECT_TRUE(Throws<std::runtime_error>([&] { client->Connect(); },
                                           "Could not connect to host " + Testing::TestAddress()));
}

TEST(ClientTest, RecoversFromAClosedConnectionThroughDisconnectAndConnect) {
    TestSensor sensor(Testing::TestAddress());
    sensor.SetResource("SensorMetaData", kIdentity);
    auto client = Quil::Create(Testing::TestAddress(), Testing::TestPort());
    client->Connect();
    sensor.CloseAll();
    ASSERT_TRUE(sensor.WaitForOpenConnections(0, milliseconds(5000)));
    client->Disconnect();
    client->Connect();
    EXPECT_EQ(client->GetSensorMetaData().vendorName, "V");
    EXPECT_EQ(sensor.Handshakes().size(), 2u);
}

TEST(ClientTest, CallersOnSeveralThreadsEachGetTheirOwnReply) {
    TestSensor sensor(Testing::TestAddress());
    sensor.SetResource("SensorMetaData", kIdentity);
    auto client = Quil::Create(Testing::TestAddress(), Testing::TestPort());
    client->Connect();
    std::atomic<int> failures{0};
    auto work = [&](const std::string& role) {
        for (int i = 0; i < 50; ++i) {
            try {
                client->Login(role, "");
                if (client->GetSensorMetaData().serialNumber != "S") {
                    ++failures;
                }
            } catch (const std::exception&) {
                ++failures;
            }
        }
    };
    std::thread first(work, "a");
    std::thread second(work, "b");
    first.join();
    second.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(ClientTest, DestroyedClientsLeaveNoThreadsOrSocketsBehind) {
    TestSensor sensor(Testing::TestAddress());
    // Warm up whatever the process creates once.
    Quil::Create(Testing::TestAddress(), Testing::TestPort())->Connect();
    ASSERT_TRUE(sensor.WaitForOpenConnections(0, milliseconds(5000)));
    const auto threads = CountEntries("/proc/self/task");
    const auto files = CountEntries("/proc/self/fd");

    for (int i = 0; i < 100; ++i) {
        auto client = Quil::Create(Testing::TestAddress(), Testing::TestPort());
        client->Connect();
    }
    EXPECT_TRUE(sensor.WaitForOpenConnections(0, milliseconds(10000)));
    EXPECT_EQ(CountEntries("/proc/self/task"), threads);
    EXPECT_TRUE(Testing::WaitUntil([&] { return CountEntries("/proc/self/fd") == files; }))
        << CountEntries("/proc/self/fd") << " files open, " << files << " before";
    EXPECT_EQ(sensor.Received().size(), 101u);  // a CONNECT each, nothing more
}

TEST(ClientTest, ProgramsTheProcessStartsInheritNoSocket) {
    TestSensor sensor(Testing::TestAddress());
    auto client = Quil::Create(Testing::TestAddress(), Testing::TestPort());
    client->Connect();
    auto stream = client->GetStream();
    stream->Start();
    ASSERT_TRUE(sensor.WaitForOpenConnections(1, milliseconds(5000)));

    std::size_t sockets = 0;
    DIR* dir = opendir("/proc/self/fd");
    ASSERT_NE(dir, nullptr);
    while (const dirent* entry = readdir(dir)) {
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        char target[64] = {};
        if (readlink(path.c_str(), target, sizeof target - 1) > 0 &&
            std::string(target).rfind("socket:", 0) == 0) {
            ++sockets;
            const int fd = std::stoi(entry->d_name);
            EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << "socket " << fd << " is inherited";
        }
    }
    closedir(dir);
    EXPECT_GE(sockets, 4u);  // the sensor's listener and its end, the client's, the stream's
}

}  // namespace
}  // namespace Varkon::QUILApi
