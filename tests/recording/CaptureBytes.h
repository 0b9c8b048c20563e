// Capture files built byte by byte, for what no writer at hand makes: pcapng, every link type
// the reader takes, IPv4 fragments and odd time stamps. Used by the tests and by the fuzz
// targets' seeds.
#pragma once

#include "udpstreaming/recording/Ipv4Udp.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Varkon::QUILApi::Testing::Captures {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kLinkEthernet = 1;
constexpr uint32_t kLinkRawIp = 101;
constexpr uint32_t kLinkCooked = 113;
constexpr uint32_t kLinkCooked2 = 276;

inline void Put16(Bytes& out, uint16_t v) {  // little-endian: the files' own byte order
    out.insert(out.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
}
inline void Put32(Bytes& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v));
    Put16(out, static_cast<uint16_t>(v >> 16));
}
inline void PutBig16(Bytes& out, uint16_t v) {
    out.insert(out.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
}

/// An IPv4 packet carrying bytes [offset, offset + size) of the UDP datagram (header included)
/// that holds `payload`, sent from 127.0.0.1:5000 to 127.0.0.1:`port`.
inline Bytes Ipv4Part(const Bytes& payload, uint16_t port, uint16_t id, std::size_t offset,
                      std::size_t size) {
    using namespace UdpStreaming::Recording;
    const auto headers = Ipv4UdpHeaders(0x7F000001, 5000, 0x7F000001, port, payload.size(), id);
    Bytes udp(headers.begin() + kIpv4HeaderSize, headers.end());
    udp.insert(udp.end(), payload.begin(), payload.end());
    size = std::min(size, udp.size() - offset);
    Bytes packet(kIpv4HeaderSize + size);
    std::copy(headers.begin(), headers.begin() + kIpv4HeaderSize, packet.begin());
    std::copy(udp.begin() + static_cast<long>(offset),
              udp.begin() + static_cast<long>(offset + size), packet.begin() + kIpv4HeaderSize);
    const std::size_t total = packet.size();
    packet[2] = static_cast<uint8_t>(total >> 8);
    packet[3] = static_cast<uint8_t>(total);
    const bool more = offset + size < udp.size();
    const uint16_t flags = static_cast<uint16_t>((more ? 0x2000 : 0) | (offset / 8));
    packet[6] = static_cast<uint8_t>(flags >> 8);
    packet[7] = static_cast<uint8_t>(flags);
    packet[10] = packet[11] = 0;  // the reader does not check the header checksum
    return packet;
}
inline Bytes Ipv4Whole(const Bytes& payload, uint16_t port, uint16_t id) {
    return Ipv4Part(payload, port, id, 0, SIZE_MAX);
}

/// The IPv4 packet in a frame of `linkType`.
inline Bytes Frame(uint32_t linkType, const Bytes& ip) {
    Bytes frame;
    switch (linkType) {
        case kLinkEthernet:
            frame.assign(12, 0x02);
            PutBig16(frame, 0x0800);
            break;
        case kLinkCooked:
            frame.assign(14, 0);
            PutBig16(frame, 0x0800);
            break;
        case kLinkCooked2:
            PutBig16(frame, 0x0800);
            frame.resize(20, 0);
            break;
        default:
            break;
    }
    frame.insert(frame.end(), ip.begin(), ip.end());
    return frame;
}

struct Record {
    uint64_t stamp;  // pcap: microseconds; pcapng: in units of the interface's resolution
    Bytes frame;
    uint32_t interface = 0;     // pcapng: the index of the frame's interface
    uint32_t originalSize = 0;  // as on the link; 0: the frame's size (not cut)
};

inline uint32_t OriginalSize(const Record& r) {
    return r.originalSize != 0 ? r.originalSize : static_cast<uint32_t>(r.frame.size());
}

/// An interface of a pcapng file.
struct Interface {
    uint32_t linkType;
    uint8_t resolution = 6;  // time stamps count 10^-resolution s
};

/// A pcap file (microsecond stamps).
inline std::string PcapFile(uint32_t linkType, const std::vector<Record>& records) {
    Bytes out;
    Put32(out, 0xA1B2C3D4);
    Put16(out, 2);
    Put16(out, 4);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 65535);
    Put32(out, linkType);
    for (const Record& r : records) {
        Put32(out, static_cast<uint32_t>(r.stamp / 1000000));
        Put32(out, static_cast<uint32_t>(r.stamp % 1000000));
        Put32(out, static_cast<uint32_t>(r.frame.size()));
        Put32(out, OriginalSize(r));
        out.insert(out.end(), r.frame.begin(), r.frame.end());
    }
    return std::string(out.begin(), out.end());
}

/// A pcapng file of the interfaces, as a capture on several at once is.
inline std::string PcapngFile(const std::vector<Interface>& interfaces,
                              const std::vector<Record>& records) {
    Bytes out;
    const auto block = [&](uint32_t type, const Bytes& body) {
        const uint32_t length = static_cast<uint32_t>(12 + body.size());
        Put32(out, type);
        Put32(out, length);
        out.insert(out.end(), body.begin(), body.end());
        Put32(out, length);
    };
    Bytes section;
    Put32(section, 0x1A2B3C4D);
    Put16(section, 1);
    Put16(section, 0);
    Put32(section, 0xFFFFFFFF);  // section length unknown
    Put32(section, 0xFFFFFFFF);
    block(0x0A0D0D0A, section);
    for (const Interface& i : interfaces) {
        Bytes interface;
        Put16(interface, static_cast<uint16_t>(i.linkType));
        Put16(interface, 0);
        Put32(interface, 65535);
        Put16(interface, 9);  // if_tsresol
        Put16(interface, 1);
        interface.insert(interface.end(), {i.resolution, 0, 0, 0});
        Put32(interface, 0);  // end of options
        block(1, interface);
    }
    for (const Record& r : records) {
        Bytes packet;
        Put32(packet, r.interface);
        Put32(packet, static_cast<uint32_t>(r.stamp >> 32));
        Put32(packet, static_cast<uint32_t>(r.stamp));
        Put32(packet, static_cast<uint32_t>(r.frame.size()));
        Put32(packet, OriginalSize(r));
        packet.insert(packet.end(), r.frame.begin(), r.frame.end());
        packet.resize((packet.size() + 3) / 4 * 4, 0);
        block(6, packet);
    }
    return std::string(out.begin(), out.end());
}

/// A pcapng file of one interface whose time stamps count 10^-`resolution` s.
inline std::string PcapngFile(uint32_t linkType, uint8_t resolution,
                              const std::vector<Record>& records) {
    return PcapngFile({{linkType, resolution}}, records);
}

}  // namespace Varkon::QUILApi::Testing::Captures
