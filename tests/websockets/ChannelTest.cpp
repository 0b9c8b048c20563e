#include "TestSensor.h"
#include "support/ExpectThrow.h"
#include "support/TestAddresses.h"
#include "websockets/VarkonWebsocketApi.h"

#include <quil/Quil.h>

#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/websocket.hpp>

#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <sstream>
#include <thread>

namespace Varkon::QUILApi::WebSockets {
namespace {

using nlohmann::json;
using Sim::Connection;
using Sim::TestSensor;
using std::chrono::milliseconds;
using Testing::TestAddress;
using Testing::TestPort;
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
    TestSensor sensor(TestAddress());
    auto channel = std::make_shared<VarkonWebsocketApi>(TestAddress());
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
        "Host: " + TestAddress(),
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
    auto channel = std::make_shared<VarkonWebsocketApi>(TestAddress());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(channel->SendAndWait(Request(1), 10000)->is_null());
    EXPECT_LT(Elapsed(start), milliseconds(5000));
    EXPECT_NO_THROW(channel->Close());
}

TEST(ChannelTest, ConnectFailureNamesTheHost) {
    auto channel = std::make_shared<VarkonWebsocketApi>(TestAddress());  // nothing listens here
    EXPECT_TRUE(Throws<std::runtime_error>([&] { channel->Connect(); },
                                           "Could not connect to host " + TestAddress()));
    // Idle again: a request returns at once.
    EXPECT_TRUE(channel->SendAndWait(Request(1), 10000)->is_null());
}

TEST(ChannelTest, LateRepliesAreDiscardedAndTheOwnReplyStillArrives) {
    TestSensor sensor(TestAddress());
    sensor.SetHandler([](Connection& connection, const std::string& text) {
        const auto id = IdOf(text);
        connection.Send(json({{"msgID", id}, {"n", id}}).dump(), milliseconds(id == 1 ? 300 : 0));
    });
    auto channel = std::make_shared<VarkonWebsocketApi>(TestAddress());
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
    TestSensor sensor(TestAddress());
    sensor.SetHandler([](Connection& connection, const std::string& text) {
        const auto id = IdOf(text);
        connection.Send(json({{"msgID", id - 1}}).dump());
        connection.Send(json({{"msgID", id}, {"n", 1}}).dump());
        connection.Send(json({{"msgID", id}, {"n", 2}}).dump());
        connection.Send(json({{"msgID", id + 1}}).dump());
    });
    auto channel = std::make_shared<VarkonWebsocketApi>(TestAddress());
    channel->Connect();
    EXPECT_EQ(*channel->SendAndWait(Request(5), 5000), json({{"msgID", 5}, {"n", 1}}));
}

TEST(ChannelTest, UpdatesNeverWakeAWaiterAndBadTextsAreSkipped) {
    TestSensor sensor(TestAddress());
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
    auto channel = std::make_shared<VarkonWebsocketApi>(TestAddress());
    channel->Connect();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(channel->SendAndWait(Request(1), 300)->is_null());
    EXPECT_GE(Elapsed(start), milliseconds(300));
    EXPECT_EQ(*channel->SendAndWait(Request(2), 5000), json({{"msgID", 2}, {"msgType", "ACK"}}));
}

TEST(ChannelTest, CompressedFramesWorkWhenTheServerAcceptsDeflate) {
    TestSensor::Options options;
    options.deflate = true;
    TestSensor sensor(TestAddress(), options);
    sensor.SetHandler([](Connection& connection, const std::string& text) {
        json reply = {{"msgID", IdOf(text)}, {"echo", json::parse(text)}};
        reply["bulk"] = std::string(100000, 'z');
        connection.Send(reply.dump());
    });
    auto channel = std::make_shared<VarkonWebsocketApi>(TestAddress());
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
        std::string address;
        bool closeBeforeRequest;  // else the sensor drops the connection on the first request
    } cases[] = {{TestAddress(), true}, {TestAddress(1), false}};
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
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address(TestAddress()), 80});
    std::promise<void> released;
    std::thread server([&] {
        websocket::stream<asio::ip::tcp::socket> ws(acceptor.accept());
        ws.set_option(websocket::stream_base::decorator([](websocket::response_type& response) {
            response.set(boost::beast::http::field::sec_websocket_protocol, "VWS");
        }));
        ws.accept();
        released.get_future().wait();  // reads nothing, so the close is never answered
    });
    auto channel = std::make_shared<VarkonWebsocketApi>(TestAddress());
    channel->Connect();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NO_THROW(channel->Close());
    EXPECT_LT(Elapsed(start), milliseconds(5000));  // one second, not the handshake's 30 s
    released.set_value();
    server.join();
}

TEST(ChannelTest, CloseEndsTheConnectionNormally) {
    TestSensor sensor(TestAddress());
    auto channel = std::make_shared<VarkonWebsocketApi>(TestAddress());
    channel->Connect();
    ASSERT_TRUE(sensor.WaitForOpenConnections(1, milliseconds(5000)));
    channel->Close();
    EXPECT_TRUE(sensor.WaitForOpenConnections(0, milliseconds(5000)));
    EXPECT_TRUE(channel->SendAndWait(Request(1), 10000)->is_null());
    EXPECT_NO_THROW(channel->Close());
}

TEST(ChannelTest, DestroyingAConnectedChannelClosesItsConnection) {
    TestSensor sensor(TestAddress());
    {
        auto channel = std::make_shared<VarkonWebsocketApi>(TestAddress());
        channel->Connect();
        ASSERT_TRUE(sensor.WaitForOpenConnections(1, milliseconds(5000)));
    }
    EXPECT_TRUE(sensor.WaitForOpenConnections(0, milliseconds(5000)));
}

// The client's automatic reconnection. Each case loses the connection one way, then makes a
// request: a GET is answered over a new connection and session, also when the connection was
// lost while it waited (asked again); a SET lost after it was sent fails with the time-out's text
// and is not repeated, and the next request reconnects; a sensor that stays away fails the
// request within its limit with the connection's text.
TEST(ChannelTest, AutomaticReconnectionOpensANewSessionButNeverRepeatsASet) {
    enum class Loss { SensorRestarted, DroppedDuringGet, DroppedDuringSet, SensorGone };
    struct Case {
        std::string address;
        Loss loss;
    } cases[] = {{TestAddress(), Loss::SensorRestarted},
                 {TestAddress(1), Loss::DroppedDuringGet},
                 {TestAddress(2), Loss::DroppedDuringSet},
                 {TestAddress(3), Loss::SensorGone}};
    for (const Case& c : cases) {
        std::optional<TestSensor> sensor(std::in_place, c.address);
        // The sensor's answers from now on; the next session has the id `sessionId`.
        const auto serve = [&sensor](bool dropFirstRequest, uint32_t sessionId) {
            sensor->SetResource("ExposureTime", {{"ExposureTime", 300}});
            sensor->SetNextSessionId(sessionId);
            auto dropped = std::make_shared<bool>(!dropFirstRequest);
            sensor->SetHandler([&sensor, dropped](Connection& connection, const std::string& text) {
                const auto type = json::parse(text).at("msgType");
                if (!*dropped && (type == "GET" || type == "SET")) {
                    *dropped = true;
                    connection.Drop();
                } else {
                    sensor->AnswerByDefault(connection, text);
                }
            });
        };
        serve(false, 10);
        auto client = Quil::Create(c.address, TestPort());
        client->SetAutoReconnect(true);
        client->SetRequestTimeout(milliseconds(3000));
        client->Connect();
        ASSERT_TRUE(sensor->WaitForOpenConnections(1, milliseconds(5000)));

        const auto start = std::chrono::steady_clock::now();
        switch (c.loss) {
            case Loss::SensorRestarted:
                sensor.reset();
                sensor.emplace(c.address);
                serve(false, 20);
                EXPECT_EQ(client->GetExposureTime(), 300u) << c.address;
                break;
            case Loss::DroppedDuringGet:
                serve(true, 20);
                EXPECT_EQ(client->GetExposureTime(), 300u) << c.address;
                break;
            case Loss::DroppedDuringSet:
                serve(true, 20);
                EXPECT_TRUE(Throws<std::runtime_error>(
                    [&] { client->SetExposureTime(400); },
                    "No matching response found to request with sessionID: 10 msgID: 2"))
                    << c.address;
                EXPECT_EQ(client->GetExposureTime(), 300u) << c.address;  // not written
                break;
            case Loss::SensorGone:
                client->SetRequestTimeout(milliseconds(400));
                sensor.reset();
                EXPECT_TRUE(Throws<std::runtime_error>(
                    [&] { client->GetExposureTime(); },
                    std::string("Could not connect to host ") + c.address))
                    << c.address;
                EXPECT_LT(Elapsed(start), milliseconds(3000)) << c.address;
                continue;
        }
        EXPECT_LT(Elapsed(start), milliseconds(3000)) << c.address;
        // The new session: its id on the requests, and the SET sent once only.
        std::size_t sets = 0;
        std::string last;
        for (const std::string& text : sensor->Received()) {
            sets += json::parse(text).at("msgType") == "SET" ? 1 : 0;
            last = text;
        }
        EXPECT_EQ(json::parse(last).at("sessionID"), 20) << c.address;
        EXPECT_EQ(sets, c.loss == Loss::DroppedDuringSet ? 1u : 0u) << c.address;
        client->Disconnect();
    }
}

// The time limit a caller sets holds for each read and write; the default and the texts stay.
TEST(ChannelTest, TheRequestTimeLimitIsTheCallersToSet) {
    TestSensor sensor(TestAddress());
    sensor.SetHandler([&sensor](Connection& connection, const std::string& text) {
        if (json::parse(text).at("msgType") == "CONNECT") {
            sensor.AnswerByDefault(connection, text);  // GET and SET stay unanswered
        }
    });
    auto client = Quil::Create(TestAddress(), TestPort());
    client->Connect();
    EXPECT_TRUE(Throws<std::invalid_argument>([&] { client->SetRequestTimeout(milliseconds(0)); },
                                              "Request timeout must be positive."));
    const struct {
        milliseconds limit;
        std::function<void()> request;
    } cases[] = {{milliseconds(150), [&] { client->GetExposureTime(); }},
                 {milliseconds(400), [&] { client->SetExposureTime(10); }}};
    for (const auto& c : cases) {
        client->SetRequestTimeout(c.limit);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(c.request(), std::runtime_error);
        EXPECT_GE(Elapsed(start), c.limit);
        EXPECT_LT(Elapsed(start), c.limit + milliseconds(2000));
    }
}

}  // namespace
}  // namespace Varkon::QUILApi::WebSockets
