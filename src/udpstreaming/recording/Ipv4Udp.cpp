#include "udpstreaming/recording/Ipv4Udp.h"

#include <algorithm>

namespace Varkon::QUILApi::UdpStreaming::Recording {

namespace {

uint16_t ReadBigEndian16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t ReadBigEndian32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

void WriteBigEndian16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}

void WriteBigEndian32(uint8_t* p, uint32_t value) {
    WriteBigEndian16(p, static_cast<uint16_t>(value >> 16));
    WriteBigEndian16(p + 2, static_cast<uint16_t>(value));
}

}  // namespace

std::array<uint8_t, kIpv4HeaderSize + kUdpHeaderSize> Ipv4UdpHeaders(
    uint32_t sender, uint16_t senderPort, uint32_t receiver, uint16_t receiverPort,
    std::size_t wireSize, uint16_t identification) {
    std::array<uint8_t, kIpv4HeaderSize + kUdpHeaderSize> headers{};
    uint8_t* ip = headers.data();
    const std::size_t udpLength = std::min<std::size_t>(wireSize + kUdpHeaderSize, 0xFFFF);
    const std::size_t totalLength = std::min<std::size_t>(udpLength + kIpv4HeaderSize, 0xFFFF);
    ip[0] = 0x45;  // version 4, five 32-bit words of header
    WriteBigEndian16(ip + 2, static_cast<uint16_t>(totalLength));
    WriteBigEndian16(ip + 4, identification);
    ip[8] = 64;  // time to live
    ip[9] = kProtocolUdp;
    WriteBigEndian32(ip + 12, sender);
    WriteBigEndian32(ip + 16, receiver);
    uint32_t sum = 0;
    for (std::size_t i = 0; i < kIpv4HeaderSize; i += 2) {
        sum += ReadBigEndian16(ip + i);
    }
    while (sum > 0xFFFF) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    WriteBigEndian16(ip + 10, static_cast<uint16_t>(~sum));
    uint8_t* udp = ip + kIpv4HeaderSize;
    WriteBigEndian16(udp, senderPort);
    WriteBigEndian16(udp + 2, receiverPort);
    WriteBigEndian16(udp + 4, static_cast<uint16_t>(udpLength));
    return headers;
}

std::optional<Ipv4Packet> ParseIpv4(const uint8_t* bytes, std::size_t size) {
    if (size < kIpv4HeaderSize || (bytes[0] >> 4) != 4) {
        return std::nullopt;
    }
    const std::size_t headerSize = static_cast<std::size_t>(bytes[0] & 0x0F) * 4;
    const std::size_t totalLength = ReadBigEndian16(bytes + 2);
    if (headerSize < kIpv4HeaderSize || headerSize > size || totalLength < headerSize) {
        return std::nullopt;
    }
    Ipv4Packet packet;
    packet.identification = ReadBigEndian16(bytes + 4);
    const uint16_t fragment = ReadBigEndian16(bytes + 6);
    packet.moreFragments = (fragment & 0x2000) != 0;
    packet.fragmentOffset = static_cast<std::size_t>(fragment & 0x1FFF) * 8;
    packet.protocol = bytes[9];
    packet.source = ReadBigEndian32(bytes + 12);
    packet.destination = ReadBigEndian32(bytes + 16);
    packet.payload = bytes + headerSize;
    packet.declaredPayloadSize = totalLength - headerSize;
    packet.payloadSize = std::min(size, totalLength) - headerSize;
    return packet;
}

std::optional<UdpDatagram> ParseUdp(const uint8_t* bytes, std::size_t size) {
    if (size < kUdpHeaderSize) {
        return std::nullopt;
    }
    const std::size_t length = ReadBigEndian16(bytes + 4);
    if (length < kUdpHeaderSize) {
        return std::nullopt;
    }
    UdpDatagram datagram;
    datagram.sourcePort = ReadBigEndian16(bytes);
    datagram.destinationPort = ReadBigEndian16(bytes + 2);
    datagram.payload = bytes + kUdpHeaderSize;
    datagram.declaredSize = length - kUdpHeaderSize;
    datagram.payloadSize = std::min(size, length) - kUdpHeaderSize;
    return datagram;
}

}  // namespace Varkon::QUILApi::UdpStreaming::Recording
