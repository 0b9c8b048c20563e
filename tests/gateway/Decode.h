// What the gateway publishes, read back by the tests: Sparkplug payloads and the profiles lane.
#pragma once

#include "Compression.h"
#include "sparkplug_b.pb.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace Varkon::QuilGateway::Testing {

using org::eclipse::tahu::protobuf::Payload;

inline Payload Decode(const std::string& bytes) {
    Payload payload;
    EXPECT_TRUE(payload.ParseFromString(bytes));
    return payload;
}

/// The metric called `name`, or null.
inline const Payload::Metric* Find(const Payload& payload, const std::string& name) {
    for (const auto& metric : payload.metrics()) {
        if (metric.name() == name) {
            return &metric;
        }
    }
    return nullptr;
}

/// A message of the profiles lane: its millimetres and its profiles' raw words.
struct DecodedBatch {
    std::string sensor;
    std::array<double, 3> scale{};
    std::array<double, 3> offset{};
    struct Profile {
        uint32_t blockId = 0;
        std::vector<uint16_t> channel0;
        std::vector<uint16_t> channel1;  // empty when absent
    };
    std::vector<Profile> profiles;
};

/// Reads a message laid out as gateway/README.md describes it.
inline DecodedBatch DecodeBatch(const std::string& message) {
    std::size_t at = 0;
    const auto take = [&](auto& value) {
        std::memcpy(&value, message.data() + at, sizeof value);  // little-endian hosts only
        at += sizeof value;
    };
    DecodedBatch batch;
    uint8_t flags = 0;
    uint16_t nameLength = 0;
    uint32_t count = 0;
    uint32_t decimation = 0;
    at = 5;
    take(flags);
    take(nameLength);
    batch.sensor = message.substr(at, nameLength);
    at += nameLength;
    take(count);
    take(decimation);
    for (int channel = 0; channel < 3; ++channel) {
        take(batch.scale[channel]);
        take(batch.offset[channel]);
    }
    const std::string body = flags & 1 ? ZstdDecompress(message.substr(at)) : message.substr(at);
    std::size_t p = 0;
    const auto read = [&](auto& value) {
        std::memcpy(&value, body.data() + p, sizeof value);
        p += sizeof value;
    };
    for (uint32_t i = 0; i < count; ++i) {
        DecodedBatch::Profile profile;
        uint8_t profileFlags = 0;
        uint32_t points = 0;
        read(profile.blockId);
        p += 8 + 8 + 4 + 2 + 1;
        read(profileFlags);
        read(points);
        const auto channel = [&](std::vector<uint16_t>& words) {
            words.resize(points);
            for (uint16_t& word : words) {
                read(word);
            }
        };
        channel(profile.channel0);
        if (profileFlags & 0x40) {
            channel(profile.channel1);
        }
        if (profileFlags & 0x80) {
            p += 2u * points;
        }
        batch.profiles.push_back(std::move(profile));
    }
    EXPECT_EQ(p, body.size());
    return batch;
}

}  // namespace Varkon::QuilGateway::Testing
