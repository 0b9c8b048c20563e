#include "ClockOffset.h"

namespace Varkon::QuilGateway {

void ClockOffset::Add(uint64_t arrivalUs, uint64_t sensorUs) {
    const int64_t offset = static_cast<int64_t>(arrivalUs - sensorUs);
    const uint64_t index = added++;
    while (!minima.empty() && minima.back().offset >= offset) {
        minima.pop_back();
    }
    while (!maxima.empty() && maxima.back().offset <= offset) {
        maxima.pop_back();
    }
    minima.push_back({index, offset});
    maxima.push_back({index, offset});
    const uint64_t oldest = added > window ? added - window : 0;
    while (minima.front().index < oldest) {
        minima.pop_front();
    }
    while (maxima.front().index < oldest) {
        maxima.pop_front();
    }
}

std::optional<int64_t> ClockOffset::Offset() const {
    if (minima.empty()) {
        return std::nullopt;
    }
    return minima.front().offset;
}

std::optional<int64_t> ClockOffset::Spread() const {
    if (minima.empty()) {
        return std::nullopt;
    }
    return maxima.front().offset - minima.front().offset;
}

}  // namespace Varkon::QuilGateway
