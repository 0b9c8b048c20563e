// Captures made by other writers: tcpdump on the loopback interface while the virtual sensor
// streams, and scapy rewriting a recording with each link type, nanosecond stamps, IPv4
// fragments and unrelated traffic.
#include "RecordingSupport.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace Varkon::QUILApi::Testing {
namespace {

using namespace std::chrono_literals;
using UdpStreaming::ReplayOptions;

// tcpdump writing the loopback interface's UDP traffic to one port into a file, until Stop.
class Tcpdump {
public:
    Tcpdump(const std::string& file, const std::string& log, unsigned short port)
        : process("tcpdump",
                  {"-i", "lo", "-U", "-n", "-w", file, "udp port " + std::to_string(port)}, log) {
        ready =
            WaitUntil([&] { return process.Err().find("listening on") != std::string::npos; }, 10s);
    }
    void Stop() {
        process.Signal(SIGINT);
        process.Wait();
    }
    std::string Log() const { return process.Err(); }
    bool ready = false;

private:
    Testing::BackgroundProcess process;
};

TEST(CaptureInteropTest, ATcpdumpCaptureOfTheLoopbackReplaysAsTheLiveStream) {
    if (RunCommand("tcpdump --version >/dev/null 2>&1").second != 0) {
        GTEST_SKIP() << "tcpdump is not installed (scripts/setup installs it)";
    }
    TemporaryFolder folder;
    StreamingSensor line(TestAddress(), TestPort());
    Tcpdump tcpdump(folder / "lo.pcap", folder / "tcpdump.log", TestPort());
    ASSERT_TRUE(tcpdump.ready) << tcpdump.Log();
    line.stream->Start();  // the socket is bound: nothing the sensor sends is lost to it
    line.Aim();
    ASSERT_TRUE(line.WaitForProfiles(300));
    line.aim.reset();
    ASSERT_TRUE(WaitUntil([&] {
        const auto before = line.stream->GetStatistics().datagramsReceived;
        std::this_thread::sleep_for(100ms);
        return line.stream->GetStatistics().datagramsReceived == before;
    }));
    // tcpdump has written every datagram the stream received: 24 bytes of file header, and
    // per datagram 16 of record header and 42 of Ethernet, IPv4 and UDP headers.
    const auto statistics = line.stream->GetStatistics();
    const auto expected = 24 + 58 * statistics.datagramsReceived + statistics.bytesReceived;
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(folder / "lo.pcap").size() >= expected; }, 10s));
    tcpdump.Stop();
    Delivered live;
    live.Drain(*line.stream);

    ReplayOptions options;
    options.port = TestPort();
    const Delivered replayed = ReplayAll(folder / "lo.pcap", options);
    EXPECT_EQ(replayed.profiles.size(), live.profiles.size());
    EXPECT_TRUE(IsPrefix(replayed.profiles, live.profiles));
    EXPECT_TRUE(IsPrefix(replayed.measurements, live.measurements));
    EXPECT_TRUE(replayed.errors.empty());
}

struct Rewrap {
    const char* link;
    const char* flags;
};

// One live recording, rewritten by scapy in every way the table names, replays the same.
TEST(CaptureInteropTest, CapturesOfOtherWritersReplayAsTheRecording) {
    if (RunCommand("/usr/bin/python3 -c 'import scapy' 2>/dev/null").second != 0) {
        GTEST_SKIP() << "python3-scapy is not installed (scripts/setup installs it)";
    }
    const Rewrap table[] = {
        {"raw", ""},
        {"raw", "--nano --fragment 496"},
        {"ether", "--noise 29999"},
        {"ether", "--nano --fragment 1000 --noise 29999"},
        {"sll", "--fragment 600 --noise 29999"},
        {"sll2", "--nano --fragment 800 --noise 29999"},
    };
    TemporaryFolder folder;
    const std::string recording = folder / "line.pcap";
    {
        StreamingSensor line(TestAddress(), TestPort(), 200);
        line.stream->StartRecording(recording);
        line.stream->Start();
        line.Aim();
        ASSERT_TRUE(line.WaitForProfiles(40));
        ASSERT_EQ(line.stream->StopRecording().error, "");
    }
    const Delivered original = ReplayAll(recording);
    ASSERT_GE(original.profiles.size(), 40u);
    for (const Rewrap& row : table) {
        SCOPED_TRACE(std::string(row.link) + " " + row.flags);
        const std::string rewritten = folder / (std::string(row.link) + ".pcap");
        const auto [output, status] =
            RunCommand("/usr/bin/python3 " QUIL_REWRAP_SCRIPT " " + recording + " " + rewritten +
                       " " + row.link + " " + row.flags + " 2>&1");
        ASSERT_EQ(status, 0) << output;
        ReplayOptions options;
        options.port = TestPort();
        const Delivered replayed = ReplayAll(rewritten, options);
        EXPECT_EQ(replayed.profiles.size(), original.profiles.size());
        EXPECT_EQ(replayed.measurements.size(), original.measurements.size());
        EXPECT_TRUE(IsPrefix(replayed.profiles, original.profiles));
        EXPECT_TRUE(IsPrefix(replayed.measurements, original.measurements));
        EXPECT_TRUE(replayed.errors.empty());
        EXPECT_EQ(replayed.replay.fragmentsIncomplete, 0u);
        EXPECT_EQ(replayed.replay.recordsMalformed, 0u);
        const bool noise = std::string(row.flags).find("--noise") != std::string::npos;
        EXPECT_EQ(replayed.replay.datagramsOtherPort > 0, noise);
        EXPECT_EQ(replayed.replay.recordsNotUdp > 0, noise);
    }
}

}  // namespace
}  // namespace Varkon::QUILApi::Testing
