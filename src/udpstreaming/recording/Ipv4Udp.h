#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace Varkon::QUILApi::UdpStreaming::Recording {

// The IPv4 and UDP headers of captured datagrams: building them for the records this project
// writes, and reading them from captures of any origin. All fields are big-endian on the wire.

constexpr std::size_t kIpv4HeaderSize = 20;  // without options
constexpr std::size_t kUdpHeaderSize = 8;
constexpr uint8_t kProtocolUdp = 17;

// The 28 bytes before a datagram of `wireSize` bytes sent from `sender`:`senderPort` to
// `receiver`:`receiverPort`, with the header checksum filled in (UDP's checksum stays 0, which
// IPv4 allows).
std::array<uint8_t, kIpv4HeaderSize + kUdpHeaderSize> Ipv4UdpHeaders(
    uint32_t sender, uint16_t senderPort, uint32_t receiver, uint16_t receiverPort,
    std::size_t wireSize, uint16_t identification);

// An IPv4 packet as far as reassembly and UDP need it.
struct Ipv4Packet {
    uint32_t source = 0;
    uint32_t destination = 0;
    uint16_t identification = 0;
    uint8_t protocol = 0;
    bool moreFragments = false;
    std::size_t fragmentOffset = 0;  // in bytes
    const uint8_t* payload = nullptr;
    std::size_t payloadSize = 0;  // as captured: may be less than the header says
    std::size_t declaredPayloadSize = 0;

    bool IsFragment() const { return moreFragments || fragmentOffset != 0; }
};

// The IPv4 packet at `bytes`; nullopt when it is not IPv4 or its header is cut short or
// inconsistent. Link-layer padding beyond the total length is not part of the payload.
std::optional<Ipv4Packet> ParseIpv4(const uint8_t* bytes, std::size_t size);

// A UDP datagram inside an IPv4 payload.
struct UdpDatagram {
    uint16_t sourcePort = 0;
    uint16_t destinationPort = 0;
    const uint8_t* payload = nullptr;
    std::size_t payloadSize = 0;   // as captured
    std::size_t declaredSize = 0;  // as the UDP header says, without its header
};

// nullopt when the UDP header is cut short or its length is inconsistent.
std::optional<UdpDatagram> ParseUdp(const uint8_t* bytes, std::size_t size);

}  // namespace Varkon::QUILApi::UdpStreaming::Recording
