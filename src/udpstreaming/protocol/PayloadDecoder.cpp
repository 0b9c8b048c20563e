#include "udpstreaming/protocol/PayloadDecoder.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "udpstreaming/protocol/PacketFormat.h"

namespace Varkon::QUILApi::UdpStreaming::Protocol {

namespace {

uint64_t Microseconds(const uint8_t* seconds) {
    return static_cast<uint64_t>(ReadLittleEndian<uint32_t>(seconds)) * 1000000u +
           ReadLittleEndian<uint32_t>(seconds + 4);
}

// Copies the first `count` points, each its channels' uint16 values in order, into the
// channels. Written byte by byte with no branch inside, so that the compiler turns the loop into
// shuffles of whole vectors of points.
template <std::size_t Channels, bool SecondIsChannel2>
[[gnu::always_inline]] inline void GatherPoints(const uint8_t* __restrict points, std::size_t count,
                                                uint16_t* __restrict channel0,
                                                uint16_t* __restrict channel1,
                                                uint16_t* __restrict channel2) {
    uint16_t* __restrict second = SecondIsChannel2 ? channel2 : channel1;
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t* point = points + 2 * Channels * i;
        channel0[i] = static_cast<uint16_t>(point[0] | point[1] << 8);
        if constexpr (Channels >= 2) {
            second[i] = static_cast<uint16_t>(point[2] | point[3] << 8);
        }
        if constexpr (Channels == 3) {
            channel2[i] = static_cast<uint16_t>(point[4] | point[5] << 8);
        }
    }
}

// Byte shuffles (SSSE3) are what make the loop fast for two and three channels; where the
// processor lacks them, the plain version runs instead, chosen once when the library loads. The
// choice runs before a sanitizer's runtime is ready, so sanitized builds go without it.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
#define QUIL_SANITIZED
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define QUIL_SANITIZED
#endif
#if defined(__x86_64__) && defined(__ELF__) && defined(__has_attribute) && !defined(QUIL_SANITIZED)
#if __has_attribute(target_clones)
#define QUIL_SHUFFLING_CLONES __attribute__((target_clones("ssse3", "default")))
#endif
#endif
#ifndef QUIL_SHUFFLING_CLONES
#define QUIL_SHUFFLING_CLONES
#endif

QUIL_SHUFFLING_CLONES void GatherPointsOf(uint8_t dataId, const uint8_t* __restrict points,
                                          std::size_t count, uint16_t* __restrict channel0,
                                          uint16_t* __restrict channel1,
                                          uint16_t* __restrict channel2) {
    switch (dataId) {
        case kProfileChannels01:
            GatherPoints<2, false>(points, count, channel0, channel1, channel2);
            break;
        case kProfileChannels02:
            GatherPoints<2, true>(points, count, channel0, channel1, channel2);
            break;
        case kProfileChannels012:
            GatherPoints<3, false>(points, count, channel0, channel1, channel2);
            break;
        default:
            GatherPoints<1, false>(points, count, channel0, channel1, channel2);
            break;
    }
}

}  // namespace

StreamMeasurement DecodeMeasurement(const uint32_t& blockId, const std::vector<uint8_t>& payload) {
    using F = MeasurementFormat;
    if (payload.size() != F::kSize) {
        throw std::invalid_argument("Expected 50 bytes, got " + std::to_string(payload.size()));
    }
    const uint8_t* p = payload.data();
    StreamMeasurement measurement;
    measurement.blockId = blockId;
    measurement.qualityID = p[F::kQualityId];
    for (std::size_t i = 0; i < measurement.flags.size(); ++i) {
        measurement.flags[i] = p[F::kFlags[i]] != 0;
    }
    for (std::size_t i = 0; i < measurement.values.size(); ++i) {
        measurement.values[i] = ReadFloat32(p + F::kValues + 4 * i);
    }
    measurement.measrate = ReadFloat32(p + F::kMeasrate);
    measurement.timestamp = Microseconds(p + F::kTimestamp);
    measurement.EncoderValue = ReadLittleEndian<uint16_t>(p + F::kEncoder);
    return measurement;
}

StreamProfile DecodeProfile(const uint32_t& blockId, const std::vector<uint8_t>& payload) {
    StreamProfile profile;
    DecodeProfileInto(blockId, payload, profile);
    return profile;
}

void DecodeProfileInto(const uint32_t& blockId, const std::vector<uint8_t>& payload,
                       StreamProfile& profile) {
    using F = ProfileFormat;
    const std::size_t size = payload.size();
    if (size < F::kSize) {
        payload.at(F::kSize - 1);  // throws the standard library's out_of_range
    }
    const uint8_t* p = payload.data();
    profile.blockId = blockId;
    const uint8_t dataId = p[F::kDataId];
    profile.hasChannel1 = dataId == kProfileChannels01 || dataId == kProfileChannels012;
    profile.hasChannel2 = dataId == kProfileChannels02 || dataId == kProfileChannels012;
    for (std::size_t i = 0; i < profile.flags.size(); ++i) {
        profile.flags[i] = p[F::kFlags + i] != 0;
    }
    profile.qualityID = p[F::kQualityId];
    profile.field6 = ReadLittleEndian<uint32_t>(p + F::kField6);
    profile.timestamp = Microseconds(p + F::kTimestamp);
    profile.field18 = ReadLittleEndian<uint16_t>(p + F::kField18);
    profile.pointCount = ReadLittleEndian<uint32_t>(p + F::kPointCount);

    const std::size_t pointSize = 2 * (1 + profile.hasChannel1 + profile.hasChannel2);
    const std::size_t maxPoints = (kMaxBlockSize - F::kSize) / pointSize;
    if (profile.pointCount > maxPoints) {
        throw std::length_error("Point count " + std::to_string(profile.pointCount) +
                                " exceeds the " + std::to_string(maxPoints) +
                                " points that a block can hold.");
    }
    // The frames the block had are not known here, but the bytes that came are: each frame
    // carries at most kMaxFramePayload of them, so the block had at least that many frames and
    // a count that even those frames filled to the brim could not carry is refused before
    // anything is allocated. A modest shortfall, a last frame cut short, still reads as zeros.
    const std::size_t frames =
        std::max<std::size_t>(1, (size + kMaxFramePayload - 1) / kMaxFramePayload);
    const std::size_t carried = (frames * kMaxFramePayload - F::kSize) / pointSize;
    if (profile.pointCount > carried) {
        throw std::length_error("Point count " + std::to_string(profile.pointCount) +
                                " exceeds the " + std::to_string(carried) + " points that " +
                                std::to_string(frames) + (frames == 1 ? " frame" : " frames") +
                                " can carry.");
    }
    const std::size_t pointBytes = size - F::kSize;
    const std::size_t wholePoints = pointBytes / pointSize;
    if (wholePoints < profile.pointCount && pointBytes % pointSize != 0) {
        payload.at(size);  // a point is cut off: throws the standard library's out_of_range
    }

    const std::size_t count = std::min<std::size_t>(wholePoints, profile.pointCount);
    // Reused channels hold an earlier profile's values: the points not carried are zeroed.
    const auto fit = [&](std::vector<uint16_t>& channel, bool present) {
        channel.resize(present ? profile.pointCount : 0);
        std::fill(channel.begin() + static_cast<std::ptrdiff_t>(std::min(count, channel.size())),
                  channel.end(), uint16_t{0});
    };
    fit(profile.channel0, true);
    fit(profile.channel1, profile.hasChannel1);
    fit(profile.channel2, profile.hasChannel2);
    GatherPointsOf(dataId, p + F::kSize, count, profile.channel0.data(), profile.channel1.data(),
                   profile.channel2.data());
}

}  // namespace Varkon::QUILApi::UdpStreaming::Protocol
