// When a message's values were taken: the time its payload carries, and its place among all the
// values the gateway took, which tells exactly whether it is older than a birth, also within one
// millisecond.
#pragma once

#include <cstdint>

namespace Varkon::QuilGateway {

struct Taken {
    uint64_t ms = 0;     // since 1970
    uint64_t order = 0;  // greater for each later Now()

    static Taken Now();
};

}  // namespace Varkon::QuilGateway
