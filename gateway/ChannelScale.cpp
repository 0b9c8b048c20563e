#include "ChannelScale.h"

namespace Varkon::QuilGateway {

std::array<ChannelScale, 3> ChannelScales(const Varkon::QUILApi::ProfileCoordinates& coordinates) {
    // StreamZ gives NaN for the word of no point, so the offset is taken one word above it.
    const uint16_t pointWord = Varkon::QUILApi::StreamWordEncoding{}.noPointWord + 1;
    const double zStep = coordinates.StreamZStep();
    return {ChannelScale{zStep, coordinates.StreamZ(pointWord) - pointWord * zStep},
            ChannelScale{coordinates.StreamXStep(), coordinates.StreamX(0)}, ChannelScale{}};
}

}  // namespace Varkon::QuilGateway
