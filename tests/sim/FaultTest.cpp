// Fault injection of the virtual sensor, and the errors the library reports for each fault.
#include "SimSupport.h"
#include "support/ExpectThrow.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

namespace Varkon::QUILApi {
namespace {

using Sim::FaultRates;
using Sim::InjectedFaults;
using Sim::VirtualSensor;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Testing::Connected;
using Testing::SimOptions;
using Testing::TestAddress;
using Testing::TestPort;
using Testing::Throws;
using Testing::WaitUntil;
using UdpStreaming::PacketErrorType;
using UdpStreaming::StreamStatistics;

const std::string kNoConnectReply =
    "No matching response found to request with sessionID: 0 msgID: 1";

TEST(SimFaultTest, AMissingReplyIsATimeOut) {
    auto options = SimOptions(TestAddress());
    options.faults.replyMissing = 1.0;
    VirtualSensor sensor(options);
    auto client = Quil::Create(TestAddress(), TestPort());
    EXPECT_TRUE(Throws<std::runtime_error>([&] { client->Connect(); }, kNoConnectReply));
    sensor.SetFaults({});
    client->Connect();
    EXPECT_EQ(client->GetExposureTime(), 500u);
}

TEST(SimFaultTest, AReplyLaterThanTheLimitIsATimeOutAndAShortDelayIsNot) {
    auto options = SimOptions(TestAddress());
    options.faults.replyDelay = 1.0;
    options.faults.replyDelayTime = milliseconds(900);
    VirtualSensor sensor(options);
    auto client = Quil::Create(TestAddress(), TestPort());
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
    auto options = SimOptions(TestAddress());
    options.faults.connectionDrop = 1.0;
    VirtualSensor sensor(options);
    auto client = Quil::Create(TestAddress(), TestPort());
    EXPECT_TRUE(Throws<std::runtime_error>([&] { client->Connect(); }, kNoConnectReply));
    EXPECT_TRUE(sensor.WaitForOpenConnections(0, seconds(5)));
}

struct DatagramCase {
    const char* name;
    FaultRates faults;
    uint32_t dataId;
    PacketErrorType expected;
    // What the stream counted of the fault, and what the sensor injected; none for fragments,
    // where one lost datagram can cost a block in several ways.
    uint64_t (*counted)(const StreamStatistics&);
    uint64_t InjectedFaults::*injected;
};

FaultRates Rates(double FaultRates::*rate, double value) {
    FaultRates faults;
    faults.*rate = value;
    return faults;
}

const DatagramCase kDatagramCases[] = {
    {"Loss", Rates(&FaultRates::datagramLoss, 0.2), 0, UdpStreaming::PacketsLost,
     [](const StreamStatistics& s) { return s.blocksLost; }, &InjectedFaults::lost},
    {"Duplicate", Rates(&FaultRates::datagramDuplicate, 0.2), 0, UdpStreaming::DuplicateBlockId,
     [](const StreamStatistics& s) { return s.blocksDuplicated; }, &InjectedFaults::duplicated},
    {"Reorder", Rates(&FaultRates::datagramReorder, 0.2), 0, UdpStreaming::UnexpectedBlockId,
     [](const StreamStatistics& s) { return s.blocksOutOfOrder; }, &InjectedFaults::reordered},
    {"Truncate", Rates(&FaultRates::datagramTruncate, 0.2), 0, UdpStreaming::StreamingTaskException,
     [](const StreamStatistics& s) {
         return s.datagramsTooShort + s.blocksEmpty + s.decodeFailures;
     },
     &InjectedFaults::truncated},
    {"FragmentLoss", Rates(&FaultRates::datagramLoss, 0.2), 3, UdpStreaming::FragmentTimeout,
     nullptr, nullptr},
};

void PrintTo(const DatagramCase& c, std::ostream* os) {
    *os << c.name;
}

class SimDatagramFaultTest : public ::testing::TestWithParam<DatagramCase> {};

// The faults start once the first block has arrived and end well before the counts are taken,
// so that every fault falls between two blocks that arrived and is counted.
TEST_P(SimDatagramFaultTest, TheStreamReportsAndCountsTheFault) {
    const std::string address = TestAddress();
    const auto port = TestPort();
    auto options = SimOptions(address);
    options.profileRate = 500;
    VirtualSensor sensor(options);
    auto client = Connected(address, port, "operator");
    auto stream = client->GetStream();
    stream->Start();
    StreamOutputAim aim(*client, port, {GetParam().dataId});
    ASSERT_TRUE(stream->WaitForData(seconds(10)));
    sensor.SetFaults(GetParam().faults);
    bool seen = false;
    ASSERT_TRUE(WaitUntil(
        [&] {
            while (!seen && stream->HasError()) {
                seen = stream->PopError().type == GetParam().expected;
            }
            return seen && stream->GetStatistics().BlocksDelivered() >= 300;
        },
        seconds(20)));
    sensor.SetFaults({});
    const uint64_t delivered = stream->GetStatistics().BlocksDelivered();
    ASSERT_TRUE(WaitUntil(
        [&] { return stream->GetStatistics().BlocksDelivered() >= delivered + 50; }, seconds(20)));
    if (GetParam().counted != nullptr) {
        EXPECT_EQ(GetParam().counted(stream->GetStatistics()),
                  sensor.Injected().*GetParam().injected);
    }
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
