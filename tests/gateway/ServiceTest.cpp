// quil-gateway as a service: systemd's notifications (READY=1 once it runs, WATCHDOG=1 within the
// watchdog interval, a STATUS= line, STOPPING=1 on SIGTERM) on a NOTIFY_SOCKET the test owns, and
// its health and metrics over HTTP.
#include "Http.h"
#include "TempDirectory.h"
#include "support/RunCommand.h"
#include "support/TestAddresses.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <regex>
#include <sstream>

namespace Varkon::QuilGateway::Testing {
namespace {

using Varkon::QUILApi::Testing::BackgroundProcess;
using Varkon::QUILApi::Testing::TestAddress;
using Varkon::QUILApi::Testing::TestPort;
using Varkon::QUILApi::Testing::WaitUntil;

// The notification socket systemd would hold.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : path(path) {
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() { close(fd); }

    bool Bound() const { return bound; }
    /// The next datagram within `limit`; empty at the deadline.
    std::string Next(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(limit.count())) != 1) {
            return "";
        }
        char buffer[4096];
        const ssize_t size = recv(fd, buffer, sizeof buffer, 0);
        return size > 0 ? std::string(buffer, static_cast<std::size_t>(size)) : "";
    }
    /// The next datagram that starts with `prefix`, within `limit`.
    std::string NextStartingWith(const std::string& prefix,
                                 std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string message = Next(std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()));
            if (message.rfind(prefix, 0) == 0) {
                return message;
            }
        }
        return "";
    }

private:
    std::string path;
    int fd;
    bool bound = false;
};

TEST(ServiceTest, TellsSystemdHowItIsAndAnswersHealthAndMetrics) {
    TempDirectory directory;
    NotifySocket notify(directory.Path("notify"));
    ASSERT_TRUE(notify.Bound());
    directory.Write("pw", "operator");
    // Nothing listens at the broker's or the sensor's address: the gateway runs and waits.
    const std::string config = directory.Write(
        "gateway.yaml",
        "broker:\n  host: " + TestAddress(0) + "\n  port: " + std::to_string(TestPort(0)) +
            "\nhttp_port: " + std::to_string(TestPort(2)) +
            "\ngroup_id: g\nnode_id: n\nsensors:\n  - name: s\n    address: " + TestAddress(1) +
            "\n    udp_port: " + std::to_string(TestPort(1)) +
            "\n    password_file: " + directory.Path("pw") + "\n");
    BackgroundProcess gateway(
        QUIL_GATEWAY, {config}, directory.Path("gateway"),
        {"NOTIFY_SOCKET=" + directory.Path("notify"), "WATCHDOG_USEC=200000"});
    EXPECT_EQ(notify.NextStartingWith("READY=1"),
              "READY=1\nSTATUS=0 of 1 sensors streaming; broker not connected");
    EXPECT_EQ(notify.NextStartingWith("WATCHDOG=1", std::chrono::seconds(2)),
              "WATCHDOG=1\nSTATUS=0 of 1 sensors streaming; broker not connected");
    const struct {
        const char* method;
        const char* target;
        const char* status;
        std::vector<std::string> lines;
        std::vector<std::string> absent = {};
    } requests[] = {
        {"GET", "/healthz", "HTTP/1.1 200 OK", {"ok"}},
        {"GET", "/readyz", "HTTP/1.1 503 Service Unavailable", {"not ready"}},
        {"GET",
         "/metrics",
         "HTTP/1.1 200 OK",
         {"# TYPE quil_profiles_received_total counter",
          "quil_profiles_received_total{sensor=\"s\"} 0", "quil_sensor_connected{sensor=\"s\"} 0",
          "quil_sensor_reconnections_total{sensor=\"s\"} 0", "quil_broker_connected 0",
          "quil_publish_dropped_total 0", "quil_publish_queue_messages 0",
          "quil_http_requests_refused_total 0"},
         // Nothing for what the sensor does not have or has not told yet.
         {"quil_black_box_bytes{", "quil_clock_offset_seconds{"}},
        {"GET", "/", "HTTP/1.1 200 OK", {"<!doctype html>"}},
        {"GET", "/nothing", "HTTP/1.1 404 Not Found", {"not found"}},
        {"POST", "/healthz", "HTTP/1.1 405 Method Not Allowed", {"only GET"}},
        {"GET", "/blackbox/s?name=a", "HTTP/1.1 405 Method Not Allowed", {"only POST"}},
        {"POST", "/blackbox/s?name=a", "HTTP/1.1 404 Not Found", {"sensor s has no black box"}},
        {"POST", "/blackbox/t?name=a", "HTTP/1.1 404 Not Found", {"there is no sensor \"t\""}},
    };
    for (const auto& r : requests) {
        SCOPED_TRACE(r.target);
        const std::string answer = HttpRequest(TestPort(2), r.method, r.target);
        EXPECT_EQ(answer.substr(0, answer.find("\r\n")), r.status);
        for (const auto& line : r.lines) {
            EXPECT_NE(answer.find("\n" + line + "\n"), std::string::npos) << line << "\n" << answer;
        }
        for (const auto& line : r.absent) {
            EXPECT_EQ(answer.find("\n" + line), std::string::npos) << line << "\n" << answer;
        }
    }
    gateway.Signal(SIGTERM);
    EXPECT_EQ(notify.NextStartingWith("STOPPING=1"), "STOPPING=1");
    EXPECT_EQ(gateway.Wait(), 0) << gateway.Err();
}

// A reload that names a file the gateway must not read (endless, waiting for a writer, not a
// file) changes nothing, one tells what waits for the next start, and the gateway still stops on
// SIGTERM. Away from journald, every line starts with the time.
TEST(ServiceTest, AReloadOfAnUnreadableFileChangesNothing) {
    TempDirectory directory;
    NotifySocket notify(directory.Path("notify"));
    ASSERT_TRUE(notify.Bound());
    directory.Write("pw", "operator");
    ASSERT_EQ(mkfifo(directory.Path("fifo").c_str(), 0600), 0);
    const auto configuration = [&](const std::string& passwordFile,
                                   const std::string& node = "node_id: n") {
        return directory.Write(
            "gateway.yaml", "broker:\n  host: " + TestAddress(0) +
                                "\n  port: " + std::to_string(TestPort(0)) + "\ngroup_id: g\n" +
                                node + "\nsensors:\n  - name: s\n    address: " + TestAddress(1) +
                                "\n    udp_port: " + std::to_string(TestPort(1)) +
                                "\n    password_file: " + passwordFile + "\n");
    };
    const std::string config = configuration(directory.Path("pw"));
    BackgroundProcess gateway(QUIL_GATEWAY, {config}, directory.Path("gateway"),
                              {"NOTIFY_SOCKET=" + directory.Path("notify"), "JOURNAL_STREAM="});
    ASSERT_NE(notify.NextStartingWith("READY=1"), "") << gateway.Err();
    for (const std::string& file : {std::string("/dev/zero"), directory.Path("fifo"),
                                    directory.Root(), directory.Path("pw")}) {
        SCOPED_TRACE(file);
        configuration(file);
        gateway.Signal(SIGHUP);
        const std::string expected =
            file == directory.Path("pw")
                ? " quil-gateway: reloaded " + config + ": 0 added, 0 removed, 0 changed\n"
                : " quil-gateway: not reloaded: " + config +
                      ":10: sensors[0].password_file: cannot read " + file +
                      ": not a regular file\n";
        EXPECT_TRUE(WaitUntil([&] { return gateway.Err().find(expected) != std::string::npos; }))
            << gateway.Err();
    }
    configuration(directory.Path("pw"), "node_id: n2\nhttp_port: " + std::to_string(TestPort(2)));
    gateway.Signal(SIGHUP);
    EXPECT_TRUE(WaitUntil([&] {
        return gateway.Err().find(": reloaded " + config +
                                  ": 0 added, 0 removed, 0 changed; node_id and http_port change "
                                  "at the next start\n") != std::string::npos;
    })) << gateway.Err();
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.Wait(std::chrono::seconds(10)), 0) << gateway.Err();
    const std::regex stamped(
        R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d quil-gateway: .*)");
    std::istringstream lines(gateway.Err());
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    }
}

}  // namespace
}  // namespace Varkon::QuilGateway::Testing
