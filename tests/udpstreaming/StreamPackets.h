// Stream packets for tests and benchmarks, and a loopback sender.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <quil/sim/PacketEncoder.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

namespace Varkon::QUILApi::Testing {

// The encoder is the virtual sensor's; these tests check it against the library's decoder.
using Sim::Bytes;
using Sim::Datagrams;
using Sim::Fragments;
using Sim::MeasurementFields;
using Sim::MeasurementPayload;
using Sim::Packet;
using Sim::ProfileFields;
using Sim::ProfilePayload;
using Sim::PutFloat32;
using Sim::PutLittleEndian;
using Sim::WholeBlock;

// A profile of `points` points whose channel values are derived from the point index.
inline Bytes SyntheticProfile(uint8_t dataId, uint32_t points) {
    const std::size_t channels = dataId == 3 ? 3 : 2;
    std::vector<uint16_t> words(points * channels);
    for (std::size_t i = 0; i < words.size(); ++i) {
        words[i] = static_cast<uint16_t>(i * 7 + 1);
    }
    ProfileFields fields;
    fields.dataId = dataId;
    fields.pointCount = points;
    return ProfilePayload(fields, words);
}

// Sends datagrams from an ephemeral port of `from` to 127.0.0.1:port.
class LoopbackSender {
public:
    explicit LoopbackSender(uint16_t port, const char* from = "0.0.0.0")
        : socket(context,
                 boost::asio::ip::udp::endpoint(boost::asio::ip::make_address_v4(from), 0)),
          target(boost::asio::ip::make_address_v4("127.0.0.1"), port) {}

    void Send(const Bytes& datagram) { socket.send_to(boost::asio::buffer(datagram), target); }

private:
    boost::asio::io_context context;
    boost::asio::ip::udp::socket socket;
    boost::asio::ip::udp::endpoint target;
};

// Whether a UDP socket can bind `port` right now.
inline bool PortIsFree(uint16_t port) {
    boost::asio::io_context context;
    boost::asio::ip::udp::socket socket(context);
    boost::system::error_code error;
    socket.open(boost::asio::ip::udp::v4(), error);
    socket.bind({boost::asio::ip::address_v4::any(), port}, error);
    return !error;
}

}  // namespace Varkon::QUILApi::Testing
