#pragma once

#include <cstdint>
#include <vector>

#include "quil/Quil.h"

namespace Varkon::QUILApi::UdpStreaming::Protocol {

// Decodes a measurement block (data id 0).
// Throws std::invalid_argument "Expected 50 bytes, got <n>" unless the block has 50 bytes.
StreamMeasurement DecodeMeasurement(const uint32_t& blockId, const std::vector<uint8_t>& payload);

// Decodes a profile block (data ids 1 to 3). The channels get pointCount values; points that the
// block does not hold read 0, bytes after pointCount points are ignored.
// Throws std::out_of_range for a block that ends inside its header or inside a point, and
// std::length_error for a point count that no block could hold, or that more than the frames the
// payload needs (ceil(size / 2040), at least one) could not carry at full datagram size.
StreamProfile DecodeProfile(const uint32_t& blockId, const std::vector<uint8_t>& payload);
// The same into `profile`, whose every member is set and whose channels keep their room: a
// receiver decodes one profile after the other into the same channels without allocating.
void DecodeProfileInto(const uint32_t& blockId, const std::vector<uint8_t>& payload,
                       StreamProfile& profile);

}  // namespace Varkon::QUILApi::UdpStreaming::Protocol
