#include "TestSensor.h"
#include "support/ExpectThrow.h"
#include "websockets/VarkonWebsocketApi.h"

#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/websocket.hpp>

#include <chrono>
#include <future>
#include <thread>
#include <sstream>

namespace Varkon::QUILApi::WebSockets {
namespace {

using nlohmann::json;
using Sim::Connection;
using Sim::TestSensor;
using std::chrono::milliseconds;
using Testing::Throws;

json Request(unsigned id) {
    return {{"msgData", {"X"}}, {"msgID", id}, {"msgType", "GET"}, {"sessionID", 0}};
}

unsigned IdOf(const std::string& text) {
    return json::parse(text).at("msgID").get<unsigned>();
}

std::chrono::milliseconds Elapsed(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
}

TEST(ChannelTest, HandshakeCarriesTheSensorsFieldsInOrder) {
    TestSensor sensor("127.0.1.1");
    auto channel = std::make_shared<VarkonWebsocketApi>("127.0.1.1");
    channel->Connect();
    ASSERT_EQ(sensor.Handshakes().size(), 1u);

    std::istringstream lines(sensor.Handshakes()[0]);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "GET /websocket HTTP/1.1\r");
    std::vector<std::string> fields;
    while (std::getline(lines, line) && line != "\r") {
        fields.push_back(line.substr(0, line.size() - 1));
    }
    auto position = [&fields](const std::string& field) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].rfind(field + ": ", 0) == 0) {
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    const std::vector<std::string> expected = {
        "Host: 127.0.1.1",
        "User-Agent: Boost.Beast/318 websocket-client-coro",
        "Accept: */*",
        "Accept-Language: en-US,en;q=0.5",
        "Accept-Encoding: gzip, deflate",
        "Sec-WebSocket-Protocol: VWS",
        "Sec-WebSocket-Extensions: permessage-deflate",
        "Connection: keep-alive, Upgrade",
        "Pragma: no-cache",
        "Cache-Control: no-cache",
    };
    int previous = -1;
    for (const auto& field : expected) {
        const auto name = field.substr(0, field.find(':'));
        const int at = position(name);
        ASSERT_GE(at, 0) << name;
        EXPECT_EQ(fields[at], field);
        if (name != "Host") {
            EXPECT_GT(at, previous) << name << " out of order";
        }
        previous = at;
    }
    EXPECT_GE(position("Upgrade"), 0);
    EXPECT_GE(position("Sec-WebSocket-Key"), 0);
    EXPECT_GE(position("Sec-WebSocket-Version"), 0);
    EXPECT_EQ(fields.size(), expected.size() + 3);
}

TEST(ChannelTest, WithoutConnectionNothingIsSentAndNullComesBackAtOnce) {
    auto channel = std::make_shared<VarkonWebsocketApi>("127.0.1.2");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(channel->SendAndWait(Request(1), 10000)->is_null());
    EXPECT_LT(Elapsed(start), milliseconds(5000));
    EXPECT_NO_THROW(channel->Close());
}

TEST(ChannelTest, ConnectFailureNamesTheHost) {
    auto channel = std::make_shared<VarkonWebsocketApi>("127.0.1.3");  // nothing listens here
    EXPECT_TRUE(Throws<std::runtime_error>([&] { channel->Connect(); },
                                           "Could not connect to host 127.0.1.3"));
    // Idle again: a request returns at once.
    EXPECT_TRUE(channel->SendAndWait(Request(1), 10000)->is_null());
}

TEST(ChannelTest, LateRepliesAreDiscardedAndTheOwnReplyStillArrives) {
    TestSensor sensor("127.0.1.4");
    sensor.SetHandler([](Connection& connection, const std::string& text) {
        const auto id = IdOf(text);
        connection.Send(json({{"msgID", id}, {"n", id}}).dump(), milliseconds(id == 1 ? 300 : 0));
    });
    auto channel = std::make_shared<VarkonWebsocketApi>("127.0.1.4");
    channel->Connect();
    EXPECT_TRUE(channel->SendAndWait(Request(1), 50)->is_null());
    ASSERT_TRUE(sensor.WaitForReceived(1, milliseconds(5000)));
    // Let the late reply land in the inbox before the next request is answered.
    sensor.SetHandler([](Connection& connection, const std::string& text) {
        connection.Send(json({{"msgID", IdOf(text)}}).dump(), milliseconds(400));
    });
    const auto reply = channel->SendAndWait(Request(2), 5000);
    EXPECT_EQ(*reply, json({{"msgID", 2}}));
}

TEST(ChannelTest, OfTwoMatchingMessagesTheEarlierWinsAndOthersAreDropped) {
    TestSensor sensor("127.0.1.5");
    sensor.SetHandler([](Connection& connection, const std::string& text) {
        const auto id = IdOf(text);
        connection.Send(json({{"msgID", id - 1}}).dump());
        connection.Send(json({{"msgID", id}, {"n", 1}}).dump());
        connection.Send(json({{"msgID", id}, {"n", 2}}).dump());
        connection.Send(json({{"msgID", id + 1}}).dump());
    });
    auto channel = std::make_shared<VarkonWebsocketApi>("127.0.1.5");
    channel->Connect();
    EXPECT_EQ(*channel->SendAndWait(Request(5), 5000), json({{"msgID", 5}, {"n", 1}}));
}

TEST(ChannelTest, UpdatesNeverWakeAWaiterAndBadTextsAreSkipped) {
    TestSensor sensor("127.0.1.6");
    sensor.SetHandler([](Connection& connection, const std::string& text) {
        const auto id = IdOf(text);
        connection.Send(json({{"msgID", id}, {"msgType", "UPDATE"}}).dump());
        if (id == 2) {
            connection.Send("{not json");
            connection.Send("[1,2]");
            connection.Send("");
            connection.Send("null");
            connection.Send(json({{"msgID", id}, {"msgType", "ACK"}}).dump());
        }
    });
    auto channel = std::make_shared<VarkonWebsocketApi>("127.0.1.6");
    channel->Connect();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(channel->SendAndWait(Request(1), 300)->is_null());
    EXPECT_GE(Elapsed(start), milliseconds(300));
    EXPECT_EQ(*channel->SendAndWait(Request(2), 5000), json({{"msgID", 2}, {"msgType", "ACK"}}));
}

TEST(ChannelTest, CompressedFramesWorkWhenTheServerAcceptsDeflate) {
    TestSensor::Options options;
    options.deflate = true;
    TestSensor sensor("127.0.1.7", options);
    sensor.SetHandler([](Connection& connection, const std::string& text) {
        json reply = {{"msgID", IdOf(text)}, {"echo", json::parse(text)}};
        reply["bulk"] = std::string(100000, 'z');
        connection.Send(reply.dump());
    });
    auto channel = std::make_shared<VarkonWebsocketApi>("127.0.1.7");
    channel->Connect();
    auto request = Request(1);
    request["msgData"].push_back(std::string(50000, 'a'));
    const auto reply = channel->SendAndWait(request, 5000);
    ASSERT_FALSE(reply->is_null());
    EXPECT_EQ(reply->at("echo"), request);
    EXPECT_EQ(reply->at("bulk").get<std::string>().size(), 100000u);
    EXPECT_NE(sensor.Handshakes()[0].find("permessage-deflate"), std::string::npos);
}

// A connection the sensor ends is known as lost: the waiting request and later ones return at
// once (no reply, as after a time-out) instead of waiting their limit, and a lone Connect opens a
// new connection.
TEST(ChannelTest, ALostConnectionIsKnownAtOnceAndConnectOpensANewOne) {
    struct Case {
        const char* address;
        bool closeBeforeRequest;  // else the sensor drops the connection on the first request
    } cases[] = {{"127.0.15.1", true}, {"127.0.15.2", false}};
    for (const Case& c : cases) {
        TestSensor sensor(c.address);
        sensor.SetHandler([](Connection& connection, const std::string& text) {
            if (IdOf(text) == 1) {
                connection.Drop();
            } else {
                connection.Send(json({{"msgID", IdOf(text)}}).dump());
            }
        });
        auto channel = std::make_shared<VarkonWebsocketApi>(c.address);
        channel->Connect();
        ASSERT_TRUE(sensor.WaitForOpenConnections(1, milliseconds(5000)));
        if (c.closeBeforeRequest) {
            sensor.CloseAll();
            ASSERT_TRUE(sensor.WaitForOpenConnections(0, milliseconds(5000)));
        }
        auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(channel->SendAndWait(Request(1), 10000)->is_null()) << c.address;
        EXPECT_TRUE(channel->SendAndWait(Request(3), 10000)->is_null()) << c.address;
        EXPECT_LT(Elapsed(start), milliseconds(3000)) << c.address;  // not 2 x 10 s

        channel->Connect();
        EXPECT_EQ(sensor.Handshakes().size(), 2u) << c.address;
        EXPECT_EQ(*channel->SendAndWait(Request(2), 5000), json({{"msgID", 2}})) << c.address;
    }
}

TEST(ChannelTest, CloseGivesUpOnASensorThatNeverAnswersIt) {
    namespace asio = boost::asio;
    namespace websocket = boost::beast::websocket;
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.15.3"), 80});
    std::promise<void> released;
    std::thread server([&] {
        websocket::stream<asio::ip::tcp::socket> ws(acceptor.accept());
        ws.set_option(websocket::stream_base::decorator([](websocket::response_type& response) {
            response.set(boost::beast::http::field::sec_websocket_protocol, "VWS");
        }));
        ws.accept();
        released.get_future().wait();  // reads nothing, so the close is never answered
    });
    auto channel = std::make_shared<VarkonWebsocketApi>("127.0.15.3");
    channel->Connect();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NO_THROW(channel->Close());
    EXPECT_LT(Elapsed(start), milliseconds(5000));  // one second, not the handshake's 30 s
    released.set_value();
    server.join();
}

TEST(ChannelTest, CloseEndsTheConnectionNormally) {
    TestSensor sensor("127.0.1.9");
    auto channel = std::make_shared<VarkonWebsocketApi>("127.0.1.9");
    channel->Connect();
    ASSERT_TRUE(sensor.WaitForOpenConnections(1, milliseconds(5000)));
    channel->Close();
    EXPECT_TRUE(sensor.WaitForOpenConnections(0, milliseconds(5000)));
    EXPECT_TRUE(channel->SendAndWait(Request(1), 10000)->is_null());
    EXPECT_NO_THROW(channel->Close());
}

TEST(ChannelTest, DestroyingAConnectedChannelClosesItsConnection) {
    TestSensor sensor("127.0.1.10");
    {
        auto channel = std::make_shared<VarkonWebsocketApi>("127.0.1.10");
        channel->Connect();
        ASSERT_TRUE(sensor.WaitForOpenConnections(1, milliseconds(5000)));
    }
    EXPECT_TRUE(sensor.WaitForOpenConnections(0, milliseconds(5000)));
}

}  // namespace
}  // namespace Varkon::QUILApi::WebSockets
