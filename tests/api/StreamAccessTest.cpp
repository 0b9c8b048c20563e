// GetStream: the stream object through the client, on real loopback datagrams.
#include "api/QuilApi.h"
#include "support/TestAddresses.h"
#include "support/Wait.h"
#include "udpstreaming/StreamPackets.h"
#include "udpstreaming/transport/UdpTransport.h"

#include <quil/Quil.h>

#include <boost/asio/ip/udp.hpp>

#include <gtest/gtest.h>

namespace Varkon::QUILApi {
namespace {

using Testing::LoopbackSender;
using Testing::MeasurementPayload;
using Testing::PortIsFree;
using Testing::TestPort;
using Testing::WholeBlock;

void SendMeasurement(uint16_t port, uint32_t blockId) {
    LoopbackSender(port).Send(WholeBlock(blockId, MeasurementPayload({})));
}

TEST(StreamAccessTest, EveryCallReturnsTheSameStreamSharingTheTransport) {
    auto transport =
        std::make_shared<UdpStreaming::Transport::UdpTransport>("127.0.0.1", TestPort());
    QuilApi client(nullptr, transport);
    const auto before = transport.use_count();
    const auto first = client.GetStream();
    EXPECT_EQ(transport.use_count(), before + 1);
    EXPECT_EQ(client.GetStream(), first);
    EXPECT_EQ(transport.use_count(), before + 1);
}

TEST(StreamAccessTest, TheStreamOutlivesTheClientAndFreesItsPortWhenReleased) {
    auto client = Quil::Create("127.0.0.1", TestPort());
    auto stream = client->GetStream();
    client.reset();

    stream->Start();
    SendMeasurement(TestPort(), 7);
    ASSERT_TRUE(Testing::WaitUntil([&] { return stream->HasMeasurement(); }));
    EXPECT_EQ(stream->PopMeasurement().blockId, 7u);

    stream.reset();
    EXPECT_TRUE(PortIsFree(TestPort()));
}

TEST(StreamAccessTest, APortInUseFailsUntilItIsFree) {
    boost::asio::io_context io;
    auto blocker = std::make_unique<boost::asio::ip::udp::socket>(
        io, boost::asio::ip::udp::endpoint(boost::asio::ip::udp::v4(), TestPort()));
    auto client = Quil::Create("127.0.0.1", TestPort());
    try {
        client->GetStream();
        FAIL() << "GetStream bound a port in use";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("UdpTransport::Open Error: ", 0), 0u) << e.what();
    }
    blocker.reset();
    auto stream = client->GetStream();
    stream->Start();
    SendMeasurement(TestPort(), 1);
    EXPECT_TRUE(Testing::WaitUntil([&] { return stream->HasMeasurement(); }));
}

}  // namespace
}  // namespace Varkon::QUILApi
