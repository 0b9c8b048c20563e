#include "udpstreaming/recording/LinkLayer.h"

namespace Varkon::QUILApi::UdpStreaming::Recording {

namespace {

constexpr uint32_t kLinkTypeEthernet = 1;
constexpr uint32_t kLinkTypeRaw = 101;
constexpr uint32_t kLinkTypeRawAsLinux = 12;  // some writers put libpcap's own number for raw IP
constexpr uint32_t kLinkTypeRawAsOpenBsd = 14;
constexpr uint32_t kLinkTypeLinuxCooked = 113;
constexpr uint32_t kLinkTypeIpv4 = 228;
constexpr uint32_t kLinkTypeLinuxCooked2 = 276;
constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint16_t kEtherTypeVlan = 0x8100;
constexpr uint16_t kEtherTypeQinQ = 0x88A8;
constexpr std::size_t kEthernetHeader = 14;
constexpr std::size_t kVlanTag = 4;
constexpr std::size_t kCookedHeader = 16;   // protocol at 14
constexpr std::size_t kCooked2Header = 20;  // protocol at 0

uint16_t ReadBigEndian16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

NetworkPacket Inside(uint16_t protocol, const uint8_t* frame, std::size_t size,
                     std::size_t header) {
    if (protocol != kEtherTypeIpv4) {
        return {NetworkPacket::Other, nullptr, 0};
    }
    return {NetworkPacket::Ipv4, frame + header, size - header};
}

}  // namespace

std::optional<LinkType> LinkTypeOf(uint32_t linkType) {
    switch (linkType) {
        case kLinkTypeEthernet:
            return LinkType::Ethernet;
        case kLinkTypeLinuxCooked:
            return LinkType::LinuxCooked;
        case kLinkTypeLinuxCooked2:
            return LinkType::LinuxCooked2;
        case kLinkTypeRaw:
        case kLinkTypeRawAsLinux:
        case kLinkTypeRawAsOpenBsd:
        case kLinkTypeIpv4:
            return LinkType::RawIp;
        default:
            return std::nullopt;
    }
}

NetworkPacket NetworkPacketIn(LinkType type, const uint8_t* frame, std::size_t size) {
    switch (type) {
        case LinkType::Ethernet: {
            std::size_t header = kEthernetHeader;
            if (size < header) {
                return {};
            }
            uint16_t protocol = ReadBigEndian16(frame + 12);
            for (int tags = 0;
                 tags < 2 && (protocol == kEtherTypeVlan || protocol == kEtherTypeQinQ); ++tags) {
                header += kVlanTag;
                if (size < header) {
                    return {};
                }
                protocol = ReadBigEndian16(frame + header - 2);
            }
            return Inside(protocol, frame, size, header);
        }
        case LinkType::LinuxCooked:
            if (size < kCookedHeader) {
                return {};
            }
            return Inside(ReadBigEndian16(frame + 14), frame, size, kCookedHeader);
        case LinkType::LinuxCooked2:
            if (size < kCooked2Header) {
                return {};
            }
            return Inside(ReadBigEndian16(frame), frame, size, kCooked2Header);
        case LinkType::RawIp:
            if (size < 1) {
                return {};
            }
            return (frame[0] >> 4) == 4 ? NetworkPacket{NetworkPacket::Ipv4, frame, size}
                                        : NetworkPacket{NetworkPacket::Other, nullptr, 0};
    }
    return {};
}

}  // namespace Varkon::QUILApi::UdpStreaming::Recording
