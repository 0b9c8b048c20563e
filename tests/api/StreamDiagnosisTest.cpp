// Why a stream receives nothing: each cause, set up on a scripted sensor or with real datagrams,
// is named in words.
#include "api/QuilApi.h"
#include "support/FakeChannel.h"
#include "support/Wait.h"
#include "udpstreaming/StreamPackets.h"
#include "udpstreaming/transport/UdpTransport.h"

#include <gtest/gtest.h>

namespace Varkon::QUILApi {
namespace {

using nlohmann::json;
using Testing::Bytes;

// Each case has its own port: ctest runs the cases side by side.
struct DiagnosisCase {
    const char* name;
    uint16_t port;
    bool start;                   // whether the stream is started
    json output;                  // "ProcessInterfaces"; null: the sensor does not answer
    json dataIds;                 // "enabledDataIDs" of "UDPStreamData"
    std::vector<Bytes> datagrams;  // sent to the stream before the diagnosis
    std::vector<std::string> reasons;
};

json Output(bool on, const char* address, unsigned port) {
    return {{"enableUDPStreaming", on}, {"udpDestinationIP", address}, {"udpDestinationPort", port}};
}

const DiagnosisCase kCases[] = {
    {"AllWell", 26001, true, Output(true, "127.0.0.1", 26001), {1}, {}, {}},
    {"NotStarted", 26002, false, Output(true, "127.0.0.1", 26002), {1}, {},
     {"The stream is not started (Start), or was stopped or closed."}},
    {"OutputOff", 26003, true, Output(false, "127.0.0.1", 26003), {1}, {},
     {"The sensor's UDP output is switched off (\"enableUDPStreaming\" of \"ProcessInterfaces\" "
      "is false)."}},
    {"NoDataIds", 26004, true, Output(true, "127.0.0.1", 26004), json::array(), {},
     {"No data ids are selected (\"enabledDataIDs\" of \"UDPStreamData\" is empty)."}},
    {"OtherPort", 26005, true, Output(true, "127.0.0.1", 26099), {1}, {},
     {"The sensor sends to port 26099, but the stream receives on port 26005."}},
    {"OtherHost", 26006, true, Output(true, "192.0.2.7", 26006), {1}, {},
     {"The sensor sends to 192.0.2.7, which is not an address of this host (\"udpDestinationIP\" "
      "of \"ProcessInterfaces\"; this host is 127.0.0.1 towards the sensor)."}},
    {"NoAnswer", 26007, true, nullptr, {1}, {},
     {"The sensor's UDP output settings could not be read: No matching response found to request with sessionID: 0 msgID: 1"}},
    {"Rejected", 26008, true, Output(true, "127.0.0.1", 26008), {1},
     {Bytes{1, 2, 3}, Testing::Packet(1, 9, 0, Bytes(4, 0)), Testing::WholeBlock(2, {})},
     {"2 datagrams arrived but were rejected (1 shorter than the packet header, 1 of an unknown "
      "packet kind).",
      "1 blocks arrived but could not be used (1 empty)."}},
};

class StreamDiagnosisTest : public testing::TestWithParam<DiagnosisCase> {};

TEST_P(StreamDiagnosisTest, NamesTheCause) {
    const DiagnosisCase& c = GetParam();
    auto channel = std::make_shared<Testing::FakeChannel>();
    auto transport = std::make_shared<UdpStreaming::Transport::UdpTransport>("127.0.0.1", c.port);
    QuilApi client(std::make_unique<WebSockets::Protocol>(channel), transport);
    auto stream = client.GetStream();
    if (c.start) {
        stream->Start();
    }
    Testing::LoopbackSender sender(c.port);
    for (const Bytes& datagram : c.datagrams) {
        sender.Send(datagram);
    }
    ASSERT_TRUE(Testing::WaitUntil(
        [&] { return stream->GetStatistics().datagramsReceived == c.datagrams.size(); }));
    if (!c.output.is_null()) {
        channel->Ack(c.output);
        channel->Ack({{"enabledDataIDs", c.dataIds}});
    }
    EXPECT_EQ(client.DiagnoseStream(), c.reasons);
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
