#include "Acquisition.h"

#include "Description.h"

#include <algorithm>

namespace Varkon::QUILApi::Sim {

namespace {

// Catching up further than this skips acquisitions instead of producing a burst.
constexpr uint64_t kMaxLagUs = 1000000;

}  // namespace

uint64_t Acquisition::Period() const {
    if (trigger.mode == 2) {
        const double countsPerUs = Geometry::beltSpeed * Geometry::countsPerMm / 1e6;
        return std::max<uint64_t>(1, static_cast<uint64_t>(trigger.encoderSteps / countsPerUs));
    }
    return std::max<uint32_t>(1, trigger.triggerTime);
}

void Acquisition::Configure(const Trigger& given, uint64_t nowUs) {
    const bool changed = given.mode != trigger.mode || given.triggerTime != trigger.triggerTime ||
                         given.encoderSteps != trigger.encoderSteps;
    trigger = given;
    if (changed) {
        next = std::max(next, nowUs);
        if (FreeRunning()) {
            pending = 0;
        }
    }
}

bool Acquisition::Fire(uint32_t count, uint64_t nowUs) {
    if (pending + count > kMaxPendingTriggers) {
        return false;
    }
    if (!FreeRunning()) {
        if (pending == 0) {
            next = std::max(next, nowUs);
        }
        pending += count;
    }
    return true;
}

std::vector<Acquisition::Stamp> Acquisition::Due(uint64_t nowUs) {
    std::vector<Stamp> due;
    const uint64_t period = Period();
    if (FreeRunning() && nowUs > next + kMaxLagUs) {
        const uint64_t skipped = (nowUs - next - kMaxLagUs) / period + 1;
        next += skipped * period;
    }
    while (next <= nowUs && (FreeRunning() || pending > 0)) {
        due.push_back({nextIndex++, next});
        next += period;
        if (!FreeRunning()) {
            --pending;
        }
    }
    if (!due.empty()) {
        latest = due.back();
    }
    return due;
}

std::optional<uint64_t> Acquisition::NextDue() const {
    if (FreeRunning() || pending > 0) {
        return next;
    }
    return std::nullopt;
}

}  // namespace Varkon::QUILApi::Sim
