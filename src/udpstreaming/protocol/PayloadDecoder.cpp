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

// Copies the first `count` points, each its channels' uint16 values in order, into the channels
// that the data id has.
template <bool HasChannel1, bool HasChannel2>
void GatherPoints(const uint8_t* points, std::size_t count, StreamProfile& profile) {
    uint16_t* channel0 = profile.channel0.data();
    uint16_t* channel1 = profile.channel1.data();
    uint16_t* channel2 = profile.channel2.data();
    for (std::size_t i = 0; i < count; ++i) {
        channel0[i] = ReadLittleEndian<uint16_t>(points);
        points += 2;
        if constexpr (HasChannel1) {
            channel1[i] = ReadLittleEndian<uint16_t>(points);
            points += 2;
        }
        if constexpr (HasChannel2) {
            channel2[i] = ReadLittleEndian<uint16_t>(points);
            points += 2;
        }
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
    const uint8_t* points = p + F::kSize;
    if (profile.hasChannel1 && profile.hasChannel2) {
        GatherPoints<true, true>(points, count, profile);
    } else if (profile.hasChannel1) {
        GatherPoints<true, false>(points, count, profile);
    } else if (profile.hasChannel2) {
        GatherPoints<false, true>(points, count, profile);
    } else {
        GatherPoints<false, false>(points, count, profile);
    }
}

}  // namespace Varkon::QUILApi::UdpStreaming::Protocol
