#include "udpstreaming/QuilStreamApi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/ExpectThrow.h"
#include "support/TestAddresses.h"
#include "support/Wait.h"
#include "udpstreaming/StreamPackets.h"
#include "udpstreaming/protocol/PayloadDecoder.h"
#include "udpstreaming/transport/UdpTransport.h"

namespace Varkon::QUILApi::UdpStreaming {
namespace {

using Testing::Bytes;
using Testing::Fragments;
using Testing::PortIsFree;
using Testing::TestPort;
using Testing::WaitUntil;
using Testing::WholeBlock;
using Transport::UdpTransport;

std::string ReadFirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

Bytes Measurement(uint16_t encoder = 0) {
    Testing::MeasurementFields fields;
    fields.encoder = encoder;
    return Testing::MeasurementPayload(fields);
}

// A started stream on a real transport, fed through loopback on one of the test's own ports.
class StreamTest : public testing::Test {
protected:
    void Open(uint16_t port) {
        transport = std::make_shared<UdpTransport>("127.0.0.1", port);
        stream = std::make_shared<QuilStreamApi>(transport);
        sender = std::make_unique<Testing::LoopbackSender>(port);
        stream->Start();
    }

    void Send(const Bytes& datagram) { sender->Send(datagram); }
    void SendBlock(uint32_t blockId, const Bytes& payload) { Send(WholeBlock(blockId, payload)); }

    // Sends a measurement as a marker and waits until it arrives: everything sent before it has
    // then been handled. Only for use when no other measurement is on its way.
    bool Settle(uint32_t blockId) {
        const std::size_t before = stream->GetMeasurementCount();
        SendBlock(blockId, Measurement(0xABCD));
        return WaitUntil([&] { return stream->GetMeasurementCount() > before; });
    }

    std::vector<StreamError> PopErrors() {
        std::vector<StreamError> errors;
        while (stream->HasError()) {
            errors.push_back(stream->PopError());
        }
        return errors;
    }

    std::vector<uint32_t> PopMeasurementIds() {
        std::vector<uint32_t> ids;
        while (stream->HasMeasurement()) {
            ids.push_back(stream->PopMeasurement().blockId);
        }
        return ids;
    }

    std::shared_ptr<UdpTransport> transport;
    std::shared_ptr<QuilStreamApi> stream;
    std::unique_ptr<Testing::LoopbackSender> sender;
};

// Every counter of `statistics` is as `expected` says, or 0 when not named there.
void ExpectCounters(const StreamStatistics& statistics,
                    const std::map<std::string, uint64_t>& expected) {
    for (const auto& [name, member] : StreamStatistics::kCounters) {
        const auto found = expected.find(name);
        EXPECT_EQ(statistics.*member, found == expected.end() ? 0 : found->second) << name;
    }
}

TEST_F(StreamTest, StartsWithTheDefaults) {
    Open(TestPort());
    EXPECT_TRUE(transport->IsOpen());
    EXPECT_EQ(stream->GetQueueCapacity(), 10000u);
    EXPECT_EQ(stream->GetQueueOverflowPolicy(), DropOldest);
    EXPECT_FALSE(stream->HasError());
    EXPECT_FALSE(stream->HasMeasurement());
    EXPECT_FALSE(stream->HasProfile());
    // A large buffer is asked for at once; the system may grant less, up to its limit.
    const StreamStatistics opened = stream->GetStatistics();
    EXPECT_EQ(opened.receiveBufferRequested, StreamStatistics::kDefaultReceiveBuffer);
    EXPECT_EQ(opened.receiveBufferGranted,
              std::min(StreamStatistics::kDefaultReceiveBuffer,
                       std::stoi(ReadFirstLine("/proc/sys/net/core/rmem_max"))));
    EXPECT_EQ(opened.ReceiveBufferCapped(),
              opened.receiveBufferGranted < StreamStatistics::kDefaultReceiveBuffer);
    stream->SetReceiveBufferSize(100000);
    EXPECT_EQ(stream->GetReceiveBufferSize(), transport->GetReceiveBufferSize());
    EXPECT_EQ(stream->GetStatistics().receiveBufferRequested, 100000);
    EXPECT_EQ(stream->GetStatistics().receiveBufferGranted, 100000);
    ExpectCounters(stream->GetStatistics(), {});
}

TEST_F(StreamTest, PopsOnEmptyQueuesThrow) {
    Open(TestPort());
    EXPECT_TRUE(
        Testing::Throws<std::out_of_range>([&] { stream->PopError(); }, "Error queue is empty."));
    EXPECT_TRUE(Testing::Throws<std::out_of_range>([&] { stream->PopMeasurement(); },
                                                   "Measurement queue is empty."));
    EXPECT_TRUE(Testing::Throws<std::out_of_range>([&] { stream->PopProfile(); },
                                                   "Profile queue is empty."));
}

TEST_F(StreamTest, DeliversMeasurements) {
    Open(TestPort());
    Testing::MeasurementFields fields;
    fields.flagBytes[0] = 1;
    fields.qualityId = 3;
    fields.values[6] = -1.25f;
    fields.measrate = 100.5f;
    fields.seconds = 2;
    fields.microseconds = 500;
    fields.encoder = 1234;
    SendBlock(1, Testing::MeasurementPayload(fields));
    ASSERT_TRUE(WaitUntil([&] { return stream->HasMeasurement(); }));

    StreamMeasurement expected;
    expected.blockId = 1;
    expected.qualityID = 3;
    expected.flags[0] = true;
    expected.values[6] = -1.25;
    expected.measrate = 100.5;
    expected.timestamp = 2000500;
    expected.EncoderValue = 1234;
    EXPECT_EQ(stream->GetMeasurementCount(), 1u);
    EXPECT_TRUE(stream->PopMeasurement() == expected);
    EXPECT_FALSE(stream->HasError());
}

TEST_F(StreamTest, DeliversProfilesOfEveryDataId) {
    Open(TestPort());
    for (uint8_t dataId : {1, 2, 3}) {
        SendBlock(dataId, Testing::SyntheticProfile(dataId, 3));
    }
    ASSERT_TRUE(WaitUntil([&] { return stream->GetProfileCount() == 3; }));
    for (uint8_t dataId : {1, 2, 3}) {
        const StreamProfile expected =
            Protocol::DecodeProfile(dataId, Testing::SyntheticProfile(dataId, 3));
        const StreamProfile profile = stream->PopProfile();
        EXPECT_TRUE(profile == expected) << int(dataId);
        EXPECT_EQ(profile.channel0.size(), 3u);
    }
    EXPECT_FALSE(stream->HasError());
}

TEST_F(StreamTest, ReassemblesFragmentedProfilesSentOutOfOrder) {
    Open(TestPort());
    const Bytes payload = Testing::SyntheticProfile(3, 2000);  // 12024 bytes, 6 frames
    std::vector<Bytes> packets = Fragments(7, payload);
    ASSERT_EQ(packets.size(), 6u);
    std::reverse(packets.begin() + 1, packets.end());
    for (const Bytes& packet : packets) {
        Send(packet);
    }
    ASSERT_TRUE(WaitUntil([&] { return stream->HasProfile(); }));
    const StreamProfile profile = stream->PopProfile();
    EXPECT_TRUE(profile == Protocol::DecodeProfile(7, payload));
    EXPECT_EQ(profile.channel2.back(), static_cast<uint16_t>((2000 * 3 - 1) * 7 + 1));
    EXPECT_FALSE(stream->HasError());
}

TEST_F(StreamTest, AnUnfinishedBlockTimesOutWithoutAFurtherDatagram) {
    Open(TestPort());
    Send(Fragments(7, Testing::SyntheticProfile(3, 2000)).front());  // the rest never comes
    const auto error = stream->PopErrorFor(std::chrono::seconds(5));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->blockId, 7u);
    EXPECT_EQ(error->type, FragmentTimeout);
    EXPECT_EQ(stream->GetStatistics().fragmentedBlocksTimedOut, 1u);
}

TEST_F(StreamTest, TurnsBadBlocksIntoErrorEntriesAndCountsThem) {
    Open(TestPort());
    Send({});
    Send({1, 2, 3});
    Send(Testing::Packet(9, 9, 0, Measurement()));  // kind 9: nothing
    SendBlock(1, {});
    SendBlock(2, Bytes(40, 0));
    SendBlock(3, {7, 1, 2});              // data id 7: nothing
    Send(WholeBlock(4, Bytes(3000, 0)));  // cut by the receive: not decoded as if whole
    SendBlock(4000000000u, {7, 1, 2});    // not a block of the stream: no ids lost for it
    SendBlock(5, Measurement());
    SendBlock(5, Measurement());
    SendBlock(4, Measurement());
    ASSERT_TRUE(Settle(1001));
    const std::vector<StreamError> expected = {
        {0, InvalidPacket, "Packet is null."},
        {0, InvalidPacket, "Packet size is 3 bytes."},
        {1, EmptyContent, "Received a packet with empty content."},
        {0, StreamingTaskException, "Exception in streaming task: Expected 50 bytes, got 40"},
        {4, InvalidPacket, "Packet is longer than 2048 bytes and was cut off."},
        {5, DuplicateBlockId, "Received packet with blockid 5 twice."},
        {4, UnexpectedBlockId, "Received packet with blockid 4, expected 6."},
        {1001, PacketsLost,
         "One or more packets lost: Last received blockid was 5, received 1001."}};
    EXPECT_EQ(PopErrors(), expected);
    EXPECT_EQ(PopMeasurementIds(), (std::vector<uint32_t>{5, 5, 4, 1001}));
    EXPECT_FALSE(stream->HasProfile());
    ExpectCounters(stream->GetStatistics(),
                   {{"datagramsReceived", 12},
                    {"bytesReceived", 0 + 3 + 58 + 8 + 48 + 11 + 2048 + 11 + 4 * 58},
                    {"datagramsTooShort", 2},
                    {"datagramsUnknownKind", 1},
                    {"datagramsTooLong", 1},
                    {"measurementBlocks", 4},
                    {"blocksUnknownDataId", 2},
                    {"blocksEmpty", 1},
                    {"blocksLost", 995},
                    {"blocksDuplicated", 1},
                    {"blocksOutOfOrder", 1},
                    {"decodeFailures", 1}});
    stream->ResetStatistics();
    ExpectCounters(stream->GetStatistics(), {});
    ASSERT_TRUE(Settle(1002));
    ExpectCounters(stream->GetStatistics(),
                   {{"datagramsReceived", 1}, {"bytesReceived", 58}, {"measurementBlocks", 1}});
}

TEST_F(StreamTest, WaitsReturnEachKindOfEntryAsItArrives) {
    struct Case {
        const char* name;
        Bytes datagram;
        std::function<bool(QuilStream&)> popped;  // waits long and tells whether it got one
    } cases[] = {
        {"profile", WholeBlock(1, Testing::SyntheticProfile(1, 3)),
         [](QuilStream& s) { return s.PopProfileFor(std::chrono::seconds(20)).has_value(); }},
        {"measurement", WholeBlock(2, Measurement()),
         [](QuilStream& s) { return s.PopMeasurementFor(std::chrono::seconds(20)).has_value(); }},
        {"error", Bytes{1, 2, 3},
         [](QuilStream& s) { return s.PopErrorFor(std::chrono::seconds(20)).has_value(); }},
        {"any", WholeBlock(3, Measurement()),
         [](QuilStream& s) { return s.WaitForData(std::chrono::milliseconds::max()); }},
    };
    unsigned port = 0;
    for (const Case& c : cases) {
        Open(TestPort(port++));
        auto waiter = std::async(std::launch::async, [&] { return c.popped(*stream); });
        Send(c.datagram);
        ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready) << c.name;
        EXPECT_TRUE(waiter.get()) << c.name;
    }
}

TEST_F(StreamTest, WaitsTimeOutAtTheirLimitAndNotBefore) {
    Open(TestPort());
    using std::chrono::milliseconds;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(stream->PopProfileFor(milliseconds(30)).has_value());
    EXPECT_FALSE(stream->PopMeasurementFor(milliseconds(30)).has_value());
    EXPECT_FALSE(stream->PopErrorFor(milliseconds(30)).has_value());
    EXPECT_FALSE(stream->WaitForData(milliseconds(30)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(120));
}

TEST_F(StreamTest, WaitsOnAStreamThatCannotReceiveReturnAtOnce) {
    const auto returnsAtOnce = [&](const char* state) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(stream->PopProfileFor(std::chrono::minutes(1)).has_value()) << state;
        EXPECT_FALSE(stream->WaitForData(std::chrono::milliseconds::max())) << state;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << state;
    };
    transport = std::make_shared<UdpTransport>("127.0.0.1", TestPort());
    stream = std::make_shared<QuilStreamApi>(transport);
    returnsAtOnce("never started");
    stream->Start();
    stream->Stop();
    returnsAtOnce("stopped");

    Open(TestPort(1));
    auto waiter = std::async(std::launch::async, [&] {
        return stream->PopProfileFor(std::chrono::minutes(1)).has_value();
    });
    SendBlock(1, Testing::SyntheticProfile(1, 3));
    ASSERT_TRUE(WaitUntil([&] { return stream->GetStatistics().profileBlocks1 == 1; }));
    SendBlock(2, Testing::SyntheticProfile(1, 3));
    ASSERT_TRUE(WaitUntil([&] { return stream->GetStatistics().profileBlocks1 == 2; }));
    stream->Close();
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(waiter.get());
    // The queue stays readable after Close: the entry the waiter left is still handed out.
    EXPECT_TRUE(stream->PopProfileFor(std::chrono::minutes(1)).has_value());
    returnsAtOnce("closed");
}

TEST_F(StreamTest, SeveralWaitersEachGetAnEntryOfTheirOwn) {
    Open(TestPort());
    std::vector<std::future<std::optional<StreamMeasurement>>> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.push_back(std::async(std::launch::async, [&] {
            return stream->PopMeasurementFor(std::chrono::seconds(20));
        }));
    }
    for (uint32_t id : {1, 2, 3}) {
        SendBlock(id, Measurement());
    }
    std::vector<uint32_t> got;
    for (auto& waiter : waiters) {
        const auto measurement = waiter.get();
        ASSERT_TRUE(measurement.has_value());
        got.push_back(measurement->blockId);
    }
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<uint32_t>{1, 2, 3}));
}

TEST_F(StreamTest, DatagramsTheSystemDroppedAreCounted) {
    Open(TestPort());
    stream->SetReceiveBufferSize(4096);
    stream->Stop();  // the reader pauses; the small buffer fills
    const int sent = 2000;
    for (int id = 1; id <= sent; ++id) {
        SendBlock(static_cast<uint32_t>(id), Bytes(1000, 7));  // data id 7: counted only
    }
    stream->Start();
    // The marker arrives after the drops and carries the system's count of them.
    ASSERT_TRUE(Settle(sent + 1));
    const StreamStatistics statistics = stream->GetStatistics();
    EXPECT_GT(statistics.kernelDrops, 0u);
    EXPECT_EQ(statistics.datagramsReceived + statistics.kernelDrops, sent + 1u);
}

int64_t SystemMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST_F(StreamTest, ProfilesCarryTheArrivalOfTheirLastDatagramWhenAskedTo) {
    struct Case {
        const char* name;
        bool arrivalTimes;
        uint32_t points;  // 2000: six datagrams
    } cases[] = {{"off", false, 3}, {"whole", true, 3}, {"fragmented", true, 2000}};
    unsigned port = 0;
    for (const Case& c : cases) {
        Open(TestPort(port++));
        stream->SetArrivalTimes(c.arrivalTimes);
        const Bytes payload = Testing::SyntheticProfile(3, c.points);
        const std::vector<Bytes> packets = Testing::Datagrams(1, payload);
        // All but the last datagram are handled before the time the profile must come after.
        for (std::size_t i = 0; i + 1 < packets.size(); ++i) {
            Send(packets[i]);
        }
        ASSERT_TRUE(WaitUntil([&] {
            return stream->GetStatistics().datagramsReceived == packets.size() - 1;
        })) << c.name;
        const int64_t before = SystemMicroseconds();
        Send(packets.back());
        const std::optional<TimedProfile> timed =
            stream->PopTimedProfileFor(std::chrono::seconds(5));
        const int64_t after = SystemMicroseconds();
        ASSERT_TRUE(timed.has_value()) << c.name;
        EXPECT_TRUE(timed->profile == Protocol::DecodeProfile(1, payload)) << c.name;
        if (c.arrivalTimes) {
            EXPECT_GE(timed->arrivalMicroseconds, before) << c.name;
            EXPECT_LE(timed->arrivalMicroseconds, after) << c.name;
        } else {
            EXPECT_EQ(timed->arrivalMicroseconds, 0) << c.name;
        }
    }
}

TEST_F(StreamTest, AcceptsOnlyTheChosenSenderAndCountsTheOthers) {
    struct Case {
        const char* name;
        bool acceptOnlyFirst;
        std::vector<uint32_t> delivered;  // of measurements 1 (second sender) and 2 (first)
        uint64_t otherSender;
    } cases[] = {{"every sender", false, {1, 2}, 0}, {"only the first", true, {2}, 1}};
    unsigned port = 0;
    for (const Case& c : cases) {
        Open(TestPort(port));
        const std::string first = Testing::TestAddress(0);
        stream->AcceptOnlyFrom(c.acceptOnlyFirst ? first : "");
        Testing::LoopbackSender firstSender(TestPort(port), first.c_str());
        Testing::LoopbackSender secondSender(TestPort(port++), Testing::TestAddress(1).c_str());
        secondSender.Send(WholeBlock(1, Measurement()));
        firstSender.Send(WholeBlock(2, Measurement()));
        ASSERT_TRUE(WaitUntil([&] { return stream->HasMeasurement(); })) << c.name;
        // A datagram sent after the others marks their end.
        firstSender.Send(WholeBlock(3, Testing::SyntheticProfile(1, 1)));
        ASSERT_TRUE(stream->PopProfileFor(std::chrono::seconds(5)).has_value()) << c.name;
        EXPECT_EQ(PopMeasurementIds(), c.delivered) << c.name;
        const StreamStatistics statistics = stream->GetStatistics();
        EXPECT_EQ(statistics.datagramsOtherSender, c.otherSender) << c.name;
        EXPECT_EQ(statistics.datagramsReceived, c.delivered.size() + 1) << c.name;
    }
}

TEST_F(StreamTest, AcceptOnlyFromRefusesWhatIsNoIPv4Address) {
    Open(TestPort());
    for (const char* text : {"sensor", "127.0.0.256", "::1", " 127.0.0.1"}) {
        EXPECT_TRUE(Testing::Throws<std::invalid_argument>(
            [&] { stream->AcceptOnlyFrom(text); }, std::string(text) + " is not an IPv4 address."))
            << text;
    }
}

TEST_F(StreamTest, ReportsAProfileTooLargeForAnyBlockWithoutAllocatingIt) {
    Open(TestPort());
    Testing::ProfileFields fields;
    fields.pointCount = 4000000000u;
    SendBlock(1, Testing::ProfilePayload(fields, {}));
    ASSERT_TRUE(Settle(2));
    EXPECT_EQ(PopErrors(), (std::vector<StreamError>{
                               {0, StreamingTaskException,
                                "Exception in streaming task: Point count 4000000000 exceeds the "
                                "22281896 points that a block can hold."}}));
    EXPECT_FALSE(stream->HasProfile());
}

// A transport that hands out scripted datagrams and, when none is left, lets the wait run out
// at once.
class ScriptedTransport : public Transport::IUdpTransport {
public:
    std::string GetHost() override { return "scripted"; }
    uint16_t GetPort() override { return 0; }
    bool IsOpen() override { return open; }
    void Open() override { open = true; }
    void Close() override { open = false; }
    int GetReceiveBufferSize() override { return 0; }
    void SetReceiveBufferSize(const int&) override {}
    bool ReceiveDatagram(std::vector<uint8_t>& datagram, ReceiveInfo& info) override {
        ++receives;
        info = {};
        std::lock_guard<std::mutex> lock(mutex);
        if (failNext) {
            failNext = false;
            throw std::runtime_error("socket gone");
        }
        if (script.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return false;
        }
        datagram = script.front();
        script.pop_front();
        return true;
    }

    std::atomic<bool> open{false};
    std::atomic<int> receives{0};
    std::mutex mutex;
    std::deque<Bytes> script;
    bool failNext = false;
};

struct OverflowCase {
    const char* name;
    QueueOverflowPolicy policy;
    std::size_t capacity;
    std::vector<uint32_t> kept;  // of the measurements 1, 2, 3
};

class Overflow : public testing::TestWithParam<OverflowCase> {};

TEST_P(Overflow, KeepsWhatThePolicySays) {
    auto transport = std::make_shared<ScriptedTransport>();
    for (uint32_t id : {1, 2, 3}) {
        transport->script.push_back(WholeBlock(id, Measurement()));
    }
    auto stream = std::make_shared<QuilStreamApi>(transport);
    stream->SetQueueOverflowPolicy(GetParam().policy);
    stream->SetQueueCapacity(GetParam().capacity);
    EXPECT_EQ(stream->GetQueueOverflowPolicy(), GetParam().policy);
    EXPECT_EQ(stream->GetQueueCapacity(), GetParam().capacity);
    stream->Start();
    // The worker asks for a fourth datagram only once it has handled the third.
    ASSERT_TRUE(WaitUntil([&] { return transport->receives > 3; }));
    std::vector<uint32_t> kept;
    while (stream->HasMeasurement()) {
        kept.push_back(stream->PopMeasurement().blockId);
    }
    EXPECT_EQ(kept, GetParam().kept);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Overflow,
    testing::Values(OverflowCase{"DropOldest", DropOldest, 2, {2, 3}},
                    OverflowCase{"DropNew", DropNew, 2, {1, 2}},
                    OverflowCase{
                        "UnknownPolicyDropsNew", static_cast<QueueOverflowPolicy>(7), 2, {1, 2}},
                    OverflowCase{"NoRoomDropOldest", DropOldest, 0, {}},
                    OverflowCase{"NoRoomDropNew", DropNew, 0, {}},
                    OverflowCase{"Room", DropNew, 3, {1, 2, 3}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StreamTest, LoweredCapacityKeepsTheStoredEntries) {
    Open(TestPort());
    for (uint32_t id : {1, 2, 3, 4}) {
        SendBlock(id, Measurement());
    }
    // Wait for all four: a marker counted against an earlier count could pass too soon.
    ASSERT_TRUE(WaitUntil([&] { return stream->GetMeasurementCount() == 4; }));
    stream->SetQueueCapacity(1);
    EXPECT_EQ(stream->GetMeasurementCount(), 4u);
    SendBlock(5, Measurement());
    SendBlock(6, Testing::SyntheticProfile(1, 1));  // marks the end
    ASSERT_TRUE(WaitUntil([&] { return stream->HasProfile(); }));
    EXPECT_EQ(PopMeasurementIds(), (std::vector<uint32_t>{2, 3, 4, 5}));
}

TEST_F(StreamTest, UrgentErrorsPassAFullQueueUpToTwiceItsCapacity) {
    struct Case {
        QueueOverflowPolicy policy;
        std::vector<uint32_t> kept;  // of the empty blocks 1 to 6
    } cases[] = {{DropOldest, {3, 4, 5, 6}}, {DropNew, {1, 2, 3, 4}}};
    unsigned port = 0;
    for (const Case& c : cases) {
        Open(TestPort(port++));
        stream->SetQueueCapacity(2);
        stream->SetQueueOverflowPolicy(c.policy);
        for (uint32_t id = 1; id <= 6; ++id) {
            SendBlock(id, {});
        }
        ASSERT_TRUE(Settle(7));
        std::vector<uint32_t> kept;
        for (const StreamError& error : PopErrors()) {
            EXPECT_EQ(error.type, EmptyContent);
            kept.push_back(error.blockId);
        }
        EXPECT_EQ(kept, c.kept);
    }
}

TEST_F(StreamTest, EmptyContentIsQueuedEvenWhenTheErrorQueueIsFull) {
    Open(TestPort());
    stream->SetQueueCapacity(2);
    stream->SetQueueOverflowPolicy(DropNew);
    Send({1});
    Send({1, 2});
    Send({1, 2, 3});  // discarded
    SendBlock(1, {});
    ASSERT_TRUE(Settle(2));
    EXPECT_EQ(PopErrors(), (std::vector<StreamError>{
                               {0, InvalidPacket, "Packet size is 1 bytes."},
                               {0, InvalidPacket, "Packet size is 2 bytes."},
                               {1, EmptyContent, "Received a packet with empty content."}}));
}

TEST_F(StreamTest, StopAndStartResumeDelivery) {
    Open(TestPort());
    stream->Stop();
    SendBlock(1, Measurement());  // waits in the socket, or is the datagram in hand
    stream->Start();
    ASSERT_TRUE(Settle(2));
    EXPECT_EQ(PopMeasurementIds(), (std::vector<uint32_t>{1, 2}));
}

TEST_F(StreamTest, CloseEndsTheWorkerPromptlyAndKeepsTheQueues) {
    Open(TestPort());
    ASSERT_TRUE(Settle(1));  // then nothing arrives: the worker waits for a datagram
    const auto start = std::chrono::steady_clock::now();
    stream->Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_FALSE(transport->IsOpen());
    EXPECT_TRUE(PortIsFree(TestPort()));
    stream->Close();
    stream->Start();  // closed for good
    EXPECT_EQ(PopMeasurementIds(), (std::vector<uint32_t>{1}));
}

TEST_F(StreamTest, CloseAndStopFromSeveralThreadsAtOnceAllReturn) {
    Open(TestPort());
    ASSERT_TRUE(Settle(1));
    constexpr int kCallers = 8;
    auto returned = std::make_shared<std::atomic<int>>(0);
    std::vector<std::thread> callers;
    for (int i = 0; i < kCallers; ++i) {
        callers.emplace_back([stream = stream, returned, i] {
            if (i % 2 == 0) {
                stream->Stop();
            }
            stream->Close();
            stream->Close();
            ++*returned;
        });
    }
    const bool allReturned = WaitUntil([&] { return *returned == kCallers; });
    for (std::thread& caller : callers) {
        allReturned ? caller.join() : caller.detach();  // a hung caller must not hang the test
    }
    EXPECT_TRUE(allReturned) << *returned << " of " << kCallers << " returned";
    EXPECT_FALSE(transport->IsOpen());
}

TEST_F(StreamTest, ReleasedStreamStopsAndFreesThePort) {
    Open(TestPort());
    ASSERT_TRUE(Settle(1));
    const auto start = std::chrono::steady_clock::now();
    stream.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_FALSE(transport->IsOpen());  // even while the client still holds the transport
    EXPECT_TRUE(PortIsFree(TestPort()));

    Open(TestPort(1));
    stream.reset();
    transport.reset();
    EXPECT_TRUE(PortIsFree(TestPort(1)));
}

TEST(Stream, PortInUseFailsAndWorksOnceFree) {
    auto blocker = std::make_shared<UdpTransport>("h", TestPort());
    blocker->Open();
    auto transport = std::make_shared<UdpTransport>("127.0.0.1", TestPort());
    try {
        std::make_shared<QuilStreamApi>(transport);
        ADD_FAILURE() << "a stream on a port in use";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("UdpTransport::Open Error: ", 0), 0u) << e.what();
    }
    blocker->Close();
    auto stream = std::make_shared<QuilStreamApi>(transport);
    EXPECT_TRUE(transport->IsOpen());
}

TEST(Stream, IdleWaitsAreNotPackets) {
    auto transport = std::make_shared<ScriptedTransport>();
    transport->script.push_back(WholeBlock(1, Measurement()));
    auto stream = std::make_shared<QuilStreamApi>(transport);
    EXPECT_TRUE(transport->IsOpen());
    stream->Start();
    ASSERT_TRUE(WaitUntil([&] { return transport->receives > 20; }));
    stream->Close();
    EXPECT_EQ(stream->GetMeasurementCount(), 1u);  // never the previous block again
    EXPECT_FALSE(stream->HasError());
    EXPECT_FALSE(transport->IsOpen());
}

TEST(Stream, AFailingReceiveEndsTheWorkerWithOneEntry) {
    auto transport = std::make_shared<ScriptedTransport>();
    transport->failNext = true;
    transport->script.push_back(WholeBlock(1, Measurement()));
    auto stream = std::make_shared<QuilStreamApi>(transport);
    stream->Start();
    ASSERT_TRUE(WaitUntil([&] { return stream->HasError(); }));
    stream->Close();
    EXPECT_TRUE(stream->PopError() == (StreamError{0, StreamingTaskException,
                                                   "Exception in streaming task: socket gone"}));
    EXPECT_FALSE(stream->HasError());
    EXPECT_FALSE(stream->HasMeasurement());
    EXPECT_EQ(transport->receives, 1);
}

}  // namespace
}  // namespace Varkon::QUILApi::UdpStreaming
