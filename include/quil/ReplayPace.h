#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>

namespace Varkon::QUILApi::UdpStreaming::Recording {

// When each datagram of a capture is due at a recorded pace times `speed`: its distance in
// capture time from the first one, divided by the speed. Header-only, so that the tool's own
// replay paces as RecordingReplay does.
//
// The speed lies between kSlowest and kFastest, so that the distance divided by it stays far
// inside the clock's range. A single gap waits at most kLongestWait: a capture with a gap of
// hours replays the gap; one whose time stamps jump by years goes on a day later, keeping the
// spacing of the datagrams after the jump. The clock starts at the first datagram, and again at
// a datagram captured before the one it started at.
class ReplayPace {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr double kSlowest = 0.001;
    static constexpr double kFastest = 1000.0;
    static constexpr std::chrono::hours kLongestWait{24};

    static bool Allowed(double speed) { return speed >= kSlowest && speed <= kFastest; }
    // The speeds allowed, for error texts: "0.001 to 1000".
    static std::string RangeText() {
        std::ostringstream text;
        text << kSlowest << " to " << kFastest;
        return text.str();
    }

    // `speed`: Allowed.
    explicit ReplayPace(double speed)
        : speed(speed),
          longestGap(static_cast<uint64_t>(
              std::chrono::duration<double, std::nano>(kLongestWait).count() * speed)) {}

    Clock::time_point Due(int64_t captureNanoseconds, Clock::time_point now) {
        if (!started || captureNanoseconds < startCapture) {
            Restart(captureNanoseconds, now);
        }
        // Unsigned: the distance between any two time stamps fits, their signed difference not.
        const uint64_t gap =
            static_cast<uint64_t>(captureNanoseconds) - static_cast<uint64_t>(startCapture);
        if (gap > longestGap) {
            // The clock goes on from this datagram, due kLongestWait after the one before.
            startCapture = captureNanoseconds;
            startTime = now + kLongestWait;
            return startTime;
        }
        return startTime + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double, std::nano>(gap / speed));
    }
    // Starts the clock again: the datagram captured at `captureNanoseconds` is due `now`.
    void Restart(int64_t captureNanoseconds, Clock::time_point now) {
        started = true;
        startTime = now;
        startCapture = captureNanoseconds;
    }
    // The next datagram starts the clock.
    void Forget() { started = false; }

private:
    double speed;
    uint64_t longestGap;  // in capture time: kLongestWait at `speed`
    bool started = false;
    Clock::time_point startTime;
    int64_t startCapture = 0;
};

}  // namespace Varkon::QUILApi::UdpStreaming::Recording
