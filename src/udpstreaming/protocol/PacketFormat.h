#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// Layout of the sensor's UDP stream. All multi-byte fields are little-endian.
namespace Varkon::QUILApi::UdpStreaming::Protocol {

// Unsigned little-endian integer of type T at p; compilers turn this into a single load.
template <class T>
T ReadLittleEndian(const uint8_t* p) {
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        value = static_cast<T>(value | static_cast<T>(static_cast<T>(p[i]) << (8 * i)));
    }
    return value;
}

inline float ReadFloat32(const uint8_t* p) {
    const uint32_t bits = ReadLittleEndian<uint32_t>(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Packet header: the first bytes of every datagram.
struct PacketHeader {
    static constexpr std::size_t kSize = 8;
    static constexpr std::size_t kBlockId = 0;      // uint32
    static constexpr std::size_t kKind = 4;         // uint8, see PacketKind
    static constexpr std::size_t kFrameNumber = 6;  // uint16: frame count, or frame index

    static uint32_t BlockId(const std::vector<uint8_t>& packet) {
        return ReadLittleEndian<uint32_t>(packet.data() + kBlockId);
    }
    static uint8_t Kind(const std::vector<uint8_t>& packet) { return packet[kKind]; }
    static uint16_t FrameNumber(const std::vector<uint8_t>& packet) {
        return ReadLittleEndian<uint16_t>(packet.data() + kFrameNumber);
    }
};

enum PacketKind : uint8_t {
    kWholeBlock = 0,     // the packet carries the whole block
    kFirstFragment = 1,  // frame number: how many frames the block has
    kFragment = 2,       // frame number: index of this frame, the first being 0
};

constexpr std::size_t kMaxDatagramSize = 2048;
constexpr std::size_t kMaxFramePayload = kMaxDatagramSize - PacketHeader::kSize;
constexpr std::size_t kMaxFrames = 65535;
constexpr std::size_t kMaxBlockSize = kMaxFrames * kMaxFramePayload;

// Byte 0 of every block.
enum DataId : uint8_t {
    kMeasurementData = 0,
    kProfileChannels01 = 1,
    kProfileChannels02 = 2,
    kProfileChannels012 = 3,
};

}  // namespace Varkon::QUILApi::UdpStreaming::Protocol
