// The virtual sensor serving a recording as its stream.
#include "PcapRecording.h"
#include "RecordingSupport.h"

#include <gtest/gtest.h>

namespace Varkon::QUILApi::Testing {
namespace {

using namespace std::chrono_literals;

TEST(SimReplayTest, TheVirtualSensorSendsTheRecordingAgainAndAgain) {
    TemporaryFolder folder;
    const std::string recording = folder / "line.pcap";
    {
        StreamingSensor line(TestAddress(), TestPort(), 200);
        line.Aim();
        line.stream->StartRecording(recording);
        line.stream->Start();
        ASSERT_TRUE(line.WaitForProfiles(30));
        ASSERT_EQ(line.stream->StopRecording().error, "");
    }
    const Delivered recorded = ReplayAll(recording);
    ASSERT_GE(recorded.profiles.size(), 30u);

    Sim::VirtualSensorOptions options;
    options.address = TestAddress(1);
    options.recording = std::make_shared<Sim::PcapRecording>(recording, 0);
    options.loopRecording = true;
    Sim::VirtualSensor sensor(options);
    auto client = Quil::Create(TestAddress(1), TestPort(1));
    client->Connect();
    client->Login("operator", "operator");
    auto stream = client->GetStream();
    stream->SetQueueCapacity(100000);
    stream->Start();
    {
        // The recording's own data ids come, whatever the output selects.
        StreamOutputAim aim(*client, TestPort(1), {1}, "127.0.0.1");
        ASSERT_TRUE(WaitUntil(
            [&] { return stream->GetStatistics().profileBlocks3 >= 2 * recorded.profiles.size(); },
            20s));
    }
    Delivered served;
    served.Drain(*stream);
    EXPECT_TRUE(IsPrefix(recorded.profiles, served.profiles));
    // The second pass carries the same profiles, its block ids going on counting.
    std::vector<UdpStreaming::StreamProfile> second(
        served.profiles.begin() + static_cast<std::ptrdiff_t>(recorded.profiles.size()),
        served.profiles.end());
    ASSERT_FALSE(second.empty());
    const uint32_t pass = second.front().blockId - recorded.profiles.front().blockId;
    EXPECT_GT(pass, recorded.profiles.back().blockId - recorded.profiles.front().blockId);
    for (auto& profile : second) {
        profile.blockId -= pass;
    }
    EXPECT_TRUE(IsPrefix(recorded.profiles, second));
    EXPECT_EQ(stream->GetStatistics().blocksOutOfOrder, 0u);
}

}  // namespace
}  // namespace Varkon::QUILApi::Testing
