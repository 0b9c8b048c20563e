#include "udpstreaming/transport/UdpTransport.h"

#include <gtest/gtest.h>

#include "support/TestAddresses.h"

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>

#include <boost/system/system_error.hpp>

#include "support/ExpectThrow.h"
#include "udpstreaming/StreamPackets.h"

namespace Varkon::QUILApi::UdpStreaming::Transport {
namespace {

using Testing::Bytes;
using Testing::LoopbackSender;
using Testing::PortIsFree;

std::shared_ptr<UdpTransport> OpenTransport(uint16_t port) {
    auto transport = std::make_shared<UdpTransport>("sensor.example", port);
    transport->Open();
    return transport;
}

bool ReceiveInto(UdpTransport& transport, Bytes& datagram) {
    IUdpTransport::ReceiveInfo ignored;
    return transport.ReceiveDatagram(datagram, ignored);
}

TEST(UdpTransport, KeepsHostAndPortAndOpensNothingAtFirst) {
    auto transport = std::make_shared<UdpTransport>("sensor.example", Testing::TestPort());
    EXPECT_EQ(transport->GetHost(), "sensor.example");
    EXPECT_EQ(transport->GetPort(), Testing::TestPort());
    EXPECT_FALSE(transport->IsOpen());
    EXPECT_TRUE(PortIsFree(Testing::TestPort()));
}

TEST(UdpTransport, DeliversDatagramsWholeOrTruncated) {
    auto transport = OpenTransport(Testing::TestPort());
    LoopbackSender sender(Testing::TestPort());
    struct Case {
        std::size_t sent, received;
    } cases[] = {{1, 1}, {2047, 2047}, {2048, 2048}, {2049, 2048}, {3000, 2048}, {0, 0}};
    const auto patterned = [](std::size_t size) {
        Bytes datagram(size);
        for (std::size_t i = 0; i < datagram.size(); ++i) {
            datagram[i] = static_cast<uint8_t>(i * 13 + size);
        }
        return datagram;
    };
    for (const Case& c : cases) {
        const Bytes datagram = patterned(c.sent);
        sender.Send(datagram);
        Bytes received;
        ASSERT_TRUE(ReceiveInto(*transport, received)) << c.sent;
        EXPECT_EQ(received, Bytes(datagram.begin(), datagram.begin() + c.received)) << c.sent;
    }
    // Queued together, they are received together, into one vector the caller reuses.
    for (const Case& c : cases) {
        sender.Send(patterned(c.sent));
    }
    Bytes reused;
    for (const Case& c : cases) {
        const Bytes datagram = patterned(c.sent);
        ASSERT_TRUE(ReceiveInto(*transport, reused)) << c.sent;
        EXPECT_EQ(reused, Bytes(datagram.begin(), datagram.begin() + c.received)) << c.sent;
    }
    sender.Send({1, 2, 3});
    EXPECT_EQ(transport->Receive(), (Bytes{1, 2, 3}));
}

TEST(UdpTransport, ReceiveWithoutADatagramYieldsNothingAfterOneSecond) {
    auto transport = OpenTransport(Testing::TestPort());
    LoopbackSender(Testing::TestPort()).Send({7});
    EXPECT_EQ(transport->Receive(), Bytes{7});

    const auto start = std::chrono::steady_clock::now();
    Bytes received{1, 2};
    EXPECT_FALSE(ReceiveInto(*transport, received));
    EXPECT_TRUE(transport->Receive().empty());  // never the previous datagram again
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(1990));
    EXPECT_LT(waited, std::chrono::seconds(10));
}

TEST(UdpTransport, TellsArrivalTimeAndReceiverOnlyWhenAsked) {
    const auto now = [] {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    auto transport = OpenTransport(Testing::TestPort());
    const std::string from = Testing::TestAddress(0);
    LoopbackSender sender(Testing::TestPort(), from.c_str());
    for (const bool wanted : {false, true, false}) {
        transport->SetArrivalDetails(wanted);
        const int64_t before = now();
        sender.Send({1});
        Bytes received;
        IUdpTransport::ReceiveInfo info;
        ASSERT_TRUE(transport->ReceiveDatagram(received, info)) << wanted;
        const int64_t after = now();
        EXPECT_EQ(info.senderAddress, boost::asio::ip::make_address_v4(from).to_uint()) << wanted;
        EXPECT_EQ(info.receiverAddress, wanted ? 0x7F000001u : 0u) << wanted;
        if (wanted) {
            EXPECT_GE(info.arrivalMicroseconds, before);
            EXPECT_LE(info.arrivalMicroseconds, after);
        } else {
            EXPECT_EQ(info.arrivalMicroseconds, 0);
        }
    }
}

TEST(UdpTransport, InterruptEndsAWaitingReceiveAtOnce) {
    struct Case {
        const char* name;
        bool open;
        bool beforeTheReceive;  // the next receive returns at once, too
    } cases[] = {{"waiting", true, false},
                 {"next", true, true},
                 {"closed, waiting", false, false},
                 {"closed, next", false, true}};
    for (const Case& c : cases) {
        auto transport = std::make_shared<UdpTransport>("h", Testing::TestPort());
        if (c.open) {
            transport->Open();
        }
        if (c.beforeTheReceive) {
            transport->Interrupt();
        }
        const auto start = std::chrono::steady_clock::now();
        auto receive = std::async(std::launch::async, [&] {
            Bytes received;
            return ReceiveInto(*transport, received);
        });
        if (!c.beforeTheReceive) {
            transport->Interrupt();
        }
        EXPECT_FALSE(receive.get()) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500))
            << c.name;
    }
}

TEST(UdpTransport, SecondOpenChangesNothing) {
    auto transport = OpenTransport(Testing::TestPort());
    transport->SetReceiveBufferSize(65536);
    const int size = transport->GetReceiveBufferSize();
    transport->Open();
    EXPECT_TRUE(transport->IsOpen());
    EXPECT_EQ(transport->GetReceiveBufferSize(), size);
}

TEST(UdpTransport, OpenFailsOnAPortInUseAndWorksOnceItIsFree) {
    auto blocker = OpenTransport(Testing::TestPort());
    auto transport = std::make_shared<UdpTransport>("h", Testing::TestPort());
    try {
        transport->Open();
        ADD_FAILURE() << "Open succeeded on a port in use";
    } catch (const std::runtime_error& e) {
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("UdpTransport::Open Error: ", 0), 0u) << text;
        EXPECT_NE(text.find("bind"), std::string::npos) << text;
    }
    EXPECT_FALSE(transport->IsOpen());
    blocker->Close();
    transport->Open();
    EXPECT_TRUE(transport->IsOpen());
}

TEST(UdpTransport, CloseFreesThePortAndOpenBindsAgain) {
    auto transport = std::make_shared<UdpTransport>("h", Testing::TestPort());
    transport->Close();  // never opened
    transport->Open();
    EXPECT_FALSE(PortIsFree(Testing::TestPort()));
    transport->Close();
    transport->Close();
    EXPECT_FALSE(transport->IsOpen());
    EXPECT_TRUE(PortIsFree(Testing::TestPort()));

    transport->Open();
    LoopbackSender(Testing::TestPort()).Send({4, 2});
    EXPECT_EQ(transport->Receive(), (Bytes{4, 2}));
}

TEST(UdpTransport, ReleasingTheLastReferenceFreesThePort) {
    OpenTransport(Testing::TestPort()).reset();
    EXPECT_TRUE(PortIsFree(Testing::TestPort()));
}

TEST(UdpTransport, ReceiveBufferSizeIsWhatTheSystemApplied) {
    auto transport = OpenTransport(Testing::TestPort());
    transport->SetReceiveBufferSize(100000);
    EXPECT_GE(transport->GetReceiveBufferSize(), 100000);  // Linux doubles the request
}

TEST(UdpTransport, BufferSizeWithoutASocketFailsWithABadDescriptor) {
    auto transport = std::make_shared<UdpTransport>("h", Testing::TestPort());
    EXPECT_TRUE(Testing::Throws<boost::system::system_error>(
        [&] { transport->GetReceiveBufferSize(); }, "get_option: Bad file descriptor"));
    EXPECT_TRUE(Testing::Throws<boost::system::system_error>(
        [&] { transport->SetReceiveBufferSize(4096); }, "set_option: Bad file descriptor"));
}

TEST(UdpTransport, ReceiveOnAClosedTransportYieldsNothing) {
    auto transport = std::make_shared<UdpTransport>("h", Testing::TestPort());
    Bytes received;
    EXPECT_FALSE(ReceiveInto(*transport, received));
}

}  // namespace
}  // namespace Varkon::QUILApi::UdpStreaming::Transport
