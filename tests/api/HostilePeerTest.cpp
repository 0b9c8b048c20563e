// The client against a hostile sensor: replies, floods and datagrams meant to crash it or to
// exhaust its memory.
#include "TestSensor.h"
#include "support/ExpectThrow.h"
#include "support/Memory.h"
#include "support/Wait.h"
#include "udpstreaming/StreamPackets.h"

#include <quil/Quil.h>

#include <gtest/gtest.h>

#include "support/TestAddresses.h"

namespace Varkon::QUILApi {
namespace {

using nlohmann::json;
using Sim::Connection;
using Sim::TestSensor;
using std::chrono::milliseconds;
using Testing::kMiB;
using Testing::MemoryInUse;

// A GET answered first with data nested `levels` deep, then properly under the same msgID: a
// message nested deeper than the client takes is dropped like unparsable text, so the proper
// reply is the one read; one it takes wins, being the earlier.
TEST(HostilePeerTest, DeeplyNestedRepliesAreDroppedNotFollowed) {
    struct Case {
        std::size_t levels;  // inside {"msgData":["ExposureTime", ...]}: two levels more
        bool dropped;
    } cases[] = {{150000, true}, {127, true}, {126, false}, {2, false}};
    TestSensor sensor(Testing::TestAddress());
    std::size_t levels = 0;
    sensor.SetHandler([&](Connection& connection, const std::string& text) {
        const json request = json::parse(text);
        if (request["msgType"] == "GET") {
            connection.Send(TestSensor::NestedAck(request, levels));
            connection.Send(TestSensor::Ack(request, {{"ExposureTime", 500}}));
        } else {
            sensor.AnswerByDefault(connection, text);
        }
    });
    auto client = Quil::Create(Testing::TestAddress(), Testing::TestPort());
    client->Connect();
    for (const Case& c : cases) {
        levels = c.levels;  // the handler runs only while the request below waits
        if (c.dropped) {
            EXPECT_EQ(client->GetExposureTime(), 500u) << c.levels;
        } else {
            EXPECT_TRUE(Testing::Throws<std::out_of_range>(
                [&] { client->GetExposureTime(); }, "Field ExposureTime missing in response."))
                << c.levels;
        }
    }
}

// Messages that no request waits for, sent while the client is idle, are dropped as they come:
// the client's memory stays where it was, and the next request is answered.
TEST(HostilePeerTest, UnsolicitedMessagesCostNoMemory) {
    const std::string bulk(2000, 'x');
    const json floods[] = {
        {{"msgID", 1}, {"msgType", "ACK"}, {"msgData", {"ExposureTime", bulk}}},  // late reply
        {{"msgType", "ERR"}, {"msgData", {bulk, "Busy"}}},                        // no msgID
    };
    constexpr std::size_t kCount = 50000;  // about 100 MB a flood, were they kept
    TestSensor sensor(Testing::TestAddress());
    sensor.SetResource("ExposureTime", {{"ExposureTime", 700}});
    auto client = Quil::Create(Testing::TestAddress(), Testing::TestPort());
    client->Connect();
    EXPECT_EQ(client->GetExposureTime(), 700u);
    for (const json& flood : floods) {
        const std::size_t before = MemoryInUse();
        ASSERT_TRUE(sensor.Flood(flood.dump(), kCount, milliseconds(90000)));
        const std::size_t after = MemoryInUse();
        EXPECT_LT(after, before + 32 * kMiB) << flood.dump().substr(0, 40);
        EXPECT_EQ(client->GetExposureTime(), 700u);
    }
}

// A profile may announce at most the points that the frames it came in could carry at full
// datagram size; beyond that it is an error of type 7 and nothing is allocated for it. A
// smaller shortfall still gives a profile whose missing points read 0.
TEST(HostilePeerTest, PointCountsBeyondTheBlocksFramesAreRefused) {
    struct Case {
        uint8_t dataId;
        uint32_t pointCount;
        uint32_t pointsSent;
        const char* error;  // after "Exception in streaming task: "; none when delivered
    } cases[] = {
        {3, 22000000, 0, "Point count 22000000 exceeds the 336 points that 1 frame can carry."},
        {1, 33000000, 10, "Point count 33000000 exceeds the 504 points that 1 frame can carry."},
        {1, 505, 0, "Point count 505 exceeds the 504 points that 1 frame can carry."},
        {1, 504, 0, nullptr},
        {3, 1017, 700, "Point count 1017 exceeds the 1016 points that 3 frames can carry."},
        {3, 1016, 700, nullptr},
        {2, 33000000, 0, "Point count 33000000 exceeds the 504 points that 1 frame can carry."},
    };
    const uint16_t kPort = Testing::TestPort();
    TestSensor sensor(Testing::TestAddress());
    auto client = Quil::Create(Testing::TestAddress(), kPort);
    auto stream = client->GetStream();
    stream->Start();
    const std::size_t before = MemoryInUse();
    uint32_t blockId = 0;
    for (const Case& c : cases) {
        Testing::Bytes payload = Testing::SyntheticProfile(c.dataId, c.pointsSent);
        Testing::PutLittleEndian(payload, 20, c.pointCount);
        ++blockId;
        const auto datagrams =
            payload.size() <= 2040
                ? std::vector<Testing::Bytes>{Testing::WholeBlock(blockId, payload)}
                : Testing::Fragments(blockId, payload);
        for (const auto& datagram : datagrams) {
            sensor.SendDatagram(kPort, datagram);
        }
        ASSERT_TRUE(Testing::WaitUntil([&] { return stream->HasError() || stream->HasProfile(); },
                                       milliseconds(10000)))
            << c.pointCount;
        if (c.error) {
            ASSERT_TRUE(stream->HasError()) << c.pointCount;
            const auto error = stream->PopError();
            EXPECT_EQ(error.type, UdpStreaming::StreamingTaskException);
            EXPECT_EQ(error.message, std::string("Exception in streaming task: ") + c.error);
            EXPECT_FALSE(stream->HasProfile());
        } else {
            ASSERT_TRUE(stream->HasProfile()) << c.pointCount;
            const auto profile = stream->PopProfile();
            EXPECT_EQ(profile.channel0.size(), c.pointCount);
            EXPECT_EQ(profile.channel0.back(), 0) << "a point not sent reads 0";
            EXPECT_FALSE(stream->HasError());
        }
    }
    EXPECT_LT(MemoryInUse(), before + 64 * kMiB);
}

}  // namespace
}  // namespace Varkon::QUILApi
