#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace Varkon::QUILApi::Sim {

/// When the sensor acquires profiles, by trigger mode: continuously every trigger time
/// (mode 0), on software triggers (mode 1) or external triggers (mode 3), both simulated by
/// TriggerFire and spaced at least a trigger time apart, or every few encoder steps of the moving
/// belt (mode 2). Times are sensor times in microseconds. Not thread-safe.
class Acquisition {
public:
    struct Stamp {
        uint64_t index;   // consecutive from 0
        uint64_t timeUs;  // when the acquisition took place
    };
    struct Trigger {
        uint32_t mode = 0;
        uint32_t triggerTime = 10000;  // us
        uint32_t encoderSteps = 20;
    };

    static constexpr uint32_t kMaxPendingTriggers = 1000000;

    /// Takes effect from the next acquisition on.
    void Configure(const Trigger& trigger, uint64_t nowUs);
    /// Asks for `count` more acquisitions; ignored in the free-running modes.
    /// @returns false when that would queue more than kMaxPendingTriggers.
    bool Fire(uint32_t count, uint64_t nowUs);

    /// The acquisitions due by `nowUs`, oldest first. When far behind, the oldest are skipped.
    std::vector<Stamp> Due(uint64_t nowUs);
    /// When the next acquisition is due; empty when none is expected.
    std::optional<uint64_t> NextDue() const;
    std::optional<Stamp> Latest() const { return latest; }
    /// Acquisitions per second at the current settings.
    double Rate() const { return 1e6 / static_cast<double>(Period()); }

private:
    bool FreeRunning() const { return trigger.mode == 0 || trigger.mode == 2; }
    uint64_t Period() const;

    Trigger trigger;
    uint64_t next = 0;
    uint64_t nextIndex = 0;
    uint64_t pending = 0;
    std::optional<Stamp> latest;
};

}  // namespace Varkon::QUILApi::Sim
