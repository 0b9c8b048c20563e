#include "ChannelScale.h"

namespace Varkon::QuilGateway {

std::array<ChannelScale, 3> ChannelScales() {
    return {};
}

}  // namespace Varkon::QuilGateway
