// Recording a live stream and replaying the recording: the replay delivers what the live
// stream did, tcpdump reads the capture, and the description file tells what was recorded.
#include "RecordingSupport.h"
#include "support/ExpectThrow.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>

namespace Varkon::QUILApi::Testing {
namespace {

using namespace std::chrono_literals;
using UdpStreaming::RecordingOptions;
using UdpStreaming::RecordingReplay;
using UdpStreaming::RecordingStatus;

bool HasTcpdump() {
    return RunCommand("tcpdump --version >/dev/null 2>&1").second == 0;
}

TEST(RecordReplayTest, ReplayDeliversWhatTheLiveStreamDidAndTcpdumpReadsTheCapture) {
    TemporaryFolder folder;
    const std::string capture = folder / "line.pcap";
    StreamingSensor line(TestAddress(), TestPort());
    line.Aim();  // the socket keeps what comes before Start
    RecordingOptions options;
    options.sensorDescription = DescribeSensorForRecording(*line.client, R"({"exposure-time": 1})");
    line.stream->StartRecording(capture, options);
    EXPECT_THROW(line.stream->StartRecording(folder / "other.pcap"), std::logic_error);
    line.stream->Start();
    ASSERT_TRUE(line.WaitForProfiles(300));
    const RecordingStatus status = line.stream->StopRecording();
    Delivered live;
    line.aim.reset();
    live.Drain(*line.stream);

    EXPECT_EQ(status.error, "");
    EXPECT_FALSE(status.recording);
    EXPECT_EQ(status.datagramsDropped, 0u);
    EXPECT_GT(status.datagramsWritten, 600u);

    // Every datagram received while recording is in the capture, so the replay is the live
    // stream's beginning, block ids included.
    const Delivered replayed = ReplayAll(capture);
    EXPECT_GE(replayed.profiles.size(), 300u);
    EXPECT_TRUE(IsPrefix(replayed.profiles, live.profiles));
    EXPECT_TRUE(IsPrefix(replayed.measurements, live.measurements));
    EXPECT_TRUE(replayed.errors.empty());

    // The description file beside it.
    const auto description = nlohmann::json::parse(ReadFile(folder / "line.json"));
    EXPECT_EQ(description["format"], "quil recording");
    EXPECT_EQ(description["capture"], "line.pcap");
    EXPECT_EQ(description["stream"]["port"], TestPort());
    EXPECT_EQ(description["recording"]["datagramsWritten"], status.datagramsWritten);
    EXPECT_EQ(description["sensor"]["settings"]["exposure-time"], 1);
    EXPECT_EQ(description["sensor"]["SensorMetaData"], line.sensor.Read("SensorMetaData"));
    EXPECT_EQ(description["sensor"]["UDPStreamData"]["enabledDataIDs"], nlohmann::json({0, 3}));
    EXPECT_GE(description["counters"]["profileBlocks3"].get<uint64_t>(), 300u);
    EXPECT_LT(description["startedMicroseconds"].get<int64_t>(),
              description["endedMicroseconds"].get<int64_t>());
    auto replay = RecordingReplay::Open(capture);
    EXPECT_EQ(nlohmann::json::parse(replay->GetDescription()), description);

    if (!HasTcpdump()) {
        GTEST_SKIP() << "tcpdump is not installed (scripts/setup installs it)";
    }
    // tcpdump shows ordinary UDP datagrams from the sensor's address and port to the stream's,
    // each of the length received.
    const auto [text, status2] = RunCommand("tcpdump -nn -r " + capture + " 2>/dev/null");
    ASSERT_EQ(status2, 0);
    std::istringstream lines(text);
    std::string row;
    uint64_t count = 0;
    uint64_t bytes = 0;
    while (std::getline(lines, row)) {
        ASSERT_NE(row.find("IP " + TestAddress() + "."), std::string::npos) << row;
        const std::string to = " > 127.0.0.1." + std::to_string(TestPort()) + ": UDP, length ";
        ASSERT_NE(row.find(to), std::string::npos) << row;
        bytes += std::stoull(row.substr(row.rfind(' ') + 1));
        ++count;
    }
    EXPECT_EQ(count, status.datagramsWritten);
    EXPECT_EQ(count, replayed.statistics.datagramsReceived);
    EXPECT_EQ(bytes, replayed.statistics.bytesReceived);
}

TEST(RecordReplayTest, AFullDiskStopsTheRecordingWithAnErrorAndTheStreamGoesOn) {
    TemporaryFolder folder;
    StreamingSensor line(TestAddress(), TestPort());
    RecordingOptions options;
    options.descriptionPath = folder / "full.json";
    line.stream->StartRecording("/dev/full", options);
    line.stream->Start();
    line.Aim();
    ASSERT_TRUE(WaitUntil([&] { return !line.stream->GetRecordingStatus().recording; }, 30s));
    EXPECT_EQ(line.stream->GetRecordingStatus().error,
              "Could not write /dev/full: No space left on device");
    const uint64_t before = line.stream->GetStatistics().profileBlocks3;
    EXPECT_TRUE(line.WaitForProfiles(before + 50));  // the stream goes on

    // A new recording completes the failed one and starts.
    line.stream->StartRecording(folder / "after.pcap");
    EXPECT_EQ(nlohmann::json::parse(ReadFile(folder / "full.json"))["recording"]["error"],
              "Could not write /dev/full: No space left on device");
    EXPECT_TRUE(line.WaitForProfiles(line.stream->GetStatistics().profileBlocks3 + 50));
    const RecordingStatus status = line.stream->StopRecording();
    EXPECT_EQ(status.error, "");
    EXPECT_GT(status.datagramsWritten, 0u);
}

TEST(RecordReplayTest, DescribingASensorThatDoesNotAnswerTakesThreeRequestLimitsAtMost) {
    StreamingSensor line(TestAddress(), TestPort());
    Sim::FaultRates silent;
    silent.replyMissing = 1.0;
    line.sensor.SetFaults(silent);
    constexpr auto kLimit = 200ms;
    line.client->SetRequestTimeout(kLimit);
    const auto start = std::chrono::steady_clock::now();
    const auto description = nlohmann::json::parse(DescribeSensorForRecording(*line.client));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 3 * kLimit + 300ms);  // one limit per resource would be 13
    EXPECT_EQ(description.at("unreadable").size(), 13u);
}

// Datagrams numbered 0, 1, 2, ... from a loopback address to the stream's port, a batch at a
// time, each batch once the stream has taken the one before (so the socket never overflows).
void SendNumbered(const std::string& from, uint16_t port, uint64_t count,
                  UdpStreaming::QuilStream& stream) {
    constexpr uint64_t kBatch = 50;
    boost::asio::io_context context;
    boost::asio::ip::udp::socket socket(context, {boost::asio::ip::make_address_v4(from), 0});
    const boost::asio::ip::udp::endpoint target(boost::asio::ip::make_address_v4("127.0.0.1"),
                                                port);
    std::vector<uint8_t> datagram(200, 0x5A);
    for (uint64_t number = 0; number < count; ++number) {
        std::memcpy(datagram.data(), &number, sizeof number);
        socket.send_to(boost::asio::buffer(datagram), target);
        if ((number + 1) % kBatch == 0 &&
            !WaitUntil([&] { return stream.GetStatistics().datagramsReceived > number; }, 10s)) {
            ADD_FAILURE() << "the stream did not take datagram " << number;
            return;
        }
    }
}

uint64_t NumberOf(const UdpStreaming::RecordedDatagram& datagram) {
    uint64_t number = 0;
    std::memcpy(&number, datagram.bytes.data(), std::min(sizeof number, datagram.bytes.size()));
    return number;
}

// A recording moved from capture to capture while datagrams flow: read one after the other, the
// captures hold every datagram sent exactly once, in order; their folder reads as one recording.
TEST(RecordReplayTest, MovingARecordingToNewCapturesLosesNoDatagramAndWritesNoneTwice) {
    constexpr uint64_t kDatagrams = 6000;
    constexpr uint64_t kCaptures = 12;
    TemporaryFolder folder;
    const auto name = [](uint64_t i, const char* extension) {
        char text[32];
        std::snprintf(text, sizeof text, "pieces/%08llu.%s", static_cast<unsigned long long>(i),
                      extension);
        return std::string(text);
    };
    const auto capture = [&](uint64_t i) { return folder / name(i, "pcap"); };
    std::filesystem::create_directory(folder / "pieces");
    auto client = Quil::Create("127.0.0.1", TestPort());
    auto stream = client->GetStream();
    stream->StartRecording(capture(0));
    stream->Start();
    std::thread sender(SendNumbered, TestAddress(), TestPort(), kDatagrams, std::ref(*stream));
    std::vector<RecordingStatus> completed;
    for (uint64_t i = 1; i < kCaptures; ++i) {
        EXPECT_TRUE(WaitUntil(
            [&] { return stream->GetStatistics().datagramsReceived >= i * kDatagrams / kCaptures; },
            10s));
        completed.push_back(stream->ContinueRecordingIn(capture(i)));
        const RecordingStatus running = stream->GetRecordingStatus();
        EXPECT_TRUE(running.recording);
        EXPECT_EQ(running.path, capture(i));
        EXPECT_EQ(running.descriptionPath, folder / name(i, "json"));
        EXPECT_GE(running.startMicroseconds, completed.back().startMicroseconds);
    }
    sender.join();
    EXPECT_TRUE(
        WaitUntil([&] { return stream->GetStatistics().datagramsReceived >= kDatagrams; }, 10s));
    completed.push_back(stream->StopRecording());

    uint64_t next = 0;
    for (uint64_t i = 0; i < kCaptures; ++i) {
        const RecordingStatus& status = completed[i];
        EXPECT_EQ(status.path, capture(i));
        EXPECT_FALSE(status.recording);
        EXPECT_EQ(status.error, "");
        EXPECT_EQ(status.datagramsDropped, 0u);
        EXPECT_NE(status.endMicroseconds, 0);
        auto reader = UdpStreaming::RecordingReader::Open(capture(i));
        UdpStreaming::RecordedDatagram datagram;
        uint64_t read = 0;
        while (reader->Next(datagram)) {
            ASSERT_EQ(NumberOf(datagram), next) << "in " << capture(i);
            ++next;
            ++read;
        }
        EXPECT_EQ(read, status.datagramsWritten) << capture(i);
        const auto description = nlohmann::json::parse(ReadFile(status.descriptionPath));
        EXPECT_EQ(description["recording"]["datagramsWritten"], read) << status.descriptionPath;
        EXPECT_EQ(description["endedMicroseconds"], status.endMicroseconds);
    }
    EXPECT_EQ(next, kDatagrams);

    auto whole = UdpStreaming::RecordingReader::Open(folder / "pieces");
    UdpStreaming::RecordedDatagram datagram;
    next = 0;
    while (whole->Next(datagram)) {
        ASSERT_EQ(NumberOf(datagram), next);
        ++next;
    }
    EXPECT_EQ(next, kDatagrams);
    EXPECT_EQ(RecordingReplay::Open(folder / "pieces")->GetDescription(),
              ReadFile(completed[0].descriptionPath));
    EXPECT_EQ(ReplayAll(folder / "pieces").replay.datagramsReplayed, kDatagrams);
}

TEST(RecordReplayTest, RecordingsThatCannotStartOrMoveAreRefusedAndTheRunningOneGoesOn) {
    TemporaryFolder folder;
    const std::string running = folder / "line.pcap";
    const std::string ofRunning =
        " is a file of the running recording; give the next capture "
        "another name";
    enum Operation { kStart, kMove, kMoveWithoutRecording };
    const struct {
        Operation operation;
        std::string path;
        std::function<::testing::AssertionResult(const std::function<void()>&, const std::string&)>
            throws;
        std::string text;
    } cases[] = {
        {kStart, "/nonexistent-folder/line.pcap", Throws<std::runtime_error>,
         "Could not record to /nonexistent-folder/line.pcap: No such file or directory"},
        {kMoveWithoutRecording, folder / "next.pcap", Throws<std::logic_error>,
         "The stream is not recording."},
        {kMove, "/nonexistent-folder/next.pcap", Throws<std::runtime_error>,
         "Could not record to /nonexistent-folder/next.pcap: No such file or directory"},
        {kMove, folder / "next.json", Throws<std::invalid_argument>,
         "Could not record to " + folder / "next.json" + ": the description " +
             folder / "next.json" +
             " would overwrite the capture; give the capture another name, such as one ending "
             "in .pcap"},
        {kMove, running, Throws<std::invalid_argument>,
         "Could not record to " + running + ": " + running + ofRunning},
        {kMove, folder / "sub/../line.pcap", Throws<std::invalid_argument>,
         "Could not record to " + folder / "sub/../line.pcap" + ": " + folder / "sub/../line.pcap" +
             ofRunning},
        {kMove, folder / "line", Throws<std::invalid_argument>,
         "Could not record to " + folder / "line" + ": " + folder / "line.json" + ofRunning},
    };
    for (const auto& c : cases) {
        auto client = Quil::Create("127.0.0.1", TestPort());
        auto stream = client->GetStream();
        if (c.operation == kMove) {
            stream->StartRecording(running);
        }
        EXPECT_TRUE(c.throws(
            [&] {
                if (c.operation == kStart) {
                    stream->StartRecording(c.path);
                } else {
                    stream->ContinueRecordingIn(c.path);
                }
            },
            c.text))
            << c.path;
        const RecordingStatus status = stream->GetRecordingStatus();
        EXPECT_EQ(status.recording, c.operation == kMove) << c.path;
        if (c.operation == kMove) {
            EXPECT_EQ(status.path, running) << c.path;
        }
    }
}

}  // namespace
}  // namespace Varkon::QUILApi::Testing
