// The host's clock as the gateway stamps its messages and profiles.
#pragma once

#include <cstdint>

namespace Varkon::QuilGateway {

/// Milliseconds since 1970: Sparkplug payload timestamps.
uint64_t NowMs();

/// When a profile arrived on this host, in microseconds since 1970: the system's receive stamp
/// of its last datagram, as the stream gives it; the host's time now where there is none.
uint64_t ArrivalUs(int64_t receiveStamp);

}  // namespace Varkon::QuilGateway
