// The sensor's UDP stream as it goes out: the packet layout and its encoder, used by the virtual
// sensor and by the tests and benchmarks that build datagrams by hand. The library's decoder
// reads the same layout from constants of its own, so that a test of one against the other
// catches an offset written wrong on either side. All multi-byte fields are little-endian.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace Varkon::QUILApi::Sim {

using Bytes = std::vector<uint8_t>;

/// The header in front of every datagram's payload.
struct PacketLayout {
    static constexpr std::size_t kBlockId = 0;  ///< uint32
    static constexpr std::size_t kKind = 4;     ///< uint8: 0 whole block, 1 first, 2 further
    /// uint16: frame count (kind 1), index (kind 2)
    static constexpr std::size_t kFrameNumber = 6;
    static constexpr std::size_t kSize = 8;  ///< bytes of the header
    /// Most payload bytes of one datagram (the receiver reads at most 2048 bytes).
    static constexpr std::size_t kMaxPayload = 2048 - kSize;
    static constexpr uint8_t kWholeBlock = 0;     ///< kind: the datagram carries a whole block
    static constexpr uint8_t kFirstFragment = 1;  ///< kind: the first fragment of a block
    static constexpr uint8_t kFragment = 2;       ///< kind: a further fragment
};

/// The block of data id 0.
struct MeasurementLayout {
    static constexpr std::size_t kFlags[] = {1, 2, 3, 4, 6, 7};  ///< uint8 each
    static constexpr std::size_t kQualityId = 5;                 ///< uint8
    static constexpr std::size_t kValues = 8;                    ///< 7 float32
    static constexpr std::size_t kMeasrate = 36;                 ///< float32
    static constexpr std::size_t kSeconds = 40;                  ///< uint32
    static constexpr std::size_t kMicroseconds = 44;             ///< uint32
    static constexpr std::size_t kEncoder = 48;                  ///< uint16
    static constexpr std::size_t kSize = 50;                     ///< bytes of the block
};

/// The block of data ids 1 to 3: this header, then the points, each its channels' uint16 values.
struct ProfileLayout {
    static constexpr std::size_t kDataId = 0;         ///< uint8
    static constexpr std::size_t kFlags = 1;          ///< 4 uint8
    static constexpr std::size_t kQualityId = 5;      ///< uint8
    static constexpr std::size_t kField6 = 6;         ///< uint32
    static constexpr std::size_t kSeconds = 10;       ///< uint32
    static constexpr std::size_t kMicroseconds = 14;  ///< uint32
    static constexpr std::size_t kField18 = 18;       ///< uint16
    static constexpr std::size_t kPointCount = 20;    ///< uint32
    static constexpr std::size_t kSize = 24;          ///< bytes of the header
};

template <class T>
void PutLittleEndian(Bytes& bytes, std::size_t offset, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bytes[offset + i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
    }
}

inline void PutFloat32(Bytes& bytes, std::size_t offset, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    PutLittleEndian(bytes, offset, bits);
}

/// One datagram: the packet header, then the payload.
inline Bytes Packet(uint32_t blockId, uint8_t kind, uint16_t frameNumber, const uint8_t* payload,
                    std::size_t size) {
    Bytes packet(PacketLayout::kSize + size);
    PutLittleEndian(packet, PacketLayout::kBlockId, blockId);
    packet[PacketLayout::kKind] = kind;
    PutLittleEndian(packet, PacketLayout::kFrameNumber, frameNumber);
    std::copy(payload, payload + size, packet.begin() + PacketLayout::kSize);
    return packet;
}

inline Bytes Packet(uint32_t blockId, uint8_t kind, uint16_t frameNumber, const Bytes& payload) {
    return Packet(blockId, kind, frameNumber, payload.data(), payload.size());
}

inline Bytes WholeBlock(uint32_t blockId, const Bytes& payload) {
    return Packet(blockId, PacketLayout::kWholeBlock, 0, payload);
}

/// The packets of one block split into frames of at most `frameSize` payload bytes: a first
/// fragment (frame count) followed by further fragments (frame index).
inline std::vector<Bytes> Fragments(uint32_t blockId, const Bytes& payload,
                                    std::size_t frameSize = PacketLayout::kMaxPayload) {
    const std::size_t count = (payload.size() + frameSize - 1) / frameSize;
    std::vector<Bytes> packets;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t begin = i * frameSize;
        packets.push_back(Packet(blockId,
                                 i == 0 ? PacketLayout::kFirstFragment : PacketLayout::kFragment,
                                 static_cast<uint16_t>(i == 0 ? count : i), payload.data() + begin,
                                 std::min(frameSize, payload.size() - begin)));
    }
    return packets;
}

/// The datagrams that carry one block: a whole block when the payload fits one, else fragments.
inline std::vector<Bytes> Datagrams(uint32_t blockId, const Bytes& payload) {
    if (payload.size() <= PacketLayout::kMaxPayload) {
        return {WholeBlock(blockId, payload)};
    }
    return Fragments(blockId, payload);
}

/// The fields of a measurement block (data id 0), as they are sent.
struct MeasurementFields {
    uint8_t flagBytes[6]{};   ///< at MeasurementLayout::kFlags
    uint8_t qualityId{};      ///< quality id
    float values[7]{};        ///< measurement values 0 to 6
    float measrate{};         ///< measuring rate
    uint32_t seconds{};       ///< time stamp, whole seconds
    uint32_t microseconds{};  ///< time stamp, microseconds within the second
    uint16_t encoder{};       ///< encoder value
};

inline Bytes MeasurementPayload(const MeasurementFields& f) {
    using L = MeasurementLayout;
    Bytes p(L::kSize);
    for (std::size_t i = 0; i < 6; ++i) {
        p[L::kFlags[i]] = f.flagBytes[i];
    }
    p[L::kQualityId] = f.qualityId;
    for (std::size_t i = 0; i < 7; ++i) {
        PutFloat32(p, L::kValues + 4 * i, f.values[i]);
    }
    PutFloat32(p, L::kMeasrate, f.measrate);
    PutLittleEndian(p, L::kSeconds, f.seconds);
    PutLittleEndian(p, L::kMicroseconds, f.microseconds);
    PutLittleEndian(p, L::kEncoder, f.encoder);
    return p;
}

/// The header fields of a profile block (data ids 1 to 3), as they are sent.
struct ProfileFields {
    uint8_t dataId{3};        ///< 1: channels 0 and 1, 2: channels 0 and 2, 3: all three
    uint8_t flagBytes[4]{};   ///< flags 1 to 4
    uint8_t qualityId{};      ///< quality id
    uint32_t field6{};        ///< the value at offset 6
    uint32_t seconds{};       ///< time stamp, whole seconds
    uint32_t microseconds{};  ///< time stamp, microseconds within the second
    uint16_t field18{};       ///< the value at offset 18
    uint32_t pointCount{};    ///< number of points
};

/// Profile payload: the header, then `words` (the points' channel values in order).
inline Bytes ProfilePayload(const ProfileFields& f, const std::vector<uint16_t>& words) {
    using L = ProfileLayout;
    Bytes p(L::kSize + 2 * words.size());
    p[L::kDataId] = f.dataId;
    for (std::size_t i = 0; i < 4; ++i) {
        p[L::kFlags + i] = f.flagBytes[i];
    }
    p[L::kQualityId] = f.qualityId;
    PutLittleEndian(p, L::kField6, f.field6);
    PutLittleEndian(p, L::kSeconds, f.seconds);
    PutLittleEndian(p, L::kMicroseconds, f.microseconds);
    PutLittleEndian(p, L::kField18, f.field18);
    PutLittleEndian(p, L::kPointCount, f.pointCount);
    for (std::size_t i = 0; i < words.size(); ++i) {
        PutLittleEndian(p, L::kSize + 2 * i, words[i]);
    }
    return p;
}

}  // namespace Varkon::QUILApi::Sim
