#include "Packets.h"

#include "Measurements.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Varkon::QUILApi::Sim {

namespace {

template <class T>
void Put(Bytes& bytes, std::size_t offset, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bytes[offset + i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
    }
}

void PutFloat(Bytes& bytes, std::size_t offset, double value) {
    const float single = static_cast<float>(value);
    uint32_t bits;
    std::memcpy(&bits, &single, sizeof bits);
    Put(bytes, offset, bits);
}

uint16_t Word(int32_t value) {
    return static_cast<uint16_t>(std::clamp<int32_t>(value, 0, 65535));
}

}  // namespace

Bytes MeasurementPayload(const Frame& frame) {
    Bytes p(50);
    p[0] = 0;
    p[1] = 0;
    p[2] = frame.quality != 2;
    p[3] = frame.alarm;
    p[4] = frame.objectPresent;
    p[5] = static_cast<uint8_t>(frame.quality);
    p[6] = frame.objectPresent;
    p[7] = frame.alarm;
    for (std::size_t i = 0; i < 7; ++i) {
        PutFloat(p, 8 + 4 * i, i < frame.values.size() ? frame.values[i] : 0.0);
    }
    PutFloat(p, 36, frame.rate);
    Put(p, 40, static_cast<uint32_t>(frame.timeUs / 1000000));
    Put(p, 44, static_cast<uint32_t>(frame.timeUs % 1000000));
    Put(p, 48, static_cast<uint16_t>(frame.encoder));
    return p;
}

Bytes ProfilePayload(const Frame& frame, uint8_t dataId) {
    const bool withX = dataId == 1 || dataId == 3;
    const bool withBrightness = dataId == 2 || dataId == 3;
    const std::size_t count = frame.x.size();
    const std::size_t pointSize = 2 + (withX ? 2 : 0) + (withBrightness ? 2 : 0);
    Bytes p(24 + count * pointSize);
    p[0] = dataId;
    p[1] = frame.quality != 2;
    p[2] = frame.alarm;
    p[3] = frame.objectPresent;
    p[4] = 0;
    p[5] = static_cast<uint8_t>(frame.quality);
    Put(p, 6, static_cast<uint32_t>(frame.index));
    Put(p, 10, static_cast<uint32_t>(frame.timeUs / 1000000));
    Put(p, 14, static_cast<uint32_t>(frame.timeUs % 1000000));
    Put(p, 18, static_cast<uint16_t>(frame.encoder));
    Put(p, 20, static_cast<uint32_t>(count));
    std::size_t offset = 24;
    for (std::size_t i = 0; i < count; ++i) {
        Put(p, offset, frame.valid[i] ? Word(Hundredths(frame.z[i])) : uint16_t{0});
        offset += 2;
        if (withX) {
            Put(p, offset, Word(Hundredths(frame.x[i]) + 32768));
            offset += 2;
        }
        if (withBrightness) {
            Put(p, offset, static_cast<uint16_t>(frame.valid[i] ? frame.brightness[i] : 0));
            offset += 2;
        }
    }
    return p;
}

std::vector<Bytes> Datagrams(uint32_t blockId, const Bytes& payload) {
    const auto packet = [blockId](uint8_t kind, uint16_t frameNumber, const uint8_t* data,
                                  std::size_t size) {
        Bytes bytes(8 + size);
        Put(bytes, 0, blockId);
        bytes[4] = kind;
        Put(bytes, 6, frameNumber);
        std::copy(data, data + size, bytes.begin() + 8);
        return bytes;
    };
    if (payload.size() <= kMaxPacketPayload) {
        return {packet(0, 0, payload.data(), payload.size())};
    }
    const std::size_t frames = (payload.size() + kMaxPacketPayload - 1) / kMaxPacketPayload;
    std::vector<Bytes> datagrams;
    for (std::size_t i = 0; i < frames; ++i) {
        const std::size_t begin = i * kMaxPacketPayload;
        const std::size_t size = std::min(kMaxPacketPayload, payload.size() - begin);
        datagrams.push_back(packet(i == 0 ? 1 : 2, static_cast<uint16_t>(i == 0 ? frames : i),
                                   payload.data() + begin, size));
    }
    return datagrams;
}

}  // namespace Varkon::QUILApi::Sim
