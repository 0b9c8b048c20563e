// How a profile's raw channel words become millimetres: mm = raw * scale + offset, the
// conversion the library's ProfileCoordinates makes from the sensor's own descriptions.
#pragma once

#include <quil/ProfileCoordinates.h>

#include <array>

namespace Varkon::QuilGateway {

struct ChannelScale {
    double scale = 1.0;
    double offset = 0.0;
};

/// Channels 0 (height), 1 (lateral position) and 2 (brightness, a grey value: scale 1, offset
/// 0). A channel 0 word of StreamWordEncoding::noPointWord is a point without a laser line.
std::array<ChannelScale, 3> ChannelScales(const Varkon::QUILApi::ProfileCoordinates& coordinates);

}  // namespace Varkon::QuilGateway
