// Fault injection of the virtual sensor, and the errors the library reports for each fault.
#include "SimSupport.h"
#include "support/ExpectThrow.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

namespace Varkon::QUILApi {
namespace {

using Sim::FaultRates;
using Sim::VirtualSensor;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Testing::Connected;
using Testing::SimOptions;
using Testing::Throws;
using Testing::WaitUntil;
using UdpStreaming::PacketErrorType;

const std::string kNoConnectReply =
    "No matching response found to request with sessionID: 0 msgID: 1";

TEST(SimFaultTest, AMissingReplyIsATimeOut) {
    auto options = SimOptions("127.0.6.40");
    options.faults.replyMissing = 1.0;
    VirtualSensor sensor(options);
    auto client = Quil::Create("127.0.6.40", 23000);
    EXPECT_TRUE(Throws<std::runtime_error>([&] { client->Connect(); }, kNoConnectReply));
    sensor.SetFaults({});
    client->Connect();
    EXPECT_EQ(client->GetExposureTime(), 500u);
}

TEST(SimFaultTest, AReplyLaterThanTheLimitIsATimeOutAndAShortDelayIsNot) {
    auto options = SimOptions("127.0.6.41");
    options.faults.replyDelay = 1.0;
    options.faults.replyDelayTime = milliseconds(900);
    VirtualSensor sensor(options);
    auto client = Quil::Create("127.0.6.41", 23000);
    EXPECT_TRUE(Throws<std::runtime_error>([&] { client->Connect(); }, kNoConnectReply));
    FaultRates shortDelay;
    shortDelay.replyDelay = 1.0;
    shortDelay.replyDelayTime = milliseconds(30);
    sensor.SetFaults(shortDelay);
    const auto start = std::chrono::steady_clock::now();
    client->Connect();
    EXPECT_EQ(client->GetExposureTime(), 500u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(60));
}

TEST(SimFaultTest, ADroppedConnectionLeavesTheRequestUnanswered) {
    auto options = SimOptions("127.0.6.42");
    options.faults.connectionDrop = 1.0;
    VirtualSensor sensor(options);
    auto client = Quil::Create("127.0.6.42", 23000);
    EXPECT_TRUE(Throws<std::runtime_error>([&] { client->Connect(); }, kNoConnectReply));
    EXPECT_TRUE(sensor.WaitForOpenConnections(0, seconds(5)));
}

struct DatagramCase {
    const char* name;
    FaultRates faults;
    uint32_t dataId;
    PacketErrorType expected;
};

FaultRates Rates(double FaultRates::*rate, double value) {
    FaultRates faults;
    faults.*rate = value;
    return faults;
}

const DatagramCase kDatagramCases[] = {
    {"Loss", Rates(&FaultRates::datagramLoss, 0.2), 0, UdpStreaming::PacketsLost},
    {"Duplicate", Rates(&FaultRates::datagramDuplicate, 0.2), 0, UdpStreaming::DuplicateBlockId},
    {"Reorder", Rates(&FaultRates::datagramReorder, 0.2), 0, UdpStreaming::UnexpectedBlockId},
    {"Truncate", Rates(&FaultRates::datagramTruncate, 0.2), 0,
     UdpStreaming::StreamingTaskException},
    {"FragmentLoss", Rates(&FaultRates::datagramLoss, 0.2), 3, UdpStreaming::FragmentTimeout},
};

void PrintTo(const DatagramCase& c, std::ostream* os) {
    *os << c.name;
}

class SimDatagramFaultTest : public ::testing::TestWithParam<DatagramCase> {};

TEST_P(SimDatagramFaultTest, TheStreamReportsTheFault) {
    const int n = Testing::ParamIndex();
    const std::string address = "127.0.6." + std::to_string(43 + n);
    const auto port = static_cast<unsigned short>(23010 + n);
    auto options = SimOptions(address);
    options.profileRate = 500;
    options.faults = GetParam().faults;
    VirtualSensor sensor(options);
    auto client = Connected(address, port, "operator");
    auto stream = client->GetStream();
    stream->Start();
    client->SetUDPStreamData({{GetParam().dataId}});
    client->SetProcessInterfaces(false, false, 0, true, "127.0.0.1", port, 0);
    bool seen = false;
    ASSERT_TRUE(WaitUntil(
        [&] {
            while (!seen && stream->HasError()) {
                seen = stream->PopError().type == GetParam().expected;
            }
            return seen;
        },
        seconds(20)));
    client->SetProcessInterfaces(false, false, 0, false, "127.0.0.1", port, 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, SimDatagramFaultTest, ::testing::ValuesIn(kDatagramCases));

TEST(SimFaultTest, WithoutFaultsTheSameSeedRepeatsTheFaultsToo) {
    Sim::Faults a(7, Rates(&FaultRates::datagramLoss, 0.5));
    Sim::Faults b(7, Rates(&FaultRates::datagramLoss, 0.5));
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(a.NextDatagram(), b.NextDatagram());
    }
    Sim::Faults none(7, {});
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(none.NextDatagram(), Sim::Faults::Datagram::Send);
        ASSERT_EQ(none.NextReply(), Sim::Faults::Reply::Answer);
    }
}

}  // namespace
}  // namespace Varkon::QUILApi
