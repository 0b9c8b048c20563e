// How far a sensor's clock is from this host's: the smallest (arrival - sensor time) over the
// latest profiles, the one least delayed on its way, with the spread of the window as a measure
// of how much the delay varies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

namespace Varkon::QuilGateway {

class ClockOffset {
public:
    explicit ClockOffset(std::size_t window = 1000) : window(window) {}

    void Add(uint64_t arrivalUs, uint64_t sensorUs);
    /// Minimum of (arrival - sensor time) over the window, in microseconds; none before a sample.
    std::optional<int64_t> Offset() const;
    /// Maximum minus minimum over the window, in microseconds.
    std::optional<int64_t> Spread() const;

private:
    struct Sample {
        uint64_t index;
        int64_t offset;
    };
    std::size_t window;
    uint64_t added = 0;
    std::deque<Sample> minima;  // increasing offsets: the front is the window's minimum
    std::deque<Sample> maxima;  // decreasing offsets: the front is the window's maximum
};

}  // namespace Varkon::QuilGateway
