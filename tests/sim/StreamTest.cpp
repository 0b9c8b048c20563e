// The virtual sensor's UDP stream, received by the library's stream object.
#include "Measurements.h"
#include "SimSupport.h"
#include "support/Wait.h"

#include <gtest/gtest.h>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <array>
#include <chrono>
#include <functional>
#include <mutex>
#include <stdexcept>

namespace Varkon::QUILApi {
namespace {

using Sim::VirtualSensor;
using std::chrono::seconds;
using Testing::Connected;
using Testing::SimOptions;
using Testing::TestAddress;
using Testing::TestPort;
using Testing::WaitUntil;
using UdpStreaming::StreamProfile;

// Collects the sensor's log lines.
struct LogLines {
    std::function<void(const std::string&)> Sink() {
        return [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.push_back(line);
        };
    }
    bool Has(const std::string& part) {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& line : lines) {
            if (line.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    std::mutex mutex;
    std::vector<std::string> lines;
};

void SwitchOutput(Quil& client, bool on, unsigned short port) {
    client.SetProcessInterfaces(false, false, 0, on, "127.0.0.1", port, 0);
}

void ExpectAcquiredCarried(const Sim::Acquired& acquired, const StreamProfile& profile) {
    ASSERT_EQ(profile.pointCount, acquired.x.size());
    ASSERT_TRUE(profile.hasChannel1 && profile.hasChannel2);
    for (std::size_t i = 0; i < acquired.x.size(); ++i) {
        const uint16_t z =
            acquired.valid[i] ? static_cast<uint16_t>(Sim::Hundredths(acquired.z[i])) : 0;
        ASSERT_EQ(profile.channel0[i], z) << "point " << i;
        ASSERT_EQ(profile.channel1[i], Sim::Hundredths(acquired.x[i]) + 32768) << "point " << i;
        ASSERT_EQ(profile.channel2[i], acquired.valid[i] ? acquired.brightness[i] : 0)
            << "point " << i;
    }
}

TEST(SimStreamTest, ThousandsOfProfilesArriveWithoutLossAndAsComputed) {
    LogLines log;
    auto options = SimOptions(TestAddress());
    options.profileRate = 1000;
    options.log = log.Sink();
    const auto created = std::chrono::system_clock::now();
    VirtualSensor sensor(options);
    auto client = Connected(TestAddress(), TestPort(), "operator");
    auto stream = client->GetStream();
    stream->Start();
    client->SetUDPStreamData({{0, 3}});
    SwitchOutput(*client, true, TestPort());
    ASSERT_TRUE(WaitUntil([&] { return stream->GetProfileCount() >= 2500; }, seconds(60)));
    SwitchOutput(*client, false, TestPort());
    ASSERT_TRUE(WaitUntil([&] { return log.Has("stopped"); }, seconds(5)));
    EXPECT_TRUE(
        log.Has("stream to 127.0.0.1:" + std::to_string(TestPort()) + ", data ids 0,3 started"));

    // Nothing is sent once the output is off, while the sensor keeps acquiring.
    const uint64_t sent = sensor.BlocksSent();
    const auto acquired = [&] { return sensor.Read("Profile")["timestamp"][1].get<uint64_t>(); };
    const uint64_t before = acquired();
    ASSERT_TRUE(WaitUntil([&] { return acquired() != before; }, seconds(5)));
    EXPECT_EQ(sensor.BlocksSent(), sent);

    ASSERT_TRUE(
        WaitUntil([&] { return stream->GetProfileCount() + stream->GetMeasurementCount() == sent; },
                  seconds(5)));
    EXPECT_FALSE(stream->HasError()) << stream->PopError().message;
    ASSERT_EQ(stream->GetProfileCount(), stream->GetMeasurementCount());

    uint32_t frameIndex = 0;
    uint64_t time = 0;
    std::size_t withObject = 0;
    // The sensor's clock is this host's wall clock, as a sensor set by NTP would have it.
    const auto wallSeconds = static_cast<double>(
        std::chrono::duration_cast<seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
    for (std::size_t n = 0; stream->HasProfile(); ++n) {
        const auto measurement = stream->PopMeasurement();
        const auto profile = stream->PopProfile();
        ASSERT_EQ(profile.blockId, measurement.blockId + 1);
        ASSERT_EQ(measurement.timestamp, profile.timestamp);
        if (n == 0) {
            EXPECT_NEAR(static_cast<double>(profile.timestamp) / 1e6, wallSeconds, 120.0);
            // The belt starts with the sensor, whatever the wall time: 200 mm/s, 10 counts/mm.
            const double since = static_cast<double>(profile.timestamp) / 1e6 -
                                 std::chrono::duration<double>(created.time_since_epoch()).count();
            EXPECT_LE(profile.EncoderCount(), 2000.0 * since + 1) << since << " s";
        } else {
            ASSERT_EQ(profile.field6, frameIndex + 1);
            ASSERT_EQ(profile.timestamp, time + 1000);
        }
        frameIndex = profile.field6;
        time = profile.timestamp;
        if (n % 97 == 0) {  // the content of a sample of them, point by point
            const auto acquired = sensor.Capture(profile.field6, profile.timestamp);
            ExpectAcquiredCarried(acquired, profile);
            EXPECT_EQ(measurement.values[0], static_cast<float>(acquired.values[0]));
            EXPECT_EQ(measurement.measrate, 1000.0);
        }
        withObject += profile.flags[2];
    }
    EXPECT_GT(withObject, 0u);  // the belt carried objects under the line
}

TEST(SimStreamTest, DatagramsComeFromTheSensorsOwnAddress) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    auto client = Connected(TestAddress(), TestPort(), "operator");
    boost::asio::io_context context;
    boost::asio::ip::udp::socket receiver(
        context, {boost::asio::ip::make_address_v4(TestAddress(1)), TestPort()});
    client->SetUDPStreamData({{0}});
    client->SetProcessInterfaces(false, false, 0, true, TestAddress(1), TestPort(), 0);
    ASSERT_TRUE(WaitUntil([&] { return receiver.available() > 0; }, seconds(5)));
    std::array<uint8_t, 2048> datagram;
    boost::asio::ip::udp::endpoint sender;
    receiver.receive_from(boost::asio::buffer(datagram), sender);
    EXPECT_EQ(sender.address().to_string(), TestAddress());
}

TEST(SimStreamTest, SoftwareTriggersSendExactlyTheFiredProfiles) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    auto client = Connected(TestAddress(), TestPort(), "maintenance");
    client->SetTrigger(1, 0, 500, 20);
    auto stream = client->GetStream();
    stream->Start();
    client->SetUDPStreamData({{1}});
    SwitchOutput(*client, true, TestPort());
    client->TriggerFire(700);
    ASSERT_TRUE(WaitUntil([&] { return sensor.BlocksSent() == 700; }, seconds(20)));
    ASSERT_TRUE(WaitUntil([&] { return stream->GetProfileCount() == 700; }, seconds(5)));
    EXPECT_FALSE(stream->HasError());
    const auto first = stream->PopProfile();
    EXPECT_TRUE(first.hasChannel1);
    EXPECT_FALSE(first.hasChannel2);
    EXPECT_EQ(first.pointCount, 640u);
}

TEST(SimStreamTest, LargeProfilesAreFragmented) {
    auto options = SimOptions(TestAddress());
    options.pointsPerProfile = 4096;
    options.profileRate = 200;
    VirtualSensor sensor(options);
    auto client = Connected(TestAddress(), TestPort(), "operator");
    auto stream = client->GetStream();
    stream->Start();
    client->SetUDPStreamData({{3}});
    SwitchOutput(*client, true, TestPort());
    ASSERT_TRUE(WaitUntil([&] { return stream->GetProfileCount() >= 100; }, seconds(30)));
    SwitchOutput(*client, false, TestPort());
    const auto profile = stream->PopProfile();
    EXPECT_EQ(profile.pointCount, 4096u);  // 24 + 6 * 4096 bytes: 13 datagrams
    ExpectAcquiredCarried(sensor.Capture(profile.field6, profile.timestamp), profile);
    EXPECT_FALSE(stream->HasError());
}

// StreamOutputAim: the sensor's UDP output is aimed here and put back exactly, however the
// scope is left. Each case starts from output settings that differ from what the aim writes.
struct AimCase {
    const char* name;
    std::function<void(Quil&, unsigned short port)> use;
    bool keepsLaterChange;  // a change made after an explicit Restore stays
};

const AimCase kAimCases[] = {
    {"Destruction",
     [](Quil& client, unsigned short port) {
         StreamOutputAim aim(client, port, {1});
         EXPECT_EQ(aim.GetLocalAddress(), "127.0.0.1");
         EXPECT_TRUE(client.GetProcessInterfaces().enableUDPStreaming);
         EXPECT_EQ(client.GetUDPStreamData().enabledDataIDs, std::vector<uint32_t>{1});
         EXPECT_TRUE(client.GetStream()->PopProfileFor(seconds(10)).has_value());
     },
     false},
    {"Exception",
     [](Quil& client, unsigned short port) {
         EXPECT_THROW(
             {
                 StreamOutputAim aim(client, port, {1});
                 throw std::runtime_error("capture failed");
             },
             std::runtime_error);
     },
     false},
    {"ConstructorFailsHalfWay",  // the data ids are written, the destination is refused
     [](Quil& client, unsigned short port) {
         EXPECT_THROW(StreamOutputAim(client, port, {1}, "192.0.2.7"), std::invalid_argument);
     },
     false},
    {"ExplicitRestore",
     [](Quil& client, unsigned short port) {
         StreamOutputAim aim(client, port, {1});
         aim.Restore();
         client.SetUDPStreamData({{3}});
     },
     true},
};

class SimStreamAimTest : public ::testing::TestWithParam<AimCase> {};

TEST_P(SimStreamAimTest, PutsTheOutputBackExactly) {
    const std::string address = TestAddress();
    const auto port = TestPort();
    VirtualSensor sensor(SimOptions(address));
    auto client = Connected(address, port, "operator");
    client->SetUDPStreamData({{0, 2}});
    client->SetProcessInterfaces(false, false, 0, false, "127.0.0.9", 5999, 0);
    const auto output = sensor.Read("ProcessInterfaces");
    client->GetStream()->Start();

    GetParam().use(*client, port);

    EXPECT_EQ(sensor.Read("ProcessInterfaces"), output);
    const std::vector<uint32_t> dataIds =
        GetParam().keepsLaterChange ? std::vector<uint32_t>{3} : std::vector<uint32_t>{0, 2};
    EXPECT_EQ(client->GetUDPStreamData().enabledDataIDs, dataIds);
}

void PrintTo(const AimCase& c, std::ostream* os) {
    *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(Aim, SimStreamAimTest, ::testing::ValuesIn(kAimCases));

TEST(SimStreamAimTest, AFailedRestoreIsReportedAndTriedAgainLater) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    auto client = Connected(TestAddress(), TestPort(), "operator");
    const auto output = sensor.Read("ProcessInterfaces");
    const auto dataIds = sensor.Read("UDPStreamData");
    StreamOutputAim aim(*client, TestPort(), {1});
    client->Disconnect();
    try {
        aim.Restore();
        ADD_FAILURE() << "Restore succeeded without a connection";
    } catch (const std::runtime_error& e) {
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("Could not restore the sensor's ProcessInterfaces: ", 0), 0u) << text;
        EXPECT_NE(text.find("; Could not restore the sensor's UDPStreamData: "), std::string::npos)
            << text;
    }
    client->Connect();
    client->Login("operator", "operator");
    aim.Restore();
    EXPECT_EQ(sensor.Read("ProcessInterfaces"), output);
    EXPECT_EQ(sensor.Read("UDPStreamData"), dataIds);
}
}  // namespace
}  // namespace Varkon::QUILApi
