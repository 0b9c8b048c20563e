// Why a stream receives nothing: each cause, set up on a scripted sensor or with real datagrams,
// is named in words.
#include "api/QuilApi.h"
#include "support/FakeChannel.h"
#include "support/TestAddresses.h"
#include "support/Wait.h"
#include "udpstreaming/StreamPackets.h"
#include "udpstreaming/transport/UdpTransport.h"

#include <gtest/gtest.h>

namespace Varkon::QUILApi {
namespace {

using nlohmann::json;
using Testing::Bytes;

// The stream receives on the test's own port; port 0 in a case's output and "<port>" in its
// reasons stand for it.
struct DiagnosisCase {
    const char* name;
    bool start;                    // whether the stream is started
    json output;                   // "ProcessInterfaces"; null: the sensor does not answer
    json dataIds;                  // "enabledDataIDs" of "UDPStreamData"
    std::vector<Bytes> datagrams;  // sent to the stream before the diagnosis
    std::vector<std::string> reasons;
    json trigger = nullptr;  // "Trigger"; null: the sensor does not answer
};

json Output(bool on, const char* address, unsigned port) {
    return {
        {"enableUDPStreaming", on}, {"udpDestinationIP", address}, {"udpDestinationPort", port}};
}

const DiagnosisCase kCases[] = {
    {"AllWell", true, Output(true, "127.0.0.1", 0), {1}, {}, {}},
    {"NotStarted",
     false,
     Output(true, "127.0.0.1", 0),
     {1},
     {},
     {"The stream is not started (Start), or was stopped or closed."}},
    {"OutputOff",
     true,
     Output(false, "127.0.0.1", 0),
     {1},
     {},
     {"The sensor's UDP output is switched off (\"enableUDPStreaming\" of \"ProcessInterfaces\" "
      "is false)."}},
    {"NoDataIds",
     true,
     Output(true, "127.0.0.1", 0),
     json::array(),
     {},
     {"No data ids are selected (\"enabledDataIDs\" of \"UDPStreamData\" is empty)."}},
    {"OtherPort",
     true,
     Output(true, "127.0.0.1", 9),
     {1},
     {},
     {"The sensor sends to port 9, but the stream receives on port <port>."}},
    {"OtherHost",
     true,
     Output(true, "192.0.2.7", 0),
     {1},
     {},
     {"The sensor sends to 192.0.2.7, which is not an address of this host (\"udpDestinationIP\" "
      "of \"ProcessInterfaces\"; this host is 127.0.0.1 towards the sensor)."}},
    {"NoAnswer",
     true,
     nullptr,
     {1},
     {},
     {"The sensor's UDP output settings could not be read: No matching response found to request "
      "with sessionID: 0 msgID: 1"}},
    {"Rejected",
     true,
     Output(true, "127.0.0.1", 0),
     {1},
     {Bytes{1, 2, 3}, Testing::Packet(1, 9, 0, Bytes(4, 0)), Testing::WholeBlock(2, {})},
     {"2 datagrams arrived but were rejected (1 shorter than the packet header, 1 of an unknown "
      "packet kind).",
      "1 blocks arrived but could not be used (1 empty)."}},
    {"WaitsForATrigger",
     true,
     Output(true, "127.0.0.1", 0),
     {1},
     {},
     {"The sensor waits for a trigger before each profile (\"triggerMode\" of \"Trigger\" is 2, "
      "not 0 for continuous); it sends nothing until triggered."},
     {{"triggerMode", 2}, {"modeOption", 1}, {"triggerTime", 0}}},
};

class StreamDiagnosisTest : public testing::TestWithParam<DiagnosisCase> {};

TEST_P(StreamDiagnosisTest, NamesTheCause) {
    const DiagnosisCase& c = GetParam();
    const uint16_t port = Testing::TestPort();
    auto channel = std::make_shared<Testing::FakeChannel>();
    auto transport = std::make_shared<UdpStreaming::Transport::UdpTransport>("127.0.0.1", port);
    QuilApi client(std::make_unique<WebSockets::Protocol>(channel), transport);
    auto stream = client.GetStream();
    if (c.start) {
        stream->Start();
    }
    Testing::LoopbackSender sender(port);
    for (const Bytes& datagram : c.datagrams) {
        sender.Send(datagram);
    }
    ASSERT_TRUE(Testing::WaitUntil(
        [&] { return stream->GetStatistics().datagramsReceived == c.datagrams.size(); }));
    if (!c.output.is_null()) {
        json output = c.output;
        if (output["udpDestinationPort"] == 0) {
            output["udpDestinationPort"] = port;
        }
        channel->Ack(output);
        channel->Ack({{"enabledDataIDs", c.dataIds}});
    }
    if (!c.trigger.is_null()) {
        channel->Ack(c.trigger);
    }
    std::vector<std::string> reasons = c.reasons;
    for (std::string& reason : reasons) {
        if (const auto at = reason.find("<port>"); at != std::string::npos) {
            reason.replace(at, 6, std::to_string(port));
        }
    }
    EXPECT_EQ(client.DiagnoseStream(), reasons);
}

INSTANTIATE_TEST_SUITE_P(Causes, StreamDiagnosisTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StreamDiagnosis, AClientWithoutAStreamSaysSo) {
    auto channel = std::make_shared<Testing::FakeChannel>();
    QuilApi client(std::make_unique<WebSockets::Protocol>(channel), nullptr);
    channel->Ack(Output(true, "127.0.0.1", 0));
    channel->Ack({{"enabledDataIDs", {1}}});
    EXPECT_EQ(client.DiagnoseStream(),
              std::vector<std::string>{"The stream was never opened (GetStream, then Start)."});
}

}  // namespace
}  // namespace Varkon::QUILApi
