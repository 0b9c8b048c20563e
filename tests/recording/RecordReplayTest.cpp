// Recording a live stream and replaying the recording: the replay delivers what the live
// stream did, tcpdump reads the capture, and the description file tells what was recorded.
#include "RecordingSupport.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

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

TEST(RecordReplayTest, ACaptureThatCannotBeOpenedIsRefusedAtStart) {
    StreamingSensor line(TestAddress(), TestPort());
    try {
        line.stream->StartRecording("/nonexistent-folder/line.pcap");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(
            e.what(),
            "Could not record to /nonexistent-folder/line.pcap: No such file or directory");
    }
    EXPECT_FALSE(line.stream->GetRecordingStatus().recording);
}

}  // namespace
}  // namespace Varkon::QUILApi::Testing
