// How a profile's raw channel words become millimetres: mm = raw * scale + offset.
//
// The library passes channel values on as the sensor sends them and offers no conversion to
// millimetres yet, so every channel is published with scale 1 and offset 0 (raw words). This
// function is the one place to change once the library offers one.
#pragma once

#include <array>

namespace Varkon::QuilGateway {

struct ChannelScale {
    double scale = 1.0;
    double offset = 0.0;
};

/// Channels 0 (height), 1 (lateral position) and 2 (brightness).
std::array<ChannelScale, 3> ChannelScales();

}  // namespace Varkon::QuilGateway
