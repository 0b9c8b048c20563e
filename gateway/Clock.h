// The host's clock as the gateway stamps its messages and profiles.
#pragma once

#include <cstdint>

namespace Varkon::QuilGateway {

/// Milliseconds since 1970: Sparkplug payload timestamps.
uint64_t NowMs();

/// When a profile arrived on this host, in microseconds since 1970. The library gives no
/// receive time per profile yet, so this is the host time when the profile is taken from the
/// stream's queue: later than the datagram's arrival by the time it waited there.
uint64_t ProfileArrivalUs();

}  // namespace Varkon::QuilGateway
