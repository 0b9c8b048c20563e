// Builders of the sensor's stream packets, and a loopback sender, for tests and benchmarks.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

namespace Varkon::QUILApi::Testing {

using Bytes = std::vector<uint8_t>;

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

// One datagram: the 8-byte packet header, then the payload.
inline Bytes Packet(uint32_t blockId, uint8_t kind, uint16_t frameNumber, const Bytes& payload) {
    Bytes packet(8 + payload.size());
    PutLittleEndian(packet, 0, blockId);
    packet[4] = kind;
    PutLittleEndian(packet, 6, frameNumber);
    std::copy(payload.begin(), payload.end(), packet.begin() + 8);
    return packet;
}

inline Bytes WholeBlock(uint32_t blockId, const Bytes& payload) {
    return Packet(blockId, 0, 0, payload);
}

// The packets of one block split into frames of at most `frameSize` payload bytes: a first
// fragment (kind 1, frame count) followed by continuations (kind 2, frame index).
inline std::vector<Bytes> Fragments(uint32_t blockId, const Bytes& payload,
                                    std::size_t frameSize = 2040) {
    const std::size_t count = (payload.size() + frameSize - 1) / frameSize;
    std::vector<Bytes> packets;
    for (std::size_t i = 0; i < count; ++i) {
        const auto begin = payload.begin() + i * frameSize;
        const Bytes part(begin, begin + std::min(frameSize, payload.size() - i * frameSize));
        packets.push_back(
            Packet(blockId, i == 0 ? 1 : 2, static_cast<uint16_t>(i == 0 ? count : i), part));
    }
    return packets;
}

struct MeasurementFields {
    uint8_t flagBytes[6]{};  // payload bytes 1, 2, 3, 4, 6, 7
    uint8_t qualityId{};
    float values[7]{};
    float measrate{};
    uint32_t seconds{};
    uint32_t microseconds{};
    uint16_t encoder{};
};

inline Bytes MeasurementPayload(const MeasurementFields& f) {
    Bytes p(50);
    const std::size_t flagOffsets[] = {1, 2, 3, 4, 6, 7};
    for (std::size_t i = 0; i < 6; ++i) {
        p[flagOffsets[i]] = f.flagBytes[i];
    }
    p[5] = f.qualityId;
    for (std::size_t i = 0; i < 7; ++i) {
        PutFloat32(p, 8 + 4 * i, f.values[i]);
    }
    PutFloat32(p, 36, f.measrate);
    PutLittleEndian(p, 40, f.seconds);
    PutLittleEndian(p, 44, f.microseconds);
    PutLittleEndian(p, 48, f.encoder);
    return p;
}

struct ProfileFields {
    uint8_t dataId{3};
    uint8_t flagBytes[4]{};
    uint8_t qualityId{};
    uint32_t field6{};
    uint32_t seconds{};
    uint32_t microseconds{};
    uint16_t field18{};
    uint32_t pointCount{};
};

// Profile payload: the 24-byte header, then `words` (the points' channel values in order).
inline Bytes ProfilePayload(const ProfileFields& f, const std::vector<uint16_t>& words) {
    Bytes p(24 + 2 * words.size());
    p[0] = f.dataId;
    for (std::size_t i = 0; i < 4; ++i) {
        p[1 + i] = f.flagBytes[i];
    }
    p[5] = f.qualityId;
    PutLittleEndian(p, 6, f.field6);
    PutLittleEndian(p, 10, f.seconds);
    PutLittleEndian(p, 14, f.microseconds);
    PutLittleEndian(p, 18, f.field18);
    PutLittleEndian(p, 20, f.pointCount);
    for (std::size_t i = 0; i < words.size(); ++i) {
        PutLittleEndian(p, 24 + 2 * i, words[i]);
    }
    return p;
}

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

// Sends datagrams from an ephemeral port to 127.0.0.1:port.
class LoopbackSender {
public:
    explicit LoopbackSender(uint16_t port)
        : socket(context, boost::asio::ip::udp::endpoint(boost::asio::ip::udp::v4(), 0)),
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
