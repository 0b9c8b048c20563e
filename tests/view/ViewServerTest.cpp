// The view's server as a plant network sees it: requests from foreign pages and names, floods of
// idle connections, and a page that starts recordings as fast as it can.
#include "RequestPolicy.h"
#include "support/TcpConnect.h"
#include "support/TestAddresses.h"
#include "support/Wait.h"

#include <quil/Quil.h>
#include <quil/view/ViewServer.h>

#include <gtest/gtest.h>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace {

using namespace Varkon::QUILApi;
using Testing::TestAddress;
namespace http = boost::beast::http;

constexpr uint16_t kPort = 8080;

struct PolicyCase {
    const char* name;
    http::verb method;
    std::vector<std::pair<std::string, std::string>> headers;
    unsigned refused;  // 0: answered
};

TEST(RequestPolicyTest, RefusesForeignNamesPagesAndForms) {
    const View::RequestPolicy policy(kPort, {"line-pc"}, {"https://dash.plant"});
    const std::string self = "127.0.0.1:8080";
    const std::vector<PolicyCase> cases = {
        {"the page by address", http::verb::get, {{"Host", self}}, 0},
        {"by localhost", http::verb::get, {{"Host", "localhost:8080"}}, 0},
        {"by IPv6", http::verb::get, {{"Host", "[::1]:8080"}}, 0},
        {"by an allowed name", http::verb::get, {{"Host", "LINE-PC:8080"}}, 0},
        {"without a port", http::verb::get, {{"Host", "127.0.0.1"}}, 0},
        {"a rebound name", http::verb::get, {{"Host", "evil.example:8080"}}, 421},
        {"another port", http::verb::get, {{"Host", "127.0.0.1:9090"}}, 421},
        {"a malformed port", http::verb::get, {{"Host", "127.0.0.1:80x"}}, 421},
        {"a program's POST", http::verb::post, {{"Host", self}}, 0},
        {"the page's own POST",
         http::verb::post,
         {{"Host", self}, {"Origin", "http://" + self}},
         0},
        {"a foreign page's POST",
         http::verb::post,
         {{"Host", self}, {"Origin", "http://evil.example"}},
         403},
        {"a form without Origin",
         http::verb::post,
         {{"Host", self}, {"Content-Type", "application/x-www-form-urlencoded"}},
         403},
        {"a text form",
         http::verb::post,
         {{"Host", self}, {"Content-Type", "text/plain;charset=UTF-8"}},
         403},
        {"JSON", http::verb::post, {{"Host", self}, {"Content-Type", "application/json"}}, 0},
        {"a cross-site fetch",
         http::verb::post,
         {{"Host", self}, {"Sec-Fetch-Site", "cross-site"}},
         403},
        {"an allowed origin",
         http::verb::post,
         {{"Host", self}, {"Origin", "https://dash.plant"}},
         0},
        {"a foreign page's GET",
         http::verb::get,
         {{"Host", self}, {"Origin", "http://evil.example"}},
         0},
    };
    for (const PolicyCase& c : cases) {
        http::request<http::string_body> request(c.method, "/x", 11);
        for (const auto& [field, value] : c.headers) {
            request.set(field, value);
        }
        const auto refusal = policy.Check(request);
        EXPECT_EQ(refusal ? refusal->status : 0u, c.refused) << c.name;
    }
}

TEST(RequestPolicyTest, WebSocketsOnlyFromTheViewsOwnPage) {
    const View::RequestPolicy policy(kPort, {}, {});
    const std::vector<std::pair<std::string, unsigned>> cases = {
        {"", 0},
        {"http://127.0.0.1:8080", 0},
        {"http://evil.example", 403},
        {"null", 403},
        {"http://127.0.0.1:8080.evil.example", 403}};
    for (const auto& [origin, refused] : cases) {
        http::request<http::string_body> request(http::verb::get, "/ws", 11);
        request.set(http::field::host, "127.0.0.1:8080");
        request.set(http::field::connection, "Upgrade");
        request.set(http::field::upgrade, "websocket");
        if (!origin.empty()) {
            request.set(http::field::origin, origin);
        }
        const auto refusal = policy.Check(request);
        EXPECT_EQ(refusal ? refusal->status : 0u, refused) << origin;
    }
}

// The status of GET `target`, or 0 when there is no answer within five seconds.
unsigned Get(const std::string& address, uint16_t port, const std::string& target) {
    const int fd = Testing::TcpConnect(address, port);
    const std::string request =
        "GET " + target + " HTTP/1.1\r\nHost: " + address + "\r\nConnection: close\r\n\r\n";
    char answer[64] = {};
    if (fd < 0 || send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0 ||
        recv(fd, answer, sizeof answer - 1, MSG_WAITALL) < 12) {
        answer[9] = 0;
    }
    if (fd >= 0) {
        close(fd);
    }
    return static_cast<unsigned>(std::atoi(answer + 9));
}

std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                      std::filesystem::directory_iterator()));
}

TEST(ViewServerTest, IdleConnectionsCannotTakeTheDescriptors) {
    View::ViewOptions options;
    options.address = TestAddress();
    options.port = 0;
    options.maxConnections = 20;
    options.otherRequests = [](const std::string&, const std::string& target) {
        return target == "/metrics" ? std::optional<View::HttpAnswer>(View::HttpAnswer{})
                                    : std::nullopt;
    };
    View::ViewServer server(options, {});
    const std::size_t before = OpenDescriptors();
    std::vector<int> idle;
    for (int n = 0; n < 300; ++n) {
        idle.push_back(Testing::TcpConnect(options.address, server.Port()));
        ASSERT_GE(idle.back(), 0);
    }
    EXPECT_EQ(Get(options.address, server.Port(), "/metrics"), 200u);
    // The clients' 300 and the server's at most 20 (one more while a newcomer is taken in).
    EXPECT_TRUE(Testing::WaitUntil([&] { return OpenDescriptors() <= before + 300 + 21; }))
        << OpenDescriptors() - before - 300 << " held by the server";
    EXPECT_LE(server.Counters().connections, 21u);
    EXPECT_GE(server.Counters().connectionsEvicted, 280u);
    for (const int fd : idle) {
        close(fd);
    }
}

TEST(ViewServerTest, ForeignHostNamesAreRefused) {
    View::ViewOptions options;
    options.address = TestAddress();
    options.port = 0;
    View::ViewServer server(options, {});
    const int fd = Testing::TcpConnect(options.address, server.Port());
    const std::string request =
        "GET / HTTP/1.1\r\nHost: evil.example:" + std::to_string(server.Port()) +
        "\r\nConnection: close\r\n\r\n";
    ASSERT_GT(send(fd, request.data(), request.size(), MSG_NOSIGNAL), 0);
    char answer[13] = {};
    recv(fd, answer, 12, MSG_WAITALL);
    close(fd);
    EXPECT_STREQ(answer + 9, "421");
    EXPECT_EQ(server.Counters().requestsRefused, 1u);
}

// A browser's WebSocket to the view, from the page of `origin` (none: no Origin header).
class PageSocket {
public:
    PageSocket(const std::string& address, uint16_t port, const std::string& origin) : socket(io) {
        socket.next_layer().connect({boost::asio::ip::make_address(address), port});
        timeval limit{5, 0};
        setsockopt(socket.next_layer().native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit,
                   sizeof limit);
        socket.set_option(boost::beast::websocket::stream_base::decorator(
            [origin](boost::beast::websocket::request_type& request) {
                if (!origin.empty()) {
                    request.set(http::field::origin, origin);
                }
            }));
        socket.handshake(address + ":" + std::to_string(port), "/ws", error);
    }

    boost::beast::error_code error;

    void Send(const nlohmann::json& message) { socket.write(boost::asio::buffer(message.dump())); }

    /// The texts of the notices that come within `limit`.
    std::vector<std::string> Notices(std::chrono::milliseconds limit) {
        std::vector<std::string> notices;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        boost::beast::error_code failed;
        while (!failed && std::chrono::steady_clock::now() < deadline) {
            boost::beast::flat_buffer buffer;
            socket.read(buffer, failed);
            const auto message = nlohmann::json::parse(
                boost::beast::buffers_to_string(buffer.data()), nullptr, false);
            if (!failed && message.value("type", "") == "notice") {
                notices.push_back(message.value("text", ""));
            }
        }
        return notices;
    }

private:
    boost::asio::io_context io;
    boost::beast::websocket::stream<boost::asio::ip::tcp::socket> socket;
};

TEST(ViewServerTest, OnlyTheViewsOwnPageWatches) {
    View::ViewOptions options;
    options.address = TestAddress();
    options.port = 0;
    View::ViewServer server(options, {});
    const std::string self = "http://" + options.address + ":" + std::to_string(server.Port());
    EXPECT_FALSE(PageSocket(options.address, server.Port(), self).error);
    EXPECT_FALSE(PageSocket(options.address, server.Port(), "").error);
    EXPECT_TRUE(PageSocket(options.address, server.Port(), "http://evil.example").error);
}

class PageRecordingTest : public testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("quil-view-test-" + std::to_string(getpid()) + "-" + TestAddress());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        sensor = Quil::Create(TestAddress(1), 0);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::unique_ptr<View::ViewServer> Serve(View::ViewOptions options) {
        options.address = TestAddress();
        options.port = 0;
        options.recordDirectory = folder.string();
        ProfileDescription description;
        description.profileMeta = {1280, "mm", "mm"};
        description.fovMeta = {"mm", "mm", 2, 2};
        View::SensorFeed feed(sensor->GetStream(), ProfileCoordinates(description));
        feed.name = "left";
        feed.recording = UdpStreaming::RecordingOptions{};
        return std::make_unique<View::ViewServer>(options, std::vector<View::SensorFeed>{feed});
    }

    std::size_t Captures() const {
        std::size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            count += entry.path().extension() == ".pcap";
        }
        return count;
    }

    std::filesystem::path folder;
    std::unique_ptr<Quil> sensor;
};

TEST_F(PageRecordingTest, APageCannotStartRecordingsFasterThanTheInterval) {
    auto server = Serve({});
    PageSocket page(TestAddress(), server->Port(), "");
    ASSERT_FALSE(page.error);
    for (int n = 0; n < 200; ++n) {
        page.Send({{"type", "record"}, {"sensor", 0}, {"action", n % 2 ? "stop" : "start"}});
    }
    const auto notices = page.Notices(std::chrono::milliseconds(500));
    EXPECT_EQ(Captures(), 1u);
    ASSERT_FALSE(notices.empty());
    EXPECT_NE(notices.front().find("The recording was not started: a recording was started "
                                   "moments ago; try again in"),
              std::string::npos)
        << notices.front();
}

TEST_F(PageRecordingTest, RecordingsStayWithinTheirBudget) {
    View::ViewOptions options;
    options.recordingIntervalSeconds = 0;
    options.recordingBudgetBytes = 1000;
    std::ofstream(folder / "quil-view-earlier.pcap") << std::string(990, 'x');
    auto server = Serve(options);
    PageSocket page(TestAddress(), server->Port(), "");
    ASSERT_FALSE(page.error);
    page.Send({{"type", "record"}, {"sensor", 0}, {"action", "start"}});
    auto notices = page.Notices(std::chrono::milliseconds(2500));
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0],
              "The recording stopped: the view's recordings reached their budget of 1 MB.");
    EXPECT_FALSE(sensor->GetStream()->GetRecordingStatus().recording);
    page.Send({{"type", "record"}, {"sensor", 0}, {"action", "start"}});
    notices = page.Notices(std::chrono::milliseconds(300));
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("their budget is"), std::string::npos) << notices[0];
    EXPECT_EQ(Captures(), 2u);
}

}  // namespace
