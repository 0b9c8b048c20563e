#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace Varkon::QUILApi::UdpStreaming::Recording {

// The link-layer framing of the captures a replay reads, and the network packet inside it.
enum class LinkType {
    Ethernet,      // Ethernet II, with up to two VLAN tags (tcpdump on an interface, also "lo")
    LinuxCooked,   // Linux cooked capture v1 (tcpdump -i any, older versions)
    LinuxCooked2,  // Linux cooked capture v2 (tcpdump -i any)
    RawIp,         // the IP packet itself (this project's recordings)
};

// The link type for a capture's link type number (LINKTYPE_...); nullopt for one not supported.
std::optional<LinkType> LinkTypeOf(uint32_t linkType);

struct NetworkPacket {
    enum Kind {
        Ipv4,       // `bytes` holds the IPv4 packet
        Other,      // another protocol (ARP, IPv6, ...)
        Malformed,  // the link header is cut short
    };
    Kind kind = Malformed;
    const uint8_t* bytes = nullptr;
    std::size_t size = 0;
};

NetworkPacket NetworkPacketIn(LinkType type, const uint8_t* frame, std::size_t size);

}  // namespace Varkon::QUILApi::UdpStreaming::Recording
