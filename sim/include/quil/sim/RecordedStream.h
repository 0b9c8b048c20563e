#pragma once

#include "Packets.h"

#include <cstdint>

namespace Varkon::QUILApi::Sim {

/// A recorded stream that the virtual sensor sends instead of its own: the recording's datagrams
/// in order, each with the time it was recorded at.
class RecordedStream {
public:
    /// One recorded datagram.
    struct Datagram {
        int64_t timeUs = 0;  ///< when it was recorded, microseconds
        Bytes bytes;         ///< its bytes
    };

    virtual ~RecordedStream() = default;
    /// The next datagram; false at the end, and after a failure that ends the recording.
    virtual bool Next(Datagram& datagram) = 0;
    /// Starts again from the first datagram.
    virtual void Rewind() = 0;
};

}  // namespace Varkon::QUILApi::Sim
