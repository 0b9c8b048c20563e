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

// The block of data id 0.
struct MeasurementFormat {
    static constexpr std::size_t kSize = 50;
    static constexpr std::size_t kFlags[] = {1, 2, 3, 4, 6, 7};  // uint8 each
    static constexpr std::size_t kQualityId = 5;                 // uint8
    static constexpr std::size_t kValues = 8;                    // 7 float32
    static constexpr std::size_t kMeasrate = 36;                 // float32
    static constexpr std::size_t kTimestamp = 40;                // uint32 s, then uint32 us
    static constexpr std::size_t kEncoder = 48;                  // uint16
};

// The header of a block of data ids 1 to 3; the points follow it.
struct ProfileFormat {
    static constexpr std::size_t kSize = 24;
    static constexpr std::size_t kDataId = 0;       // uint8, see DataId
    static constexpr std::size_t kFlags = 1;        // 4 uint8
    static constexpr std::size_t kQualityId = 5;    // uint8
    static constexpr std::size_t kField6 = 6;       // uint32
    static constexpr std::size_t kTimestamp = 10;   // uint32 s, then uint32 us
    static constexpr std::size_t kField18 = 18;     // uint16
    static constexpr std::size_t kPointCount = 20;  // uint32
};

// Byte 0 of every block.
enum DataId : uint8_t {
    kMeasurementData = 0,
    kProfileChannels01 = 1,
    kProfileChannels02 = 2,
    kProfileChannels012 = 3,
};

}  // namespace Varkon::QUILApi::UdpStreaming::Protocol
