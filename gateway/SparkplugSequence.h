// The sequence number of a Sparkplug edge node's messages: NBIRTH carries 0, every later message
// of the node and its devices the next number, wrapping from 255 to 0. NDEATH carries none.
#pragma once

#include <cstdint>

namespace Varkon::QuilGateway {

class SparkplugSequence {
public:
    /// The number of an NBIRTH: 0, after which the count goes on from 1.
    uint64_t Birth() {
        next = 1;
        return 0;
    }
    /// The number of the next message after the NBIRTH.
    uint64_t Next() {
        const uint64_t number = next;
        next = (next + 1) % 256;
        return number;
    }

private:
    uint64_t next = 0;
};

}  // namespace Varkon::QuilGateway
